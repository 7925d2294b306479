#pragma once
// Rotation quaternion {x, y, z, w}, w last, combined with Hamilton products.
// A quaternion turns points the right-handed way about its axis: the matrix of
// the turn of +90 degrees about Z takes the X axis to the Y axis, the same
// convention the physics library uses, so rotations pass between them unchanged.

#include "quern/math/Matrix3.h"
#include "quern/math/Vector3.h"

namespace quern::math {

struct Matrix4;

struct Quaternion {
    f32 x = 0.0f;
    f32 y = 0.0f;
    f32 z = 0.0f;
    f32 w = 1.0f;

    constexpr Quaternion() = default;
    constexpr Quaternion(f32 x_, f32 y_, f32 z_, f32 w_)
        : x(x_)
        , y(y_)
        , z(z_)
        , w(w_)
    {
    }

    static constexpr Quaternion identity() { return {}; }

    // qX(a) * qY(b) * qZ(c), each a turn about one axis, angles in radians.
    static Quaternion fromEulerAngles(f32 a, f32 b, f32 c);
    // The identity when the axis is shorter than 1e-5; the axis need not be unit length.
    static Quaternion fromAxisAngle(f32 angle, const Vector3& axis);
    // The rotation of a pure rotation matrix (its upper-left 3x3 part).
    static Quaternion fromMatrix4(const Matrix4& m);
    // The shortest turn taking +Y onto the unit vector `direction`.
    static Quaternion fromYAxisRotation(const Vector3& direction);
    // Normalised linear interpolation along the shorter arc.
    static Quaternion nlerp(const Quaternion& a, const Quaternion& b, f32 t);

    // Scales to unit length and clamps w to [-1, 1]; returns the former length.
    // A zero quaternion has no direction and is left as it is.
    f32 normalize();

    Matrix4 toMatrix4() const;
    // The standard rotation matrix: it turns a vector exactly as q v q* does, and
    // as the physics library's matrix of the same quaternion, so the quarter turn
    // about +Z has column 0 = +Y. Column-major: R(1,0) = 2(xy + wz) is m[1].
    // Inline: transform chains build one per link of every chain each frame.
    constexpr Matrix3 toMatrix3() const
    {
        Matrix3 r;
        r.m[0] = 1.0f - 2.0f * (y * y + z * z);
        r.m[1] = 2.0f * (x * y + w * z);
        r.m[2] = 2.0f * (x * z - w * y);
        r.m[3] = 2.0f * (x * y - w * z);
        r.m[4] = 1.0f - 2.0f * (x * x + z * z);
        r.m[5] = 2.0f * (y * z + w * x);
        r.m[6] = 2.0f * (x * z + w * y);
        r.m[7] = 2.0f * (y * z - w * x);
        r.m[8] = 1.0f - 2.0f * (x * x + y * y);
        return r;
    }

    Quaternion& operator*=(const Quaternion& o);
};

// Hamilton product a * b: b's rotation first, then a's.
constexpr Quaternion operator*(const Quaternion& a, const Quaternion& b)
{
    return { a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
        a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z };
}

constexpr bool operator==(const Quaternion& a, const Quaternion& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}

// (a . b) / (|a|^2 * |b|^2): the cosine of the angle between two unit quaternions,
// and for any two its sign. 0 when either is zero.
f32 dot(const Quaternion& a, const Quaternion& b);

inline constexpr Quaternion kIdentityQuaternion {};

} // namespace quern::math
