#include "harmonize/systems/SubtitleSystem.h"

#include "TestOverlay.h"
#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"

#include "quern/entity/World.h"
#include "quern/io/StringSink.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/StringInterner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::entity::LanguageEntry;
using testing::Scenario;
using testing::TestOverlay;

u64 keyOf(const char* text)
{
    return quern::strings::murmurHash64A(text, std::strlen(text), quern::strings::kInternerSeed);
}

i32 english() { return 0; }
i32 italian() { return 3; }

// A world with the subtitle system drawing into a test overlay in a
// translated game; the App's string table holds what the world's texts do not.
struct SubtitleWorld {
    explicit SubtitleWorld(i32 (*language)() = italian)
        : subtitles(new SubtitleSystem(&overlay.batch, &strings, language))
    {
        scene.addSystem(subtitles);
        scene.world().attachSystems(nullptr);
        scene.start();
    }
    ~SubtitleWorld()
    {
        strings.release();
        Settings::Game.subtitles = true;
    }

    u64 addText(const char* text)
    {
        scene.world().texts->internIndex(text, std::strlen(text));
        return keyOf(text);
    }
    void addTranslation(i32 language, u64 key, const char* translated)
    {
        scene.world().languageTables[language].append(LanguageEntry { key, addText(translated) });
    }
    void setStringTable(std::vector<u64> keys, std::vector<const char*> texts)
    {
        quern::StringSink sink;
        quern::serialize::writeStringTable(sink, keys.data(), texts.data(), static_cast<u32>(keys.size()));
        quern::StringSource source(sink.text.data(), sink.text.size());
        quern::serialize::readStringTable(source, strings, nullptr);
    }
    void frame()
    {
        overlay.batch.endFrame();
        scene.world().variableUpdate(0);
    }
    std::vector<u64> keys() const
    {
        std::vector<u64> out;
        for (u64 i = 0; i < SubtitleSystem::kLineCount; ++i)
            out.push_back(subtitles->lines()[i].key);
        return out;
    }
    // The texts drawn this frame, shadows left out.
    std::vector<std::string> shown() const
    {
        std::vector<std::string> out;
        for (u64 i = 1; i < overlay.items().size(); i += 2)
            out.emplace_back(overlay.items()[i].text);
        return out;
    }

    TestOverlay overlay;
    quern::serialize::StringTable strings;
    Scenario scene { 4 };
    SubtitleSystem* subtitles;
};

TEST(SubtitleSystem, AFourthLineDropsTheOldest)
{
    SubtitleWorld w;
    w.subtitles->pushSubtitle(11);
    EXPECT_EQ(w.keys(), (std::vector<u64> { 11, 0, 0 }));
    w.subtitles->pushSubtitle(12);
    w.subtitles->pushSubtitle(13);
    EXPECT_EQ(w.keys(), (std::vector<u64> { 11, 12, 13 }));
    w.subtitles->pushSubtitle(14);
    EXPECT_EQ(w.keys(), (std::vector<u64> { 12, 13, 14 }));
    w.subtitles->clearSubtitles();
    EXPECT_EQ(w.keys(), (std::vector<u64> { 0, 0, 0 }));
}

TEST(SubtitleSystem, AttachingToAWorldEmptiesTheLines)
{
    SubtitleWorld w;
    w.subtitles->pushSubtitle(11);
    w.subtitles->pushSubtitle(12);
    // The next level.
    w.scene.world().clear();
    w.scene.world().attachSystems(nullptr);
    EXPECT_EQ(w.keys(), (std::vector<u64> { 0, 0, 0 }));
}

