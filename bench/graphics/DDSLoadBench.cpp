// Loading 200 DDS textures (256 x 256 DXT1 with every mip level) through the
// texture handler into the resource cache on the null device, against the
// floor any loader has to pay: copying the same files' bytes once into fresh
// memory. Prints ms per texture, MB/s and the ratio after the table.

#include "DDSTestFiles.h"
#include "MemoryDepot.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/memory/DefaultAllocator.h"
#include "support/RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using quern::u64;
using quern::u8;
namespace testing = quern::graphics::testing;

constexpr int kTextureCount = 200;
constexpr quern::u32 kSide = 256;
constexpr quern::u32 kLevels = 9;

struct Content {
    Content() = default;
    Content(const Content&) = delete;
    Content& operator=(const Content&) = delete;
    testing::MemoryDepot depot;
    std::vector<u64> ids;
    std::vector<std::vector<u8>> files;
    u64 totalBytes = 0;
};

void build(Content& built)
{
    const u64 payload = testing::dxt1ChainBytes(kSide, kSide, kLevels);
    for (int i = 0; i < kTextureCount; ++i) {
        std::vector<u8> file = testing::makeDDS(testing::dxt1Spec(kSide, kSide, kLevels), payload);
        file[128] = static_cast<u8>(i); // every texture its own bytes
        built.totalBytes += file.size();
        built.ids.push_back(built.depot.add("texture" + std::to_string(i) + ".dds", file));
        built.files.push_back(std::move(file));
    }
}

std::unique_ptr<Content> g_content;

Content& content()
{
    if (!g_content) {
        g_content = std::make_unique<Content>();
        build(*g_content);
    }
    return *g_content;
}

void setCounters(benchmark::State& state)
{
    // The inverted rate of 200 items per iteration: seconds per texture.
    state.counters["per_texture"] = benchmark::Counter(
        kTextureCount, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content().totalBytes));
}

void BM_LoadThroughHandler(benchmark::State& state)
{
    Content& data = content();
    quern::assets::AssetHandlerRegistry registry;
    auto* handler = registry.create<quern::graphics::PixelBufferHandler>();
    quern::assets::AssetHandlerRegistry::setInstance(&registry);
    quern::assets::DefaultResourceCache cache;
    (void)handler;
    for (auto _ : state) {
        for (u64 id : data.ids) {
            const u64 key = quern::assets::loadAsset(id, quern::assets::ResourceType::Texture, data.depot, cache);
            benchmark::DoNotOptimize(key);
        }
        state.PauseTiming();
        cache.clear();
        state.ResumeTiming();
    }
    quern::assets::AssetHandlerRegistry::setInstance(nullptr);
    setCounters(state);
}
BENCHMARK(BM_LoadThroughHandler)->Unit(benchmark::kMillisecond);

void BM_CopyFileBytes(benchmark::State& state)
{
    Content& data = content();
    for (auto _ : state) {
        for (const std::vector<u8>& file : data.files) {
            void* copy = std::malloc(file.size());
            std::memcpy(copy, file.data(), file.size());
            benchmark::DoNotOptimize(copy);
            benchmark::ClobberMemory();
            std::free(copy);
        }
    }
    setCounters(state);
}
BENCHMARK(BM_CopyFileBytes)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::graphics::Display::set(new quern::graphics::NullDisplay());
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    const double megabytes = static_cast<double>(content().totalBytes) / (1024.0 * 1024.0);
    // Real times are per iteration (200 textures) in the report's unit (ms).
    for (const char* name : { "BM_LoadThroughHandler", "BM_CopyFileBytes" })
        if (t.count(name))
            std::printf(
                "%s: %.4f ms per texture, %.0f MB/s\n", name, t[name] / kTextureCount, megabytes / (t[name] / 1000.0));
    if (t.count("BM_LoadThroughHandler") && t.count("BM_CopyFileBytes"))
        std::printf("Handler load / byte copy time: %.2fx\n", t["BM_LoadThroughHandler"] / t["BM_CopyFileBytes"]);
    benchmark::Shutdown();
    g_content.reset();
    quern::graphics::Display::set(nullptr);
    quern::memory::shutdownDefaultAllocators();
    return 0;
}
