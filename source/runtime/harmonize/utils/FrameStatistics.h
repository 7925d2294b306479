#pragma once
// What the last frames measured, for the debug overlay: the frame being run
// fills one record while the overlay reads the one before it. Smoothed values
// follow the raw ones with integer weights, so nothing here allocates.

#include "quern/Types.h"

#include <atomic>

namespace harmonize {

using quern::u32;
using quern::u64;

// Counter slots; the rest stay zero.
enum FrameCounter : u32 {
    kParticleCounterFirst = 2, // four counters the particle system writes
    kParticleSmoothedFirst = 7, // smoothed values of counters 3 to 5
    kCollisionCounterFirst = 10, // three counters the collision system writes
    kPhysicsMicroseconds = 13,
    kFrameCounterCount = 14,
};

enum FrameTiming : u32 {
    kWorldUpdateTiming = 0, // the world update that finished last
    kFramePeriodTiming, // previous render start to this frame's post-present point
    kUpdateAndPresentTiming,
    kRenderPreparationTiming,
    kFrameTimingCount,
};

// Fields are written by world-update tasks on several workers at once.
struct FrameStatistics {
    std::atomic<u32> counters[kFrameCounterCount];
    std::atomic<u64> timings[kFrameTimingCount]; // microseconds
    std::atomic<u64> smoothedTimings[kFrameTimingCount];
    std::atomic<u32> gameEvents;
    std::atomic<u32> smoothedGameEvents;

    void clear();
};

// The record the running frame fills.
FrameStatistics& currentFrameStatistics();
// The record of the frame before.
FrameStatistics& previousFrameStatistics();

// Ends the frame: the other record becomes current, zeroed, with smoothed
// values taken from the one just finished (weights 0.99/0.01 for particle
// counts, 0.9/0.1 for timings and game events).
void finishFrameStatistics();

} // namespace harmonize
