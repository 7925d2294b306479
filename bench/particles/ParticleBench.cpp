// Building the quads of 100,000 particles, against a plain loop making the
// same quads with std::sin and std::cos; and emitting, in ns per particle.

#include "quern/graphics/BatchVertex.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/physics/particles/ParticleEmitter.h"
#include "quern/physics/particles/ParticlePool.h"
#include "support/RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using quern::f32;
using quern::u64;
using quern::graphics::BatchVertex;
using quern::particles::ParticlePool;

constexpr u64 kParticles = 100000;

struct Filled {
    Filled()
    {
        pool.init(quern::memory::getDefaultAllocator(), kParticles, false);
        quern::particles::SphereEmitter emitter;
        quern::particles::EmissionSettings settings;
        settings.randomRotation = 1;
        settings.sizeMinimum = 0.5f;
        settings.sizeMaximum = 2.0f;
        settings.colour[1] = 0.3f;
        emitter.emit(settings, kParticles, pool);
        vertices.resize(kParticles * 4);
    }
    ~Filled() { pool.release(); }
    ParticlePool pool;
    std::vector<BatchVertex> vertices;
};

void BM_BuildQuads(benchmark::State& state)
{
    Filled f;
    for (auto _ : state) {
        f.pool.buildQuads(f.vertices.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildQuads);

// The straightforward version: library sine and cosine, a float-to-int
// conversion per colour channel.
void BM_PlainSinCosQuads(benchmark::State& state)
{
    Filled f;
    const ParticlePool& p = f.pool;
    static constexpr f32 kCorners[4][2] = { { -0.5f, -0.5f }, { 0.5f, -0.5f }, { 0.5f, 0.5f }, { -0.5f, 0.5f } };
    for (auto _ : state) {
        BatchVertex* out = f.vertices.data();
        for (u64 i = 0; i < p.count; ++i) {
            const f32 s = std::sin(p.rotation[i]), c = std::cos(p.rotation[i]);
            const quern::u8 colour[4]
                = { static_cast<quern::u8>(p.r[i] * 255.0f + 0.5f), static_cast<quern::u8>(p.g[i] * 255.0f + 0.5f),
                      static_cast<quern::u8>(p.b[i] * 255.0f + 0.5f), static_cast<quern::u8>(p.a[i] * 255.0f + 0.5f) };
            for (int k = 0; k < 4; ++k) {
                BatchVertex& v = *out++;
                const f32 cx = kCorners[k][0], cy = kCorners[k][1];
                v.x = (cx * c - cy * s) * p.size[i] + p.x[i];
                v.y = (cy * c + cx * s) * p.size[i] + p.y[i];
                v.z = p.z[i];
                for (int ch = 0; ch < 4; ++ch)
                    v.colour[ch] = colour[ch];
                v.u = (k == 1 || k == 2) ? 1.0f : 0.0f;
                v.v = k >= 2 ? 1.0f : 0.0f;
            }
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlainSinCosQuads);

void BM_Emit(benchmark::State& state)
{
    ParticlePool pool;
    pool.init(quern::memory::getDefaultAllocator(), kParticles, false);
    quern::particles::SphereEmitter emitter;
    quern::particles::EmissionSettings settings;
    settings.randomRotation = 1;
    for (auto _ : state) {
        pool.count = 0;
        emitter.emit(settings, kParticles, pool);
        benchmark::ClobberMemory();
    }
    pool.release();
}
BENCHMARK(BM_Emit);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    for (const char* name : { "BM_BuildQuads", "BM_PlainSinCosQuads", "BM_Emit" })
        if (t.count(name))
            std::printf("%s: %.2f ns per particle\n", name, t[name] / kParticles);
    if (t.count("BM_BuildQuads") && t.count("BM_PlainSinCosQuads"))
        std::printf(
            "buildQuads time / plain sin-cos loop time: %.2fx\n", t["BM_BuildQuads"] / t["BM_PlainSinCosQuads"]);
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
