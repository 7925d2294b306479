#include "quern/settings/IniParser.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using quern::i32;

struct Entry {
    std::string section;
    std::string key;
    std::optional<std::string> value;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& e)
{
    return out << '[' << e.section << "] '" << e.key << "' = " << (e.value ? "'" + *e.value + "'" : "null");
}

struct Recorder {
    std::vector<Entry> entries;
    std::vector<i32> results; // returned in turn, 0 once exhausted
};

i32 record(void* context, const char* section, const char* key, const char* value)
{
    auto* recorder = static_cast<Recorder*>(context);
    const size_t index = recorder->entries.size();
    recorder->entries.push_back({ section, key, value ? std::optional<std::string>(value) : std::nullopt });
    return index < recorder->results.size() ? recorder->results[index] : 0;
}

std::vector<Entry> parse(const std::string& text)
{
    Recorder recorder;
    EXPECT_EQ(quern::settings::parseIniText(text.c_str(), nullptr, &record, &recorder), 0);
    return recorder.entries;
}

struct IniCase {
    const char* name;
    const char* text;
    std::vector<Entry> expected;
};

TEST(IniParser, SplitsTextIntoEntries)
{
    const IniCase cases[] = {
        { "section and entry", "[Audio]\nenabled=0\n", { { "Audio", "enabled", "0" } } },
        { "blanks around separator", "key = value\n", { { "", "key", "value" } } },
        { "colon separator", "key:value\n", { { "", "key", "value" } } },
        { "doubled separator", "key==value\n", { { "", "key", "value" } } },
        { "mixed separators after key", "key =: \tvalue\n", { { "", "key", "value" } } },
        { "last line without line end", "a=1\nb=2", { { "", "a", "1" }, { "", "b", "2" } } },
        { "empty value before line end", "flag=\nnext=1\n", { { "", "flag", "" }, { "", "next", "1" } } },
        { "empty value at end of text", "flag=", { { "", "flag", "" } } },
        { "CR LF line ends", "[S]\r\na=1\r\nb=2\r\n", { { "S", "a", "1" }, { "S", "b", "2" } } },
        { "trailing blanks of value kept", "name=ab  \n", { { "", "name", "ab  " } } },
        { "inner blanks of value kept", "title=Tin Lantern\n", { { "", "title", "Tin Lantern" } } },
        { "indented lines", "  [Video]\n\t  width = 640\n", { { "Video", "width", "640" } } },
        { "comment lines", "# c\n; c\n[A]\n  # x=1\nk=v\n", { { "A", "k", "v" } } },
        { "trailing comments", "[A] # note\nk = v  ; note\nw=3\t#x\n", { { "A", "k", "v" }, { "A", "w", "3" } } },
        { "marks inside a value", "w=3#x\nlist=a;b ; c\n", { { "", "w", "3#x" }, { "", "list", "a;b" } } },
        { "comment right after the separator's blanks", "k = ;note\n", { { "", "k", "" } } },
        { "mark right after the separator", "k=;x\n", { { "", "k", ";x" } } },
        { "marks inside a key", "a;b=1\nc#d\n", { { "", "a;b", "1" }, { "", "c#d", std::nullopt } } },
        { "section name not trimmed", "[ Audio ]\nk=v\n", { { " Audio ", "k", "v" } } },
        { "section switches", "a=1\n[X]\nb=2\n[Y]\nc=3\n", { { "", "a", "1" }, { "X", "b", "2" }, { "Y", "c", "3" } } },
        { "key alone on its line", "headless\nworkers=4\n",
            { { "", "headless", std::nullopt }, { "", "workers", "4" } } },
        { "key alone at end of text", "workers=4\nheadless  ",
            { { "", "workers", "4" }, { "", "headless", std::nullopt } } },
        { "key alone before comment", "headless # on\n", { { "", "headless", std::nullopt } } },
        { "empty key", "=5\n", { { "", "", "5" } } },
        { "empty text", "", {} },
        { "only blanks and comments", " \n\t\n# x\n", {} },
        { "value may hold separators", "path=a:b=c\n", { { "", "path", "a:b=c" } } },
    };
    for (const IniCase& c : cases)
        EXPECT_EQ(parse(c.text), c.expected) << c.name;
}

// Settings are saved one "key=value" line each; every value reads back exactly
// as it was written unless a blank stands before a '#' or ';' in it (that is
// where a comment begins).
TEST(IniParser, SavedValuesReadBackWhole)
{
    const char* const values[] = {
        "a;b",
        "a#b",
        "x;",
        "x#",
        ";",
        "#",
        ";lead",
        "#lead",
        "C:/games;D:/games",
        "[not a section]",
        "k=v",
        "a:b",
        "Tin Lantern",
        "",
        "3.5",
    };
    for (const char* value : values) {
        const std::string saved = std::string("[Game]\nkey=") + value + "\nnext=1\n";
        const std::vector<Entry> expected = { { "Game", "key", value }, { "Game", "next", "1" } };
        EXPECT_EQ(parse(saved), expected) << value;
    }
}

TEST(IniParser, HeaderWithoutClosingBracketEndsScanWithCurrentResult)
{
    Recorder recorder;
    recorder.results = { 2 };
    const char text[] = "a=1\n[Broken\nb=2\n";
    EXPECT_EQ(quern::settings::parseIniText(text, nullptr, &record, &recorder), 2);
    ASSERT_EQ(recorder.entries.size(), 1u);
    EXPECT_EQ(recorder.entries[0].key, "a");
}

TEST(IniParser, FirstNonZeroResultWinsAndEveryEntryIsApplied)
{
    Recorder recorder;
    recorder.results = { 0, 1, 2, 0 };
    EXPECT_EQ(quern::settings::parseIniText("a=1\nb=2\nc=3\nd=4\n", nullptr, &record, &recorder), 1);
    EXPECT_EQ(recorder.entries.size(), 4u);
}

TEST(IniParser, ParsesOnlyTheGivenRangeAndLeavesTheInputUntouched)
{
    const std::string text = "a=1\nb=2\nc=3\n";
    const std::string before = text;
    Recorder recorder;
    // The range ends inside the second value: it must not read on into "c=3".
    const char* end = text.c_str() + text.find("2");
    EXPECT_EQ(quern::settings::parseIniText(text.c_str(), end, &record, &recorder), 0);
    const std::vector<Entry> expected = { { "", "a", "1" }, { "", "b", "" } };
    EXPECT_EQ(recorder.entries, expected);
    EXPECT_EQ(text, before);
}

TEST(IniParser, NullTextHasNoEntries)
{
    Recorder recorder;
    EXPECT_EQ(quern::settings::parseIniText(nullptr, nullptr, &record, &recorder), 0);
    EXPECT_TRUE(recorder.entries.empty());
}

} // namespace
