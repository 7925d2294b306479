// Setting a 1024 x 1024 image into a pixel buffer of the null device: data in
// the device's own layout, data the device stores in another pixel format
// (converted on the way), and data premultiplied on the way. The peer is a
// plain copy of the same bytes. Prints MB/s and the time ratios to the copy.

#include "quern/graphics/NullGraphicsBackEnd.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>
#include "support/RatioReporter.h"

namespace {

using quern::u32;
using quern::u8;
using quern::graphics::PixelBuffer;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;

constexpr u32 kSide = 1024;
const PixelBufferFormat kLayout = PixelBufferFormat::create2D(kSide, kSide, PixelFormat::A8B8G8R8);

std::vector<u8> randomPixels()
{
    std::vector<u8> bytes(kLayout.dataSize);
    std::mt19937 random(11);
    for (u8& b : bytes)
        b = static_cast<u8>(random());
    return bytes;
}

// A device image that stores B8G8R8A8 whatever it is asked for.
class BgraImage final : public quern::graphics::NullPixelBuffer {
protected:
    void createImpl(PixelBufferFormat& created, const PixelBufferFormat& requested, u32) override
    {
        created = PixelBufferFormat::copyWithPixelFormat(requested, PixelFormat::B8G8R8A8);
    }
};

quern::Ref deviceImage()
{
    PixelBuffer* image =
        quern::graphics::NullGraphicsBackEnd::instance().createPixelBuffer(quern::graphics::GraphicsBackEnd::TextureImage);
    return quern::Ref(image ? image : new quern::graphics::NullPixelBuffer);
}

void setDataLoop(benchmark::State& state, PixelBuffer& image, u32 flags)
{
    const std::vector<u8> pixels = randomPixels();
    for (auto _ : state) {
        image.setData(pixels.data(), kLayout, nullptr, flags);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLayout.dataSize));
}

void BM_SetDataDeviceLayout(benchmark::State& state)
{
    const quern::Ref image = deviceImage();
    setDataLoop(state, *image.get<PixelBuffer>(), 0);
}
BENCHMARK(BM_SetDataDeviceLayout)->Unit(benchmark::kMillisecond);

void BM_SetDataConverted(benchmark::State& state)
{
    const quern::Ref image(new BgraImage);
    setDataLoop(state, *image.get<PixelBuffer>(), 0);
}
BENCHMARK(BM_SetDataConverted)->Unit(benchmark::kMillisecond);

void BM_SetDataPremultiplied(benchmark::State& state)
{
    const quern::Ref image = deviceImage();
    setDataLoop(state, *image.get<PixelBuffer>(), PixelBuffer::PremultiplyAlpha);
}
BENCHMARK(BM_SetDataPremultiplied)->Unit(benchmark::kMillisecond);

// The peer: the one copy any upload of these bytes has to make.
void BM_PlainCopy(benchmark::State& state)
{
    const std::vector<u8> pixels = randomPixels();
    std::vector<u8> destination(pixels.size());
    for (auto _ : state) {
        std::memcpy(destination.data(), pixels.data(), pixels.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pixels.size()));
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig{});
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    const double megabytes = static_cast<double>(kLayout.dataSize) / 1e6;
    for (const char* name : {"BM_SetDataDeviceLayout", "BM_SetDataConverted", "BM_SetDataPremultiplied"}) {
        if (!t.count(name))
            continue;
        std::printf("%s: %.0f MB/s", name, megabytes / (t[name] * 1e-3));
        if (t.count("BM_PlainCopy"))
            std::printf(", time / plain copy time: %.2fx", t[name] / t["BM_PlainCopy"]);
        std::printf("\n");
    }
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
