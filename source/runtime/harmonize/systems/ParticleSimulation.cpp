#include "harmonize/systems/ParticleSimulation.h"

#include "quern/math/Quaternion.h"
#include "quern/physics/particles/ParticlePool.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace harmonize {

using quern::i32;
using quern::math::Matrix3;
using quern::math::Vector3;
using quern::particles::ParticlePool;

namespace {

constexpr f32 kDegreesToRadians = 3.1415927f / 180.0f;
constexpr i32 kMaxColourKeys = 8;

// How far through its life the particle is, in [0, 1]; a particle without a
// lifetime counts as at its end.
f32 ageFraction(const ParticlePool& pool, u64 i)
{
    const f32 life = pool.lifetime[i];
    const f32 age = life > 0.0f ? 1.0f - pool.remaining[i] / life : 1.0f;
    return age >= 0.0f ? (age <= 1.0f ? age : 1.0f) : 0.0f;
}

void moveParticle(ParticlePool& pool, u64 to, u64 from)
{
    for (f32* channel : { pool.x, pool.y, pool.z, pool.vx, pool.vy, pool.vz, pool.size, pool.rotation, pool.spin,
             pool.r, pool.g, pool.b, pool.a, pool.lifetime, pool.remaining })
        channel[to] = channel[from];
    if (pool.uvRects)
        std::copy(pool.uvRects + from * 4, pool.uvRects + from * 4 + 4, pool.uvRects + to * 4);
    std::swap(pool.indices[to], pool.indices[from]);
}

} // namespace

f32 emissionRate(const ParticleSpawner& spawner) { return (spawner.emissionRateLower + spawner.emissionRateUpper) * 0.5f; }

u64 takeEmission(f32& accumulator, f32 rate, f32 dt, u64 room)
{
    accumulator += rate * dt;
    if (!(accumulator >= 1.0f))
        return 0;
    const f32 whole = std::floor(accumulator);
    accumulator -= whole;
    return whole < static_cast<f32>(room) ? static_cast<u64>(whole) : room;
}

f32 nextJitter(u64& random)
{
    random = random * 4561u + 51349u;
    // The top 24 bits: every value exact in a float and below 1.
    return static_cast<f32>(random >> 40) * 0x1p-24f;
}

ParticleMotion makeParticleMotion(
    const ParticleSettings& settings, const Matrix3& basis, f32 dt, f32 maxSize, u64& random)
{
    ParticleMotion motion;
    motion.dt = dt;
    motion.keep = 1.0f - (1.0f - settings.velocityKept) * dt;
    const f32 acceleration[3] = { settings.acceleration.x, settings.acceleration.y, settings.acceleration.z };
    const f32 range[3] = { std::fabs(settings.randomAcceleration.x), std::fabs(settings.randomAcceleration.y),
        std::fabs(settings.randomAcceleration.z) };
    f32 change[3];
    for (int k = 0; k < 3; ++k)
        change[k] = (acceleration[k] + nextJitter(random) * 2.0f * range[k] - range[k]) * dt;
    motion.acceleration = Vector3 { change[0], change[1], change[2] };
    const Vector3& swirl = settings.swirl;
    if (swirl.x != 0.0f || swirl.y != 0.0f || swirl.z != 0.0f) {
        const Vector3 angles = basis * swirl;
        motion.swirl = true;
        motion.swirlRotation = quern::math::Quaternion::fromEulerAngles(angles.x * kDegreesToRadians,
            angles.y * kDegreesToRadians, angles.z * kDegreesToRadians)
                                   .toMatrix3();
    }
    motion.growth = settings.sizeGrowth;
    motion.maxSize = maxSize;
    return motion;
}

void ageParticles(ParticlePool& pool, f32 dt)
{
    u64 i = 0;
    while (i < pool.count) {
        pool.remaining[i] -= dt;
        // Written so that a life that is not a number dies too.
        if (pool.remaining[i] >= 0.0f) {
            ++i;
            continue;
        }
        const u64 last = --pool.count;
        if (i == last)
            break;
        // The last particle has not aged yet this frame; it does so in its
        // new place on the next pass.
        moveParticle(pool, i, last);
    }
}

