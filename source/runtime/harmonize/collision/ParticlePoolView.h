#pragma once
// What the collision system sees of a particle pool: one small body per slot,
// in the physics world while the slot holds a live particle. The pool owns the
// arrays and keeps this view current; the collision system reads positions and
// velocities before its step and writes them back after it.

#include "quern/Types.h"

namespace harmonize {

struct ParticlePoolView {
    // Indexed by live order, liveCount entries each.
    quern::f32* px = nullptr;
    quern::f32* py = nullptr;
    quern::f32* pz = nullptr;
    quern::f32* vx = nullptr;
    quern::f32* vy = nullptr;
    quern::f32* vz = nullptr;
    // capacity entries: the first liveCount are the slots of the live
    // particles in live order, the rest the free slots.
    const quern::u32* slots = nullptr;
    quern::u32 capacity = 0;
    quern::u32 liveCount = 0;
};

} // namespace harmonize
