// General heap against the C library's malloc on the same workload: a pool of
// slots where each step frees the slot's block or allocates one of 16 bytes to
// 4 KiB (fixed seed), single-threaded and with four threads. Prints the
// throughput ratios after the table.

#include "quern/memory/GeneralHeap.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>
#include "support/RatioReporter.h"

namespace {

constexpr std::size_t kSlots = 4096;
constexpr std::size_t kSteps = 1 << 16;

struct Workload {
    std::vector<quern::u32> slot;
    std::vector<quern::u32> size;
};

// The same sequence for every run and every allocator.
const Workload& workload(unsigned seed)
{
    static std::map<unsigned, Workload> cache;
    auto [it, added] = cache.try_emplace(seed);
    if (added) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<quern::u32> slot(0, kSlots - 1);
        std::uniform_int_distribution<quern::u32> size(16, 4096);
        for (std::size_t i = 0; i < kSteps; ++i) {
            it->second.slot.push_back(slot(random));
            it->second.size.push_back(size(random));
        }
    }
    return it->second;
}

struct HeapFunctions {
    static void* allocate(std::size_t size) { return quern::memory::heapAlloc(size); }
    static void release(void* p) { quern::memory::heapFree(p); }
};

struct MallocFunctions {
    static void* allocate(std::size_t size) { return std::malloc(size); }
    static void release(void* p) { std::free(p); }
};

template <typename Functions>
void mixedSizes(benchmark::State& state)
{
    static std::mutex setup;
    const Workload* w;
    {
        std::lock_guard lock(setup);
        w = &workload(1234 + state.thread_index());
    }
    std::vector<void*> slots(kSlots, nullptr);
    std::size_t step = 0;
    for (auto _ : state) {
        const quern::u32 s = w->slot[step];
        if (slots[s]) {
            Functions::release(slots[s]);
            slots[s] = nullptr;
        } else {
            auto* p = static_cast<unsigned char*>(Functions::allocate(w->size[step]));
            p[0] = 1; // touch it, as a caller would
            slots[s] = p;
        }
        step = (step + 1) & (kSteps - 1);
    }
    for (void* p : slots)
        Functions::release(p);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_TEMPLATE(mixedSizes, HeapFunctions)->Name("GeneralHeap/1thread");
BENCHMARK_TEMPLATE(mixedSizes, MallocFunctions)->Name("Malloc/1thread");
BENCHMARK_TEMPLATE(mixedSizes, HeapFunctions)->Name("GeneralHeap")->Threads(4)->UseRealTime();
BENCHMARK_TEMPLATE(mixedSizes, MallocFunctions)->Name("Malloc")->Threads(4)->UseRealTime();

void printRatio(std::map<std::string, double>& t, const char* label, const std::string& heap, const std::string& peer)
{
    if (t.count(heap) && t.count(peer))
        std::printf("%s throughput, general heap / malloc: %.2fx\n", label, t[peer] / t[heap]);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatio(reporter.seconds, "Single thread", "GeneralHeap/1thread", "Malloc/1thread");
    printRatio(reporter.seconds, "Four threads", "GeneralHeap/real_time/threads:4", "Malloc/real_time/threads:4");
    benchmark::Shutdown();
    return 0;
}
