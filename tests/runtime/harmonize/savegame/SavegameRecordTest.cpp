// The progress rules: what a finish records, the level table's probing, which
// levels are unlocked. The storage here is never started, so every write is
// refused at once.

#include "harmonize/savegame/Savegame.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/SettingsTable.h"
#include "quern/platform/Clock.h"

#include "SavegameTestSupport.h"
#include "support/LogCapture.h"
#include "support/SoftAssertRecorder.h"
#include "support/harmonize/RecordingPlatformServices.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::testing::LogCapture;
using quern::testing::SoftAssertRecorder;

constexpr u64 kNow = 1'700'000'000;

// Entries 0, 1 and 3 have records; 0x101 and 0x201 share their home slot; 2
// is an extra level; 3 is the final level.
constexpr const char* kLevels = "world 0 0\nworld 0 1\nworld 0 2\nworld 0 3\n"
                                "level 0 id 0x101 chapter 0 name First\n"
                                "level 1 id 0x201 chapter 0 name Second\n"
                                "level 3 id 7 chapter 1 name Last\n"
                                "extra 2\nfinal 3\n";

class SavegameRecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        PlayerProfile::clear();
        load(kLevels);
        savegame.status = SavegameStatus::Loaded;
    }
    void TearDown() override { Settings::resetToDefaults(); }

    void load(const char* source)
    {
        std::string error;
        ASSERT_TRUE(test::buildLevels(source, levels, error)) << error;
    }
    void finish(i32 finished, i32 next, const LevelResult& result = {})
    {
        savegame.onLevelFinished(finished, next, result, levels, platform, storage, events.queue);
    }
    i32 slotOf(u32 id) const { return savegame.findSlot(id); }

    quern::platform::FixedCalendarSource calendar { kNow };
    quern::platform::ScopedCalendarSource calendarScope { calendar };
    LevelList levels;
    test::RecordingPlatformServices platform;
    quern::io::AsyncUserStorage storage;
    AppEventQueueStorage events;
    Savegame savegame;
};

TEST_F(SavegameRecordTest, StartsEmptyWithVersion2AndTheCurrentTime)
{
    Savegame fresh;
    EXPECT_EQ(fresh.status, SavegameStatus::NotRequested);
    EXPECT_EQ(fresh.record.version, 2);
    EXPECT_EQ(fresh.record.savedAt(), i64(kNow));
    ProgressRecord expected {};
    expected.version = 2;
    expected.setSavedAt(i64(kNow));
    EXPECT_EQ(std::memcmp(&fresh.record, &expected, sizeof expected), 0);
}

TEST_F(SavegameRecordTest, FinishesCountAndKeepTheBestResults)
{
    struct Case {
        const char* what;
        std::vector<LevelResult> finishes; // {deaths, collected, saved, toSave}
        i32 repeat;
        u8 completions, deathScore, savedNibbles, collected;
    };
    const Case cases[] = {
        { "completions stop at 255", { {} }, 300, 255, 255, 0xF0, 0 },
        { "no deaths gives 255 and a later 3 keeps it", { { 0 }, { 3 } }, 1, 2, 255, 0xF0, 0 },
        { "fewer deaths later raise the score", { { 5 }, { 2 } }, 1, 2, 253, 0xF0, 0 },
        { "254 deaths leave 1", { { 254 } }, 1, 1, 1, 0xF0, 0 },
        { "255 deaths or more give 0", { { 255 } }, 1, 1, 0, 0xF0, 0 },
        { "300 deaths give 0", { { 300 } }, 1, 1, 0, 0xF0, 0 },
        { "toSave 20 and saved 15 give 0x0F", { { 0, 0, 15, 20 } }, 1, 1, 255, 0x0F, 0 },
        { "the high nibble is replaced, the low keeps its best", { { 0, 0, 3, 5 }, { 0, 0, 1, 2 } }, 1, 2, 255, 0xD3,
            0 },
        { "collected keeps its best", { { 0, 10 }, { 0, 4 } }, 1, 2, 255, 0xF0, 10 },
        { "collected keeps the low 8 bits", { { 0, 300 } }, 1, 1, 255, 0xF0, 44 },
        { "a later higher count wins", { { 0, 200 }, { 0, 250 } }, 1, 2, 255, 0xF0, 250 },
        // Counts outside their range stay in their own nibble or score.
        { "negative counts", { { -1, 0, -2, -3 } }, 1, 1, 255, 0xF0, 0 },
        { "saved above 15", { { 0, 0, 20, 20 } }, 1, 1, 255, 0x0F, 0 },
    };
    for (const Case& c : cases) {
        savegame.reset();
        for (i32 r = 0; r < c.repeat; ++r)
            for (const LevelResult& result : c.finishes)
                finish(1, 3, result);
        const i32 slot = slotOf(0x201);
        ASSERT_GE(slot, 0) << c.what;
        EXPECT_EQ(savegame.record.completions[slot], c.completions) << c.what;
        EXPECT_EQ(savegame.record.deathScore[slot], c.deathScore) << c.what;
        EXPECT_EQ(savegame.record.savedNibbles[slot], c.savedNibbles) << c.what;
        EXPECT_EQ(savegame.record.collected[slot], c.collected) << c.what;
        // The other levels are untouched.
        EXPECT_EQ(savegame.record.completions[slotOf(0x101)], 0) << c.what;
    }
}

