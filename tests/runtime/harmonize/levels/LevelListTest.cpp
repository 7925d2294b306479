// The level list read from its bytes: every part present or absent, lists the
// content tool wrote, each refusal of a list that does not hold together, and
// loading through the depots the tool writes.

#include "harmonize/levels/LevelList.h"

#include "LevelListBytes.h"
#include "LevelListWriter.h"

#include "runtime/quern/assets/DepotTestContent.h"
#include "support/CountingAllocator.h"

#include "quern/strings/Format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>

namespace {

using namespace harmonize;
using namespace harmonize::test;
using quern::test::assetId;
using quern::test::ContentAsset;
using quern::test::DepotContent;

bool parse(LevelList& list, const std::vector<u8>& bytes, std::string* error = nullptr)
{
    return list.parse(bytes.data(), bytes.size(), error);
}

void expectEmpty(const LevelList& list)
{
    EXPECT_FALSE(list.loaded());
    EXPECT_EQ(list.worldEntryCount(), 0);
    EXPECT_EQ(list.levelRecordCount(), 0);
    EXPECT_EQ(list.extraEntryCount(), 0);
    EXPECT_EQ(list.globalRecord(), nullptr);
    EXPECT_EQ(list.titleLevel(), nullptr);
    EXPECT_EQ(list.startLevel(), nullptr);
}

// What fullLevelListSpec() holds, read through the accessors.
void expectFullList(const LevelList& list)
{
    ASSERT_TRUE(list.loaded());
    ASSERT_EQ(list.worldEntryCount(), 3);
    EXPECT_EQ(list.worldEntry(1), (WorldEntry { 3, -4 }));
    ASSERT_NE(list.globalRecord(), nullptr);
    for (u64 i = 0; i < 10; ++i)
        EXPECT_EQ(list.globalAssetId(LevelList::kGlobalAssetOffsets[i]), LevelList::kGlobalAssetOffsets[i] << 8 | 1);
    EXPECT_EQ(list.globalAssetId(LevelList::kOverlayFontOffset), 0x2401u);

    ASSERT_EQ(list.levelRecordCount(), 2);
    const u8* second = list.levelRecord(0);
    EXPECT_EQ(LevelList::recordWorldEntryIndex(second), 1);
    EXPECT_EQ(LevelList::recordLevelId(second), 0x101);
    EXPECT_STREQ(LevelList::recordName(second), "Second entry");
    EXPECT_EQ(LevelList::recordChapter(second), 2);
    EXPECT_EQ(LevelList::recordSoundLibrary(second), 0xAAAA000000000001ull);
    EXPECT_EQ(LevelList::recordChapter(list.levelRecord(1)), -1);
    EXPECT_EQ(list.levelRecord(2), nullptr);

    const std::pair<const u8*, std::pair<i32, u64>> references[]
        = { { list.titleLevel(), { 2, 0x7171 } }, { list.menuLevel(), { 0, 0x7272 } },
              { list.finalLevel(), { 1, 0x7373 } }, { list.startLevel(), { 2, 0x7474 } } };
    for (const auto& [reference, expected] : references) {
        ASSERT_NE(reference, nullptr);
        EXPECT_EQ(LevelList::referenceLevelIndex(reference), expected.first);
        EXPECT_EQ(LevelList::referenceSoundLibrary(reference), expected.second);
    }
    EXPECT_EQ(LevelList::startTextureId(list.startLevel(), 0), 0x5151u);
    EXPECT_EQ(LevelList::startTextureId(list.startLevel(), 1), 0x5252u);
    EXPECT_EQ(LevelList::startTextureId(list.startLevel(), 9), 0u);

    ASSERT_EQ(list.extraEntryCount(), 2);
    EXPECT_EQ(LevelList::extraLevelIndex(list.extraEntry(0)), 1);
    EXPECT_EQ(LevelList::extraSoundLibrary(list.extraEntry(0)), 0x6161u);
    EXPECT_EQ(LevelList::extraLevelIndex(list.extraEntry(1)), 2);
    EXPECT_EQ(list.extraEntry(2), nullptr);
}

TEST(LevelList, ReadsEveryPartOfAFullList)
{
    LevelList list;
    std::string error;
    ASSERT_TRUE(parse(list, writeLevelListImage(fullLevelListSpec()).bytes, &error)) << error;
    expectFullList(list);
}

TEST(LevelList, TheSmallestListIsItsCountsAndFiveZeroPresenceBytes)
{
    // n = 0, no global record, pad to 8, m = 0, four presence bytes, k = 0.
    const std::vector<u8> bytes = { 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 };
    LevelList list;
    std::string error;
    ASSERT_TRUE(parse(list, bytes, &error)) << error;
    EXPECT_TRUE(list.loaded());
    EXPECT_EQ(list.worldEntryCount(), 0);
    EXPECT_EQ(list.globalAssetId(LevelList::kOverlayFontOffset), 0u);
    EXPECT_EQ(list.findLevelOfIndex(0), nullptr);
}

TEST(LevelList, OptionalPartsArePresentOrAbsentIndependently)
{
    // Every combination of the five optional parts; an absent one is exactly
    // its zero presence byte, so the image shrinks by the part and its padding.
    for (int mask = 0; mask < 32; ++mask) {
        LevelListSpec spec = fullLevelListSpec();
        if (!(mask & 1))
            spec.globalIds.reset();
        if (!(mask & 2))
            spec.title.reset();
        if (!(mask & 4))
            spec.menu.reset();
        if (!(mask & 8))
            spec.final.reset();
        if (!(mask & 16))
            spec.start.reset();
        const LevelListImage image = writeLevelListImage(spec);
        LevelList list;
        std::string error;
        ASSERT_TRUE(parse(list, image.bytes, &error)) << "parts " << mask << ": " << error;
        EXPECT_EQ(list.globalRecord() != nullptr, (mask & 1) != 0) << mask;
        EXPECT_EQ(list.titleLevel() != nullptr, (mask & 2) != 0) << mask;
        EXPECT_EQ(list.menuLevel() != nullptr, (mask & 4) != 0) << mask;
        EXPECT_EQ(list.finalLevel() != nullptr, (mask & 8) != 0) << mask;
        EXPECT_EQ(list.startLevel() != nullptr, (mask & 16) != 0) << mask;
        for (const char* part : { "global", "title", "menu", "final", "start" }) {
            const std::string presence = std::string(part) + ".presence";
            EXPECT_EQ(image.bytes[image.at.at(presence)] == 0, !image.at.count(part)) << part;
        }
        // The records after the optional parts are still found where they are.
        ASSERT_EQ(list.extraEntryCount(), 2) << mask;
        EXPECT_EQ(LevelList::extraSoundLibrary(list.extraEntry(0)), 0x6161u) << mask;
        if (mask & 16) {
            EXPECT_EQ(LevelList::startTextureId(list.startLevel(), 1), 0x5252u);
        }
    }
}

TEST(LevelList, ReadsWhatTheContentToolWrites)
{
    const std::map<std::string, u64> ids = { { "font", 0xF0 }, { "tex", 0x7E }, { "snd", 0x50 } };
    std::vector<u8> image;
    std::string error;
    ASSERT_TRUE(quern::assetbuild::buildLevelList("world 1 2\nworld 3 -4\nworld 1 2\n"
                                                  "global 36 font\nglobal 0x4c tex\n"
                                                  "level 1 id 0x101 chapter 2 sound snd name  Second   entry  \n"
                                                  "level 0 chapter -1 id 258 name First entry # not the name\n"
                                                  "title 2 sound snd\nmenu 0\nfinal 1\n"
                                                  "start 2 texture tex sound snd texture font\n"
                                                  "extra 1\nextra 2 sound snd\n",
        ids, image, error))
        << error;
    LevelList list;
    ASSERT_TRUE(parse(list, image, &error)) << error;
    EXPECT_EQ(list.worldEntry(2), (WorldEntry { 1, 2 }));
    EXPECT_EQ(list.globalAssetId(36), 0xF0u);
    EXPECT_EQ(list.globalAssetId(76), 0x7Eu);
    EXPECT_EQ(list.globalAssetId(4), 0u);
    ASSERT_EQ(list.levelRecordCount(), 2);
    EXPECT_EQ(LevelList::recordLevelId(list.levelRecord(0)), 0x101);
    EXPECT_STREQ(LevelList::recordName(list.levelRecord(0)), "Second   entry");
    EXPECT_EQ(LevelList::recordSoundLibrary(list.levelRecord(0)), 0x50u);
    EXPECT_EQ(LevelList::recordChapter(list.levelRecord(1)), -1);
    EXPECT_STREQ(LevelList::recordName(list.levelRecord(1)), "First entry");
    EXPECT_EQ(LevelList::referenceSoundLibrary(list.titleLevel()), 0x50u);
    EXPECT_EQ(LevelList::referenceSoundLibrary(list.menuLevel()), 0u);
    EXPECT_EQ(LevelList::referenceLevelIndex(list.finalLevel()), 1);
    EXPECT_EQ(LevelList::startTextureId(list.startLevel(), 0), 0x7Eu);
    EXPECT_EQ(LevelList::startTextureId(list.startLevel(), 1), 0xF0u);
    EXPECT_EQ(LevelList::startTextureId(list.startLevel(), 2), 0u);
    EXPECT_EQ(LevelList::referenceSoundLibrary(list.startLevel()), 0x50u);
    EXPECT_EQ(LevelList::extraSoundLibrary(list.extraEntry(1)), 0x50u);
}

TEST(LevelList, FindsTheFirstRecordWhoseWorldEntryMatches)
{
    LevelListSpec spec;
    spec.worldEntries = { { 1, 2 }, { 5, 5 }, { 1, 2 }, { 7, 0 } };
    spec.levels = { { 1, 10, "b" }, { 2, 20, "c" }, { 0, 30, "a" } };
    LevelList list;
    ASSERT_TRUE(parse(list, writeLevelListImage(spec).bytes));
    const struct {
        WorldEntry entry;
        i32 levelId; // 0: none
    } cases[] = {
        // Entries 0 and 2 are equal: the record of entry 2 comes first.
        { { 1, 2 }, 20 },
        { { 5, 5 }, 10 },
        { { 7, 0 }, 0 },
        { { 2, 1 }, 0 },
    };
    for (const auto& c : cases) {
        const u8* record = list.findLevel(c.entry);
        EXPECT_EQ(record ? LevelList::recordLevelId(record) : 0, c.levelId) << c.entry.first << "," << c.entry.second;
    }
    EXPECT_EQ(list.findLevelOfIndex(0), list.findLevel({ 1, 2 }));
    EXPECT_EQ(list.findLevelOfIndex(3), nullptr);
    EXPECT_EQ(list.findLevelOfIndex(-1), nullptr);
    EXPECT_EQ(list.findLevelOfIndex(4), nullptr);
}

TEST(LevelList, RefusesListsThatDoNotHoldTogether)
{
    using Spoil = std::function<void(LevelListImage&)>;
    const auto setI32 = [](const char* part, quern::i64 value) -> Spoil {
        return [=](LevelListImage& image) { image.put(image.at.at(part), static_cast<u64>(value), 4); };
    };
    const auto setByte = [](const char* part, u8 value) -> Spoil {
        return [=](LevelListImage& image) { image.bytes[image.at.at(part)] = value; };
    };
    const struct {
        const char* what;
        Spoil spoil;
        const char* reason;
    } cases[] = {
        { "no byte count", [](LevelListImage& image) { image.bytes.resize(3); },
            "the list is shorter than its byte count" },
        { "count beyond the bytes", setI32("count", 10000), "the byte count states 10000 bytes but" },
        { "count short of the bytes", [](LevelListImage& image) { image.bytes.push_back(0); },
            "the byte count states" },
        { "empty block",
            [](LevelListImage& image) {
                image.bytes = { 0, 0, 0, 0 };
            },
            "the data block ends before the world entry count" },
        { "negative world entries", setI32("worldEntryCount", -1), "the world entry count is negative (-1)" },
        { "world entries beyond the block", setI32("worldEntryCount", 0x7fffffff),
            "the world entry count 2147483647 needs 17179869176 bytes" },
        { "global presence 2", setByte("global.presence", 2), "the global record's presence byte is 2, not 0 or 1" },
        { "title presence 255", setByte("title.presence", 255), "the title level's presence byte is 255, not 0 or 1" },
        { "negative levels", setI32("levelCount", -5), "the level record count is negative (-5)" },
        { "levels beyond the block", setI32("levelCount", 1000), "the level record count 1000 needs 364000 bytes" },
        { "negative extras", setI32("extraCount", -1), "the extra entry count is negative (-1)" },
        { "extras beyond the block", setI32("extraCount", 3), "the extra entry count 3 needs 432 bytes, 288 are left" },
        { "bytes after the extras",
            [](LevelListImage& image) {
                image.bytes.insert(image.bytes.end(), 4, 0);
                image.seal();
            },
            "4 bytes follow the extra entries" },
        { "block ends inside the start record",
            [](LevelListImage& image) {
                image.bytes.resize(image.at.at("start") + 10);
                image.seal();
            },
            "the data block ends inside the start level" },
        { "block ends at a presence byte",
            [](LevelListImage& image) {
                image.bytes.resize(image.at.at("menu.presence"));
                image.seal();
            },
            "the data block ends before the menu level's presence byte" },
        { "record before the entries", setI32("level1", -1), "level record 1 names world entry -1 of 3" },
        { "record past the entries", setI32("level0", 3), "level record 0 names world entry 3 of 3" },
        { "name without end",
            [](LevelListImage& image) { std::memset(image.bytes.data() + image.at.at("level1") + 116, 'x', 104); },
            "level record 1 has no terminated name" },
        { "music without end",
            [](LevelListImage& image) { std::memset(image.bytes.data() + image.at.at("level0") + 4, 'x', 64); },
            "level record 0 has no terminated music or ambience name" },
        { "ambience without end",
            [](LevelListImage& image) { std::memset(image.bytes.data() + image.at.at("level0") + 84, 'x', 32); },
            "level record 0 has no terminated music or ambience name" },
        { "leaderboard without end",
            [](LevelListImage& image) { std::memset(image.bytes.data() + image.at.at("level0") + 332, 'x', 32); },
            "level record 0 has no terminated leaderboard name" },
        { "title past the entries", setI32("title", 3), "the title level names level 3 of 3" },
        { "menu before the entries", setI32("menu", -1), "the menu level names level -1 of 3" },
        { "final past the entries", setI32("final", 99), "the final level names level 99 of 3" },
        { "start past the entries", setI32("start", 3), "the start level names level 3 of 3" },
        { "extra past the entries", setI32("extra1", 3), "extra entry 1 names level 3 of 3" },
        { "extra before the entries", setI32("extra0", -2), "extra entry 0 names level -2 of 3" },
        { "extra music without end",
            [](LevelListImage& image) { std::memset(image.bytes.data() + image.at.at("extra0") + 4, 'x', 64); },
            "extra entry 0 has no terminated music or ambience name" },
    };
    for (const auto& c : cases) {
        LevelListImage image = writeLevelListImage(fullLevelListSpec());
        c.spoil(image);
        LevelList list;
        // A list that was loaded is emptied by a failed parse.
        ASSERT_TRUE(parse(list, writeLevelListImage(fullLevelListSpec()).bytes));
        std::string error;
        EXPECT_FALSE(parse(list, image.bytes, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << "\n  gave: " << error;
        expectEmpty(list);
        EXPECT_FALSE(parse(list, image.bytes, nullptr)) << c.what;
    }
}

TEST(LevelList, TheBlockComesFromTheListsAllocatorAndGoesBack)
{
    quern::testing::CountingAllocator allocator;
    {
        LevelList list(&allocator);
        ASSERT_TRUE(parse(list, writeLevelListImage(fullLevelListSpec()).bytes));
        EXPECT_EQ(allocator.live, 1);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(list.levelRecord(0)) % 4, 0u);
        ASSERT_TRUE(parse(list, writeLevelListImage(fullLevelListSpec()).bytes));
        EXPECT_EQ(allocator.live, 1);
        list.clear();
        expectEmpty(list);
        EXPECT_EQ(allocator.live, 0);
        ASSERT_TRUE(parse(list, writeLevelListImage(fullLevelListSpec()).bytes));
    }
    EXPECT_EQ(allocator.live, 0);
    EXPECT_EQ(allocator.allocations, 3);
}

TEST(LevelListDeathTest, AccessorsOutsideTheirRangeAreFatal)
{
    LevelList list;
    ASSERT_TRUE(parse(list, writeLevelListImage(fullLevelListSpec()).bytes));
    EXPECT_DEATH(list.worldEntry(3), "World entry 3 is outside the level list's 3");
    EXPECT_DEATH(list.worldEntry(-1), "World entry -1 is outside");
    EXPECT_DEATH(list.globalAssetId(77), "Offset 77 is outside the global record");
    EXPECT_DEATH(LevelList::startTextureId(list.startLevel(), 10), "Start texture 10 of 10");
}

// A level list asset (built by the tool, or raw bytes) beside one sound.
class LevelListDepot : public ::testing::TestWithParam<const char*> {
protected:
    void build(const std::string& source, const char* type = "levellist")
    {
        content.build({ { "menu.snd", "S" }, { "levels.list", source, "", type } }, GetParam());
        depot = content.openDepot(GetParam());
    }

    DepotContent content;
    std::unique_ptr<quern::assets::Depot> depot;
};

TEST_P(LevelListDepot, LoadsTheAssetIntoTheListsAllocator)
{
    build("world 0 0\nworld 0 1\nlevel 1 id 7 name Only\nmenu 0 sound menu.snd\nextra 0\n");
    quern::testing::CountingAllocator allocator;
    {
        LevelList list(&allocator);
        list.load(assetId("levels.list"), *depot);
        EXPECT_EQ(allocator.live, 1);
        ASSERT_EQ(list.worldEntryCount(), 2);
        EXPECT_EQ(list.worldEntry(1), (WorldEntry { 0, 1 }));
        EXPECT_STREQ(LevelList::recordName(list.findLevelOfIndex(1)), "Only");
        EXPECT_EQ(LevelList::referenceSoundLibrary(list.menuLevel()), assetId("menu.snd"));
        EXPECT_EQ(list.titleLevel(), nullptr);
        EXPECT_EQ(list.extraEntryCount(), 1);
    }
    EXPECT_EQ(allocator.live, 0);
}

using LevelListDepotDeathTest = LevelListDepot;

TEST_P(LevelListDepotDeathTest, ABrokenListIsFatalNamingTheAsset)
{
    const struct {
        std::string bytes;
        const char* message;
    } cases[] = {
        { std::string("\x09\0\0\0\0\0\0\0", 8), "is broken: the byte count states 9 bytes but 4 follow" },
        { std::string("\x01\0", 2), "is broken: the list is shorter than its byte count" },
        { std::string("\x04\0\0\0\x01\0\0\0", 8), "is broken: the world entry count 1 needs 8 bytes, 0 are left" },
    };
    for (const auto& c : cases) {
        build(c.bytes, "data");
        const std::string pattern = "Level list 0x"
            + std::string(
                quern::strings::format<17>("%016llx", static_cast<unsigned long long>(assetId("levels.list"))).c_str())
            + " " + c.message;
        LevelList list;
        EXPECT_DEATH(list.load(assetId("levels.list"), *depot), pattern) << c.bytes.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Depots, LevelListDepot, ::testing::Values("files", "blob"));
INSTANTIATE_TEST_SUITE_P(Depots, LevelListDepotDeathTest, ::testing::Values("files", "blob"));

} // namespace
