#include "harmonize/frame/MainLoop.h"

#include "harmonize/events/AppEventDispatch.h"
#include "quern/platform/Clock.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <vector>

namespace harmonize {
namespace {

using quern::platform::ManualCounterSource;
using quern::platform::ScopedCounterSource;

std::vector<u32> g_sleeps;
void recordSleep(u32 milliseconds) { g_sleeps.push_back(milliseconds); }

// Each frame takes the given number of counter ticks; the app quits after the
// last one, or the display closes during the frame given.
class FakeLoopHost final : public MainLoopHost {
public:
    FakeLoopHost(ManualCounterSource& counter, std::vector<i64> frameTicks)
        : m_counter(counter)
        , m_frameTicks(std::move(frameTicks))
    {
    }

    bool displayOpen() override { return open; }
    void runFrame(i64 accumulated) override
    {
        frames.push_back(accumulated);
        const size_t index = frames.size() - 1;
        if (index < m_frameTicks.size())
            m_counter.advance(static_cast<u64>(m_frameTicks[index]));
        if (closeDuringFrame == static_cast<i32>(index))
            open = false;
    }
    void drainAppEvents() override
    {
        ++drains;
        if (frames.size() >= m_frameTicks.size())
            state = kAppQuitting;
    }
    i32 appState() override { return state; }

    bool open = true;
    i32 state = kAppRunningLoggedIn;
    i32 closeDuringFrame = -1;
    i32 drains = 0;
    std::vector<i64> frames;

private:
    ManualCounterSource& m_counter;
    std::vector<i64> m_frameTicks;
};

class MainLoopTest : public ::testing::Test {
protected:
    void SetUp() override { g_sleeps.clear(); }
    ManualCounterSource counter { 50'000'000 };
    ScopedCounterSource scoped { counter };
};

TEST(FramePacerTest, BudgetFromTheFrameRate)
{
    struct Case {
        i32 maxFrameRate;
        i64 budget;
    } cases[] = { { 300, 33'333 }, { 60, 166'666 }, { 1, 10'000'000 }, { 0, 0 }, { -30, 0 } };
    for (const Case& c : cases)
        EXPECT_EQ(FramePacer(c.maxFrameRate).budget(), c.budget) << c.maxFrameRate;
}

TEST(FramePacerTest, SleepsTheRestOfTheBudgetInWholeMilliseconds)
{
    const FramePacer capped(300);
    struct Case {
        i64 period;
        u32 sleep;
    } cases[] = {
        { 0, 3 }, // 3,333 us left
        { 20'000, 1 }, // 1,333 us
        { 30'000, 1 }, // 333 us: still at least one
        { 33'332, 1 }, { 33'333, 0 }, { 90'000, 0 }, { -5, 3 }, // a counter that went back counts as a short frame
    };
    for (const Case& c : cases)
        EXPECT_EQ(capped.sleepAfter(c.period), c.sleep) << c.period;

    const FramePacer uncapped(0);
    EXPECT_EQ(uncapped.sleepAfter(0), 0u);
    EXPECT_EQ(uncapped.sleepAfter(1), 0u);
}

TEST(FramePacerTest, MicrosecondsOfLongRunsDoNotOverflow)
{
    EXPECT_EQ(ticksToMicroseconds(16'666), 1'666);
    EXPECT_EQ(ticksToMicroseconds(49'998), 4'999);
    // Thirty days of ticks: the plain product would pass the signed 64-bit range.
    const i64 month = i64 { 30 } * 24 * 3600 * 10'000'000 + 7;
    EXPECT_EQ(ticksToMicroseconds(month), i64 { 30 } * 24 * 3600 * 1'000'000);
}

TEST_F(MainLoopTest, WarmUpRunsThreeFixedSteps)
{
    FakeLoopHost host(counter, {});
    MainLoop loop(FramePacer(300, &recordSleep));
    loop.warmUp(host);
    EXPECT_EQ(host.frames, (std::vector<i64> { 16'666, 33'332, 49'998 }));
    EXPECT_EQ(host.drains, 0);
    EXPECT_TRUE(g_sleeps.empty());
}

TEST_F(MainLoopTest, FramesAccumulateTheMeasuredPeriodsAndSleepOnTheOneBefore)
{
    // Frame lengths: 5,000 ticks, then 40,000, then 10,000.
    FakeLoopHost host(counter, { 5'000, 40'000, 10'000 });
    MainLoop loop(FramePacer(300, &recordSleep));
    loop.warmUp(host);
    host.frames.clear();
    loop.run(host);

    // The first period is one warm-up step; then each frame's own length.
    const i64 base = 49'998;
    EXPECT_EQ(host.frames, (std::vector<i64> { base + 16'666, base + 16'666 + 5'000, base + 16'666 + 5'000 + 40'000 }));
    EXPECT_EQ(host.drains, 3);
    // Each sleep follows the period that ended when its frame began:
    // 16,666 -> 1.67 ms, 5,000 -> 2.83 ms, 40,000 -> over budget.
    EXPECT_EQ(g_sleeps, (std::vector<u32> { 1, 2 }));
    EXPECT_EQ(loop.accumulatedTicks(), base + 61'666);
}

TEST_F(MainLoopTest, UncappedLoopNeverSleeps)
{
    FakeLoopHost host(counter, { 1, 1, 1, 1 });
    MainLoop loop(FramePacer(0, &recordSleep));
    loop.run(host);
    EXPECT_EQ(host.frames.size(), 4u);
    EXPECT_TRUE(g_sleeps.empty());
}

TEST_F(MainLoopTest, DisplayClosedDuringAFrameSkipsItsEventsAndEndsTheLoop)
{
    quern::testing::LogCapture log(3);
    FakeLoopHost host(counter, { 100, 100, 100, 100, 100 });
    host.closeDuringFrame = 1;
    MainLoop loop(FramePacer(300, &recordSleep));
    loop.run(host);
    EXPECT_EQ(host.frames.size(), 2u);
    EXPECT_EQ(host.drains, 1);
    EXPECT_EQ(g_sleeps.size(), 1u);
    EXPECT_EQ(log.count("Exiting main loop because display was closed"), 1u);
}

TEST_F(MainLoopTest, NothingRunsWhenAlreadyQuitting)
{
    FakeLoopHost host(counter, { 100 });
    host.state = kAppQuitting;
    MainLoop loop(FramePacer(300, &recordSleep));
    loop.run(host);
    EXPECT_TRUE(host.frames.empty());
}

} // namespace
} // namespace harmonize
