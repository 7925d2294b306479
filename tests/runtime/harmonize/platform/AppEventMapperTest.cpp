#include "harmonize/platform/AppEventMapper.h"

#include "harmonize/utils/AppEventQueue.h"

#include "support/harmonize/RecordingPlatformServices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace harmonize {
namespace {

// The events in the queue, oldest first, each with its payload's first 16 bytes.
struct Posted {
    AppEventType type;
    PlayerAuthEvent payload;
};

std::vector<Posted> drain(AppEventQueue& queue)
{
    std::vector<Posted> events;
    for (i32 stored = queue.frontStoredType(); stored >= 0; stored = queue.frontStoredType()) {
        Posted posted { appEventTypeOf(static_cast<u16>(stored)), {} };
        posted.payload.result = 0xcc;
        queue.popByType(posted.payload, static_cast<u16>(stored));
        events.push_back(posted);
    }
    return events;
}

struct MapperTest : ::testing::Test {
    AppEventQueueStorage storage { nullptr, 256 };
    AppEventMapper mapper { storage.queue };

    void SetUp() override { mapGameEvents(mapper); }
};

TEST(AppEventMapperMappingTest, TheGameMapsEachResultToItsEventInTableOrder)
{
    test::RecordingPlatformServices recording;
    mapGameEvents(recording);
    const std::vector<test::PlatformCall> expected = {
        { "setMapping", "", 0, 23 },
        { "setMapping", "", 1, 13 },
        { "setMapping", "", 2, 14 },
        { "setMapping", "", 4, 15 },
        { "setMapping", "", 3, 16 },
        { "setMapping", "", 5, 20 },
        { "setMapping", "", 7, 17 },
        { "setMapping", "", 8, 22 },
    };
    EXPECT_EQ(recording.calls, expected);
}

TEST_F(MapperTest, UnmappedResultsStayWithoutEvent)
{
    EXPECT_EQ(mapper.mapping(PlatformResult::StatisticStored), -1);
    EXPECT_EQ(mapper.mapping(PlatformResult::Unassigned), -1);
    EXPECT_EQ(mapper.mapping(PlatformResult::StatisticsReceived), storedTypeOf(AppEventType::PlayerStatsReceived));
}

TEST_F(MapperTest, UpdateLogsUserZeroInOnceHoweverOftenItRuns)
{
    for (int i = 0; i < 5; ++i)
        mapper.update();
    const std::vector<Posted> events = drain(storage.queue);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, AppEventType::PlayerAuth);
    EXPECT_EQ(events[0].payload.userId, 0u);
    EXPECT_EQ(events[0].payload.result, 0);
    EXPECT_TRUE(mapper.authenticationPosted());
}

TEST_F(MapperTest, TheLoginGrowsAFullRingInsteadOfBeingLost)
{
    while (storage.queue.post(AppEventType::Quit)) {
    }
    const u64 before = storage.queue.postingCapacity();
    mapper.update();
    EXPECT_GE(storage.queue.postingCapacity(), before + std::max<u64>(before, 64));
    const std::vector<Posted> events = drain(storage.queue);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().type, AppEventType::PlayerAuth);
}

TEST_F(MapperTest, RequestsAnswerWithTheirMappedEventOrNothing)
{
    struct Case {
        void (*call)(AppEventMapper&);
        std::vector<AppEventType> expected;
    } cases[] = {
        { [](AppEventMapper& m) { m.requestStatistics(); }, { AppEventType::PlayerStatsReceived } },
        { [](AppEventMapper& m) { m.unlockAchievement("kill5", 1, 5); }, { AppEventType::AchievementUnlocked } },
        { [](AppEventMapper& m) { m.storeStatistic("jumps", 3); }, {} },
        { [](AppEventMapper& m) { m.storeStatistics(); }, {} },
        { [](AppEventMapper& m) { m.findLeaderboard("level", 1, 1); }, {} },
        { [](AppEventMapper& m) { EXPECT_EQ(m.requestUserInformation(nullptr, 0), 0); }, {} },
    };
    for (const Case& c : cases) {
        c.call(mapper);
        std::vector<AppEventType> types;
        for (const Posted& posted : drain(storage.queue))
            types.push_back(posted.type);
        EXPECT_EQ(types, c.expected);
    }
}

TEST_F(MapperTest, ReadsZeroExactlyTheCountAskedFor)
{
    u32 values[4] = { 7, 7, 7, 7 };
    mapper.readStatistics(nullptr, values, 0);
    EXPECT_EQ(values[0], 7u);
    mapper.readStatistics(nullptr, values, 3);
    EXPECT_EQ(values[0], 0u);
    EXPECT_EQ(values[2], 0u);
    EXPECT_EQ(values[3], 7u);

    u8 flags[3] = { 1, 1, 1 };
    mapper.readAchievements(nullptr, flags, 2);
    EXPECT_EQ(flags[1], 0);
    EXPECT_EQ(flags[2], 1);
}

TEST_F(MapperTest, AMappingOutsideTheResultIndicesIsFatal)
{
    EXPECT_DEATH(mapper.setMapping(kPlatformResultCount, 3), "Invalid platform result");
    EXPECT_DEATH(mapper.setMapping(-1, 3), "Invalid platform result");
}

} // namespace
} // namespace harmonize
