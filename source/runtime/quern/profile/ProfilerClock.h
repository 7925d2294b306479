#pragma once
// Where the profiler's time comes from: a counter and its rate. The processor's
// time-stamp counter in the game; the engine's performance counter (whose
// source tests replace) where exact, repeatable times matter.

#include "quern/Types.h"

namespace quern::profile {

struct ProfilerClock {
    u64 (*read)();
    f64 ticksPerSecond;

    // The time-stamp counter at the calibrated processor rate. Should the
    // calibration give no rate, the performance counter stands in, so ticks
    // always convert to seconds.
    static ProfilerClock timeStampCounter();
    // The engine's performance counter at its fixed rate.
    static ProfilerClock performanceCounter();

    f64 toSeconds(u64 ticks) const { return static_cast<f64>(ticks) / ticksPerSecond; }
};

} // namespace quern::profile
