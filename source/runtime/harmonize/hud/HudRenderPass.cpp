#include "harmonize/hud/HudRenderPass.h"

#include "harmonize/display/FrameLayout.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/settings/SettingsUtility.h"
#include "harmonize/tasks/PreloadedResources.h"

#include "quern/debug/Log.h"
#include "quern/fontatlas/FontAtlas.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/materials/SpriteMaterial.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/render/RenderJob.h"
#include "quern/render/RenderQueue.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SubMesh.h"
#include "quern/visuals/TextLayout.h"

#include <cmath>
#include <cstring>
#include <ios>
#include <ostream>

namespace harmonize {

using quern::u32;
using quern::u64;
using quern::u8;
namespace BufferUsage = quern::graphics::BufferUsage;
using quern::math::Matrix4;
using quern::render::RenderContext;

namespace {

constexpr u32 kDynamicDraw = BufferUsage::Dynamic | BufferUsage::Draw;
constexpr u32 kStaticDraw = BufferUsage::Static | BufferUsage::Draw;
constexpr u64 kAtlasVertexRoom = 1'024;

// A fresh queue state for one screen draw: the view is the identity, so the
// world matrix is also the world-view one.
void beginScreenDraw(quern::render::RenderQueue& queue, const Matrix4& projection, const Matrix4& world)
{
    queue.reset();
    queue.setProjectionMatrix(projection);
    queue.setWorldMatrix(world);
    queue.setWorldViewMatrix(world);
    queue.setWorldViewProjectionMatrix(projection * world);
}

FontRenderContext& contextOf(void* user) { return *static_cast<FontRenderContext*>(user); }

i32 createAtlasImage(void* user, i32 width, i32 height)
{
    FontRenderContext& c = contextOf(user);
    c.width = width;
    c.height = height;
    c.image = c.backEnd->createPixelBuffer(quern::graphics::GraphicsBackEnd::TextureImage);
    quern::RefCounted::retain(c.image);
    c.image->create(quern::graphics::PixelBufferFormat::create2D(static_cast<u32>(width), static_cast<u32>(height),
                        quern::graphics::PixelFormat::L8),
        0);
    const f32 black[4] = { 0, 0, 0, 1 };
    c.image->clear(black);
    c.vertices = c.backEnd->createVertexBuffer(kDynamicDraw);
    quern::RefCounted::retain(c.vertices);
    // Sized only once it has its format: a resize keeps the old contents.
    c.vertices->resizeElements(0);
    c.vertices->setVertexFormat(quern::graphics::vertexFormatFromString("position(2f) texcoord0(2f) color(4ub)"));
    c.vertices->resizeElements(kAtlasVertexRoom);
    auto* texture = new quern::graphics::Texture(c.image);
    const quern::Ref hold(texture);
    c.material = new quern::graphics::TextMaterial();
    quern::RefCounted::retain(c.material);
    c.material->setBlendFactors(quern::graphics::ParticleMaterial::BlendFactor::One,
        quern::graphics::ParticleMaterial::BlendFactor::OneMinusSourceAlpha);
    c.material->setTexture(texture);
    c.material->setDirty();
    return 1;
}

i32 resizeAtlasImage(void*, i32, i32) { QUERN_FATAL("Not supported"); }

void updateAtlasImage(void* user, const i32 rect[4], const u8* image)
{
    FontRenderContext& c = contextOf(user);
    const i32 width = rect[2] - rect[0], height = rect[3] - rect[1];
    if (width <= 0 || height <= 0)
        return;
    c.image->updateSubImage(static_cast<u32>(rect[0]), static_cast<u32>(rect[1]), static_cast<u32>(width),
        static_cast<u32>(height), image + static_cast<u64>(rect[1]) * static_cast<u64>(c.width) + rect[0],
        HudDrawer::kAtlasSize);
}

void drawAtlasVertices(void* user, const f32* positions, const f32* texCoords, const u32* colours, i32 count)
{
    FontRenderContext& c = contextOf(user);
    if (count <= 0)
        return;
    if (static_cast<u64>(count) > c.vertices->vertexCount())
        c.vertices->resizeElements(static_cast<u64>(count));
    u8* out = c.vertices->lockVertices(quern::containers::BufferBase::Lock::Write, 0, static_cast<u64>(count));
    for (i32 i = 0; i < count; ++i, out += 20) {
        const f32 vertex[4] = { positions[i * 2], positions[i * 2 + 1], texCoords[i * 2], texCoords[i * 2 + 1] };
        std::memcpy(out, vertex, sizeof vertex);
        std::memcpy(out + 16, &colours[i], 4);
    }
    c.vertices->unlockVertices();

    quern::render::RenderQueue& queue = *c.queue;
    const Matrix4 projection = hudProjection(false);
    beginScreenDraw(queue, projection, Matrix4::identity());
    quern::render::RenderQueueState& state = queue.state();
    RenderContext context;
    context.jobs = &state.jobs;
    context.state = &state;
    context.projectionMatrix = state.projection;
    context.worldMatrix = state.world;
    context.worldViewMatrix = state.worldView;
    context.worldViewProjectionMatrix = state.worldViewProjection;
    quern::render::RenderJob* job = state.takeJob();
    job->vertexBuffer = c.vertices;
    job->indexCount = count;
    job->shader = c.material->getShader();
    job->modelMatrix = state.world;
    job->modelViewMatrix = state.worldView;
    job->modelViewProjectionMatrix = state.worldViewProjection;
    job->context = &context;
    state.jobs.append<quern::render::RenderJob*>(job);
    queue.flush(context);
}

void deleteAtlasImage(void* user)
{
    FontRenderContext& c = contextOf(user);
    quern::RefCounted::release(c.material);
    quern::RefCounted::release(c.vertices);
    quern::RefCounted::release(c.image);
    c.material = nullptr;
    c.vertices = nullptr;
    c.image = nullptr;
}

// RGBA8 of a colour, red in the lowest byte.
u32 packColour(const f32 colour[4])
{
    u32 packed = 0;
    for (int i = 0; i < 4; ++i) {
        const f32 c = colour[i] < 0.0f ? 0.0f : (colour[i] > 1.0f ? 1.0f : colour[i]);
        packed |= static_cast<u32>(std::lround(c * 255.0f)) << (8 * i);
    }
    return packed;
}

} // namespace

Matrix4 hudProjection(bool yUp)
{
    Matrix4 m = Matrix4::identity();
    m.m[0] = 1.0f / 960.0f;
    m.m[5] = yUp ? 1.0f / 540.0f : -1.0f / 540.0f;
    m.m[10] = -1.0f;
    m.m[12] = -1.0f;
    m.m[13] = yUp ? -1.0f : 1.0f;
    return m;
}

HudDrawer::~HudDrawer() { release(); }

void HudDrawer::init(const quern::graphics::Font* font, u64 fontId, LoadingWorker& worker, const LevelList& levelList,
    quern::visuals::SpriteBatch& promptSprites)
{
    release();
    m_worker = &worker;
    m_levelList = &levelList;
    m_queue = quern::render::RenderQueue::create();
    m_fontContext = FontRenderContext {};
    m_fontContext.backEnd = quern::graphics::Display::get()->backEnd();
    m_fontContext.queue = m_queue;
    m_fontId = fontId;
    m_promptSprites = &promptSprites;
    auto* visual = new quern::visuals::MeshVisual();
    m_spriteVisual = quern::Ref(visual);
    auto* material = new quern::graphics::SpriteMaterial();
    material->setBlendFactors(quern::graphics::ParticleMaterial::BlendFactor::One,
        quern::graphics::ParticleMaterial::BlendFactor::OneMinusSourceAlpha);
    visual->setMaterial(material);

    if (!font || font->extra.count() == 0) {
        // Without the font the rest of the HUD still draws.
        QUERN_LOG(1) << "HUD font " << std::hex << fontId << std::dec
                     << " has no TrueType data: atlas texts are not drawn" << std::endl;
        return;
    }
    quern::fontatlas::FontAtlasParams params;
    params.width = kAtlasSize;
    params.height = kAtlasSize;
    params.flags = quern::fontatlas::ZeroTopLeft;
    params.userPtr = &m_fontContext;
    params.renderCreate = createAtlasImage;
    params.renderResize = resizeAtlasImage;
    params.renderUpdate = updateAtlasImage;
    params.renderDraw = drawAtlasVertices;
    params.renderDelete = deleteAtlasImage;
    m_atlas = quern::fontatlas::FontAtlas::create(params);
    if (!m_atlas)
        return;
    m_font = quern::fontatlas::FontAtlas::addFont(
        m_atlas, "hud", font->extra.dataAs<u8>(), static_cast<i32>(font->extra.count()));
    if (m_font < 0)
        QUERN_LOG(1) << "HUD font " << std::hex << fontId << std::dec << " has TrueType data that does not load"
                     << std::endl;
}

void HudDrawer::release()
{
    if (m_atlas)
        quern::fontatlas::FontAtlas::destroy(m_atlas);
    m_atlas = nullptr;
    m_font = -1;
    m_spriteVisual.reset();
    delete m_queue;
    m_queue = nullptr;
    m_fontContext = FontRenderContext {};
    m_items = nullptr;
    m_count = 0;
}

void HudDrawer::run(quern::render::RenderCommand&)
{
    if (!m_queue)
        return;
    for (u64 i = 0; i < m_count; ++i) {
        const OverlayItem& item = m_items[i];
        switch (item.kind) {
        case OverlayItemKind::Quad:
            drawQuad(item);
            break;
        case OverlayItemKind::MeshText:
            drawMeshText(item);
            break;
        case OverlayItemKind::AtlasText:
            drawAtlasText(item);
            break;
        }
    }
    drawPromptSprites();
}

void HudDrawer::drawQuad(const OverlayItem& item)
{
    quern::visuals::Visual* visual = item.visual;
    if (!visual)
        return;
    // W = translation (x, y, 0) x scale (ex, -ey, 1): the unit quad's y up
    // becomes the screen's y down.
    Matrix4 world = Matrix4::identity();
    world.m[0] = item.extent[0];
    world.m[5] = -item.extent[1];
    world.m[12] = item.position[0];
    world.m[13] = item.position[1];
    const Matrix4 projection = hudProjection(false);
    beginScreenDraw(*m_queue, projection, world);
    if (item.itemMaterial) {
        auto* sprite = static_cast<quern::graphics::SpriteMaterial*>(item.itemMaterial);
        sprite->setTexture(item.texture);
        sprite->setColour(item.colour[0], item.colour[1], item.colour[2], item.colour[3]);
        sprite->setBlendFactors(static_cast<quern::graphics::ParticleMaterial::BlendFactor>(item.sourceBlend),
            static_cast<quern::graphics::ParticleMaterial::BlendFactor>(item.destinationBlend));
        sprite->setDirty();
        visual->setMaterial(sprite);
    } else if (item.ownMaterial) {
        visual->setMaterial(item.ownMaterial);
    }
    RenderContext context;
    m_queue->submitVisual(visual, context);
    m_queue->flush(context);
}

void HudDrawer::drawMeshText(const OverlayItem& item)
{
    quern::visuals::MeshVisual* visual = item.textVisual;
    // The Chinese languages take the font block's first font.
    const i32 language = getLanguage();
    const u64 fontId = (language == 5 || language == 6) && m_levelList
        ? m_levelList->globalAssetId(LevelList::kGlobalAssetOffsets[0])
        : m_fontId;
    const quern::graphics::Font* font = m_worker && fontId != 0 ? getPreloadedFont(*m_worker, fontId) : nullptr;
    if (!visual || !font || !item.text)
        return;
    quern::graphics::GraphicsBackEnd& device = *quern::graphics::Display::get()->backEnd();
    if (!visual->vertexBuffer())
        visual->setVertexBuffer(device.createVertexBuffer(kStaticDraw));
    quern::visuals::SubMesh* subMesh = visual->getFirstSubMesh();
    const TextStyle& style = item.textStyle;
    quern::visuals::SpriteBatchGlyphSink sink;
    sink.font = font;
    sink.pixelSize = style.pixelSize;
    sink.scale = style.scale * 0.1f;
    sink.z = style.depth;
    quern::visuals::buildTextMesh(*font, item.text, static_cast<f32>(style.pixelSize), style.lineAlignment,
        static_cast<quern::visuals::TextAnchor>(style.anchor), *visual->vertexBuffer(), *subMesh->getIndexBuffer(),
        sink);
    subMesh->textureOverrides[0] = font->texture ? font->texture->pixelBuffer() : nullptr;
    drawQuad(item);
}

void HudDrawer::drawAtlasText(const OverlayItem& item)
{
    if (!hasFontAtlas() || !item.text)
        return;
    quern::fontatlas::FontAtlasState& state = *quern::fontatlas::FontAtlas::getState(m_atlas);
    state.font = m_font;
    state.align = item.alignment;
    state.size = item.extent[0];
    state.colour = packColour(item.colour);
    quern::fontatlas::FontAtlas::drawText(m_atlas, item.position[0], item.position[1], item.text);
}

void HudDrawer::drawPromptSprites()
{
    if (!m_promptSprites || m_promptSprites->quadCount() == 0 || !m_spriteVisual)
        return;
    auto* visual = m_spriteVisual.get<quern::visuals::MeshVisual>();
    const Matrix4 projection = hudProjection(true);
    beginScreenDraw(*m_queue, projection, Matrix4::identity());
    m_promptSprites->writeVertices(*visual);
    m_promptSprites->clear();
    RenderContext context;
    m_queue->submitVisual(visual, context);
    m_queue->flush(context);
}

HudRenderPass::HudRenderPass() = default;

HudRenderPass::~HudRenderPass() = default;

void HudRenderPass::recordCommands(quern::render::RenderCommandList& list)
{
    const ViewportRect view = computeOutputViewport();
    const i32 rect[4] = { view.x, view.y, view.width, view.height };
    list.setViewport(rect);
    quern::render::RenderCommand custom;
    custom.type = quern::render::RenderCommand::Custom;
    custom.setPointer(0, static_cast<quern::render::RenderCallback*>(&m_drawer));
    list.append(custom);
}

} // namespace harmonize