TEST_F(SavegameRecordTest, AFinishRecordsTheLevelAndTheOneToContinueWith)
{
    struct Case {
        const char* what;
        i32 finished, next;
        bool recorded;
        i32 lastLevelId, nextLevelId;
    };
    const Case cases[] = {
        { "the next record", 0, 1, true, 0x101, 0x201 },
        { "an extra level is skipped to the level after it", 1, 2, true, 0x201, 7 },
        { "the final level: no next level", 3, -1, true, 7, 0 },
        { "a next index without a record", 3, 4, true, 7, 0 },
        { "a finished index without a record", 2, 3, false, 0, 0 },
        { "a finished index outside the entries", -1, 0, false, 0, 0 },
    };
    for (const Case& c : cases) {
        savegame.reset();
        calendar.set(kNow + 60);
        LogCapture errors(1);
        finish(c.finished, c.next, { 0, 1, 0, 0 });
        calendar.set(kNow);
        EXPECT_EQ(savegame.record.lastLevelId, c.lastLevelId) << c.what;
        EXPECT_EQ(savegame.record.nextLevelId, c.nextLevelId) << c.what;
        EXPECT_EQ(savegame.record.savedAt(), i64(c.recorded ? kNow + 60 : kNow)) << c.what;
        // Only a recorded finish asks for a write (refused here).
        EXPECT_EQ(errors.contains("Savegame not written"), c.recorded) << c.what;
        if (c.recorded) {
            const i32 slot = slotOf(u32(c.lastLevelId));
            ASSERT_GE(slot, 0) << c.what;
            EXPECT_EQ(savegame.record.completions[slot], 1) << c.what;
            EXPECT_EQ(savegame.record.collected[slot], 1) << c.what;
        }
    }
}

TEST_F(SavegameRecordTest, FindLastLevelReturnsTheRecordOfTheLastFinish)
{
    EXPECT_EQ(savegame.findLastLevel(levels), nullptr);
    finish(1, 3);
    const u8* last = savegame.findLastLevel(levels);
    ASSERT_NE(last, nullptr);
    EXPECT_STREQ(LevelList::recordName(last), "Second");
    savegame.record.lastLevelId = 99;
    EXPECT_EQ(savegame.findLastLevel(levels), nullptr);
}

