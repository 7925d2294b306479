#pragma once
// Axis-aligned bounding box. The default box is empty (min above max), so the
// first point it is extended by becomes both corners.

#include "quern/math/Vector3.h"

#include <algorithm>
#include <limits>

namespace quern::math {

struct AABB {
    static constexpr f32 kHuge = std::numeric_limits<f32>::max();

    Vector3 min { kHuge, kHuge, kHuge };
    Vector3 max { -kHuge, -kHuge, -kHuge };

    constexpr AABB() = default;
    constexpr AABB(const Vector3& min_, const Vector3& max_) : min(min_), max(max_) { }

    constexpr bool isEmpty() const { return min.x > max.x || min.y > max.y || min.z > max.z; }

    void extend(const Vector3& p)
    {
        min = { std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z) };
        max = { std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z) };
    }
};

} // namespace quern::math
