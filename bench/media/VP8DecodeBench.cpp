// Frames per second of the video decoder (decodeNextFrame and the plane copy
// the loading screen makes of every frame) against a plain libvpx loop that
// decodes and takes each frame, over the same 300-frame 640 x 360 clip in memory.

#include "support/RatioReporter.h"

#include "support/MediaFiles.h"

#include "quern/LittleEndian.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/libvpx/IVFFile.h"
#include "quern/libvpx/VP8Decoder.h"
#include "quern/memory/DefaultAllocator.h"

#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace {

using quern::u32;
using quern::u64;
using quern::u8;
namespace media = quern::testing::media;

constexpr u32 kWidth = 640, kHeight = 360, kFrames = 300;

const media::Bytes& clip()
{
    static const media::Bytes bytes = [] {
        const media::fs::path path = media::vp8Video(
            QUERN_BENCH_MEDIA_DIR, "pan-640x360.ivf", kWidth, kHeight, kFrames, "--good --cpu-used=4", 2);
        if (path.empty()) {
            std::fprintf(stderr, "vpxenc could not make the clip\n");
            std::exit(1);
        }
        return media::readFile(path);
    }();
    return bytes;
}

quern::Ref planeImage(u32 width, u32 height)
{
    auto* image = new quern::graphics::NullPixelBuffer;
    quern::Ref held(image);
    image->create(
        quern::graphics::PixelBufferFormat::create2D(width, height, quern::graphics::PixelFormat::L8, 0, 0, 0), 0);
    return held;
}

void BM_VP8Decoder(benchmark::State& state)
{
    const media::Bytes& file = clip();
    quern::Ref y = planeImage(kWidth, kHeight), u = planeImage(kWidth / 2, kHeight / 2),
               v = planeImage(kWidth / 2, kHeight / 2);
    for (auto _ : state) {
        quern::libvpx::VP8Decoder decoder;
        decoder.open(std::make_unique<std::stringbuf>(std::string(file.begin(), file.end()), std::ios::in));
        while (decoder.decodeNextFrame())
            decoder.copyFramePlanes(*y.get<quern::graphics::PixelBuffer>(), *u.get<quern::graphics::PixelBuffer>(),
                *v.get<quern::graphics::PixelBuffer>());
        if (decoder.framesDecoded() != static_cast<int>(kFrames))
            state.SkipWithError("the decoder lost frames");
    }
    state.counters["fps"]
        = benchmark::Counter(static_cast<double>(kFrames), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VP8Decoder)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_PlainLibvpx(benchmark::State& state)
{
    const media::Bytes& file = clip();
    for (auto _ : state) {
        vpx_codec_ctx_t codec {};
        vpx_codec_dec_init(&codec, vpx_codec_vp8_dx(), nullptr, 0);
        u32 shown = 0;
        for (u64 at = quern::libvpx::kIVFHeaderBytes; at + quern::libvpx::kIVFFrameHeaderBytes <= file.size();) {
            const u32 size = quern::readLittleEndian32(file.data() + at);
            at += quern::libvpx::kIVFFrameHeaderBytes;
            vpx_codec_decode(&codec, file.data() + at, size, nullptr, 0);
            at += size;
            vpx_codec_iter_t iterator = nullptr;
            while (vpx_image_t* image = vpx_codec_get_frame(&codec, &iterator)) {
                benchmark::DoNotOptimize(image);
                ++shown;
            }
        }
        vpx_codec_destroy(&codec);
        if (shown != kFrames)
            state.SkipWithError("libvpx lost frames");
    }
    state.counters["fps"]
        = benchmark::Counter(static_cast<double>(kFrames), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PlainLibvpx)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::graphics::Display::set(new quern::graphics::NullDisplay());
    benchmark::Initialize(&argc, argv);
    clip(); // made before any timing
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Milliseconds per clip, keyed by the name without its run options.
    std::map<std::string, double> t;
    for (const auto& [name, milliseconds] : reporter.seconds)
        t[name.substr(0, name.find('/'))] = milliseconds;
    for (const char* name : { "BM_VP8Decoder", "BM_PlainLibvpx" })
        if (t.count(name))
            std::printf("%s: %.0f frames/s\n", name, kFrames / (t[name] / 1000.0));
    if (t.count("BM_VP8Decoder") && t.count("BM_PlainLibvpx"))
        std::printf("VP8Decoder / plain libvpx frame rate: %.2fx\n", t["BM_PlainLibvpx"] / t["BM_VP8Decoder"]);
    benchmark::Shutdown();
    quern::graphics::Display::set(nullptr);
    quern::memory::shutdownDefaultAllocators();
    return 0;
}
