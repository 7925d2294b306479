// Filling a texture through OpenGLPixelBuffer::setData against the raw GL
// upload of the same bytes on the same Mesa context: a 1024 x 1024 RGBA8
// image (no mip levels) and a 1024 x 1024 DXT1 image with its whole mip chain.
// The pixel buffer makes a new texture each time (the engine re-creates the
// image on every setData); the peers refill one texture. Prints the ratios.
// Run under an X display (xvfb-run) or with SDL_VIDEODRIVER=offscreen.

#include "SDLTestContext.h"

#include "quern/graphics/iterators/MipmapIterator.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLPixelBuffer.h"

#include <benchmark/benchmark.h>

#include "support/RatioReporter.h"
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace quern::opengl;
using quern::u32;
using quern::u8;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;

constexpr u32 kSide = 1024;
// Rows bottom first, as a texture stores them: no flip on the way.
const PixelBufferFormat kRGBA = PixelBufferFormat::create2D(kSide, kSide, PixelFormat::A8B8G8R8, 0, 0, 1);
const PixelBufferFormat kDXT1
    = PixelBufferFormat::create2D(kSide, kSide, PixelFormat::DXT1, 0, PixelBufferFormat::kFullMipChain, 1);

std::vector<u8> randomBytes(quern::u64 size)
{
    std::vector<u8> bytes(size);
    std::mt19937 random(5);
    for (u8& b : bytes)
        b = static_cast<u8>(random());
    return bytes;
}

void setDataLoop(benchmark::State& state, const PixelBufferFormat& layout, u32 flags)
{
    const std::vector<u8> pixels = randomBytes(layout.dataSize);
    auto* buffer = new OpenGLPixelBuffer(quern::graphics::GraphicsBackEnd::TextureImage, &testing::sharedCaps());
    quern::Ref holder(buffer);
    for (auto _ : state) {
        buffer->setData(pixels.data(), layout, nullptr, flags);
        glFinish();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * layout.dataSize));
}

void BM_SetDataRGBA8(benchmark::State& state) { setDataLoop(state, kRGBA, OpenGLPixelBuffer::NoMipLevels); }
BENCHMARK(BM_SetDataRGBA8)->Unit(benchmark::kMillisecond);

void BM_RawTexImage2D(benchmark::State& state)
{
    const std::vector<u8> pixels = randomBytes(kRGBA.dataSize);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    for (auto _ : state) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kSide, kSide, 0, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
        glFinish();
    }
    glDeleteTextures(1, &texture);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRGBA.dataSize));
}
BENCHMARK(BM_RawTexImage2D)->Unit(benchmark::kMillisecond);

void BM_SetDataDXT1Mips(benchmark::State& state) { setDataLoop(state, kDXT1, 0); }
BENCHMARK(BM_SetDataDXT1Mips)->Unit(benchmark::kMillisecond);

void BM_RawCompressedTexImage2D(benchmark::State& state)
{
    std::vector<u8> pixels = randomBytes(kDXT1.dataSize);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    for (auto _ : state) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        for (quern::graphics::MipmapIterator it(pixels.data(), kDXT1); it.current != it.end; it.next())
            glCompressedTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(it.levelIndex), GL_COMPRESSED_RGB_S3TC_DXT1_EXT,
                static_cast<GLsizei>(it.level.width), static_cast<GLsizei>(it.level.height), 0,
                static_cast<GLsizei>(it.levelSize), it.current);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(kDXT1.mipCount));
        glBindTexture(GL_TEXTURE_2D, 0);
        glFinish();
    }
    glDeleteTextures(1, &texture);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDXT1.dataSize));
}
BENCHMARK(BM_RawCompressedTexImage2D)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    std::string error;
    if (!testing::sharedContext(error)) {
        std::fprintf(stderr, "no OpenGL context: %s\n", error.c_str());
        return 1;
    }
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    const auto ratio = [&t](const char* ours, const char* peer) {
        if (t.count(ours) && t.count(peer))
            std::printf("%s / %s: %.2fx\n", ours, peer, t[ours] / t[peer]);
    };
    ratio("BM_SetDataRGBA8", "BM_RawTexImage2D");
    ratio("BM_SetDataDXT1Mips", "BM_RawCompressedTexImage2D");
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
