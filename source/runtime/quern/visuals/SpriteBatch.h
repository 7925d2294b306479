#pragma once
// Textured, coloured, optionally rotated quads collected during a frame and
// written into a visual grouped by texture: one sub-mesh per texture, in the
// order the textures were first used, each drawing its texture on unit 0.

#include "quern/containers/Array.h"
#include "quern/graphics/BatchVertex.h"

#include <string_view>

namespace quern::graphics {
class Texture;
class TextureAtlas;
class VertexBuffer;
} // namespace quern::graphics

namespace quern::visuals {

class Visual;

struct SpriteDescription {
    f32 x, y; // the top-left corner, y growing upward
    f32 w, h;
    f32 ua, va, ub, vb;
    f32 r, g, b, a;
    f32 rotation; // radians
};

class SpriteBatch {
public:
    struct TextureEntry {
        graphics::Texture* texture;
        i32 quads;
    };

    // Room for at least 128 quads and 2 textures.
    void reserveStorage();
    void freeStorage();
    // Forgets the frame's quads, keeping the storage.
    void clear();

    // Four new vertices of the texture's group.
    graphics::BatchVertex* allocateQuad(graphics::Texture* texture);
    // The rotation turns the unit corner offsets before they are scaled by w
    // and h, so a turned sprite that is not square is sheared.
    void addQuad(const SpriteDescription& sprite, graphics::Texture* texture);
    // The named region of the atlas, white, unrotated. Returns false, adding
    // nothing, when the atlas has no such region.
    bool addSprite(f32 x, f32 y, f32 w, f32 h, const graphics::TextureAtlas& atlas, std::string_view region);

    // Sizes the visual's buffer and makes one sub-mesh per texture group.
    graphics::VertexBuffer* prepareVisual(Visual& visual);
    void writeVertices(Visual& visual);
    void writeVerticesWithOffset(Visual& visual, f32 x, f32 y, f32 z);

    u64 quadCount() const { return m_quads.count(); }
    const graphics::BatchVertex* quad(u64 index) const { return m_quads.at<Quad>(index).corners; }
    u64 textureCount() const { return m_textures.count(); }
    const TextureEntry& textureEntry(u64 index) const { return m_textures.at<TextureEntry>(index); }
    u16 quadTexture(u64 index) const { return m_quadTextures.at<u16>(index); }

private:
    struct Quad {
        graphics::BatchVertex corners[4];
    };
    void write(Visual& visual, const f32 offset[3]);

    containers::Array m_quads { sizeof(Quad), alignof(Quad) };
    containers::Array m_textures { sizeof(TextureEntry), alignof(TextureEntry) };
    containers::Array m_quadTextures { sizeof(u16), alignof(u16) };
};

} // namespace quern::visuals
