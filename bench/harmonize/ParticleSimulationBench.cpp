// One frame of the particle simulation over 100,000 live particles (ageing,
// motion with growth and spin, colour over life, sprite-sheet cells) against
// a hand-written structure-of-arrays loop doing the same arithmetic in one
// pass, in the same run. Lifetimes are long, so no particle dies on either
// side and both keep doing the same work; the two sides are checked to agree
// bit for bit before anything is timed.

#include "support/RatioReporter.h"

#include "harmonize/systems/ParticleSimulation.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/physics/particles/ParticlePool.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace harmonize;
using quern::f32;
using quern::i32;
using quern::u64;
using quern::particles::ParticlePool;

namespace {

constexpr u64 kParticles = 100'000;
constexpr f32 kStep = 1.0f / 60.0f;
constexpr f32 kDegreesToRadians = 3.1415927f / 180.0f;

struct Sequence {
    u64 state = 0x2545f4914f6cdd1dull;
    f32 next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<f32>(state >> 40) / static_cast<f32>(1ull << 24);
    }
};

ParticleSettings settings()
{
    ParticleSettings s {};
    s.colourKeyCount = 4;
    const f32 keys[4][4] = { { 1, 1, 0.8f, 0 }, { 1, 0.7f, 0.2f, 1 }, { 0.8f, 0.2f, 0.1f, 0.8f }, { 0.2f, 0.2f, 0.2f, 0 } };
    std::memcpy(s.colourKeys, keys, sizeof keys);
    s.velocityKept = 0.8f;
    s.acceleration = { 0.0f, -2.0f, 0.0f };
    s.sizeGrowth = 0.1f;
    s.colourOverLife = 1;
    return s;
}

ParticleAppearance appearance()
{
    ParticleAppearance a {};
    a.sheetCycles = 2.0f;
    a.tilesAcross = 4;
    a.tilesDown = 2;
    return a;
}

const f32 kTint[4] = { 1.0f, 0.9f, 0.8f, 1.0f };

// A pool of live particles with long lives part-way through.
void fill(ParticlePool& pool)
{
    pool.init(quern::memory::getDefaultAllocator(), kParticles, true);
    Sequence random;
    for (u64 i = 0; i < kParticles; ++i) {
        pool.x[i] = random.next() * 100.0f;
        pool.y[i] = random.next() * 100.0f;
        pool.z[i] = random.next() * 10.0f;
        pool.vx[i] = random.next() * 4.0f - 2.0f;
        pool.vy[i] = random.next() * 4.0f - 2.0f;
        pool.vz[i] = random.next() * 4.0f - 2.0f;
        pool.size[i] = 0.1f + random.next();
        pool.rotation[i] = random.next() * 6.0f;
        pool.spin[i] = random.next() * 90.0f;
        pool.lifetime[i] = 1.0e6f;
        pool.remaining[i] = 1.0e6f * (0.2f + 0.6f * random.next());
    }
    pool.count = kParticles;
}

// The peer: the same arithmetic, one pass, fields read straight from arrays.
f32 plainFrame(ParticlePool& p, const ParticleMotion& m, const ParticleSettings& s, const ParticleAppearance& a)
{
    const i32 keys = s.colourKeyCount;
    const i32 across = a.tilesAcross, down = a.tilesDown, cells = across * down;
    const f32 width = 1.0f / static_cast<f32>(across), height = 1.0f / static_cast<f32>(down);
    f32 minX = 3.4028235e38f, maxX = -3.4028235e38f;
    for (u64 i = 0; i < p.count; ++i) {
        p.remaining[i] -= m.dt;
        const f32 vx = m.keep * p.vx[i] + m.acceleration.x;
        const f32 vy = m.keep * p.vy[i] + m.acceleration.y;
        const f32 vz = m.keep * p.vz[i] + m.acceleration.z;
        p.vx[i] = vx;
        p.vy[i] = vy;
        p.vz[i] = vz;
        const f32 x = p.x[i] += vx * m.dt;
        p.y[i] += vy * m.dt;
        p.z[i] += vz * m.dt;
        const f32 grown = p.size[i] + p.size[i] * m.growth * m.dt;
        const f32 floored = grown < 0.0f ? 0.0f : grown;
        p.size[i] = std::min(floored, m.maxSize);
        p.rotation[i] += p.spin[i] * kDegreesToRadians * m.dt;
        minX = std::min(minX, x - floored * 0.5f);
        maxX = std::max(maxX, x + floored * 0.5f);

        const f32 age = 1.0f - p.remaining[i] / p.lifetime[i];
        const f32 t = static_cast<f32>(keys - 1) * age;
        const i32 lower = static_cast<i32>(t);
        const f32 f = t - static_cast<f32>(lower);
        const f32* ka = s.colourKeys[lower];
        const f32* kb = s.colourKeys[lower + 1];
        p.r[i] = ((1.0f - f) * ka[0] + f * kb[0]) * kTint[0];
        p.g[i] = ((1.0f - f) * ka[1] + f * kb[1]) * kTint[1];
        p.b[i] = ((1.0f - f) * ka[2] + f * kb[2]) * kTint[2];
        p.a[i] = (1.0f - f) * ka[3] + f * kb[3];

        const f32 cycles = age * a.sheetCycles;
        const f32 phase = cycles - std::floor(cycles);
        const i32 cell = static_cast<i32>(static_cast<f32>(cells) * phase);
        f32* rect = p.uvRects + i * 4;
        rect[0] = static_cast<f32>(cell % across) / static_cast<f32>(across);
        rect[1] = static_cast<f32>(cell / across) / static_cast<f32>(down);
        rect[2] = rect[0] + width;
        rect[3] = rect[1] + height;
    }
    return maxX - minX;
}

