#include "quern/math/Quaternion.h"

#include "quern/math/Matrix4.h"

#include <algorithm>
#include <cmath>

namespace quern::math {

Quaternion Quaternion::fromEulerAngles(f32 a, f32 b, f32 c)
{
    const f32 sa = std::sin(a * 0.5f), ca = std::cos(a * 0.5f);
    const f32 sb = std::sin(b * 0.5f), cb = std::cos(b * 0.5f);
    const f32 sc = std::sin(c * 0.5f), cc = std::cos(c * 0.5f);
    return { sb * ca * sc + cb * sa * cc, sb * ca * cc - cb * sa * sc, sb * sa * cc + cb * ca * sc,
        cb * ca * cc - sb * sa * sc };
}

// The inverse of toMatrix3: a positive angle turns right-handed about the
// axis, so the quarter turn about +Z is {0, 0, sqrt(1/2), sqrt(1/2)} and its
// matrix takes +X to +Y. fromEulerAngles and fromYAxisRotation build on it.
Quaternion Quaternion::fromAxisAngle(f32 angle, const Vector3& axis)
{
    const f32 len = axis.length();
    if (len < 1e-5f)
        return {};
    const f32 s = std::sin(angle * 0.5f);
    return { axis.x / len * s, axis.y / len * s, axis.z / len * s, std::cos(angle * 0.5f) };
}

// The exact inverse of toMatrix4 (the standard rotation matrix, column
// vectors): R(2,1) - R(1,2), the element pair m[6] and m[9], gives x, and so on.
// Formulas written for the transposed matrix flip every sign here.
Quaternion Quaternion::fromMatrix4(const Matrix4& matrix)
{
    const f32* m = matrix.m;
    const f32 trace = m[0] + m[5] + m[10] + m[15];
    if (trace >= 1.0f) {
        const f32 s = 2.0f * std::sqrt(trace);
        return { (m[6] - m[9]) / s, (m[8] - m[2]) / s, (m[1] - m[4]) / s, s / 4.0f };
    }
    int i = 1;
    if (m[10] > std::max(m[0], m[5]))
        i = 2;
    else if (m[0] > m[5])
        i = 0;
    const int j = (i + 1) % 3;
    const int k = (j + 1) % 3;
    const f32 s = 2.0f * std::sqrt(m[i * 5] - m[j * 5] - m[k * 5] + 1.0f);
    f32 q[3];
    q[i] = s / 4.0f;
    q[j] = (m[j * 4 + i] + m[i * 4 + j]) / s;
    q[k] = (m[k * 4 + i] + m[i * 4 + k]) / s;
    return { q[0], q[1], q[2], (m[j * 4 + k] - m[k * 4 + j]) / s };
}

Quaternion Quaternion::fromYAxisRotation(const Vector3& direction)
{
    // The turn about Y x direction carries +Y onto the direction.
    const Vector3 axis = cross(kUnitY, direction);
    const f32 len = axis.length();
    if (len < 0x1p-23f)
        return {};
    const f32 cosine = std::clamp(direction.y, -1.0f, 1.0f);
    return fromAxisAngle(std::acos(cosine), { axis.x / len, axis.y / len, axis.z / len });
}

Quaternion Quaternion::nlerp(const Quaternion& a, const Quaternion& b, f32 t)
{
    const f32 sign = dot(a, b) >= 0.0f ? 1.0f : -1.0f;
    Quaternion r { a.x + (sign * b.x - a.x) * t, a.y + (sign * b.y - a.y) * t, a.z + (sign * b.z - a.z) * t,
        a.w + (sign * b.w - a.w) * t };
    r.normalize();
    return r;
}

f32 Quaternion::normalize()
{
    const f32 len = std::sqrt(x * x + y * y + z * z + w * w);
    if (len == 0.0f)
        return 0.0f;
    x /= len;
    y /= len;
    z /= len;
    w = std::clamp(w / len, -1.0f, 1.0f);
    return len;
}

Matrix4 Quaternion::toMatrix4() const
{
    const Matrix3 r = toMatrix3();
    Matrix4 out;
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row)
            out.m[c * 4 + row] = r.m[c * 3 + row];
    return out;
}

Quaternion& Quaternion::operator*=(const Quaternion& o)
{
    *this = *this * o;
    return *this;
}

f32 dot(const Quaternion& a, const Quaternion& b)
{
    const f32 lengths
        = (a.x * a.x + a.y * a.y + a.z * a.z + a.w * a.w) * (b.x * b.x + b.y * b.y + b.z * b.z + b.w * b.w);
    if (lengths == 0.0f)
        return 0.0f;
    return (a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w) / lengths;
}

} // namespace quern::math
