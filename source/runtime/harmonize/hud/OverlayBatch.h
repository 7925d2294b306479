#pragma once
// Everything drawn flat over the 3D image in a frame: textured rectangles and
// fades, full-screen material quads, sprites, text meshes in a bitmap font,
// text from the TrueType font atlas and input-prompt glyphs. Game systems add
// items from their updates; at the end of the frame the items go to the HUD
// pass, whose drawer renders them in insertion order over a virtual screen of
// 1920 x 1080 units (x to the right, y down from the top).
//
// The level world's and the menu world's updates may run at the same time on
// two workers: the adders and the text pool take the batch's lock, so items
// of either world land whole (their order between the two worlds is not
// fixed). endFrame and the drawer run on the main thread after both.

#include "harmonize/components/Components.h"
#include "harmonize/hud/OverlayStringPool.h"

#include "quern/Types.h"
#include "quern/debug/MutexImpl.h"
#include "quern/language/RefCounted.h"
#include "quern/visuals/SpriteBatch.h"

#include <vector>

namespace quern::graphics {
class Font;
class Material;
class SpriteMaterial;
class Texture;
} // namespace quern::graphics
namespace quern::visuals {
class MeshVisual;
class Visual;
} // namespace quern::visuals

namespace harmonize {

class HudRenderPass;
class InputPrompter;
class LevelList;
class LoadingWorker;

enum class OverlayItemKind : quern::u32 {
    Quad = 0, // a visual drawn with a transform
    MeshText = 1, // text laid out into a mesh in a bitmap font, then drawn as a quad
    AtlasText = 2, // text drawn through the font atlas
};

struct OverlayItem {
    OverlayItemKind kind = OverlayItemKind::Quad;
    quern::visuals::Visual* visual = nullptr;
    // The shared sprite material, set up per item from texture, colour and
    // blend factors; null when the item brings its own material.
    quern::graphics::Material* itemMaterial = nullptr;
    quern::graphics::Material* ownMaterial = nullptr;
    quern::graphics::Texture* texture = nullptr;
    const char* text = nullptr; // the pool's copy
    TextStyle textStyle {};
    quern::visuals::MeshVisual* textVisual = nullptr;
    f32 colour[4] = { 1, 1, 1, 1 };
    i32 sourceBlend = 1; // AlphaBlendState::BlendFactor values
    i32 destinationBlend = 0;
    f32 position[2] = { 0, 0 }; // a quad's centre; a text's origin
    f32 extent[2] = { 0, 0 }; // a quad's half size; an atlas text's size in the first
    i32 alignment = 0; // font atlas alignment flags of an atlas text; 65 for a mesh text
};

struct OverlayRect {
    f32 x0, y0, x1, y1;
};

class OverlayBatch {
public:
    static constexpr f32 kScreenWidth = 1920.0f;
    static constexpr f32 kScreenHeight = 1080.0f;

    OverlayBatch(LoadingWorker& loadingWorker, const LevelList& levelList, const InputPrompter& prompter);
    ~OverlayBatch();
    OverlayBatch(const OverlayBatch&) = delete;
    OverlayBatch& operator=(const OverlayBatch&) = delete;

    // Once the display is open: the sprite material, the quad and text
    // visuals, the white texture and the drawer's font atlas with the HUD
    // font (`hudFontId`, preloaded as a Font; 0 or missing: atlas texts are
    // skipped, with one error naming the font).
    void createResources(quern::u64 hudFontId);
    // Before the display closes: everything createResources made.
    void releaseResources();
    // Frees both item lists' storage (the pipeline's teardown).
    void clearLists();
    // The list built this frame goes to the drawer; the texts of the list
    // drawn the frame before go back to the pool. Once per frame, also when
    // nothing is rendered.
    void endFrame();

    // The handle of a preloaded texture, cached by asset id.
    quern::u32 acquireTexture(quern::u64 assetId);
    // The texture a handle of the texture cache stands for; null when the
    // cache holds no such handle or the resource behind it is no Texture.
    const quern::graphics::Texture* cachedTexture(quern::u32 handle);
    quern::u32 whiteTexture() const { return m_whiteTexture; }

    void addSprite(const OverlayRect& rect, quern::u32 textureHandle);
    // The colour is premultiplied by its alpha; drawn over what is behind.
    void addRectangle(const OverlayRect& rect, quern::u32 textureHandle, const f32 colour[4]);
    void addFullscreenQuad(quern::graphics::Material* material);
    // Entry `index & 0xFFFF` of `visuals` at `position`, half size `scale`;
    // nothing when that entry is null.
    void addVisualQuad(quern::u32 index, quern::visuals::Visual* const* visuals, const f32 position[2], f32 scale);
    void addAtlasText(const char* text, f32 x, f32 y, f32 size, i32 alignment);
    void addText(const char* text, f32 x, f32 y, const TextStyle& style);
    // The glyph of the input bound to `action` in the prompter's current
    // state, else the binding's name in capitals as atlas text.
    void addInputPrompt(i32 action, f32 x, f32 y);

    HudRenderPass* pass() const { return m_pass; }
    // The items built so far this frame, and those handed to the drawer.
    const std::vector<OverlayItem>& buildingItems() const { return m_building; }
    const std::vector<OverlayItem>& drawingItems() const { return m_drawing; }
    const quern::visuals::SpriteBatch& promptSprites() const { return m_promptSprites; }
    const OverlayStringPool& strings() const { return m_strings; }

private:
    quern::graphics::Texture* textureOf(quern::u32 handle);
    // Both under the lock.
    OverlayItem& append(OverlayItemKind kind);
    OverlayItem& appendSprite(const OverlayRect& rect, quern::u32 textureHandle);

    struct CachedTexture {
        quern::u64 assetId;
        quern::u32 handle;
        quern::graphics::Texture* texture;
    };

    HudRenderPass* m_pass; // one reference
    LoadingWorker& m_loadingWorker;
    const LevelList& m_levelList;
    const InputPrompter& m_prompter;
    std::vector<OverlayItem> m_building;
    std::vector<OverlayItem> m_drawing;
    quern::Ref m_spriteMaterial;
    quern::Ref m_quadVisual;
    quern::Ref m_textVisual;
    quern::visuals::SpriteBatch m_promptSprites;
    std::vector<CachedTexture> m_textures;
    quern::u32 m_whiteTexture = 0;
    OverlayStringPool m_strings;
    quern::debug::MutexImpl m_lock;
};

} // namespace harmonize
