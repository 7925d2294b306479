// Whole-image pixel work on a 1024 x 1024 image: the run converter against a
// loop written for the one pair of formats, the vertical flip against the plain
// copy it has to make anyway, and premultiplied alpha on the fast byte path.
// A 2048 x 2048 B8G8R8A8 to R8G8B8A8 swizzle runs against memcpy of the same
// bytes, on the fast path and on the general per-channel path it replaces.
// Prints the ratios after the table.

#include "quern/graphics/PixelConverter.h"
#include "quern/graphics/filters/FlipFilter.h"
#include "quern/graphics/filters/PremultiplyAlphaFilter.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include "support/RatioReporter.h"
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using quern::u8;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;

constexpr quern::u32 kSide = 1024;
constexpr std::size_t kPixels = std::size_t { kSide } * kSide;

std::vector<u8> randomBytes(std::size_t size)
{
    std::vector<u8> bytes(size);
    std::mt19937 random(7);
    for (u8& b : bytes)
        b = static_cast<u8>(random());
    return bytes;
}

void BM_RunConverterRgbToRgba(benchmark::State& state)
{
    const std::vector<u8> source = randomBytes(kPixels * 3);
    std::vector<u8> destination(kPixels * 4);
    quern::graphics::PixelFormatConverter converter;
    converter.setFormats(PixelFormat::B8G8R8, PixelFormat::A8B8G8R8);
    for (auto _ : state) {
        converter.convert(source.data(), source.size(), destination.data(), nullptr);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPixels));
}
BENCHMARK(BM_RunConverterRgbToRgba)->Unit(benchmark::kMillisecond);

// The peer: what one would write for exactly this pair (R, G, B in; R, G, B, 255 out).
void BM_HandWrittenRgbToRgba(benchmark::State& state)
{
    const std::vector<u8> source = randomBytes(kPixels * 3);
    std::vector<u8> destination(kPixels * 4);
    for (auto _ : state) {
        const u8* in = source.data();
        u8* out = destination.data();
        for (std::size_t i = 0; i < kPixels; ++i, in += 3, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = 255;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPixels));
}
BENCHMARK(BM_HandWrittenRgbToRgba)->Unit(benchmark::kMillisecond);

// The general per-channel path for the same pair: what the fast path is measured against.
void BM_GeneralPathRgbToRgba(benchmark::State& state)
{
    const std::vector<u8> source = randomBytes(kPixels * 3);
    std::vector<u8> destination(kPixels * 4);
    const auto converter = quern::graphics::createPixelConverter(
        PixelFormat::B8G8R8, PixelFormat::A8B8G8R8, quern::graphics::PixelConverterPath::General);
    for (auto _ : state) {
        converter->convertRun(source.data(), destination.data(), kPixels, nullptr);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPixels));
}
BENCHMARK(BM_GeneralPathRgbToRgba)->Unit(benchmark::kMillisecond);

constexpr std::size_t kLargePixels = std::size_t { 2048 } * 2048;

template <quern::graphics::PixelConverterPath path> void BM_SwizzleBgraToRgba2048(benchmark::State& state)
{
    const std::vector<u8> source = randomBytes(kLargePixels * 4);
    std::vector<u8> destination(kLargePixels * 4);
    const auto converter = quern::graphics::createPixelConverter(PixelFormat::B8G8R8A8, PixelFormat::R8G8B8A8, path);
    for (auto _ : state) {
        converter->convertRun(source.data(), destination.data(), kLargePixels, nullptr);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}
BENCHMARK_TEMPLATE(BM_SwizzleBgraToRgba2048, quern::graphics::PixelConverterPath::Fastest)
    ->Name("BM_SwizzleBgraToRgba2048")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_SwizzleBgraToRgba2048, quern::graphics::PixelConverterPath::General)
    ->Name("BM_SwizzleBgraToRgba2048General")
    ->Unit(benchmark::kMillisecond);

void BM_Memcpy2048(benchmark::State& state)
{
    const std::vector<u8> source = randomBytes(kLargePixels * 4);
    std::vector<u8> destination(kLargePixels * 4);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_Memcpy2048)->Unit(benchmark::kMillisecond);

void BM_FlipVertical(benchmark::State& state)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(kSide, kSide, PixelFormat::A8B8G8R8);
    const std::vector<u8> source = randomBytes(layout.dataSize);
    std::vector<u8> destination(layout.dataSize);
    quern::graphics::filters::FlipFilter flip;
    for (auto _ : state) {
        flip.filterImpl(source.data(), destination.data(), layout);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * layout.dataSize));
}
BENCHMARK(BM_FlipVertical)->Unit(benchmark::kMillisecond);

// The peer: the copy into the destination that the flip starts with.
void BM_PlainCopy(benchmark::State& state)
{
    const std::vector<u8> source = randomBytes(kPixels * 4);
    std::vector<u8> destination(kPixels * 4);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond);

void BM_PremultiplyLinear(benchmark::State& state)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(kSide, kSide, PixelFormat::A8B8G8R8);
    const std::vector<u8> source = randomBytes(layout.dataSize);
    std::vector<u8> destination(layout.dataSize);
    quern::graphics::filters::PremultiplyAlphaFilter filter;
    for (auto _ : state) {
        filter.filterImpl(source.data(), destination.data(), layout);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPixels));
}
BENCHMARK(BM_PremultiplyLinear)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_RunConverterRgbToRgba") && t.count("BM_HandWrittenRgbToRgba"))
        std::printf("RGB to RGBA, run converter time / hand-written loop time: %.2fx\n",
            t["BM_RunConverterRgbToRgba"] / t["BM_HandWrittenRgbToRgba"]);
    if (t.count("BM_GeneralPathRgbToRgba") && t.count("BM_HandWrittenRgbToRgba"))
        std::printf("RGB to RGBA, general path time / hand-written loop time: %.2fx\n",
            t["BM_GeneralPathRgbToRgba"] / t["BM_HandWrittenRgbToRgba"]);
    for (const char* swizzle : { "BM_SwizzleBgraToRgba2048", "BM_SwizzleBgraToRgba2048General" })
        if (t.count(swizzle) && t.count("BM_Memcpy2048"))
            std::printf("2048x2048 B8G8R8A8 to R8G8B8A8 (%s), speed / memcpy speed: %.2fx\n",
                std::string(swizzle).ends_with("General") ? "general path" : "run converter",
                t["BM_Memcpy2048"] / t[swizzle]);
    if (t.count("BM_FlipVertical") && t.count("BM_PlainCopy"))
        std::printf("Vertical flip time / plain copy time: %.2fx\n", t["BM_FlipVertical"] / t["BM_PlainCopy"]);
    if (t.count("BM_PremultiplyLinear"))
        std::printf("Premultiply, linear mode: %.1f Mpixel/s\n", kPixels / (t["BM_PremultiplyLinear"] * 1e-3) / 1e6);
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
