// The special-purpose allocators against the general heap on what they exist
// for: short-lived blocks of 16 to 256 bytes (fixed seed). Each step makes a
// batch of 32 blocks, touches them and frees them: oldest first for the linear
// ring, newest first for the stack. The general heap runs both orders through
// the same Allocator interface. Prints the time ratios after the table.

#include "quern/memory/HeapAllocator.h"
#include "quern/memory/LinearAllocator.h"
#include "quern/memory/StackAllocator.h"

#include <benchmark/benchmark.h>

#include "support/RatioReporter.h"
#include <array>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace quern;

constexpr std::size_t kBatch = 32;
constexpr std::size_t kBatches = 256; // size tables cycled through, so sizes vary between steps

const std::vector<u32>& sizes()
{
    static const std::vector<u32> table = [] {
        std::vector<u32> s(kBatch * kBatches);
        std::mt19937 random(99);
        std::uniform_int_distribution<u32> size(16, 256);
        for (u32& v : s)
            v = size(random);
        return s;
    }();
    return table;
}

enum class Order { OldestFirst, NewestFirst };

template <Order order> void runBatches(benchmark::State& state, memory::Allocator& allocator)
{
    const std::vector<u32>& s = sizes();
    std::array<void*, kBatch> blocks {};
    std::size_t batch = 0;
    for (auto _ : state) {
        const u32* batchSizes = s.data() + batch * kBatch;
        for (std::size_t i = 0; i < kBatch; ++i) {
            auto* p = static_cast<unsigned char*>(allocator.allocate(batchSizes[i], 0));
            p[0] = 1; // touch it, as a caller would
            blocks[i] = p;
        }
        benchmark::ClobberMemory();
        if constexpr (order == Order::OldestFirst) {
            for (std::size_t i = 0; i < kBatch; ++i)
                allocator.free(blocks[i]);
        } else {
            for (std::size_t i = kBatch; i-- > 0;)
                allocator.free(blocks[i]);
        }
        batch = (batch + 1) % kBatches;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBatch));
}

void BM_LinearRing(benchmark::State& state)
{
    memory::HeapAllocator heap;
    memory::LinearAllocator ring(&heap, 64 * 1024);
    runBatches<Order::OldestFirst>(state, ring);
}
BENCHMARK(BM_LinearRing);

void BM_HeapOldestFirst(benchmark::State& state)
{
    memory::HeapAllocator heap;
    runBatches<Order::OldestFirst>(state, heap);
}
BENCHMARK(BM_HeapOldestFirst);

void BM_Stack(benchmark::State& state)
{
    alignas(16) static unsigned char buffer[64 * 1024];
    memory::StackAllocator stack(buffer, sizeof buffer);
    runBatches<Order::NewestFirst>(state, stack);
}
BENCHMARK(BM_Stack);

void BM_HeapNewestFirst(benchmark::State& state)
{
    memory::HeapAllocator heap;
    runBatches<Order::NewestFirst>(state, heap);
}
BENCHMARK(BM_HeapNewestFirst);

void printRatio(std::map<std::string, double>& t, const char* label, const char* special, const char* heap)
{
    if (t.count(special) && t.count(heap))
        std::printf("%s: general heap time / its time: %.2fx\n", label, t[heap] / t[special]);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatio(
        reporter.seconds, "Linear ring, 16-256 bytes, freed oldest first", "BM_LinearRing", "BM_HeapOldestFirst");
    printRatio(reporter.seconds, "Stack, 16-256 bytes, freed newest first", "BM_Stack", "BM_HeapNewestFirst");
    benchmark::Shutdown();
    return 0;
}
