#include "quern/entity/World.h"
#include "quern/platform/Clock.h"

#include "WorldTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace quern;
using namespace quern::entity;
using quern::entity::testing::Journal;
using quern::entity::testing::LogCapture;
using quern::entity::testing::RecordingSystem;

constexpr u64 kStep = 10'000; // 10 ms
constexpr u64 kStart = 5'000'000; // any non-zero frame time starts the clock
constexpr u16 kSizes[] = { 4 };

struct Fixture {
    Fixture()
    {
        world.addSystem(a = new RecordingSystem("A", journal));
        world.addSystem(b = new RecordingSystem("B", journal));
        world.allocateComponentStore(kSizes, 1, 16, nullptr);
        world.clock.step = kStep;
    }

    u64 count(const std::string& entry) const { return std::count(journal.begin(), journal.end(), entry); }
    u64 countPrefix(const std::string& prefix) const
    {
        return std::count_if(
            journal.begin(), journal.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    }

    Journal journal;
    World world;
    RecordingSystem* a = nullptr;
    RecordingSystem* b = nullptr;
};

TEST(WorldUpdate, FirstFrameRunsOneTickAndNoUpdate)
{
    Fixture f;
    f.world.update(kStart);
    EXPECT_EQ(f.journal, (Journal { "A:tick@0", "B:tick@0" }));
    EXPECT_EQ(f.world.clock.startTime, kStart);
}

TEST(WorldUpdate, FrameRunsTicksThenUpdatesThenLateUpdatesInSystemOrder)
{
    Fixture f;
    f.world.update(kStart);
    f.journal.clear();
    f.world.update(kStart + 25'000);
    // Ticks keep to the step grid: the first frame's tick was at 0.
    EXPECT_EQ(f.journal,
        (Journal { "A:tick@10000", "B:tick@10000", "A:tick@20000", "B:tick@20000", "A:update@25000", "B:update@25000",
            "A:late", "B:late" }));
    EXPECT_EQ(f.world.clock.remainder, 5'000u);
    EXPECT_FLOAT_EQ(f.world.deltaTime, 0.025f);

    // The carried 5 ms makes the next 25 ms frame three ticks.
    f.journal.clear();
    f.world.update(kStart + 50'000);
    EXPECT_EQ(f.countPrefix("A:tick"), 3u);
    EXPECT_EQ(f.journal.front(), "A:tick@30000");
    EXPECT_EQ(f.world.clock.remainder, 0u);
}

TEST(WorldUpdate, TicksSeeTheStepAsDeltaAndTheirOwnTime)
{
    Fixture f;
    std::vector<std::pair<u64, f32>> seen;
    f.a->onTick = [&](UpdateContext&, World& w) { seen.emplace_back(w.currentTime, w.deltaTime); };
    f.world.update(kStart);
    f.world.update(kStart + 20'000);
    ASSERT_EQ(seen.size(), 3u);
    for (u64 i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, i * kStep);
        EXPECT_FLOAT_EQ(seen[i].second, 0.01f);
    }
}

TEST(WorldUpdate, TimeScaleZeroStopsTicksButNotUpdates)
{
    Fixture f;
    f.world.update(kStart);
    setTimeScale(0.0f);
    f.journal.clear();
    f.world.update(kStart + 100'000);
    setTimeScale(1.0f);
    EXPECT_EQ(f.journal, (Journal { "A:update@0", "B:update@0", "A:late", "B:late" }));
    EXPECT_EQ(f.world.deltaTime, 0.0f);
}

TEST(WorldUpdate, TimeScaleStretchesTheSimulatedTime)
{
    Fixture f;
    f.world.update(kStart);
    setTimeScale(0.5f);
    f.journal.clear();
    f.world.update(kStart + 40'000);
    setTimeScale(1.0f);
    EXPECT_EQ(f.countPrefix("A:tick"), 2u);
    EXPECT_EQ(f.world.clock.simulatedTime, 20'000u);
}

TEST(WorldUpdate, LargeDeltaIsClampedAndLogged)
{
    Fixture f;
    f.world.update(kStart);
    f.journal.clear();
    LogCapture warnings(2);
    f.world.update(kStart + 3'000'000);
    EXPECT_NE(warnings.text().find("Very large delta time, clamping to 1s"), std::string::npos) << warnings.text();
    EXPECT_EQ(f.countPrefix("A:tick"), 101u);
    EXPECT_EQ(f.world.clock.simulatedTime, 3'000'000u); // the full delta
    EXPECT_FLOAT_EQ(f.world.deltaTime, 1.0f);
    // The ticks cover the last second on the step grid.
    EXPECT_EQ(f.journal.front(), "A:tick@2000000");
    EXPECT_EQ(f.count("A:tick@3000000"), 1u);
}

TEST(WorldUpdate, ForceAllTicksRunsEveryTickAndIgnoresLimits)
{
    Fixture f;
    f.world.getSystemInfo(0).tickLimit = 2;
    f.world.clock.forceAllTicks = true;
    f.world.update(kStart);
    f.journal.clear();
    LogCapture warnings(2);
    f.world.update(kStart + 3'000'000);
    EXPECT_EQ(warnings.text(), "");
    EXPECT_EQ(f.countPrefix("A:tick"), 300u);
    EXPECT_EQ(f.countPrefix("B:tick"), 300u);
}

TEST(WorldUpdate, TickLimitStopsTheSystemAndWarnsOncePerFrame)
{
    Fixture f;
    f.world.getSystemInfo(0).tickLimit = 2;
    f.world.update(kStart);
    f.journal.clear();
    LogCapture warnings(2);
    f.world.update(kStart + 50'000);
    EXPECT_EQ(f.countPrefix("A:tick"), 2u);
    EXPECT_EQ(f.countPrefix("B:tick"), 5u);
    EXPECT_EQ(f.count("A:update@50000"), 1u); // updates are not limited
    EXPECT_EQ(warnings.count("A reached tick limit of 2 ticks per frame"), 1u) << warnings.text();
    EXPECT_TRUE(f.world.getSystemInfo(0).limitReached);
    EXPECT_EQ(f.world.getSystemInfo(0).frameTicks, 2u);

    // The next frame starts fresh.
    f.journal.clear();
    f.world.update(kStart + 60'000);
    EXPECT_EQ(f.countPrefix("A:tick"), 1u);
    EXPECT_FALSE(f.world.getSystemInfo(0).limitReached);
}

TEST(WorldUpdate, TimeLimitIsMeasuredWithThePerformanceCounter)
{
    platform::ManualCounterSource counter(1'000'000);
    platform::ScopedCounterSource scope(counter);
    Fixture f;
    f.world.getSystemInfo(0).timeLimit = 10'000; // 10 ms
    f.a->onTick = [&](UpdateContext&, World&) { counter.advance(platform::kPerformanceFrequency * 6 / 1000); };
    f.world.update(kStart);
    f.journal.clear();
    LogCapture warnings(2);
    f.world.update(kStart + 50'000);
    // 6 ms, then 12 ms: over the limit after the second tick.
    EXPECT_EQ(f.countPrefix("A:tick"), 2u);
    EXPECT_EQ(f.countPrefix("B:tick"), 5u);
    EXPECT_EQ(f.world.getSystemInfo(0).frameTime, 12'000u);
    EXPECT_EQ(f.world.getSystemInfo(1).frameTime, 0u);
    EXPECT_EQ(warnings.count("A reached time limit of 10ms"), 1u) << warnings.text();
}

TEST(WorldUpdate, DisabledSystemOnlyGetsLateUpdates)
{
    Fixture f;
    f.world.getSystemInfo(0).state = SystemInfo::kDisabled;
    f.world.update(kStart);
    f.world.update(kStart + 10'000);
    EXPECT_EQ(f.journal, (Journal { "B:tick@0", "B:tick@10000", "B:update@10000", "A:late", "B:late" }));
}

TEST(WorldUpdate, FirstUpdateAtTimeZeroLeavesTheClockUnstarted)
{
    Fixture f;
    f.world.update(0);
    f.world.update(kStart);
    EXPECT_EQ(f.journal, (Journal { "A:tick@0", "B:tick@0", "A:tick@0", "B:tick@0" }));
}

TEST(WorldUpdate, RestartMakesTheNextFrameAFirstFrame)
{
    Fixture f;
    f.world.update(kStart);
    f.world.update(kStart + 30'000);
    f.world.restartClock();
    f.journal.clear();
    f.world.update(kStart + 90'000);
    EXPECT_EQ(f.journal, (Journal { "A:tick@0", "B:tick@0" }));
    EXPECT_EQ(f.world.clock.simulatedTime, 0u);
}

TEST(WorldUpdate, TimeRunningBackwardsCountsAsNoTime)
{
    Fixture f;
    f.world.update(kStart);
    f.world.update(kStart + 20'000);
    f.journal.clear();
    f.world.update(kStart + 10'000);
    EXPECT_EQ(f.countPrefix("A:tick"), 0u);
    f.world.update(kStart + 30'000); // only the 10 ms past the latest time seen
    EXPECT_EQ(f.countPrefix("A:tick"), 1u);
    EXPECT_EQ(f.world.clock.simulatedTime, 30'000u);
}

TEST(WorldUpdate, DestroyDuringTickWaitsForEverySystemAndQueuesOnce)
{
    Fixture f;
    EntityHandle victims[2] = { f.world.createEntity(), f.world.createEntity() };
    f.world.activateEntities(victims, 2);
    bool bSawVictimValid = false;
    f.a->onTick = [&](UpdateContext&, World& w) {
        w.destroyEntities(&victims[0], 1);
        w.destroyEntities(victims, 2); // victims[0] again
    };
    f.b->onTick = [&](UpdateContext&, World& w) { bSawVictimValid = w.isValid(victims[0]) && w.isValid(victims[1]); };
    f.a->recordTicks = f.b->recordTicks = false;
    f.journal.clear();
    f.world.update(kStart);
    EXPECT_TRUE(bSawVictimValid);
    EXPECT_EQ(f.journal,
        (Journal { "A:deactivated[0:1]", "B:deactivated[0:1]", "A:deactivated[1:1]", "B:deactivated[1:1]",
            "A:destroyed[0:1,1:1]", "B:destroyed[0:1,1:1]" }));
    EXPECT_FALSE(f.world.isValid(victims[0]));
    EXPECT_EQ(f.world.liveEntityCount, 0u);
    EXPECT_FALSE(f.world.ticking);
    EXPECT_TRUE(f.world.pendingDestroys.isEmpty());
}

TEST(WorldUpdate, ContextSlotCountFollowsEntitiesCreatedBySystems)
{
    Fixture f;
    u64 seenByB = 0;
    f.a->onTick = [&](UpdateContext&, World& w) { w.createEntity(); };
    f.b->onTick = [&](UpdateContext& c, World&) { seenByB = c.slotCount; };
    f.world.update(kStart);
    EXPECT_EQ(seenByB, 1u);
    f.b->onUpdate = [&](UpdateContext& c, World&) { seenByB = c.slotCount; };
    f.a->onUpdate = [&](UpdateContext&, World& w) { w.createEntity(); };
    f.world.update(kStart + 10'000);
    EXPECT_EQ(seenByB, 3u); // one more from the tick, one from A's update
}

TEST(WorldClock, ClampedFrameRunsMaxDeltaOverStepPlusOneTicks)
{
    struct Case {
        u64 step, maxDelta, delta;
        u32 ticks;
    };
    const Case cases[] = {
        { 10'000, 1'000'000, 5'000'000, 101 },
        { 16'666, 1'000'000, 2'000'000, 61 }, // not a multiple: the remainder carries over
        { 10'000, 100'000, 100'000, 10 }, // exactly at the limit: not clamped
    };
    for (const Case& c : cases) {
        WorldClock clock;
        clock.step = c.step;
        clock.maxDelta = c.maxDelta;
        clock.advance(kStart);
        EXPECT_TRUE(clock.advance(kStart + c.delta));
        EXPECT_EQ(clock.tickCount, c.ticks) << c.step << " " << c.delta;
        EXPECT_EQ(clock.clamped, c.delta > c.maxDelta);
    }
}

TEST(WorldClockDeathTest, ZeroStepIsFatal)
{
    EXPECT_DEATH(
        {
            WorldClock clock;
            clock.advance(kStart);
        },
        "World clock step is zero");
}

} // namespace
