// Hash throughput: CRC-32 against zlib's on the same buffer, MurmurHash64A on
// large buffers and on short keys. Prints the CRC-32 ratio after the table.

#include "quern/strings/Hashes.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>
#include "support/RatioReporter.h"

namespace {

constexpr std::size_t kLargeSize = 64u << 20;

const std::vector<unsigned char>& largeBuffer()
{
    static const std::vector<unsigned char> buffer = [] {
        std::vector<unsigned char> b(kLargeSize);
        std::mt19937_64 random(42);
        for (auto& byte : b)
            byte = static_cast<unsigned char>(random());
        return b;
    }();
    return buffer;
}

void BM_Crc32Quern(benchmark::State& state)
{
    const auto& buffer = largeBuffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(quern::strings::crc32(buffer.data(), buffer.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_Crc32Quern)->Unit(benchmark::kMillisecond);

void BM_Crc32Zlib(benchmark::State& state)
{
    const auto& buffer = largeBuffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(crc32(0L, Z_NULL, 0), buffer.data(), static_cast<uInt>(buffer.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_Crc32Zlib)->Unit(benchmark::kMillisecond);

void BM_MurmurHash64ALarge(benchmark::State& state)
{
    const auto& buffer = largeBuffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(quern::strings::murmurHash64A(buffer.data(), buffer.size(), 0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_MurmurHash64ALarge)->Unit(benchmark::kMillisecond);

void BM_MurmurHash64AKey16(benchmark::State& state)
{
    // 4,096 distinct 16-byte keys walked in turn, so the loop is not one cached key.
    const auto& buffer = largeBuffer();
    std::size_t offset = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(quern::strings::murmurHash64A(buffer.data() + offset, 16, 0));
        offset = (offset + 16) & 0xFFFF;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MurmurHash64AKey16);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_Crc32Quern") && t.count("BM_Crc32Zlib"))
        std::printf("CRC-32 throughput, quern / zlib: %.2fx\n", t["BM_Crc32Zlib"] / t["BM_Crc32Quern"]);
    if (t.count("BM_MurmurHash64ALarge"))
        std::printf("MurmurHash64A, 64 MiB: %.2f GB/s\n", kLargeSize / (t["BM_MurmurHash64ALarge"] * 1e-3) / 1e9);
    if (t.count("BM_MurmurHash64AKey16"))
        std::printf("MurmurHash64A, 16-byte key: %.2f ns\n", t["BM_MurmurHash64AKey16"]);
    benchmark::Shutdown();
    return 0;
}
