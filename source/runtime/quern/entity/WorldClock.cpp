#include "quern/entity/WorldClock.h"

#include "quern/platform/ErrorReporting.h"

namespace quern::entity {

bool WorldClock::advance(u64 now)
{
    if (step == 0)
        QUERN_FATAL("World clock step is zero");
    if (startTime == 0) {
        startTime = now;
        simulatedTime = 0;
        lastElapsed = 0;
        remainder = 0;
        tickBase = 0;
        clamped = false;
        tickCount = 1;
        return false;
    }
    const u64 elapsed = now > startTime ? now - startTime : 0;
    u64 delta = 0;
    if (elapsed > lastElapsed) {
        delta = elapsed - lastElapsed;
        lastElapsed = elapsed;
    }

    // Scaled in single precision on purpose: replays compare the tick counts
    // this produces, so the rounding must stay the same everywhere.
    const f32 scaledFloat = static_cast<f32>(delta) * timeScale;
    const u64 scaled = scaledFloat > 0.0f ? static_cast<u64>(scaledFloat) : 0;

    u64 effective;
    if (scaled <= maxDelta || forceAllTicks) {
        clamped = false;
        tickBase += step * tickCount;
        effective = scaled;
    } else {
        // Only the last maxDelta of the frame is simulated; the ticks keep to
        // the step grid of the full simulated time.
        clamped = true;
        remainder = step;
        tickBase = (simulatedTime + scaled - maxDelta) / step * step;
        effective = maxDelta;
    }
    simulatedTime += scaled;
    deltaSeconds = static_cast<f32>(effective) / 1'000'000.0f;
    const u64 available = effective + remainder;
    tickCount = static_cast<u32>(available / step);
    remainder = available % step;
    return true;
}

} // namespace quern::entity
