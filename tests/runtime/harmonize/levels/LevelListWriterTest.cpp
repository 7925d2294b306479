// The content tool's level lists: the bytes it writes, checked against an
// image written apart from it, the sources it refuses, and the world script
// that must end with the level list.

#include "LevelListWriter.h"

#include "LevelListBytes.h"

#include "harmonize/levels/LevelList.h"

#include "runtime/quern/assets/DepotTestContent.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace harmonize::test;
using quern::assetbuild::buildLevelList;
using quern::test::assetId;
using quern::test::ContentAsset;
using quern::test::DepotContent;

// The manifest's assets by name: the ids fullLevelListSpec() holds.
const std::map<std::string, u64> kIds = { { "g4", 0x0401 }, { "g12", 0x0c01 }, { "g20", 0x1401 }, { "g28", 0x1c01 },
    { "font", 0x2401 }, { "g44", 0x2c01 }, { "g52", 0x3401 }, { "g60", 0x3c01 }, { "g68", 0x4401 }, { "g76", 0x4c01 },
    { "level.snd", 0xAAAA000000000001ull }, { "title.snd", 0x7171 }, { "menu.snd", 0x7272 }, { "final.snd", 0x7373 },
    { "start.snd", 0x7474 }, { "sky.dds", 0x5151 }, { "sea.dds", 0x5252 }, { "extra.snd", 0x6161 } };

