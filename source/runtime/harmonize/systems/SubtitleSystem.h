#pragma once
// Spoken lines at the bottom of the screen: up to three text keys, pushed by
// subtitle triggers and cutscenes, drawn each frame centred with a one-unit
// drop shadow. A fourth line pushes the oldest out. A text holding line feeds
// becomes one line per part, each found under the key of its own text.
//
// Subtitles show only in translated games (not for language 0, English) and
// while the Game setting "subtitles" is on.

#include "quern/Types.h"
#include "quern/entity/System.h"

namespace quern::serialize {
struct StringTable;
}

namespace harmonize {

using quern::f32;
using quern::i32;
using quern::u64;

class OverlayBatch;

struct SubtitleLine {
    u64 key; // text key; 0 = an empty slot
    f32 y; // of the line's centre on the overlay's virtual screen
};

class SubtitleSystem final : public quern::entity::System {
public:
    static constexpr u64 kLineCount = 3;
    static constexpr f32 kFirstLineY = 900.0f;
    static constexpr f32 kLineSpacing = 32.0f;

    // `strings` holds the texts a world does not; `language` gives the
    // process's language (getLanguage; tests pass their own). Without an
    // overlay nothing is drawn.
    SubtitleSystem(OverlayBatch* overlay, const quern::serialize::StringTable* strings, i32 (*language)() = nullptr);

    void attach(quern::memory::Allocator* allocator) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;

    // The first empty slot takes the key; with none, the lines move up one
    // and the key becomes the last.
    void pushSubtitle(u64 key);
    // Every slot empty.
    void clearSubtitles();

    const SubtitleLine* lines() const { return m_lines; }

private:
    const char* textOf(quern::entity::World& world, u64 key) const;
    void splitLines(quern::entity::World& world);
    void pushParts(const char* text);
    void drawLines(quern::entity::World& world);

    OverlayBatch* m_overlay;
    const quern::serialize::StringTable* m_strings;
    i32 (*m_language)();
    SubtitleLine m_lines[kLineCount] {};
};

} // namespace harmonize
