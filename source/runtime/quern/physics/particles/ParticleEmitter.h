#pragma once
// Emitters append particles to a pool. Every random attribute comes from the
// emitter's own 64-bit linear congruential generator in a fixed order of
// draws, so a seeded emitter reproduces its particle stream exactly.

#include "quern/Types.h"
#include "quern/math/Quaternion.h"

namespace quern::particles {

struct ParticlePool;

struct EmissionSettings {
    f32 position[3] = { 0, 0, 0 };
    math::Quaternion rotation;
    f32 spinBase = 0;
    f32 spinSpread = 0;
    f32 velocityBase[3] = { 0, 0, 0 };
    f32 velocitySpread[3] = { 0, 0, 0 };
    f32 lifetimeMaximum = 1;
    f32 sizeMaximum = 1;
    f32 lifetimeMinimum = 1;
    f32 sizeMinimum = 1;
    f32 colour[4] = { 1, 1, 1, 1 };
    u8 randomRotation = 0;
};

// Advances the generator and returns its new state as a number in [0, 1].
f32 nextUnit(u64& state);
// lo + (hi - lo) * u; with hi below lo just the unit number u.
f32 randomBetween(u64& state, f32 lo, f32 hi);

class ParticleEmitter {
public:
    static constexpr u64 kSeed = 0x982FA82D934B051AULL;

    virtual ~ParticleEmitter() = default;
    // Where the next particle starts (x, y, z, w); the plain emitter leaves
    // `out` as it is.
    virtual void generatePosition(f32 out[4]);
    // Appends up to n particles: as many as the pool has free room for.
    // Returns how many were appended.
    virtual u64 emit(const EmissionSettings& settings, u64 n, ParticlePool& pool);

    // Lifetime, velocity, size, rotation, spin and colour of particle `index`.
    static void initParticle(ParticlePool& pool, u64 index, const EmissionSettings& settings, u64& random);

    u64 random = kSeed;
    f32 position[4] = { 0, 0, 0, 1 };
    f32 offset[4] = { 0, 0, 0, 1 };
    f32 reserved[4] = { 0, 0, 0, 1 };

protected:
    static u64 freeRoom(const ParticlePool& pool, u64 n);
};

// Points spread evenly through a ball of `radius` around position + offset.
class SphereEmitter : public ParticleEmitter {
public:
    void generatePosition(f32 out[4]) override;
    u64 emit(const EmissionSettings& settings, u64 n, ParticlePool& pool) override;

    f32 radius = 1.0f;
};

// Points in an ellipsoid of half axes `extents` turned by the settings'
// rotation, around the settings' position.
class EllipsoidEmitter : public ParticleEmitter {
public:
    EllipsoidEmitter() = default;
    u64 emit(const EmissionSettings& settings, u64 n, ParticlePool& pool) override;

    f32 extents[3] = { 1, 1, 1 };
};

} // namespace quern::particles