TEST(LevelListWriter, WritesTheLayoutByteForByte)
{
    std::vector<u8> image;
    std::string error;
    ASSERT_TRUE(buildLevelList("# every part\n"
                               "world 1 2\nworld 3 -4\nworld 0x1 2\n"
                               "global 4 g4\nglobal 12 g12\nglobal 20 g20\nglobal 28 g28\nglobal 36 font\n"
                               "global 44 g44\nglobal 52 g52\nglobal 60 g60\nglobal 68 g68\nglobal 76 g76\n"
                               "level 1 id 0x101 chapter 2 sound level.snd name Second entry\n"
                               "level 0 chapter -1 id 258 name First entry\n"
                               "title 2 sound title.snd\nmenu 0 sound menu.snd\nfinal 1 sound final.snd\n"
                               "start 2 sound start.snd texture sky.dds texture sea.dds\n"
                               "extra 1 sound extra.snd\nextra 2\n",
        kIds, image, error))
        << error;
    EXPECT_EQ(image, writeLevelListImage(fullLevelListSpec()).bytes);

    ASSERT_TRUE(buildLevelList("# nothing\n", kIds, image, error)) << error;
    EXPECT_EQ(image, (std::vector<u8> { 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
}

TEST(LevelListWriter, ANameFillsItsFieldUpToTheByteBeforeTheReverb)
{
    const std::string longest(103, 'n');
    std::vector<u8> image;
    std::string error;
    ASSERT_TRUE(buildLevelList("world 0 0\nlevel 0 id 1 chapter -1 name " + longest + "\n", {}, image, error)) << error;
    harmonize::LevelList list;
    ASSERT_TRUE(list.parse(image.data(), image.size(), &error)) << error;
    EXPECT_EQ(harmonize::LevelList::recordName(list.levelRecord(0)), longest);
    EXPECT_EQ(harmonize::LevelList::recordChapter(list.levelRecord(0)), -1);
    EXPECT_FALSE(buildLevelList("world 0 0\nlevel 0 id 1 name " + longest + "n\n", {}, image, error));
    EXPECT_EQ(error, "line 2: the name has 104 bytes; the record holds 103");
}

TEST(LevelListWriter, LevelsAndExtraEntriesCarryTheirMusicAmbienceAndReverb)
{
    std::string reverb;
    for (int k = 0; k < 27; ++k)
        reverb += " " + std::to_string(k + 1) + ".5";
    const std::string source = "world 0 0\nworld 0 1\n"
                               "level 0 id 1 music theme ambience wind reverb"
        + reverb
        + " name First\n"
          "level 1 id 2 name Second\n"
          "extra 1 music other ambience rain\n";
    std::vector<u8> image;
    std::string error;
    ASSERT_TRUE(buildLevelList(source, {}, image, error)) << error;
    harmonize::LevelList list;
    ASSERT_TRUE(list.parse(image.data(), image.size(), &error)) << error;
    using harmonize::LevelList;
    const u8* first = list.levelRecord(0);
    EXPECT_EQ(LevelList::recordMusicName(first), "theme");
    EXPECT_EQ(LevelList::recordAmbienceName(first), "wind");
    EXPECT_TRUE(LevelList::recordReverbEnabled(first));
    const quern::audio::ReverbParameters parameters = LevelList::recordReverbParameters(first);
    EXPECT_EQ(parameters.density, 1.5f);
    EXPECT_EQ(parameters.reflectionsPan[2], 13.5f);
    EXPECT_EQ(parameters.roomRolloffFactor, 26.5f);
    EXPECT_EQ(parameters.decayHFLimit, 27);
    EXPECT_EQ(LevelList::recordName(first), std::string("First"));
    const u8* second = list.levelRecord(1);
    EXPECT_FALSE(LevelList::recordReverbEnabled(second));
    EXPECT_EQ(LevelList::recordMusicName(second), "");
    EXPECT_EQ(LevelList::extraMusicName(list.extraEntry(0)), "other");
    EXPECT_EQ(LevelList::extraAmbienceName(list.extraEntry(0)), "rain");
}

TEST(LevelListWriter, ALevelNamesItsLeaderboardWithinTheRecordsFreeTail)
{
    using harmonize::LevelList;
    const std::string longest(LevelList::kRecordLeaderboardCapacity - 1, 'b');
    const std::string source = "world 0 0\nworld 0 1\nworld 0 2\n"
                               "level 2 id 3 music theme leaderboard "
        + longest
        + " chapter 4 name Third\n"
          "level 1 id 2 name Second\n";
    std::vector<u8> image;
    std::string error;
    ASSERT_TRUE(buildLevelList(source, {}, image, error)) << error;
    LevelList list;
    ASSERT_TRUE(list.parse(image.data(), image.size(), &error)) << error;
    const u8* third = list.findRecordOfIndex(2);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(LevelList::recordLeaderboardName(third), longest);
    // Its neighbours keep their fields.
    EXPECT_EQ(LevelList::recordMusicName(third), "theme");
    EXPECT_EQ(LevelList::recordChapter(third), 4);
    EXPECT_STREQ(LevelList::recordLeaderboardName(list.findRecordOfIndex(1)), "");
    EXPECT_EQ(list.findRecordOfIndex(0), nullptr);

    EXPECT_FALSE(buildLevelList("world 0 0\nlevel 0 id 1 leaderboard " + longest + "b name A\n", {}, image, error));
    EXPECT_EQ(error, "line 2: leaderboard " + longest + "b is longer than 31 bytes");
    EXPECT_FALSE(buildLevelList("world 0 0\nlevel 0 id 1 leaderboard a leaderboard b name A\n", {}, image, error));
    EXPECT_EQ(error, "line 2: leaderboard is given twice");
}

TEST(LevelListWriter, IndicesMayNameWorldEntriesListedLater)
{
    std::vector<u8> image;
    std::string error;
    ASSERT_TRUE(buildLevelList("level 1 id 1 name B\ntitle 1\nworld 0 0\nworld 0 1\n", {}, image, error)) << error;
    harmonize::LevelList list;
    ASSERT_TRUE(list.parse(image.data(), image.size(), &error)) << error;
    EXPECT_EQ(harmonize::LevelList::recordLevelId(list.findLevelOfIndex(1)), 1);
}

TEST(LevelListWriter, RefusesSourcesNamingTheLine)
{
    const std::string worlds = "world 0 0\nworld 0 1\n";
    const struct {
        std::string source;
        const char* error;
    } cases[] = {
        { worlds + "level 0 id 0 name A\n", "line 3: a level needs an id other than 0" },
        { worlds + "level 0 name A\n", "line 3: a level needs an id other than 0" },
        { worlds + "level 0 id 5 name A\nlevel 1 id 0x5 name B\n", "line 4: level id 5 is given twice" },
        { worlds + "level 2 id 1 name A\n", "line 3: world entry 2 is outside the 2 world entries" },
        { worlds + "level -1 id 1 name A\n", "line 3: world entry -1 is outside the 2 world entries" },
        { worlds + "title 2\n", "line 3: level index 2 is outside the 2 world entries" },
        { worlds + "extra 0\nextra 7\n", "line 4: level index 7 is outside the 2 world entries" },
        { "start 0\n", "line 1: level index 0 is outside the 0 world entries" },
        { worlds + "menu 0 sound ghost.snd\n", "line 3: asset ghost.snd is not in the manifest" },
        { worlds + "level 0 id 1 sound ghost.snd name A\n", "line 3: asset ghost.snd is not in the manifest" },
        { worlds + "start 0 texture sky.dds texture ghost.dds\n", "line 3: asset ghost.dds is not in the manifest" },
        { "global 36 ghost\n", "line 1: asset ghost is not in the manifest" },
        { "global 8 font\n", "line 1: global offset 8 is not one of 4, 12, 20, 28, 36, 44, 52, 60, 68, 76" },
        { "global 84 font\n", "line 1: global offset 84 is not one of" },
        { "global 0x24 font\nglobal 36 g4\n", "line 2: global offset 36 is given twice" },
        { "global 36\n", "line 1: global takes an offset and an asset" },
        { worlds
                + "start 1 texture sky.dds texture sky.dds texture sky.dds texture sky.dds texture sky.dds"
                  " texture sky.dds texture sky.dds texture sky.dds texture sky.dds texture sky.dds"
                  " texture sea.dds\n",
            "line 3: the start level holds at most ten textures" },
        { worlds + "title 0\ntitle 1\n", "line 4: the title level is given twice" },
        { worlds + "menu 0\n\nmenu 1\n", "line 5: the menu level is given twice" },
        { worlds + "final 0\nfinal 0\n", "line 4: the final level is given twice" },
        { worlds + "start 0\nstart 1\n", "line 4: the start level is given twice" },
        { worlds + "bonus 1\n", "line 3: unknown statement bonus" },
        { "world 1\n", "line 1: world takes two numbers" },
        { "world 1 2 3\n", "line 1: world takes two numbers" },
        { "world 1 two\n", "line 1: world takes two numbers" },
        { "world 1 2147483648\n", "line 1: world takes two numbers" },
        { "world 1 0x123456789\n", "line 1: world takes two numbers" },
        { worlds + "title\n", "line 3: title needs a level index" },
        { worlds + "extra x\n", "line 3: extra needs a level index" },
        { worlds + "level 0 id 1\n", "line 3: a level needs a name, last on its line" },
        { worlds + "level 0 id 1 name   # only a comment\n", "line 3: a level needs a name, last on its line" },
        { worlds + "level 0 id 1 colour 2 name A\n",
            "line 3: level takes id, chapter, sound, music, ambience, leaderboard, reverb and then name, not colour" },
        { worlds + "level 0 id 1 chapter\n", "line 3: level takes id, chapter, sound, music, ambience, leaderboard, reverb and then name, not chapter" },
        { worlds + "level 0 id 1 id 2 name A\n", "line 3: id is given twice" },
        { worlds + "level 0 id one name A\n", "line 3: id takes a number, not one" },
        { worlds + "title 0 sound title.snd sound menu.snd\n", "line 3: sound is given twice" },
        { worlds + "title 0 texture sky.dds\n", "line 3: title takes sound, not texture" },
        { worlds + "extra 0 loud\n", "line 3: extra takes sound, music and ambience, not loud" },
        { worlds + "extra 0 music a music b\n", "line 3: music is given twice" },
        { worlds + "extra 0 ambience " + std::string(64, 'a') + "\n", "line 3: ambience " },
        { worlds + "level 0 id 1 music " + std::string(64, 'm') + " name A\n", "line 3: music " },
        { worlds + "level 0 id 1 ambience " + std::string(32, 'a') + " name A\n", "line 3: ambience " },
        { worlds + "level 0 id 1 reverb 1 2 3 name A\n", "line 3: reverb takes 27 numbers" },
        { worlds + "level 0 id 1 reverb" + std::string(27 * 2, ' ') + " name A\n", "line 3: reverb takes 27 numbers" },
    };
    for (const auto& c : cases) {
        std::vector<u8> image;
        std::string error;
        EXPECT_FALSE(buildLevelList(c.source, kIds, image, error)) << c.source;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.source << "\n  gave: " << error;
    }
}

TEST(LevelListWriter, TheBuildNamesTheAssetOfABrokenList)
{
    DepotContent content;
    const std::string error = content.tryBuild({ { "levels.list", "world 0 0\ntitle 1\n", "", "levellist" } });
    EXPECT_EQ(error, "levels.list: line 2: level index 1 is outside the 1 world entries");
}

// A world script checked against the manifest's types and its level list,
// which may come after it in the manifest.
TEST(WorldScriptCheck, TheScriptListsLevelsThenTheirLevelList)
{
    const std::vector<ContentAsset> levels
        = { { "a.level", "entity a\n", "", "level" }, { "b.level", "entity b\n", "", "leveltext" }, { "c.snd", "S" } };
    const auto build = [&](const std::string& script, const std::string& list) {
        std::vector<ContentAsset> assets = levels;
        assets.push_back({ "scenes", script, "", "worldscript" });
        assets.push_back({ "levels.list", list, "", "levellist" });
        DepotContent content;
        return content.tryBuild(assets);
    };
    const std::string twoEntries = "world 0 0\nworld 0 1\n";
    EXPECT_EQ(build("a.level\nb.level\nlevels.list\n", twoEntries), "");
    const struct {
        std::string script;
        std::string list;
        const char* error;
    } cases[] = {
        { "a.level\nb.level\n", twoEntries, "line 4: the world script does not end with a level list" },
        { "a.level\nlevels.list\n", twoEntries,
            "line 4: world script line 2: the level list levels.list has 2 world entries for the script's 1 levels" },
        { "a.level\nb.level\nb.level\n# the list\nlevels.list\n", twoEntries,
            "line 4: world script line 5: the level list levels.list has 2 world entries for the script's 3 levels" },
        { "a.level\nlevels.list\nb.level\n", twoEntries,
            "line 4: world script line 3: b.level follows the level list levels.list, which ends the script" },
        { "a.level\nlevels.list\nlevels.list\n", twoEntries,
            "line 4: world script line 3: levels.list follows the level list levels.list, which ends the script" },
        { "a.level\nc.snd\nlevels.list\n", twoEntries,
            "line 4: world script line 2: c.snd is of type data, neither a level nor a level list" },
        { "levels.list\n", "", "line 4: the world script names no level" },
        { "a.level\nghost.level\nlevels.list\n", twoEntries,
            "line 4: world script line 2: level ghost.level is not in the manifest" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(build(c.script, c.list), c.error) << c.script;
}

} // namespace
