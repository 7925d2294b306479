#include "quern/platform/Clock.h"

#include <gtest/gtest.h>

#include <chrono>

namespace quern::platform {
namespace {

u64 steadyTicks()
{
    // steady_clock is the same monotonic clock; 100 ns per counter tick.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<u64>(ns.count()) / 100;
}

TEST(Clock, FrequencyIsTenMegahertz)
{
    EXPECT_EQ(getPerformanceFrequency(), 10'000'000u);
    EXPECT_EQ(kPerformanceFrequency, 10'000'000u);
}

TEST(Clock, MonotonicCounterIsTheMonotonicClockInHundredNanosecondTicks)
{
    for (int i = 0; i < 100; ++i) {
        const u64 before = steadyTicks();
        const u64 counter = readMonotonicCounter();
        const u64 after = steadyTicks();
        ASSERT_LE(before, counter);
        ASSERT_LE(counter, after);
    }
}

TEST(Clock, DefaultSourceNeverGoesBackwards)
{
    u64 last = getPerformanceCounter();
    for (int i = 0; i < 10000; ++i) {
        const u64 now = getPerformanceCounter();
        ASSERT_GE(now, last);
        last = now;
    }
}

TEST(Clock, ManualSourceDrivesTheCounterAndScopeRestoresTheClock)
{
    ManualCounterSource manual(1234);
    {
        ScopedCounterSource scope(manual);
        EXPECT_EQ(getPerformanceCounter(), 1234u);
        manual.advance(secondsToTicks(0.5));
        EXPECT_EQ(getPerformanceCounter(), 1234u + 5'000'000u);
        manual.set(7);
        EXPECT_EQ(getPerformanceCounter(), 7u);
    }
    const u64 before = steadyTicks();
    const u64 counter = getPerformanceCounter();
    EXPECT_GE(counter, before);
}

TEST(Clock, SetSourceReturnsThePreviousOne)
{
    ManualCounterSource first(1), second(2);
    EXPECT_EQ(setPerformanceCounterSource(&first), nullptr);
    EXPECT_EQ(setPerformanceCounterSource(&second), &first);
    EXPECT_EQ(getPerformanceCounter(), 2u);
    EXPECT_EQ(setPerformanceCounterSource(nullptr), &second);
}

TEST(Clock, CalendarIsTheSystemTimeUnlessASourceIsInstalled)
{
    const u64 before = static_cast<u64>(std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count());
    const u64 calendar = getCalendarSeconds();
    EXPECT_GE(calendar, before);
    EXPECT_LE(calendar, before + 2);
    {
        FixedCalendarSource fixed(86'400);
        ScopedCalendarSource scope(fixed);
        EXPECT_EQ(getCalendarSeconds(), 86'400u);
        fixed.set(7);
        EXPECT_EQ(getCalendarSeconds(), 7u);
    }
    EXPECT_GE(getCalendarSeconds(), before);
}

TEST(Clock, TickConversions)
{
    EXPECT_DOUBLE_EQ(ticksToSeconds(10'000'000), 1.0);
    EXPECT_DOUBLE_EQ(ticksToSeconds(100'000), 0.01);
    EXPECT_EQ(secondsToTicks(0.25), 2'500'000u);
}

} // namespace
} // namespace quern::platform