TEST(SubtitleSystem, LinesAreDrawnCentredAtTheBottomOverAShadow)
{
    SubtitleWorld w;
    for (const char* text : { "one", "two", "three" })
        w.subtitles->pushSubtitle(w.addText(text));
    w.frame();
    const auto& items = w.overlay.items();
    ASSERT_EQ(items.size(), 6u);
    const char* texts[] = { "one", "two", "three" };
    for (u64 line = 0; line < 3; ++line) {
        const f32 y = 900.0f + 32.0f * static_cast<f32>(line);
        EXPECT_EQ(w.subtitles->lines()[line].y, y);
        for (u64 layer = 0; layer < 2; ++layer) {
            const OverlayItem& item = items[line * 2 + layer];
            const bool shadow = layer == 0;
            const f32 grey = shadow ? 0.0f : 1.0f;
            SCOPED_TRACE(std::string(texts[line]) + (shadow ? " shadow" : " text"));
            EXPECT_EQ(item.kind, OverlayItemKind::MeshText);
            EXPECT_STREQ(item.text, texts[line]);
            EXPECT_EQ(item.position[0], shadow ? 961.0f : 960.0f);
            EXPECT_EQ(item.position[1], shadow ? y + 1.0f : y);
            for (u64 c = 0; c < 3; ++c)
                EXPECT_EQ(item.colour[c], grey);
            EXPECT_EQ(item.colour[3], 1.0f);
            EXPECT_EQ(item.textStyle.lineAlignment, 1);
            EXPECT_EQ(item.textStyle.anchor, 4);
            EXPECT_EQ(item.textStyle.scale, 10.0f);
            EXPECT_EQ(item.textStyle.pixelSize, 32);
            EXPECT_EQ(item.textStyle.depth, 0.0f);
            EXPECT_EQ(item.textStyle.lineSpacing, 0.0f);
            EXPECT_EQ(u64 { item.textStyle.font }, 0u);
        }
    }
}

TEST(SubtitleSystem, NothingShowsUntranslatedOrWithTheSettingOff)
{
    const struct {
        i32 (*language)();
        bool setting;
        bool shown;
    } cases[] = {
        { english, true, false },
        { english, false, false },
        { italian, false, false },
        { italian, true, true },
    };
    for (const auto& c : cases) {
        SubtitleWorld w(c.language);
        Settings::Game.subtitles = c.setting;
        w.subtitles->pushSubtitle(w.addText("line"));
        w.frame();
        EXPECT_EQ(w.overlay.items().size(), c.shown ? 2u : 0u) << c.language() << " " << c.setting;
    }
}

TEST(SubtitleSystem, TextsComeFromTheTranslationTheWorldThenTheStringTable)
{
    SubtitleWorld w;
    const u64 translated = w.addText("good morning");
    w.addTranslation(3, translated, "buongiorno");
    const u64 worldOnly = w.addText("in the world");
    constexpr u64 kTableOnly = 0x5151;
    constexpr u64 kNowhere = 0x5252;
    w.setStringTable({ kTableOnly, worldOnly }, { "in the table", "shadowed by the world" });
    struct Case {
        i32 worldLanguage;
        std::vector<u64> keys;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        { 3, { translated, worldOnly, kTableOnly }, { "buongiorno", "in the world", "in the table" } },
        { -1, { translated }, { "good morning" } },
        { 2, { translated }, { "good morning" } }, // no German translation
        { 3, { kNowhere, kTableOnly }, { "in the table" } }, // a line without text is skipped
    };
    for (const Case& c : cases) {
        w.scene.world().language = c.worldLanguage;
        w.subtitles->clearSubtitles();
        for (u64 key : c.keys)
            w.subtitles->pushSubtitle(key);
        w.frame();
        EXPECT_EQ(w.shown(), c.shown) << "world language " << c.worldLanguage;
    }
}

TEST(SubtitleSystem, ATextOfSeveralLinesBecomesALinePerPart)
{
    struct Case {
        const char* what;
        const char* text;
        std::vector<const char*> parts; // the parts' keys, in their slots
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        { "parts ended by line feeds", "Hello\nthere\n", { "Hello", "there" }, { "Hello", "there" } },
        { "a last part without a line feed", "Hello\nthere", { "Hello", "there" }, { "Hello", "there" } },
        { "more parts than lines", "Hello\nthere\nmy\nfriend\n", { "there", "my", "friend" },
            { "there", "my", "friend" } },
        { "a part without a text of its own", "Hello\nstranger\n", { "Hello", "stranger" }, { "Hello" } },
    };
    for (const Case& c : cases) {
        SubtitleWorld w;
        for (const char* part : { "Hello", "there", "my", "friend" })
            w.addText(part);
        const u64 older = w.addText("older");
        w.subtitles->pushSubtitle(older);
        w.subtitles->pushSubtitle(w.addText(c.text));
        w.frame();
        std::vector<u64> expected;
        for (const char* part : c.parts)
            expected.push_back(keyOf(part));
        expected.resize(SubtitleSystem::kLineCount, 0);
        EXPECT_EQ(w.keys(), expected) << c.what;
        EXPECT_EQ(w.shown(), c.shown) << c.what;
        // The parts stay as they are in later frames.
        w.frame();
        EXPECT_EQ(w.keys(), expected) << c.what;
    }
}

} // namespace
} // namespace harmonize
