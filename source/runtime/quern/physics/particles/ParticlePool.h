#pragma once
// Particles as a structure of arrays: fifteen float channels, optional texture
// rectangles and an index array, each its own 16-byte-aligned block from one
// allocator, so that the game's update loops stream one attribute at a time.
// Particles 0 to count - 1 are live.

#include "quern/Types.h"

namespace quern::memory {
class Allocator;
}

namespace quern::graphics {
struct BatchVertex;
}

namespace quern::particles {

struct ParticlePool {
    memory::Allocator* allocator = nullptr;
    f32* x = nullptr;
    f32* y = nullptr;
    f32* z = nullptr;
    f32* vx = nullptr;
    f32* vy = nullptr;
    f32* vz = nullptr;
    f32* size = nullptr;
    f32* rotation = nullptr; // radians
    f32* spin = nullptr; // radians per second
    f32* r = nullptr;
    f32* g = nullptr;
    f32* b = nullptr;
    f32* a = nullptr;
    f32* uvRects = nullptr; // uMin, vMin, uMax, vMax per particle, or null
    f32* lifetime = nullptr; // seconds
    f32* remaining = nullptr; // seconds
    u32* indices = nullptr; // 0 .. capacity - 1 after init
    u64 capacity = 0;
    u64 count = 0;

    // n particles' room, empty; texture rectangles only when asked for.
    void init(memory::Allocator* allocator, u64 n, bool withTextureRectangles);
    void release();
    // Four vertices per live particle in particle order, each quad of side
    // `size` around the particle, turned by its rotation in the x-y plane.
    // `out` holds 4 * count vertices.
    void buildQuads(graphics::BatchVertex* out) const;
};

// Sine and cosine by polynomials over the angle reduced to [-pi/2, pi/2]: a
// few ulps from the library functions and the same bits on every machine.
// Inline and free of branches, since particle rotations are random and a
// mispredicted quadrant test costs more than the polynomials.
inline void fastSinCos(f32 angle, f32& sine, f32& cosine)
{
    // The nearest whole turn, halves away from zero, without a library call.
    const f32 turns = angle * 0.15915494f;
    const f32 whole = static_cast<f32>(static_cast<i32>(turns));
    const f32 rest = turns - whole;
    const f32 k = whole + static_cast<f32>(rest >= 0.5f) - static_cast<f32>(rest <= -0.5f);
    f32 x = angle - k * 6.2831855f;
    const bool above = x > 1.5707964f;
    const bool below = x < -1.5707964f;
    x = above ? 3.1415927f - x : x;
    x = below ? -3.1415927f - x : x;
    const f32 sign = (above || below) ? -1.0f : 1.0f;
    const f32 c = x * x;
    sine = x
        * (1.0f
            + c
                * (-0.16666667f
                    + c * (0.008333331f + c * (-0.00019840874f + c * (2.7525562e-6f - c * 2.3889859e-8f)))));
    cosine = sign
        * (1.0f + c * (-0.5f + c * (0.041666638f + c * (-0.0013888378f + c * (2.4760495e-5f - c * 2.6051615e-7f)))));
}

} // namespace quern::particles