f32 systemFrame(ParticlePool& pool, const ParticleMotion& m, const ParticleSettings& s, const ParticleAppearance& a)
{
    ageParticles(pool, m.dt);
    const ParticleBounds bounds = moveParticles(pool, m);
    applyColourOverLife(pool, s, kTint);
    applySpriteCells(pool, a);
    return bounds.max.x - bounds.min.x;
}

ParticleMotion motion()
{
    ParticleSettings s = settings();
    u64 random = 1234567;
    return makeParticleMotion(s, quern::math::Matrix3::identity(), kStep, 64.0f, random);
}

bool sameChannels(const ParticlePool& a, const ParticlePool& b)
{
    const f32* const channels[][2] = { { a.x, b.x }, { a.y, b.y }, { a.z, b.z }, { a.vx, b.vx }, { a.vy, b.vy },
        { a.vz, b.vz }, { a.size, b.size }, { a.rotation, b.rotation }, { a.r, b.r }, { a.g, b.g }, { a.b, b.b },
        { a.a, b.a }, { a.remaining, b.remaining } };
    for (const auto& c : channels)
        if (std::memcmp(c[0], c[1], a.count * sizeof(f32)) != 0)
            return false;
    return a.count == b.count && std::memcmp(a.uvRects, b.uvRects, a.count * 4 * sizeof(f32)) == 0;
}

void checkSameWork()
{
    ParticlePool system, plain;
    fill(system);
    fill(plain);
    const ParticleMotion m = motion();
    const ParticleSettings s = settings();
    const ParticleAppearance a = appearance();
    for (int frame = 0; frame < 3; ++frame) {
        const f32 spanSystem = systemFrame(system, m, s, a);
        const f32 spanPlain = plainFrame(plain, m, s, a);
        if (!sameChannels(system, plain) || spanSystem != spanPlain) {
            std::fprintf(stderr, "the simulation and the plain loop part at frame %d\n", frame);
            std::exit(1);
        }
    }
    system.release();
    plain.release();
}

using Frame = f32 (*)(ParticlePool&, const ParticleMotion&, const ParticleSettings&, const ParticleAppearance&);

void runFrames(benchmark::State& state, Frame frame)
{
    ParticlePool pool;
    fill(pool);
    const ParticleMotion m = motion();
    const ParticleSettings s = settings();
    const ParticleAppearance a = appearance();
    for (auto _ : state)
        benchmark::DoNotOptimize(frame(pool, m, s, a));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kParticles));
    pool.release();
}

void BM_ParticleSimulation(benchmark::State& state) { runFrames(state, systemFrame); }
BENCHMARK(BM_ParticleSimulation)->Unit(benchmark::kMicrosecond);

void BM_PlainParticleLoop(benchmark::State& state) { runFrames(state, plainFrame); }
BENCHMARK(BM_PlainParticleLoop)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    checkSameWork();
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_ParticleSimulation") && t.count("BM_PlainParticleLoop"))
        std::printf("particle simulation / plain loop (100,000 particles): %.2fx the time\n",
            t["BM_ParticleSimulation"] / t["BM_PlainParticleLoop"]);
    benchmark::Shutdown();
    return 0;
}
