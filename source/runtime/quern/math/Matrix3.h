#pragma once
// 3x3 float matrix, column-major like Matrix4: row r, column c at m[c * 3 + r],
// so m[0..2] is the image of the X axis, m[3..5] of Y and m[6..8] of Z.

#include "quern/math/Vector3.h"

namespace quern::math {

struct Matrix3 {
    f32 m[9] = { 1, 0, 0, 0, 1, 0, 0, 0, 1 };

    static constexpr Matrix3 identity() { return {}; }

    constexpr f32 at(int row, int column) const { return m[column * 3 + row]; }

    constexpr Vector3 operator*(const Vector3& v) const
    {
        return { m[0] * v.x + m[3] * v.y + m[6] * v.z, m[1] * v.x + m[4] * v.y + m[7] * v.z,
            m[2] * v.x + m[5] * v.y + m[8] * v.z };
    }
};

} // namespace quern::math