TEST_F(SavegameRecordTest, IdsSharingAHomeSlotTakeNeighboursAndLookupsProbeEverySlot)
{
    savegame.refreshLevelTable(levels);
    EXPECT_EQ(slotOf(0x101), 1);
    EXPECT_EQ(slotOf(0x201), 2);
    EXPECT_EQ(slotOf(7), 7);
    EXPECT_EQ(slotOf(0), -1);
    EXPECT_EQ(slotOf(0x301), -1);

    // A lookup goes on past an empty slot.
    savegame.record.levelIds[1] = 0;
    EXPECT_EQ(slotOf(0x201), 2);

    // A refresh fills the gap again and leaves the results of known levels.
    savegame.record.completions[2] = 5;
    savegame.refreshLevelTable(levels);
    EXPECT_EQ(slotOf(0x101), 1);
    EXPECT_EQ(savegame.record.completions[2], 5);
}

TEST_F(SavegameRecordTest, AFullTableSkipsTheNextLevelWhichOnlyRaisesASoftAssertion)
{
    std::string source;
    for (i32 i = 0; i <= kLevelSlotCount; ++i)
        source += "world 0 " + std::to_string(i) + "\n";
    for (i32 i = 0; i <= kLevelSlotCount; ++i)
        source
            += "level " + std::to_string(i) + " id " + std::to_string(i + 1) + " name L" + std::to_string(i + 1) + "\n";
    LevelList full;
    std::string error;
    ASSERT_TRUE(test::buildLevels(source, full, error)) << error;

    savegame.refreshLevelTable(full);
    for (i32 slot = 0; slot < kLevelSlotCount; ++slot)
        EXPECT_NE(savegame.record.levelIds[slot], 0u) << slot;
    EXPECT_EQ(slotOf(256), 0);
    EXPECT_EQ(slotOf(257), -1);

    SoftAssertRecorder asserts;
    EXPECT_FALSE(savegame.isLevelUnlocked(full.levelRecord(kLevelSlotCount)));
    EXPECT_EQ(SoftAssertRecorder::messages, std::vector<std::string> { "L257" });
    savegame.record.completions[slotOf(1)] = 1;
    EXPECT_TRUE(savegame.isLevelUnlocked(full.levelRecord(0)));
    EXPECT_EQ(SoftAssertRecorder::messages.size(), 1u);

    // Finishing it still moves the last level on.
    savegame.onLevelFinished(kLevelSlotCount, 0, {}, full, platform, storage, events.queue);
    EXPECT_EQ(savegame.record.lastLevelId, 257);
    EXPECT_EQ(slotOf(257), -1);
}

TEST_F(SavegameRecordTest, UnlockingFollowsTheSettingTheStatusAndTheFinishes)
{
    struct Case {
        bool unlockLevels;
        SavegameStatus status;
        u8 completions;
        bool unlocked;
    };
    const Case cases[] = {
        { true, SavegameStatus::NotRequested, 0, true },
        { true, SavegameStatus::None, 0, true },
        { false, SavegameStatus::NotRequested, 1, false },
        { false, SavegameStatus::SizeRequested, 1, false },
        { false, SavegameStatus::None, 1, false },
        { false, SavegameStatus::Reading, 1, true },
        { false, SavegameStatus::Loaded, 1, true },
        { false, SavegameStatus::Loaded, 0, false },
    };
    savegame.refreshLevelTable(levels);
    const u8* second = levels.levelRecord(1);
    for (const Case& c : cases) {
        Settings::Development.unlockLevels = c.unlockLevels;
        savegame.status = c.status;
        savegame.record.completions[slotOf(0x201)] = c.completions;
        EXPECT_EQ(savegame.isLevelUnlocked(second), c.unlocked)
            << c.unlockLevels << " " << i32(c.status) << " " << i32(c.completions);
    }
}

TEST_F(SavegameRecordTest, ARefusedWriteIsLoggedAndLeavesTheStatus)
{
    for (SavegameStatus status : { SavegameStatus::Loaded, SavegameStatus::None }) {
        savegame.status = status;
        LogCapture errors(1);
        finish(0, 1);
        EXPECT_TRUE(errors.contains("Savegame not written: File system currently unavailable"));
        EXPECT_EQ(savegame.status, status);
        EXPECT_TRUE(events.queue.isEmpty());
    }
}

} // namespace
} // namespace harmonize
