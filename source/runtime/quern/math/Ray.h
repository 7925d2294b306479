#pragma once
// A ray for picking: an origin and a direction, each with a spare fourth field.

#include "quern/math/Matrix4.h"

namespace quern::math {

struct Ray {
    Vector3 origin;
    f32 originW = 1.0f;
    Vector3 direction;
    f32 directionW = 1.0f;

    // The ray through screen point (x, y), y growing downwards from the top:
    // origin on the near plane, unit direction towards the far plane. The
    // spare fields keep the two homogeneous w values of the unprojection.
    static Ray fromScreenPoint(f32 x, f32 y, const Matrix4& view, const Matrix4& projection, f32 width, f32 height);

    // The ray in the space whose object-to-world matrix is `matrix`; the
    // direction is not renormalised, so distances along it keep their meaning.
    Ray toLocalSpace(const Matrix4& matrix) const;
};

} // namespace quern::math
