// The overlay's text pool over frames of 2,000 changing texts (counters
// that show the frame number): each frame acquires its texts and releases
// the ones of the frame before, as the overlay does at the end of a frame;
// against a std::unordered_map from text to count doing the same, in the
// same run. Both sides format the same texts. The pool's slot count after
// 10,000 frames is printed: it stays the size of two frames' texts.

#include "support/RatioReporter.h"

#include "harmonize/hud/OverlayStringPool.h"

#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using quern::u32;
using quern::u64;

constexpr int kTextsPerFrame = 2'000;

// The texts of frame `frame`, formatted into one buffer.
struct FrameTexts {
    char buffer[kTextsPerFrame][24];
    void format(u64 frame)
    {
        for (int i = 0; i < kTextsPerFrame; ++i)
            std::snprintf(buffer[i], sizeof buffer[i], "%llu / %d", static_cast<unsigned long long>(frame), i);
    }
};

// One frame of the pool: this frame's texts in, the last frame's out.
struct PoolFrames {
    harmonize::OverlayStringPool pool;
    FrameTexts texts;
    std::vector<const char*> previous, current;
    void run(u64 frame)
    {
        texts.format(frame);
        current.clear();
        for (const auto& text : texts.buffer)
            current.push_back(pool.acquire(text));
        for (const char* text : previous)
            pool.release(text);
        previous.swap(current);
    }
};

void BM_OverlayStringPool(benchmark::State& state)
{
    PoolFrames frames;
    harmonize::OverlayStringPool& pool = frames.pool;
    u64 frame = 0;
    for (auto _ : state) {
        frames.run(frame++);
        benchmark::DoNotOptimize(frames.previous.data());
    }
    state.counters["slots"] = static_cast<double>(pool.slotCount());
}
BENCHMARK(BM_OverlayStringPool)->Unit(benchmark::kMicrosecond);

void BM_UnorderedMapCounts(benchmark::State& state)
{
    std::unordered_map<std::string, u32> counts;
    FrameTexts texts;
    std::vector<const char*> previous, current;
    u64 frame = 0;
    for (auto _ : state) {
        texts.format(frame++);
        current.clear();
        for (const auto& text : texts.buffer) {
            auto [entry, added] = counts.try_emplace(text, 0);
            ++entry->second;
            current.push_back(entry->first.c_str());
        }
        for (const char* text : previous) {
            auto found = counts.find(text);
            if (found != counts.end() && --found->second == 0)
                counts.erase(found);
        }
        previous.swap(current);
        benchmark::DoNotOptimize(previous.data());
    }
}
BENCHMARK(BM_UnorderedMapCounts)->Unit(benchmark::kMicrosecond);

// 10,000 frames, then the slots the pool made.
u64 slotsAfterTenThousandFrames()
{
    PoolFrames frames;
    for (u64 frame = 0; frame < 10'000; ++frame)
        frames.run(frame);
    return frames.pool.slotCount();
}

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_OverlayStringPool") && t.count("BM_UnorderedMapCounts"))
        std::printf("overlay string pool / unordered_map counts (2,000 texts a frame): %.2fx the time\n",
            t["BM_OverlayStringPool"] / t["BM_UnorderedMapCounts"]);
    std::printf("pool slots after 10,000 frames of %d texts: %llu\n", kTextsPerFrame,
        static_cast<unsigned long long>(slotsAfterTenThousandFrames()));
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
