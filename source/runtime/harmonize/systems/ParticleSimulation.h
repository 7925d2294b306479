#pragma once
// The per-emitter steps of the particle simulation, each a loop over one
// pool's channels: emission counting, ageing, motion with growth and spin,
// bounds, colour over life and sprite-sheet cells. They touch nothing but
// their arguments, so the emitter tasks run them in parallel and a benchmark
// can call them alone.

#include "harmonize/components/Components.h"

#include "quern/Types.h"
#include "quern/math/Matrix3.h"
#include "quern/math/Vector3.h"

namespace quern::particles {
struct ParticlePool;
}

namespace harmonize {

using quern::f32;
using quern::u64;

// The axis-aligned box around an emitter's particles.
struct ParticleBounds {
    quern::math::Vector3 min { 3.4028235e38f, 3.4028235e38f, 3.4028235e38f };
    quern::math::Vector3 max { -3.4028235e38f, -3.4028235e38f, -3.4028235e38f };
};

// One frame's motion, the same for every particle of a pool.
struct ParticleMotion {
    f32 dt = 0.0f;
    f32 keep = 1.0f; // velocity factor of this step
    quern::math::Vector3 acceleration; // velocity change of this step, jitter included
    bool swirl = false;
    quern::math::Matrix3 swirlRotation;
    f32 growth = 0.0f; // size change per second, as a fraction of the size
    f32 maxSize = 0.0f;
};

// The mean of the two rate bounds.
f32 emissionRate(const ParticleSpawner& spawner);

// Adds rate * dt to the carried fraction and takes the whole particles out of
// it; returns how many of them fit in `room`. Particles that do not fit are
// dropped, not carried.
u64 takeEmission(f32& accumulator, f32 rate, f32 dt, u64 room);

// The next jitter number in [0, 1) from the system's generator.
f32 nextJitter(u64& random);

// The motion of one step. `basis` turns the swirl angles into the space the
// particles live in (identity for local particles); the three jitter numbers
// come from `random`, x then y then z.
ParticleMotion makeParticleMotion(
    const ParticleSettings& settings, const quern::math::Matrix3& basis, f32 dt, f32 maxSize, u64& random);

// Lowers every particle's remaining life by dt. A particle whose life runs
// out (or is not a number) is replaced by the last live one, every channel
// with it, and that place is tested again; slot indices are swapped so the
// free part of the index array still names every free slot once.
void ageParticles(quern::particles::ParticlePool& pool, f32 dt);

// Velocity, position, size and rotation of every live particle, and the box
// around them: x and y widened by half the grown size before the size cap, z
// by the position alone.
ParticleBounds moveParticles(quern::particles::ParticlePool& pool, const ParticleMotion& motion);

// Colours from the settings' keys by each particle's age, times the tint
// (alpha untinted). Key counts outside 1 to 8 are held to that range.
void applyColourOverLife(quern::particles::ParticlePool& pool, const ParticleSettings& settings, const f32 tint[4]);

// The sprite-sheet cell of each particle's age; nothing for a sheet of one
// tile or a pool without texture rectangles.
void applySpriteCells(quern::particles::ParticlePool& pool, const ParticleAppearance& appearance);

// Centre and radius of the sphere around the box; (0, 0, 0) and 1 when the
// pool is empty.
void boundingSphereOf(const ParticleBounds& bounds, u64 liveCount, f32 centre[3], f32& radius);

} // namespace harmonize
