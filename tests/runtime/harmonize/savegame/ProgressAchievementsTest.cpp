// The progress evaluation after a finish, as the platform sees it.

#include "harmonize/savegame/ProgressAchievements.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/SettingsTable.h"
#include "harmonize/savegame/Savegame.h"

#include "SavegameTestSupport.h"
#include "support/harmonize/RecordingPlatformServices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harmonize {
namespace {

using test::PlatformCall;
using test::RecordingPlatformServices;

PlatformCall progress(const char* name, u32 current, u32 target)
{
    return { "unlockAchievement", name, current, target };
}
PlatformCall stored(const char* name, u32 value) { return { "storeStatistic", name, value, 0 }; }
const PlatformCall kStoreAll { "storeStatistics", "", 0, 0 };

// Two levels in world 0 (suburb), one in world 1 (city), one outside the
// world table.
constexpr const char* kTwoWorlds = "world 0 0\nworld 0 1\nworld 0 2\nworld 0 3\n"
                                   "level 0 id 1 chapter 0 name A\n"
                                   "level 1 id 2 chapter 0 name B\n"
                                   "level 2 id 3 chapter 1 name C\n"
                                   "level 3 id 4 chapter 9 name Outside\n";

class ProgressAchievementsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        PlayerProfile::clear();
    }
    void TearDown() override { PlayerProfile::clear(); }

    void load(const std::string& source)
    {
        std::string error;
        ASSERT_TRUE(test::buildLevels(source, levels, error)) << error;
        savegame.refreshLevelTable(levels);
    }
    // Sets a level's results as finishes would have left them.
    void set(u32 id, u8 completions, u8 deathScore, u8 savedNibbles, u8 collected)
    {
        const i32 slot = savegame.findSlot(id);
        ASSERT_GE(slot, 0) << id;
        savegame.record.completions[slot] = completions;
        savegame.record.deathScore[slot] = deathScore;
        savegame.record.savedNibbles[slot] = savedNibbles;
        savegame.record.collected[slot] = collected;
    }
    void evaluate() { evaluateProgressAchievements(savegame.record, levels, platform); }

    LevelList levels;
    Savegame savegame;
    RecordingPlatformServices platform;
};

TEST_F(ProgressAchievementsTest, ReportsWorldsThenGameTotalsThenStoresOnce)
{
    load(kTwoWorlds);
    set(1, 1, 255, 0x0F, 3); // finished without dying, all saved
    set(2, 1, 250, 0xA3, 2); // 5 to save, 3 saved
    // C is in the table but never finished; Outside counts for nothing.
    set(4, 9, 255, 0x0F, 100);

    PlayerProfile::statsReceived = true;
    evaluate();
    const std::vector<PlatformCall> expected = {
        progress("complete_subs", 1, 1),
        progress("dontdie_subs", 1, 9),
        stored("subsNotDied", 1),
        progress("collectibles_subs", 1, 9),
        stored("subsAllSaved", 1),
        // The city counts nothing and its statistics are already 0.
        progress("collector5", 5, 5),
        progress("collector100", 5, 100),
        progress("collector_all", 5, 312),
        stored("collectibles", 5),
        progress("complete_game", 2, 110),
        stored("levelsCompleted", 2),
        progress("not_saved", 1, 110),
        stored("levelsAllSaved", 1),
        progress("not_died", 1, 110),
        stored("levelsNotDied", 1),
        kStoreAll,
    };
    EXPECT_EQ(platform.calls, expected);
}

TEST_F(ProgressAchievementsTest, BeforeTheStatisticsArriveOnlyTheCountersChange)
{
    load(kTwoWorlds);
    set(1, 1, 255, 0x0F, 3);
    set(2, 1, 250, 0xA3, 2);

    evaluate();
    EXPECT_TRUE(platform.calls.empty());
    const struct {
        PlayerStat stat;
        u32 value;
    } counters[] = {
        { kStatSubsNotDied, 1 },
        { kStatSubsAllSaved, 1 },
        { kStatCityNotDied, 0 },
        { kStatCollectibles, 5 },
        { kStatLevelsCompleted, 2 },
        { kStatLevelsAllSaved, 1 },
        { kStatLevelsNotDied, 1 },
    };
    for (const auto& counter : counters)
        EXPECT_EQ(PlayerProfile::stats[counter.stat], counter.value) << kStatNames[counter.stat];
}