ParticleBounds moveParticles(ParticlePool& pool, const ParticleMotion& m)
{
    ParticleBounds bounds;
    const Matrix3& turn = m.swirlRotation;
    for (u64 i = 0; i < pool.count; ++i) {
        Vector3 v { m.keep * pool.vx[i] + m.acceleration.x, m.keep * pool.vy[i] + m.acceleration.y,
            m.keep * pool.vz[i] + m.acceleration.z };
        if (m.swirl)
            v = turn * v;
        pool.vx[i] = v.x;
        pool.vy[i] = v.y;
        pool.vz[i] = v.z;
        const f32 x = pool.x[i] += v.x * m.dt;
        const f32 y = pool.y[i] += v.y * m.dt;
        const f32 z = pool.z[i] += v.z * m.dt;
        const f32 grown = pool.size[i] + pool.size[i] * m.growth * m.dt;
        const f32 floored = grown < 0.0f ? 0.0f : grown;
        pool.size[i] = std::min(floored, m.maxSize);
        pool.rotation[i] += pool.spin[i] * kDegreesToRadians * m.dt;
        // The box takes the size before the cap (a shrunk particle adds
        // nothing rather than turning the box inside out).
        const f32 half = floored * 0.5f;
        bounds.min.x = std::min(bounds.min.x, x - half);
        bounds.max.x = std::max(bounds.max.x, x + half);
        bounds.min.y = std::min(bounds.min.y, y - half);
        bounds.max.y = std::max(bounds.max.y, y + half);
        bounds.min.z = std::min(bounds.min.z, z);
        bounds.max.z = std::max(bounds.max.z, z);
    }
    return bounds;
}

void applyColourOverLife(ParticlePool& pool, const ParticleSettings& settings, const f32 tint[4])
{
    const i32 keys = std::clamp(settings.colourKeyCount, 1, kMaxColourKeys);
    for (u64 i = 0; i < pool.count; ++i) {
        const f32 t = static_cast<f32>(keys - 1) * ageFraction(pool, i);
        const i32 lower = std::min(static_cast<i32>(t), keys - 1);
        const i32 upper = std::min(lower + 1, keys - 1);
        const f32 f = t - static_cast<f32>(lower);
        const f32* a = settings.colourKeys[lower];
        const f32* b = settings.colourKeys[upper];
        pool.r[i] = ((1.0f - f) * a[0] + f * b[0]) * tint[0];
        pool.g[i] = ((1.0f - f) * a[1] + f * b[1]) * tint[1];
        pool.b[i] = ((1.0f - f) * a[2] + f * b[2]) * tint[2];
        pool.a[i] = (1.0f - f) * a[3] + f * b[3];
    }
}

void applySpriteCells(ParticlePool& pool, const ParticleAppearance& appearance)
{
    // A sheet that claims no tiles one way has one that way.
    const i32 across = std::max(appearance.tilesAcross, 1);
    const i32 down = std::max(appearance.tilesDown, 1);
    if ((across <= 1 && down <= 1) || !pool.uvRects)
        return;
    const i32 cells = across * down;
    const f32 width = 1.0f / static_cast<f32>(across);
    const f32 height = 1.0f / static_cast<f32>(down);
    for (u64 i = 0; i < pool.count; ++i) {
        const f32 cycles = ageFraction(pool, i) * appearance.sheetCycles;
        f32 phase = cycles - std::floor(cycles);
        if (!(phase >= 0.0f && phase < 1.0f))
            phase = 0.0f;
        const i32 cell = std::min(static_cast<i32>(static_cast<f32>(cells) * phase), cells - 1);
        f32* rect = pool.uvRects + i * 4;
        rect[0] = static_cast<f32>(cell % across) / static_cast<f32>(across);
        rect[1] = static_cast<f32>(cell / across) / static_cast<f32>(down);
        rect[2] = rect[0] + width;
        rect[3] = rect[1] + height;
    }
}

void boundingSphereOf(const ParticleBounds& bounds, u64 liveCount, f32 centre[3], f32& radius)
{
    if (liveCount == 0) {
        centre[0] = centre[1] = centre[2] = 0.0f;
        radius = 1.0f;
        return;
    }
    const Vector3 middle { (bounds.min.x + bounds.max.x) * 0.5f, (bounds.min.y + bounds.max.y) * 0.5f,
        (bounds.min.z + bounds.max.z) * 0.5f };
    centre[0] = middle.x;
    centre[1] = middle.y;
    centre[2] = middle.z;
    const Vector3 d { middle.x - bounds.min.x, middle.y - bounds.min.y, middle.z - bounds.min.z };
    radius = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
}

} // namespace harmonize
