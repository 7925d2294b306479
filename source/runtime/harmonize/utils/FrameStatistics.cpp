#include "harmonize/utils/FrameStatistics.h"

namespace harmonize {
namespace {

FrameStatistics g_records[2];
std::atomic<u32> g_current { 0 };

constexpr auto kRelaxed = std::memory_order_relaxed;

} // namespace

void FrameStatistics::clear()
{
    for (auto& counter : counters)
        counter.store(0, kRelaxed);
    for (u32 i = 0; i < kFrameTimingCount; ++i) {
        timings[i].store(0, kRelaxed);
        smoothedTimings[i].store(0, kRelaxed);
    }
    gameEvents.store(0, kRelaxed);
    smoothedGameEvents.store(0, kRelaxed);
}

FrameStatistics& currentFrameStatistics() { return g_records[g_current.load(kRelaxed)]; }
FrameStatistics& previousFrameStatistics() { return g_records[1 - g_current.load(kRelaxed)]; }

void finishFrameStatistics()
{
    const FrameStatistics& finished = currentFrameStatistics();
    FrameStatistics& next = previousFrameStatistics();
    next.clear();
    for (u32 i = 0; i < 3; ++i) {
        const u64 smoothed = finished.counters[kParticleSmoothedFirst + i].load(kRelaxed);
        const u64 raw = finished.counters[kParticleCounterFirst + 1 + i].load(kRelaxed);
        next.counters[kParticleSmoothedFirst + i].store(static_cast<u32>((99 * smoothed + raw) * 10 / 1000), kRelaxed);
    }
    for (u32 i = 0; i < kFrameTimingCount; ++i) {
        const u64 smoothed = finished.smoothedTimings[i].load(kRelaxed);
        const u64 raw = finished.timings[i].load(kRelaxed);
        next.smoothedTimings[i].store((9 * smoothed + raw) * 100 / 1000, kRelaxed);
    }
    const u64 smoothedEvents = finished.smoothedGameEvents.load(kRelaxed);
    const u64 rawEvents = finished.gameEvents.load(kRelaxed);
    next.smoothedGameEvents.store(static_cast<u32>((9 * smoothedEvents + rawEvents) * 100 / 1000), kRelaxed);
    g_current.store(1 - g_current.load(kRelaxed), kRelaxed);
}

} // namespace harmonize
