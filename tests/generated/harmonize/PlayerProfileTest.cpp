#include "harmonize/PlayerProfile.h"
#include "support/harmonize/RecordingPlatformServices.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using test::PlatformCall;
using test::RecordingPlatformServices;

class PlayerProfileTest : public ::testing::Test {
protected:
    void SetUp() override { PlayerProfile::clear(); }
    void TearDown() override { PlayerProfile::clear(); }

    RecordingPlatformServices m_platform;
};

PlatformCall progress(const char* name, u32 current, u32 target) { return {"unlockAchievement", name, current, target}; }
PlatformCall stored(const char* name, u32 value) { return {"storeStatistic", name, value, 0}; }

TEST_F(PlayerProfileTest, AddToStatReportsFedAchievementsInOrderThenStoresOnceReceived)
{
    struct Case {
        const char* what;
        i32 stat;
        u32 start;
        u32 amount;
        std::vector<i32> unlocked;
        bool received;
        std::vector<PlatformCall> expected;
        u32 counter;
    };
    const Case cases[] = {
        {"three jump achievements, in table order", kStatJumps, 999, 1, {}, true,
            {progress("jump1000", 1000, 1000), progress("jump10000", 1000, 10000), progress("jump2000", 1000, 2000),
                stored("jumps", 1000)},
            1000},
        {"unlocked achievements are skipped", kStatJumps, 1999, 1, {kAchievementJump1000}, true,
            {progress("jump10000", 2000, 10000), progress("jump2000", 2000, 2000), stored("jumps", 2000)}, 2000},
        {"every fed achievement unlocked: only the store", kStatCollectibles, 311, 1,
            {kAchievementCollector5, kAchievementCollector100, kAchievementCollectorAll}, true,
            {stored("collectibles", 312)}, 312},
        {"progress past a target is still reported", kStatKills, 9, 3, {}, true,
            {progress("kill5", 12, 5), stored("kills", 12)}, 12},
        {"an achievement fed by another statistic does not silence this one", kStatBombs, 0, 1, {kAchievementKill5},
            true, {progress("bomb20", 1, 20), stored("bombs", 1)}, 1},
        {"a statistic without achievements only stores", kStatDeaths, 4, 1, {}, true, {stored("deaths", 5)}, 5},
        {"before the statistics arrive nothing is stored", kStatKills, 4, 1, {}, false, {progress("kill5", 5, 5)}, 5},
        {"nor for a statistic without achievements", kStatSessions, 0, 1, {}, false, {}, 1},
        {"the counter wraps at 32 bits", kStatPlaytime, UINT_MAX, 2, {}, true, {stored("playtime", 1)}, 1},
        {"the first statistic", kStatSessions, 7, 1, {}, true, {stored("sessions", 8)}, 8},
        {"the last statistic", kStatMixedAllSaved, 24, 1, {}, true,
            {progress("collectibles_mixed", 25, 25), stored("mixedAllSaved", 25)}, 25},
    };
    for (const Case& c : cases) {
        PlayerProfile::clear();
        m_platform.calls.clear();
        PlayerProfile::stats[c.stat] = c.start;
        for (i32 a : c.unlocked)
            PlayerProfile::achievements[a] = 1;
        PlayerProfile::statsReceived = c.received;

        PlayerProfile::addToStat(m_platform, c.stat, c.amount);

        EXPECT_EQ(m_platform.calls, c.expected) << c.what;
        EXPECT_EQ(PlayerProfile::stats[c.stat], c.counter) << c.what;
        for (i32 s = 0; s < kStatCount; ++s) {
            if (s != c.stat) {
                EXPECT_EQ(PlayerProfile::stats[s], 0u) << c.what << ": statistic " << s;
            }
        }
    }
}

TEST_F(PlayerProfileTest, ReportingProgressNeverUnlocksOrCountsByItself)
{
    // Only the platform decides what completes an achievement: the flags change
    // when the profile is loaded again, so the same report repeats until then.
    for (int round = 0; round < 2; ++round)
        PlayerProfile::updateAchievements(m_platform, kStatCollectibles, 312);

    const std::vector<PlatformCall> once = {
        progress("collector5", 312, 5), progress("collector100", 312, 100), progress("collector_all", 312, 312)};
    std::vector<PlatformCall> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(m_platform.calls, twice);
    EXPECT_EQ(PlayerProfile::stats[kStatCollectibles], 0u);
    EXPECT_EQ(PlayerProfile::achievements[kAchievementCollectorAll], 0);

    m_platform.calls.clear();
    m_platform.achievementAnswers.assign(kAchievementCount, 0);
    m_platform.achievementAnswers[kAchievementCollector5] = 1;
    PlayerProfile::load(m_platform);
    m_platform.calls.clear();
    PlayerProfile::updateAchievements(m_platform, kStatCollectibles, 313);
    EXPECT_EQ(m_platform.calls,
        (std::vector<PlatformCall>{progress("collector100", 313, 100), progress("collector_all", 313, 312)}));
}

