#include "harmonize/hud/OverlayBatch.h"

#include "harmonize/hud/HudRenderPass.h"
#include "harmonize/input/InputPrompter.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "harmonize/tasks/PreloadedResources.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/DefaultTextures.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureAtlas.h"
#include "quern/graphics/materials/SpriteMaterial.h"
#include "quern/input/InputOrigin.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/QuadGeometry.h"
#include "quern/visuals/SubMesh.h"

#include <cctype>
#include <string>

namespace harmonize {

using quern::u32;
using quern::u64;
using quern::debug::MutexLock;

namespace {

constexpr u32 kStaticDraw = quern::graphics::BufferUsage::Static | quern::graphics::BufferUsage::Draw;
constexpr i32 kBlendOne = 1;
constexpr i32 kBlendZero = 0;
constexpr i32 kBlendOneMinusSourceAlpha = 5;
constexpr i32 kMeshTextAlignment = 65;
constexpr i32 kPromptNameAlignment = 9; // left, top
constexpr f32 kPromptSize = 40.0f;

} // namespace

OverlayBatch::OverlayBatch(LoadingWorker& loadingWorker, const LevelList& levelList, const InputPrompter& prompter)
    : m_pass(new HudRenderPass())
    , m_loadingWorker(loadingWorker)
    , m_levelList(levelList)
    , m_prompter(prompter)
{
    quern::RefCounted::retain(m_pass);
}

OverlayBatch::~OverlayBatch()
{
    m_strings.destroy();
    m_promptSprites.freeStorage();
    quern::RefCounted::release(m_pass);
}

void OverlayBatch::createResources(u64 hudFontId)
{
    m_spriteMaterial = quern::Ref(new quern::graphics::SpriteMaterial());
    auto* quad = new quern::visuals::MeshVisual();
    m_quadVisual = quern::Ref(quad);
    m_textVisual = quern::Ref(new quern::visuals::MeshVisual());
    if (!quad->vertexBuffer())
        quad->setVertexBuffer(quern::graphics::Display::get()->backEnd()->createVertexBuffer(kStaticDraw));
    quern::visuals::buildUnitQuad(*quad->vertexBuffer());
    if (quad->subMeshCount() == 0)
        quad->appendSubMesh(new quern::visuals::SubMesh());

    quern::assets::ResourceCache& cache = m_loadingWorker.cache();
    m_whiteTexture = cache.acquire(quern::graphics::defaultWhiteTextureKey());
    m_promptSprites.reserveStorage();
    const quern::graphics::Font* font = hudFontId != 0 ? getPreloadedFont(m_loadingWorker, hudFontId) : nullptr;
    m_pass->drawer().init(font, hudFontId, m_loadingWorker, m_levelList, m_promptSprites);
}

void OverlayBatch::releaseResources()
{
    m_pass->drawer().release();
    m_spriteMaterial.reset();
    m_quadVisual.reset();
    m_textVisual.reset();
    quern::assets::ResourceCache& cache = m_loadingWorker.cache();
    for (const CachedTexture& entry : m_textures)
        cache.release(entry.handle);
    m_textures.clear();
    if (m_whiteTexture != 0)
        cache.release(m_whiteTexture);
    m_whiteTexture = 0;
}

void OverlayBatch::clearLists()
{
    MutexLock locked(m_lock);
    for (const OverlayItem& item : m_drawing)
        m_strings.release(item.text);
    for (const OverlayItem& item : m_building)
        m_strings.release(item.text);
    m_drawing = {};
    m_building = {};
    m_pass->drawer().setItems(nullptr, 0);
}

void OverlayBatch::endFrame()
{
    MutexLock locked(m_lock);
    m_building.swap(m_drawing);
    // The list drawn last frame is done with: its texts go back to the pool.
    for (const OverlayItem& item : m_building)
        m_strings.release(item.text);
    m_building.clear();
    m_pass->drawer().setItems(m_drawing.data(), m_drawing.size());
}

u32 OverlayBatch::acquireTexture(u64 assetId)
{
    MutexLock locked(m_lock);
    for (const CachedTexture& entry : m_textures)
        if (entry.assetId == assetId)
            return entry.handle;
    const u32 handle = m_loadingWorker.acquirePreloadedResource(assetId, quern::assets::ResourceType::Texture);
    m_textures.push_back({ assetId, handle, textureOf(handle) });
    return handle;
}

const quern::graphics::Texture* OverlayBatch::cachedTexture(u32 handle)
{
    MutexLock locked(m_lock);
    for (const CachedTexture& entry : m_textures)
        if (entry.handle == handle)
            return entry.texture;
    return nullptr;
}

quern::graphics::Texture* OverlayBatch::textureOf(u32 handle)
{
    if (handle == 0)
        return nullptr;
    u64 type = 0;
    void* resource = m_loadingWorker.cache().entry(handle, type);
    return type == quern::assets::ResourceType::Texture
        ? static_cast<quern::graphics::Texture*>(static_cast<quern::RefCounted*>(resource))
        : nullptr;
}

OverlayItem& OverlayBatch::append(OverlayItemKind kind)
{
    OverlayItem& item = m_building.emplace_back();
    item.kind = kind;
    return item;
}

OverlayItem& OverlayBatch::appendSprite(const OverlayRect& rect, u32 textureHandle)
{
    OverlayItem& item = append(OverlayItemKind::Quad);
    item.visual = m_quadVisual.get<quern::visuals::Visual>();
    item.itemMaterial = m_spriteMaterial.get<quern::graphics::Material>();
    item.texture = textureOf(textureHandle);
    item.sourceBlend = kBlendOne;
    item.destinationBlend = kBlendZero;
    item.position[0] = (rect.x0 + rect.x1) * 0.5f;
    item.position[1] = (rect.y0 + rect.y1) * 0.5f;
    item.extent[0] = (rect.x1 - rect.x0) * 0.5f;
    item.extent[1] = (rect.y1 - rect.y0) * 0.5f;
    return item;
}

void OverlayBatch::addSprite(const OverlayRect& rect, u32 textureHandle)
{
    MutexLock locked(m_lock);
    appendSprite(rect, textureHandle);
}

void OverlayBatch::addRectangle(const OverlayRect& rect, u32 textureHandle, const f32 colour[4])
{
    MutexLock locked(m_lock);
    OverlayItem& item = appendSprite(rect, textureHandle);
    const f32 a = colour[3];
    item.colour[0] = colour[0] * a;
    item.colour[1] = colour[1] * a;
    item.colour[2] = colour[2] * a;
    item.colour[3] = a;
    item.destinationBlend = kBlendOneMinusSourceAlpha;
}

void OverlayBatch::addFullscreenQuad(quern::graphics::Material* material)
{
    MutexLock locked(m_lock);
    OverlayItem& item = append(OverlayItemKind::Quad);
    item.visual = m_quadVisual.get<quern::visuals::Visual>();
    item.ownMaterial = material;
    item.position[0] = kScreenWidth * 0.5f;
    item.position[1] = kScreenHeight * 0.5f;
    item.extent[0] = kScreenWidth * 0.5f;
    item.extent[1] = kScreenHeight * 0.5f;
}

void OverlayBatch::addVisualQuad(u32 index, quern::visuals::Visual* const* visuals, const f32 position[2], f32 scale)
{
    quern::visuals::Visual* visual = visuals ? visuals[index & 0xFFFF] : nullptr;
    // An item without a visual would have the drawer draw nothing at best.
    if (!visual)
        return;
    MutexLock locked(m_lock);
    OverlayItem& item = append(OverlayItemKind::Quad);
    item.visual = visual;
    item.position[0] = position[0];
    item.position[1] = position[1];
    item.extent[0] = scale;
    item.extent[1] = scale;
}

void OverlayBatch::addAtlasText(const char* text, f32 x, f32 y, f32 size, i32 alignment)
{
    if (!text)
        return;
    MutexLock locked(m_lock);
    OverlayItem& item = append(OverlayItemKind::AtlasText);
    item.text = m_strings.acquire(text);
    item.position[0] = x;
    item.position[1] = y;
    item.extent[0] = size;
    item.alignment = alignment;
}

void OverlayBatch::addText(const char* text, f32 x, f32 y, const TextStyle& style)
{
    MutexLock locked(m_lock);
    OverlayItem& item = append(OverlayItemKind::MeshText);
    item.visual = m_textVisual.get<quern::visuals::Visual>();
    item.textVisual = m_textVisual.get<quern::visuals::MeshVisual>();
    item.textStyle = style;
    item.text = m_strings.acquire(text);
    item.position[0] = x;
    item.position[1] = y;
    for (int c = 0; c < 4; ++c)
        item.colour[c] = style.colour[c];
    item.extent[0] = item.extent[1] = 1.0f;
    item.alignment = kMeshTextAlignment;
    item.itemMaterial = m_spriteMaterial.get<quern::graphics::Material>();
    item.sourceBlend = kBlendOne;
    item.destinationBlend = kBlendOneMinusSourceAlpha;
}

void OverlayBatch::addInputPrompt(i32 action, f32 x, f32 y)
{
    const ControlName query { ControlName::Action, action, m_prompter.promptState() };
    InputOriginList origins {};
    m_prompter.getBindings(query, origins);
    if (origins.count > 0) {
        const quern::graphics::TextureAtlas* atlas = getPreloadedTextureAtlas(m_loadingWorker, m_prompter.promptAtlasId());
        const char* region = quern::input::toString(static_cast<quern::input::InputOrigin>(origins.origins[0]));
        const quern::graphics::TextureRegion* found = atlas && region ? atlas->findRegion(region) : nullptr;
        if (found && found->width > 0) {
            const f32 height = kPromptSize * static_cast<f32>(found->height) / static_cast<f32>(found->width);
            MutexLock locked(m_lock);
            m_promptSprites.addSprite(x, kScreenHeight - y, kPromptSize, height, *atlas, region);
            return;
        }
    }
    addAtlasText(m_prompter.promptName(query).c_str(), x - 10.0f, y + 10.0f, 20.0f, kPromptNameAlignment);
}

} // namespace harmonize
