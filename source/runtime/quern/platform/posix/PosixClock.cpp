#include "quern/platform/Clock.h"

#include <time.h>

namespace quern::platform {
namespace {
std::atomic<CounterSource*> g_source{nullptr};
std::atomic<CalendarSource*> g_calendar{nullptr};
} // namespace

u64 readMonotonicCounter()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    constexpr u64 kNanosecondsPerTick = 1'000'000'000 / kPerformanceFrequency;
    return static_cast<u64>(now.tv_sec) * kPerformanceFrequency + static_cast<u64>(now.tv_nsec) / kNanosecondsPerTick;
}

u64 getPerformanceCounter()
{
    CounterSource* source = g_source.load(std::memory_order_acquire);
    return source ? source->read() : readMonotonicCounter();
}

u64 getPerformanceFrequency() { return kPerformanceFrequency; }

CounterSource* setPerformanceCounterSource(CounterSource* source)
{
    return g_source.exchange(source, std::memory_order_acq_rel);
}

u64 getCalendarSeconds()
{
    if (CalendarSource* source = g_calendar.load(std::memory_order_acquire))
        return source->seconds();
    const time_t now = time(nullptr);
    return now < 0 ? 0 : static_cast<u64>(now);
}

CalendarSource* setCalendarSource(CalendarSource* source)
{
    return g_calendar.exchange(source, std::memory_order_acq_rel);
}

} // namespace quern::platform