TEST_F(PlayerProfileTest, LoadCopiesThePlatformsFlagsAndValuesByName)
{
    for (i32 i = 0; i < kAchievementCount; ++i)
        m_platform.achievementAnswers.push_back(u8(i % 3 == 0));
    for (i32 i = 0; i < kStatCount; ++i)
        m_platform.statisticAnswers.push_back(u32(1000 + i));

    PlayerProfile::load(m_platform);

    EXPECT_EQ(m_platform.calls, (std::vector<PlatformCall>{{"readAchievements", "", 45, 0}, {"readStatistics", "", 26, 0}}));
    ASSERT_EQ(m_platform.achievementNamesRead.size(), 45u);
    EXPECT_EQ(m_platform.achievementNamesRead.front(), "bomb20");
    EXPECT_EQ(m_platform.achievementNamesRead[kAchievementNotSaved], "not_saved");
    EXPECT_EQ(m_platform.achievementNamesRead.back(), "collector_all");
    ASSERT_EQ(m_platform.statisticNamesRead.size(), 26u);
    EXPECT_EQ(m_platform.statisticNamesRead.front(), "sessions");
    EXPECT_EQ(m_platform.statisticNamesRead[kStatJumps], "jumps");
    EXPECT_EQ(m_platform.statisticNamesRead.back(), "mixedAllSaved");
    for (i32 i = 0; i < kAchievementCount; ++i)
        EXPECT_EQ(PlayerProfile::achievements[i], u8(i % 3 == 0)) << i;
    for (i32 i = 0; i < kStatCount; ++i)
        EXPECT_EQ(*PlayerProfile::statCounter(i), u32(1000 + i)) << i;
    EXPECT_TRUE(PlayerProfile::statsReceived);
}

TEST_F(PlayerProfileTest, LoadFromAPlatformThatReadsNothingLeavesEverythingZero)
{
    // The offline platform fills only zeros; one that writes nothing at all must
    // not leave stack bytes or the previous player's values behind either.
    for (i32 i = 0; i < kStatCount; ++i)
        PlayerProfile::stats[i] = 77;
    PlayerProfile::achievements[kAchievementRoom12] = 1;

    PlayerProfile::load(m_platform);

    for (i32 i = 0; i < kStatCount; ++i)
        EXPECT_EQ(PlayerProfile::stats[i], 0u) << i;
    for (i32 i = 0; i < kAchievementCount; ++i)
        EXPECT_EQ(PlayerProfile::achievements[i], 0) << i;
    EXPECT_TRUE(PlayerProfile::statsReceived);
}

TEST_F(PlayerProfileTest, ClearForgetsTheReceivedStatistics)
{
    PlayerProfile::load(m_platform);
    PlayerProfile::stats[kStatDeaths] = 3;
    PlayerProfile::achievements[kAchievementKill5] = 1;
    PlayerProfile::clear();
    m_platform.calls.clear();

    PlayerProfile::addToStat(m_platform, kStatKills, 1);

    EXPECT_EQ(m_platform.calls, (std::vector<PlatformCall>{progress("kill5", 1, 5)}));
    EXPECT_EQ(PlayerProfile::stats[kStatDeaths], 0u);
}

TEST_F(PlayerProfileTest, StatCounterCoversExactlyTheStatistics)
{
    EXPECT_EQ(PlayerProfile::statCounter(0), &PlayerProfile::stats[0]);
    EXPECT_EQ(PlayerProfile::statCounter(kStatCount - 1), &PlayerProfile::stats[kStatCount - 1]);
}

TEST(PlayerProfileDeathTest, AnIndexOutsideTheStatisticsIsFatal)
{
    RecordingPlatformServices platform;
    for (i32 index : {-1, INT_MIN, kStatCount, INT_MAX}) {
        EXPECT_DEATH(PlayerProfile::statCounter(index), "Invalid stat") << index;
        EXPECT_DEATH(PlayerProfile::addToStat(platform, index, 1), "Invalid stat") << index;
        EXPECT_DEATH(PlayerProfile::updateAchievements(platform, index, 1), "Invalid stat") << index;
    }
}

} // namespace
} // namespace harmonize
