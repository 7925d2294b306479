#pragma once
// Small readers shared by the visuals tests: a buffer's indices, a ray, and
// the hits of a pick.

#include "quern/graphics/IndexBuffer.h"
#include "quern/math/Ray.h"
#include "quern/visuals/RayHit.h"
#include "support/BufferContents.h"

#include <vector>

namespace quern::test {

inline math::Ray ray(math::Vector3 origin, math::Vector3 direction)
{
    math::Ray r;
    r.origin = origin;
    r.direction = direction;
    return r;
}

inline const visuals::RayHit& hit(const containers::Array& hits, u64 i) { return *hits.at<visuals::RayHit*>(i); }

} // namespace quern::test