TEST_F(ProgressAchievementsTest, EveryWorldDoneUnlocksTheGameAchievementsAndTotalsOnlyRise)
{
    std::string source;
    for (i32 world = 0; world < kProgressWorldCount; ++world)
        source += "world 0 " + std::to_string(world) + "\n";
    for (i32 world = 0; world < kProgressWorldCount; ++world)
        source += "level " + std::to_string(world) + " id " + std::to_string(world + 1) + " chapter "
            + std::to_string(world) + " name W" + std::to_string(world) + "\n";
    load(source);
    for (i32 world = 0; world < kProgressWorldCount; ++world) {
        set(u32(world + 1), 1, 255, 0x0F, 1);
        // Each world's statistics already hold what the evaluation finds...
        PlayerProfile::stats[kProgressWorlds[world].notDiedStat] = 1;
        PlayerProfile::stats[kProgressWorlds[world].allSavedStat] = 1;
    }
    // ...except the machine's, which had counted more: it follows the table down.
    PlayerProfile::stats[kStatMachineNotDied] = 3;
    // Totals only rise: a higher counter stays and reports nothing.
    PlayerProfile::stats[kStatCollectibles] = 50;
    PlayerProfile::stats[kStatLevelsCompleted] = 6;
    PlayerProfile::achievements[kAchievementCompleteGame] = 1;
    PlayerProfile::statsReceived = true;

    evaluate();
    std::vector<PlatformCall> expected;
    for (i32 world = 0; world < kProgressWorldCount; ++world) {
        const ProgressWorld& row = kProgressWorlds[world];
        expected.push_back(progress(kAchievementNames[row.complete], 1, 1));
        expected.push_back(progress(kAchievementNames[row.notDied], 1, 1));
        expected.push_back(progress(kAchievementNames[row.allSaved], 1, 1));
    }
    expected.insert(expected.end(),
        { stored("machineNotDied", 1),
            // The game-wide unlocks do not look at the flags.
            progress("complete_game", 1, 1), progress("not_died", 1, 1), progress("not_saved", 1, 1),
            // complete_game is unlocked: only the statistic is stored.
            stored("levelsCompleted", 7), progress("not_saved", 7, 110), stored("levelsAllSaved", 7),
            progress("not_died", 7, 110), stored("levelsNotDied", 7), kStoreAll });
    // The machine's progress report comes right after its three unlocks.
    expected.insert(expected.begin() + 3 * kProgressWorldCount, progress("dontdie_machine", 1, 19));
    EXPECT_EQ(platform.calls, expected);
    EXPECT_EQ(PlayerProfile::stats[kStatCollectibles], 50u);
    EXPECT_EQ(PlayerProfile::stats[kStatMachineNotDied], 1u);
}

TEST_F(ProgressAchievementsTest, AFinishEvaluatesUnlessTheSavegameIsMissing)
{
    load(kTwoWorlds);
    quern::io::AsyncUserStorage storage; // never started: the write is refused
    AppEventQueueStorage events;
    PlayerProfile::statsReceived = true;

    savegame.status = SavegameStatus::None;
    savegame.onLevelFinished(0, 1, { 0, 4, 0, 0 }, levels, platform, storage, events.queue);
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(PlayerProfile::stats[kStatCollectibles], 0u);

    savegame.status = SavegameStatus::Loaded;
    savegame.onLevelFinished(0, 1, { 0, 4, 0, 0 }, levels, platform, storage, events.queue);
    ASSERT_FALSE(platform.calls.empty());
    EXPECT_EQ(platform.calls.back(), kStoreAll);
    EXPECT_EQ(PlayerProfile::stats[kStatCollectibles], 4u);
    EXPECT_EQ(PlayerProfile::stats[kStatLevelsCompleted], 1u);
}

} // namespace
} // namespace harmonize
