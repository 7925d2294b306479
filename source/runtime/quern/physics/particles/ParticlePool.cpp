#include "quern/physics/particles/ParticlePool.h"

#include "quern/graphics/BatchVertex.h"
#include "quern/memory/Allocator.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace quern::particles {

namespace {

f32* allocateChannel(memory::Allocator* allocator, u64 n, u64 floatsPerParticle)
{
    return static_cast<f32*>(allocator->allocate(n * floatsPerParticle * sizeof(f32), 16));
}

} // namespace

void ParticlePool::init(memory::Allocator* owner, u64 n, bool withTextureRectangles)
{
    allocator = owner;
    count = 0;
    capacity = n;
    for (f32** channel : { &x, &y, &z, &vx, &vy, &vz, &size, &rotation, &spin, &r, &g, &b, &a, &lifetime, &remaining })
        *channel = allocateChannel(allocator, n, 1);
    indices = static_cast<u32*>(allocator->allocate(n * sizeof(u32), 16));
    for (u64 i = 0; i < n; ++i)
        indices[i] = static_cast<u32>(i);
    uvRects = withTextureRectangles ? allocateChannel(allocator, n, 4) : nullptr;
}

void ParticlePool::release()
{
    if (!allocator)
        return;
    for (f32** channel :
        { &x, &y, &z, &vx, &vy, &vz, &size, &rotation, &spin, &r, &g, &b, &a, &uvRects, &lifetime, &remaining }) {
        allocator->free(*channel);
        *channel = nullptr;
    }
    allocator->free(indices);
    indices = nullptr;
    count = 0;
    capacity = 0;
}

void ParticlePool::buildQuads(graphics::BatchVertex* out) const
{
    static constexpr f32 kPlainRect[4] = { 0, 0, 1, 1 };
    for (u64 i = 0; i < count; ++i) {
        f32 s, c;
        fastSinCos(rotation[i], s, c);
        // Corner (cx, cy) = (+-0.5, +-0.5) turned and scaled: two half-axis vectors.
        const f32 h = 0.5f * size[i];
        const f32 ax = c * h, ay = s * h; // (0.5, 0) turned
        const f32 bx = -s * h, by = c * h; // (0, 0.5) turned
        const f32 px = x[i], py = y[i], pz = z[i];
        u8 colour[4];
        graphics::packColour(colour, r[i], g[i], b[i], a[i]);
        const f32* rect = uvRects ? uvRects + i * 4 : kPlainRect;
        const f32 corners[4][4] = {
            { px - ax - bx, py - ay - by, rect[0], rect[1] },
            { px + ax - bx, py + ay - by, rect[2], rect[1] },
            { px + ax + bx, py + ay + by, rect[2], rect[3] },
            { px - ax + bx, py - ay + by, rect[0], rect[3] },
        };
        for (const f32* corner : corners) {
            graphics::BatchVertex& v = *out++;
            v.x = corner[0];
            v.y = corner[1];
            v.z = pz;
            std::memcpy(v.colour, colour, 4);
            v.u = corner[2];
            v.v = corner[3];
        }
    }
}

} // namespace quern::particles
