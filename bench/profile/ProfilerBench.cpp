// The cost of one sample (begin and end, a child of the frame sample) timed by
// the time-stamp counter against the same sample timed by the performance
// counter; prints the time ratio after the table.

#include "quern/memory/DefaultAllocator.h"
#include "quern/profile/Profiler.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>
#include "support/RatioReporter.h"

namespace {

constexpr char kSample[] = "Sample";
constexpr int kSamplesPerFrame = 1000;

void runFrames(benchmark::State& state, const quern::profile::ProfilerClock& clock)
{
    quern::profile::Profiler profiler(clock);
    for (auto _ : state) {
        profiler.nextFrame();
        for (int i = 0; i < kSamplesPerFrame; ++i) {
            profiler.beginSample(kSample);
            profiler.endSample();
        }
        profiler.endSample();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSamplesPerFrame);
}

void BM_SampleTimeStampCounter(benchmark::State& state)
{
    runFrames(state, quern::profile::ProfilerClock::timeStampCounter());
}
BENCHMARK(BM_SampleTimeStampCounter);

void BM_SamplePerformanceCounter(benchmark::State& state)
{
    runFrames(state, quern::profile::ProfilerClock::performanceCounter());
}
BENCHMARK(BM_SamplePerformanceCounter);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig{});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_SampleTimeStampCounter") && t.count("BM_SamplePerformanceCounter"))
        std::printf("time-stamp counter / performance counter time per sample: %.2fx\n",
                    t["BM_SampleTimeStampCounter"] / t["BM_SamplePerformanceCounter"]);
    benchmark::Shutdown();
    quern::memory::shutdownDefaultAllocators();
    return 0;
}
