#include "harmonize/systems/TextRendererSystem.h"

#include "harmonize/components/Components.h"
#include "harmonize/input/InputPrompter.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/settings/SettingsUtility.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "harmonize/tasks/PreloadedResources.h"

#include "quern/assets/ResourceCache.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/entity/WorldLocalization.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/TextureAtlas.h"
#include "quern/input/InputOrigin.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/StringInterner.h"
#include "quern/visuals/TextLayout.h"
#include "quern/visuals/Visual.h"

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

namespace harmonize {
namespace {

using quern::f32;
using quern::i32;
using quern::entity::EntityHandle;
using quern::entity::World;

constexpr u64 kPromptAtlasOffset = LevelList::kGlobalAssetOffsets[7];
// Space on each side of an inline prompt, in unscaled layout units.
constexpr f32 kPromptMargin = 15.0f;

// Lays a label out into sprites and draws its "[[control]]" prompts inline:
// the glyph of each input bound to the control, or the input's name where the
// prompt atlas has no glyph for it.
class TextPromptSink final : public quern::visuals::SpriteBatchGlyphSink {
public:
    void addSprite(quern::visuals::GlyphQuad& quad, quern::visuals::SpriteBatch& batch) override;

    const quern::graphics::TextureAtlas* atlas = nullptr; // null: names only
    const InputPrompter* prompter = nullptr; // null: the control's name
    f32 penOffset[2] = { 0.0f, 0.0f };

private:
    void writePrompt(std::string_view name, quern::visuals::GlyphQuad& quad, quern::visuals::SpriteBatch& batch);
    // Writes plain text after the quad's left edge; the width it takes.
    f32 writePlain(const char* text, const quern::visuals::GlyphQuad& quad, quern::visuals::SpriteBatch& batch);
    void writeOrigin(quern::input::InputOrigin origin, quern::visuals::GlyphQuad& quad, f32 height,
        quern::visuals::SpriteBatch& batch);
};

// "KeyboardCursorUp" shows as "up".
std::string originDisplayName(const char* origin)
{
    std::string_view name = origin;
    if (name.starts_with("Keyboard"))
        name.remove_prefix(8);
    if (name.starts_with("Cursor"))
        name.remove_prefix(6);
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void TextPromptSink::addSprite(quern::visuals::GlyphQuad& quad, quern::visuals::SpriteBatch& batch)
{
    quad.x0 += penOffset[0];
    quad.x1 += penOffset[0];
    quad.y0 += penOffset[1];
    quad.y1 += penOffset[1];
    // The end of the name is searched in the zero-terminated text, so a "[["
    // that is never closed stays plain text.
    const char* close
        = quad.codePoint == '[' && quad.next && quad.next[0] == '[' ? std::strstr(quad.next + 1, "]]") : nullptr;
    if (!close) {
        SpriteBatchGlyphSink::addSprite(quad, batch);
        return;
    }
    const char* nameStart = quad.next + 1;
    quad.next = close + 2;
    writePrompt(std::string_view(nameStart, static_cast<u64>(close - nameStart)), quad, batch);
}

void TextPromptSink::writePrompt(
    std::string_view name, quern::visuals::GlyphQuad& quad, quern::visuals::SpriteBatch& batch)
{
    const f32 left = quad.x0;
    const f32 height = quad.y1 - quad.y0;
    const ControlName control = prompter ? parseControlName(name, prompter->promptState()) : ControlName {};
    InputOriginList origins;
    if (control.kind != ControlName::None)
        prompter->getBindings(control, origins);
    if (control.kind == ControlName::None || origins.count == 0) {
        const std::string text
            = control.kind == ControlName::None ? std::string(name) : prompter->promptName(control);
        const f32 width = writePlain(text.c_str(), quad, batch);
        quad.x0 += width;
        quad.penX += width;
    } else {
        for (u64 i = 0; i < origins.count; ++i)
            writeOrigin(origins.at(i), quad, height, batch);
    }
    // The block ends after the prompt, not after the '[' it replaced.
    quad.x1 = quad.x0;
    quad.x0 = left;
}

void TextPromptSink::writeOrigin(
    quern::input::InputOrigin origin, quern::visuals::GlyphQuad& quad, f32 height, quern::visuals::SpriteBatch& batch)
{
    const char* name = quern::input::toString(origin);
    if (!name)
        name = "";
    const quern::graphics::TextureRegion* region = atlas ? atlas->findRegion(name) : nullptr;
    if (region && region->height > 0 && atlas->texture) {
        const f32 width = height * static_cast<f32>(region->width) / static_cast<f32>(region->height);
        const f32 s = scale;
        batch.addSprite((quad.x0 + kPromptMargin) * s, quad.y1 * s, width * s, height * s, *atlas, name);
        quad.x0 += width + 2 * kPromptMargin;
        quad.penX += width + 2 * kPromptMargin;
        return;
    }
    const f32 width = writePlain(originDisplayName(name).c_str(), quad, batch);
    quad.x0 += width;
    quad.penX += width;
}

f32 TextPromptSink::writePlain(
    const char* text, const quern::visuals::GlyphQuad& quad, quern::visuals::SpriteBatch& batch)
{
    TextPromptSink plain;
    plain.font = font;
    plain.pixelSize = pixelSize;
    plain.lineSpacing = 1.0f;
    plain.scale = scale;
    plain.z = z;
    plain.atlas = atlas;
    plain.prompter = prompter;
    // On the prompt's own line, whichever line of the label that is.
    plain.penOffset[0] = quad.x0 + kPromptMargin;
    plain.penOffset[1] = penOffset[1] - quad.lineShift;
    const f32 size = static_cast<f32>(pixelSize);
    quern::visuals::layoutTextSprites(*font, text, size, quern::visuals::AlignLeft, 1.0f, batch, plain);
    return font->getTextWidth(text, size, 0.0f, true) + 2 * kPromptMargin;
}

} // namespace

bool hasPlaceholder(const char* text)
{
    // A "]]" before the prompt's "[[" closes nothing: only one after it counts.
    const char* open = text ? std::strstr(text, "[[") : nullptr;
    return open && std::strstr(open + 2, "]]") != nullptr;
}

TextRendererSystem::TextRendererSystem(AppContext& context, RenderSystem& render)
    : m_render(&render)
    , m_loadingWorker(context.services.loadingWorker)
    , m_levelList(context.services.levelList)
    , m_prompter(context.services.prompter)
{
}

TextRendererSystem::~TextRendererSystem() { m_sprites.freeStorage(); }

void TextRendererSystem::entitiesCreated(
    const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    for (u64 i = 0; i < count; ++i) {
        if (!world.isValid(handles[i]) || !world.getComponentMask(handles[i].index()).test(TextLabel::kType))
            continue;
        const auto& label = *static_cast<const TextLabel*>(world.getComponent(handles[i].index(), TextLabel::kType));
        bool translated = false;
        if (const char* text = quern::entity::getLocalizedText(world, label.textKey, world.language, &translated))
            queue(handles[i], text, translated);
    }
}

void TextRendererSystem::attach(quern::memory::Allocator* allocator)
{
    m_pending = quern::containers::Array(sizeof(PendingText), alignof(PendingText), allocator);
    m_pendingChars = quern::containers::Array(sizeof(char), alignof(char), allocator);
}

void TextRendererSystem::detach(quern::memory::Allocator*)
{
    m_sprites.freeStorage();
    m_pending.release();
    m_pendingChars.release();
    m_reported.release();
    m_refreshPlaceholders = 0;
}

void TextRendererSystem::describe(quern::entity::SystemInfo* info) { info->name = "TextRendererSystem"; }

const char* TextRendererSystem::setText(EntityHandle entity, const char* text, World& world)
{
    if (!text)
        text = "";
    const char* shown = text;
    bool translated = false;
    if (world.texts) {
        const u64 key = quern::strings::murmurHash64A(text, std::strlen(text), world.texts->seed());
        bool found = false;
        if (const char* localised = quern::entity::getLocalizedText(world, key, world.language, &found)) {
            shown = localised;
            translated = found;
        }
    }
    queue(entity, shown, translated);
    return shown;
}

void TextRendererSystem::queue(EntityHandle entity, const char* text, bool translated)
{
    const u64 length = std::strlen(text);
    const u64 offset = m_pendingChars.count();
    std::memcpy(m_pendingChars.expand(offset + length + 1), text, length + 1);
    m_pending.append(PendingText { entity.value, static_cast<u8>(translated ? 1 : 0), offset });
}

void TextRendererSystem::render(World& world)
{
    if (m_refreshPlaceholders) {
        queuePlaceholderLabels(world);
        m_refreshPlaceholders = 0;
    }
    for (u64 i = 0; i < m_pending.count(); ++i)
        renderLabel(m_pending.at<PendingText>(i), world);
    m_pending.clear();
    m_pendingChars.clear();
}

void TextRendererSystem::queuePlaceholderLabels(World& world)
{
    for (u64 index = 0; index < world.getSlotCount(); ++index) {
        const EntityHandle entity = EntityHandle::make(static_cast<quern::u16>(index), world.getGeneration(index));
        if (!world.isValid(entity) || !world.getComponentMask(index).test(TextLabel::kType))
            continue;
        const auto& label = *static_cast<const TextLabel*>(world.getComponent(index, TextLabel::kType));
        bool translated = false;
        const char* text = quern::entity::getLocalizedText(world, label.textKey, world.language, &translated);
        if (hasPlaceholder(text))
            queue(entity, text, translated);
    }
}

u64 TextRendererSystem::fontIdFor(u64 labelFont, bool translated) const
{
    if (!translated || !m_levelList)
        return labelFont;
    // The languages whose scripts the label fonts lack have fonts of their own.
    switch (getLanguage()) {
    case 5:
        return m_levelList->globalAssetId(LevelList::kGlobalAssetOffsets[0]);
    case 6:
        return m_levelList->globalAssetId(LevelList::kGlobalAssetOffsets[1]);
    case 7:
        return m_levelList->globalAssetId(LevelList::kGlobalAssetOffsets[3]);
    case 8:
        return m_levelList->globalAssetId(LevelList::kGlobalAssetOffsets[9]);
    default:
        return labelFont;
    }
}

void TextRendererSystem::reportMissing(u64 assetId, const char* kind)
{
    for (u64 i = 0; i < m_reported.count(); ++i)
        if (m_reported.at<u64>(i) == assetId)
            return;
    m_reported.append(assetId);
    QUERN_LOG(1) << "Text label " << kind << " 0x" << std::hex << assetId << std::dec << " is not preloaded"
                 << std::endl;
}

void TextRendererSystem::renderLabel(const PendingText& pending, World& world)
{
    const EntityHandle entity { pending.handle };
    if (!m_loadingWorker || !world.isValid(entity) || !world.getComponentMask(entity.index()).test(TextLabel::kType))
        return;
    const auto& label = *static_cast<const TextLabel*>(world.getComponent(entity.index(), TextLabel::kType));
    const char* text = m_pendingChars.dataAs<char>() + pending.textOffset;

    // Looked up in the cache first: a label naming an asset the level did not
    // preload is a content mistake worth one log line, not an assertion.
    quern::assets::ResourceCache& cache = m_loadingWorker->cache();
    const u64 fontId = fontIdFor(label.font, pending.translated != 0);
    const bool fontLoaded = cache.find(quern::assets::resourceKey(fontId, quern::assets::ResourceType::Font));
    const quern::graphics::Font* font = fontLoaded ? getPreloadedFont(*m_loadingWorker, fontId) : nullptr;
    if (!font) {
        reportMissing(fontId, "font");
        return;
    }
    const u64 atlasId = m_prompter ? m_prompter->promptAtlasId()
        : m_levelList              ? m_levelList->globalAssetId(kPromptAtlasOffset)
                                   : 0;
    const quern::graphics::TextureAtlas* atlas = nullptr;
    if (atlasId != 0 && hasPlaceholder(text)) {
        if (cache.find(quern::assets::resourceKey(atlasId, quern::graphics::kTextureAtlasTypeId)))
            atlas = getPreloadedTextureAtlas(*m_loadingWorker, atlasId);
        if (!atlas)
            reportMissing(atlasId, "prompt atlas");
    }
    quern::visuals::Visual* visual = m_render->getOrCreateVisual(entity.index());
    if (!visual)
        return;

    f32 centre[2] = { 0.0f, 0.0f };
    f32 half[2] = { 0.0f, 0.0f };
    TextPromptSink sink;
    sink.font = font;
    sink.pixelSize = label.pixelSize;
    sink.lineSpacing = label.lineSpacing;
    sink.scale = label.scale * 0.1f;
    sink.z = label.depth;
    sink.blockCentre = centre;
    sink.blockHalfSize = half;
    sink.atlas = atlas;
    sink.prompter = m_prompter;
    m_sprites.reserveStorage();
    m_sprites.clear();
    quern::visuals::layoutTextSprites(
        *font, text, static_cast<f32>(label.pixelSize), label.lineAlignment, label.lineSpacing, m_sprites, sink);

    f32 offset[2];
    quern::visuals::getTextAnchorOffset(static_cast<quern::visuals::TextAnchor>(label.anchor), centre[0], centre[1],
        half[0], half[1], offset[0], offset[1]);
    m_sprites.writeVerticesWithOffset(*visual, -offset[0], -offset[1], -0.0f);
    const f32 sphere[3] = { centre[0] - offset[0], centre[1] - offset[1], 0.0f };
    m_render->setBoundingSphere(entity, sphere, std::sqrt(half[0] * half[0] + half[1] * half[1]));
}

} // namespace harmonize
