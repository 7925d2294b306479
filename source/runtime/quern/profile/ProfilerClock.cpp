#include "quern/profile/ProfilerClock.h"

#include "quern/platform/Clock.h"
#include "quern/platform/SystemInfo.h"

namespace quern::profile {
namespace {

u64 readTimeStampCounter() { return __builtin_ia32_rdtsc(); }
u64 readPerformanceCounter() { return platform::getPerformanceCounter(); }

} // namespace

ProfilerClock ProfilerClock::timeStampCounter()
{
    const u32 megahertz = platform::getCpuMHz(0);
    if (megahertz == 0)
        return performanceCounter();
    return { &readTimeStampCounter, static_cast<f64>(megahertz) * 1'000'000.0 };
}

ProfilerClock ProfilerClock::performanceCounter()
{
    return { &readPerformanceCounter, static_cast<f64>(platform::kPerformanceFrequency) };
}

} // namespace quern::profile
