// World checksum over 10,000 entities with 20 component types, each entity with
// about half of them enabled. Peers: one CRC-32 call over a contiguous buffer of
// the same number of bytes (what the checksum cannot beat), and one CRC-32 call
// per component (the walk without joining neighbouring slots). Prints the
// checksum time in microseconds and the ratios after the table.

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/Hashes.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>
#include "support/RatioReporter.h"

namespace {

using namespace quern;

constexpr u64 kEntities = 10'000;
constexpr u64 kTypes = 20;

struct BenchWorld {
    BenchWorld()
    {
        u16 sizes[kTypes];
        for (u64 t = 0; t < kTypes; ++t)
            sizes[t] = static_cast<u16>(4 + 4 * (t % 8)); // 4 to 32 bytes
        world.allocateComponentStore(sizes, kTypes, kEntities, nullptr);
        std::mt19937 random(7);
        for (u64 i = 0; i < world.storeSize; ++i)
            world.store[i] = static_cast<u8>(random());
        std::vector<entity::EntityHandle> handles;
        for (u64 e = 0; e < kEntities; ++e) {
            const entity::EntityHandle h = world.createEntity();
            for (u32 t = 0; t < kTypes; ++t)
                if (random() & 1)
                    world.getComponentMask(h.index()).set(t);
            handles.push_back(h);
        }
        world.activateEntities(handles.data(), handles.size());
        for (u64 s = 0; s < kEntities; ++s)
            for (u32 t = 0; t < kTypes; ++t)
                if (world.getEnabledMask(s).test(t))
                    enabledBytes += world.componentSizes[t];
        flat.resize(enabledBytes);
        for (auto& byte : flat)
            byte = static_cast<u8>(random());
    }

    entity::World world;
    u64 enabledBytes = 0;
    std::vector<u8> flat;
};

BenchWorld& benchWorld()
{
    static BenchWorld* instance = new BenchWorld;
    return *instance;
}

void BM_WorldChecksum(benchmark::State& state)
{
    BenchWorld& b = benchWorld();
    for (auto _ : state)
        benchmark::DoNotOptimize(b.world.worldChecksum());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.enabledBytes));
}
BENCHMARK(BM_WorldChecksum)->Unit(benchmark::kMicrosecond);

void BM_Crc32ContiguousSameBytes(benchmark::State& state)
{
    BenchWorld& b = benchWorld();
    for (auto _ : state)
        benchmark::DoNotOptimize(strings::crc32(b.flat.data(), b.flat.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.enabledBytes));
}
BENCHMARK(BM_Crc32ContiguousSameBytes)->Unit(benchmark::kMicrosecond);

void BM_Crc32PerComponent(benchmark::State& state)
{
    BenchWorld& b = benchWorld();
    entity::World& w = b.world;
    for (auto _ : state) {
        u32 crc = 0;
        for (u32 t = 0; t < kTypes; ++t)
            for (u64 s = 0; s < kEntities; ++s)
                if (w.getEnabledMask(s).test(t))
                    crc = strings::crc32Append(crc, w.getComponent(s, t), w.componentSizes[t]);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.enabledBytes));
}
BENCHMARK(BM_Crc32PerComponent)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    memory::initDefaultAllocators(memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_WorldChecksum")) {
        std::printf("World checksum, %llu entities, %llu enabled bytes: %.1f us\n",
                    static_cast<unsigned long long>(kEntities),
                    static_cast<unsigned long long>(benchWorld().enabledBytes), t["BM_WorldChecksum"]);
        if (t.count("BM_Crc32ContiguousSameBytes"))
            std::printf("World checksum / contiguous CRC-32 of the same bytes: %.2fx the time\n",
                        t["BM_WorldChecksum"] / t["BM_Crc32ContiguousSameBytes"]);
        if (t.count("BM_Crc32PerComponent"))
            std::printf("One CRC-32 call per component / world checksum: %.2fx the time\n",
                        t["BM_Crc32PerComponent"] / t["BM_WorldChecksum"]);
    }
    benchmark::Shutdown();
    return 0;
}
