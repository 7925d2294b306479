// The order of play over small level lists written by the content tool.

#include "harmonize/levels/NextLevel.h"

#include "harmonize/Settings.h"
#include "harmonize/levels/LevelList.h"

#include "LevelListWriter.h"

#include "quern/entity/WorldSwapper.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace {

using namespace harmonize;
using quern::u64;

// Five world entries; records for entries 0, 1 and 3 (entry 3 is recorded
// before the others); entry 2 is an extra level, entry 4 has nothing.
constexpr const char* kPlain = "world 0 0\nworld 0 1\nworld 0 2\nworld 0 3\nworld 0 4\n"
                               "level 3 id 4 name D\nlevel 0 id 1 name A\nlevel 1 id 2 name B\nextra 2\n";
// The same with start 4, title 2 and final 1.
constexpr const char* kFramed = "world 0 0\nworld 0 1\nworld 0 2\nworld 0 3\nworld 0 4\n"
                                "level 3 id 4 name D\nlevel 0 id 1 name A\nlevel 1 id 2 name B\nextra 2\n"
                                "start 4\ntitle 2\nfinal 1\n";
// The last entry recorded, with a final level but no title.
constexpr const char* kFinalOnly = "world 0 0\nworld 0 1\nworld 0 2\n"
                                   "level 1 id 1 name A\nlevel 2 id 2 name B\nfinal 0\n";
// Entries 0 and 2 are equal: index 2 finds the record of entry 0.
constexpr const char* kTwins = "world 7 7\nworld 8 8\nworld 7 7\nworld 9 9\nlevel 0 id 1 name A\n";
// No level records at all.
constexpr const char* kBare = "world 0 0\nworld 0 1\nworld 0 2\nstart 1\ntitle 2\n";
constexpr const char* kBareNoTitle = "world 0 0\nworld 0 1\nworld 0 2\nstart 2\n";

class NextLevel : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        for (const char* name : { "levels/a", "levels/b", "levels/c", "levels/d", "levels/e", "levels/list" })
            swapper.script.append<u64>(quern::strings::murmurHash64A(name, std::strlen(name), 0));
    }
    void TearDown() override { Settings::resetToDefaults(); }

    void load(const char* source)
    {
        std::vector<quern::u8> image;
        std::string error;
        ASSERT_TRUE(quern::assetbuild::buildLevelList(source, {}, image, error)) << error;
        ASSERT_TRUE(list.parse(image.data(), image.size(), &error)) << error;
    }

    LevelList list;
    quern::entity::WorldSwapper swapper { nullptr, nullptr };
};

TEST_F(NextLevel, AfterALevelComesTheNextEntryThenTheTitleFinalOrFirstRecord)
{
    const struct {
        const char* list;
        i32 index;
        i32 expected;
    } cases[] = {
        { kPlain, 0, 1 }, // recorded: the next entry
        { kPlain, 1, 2 }, // the next entry need not be recorded
        { kPlain, 3, 4 }, { kPlain, 2, 3 }, // an extra level: the next entry
        { kPlain, 4, 0 }, // neither recorded nor extra
        { kPlain, -1, 0 }, // outside the entries
        { kPlain, 5, 0 }, { kFramed, 3, 4 }, { kFinalOnly, 2, 0 }, // the last entry: no title, so the final level
        { kFinalOnly, 1, 2 }, { kTwins, 2, 1 }, // the record of entry 0 answers for entry 2
        { kTwins, 3, 0 }, { kBare, 1, 0 }, // no records
        { "world 1 1\nworld 2 2\nworld 3 3\nlevel 2 id 5 name Last\ntitle 0\nfinal 1\n", 2, 0 }, // title before final
        { "world 1 1\nworld 2 2\nlevel 1 id 5 name Last\n", 1, 1 }, // wraps to the first record's entry
        { "world 1 1\nworld 2 2\nextra 1\n", 1, 0 }, // an extra at the last entry
    };
    for (const auto& c : cases) {
        load(c.list);
        EXPECT_EQ(nextLevelAfter(c.index, list), c.expected) << c.list << "index " << c.index;
    }
}

TEST_F(NextLevel, PlayGoesFromStartToTitleToTheFirstRecordAndEndsAfterTheFinal)
{
    const struct {
        const char* list;
        i32 current;
        i32 expected;
    } cases[] = {
        { kFramed, -1, 4 }, // play starts at the start level
        { kPlain, -1, 0 }, // without one, at level 0
        { kFramed, 4, 2 }, // start -> title
        { kFramed, 2, 3 }, // title -> the first record's entry
        { kFramed, 1, -1 }, // the final level ends play
        { kFramed, 3, 4 }, // others by their records
        { kFramed, 0, 1 }, { kPlain, 3, 4 }, { kBare, 1, 2 }, // start -> title
        { kBare, 2, 0 }, // title, no records, last entry: the level after it
        { kBareNoTitle, 2, 0 }, // start without title, no records, last entry
        { "world 0 0\nworld 0 1\nworld 0 2\nstart 0\n", 0, 1 }, // start, no records: the next entry
        { "world 0 0\nworld 0 1\nworld 0 2\nlevel 2 id 3 name B\nstart 0\n", 0, 2 }, // no title: first record
        { "world 0 0\nworld 0 1\nstart 1\nfinal 1\n", 1, 0 }, // the start level wins over the final
    };
    for (const auto& c : cases) {
        load(c.list);
        EXPECT_EQ(getNextLevelIndex(c.current, swapper, list), c.expected) << c.list << "current " << c.current;
    }
}

TEST_F(NextLevel, TheStartLevelSettingNamesALevelOfTheWorldScript)
{
    load(kFramed);
    const struct {
        const char* name;
        i32 expected;
    } cases[] = {
        { "levels/c", 2 }, { "levels/e", 4 }, { "levels/nowhere", 0 },
        { "levels/list", 0 }, // the script's last entry is the level list, not a level
        { "", 4 }, // empty: the list's start level
    };
    for (const auto& c : cases) {
        Settings::Development.startLevel = c.name;
        EXPECT_EQ(getNextLevelIndex(-1, swapper, list), c.expected) << c.name;
        // Only the start of play reads the setting.
        EXPECT_EQ(getNextLevelIndex(4, swapper, list), 2) << c.name;
    }
}

TEST_F(NextLevel, TestModeVisitsEveryEntryInOrderFromTestStart)
{
    load(kFramed);
    Settings::Test.test = true;
    Settings::Test.testStart = 3;
    Settings::Development.startLevel = "levels/b";
    const std::pair<i32, i32> cases[] = { { -1, 3 }, { 0, 1 }, { 1, 2 }, { 2, 3 }, { 3, 4 }, { 4, -1 } };
    for (const auto& [current, expected] : cases)
        EXPECT_EQ(getNextLevelIndex(current, swapper, list), expected) << current;
}

} // namespace
