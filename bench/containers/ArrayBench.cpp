// Appending 10 million u32 to an Array against std::vector in the same run;
// prints the time ratio after the table.

#include "quern/containers/Array.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>
#include "support/RatioReporter.h"

namespace {

constexpr quern::u32 kCount = 10'000'000;

void BM_ArrayAppend(benchmark::State& state)
{
    for (auto _ : state) {
        quern::containers::Array array(sizeof(quern::u32), alignof(quern::u32));
        for (quern::u32 i = 0; i < kCount; ++i)
            array.append(i);
        benchmark::DoNotOptimize(array.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kCount);
}
BENCHMARK(BM_ArrayAppend)->Unit(benchmark::kMillisecond);

void BM_ArrayPushBytes(benchmark::State& state)
{
    for (auto _ : state) {
        quern::containers::Array array(sizeof(quern::u32), alignof(quern::u32));
        for (quern::u32 i = 0; i < kCount; ++i)
            array.push(&i);
        benchmark::DoNotOptimize(array.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kCount);
}
BENCHMARK(BM_ArrayPushBytes)->Unit(benchmark::kMillisecond);

void BM_VectorPushBack(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<quern::u32> vector;
        for (quern::u32 i = 0; i < kCount; ++i)
            vector.push_back(i);
        benchmark::DoNotOptimize(vector.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kCount);
}
BENCHMARK(BM_VectorPushBack)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig{});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_VectorPushBack")) {
        if (t.count("BM_ArrayAppend"))
            std::printf("Array append / vector push_back time: %.2fx\n", t["BM_ArrayAppend"] / t["BM_VectorPushBack"]);
        if (t.count("BM_ArrayPushBytes"))
            std::printf("Array push (bytes) / vector push_back time: %.2fx\n",
                        t["BM_ArrayPushBytes"] / t["BM_VectorPushBack"]);
    }
    benchmark::Shutdown();
    quern::memory::shutdownDefaultAllocators();
    return 0;
}
