#pragma once
// The fixed-step clock of a World. Each frame it turns the caller's frame time
// into a number of fixed ticks, carrying what is left over to the next frame,
// and limits how much time one frame may consume. All times are microseconds.

#include "quern/Types.h"

namespace quern::entity {

struct WorldClock {
    static constexpr u64 kDefaultMaxDelta = 1'000'000;

    u64 simulatedTime = 0; // scaled time since the clock started
    u64 startTime = 0; // the time of the first advance; 0 = not started
    u64 lastElapsed = 0; // time since start at the previous advance
    u64 remainder = 0; // scaled time carried to the next frame
    u64 step = 0; // fixed tick length
    u64 tickBase = 0; // simulated time of this frame's first fixed tick
    u64 maxDelta = kDefaultMaxDelta; // largest scaled delta one frame may consume
    f32 deltaSeconds = 0.0f; // this frame's (possibly clamped) delta
    f32 timeScale = 1.0f;
    u32 tickCount = 0; // fixed ticks to run this frame
    bool forceAllTicks = false; // no clamping and no per-system limits
    bool clamped = false; // this frame's delta was clamped

    // Moves the clock to `now`. The first call only starts the clock and asks
    // for one tick; later calls return true (a variable update is due). Time
    // that runs backwards counts as no time.
    bool advance(u64 now);

    // The next advance starts the clock again.
    void restart()
    {
        startTime = 0;
        simulatedTime = 0;
    }
};

} // namespace quern::entity
