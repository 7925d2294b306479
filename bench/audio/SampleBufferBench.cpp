// Sample buffers: filling one from a 10-second, 16-bit stereo in-memory stream
// against a plain copy of the same bytes, and converting it to mono against a
// hand-written integer averaging loop (which rounds differently; only the
// speed is compared).

#include "support/RatioReporter.h"

#include "quern/audio/SampleBuffer.h"
#include "quern/memory/DefaultAllocator.h"

#include "support/MemorySampleStream.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using namespace quern;

constexpr u32 kRate = 44100;
constexpr u64 kFrames = 10 * kRate;
constexpr u64 kBytes = kFrames * 4;

std::vector<u8> stereoSine() { return testing::sineBytes16(2, kRate, 440.0, kFrames); }

void BM_FillSampleBuffer(benchmark::State& state)
{
    testing::MemorySampleStream stream(testing::pcmFormat(2, kRate, 16), stereoSine());
    for (auto _ : state) {
        audio::SampleBuffer buffer(stream);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_FillSampleBuffer)->Unit(benchmark::kMicrosecond);

// The peer: the one copy any fill of these bytes has to make.
void BM_MemcpySameBytes(benchmark::State& state)
{
    const std::vector<u8> source = stereoSine();
    std::vector<u8> destination(source.size());
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMicrosecond);

// What any fill into a new buffer pays besides the copy: large blocks come
// from the system fresh, page by page, and go back to it when freed.
void BM_MemcpyIntoNewBufferMemory(benchmark::State& state)
{
    const std::vector<u8> source = stereoSine();
    for (auto _ : state) {
        void* destination = containers::Buffer::allocateBufferMemory(source.size());
        std::memcpy(destination, source.data(), source.size());
        benchmark::ClobberMemory();
        containers::Buffer::freeBufferMemory(destination);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_MemcpyIntoNewBufferMemory)->Unit(benchmark::kMicrosecond);

void BM_StereoToMonoSetFormat(benchmark::State& state)
{
    testing::MemorySampleStream stream(testing::pcmFormat(2, kRate, 16), stereoSine());
    const audio::SampleFormat mono = testing::pcmFormat(1, kRate, 16);
    for (auto _ : state) {
        state.PauseTiming();
        auto buffer = std::make_unique<audio::SampleBuffer>(stream);
        state.ResumeTiming();
        buffer->setFormat(mono);
        benchmark::DoNotOptimize(buffer->data());
        state.PauseTiming();
        buffer.reset();
        state.ResumeTiming();
    }
    state.counters["ns/frame"] = benchmark::Counter(
        static_cast<double>(kFrames), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_StereoToMonoSetFormat)->Unit(benchmark::kMicrosecond);

// The peer: averaging the two 16-bit channels with integers.
void BM_StereoToMonoIntegerLoop(benchmark::State& state)
{
    const std::vector<u8> bytes = stereoSine();
    std::vector<i16> stereo(kFrames * 2);
    std::memcpy(stereo.data(), bytes.data(), bytes.size());
    std::vector<i16> mono(kFrames);
    for (auto _ : state) {
        for (u64 f = 0; f < kFrames; ++f)
            mono[f] = static_cast<i16>((stereo[2 * f] + stereo[2 * f + 1]) / 2);
        benchmark::DoNotOptimize(mono.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns/frame"] = benchmark::Counter(
        static_cast<double>(kFrames), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_StereoToMonoIntegerLoop)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    memory::initDefaultAllocators(memory::AllocatorConfig {});
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    const double megabytes = static_cast<double>(kBytes) / 1e6;
    if (t.count("BM_FillSampleBuffer") && t.count("BM_MemcpySameBytes"))
        std::printf("fill: %.0f MB/s, memcpy: %.0f MB/s, fill speed / memcpy speed: %.2fx\n",
            megabytes / (t["BM_FillSampleBuffer"] * 1e-6), megabytes / (t["BM_MemcpySameBytes"] * 1e-6),
            t["BM_MemcpySameBytes"] / t["BM_FillSampleBuffer"]);
    if (t.count("BM_FillSampleBuffer") && t.count("BM_MemcpyIntoNewBufferMemory"))
        std::printf("memcpy into new buffer memory: %.0f MB/s, fill speed / that speed: %.2fx\n",
            megabytes / (t["BM_MemcpyIntoNewBufferMemory"] * 1e-6),
            t["BM_MemcpyIntoNewBufferMemory"] / t["BM_FillSampleBuffer"]);
    if (t.count("BM_StereoToMonoSetFormat") && t.count("BM_StereoToMonoIntegerLoop"))
        std::printf("stereo to mono: %.2f ns/frame, integer loop: %.2f ns/frame, time / loop time: %.2fx\n",
            t["BM_StereoToMonoSetFormat"] * 1e3 / kFrames, t["BM_StereoToMonoIntegerLoop"] * 1e3 / kFrames,
            t["BM_StereoToMonoSetFormat"] / t["BM_StereoToMonoIntegerLoop"]);
    memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
