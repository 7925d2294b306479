#include "harmonize/systems/SubtitleSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/hud/OverlayBatch.h"
#include "harmonize/settings/SettingsUtility.h"

#include "quern/entity/World.h"
#include "quern/entity/WorldLocalization.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Hashes.h"

#include <cmath>
#include <cstring>

namespace harmonize {

using quern::entity::World;

namespace {

constexpr f32 kCentreX = 960.0f;
constexpr i32 kPixelSize = 32;

TextStyle subtitleStyle(f32 r, f32 g, f32 b)
{
    TextStyle style {};
    style.lineAlignment = 1; // centre
    style.anchor = 4; // centre
    style.scale = 10.0f; // tenths: scale 1
    style.colour[0] = r;
    style.colour[1] = g;
    style.colour[2] = b;
    style.colour[3] = 1.0f;
    style.pixelSize = kPixelSize;
    return style;
}

} // namespace

SubtitleSystem::SubtitleSystem(OverlayBatch* overlay, const quern::serialize::StringTable* strings, i32 (*language)())
    : m_overlay(overlay)
    , m_strings(strings)
    , m_language(language ? language : getLanguage)
{
}

void SubtitleSystem::attach(quern::memory::Allocator*) { clearSubtitles(); }

void SubtitleSystem::pushSubtitle(u64 key)
{
    for (SubtitleLine& line : m_lines) {
        if (line.key == 0) {
            line.key = key;
            return;
        }
    }
    for (u64 i = 0; i + 1 < kLineCount; ++i)
        m_lines[i] = m_lines[i + 1];
    m_lines[kLineCount - 1].key = key;
}

void SubtitleSystem::clearSubtitles()
{
    for (SubtitleLine& line : m_lines)
        line.key = 0;
}

void SubtitleSystem::update(quern::entity::UpdateContext*, World& world)
{
    if (m_language() == 0 || !Settings::Game.subtitles)
        return;
    splitLines(world);
    for (u64 i = 0; i < kLineCount; ++i)
        m_lines[i].y = kFirstLineY + kLineSpacing * static_cast<f32>(i);
    drawLines(world);
}

// The world's translation of the key in its language, else the world's own
// text under the key, else the string table's.
const char* SubtitleSystem::textOf(World& world, u64 key) const
{
    const char* text = quern::entity::getLocalizedText(world, key, world.language, nullptr);
    if (!text && m_strings)
        text = m_strings->find(key);
    return text;
}

// A text of several lines is replaced by its parts, each pushed as a line of
// its own under the key of its text. Each slot is looked at once per frame,
// so a part whose own text has line feeds cannot split without end.
void SubtitleSystem::splitLines(World& world)
{
    for (u64 i = 0; i < kLineCount; ++i) {
        if (m_lines[i].key == 0)
            continue;
        const char* text = textOf(world, m_lines[i].key);
        if (!text || !std::strchr(text, '\n'))
            continue;
        clearSubtitles();
        pushParts(text);
    }
}

// Every part a line feed ends, then the text after the last one when there
// is any, so that a final line without its own line feed still shows.
void SubtitleSystem::pushParts(const char* text)
{
    const char* part = text;
    for (const char* end = std::strchr(part, '\n'); end; end = std::strchr(part, '\n')) {
        pushSubtitle(quern::strings::murmurHash64A(part, static_cast<u64>(end - part), quern::strings::kInternerSeed));
        part = end + 1;
    }
    if (*part != '\0')
        pushSubtitle(quern::strings::murmurHash64A(part, std::strlen(part), quern::strings::kInternerSeed));
}

void SubtitleSystem::drawLines(World& world)
{
    if (!m_overlay)
        return;
    static const TextStyle kShadow = subtitleStyle(0.0f, 0.0f, 0.0f);
    static const TextStyle kText = subtitleStyle(1.0f, 1.0f, 1.0f);
    for (const SubtitleLine& line : m_lines) {
        if (line.key == 0)
            continue;
        const char* text = textOf(world, line.key);
        if (!text)
            continue;
        const f32 y = std::round(line.y);
        m_overlay->addText(text, kCentreX + 1.0f, y + 1.0f, kShadow);
        m_overlay->addText(text, kCentreX, y, kText);
    }
}

} // namespace harmonize
