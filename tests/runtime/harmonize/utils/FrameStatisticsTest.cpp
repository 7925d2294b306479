#include "harmonize/utils/FrameStatistics.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

TEST(FrameStatisticsTest, SmoothingUsesIntegerWeights)
{
    // Two finished frames leave both records zeroed.
    finishFrameStatistics();
    currentFrameStatistics().clear();
    finishFrameStatistics();
    currentFrameStatistics().clear();

    FrameStatistics& first = currentFrameStatistics();
    first.timings[kWorldUpdateTiming] = 1000;
    first.timings[kFramePeriodTiming] = 16'666;
    first.counters[kParticleCounterFirst + 1] = 500; // smoothed into the first particle slot
    first.counters[kParticleCounterFirst] = 12345; // the first particle counter is not smoothed
    first.gameEvents = 7;
    finishFrameStatistics();

    FrameStatistics& second = currentFrameStatistics();
    EXPECT_NE(&second, &first);
    EXPECT_EQ(&previousFrameStatistics(), &first);
    EXPECT_EQ(second.timings[kWorldUpdateTiming].load(), 0u);
    EXPECT_EQ(second.smoothedTimings[kWorldUpdateTiming].load(), 100u);
    EXPECT_EQ(second.smoothedTimings[kFramePeriodTiming].load(), 1666u);
    EXPECT_EQ(second.counters[kParticleSmoothedFirst].load(), 5u);
    EXPECT_EQ(second.counters[kParticleSmoothedFirst + 1].load(), 0u);
    EXPECT_EQ(second.counters[kParticleCounterFirst].load(), 0u);
    EXPECT_EQ(second.smoothedGameEvents.load(), 0u); // 7 x 100 / 1000 truncates

    // A frame with nothing measured: the smoothed values decay.
    finishFrameStatistics();
    FrameStatistics& third = currentFrameStatistics();
    EXPECT_EQ(third.smoothedTimings[kWorldUpdateTiming].load(), 90u);
    EXPECT_EQ(third.smoothedTimings[kFramePeriodTiming].load(), 1499u);
    EXPECT_EQ(third.counters[kParticleSmoothedFirst].load(), 4u); // 99 x 5 x 10 / 1000
}

} // namespace
} // namespace harmonize
