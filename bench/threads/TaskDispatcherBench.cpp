// Parallel-for throughput of the task dispatcher against OpenMP's `parallel for`
// on the same work, and the latency of submitting and waiting for an empty task.

#include "quern/memory/DefaultAllocator.h"
#include "quern/threads/TaskDispatcher.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

namespace {

using quern::u32;
using quern::u64;

u32 g_workers = 8;
quern::threads::TaskDispatcher g_dispatcher;

// A dependent chain of multiply-xorshift rounds: about 1.4 ns per round here.
inline u64 work(u64 value, u32 rounds)
{
    for (u32 i = 0; i < rounds; ++i) {
        value ^= value >> 29;
        value *= 0xbf58476d1ce4e5b9ull;
    }
    return value;
}

constexpr u32 kFineItems = 1'000'000;
constexpr u32 kFineRounds = 100; // about 100 ns
constexpr u32 kCoarseItems = 10'000;
constexpr u32 kCoarseRounds = 32'000; // about 50 us

class WorkTask final : public quern::threads::Task {
public:
    WorkTask(u32 items, u32 rounds) : Task(items), m_rounds(rounds) {}
    void run(quern::threads::TaskRange range) override
    {
        u64 sum = 0;
        for (u32 i = range.firstItem; i < range.firstItem + range.itemCount; ++i)
            sum += work(i, m_rounds);
        m_sum.fetch_add(sum, std::memory_order_relaxed);
    }
    u64 sum() const { return m_sum.load(); }

private:
    u32 m_rounds;
    std::atomic<u64> m_sum{0};
};

void runSerial(benchmark::State& state, u32 items, u32 rounds)
{
    for (auto _ : state) {
        u64 sum = 0;
        for (u32 i = 0; i < items; ++i)
            sum += work(i, rounds);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
}

void runDispatcher(benchmark::State& state, u32 items, u32 rounds)
{
    for (auto _ : state) {
        WorkTask task(items, rounds);
        g_dispatcher.submit(task);
        g_dispatcher.wait(task);
        benchmark::DoNotOptimize(task.sum());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
}

void runOpenMP(benchmark::State& state, u32 items, u32 rounds)
{
    for (auto _ : state) {
        u64 sum = 0;
#pragma omp parallel for schedule(static) reduction(+ : sum) num_threads(g_workers)
        for (u32 i = 0; i < items; ++i)
            sum += work(i, rounds);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
}

// Dynamic scheduling balances like work stealing does; a fairer peer on a busy machine.
void runOpenMPDynamic(benchmark::State& state, u32 items, u32 rounds)
{
    const int chunk = static_cast<int>(items / (g_workers * (g_workers - 1) > 0 ? g_workers * (g_workers - 1) : 1));
    for (auto _ : state) {
        u64 sum = 0;
#pragma omp parallel for schedule(dynamic, chunk) reduction(+ : sum) num_threads(g_workers)
        for (u32 i = 0; i < items; ++i)
            sum += work(i, rounds);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
}

void Fine_Serial(benchmark::State& state) { runSerial(state, kFineItems, kFineRounds); }
void Fine_Dispatcher(benchmark::State& state) { runDispatcher(state, kFineItems, kFineRounds); }
void Fine_OpenMP(benchmark::State& state) { runOpenMP(state, kFineItems, kFineRounds); }
void Fine_OpenMPDynamic(benchmark::State& state) { runOpenMPDynamic(state, kFineItems, kFineRounds); }
void Coarse_Serial(benchmark::State& state) { runSerial(state, kCoarseItems, kCoarseRounds); }
void Coarse_Dispatcher(benchmark::State& state) { runDispatcher(state, kCoarseItems, kCoarseRounds); }
void Coarse_OpenMP(benchmark::State& state) { runOpenMP(state, kCoarseItems, kCoarseRounds); }
void Coarse_OpenMPDynamic(benchmark::State& state) { runOpenMPDynamic(state, kCoarseItems, kCoarseRounds); }

void Latency_SubmitWaitEmptyTask(benchmark::State& state)
{
    class EmptyTask final : public quern::threads::Task {
    public:
        EmptyTask() : Task(1) {}
        void run(quern::threads::TaskRange) override {}
    } task;
    for (auto _ : state) {
        g_dispatcher.submit(task);
        g_dispatcher.wait(task);
    }
}

BENCHMARK(Fine_Serial)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Fine_Dispatcher)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Fine_OpenMP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Fine_OpenMPDynamic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Coarse_Serial)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Coarse_Dispatcher)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Coarse_OpenMP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Coarse_OpenMPDynamic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Latency_SubmitWaitEmptyTask)->Unit(benchmark::kNanosecond)->UseRealTime();

// Keeps each benchmark's best time per iteration (over repetitions, which the
// shared machine makes noisy) so the ratios can be printed at the end.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                const std::string name = run.run_name.str();
                const double time = run.GetAdjustedRealTime();
                const auto found = times.find(name);
                if (found == times.end() || time < found->second)
                    times[name] = time;
            }
    }
    double time(const std::string& name) const
    {
        const auto found = times.find(name);
        return found == times.end() ? 0.0 : found->second;
    }
    std::map<std::string, double> times;
};

void printRatios(const RatioReporter& reporter, const char* group)
{
    const std::string base(group);
    const double serial = reporter.time(base + "_Serial/real_time");
    const double dispatcher = reporter.time(base + "_Dispatcher/real_time");
    const double openmp = reporter.time(base + "_OpenMP/real_time");
    const double dynamic = reporter.time(base + "_OpenMPDynamic/real_time");
    if (serial <= 0 || dispatcher <= 0 || openmp <= 0 || dynamic <= 0)
        return;
    std::printf("%-6s dispatcher throughput / OpenMP static: %.3fx, / OpenMP dynamic: %.3fx   "
                "speed-up over one thread: dispatcher %.2fx, OpenMP static %.2fx, dynamic %.2fx\n",
                group, openmp / dispatcher, dynamic / dispatcher, serial / dispatcher, serial / openmp, serial / dynamic);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig{});
    const unsigned hardware = std::thread::hardware_concurrency();
    g_workers = hardware ? hardware : 8;
    g_dispatcher.start(g_workers);
    std::printf("workers: %u (dispatcher and OpenMP)\n", g_workers);

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatios(reporter, "Fine");
    printRatios(reporter, "Coarse");

    g_dispatcher.stop();
    benchmark::Shutdown();
    quern::memory::shutdownDefaultAllocators();
    return 0;
}
