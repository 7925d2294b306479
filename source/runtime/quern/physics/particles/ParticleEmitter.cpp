#include "quern/physics/particles/ParticleEmitter.h"

#include "quern/math/Matrix3.h"
#include "quern/math/Matrix4.h"
#include "quern/physics/particles/ParticlePool.h"

#include <algorithm>
#include <cmath>

namespace quern::particles {

namespace {

constexpr f32 kTwoPi = 6.2831855f;
constexpr f32 kBallVolume = 4.1887903f; // 4/3 pi
constexpr f32 kInverseBallVolume = 0.2387324f; // 3/(4 pi)
constexpr f32 kOneThird = 0.33333334f;

// A random direction: three Euler angles from three unit numbers (drawn in
// the order u1, u2, u3 and given in reverse), the first axis of their rotation.
math::Vector3 randomDirection(u64& random)
{
    const f32 u1 = nextUnit(random) * 2.0f * 3.1415927f;
    const f32 u2 = nextUnit(random) * 2.0f * 3.1415927f;
    const f32 u3 = nextUnit(random) * 2.0f * 3.1415927f;
    const math::Matrix4 m = math::Quaternion::fromEulerAngles(u3, u2, u1).toMatrix4();
    return { m.m[0], m.m[1], m.m[2] };
}

} // namespace

f32 nextUnit(u64& state)
{
    state = state * 4561u + 51349u;
    return static_cast<f32>(state) * 5.421010862427522e-20f; // 2^-64
}

f32 randomBetween(u64& state, f32 lo, f32 hi)
{
    const f32 u = nextUnit(state);
    return hi < lo ? u : lo + (hi - lo) * u;
}

void ParticleEmitter::generatePosition(f32*) { }

u64 ParticleEmitter::freeRoom(const ParticlePool& pool, u64 n)
{
    return pool.count >= pool.capacity ? 0 : std::min(n, pool.capacity - pool.count);
}

void ParticleEmitter::initParticle(ParticlePool& pool, u64 i, const EmissionSettings& s, u64& random)
{
    const f32 life = randomBetween(random, s.lifetimeMinimum, s.lifetimeMaximum);
    pool.lifetime[i] = life;
    pool.remaining[i] = life;
    f32* velocity[3] = { pool.vx, pool.vy, pool.vz };
    for (int k = 0; k < 3; ++k) {
        const f32 spread = std::fabs(s.velocitySpread[k]);
        velocity[k][i] = s.velocityBase[k] + randomBetween(random, -spread, spread);
    }
    pool.size[i] = randomBetween(random, s.sizeMinimum, s.sizeMaximum);
    // Only a random rotation draws: streams without it stay one draw shorter.
    pool.rotation[i] = s.randomRotation ? nextUnit(random) * kTwoPi : 0.0f;
    const f32 spinSpread = std::fabs(s.spinSpread);
    pool.spin[i] = s.spinBase + randomBetween(random, -spinSpread, spinSpread);
    pool.r[i] = s.colour[0];
    pool.g[i] = s.colour[1];
    pool.b[i] = s.colour[2];
    pool.a[i] = s.colour[3];
}

u64 ParticleEmitter::emit(const EmissionSettings& settings, u64 n, ParticlePool& pool)
{
    const u64 room = freeRoom(pool, n);
    for (u64 k = 0; k < room; ++k) {
        const u64 i = pool.count++;
        initParticle(pool, i, settings, random);
        f32 point[4] = { 0, 0, 0, 1 };
        generatePosition(point);
        pool.x[i] = point[0];
        pool.y[i] = point[1];
        pool.z[i] = point[2];
    }
    return room;
}

void SphereEmitter::generatePosition(f32 out[4])
{
    const f32 r = radius;
    const f32 u = nextUnit(random);
    const f32 d = std::pow(u * (r * kBallVolume * r * r) * kInverseBallVolume, kOneThird);
    const math::Vector3 axis = randomDirection(random);
    out[0] = d * axis.x + position[0] + offset[0];
    out[1] = d * axis.y + position[1] + offset[1];
    out[2] = d * axis.z + position[2] + offset[2];
    out[3] = 1.0f;
}

u64 SphereEmitter::emit(const EmissionSettings& settings, u64 n, ParticlePool& pool)
{
    const u64 room = freeRoom(pool, n);
    for (u64 k = 0; k < room; ++k) {
        const u64 i = pool.count++;
        initParticle(pool, i, settings, random);
        f32 point[4];
        SphereEmitter::generatePosition(point);
        pool.x[i] = point[0];
        pool.y[i] = point[1];
        pool.z[i] = point[2];
    }
    return room;
}

u64 EllipsoidEmitter::emit(const EmissionSettings& settings, u64 n, ParticlePool& pool)
{
    const u64 room = freeRoom(pool, n);
    const math::Vector3 e = settings.rotation.toMatrix3() * math::Vector3 { extents[0], extents[1], extents[2] };
    for (u64 k = 0; k < room; ++k) {
        const u64 i = pool.count++;
        initParticle(pool, i, settings, random);
        const f32 u = nextUnit(random);
        const math::Vector3 axis = randomDirection(random);
        const f32 v = std::pow(u * kBallVolume * kInverseBallVolume, kOneThird);
        pool.x[i] = e.x * v * axis.x + settings.position[0];
        pool.y[i] = e.y * v * axis.y + settings.position[1];
        pool.z[i] = e.z * v * axis.z + settings.position[2];
    }
    return room;
}

} // namespace quern::particles
