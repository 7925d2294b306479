#include "quern/visuals/SpriteBatch.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureAtlas.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/physics/particles/ParticlePool.h"
#include "quern/visuals/QuadGeometry.h"
#include "quern/visuals/SubMesh.h"
#include "quern/visuals/Visual.h"

namespace quern::visuals {

namespace {

using graphics::BatchVertex;
using Lock = containers::BufferBase::Lock;

constexpr u32 kDynamicDraw = graphics::BufferUsage::Dynamic | graphics::BufferUsage::Draw;
constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;

} // namespace

void SpriteBatch::reserveStorage()
{
    if (m_quads.capacity() < 128)
        m_quads.reserve(128);
    if (m_textures.capacity() < 2)
        m_textures.reserve(2);
    if (m_quadTextures.capacity() < 128)
        m_quadTextures.reserve(128);
}

void SpriteBatch::freeStorage()
{
    m_quads.release();
    m_textures.release();
    m_quadTextures.release();
}

void SpriteBatch::clear()
{
    m_quads.clear();
    m_textures.clear();
    m_quadTextures.clear();
}

BatchVertex* SpriteBatch::allocateQuad(graphics::Texture* texture)
{
    Quad* quad = static_cast<Quad*>(m_quads.expand(m_quads.count() + 1));
    u64 index = 0;
    while (index < m_textures.count() && m_textures.at<TextureEntry>(index).texture != texture)
        ++index;
    if (index == m_textures.count())
        m_textures.append(TextureEntry { texture, 0 });
    ++m_textures.at<TextureEntry>(index).quads;
    m_quadTextures.append(static_cast<u16>(index));
    return quad->corners;
}

void SpriteBatch::addQuad(const SpriteDescription& sprite, graphics::Texture* texture)
{
    f32 s, c;
    particles::fastSinCos(sprite.rotation, s, c);
    static constexpr f32 kCorners[4][2] = { { 0, 0 }, { 0, -1 }, { 1, -1 }, { 1, 0 } };
    const f32 uvs[4][2]
        = { { sprite.ua, sprite.va }, { sprite.ua, sprite.vb }, { sprite.ub, sprite.vb }, { sprite.ub, sprite.va } };
    u8 colour[4];
    graphics::packColour(colour, sprite.r, sprite.g, sprite.b, sprite.a);
    BatchVertex* out = allocateQuad(texture);
    for (int k = 0; k < 4; ++k) {
        const f32 cx = kCorners[k][0], cy = kCorners[k][1];
        BatchVertex& v = out[k];
        v.x = sprite.x + sprite.w * (cx * c - cy * s);
        v.y = sprite.y + sprite.h * (cx * s + cy * c);
        v.z = 0.0f;
        for (int ch = 0; ch < 4; ++ch)
            v.colour[ch] = colour[ch];
        v.u = uvs[k][0];
        v.v = uvs[k][1];
    }
}

bool SpriteBatch::addSprite(
    f32 x, f32 y, f32 w, f32 h, const graphics::TextureAtlas& atlas, std::string_view regionName)
{
    const graphics::TextureRegion* region = atlas.findRegion(regionName);
    graphics::Texture* texture = atlas.texture;
    if (!region || !texture)
        return false;
    const graphics::TextureExtension& own = texture->extension();
    f32 width, height;
    if (own.valid) {
        width = static_cast<f32>(own.referenceWidth);
        height = static_cast<f32>(own.referenceHeight);
    } else {
        width = static_cast<f32>(texture->pixelBuffer()->format().width);
        height = static_cast<f32>(texture->pixelBuffer()->format().height);
    }
    SpriteDescription sprite {};
    sprite.x = x;
    sprite.y = y;
    sprite.w = w;
    sprite.h = h;
    sprite.ua = static_cast<f32>(region->x) / width;
    sprite.ub = static_cast<f32>(region->x + region->width) / width;
    sprite.va = 1.0f - static_cast<f32>(region->y) / height;
    sprite.vb = 1.0f - static_cast<f32>(region->y + region->height) / height;
    sprite.r = sprite.g = sprite.b = sprite.a = 1.0f;
    addQuad(sprite, texture);
    return true;
}

graphics::VertexBuffer* SpriteBatch::prepareVisual(Visual& visual)
{
    const u64 n = quadCount();
    graphics::VertexBuffer* vb = visual.getVertexBuffer(kDynamicDraw);
    if (vb->vertexCount() < 4 * n) {
        vb->resizeElements(0);
        vb->setVertexFormat(graphics::VertexFormat::fromFlags(graphics::kBatchVertexFlags));
        vb->resizeElements(4 * n);
    }
    visual.removeAllSubMeshes();
    u32 firstVertex = 0;
    for (u64 t = 0; t < textureCount(); ++t) {
        const TextureEntry& entry = textureEntry(t);
        SubMesh* group = new SubMesh();
        group->setIndexBuffer(graphics::Display::get()->backEnd()->createIndexBuffer(kStaticDraw));
        visual.appendSubMesh(group);
        graphics::IndexBuffer* ib = group->indexBuffer();
        fillQuadIndices(*ib, static_cast<u64>(entry.quads), firstVertex);
        const i32 count = entry.quads * 6;
        if (ib->start() != 0 || ib->count() != count) {
            ib->setDrawRange(0, count);
            ib->notifyListeners();
        }
        group->textureOverrides[0] = entry.texture ? entry.texture->pixelBuffer() : nullptr;
        firstVertex += static_cast<u32>(entry.quads) * 4;
    }
    return vb;
}

void SpriteBatch::writeVertices(Visual& visual)
{
    const f32 none[3] = { 0, 0, 0 };
    write(visual, none);
}

void SpriteBatch::writeVerticesWithOffset(Visual& visual, f32 x, f32 y, f32 z)
{
    const f32 offset[3] = { x, y, z };
    write(visual, offset);
}

void SpriteBatch::write(Visual& visual, const f32 offset[3])
{
    graphics::VertexBuffer* vb = prepareVisual(visual);
    const u64 n = quadCount();
    if (n == 0)
        return;
    BatchVertex* out = reinterpret_cast<BatchVertex*>(vb->lockVertices(Lock::Write, 0, 4 * n));
    for (u64 t = 0; t < textureCount(); ++t) {
        for (u64 q = 0; q < n; ++q) {
            if (quadTexture(q) != t)
                continue;
            for (int k = 0; k < 4; ++k) {
                BatchVertex v = m_quads.at<Quad>(q).corners[k];
                v.x += offset[0];
                v.y += offset[1];
                v.z += offset[2];
                *out++ = v;
            }
        }
    }
    vb->unlockVertices();
}

} // namespace quern::visuals
