// Acquiring and releasing handles on shared keys of one resource cache from 1,
// 4 and 8 threads; beside it, a plain mutex-guarded hash map that counts the same
// keys, as a floor for one locked, counted lookup. Prints the pairs per second
// and the ratio to the floor.

#include "quern/assets/DefaultResourceCache.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

namespace {

using quern::u32;
using quern::u64;

constexpr u64 kKeys = 64;
constexpr u64 kType = quern::assets::ResourceType::Texture;

class BenchResource : public quern::RefCounted { };

quern::assets::DefaultResourceCache* g_cache = nullptr;

struct CountingMap {
    std::mutex mutex;
    std::unordered_map<u64, int> counts;
};
CountingMap g_map;

void fillCache()
{
    g_cache = new quern::assets::DefaultResourceCache();
    for (u64 key = 1; key <= kKeys; ++key) {
        bool created = false;
        const u32 handle = g_cache->acquireOrCreate(key, kType, sizeof(BenchResource), alignof(BenchResource), created,
            [](void* memory, void*) { quern::RefCounted::retain(new (memory) BenchResource()); });
        g_cache->release(handle);
        g_map.counts[key] = 0;
    }
}

void BM_CacheAcquireRelease(benchmark::State& state)
{
    u64 key = static_cast<u64>(state.thread_index()) % kKeys;
    for (auto _ : state) {
        key = key + 1 > kKeys ? 1 : key + 1;
        const u32 handle = g_cache->acquire(key);
        benchmark::DoNotOptimize(handle);
        g_cache->release(handle);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_CacheAcquireRelease)->Threads(1)->Threads(4)->Threads(8)->UseRealTime();

void BM_LockedCountingMap(benchmark::State& state)
{
    u64 key = static_cast<u64>(state.thread_index()) % kKeys;
    for (auto _ : state) {
        key = key + 1 > kKeys ? 1 : key + 1;
        {
            std::lock_guard<std::mutex> lock(g_map.mutex);
            benchmark::DoNotOptimize(++g_map.counts[key]);
        }
        {
            std::lock_guard<std::mutex> lock(g_map.mutex);
            --g_map.counts[key];
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_LockedCountingMap)->Threads(1)->Threads(4)->Threads(8)->UseRealTime();

class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // With repetitions, the fastest run of each stands for it.
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            const auto found = run.counters.find("items_per_second");
            if (found == run.counters.end())
                continue;
            auto [it, added] = rates.emplace(run.benchmark_name(), found->second.value);
            if (!added && found->second.value > it->second)
                it->second = found->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    fillCache();
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* threads : { "threads:1", "threads:4", "threads:8" }) {
        const std::string cache = std::string("BM_CacheAcquireRelease/real_time/") + threads;
        const std::string floor = std::string("BM_LockedCountingMap/real_time/") + threads;
        if (!reporter.rates.count(cache))
            continue;
        std::printf("Resource cache acquire+release pairs per second, %s: %.3g\n", threads, reporter.rates[cache]);
        if (reporter.rates.count(floor))
            std::printf("Resource cache / locked counting map rate, %s: %.2fx\n", threads,
                reporter.rates[cache] / reporter.rates[floor]);
    }
    delete g_cache;
    benchmark::Shutdown();
    quern::memory::shutdownDefaultAllocators();
    return 0;
}
