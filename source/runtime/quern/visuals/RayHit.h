#pragma once
// One ray-pick result, from a process-wide pool: picks hand their records
// back before the next pick, so the pool grows to the largest pick and a
// steady stream of picks allocates nothing.

#include "quern/Types.h"

namespace quern::graphics {
class Shader;
}

namespace quern::visuals {

struct RayHit {
    f32 t = 0; // distance along the ray, in units of its direction
    f32 position[4] = { 0, 0, 0, 1 };
    f32 normal[4] = { 0, 0, 1, 1 };
    u8 frontFacing = 0;
    f32 texCoord[2] = { 0, 0 };
    graphics::Shader* owner = nullptr;
    u32 indices[3] = { 0, 0, 0 };
    RayHit* nextFree = nullptr;
};

// Records come in blocks of this many.
inline constexpr u64 kRayHitBlock = 100;

// A record from the pool (made with its first use, released at process exit),
// reset to its defaults.
RayHit* takeRayHit();
void returnRayHit(RayHit* hit);
// Records the pool holds in its blocks, taken or free.
u64 rayHitPoolCapacity();

} // namespace quern::visuals
