#pragma once
// 4x4 float matrix, column-major with column vectors (v' = M v): row r, column c
// is m[c * 4 + r], the translation is m[12..14] and m[3], m[7], m[11] are the
// projective row. View space is right-handed and looks down -Z.

#include "quern/math/Vector3.h"

#include <iosfwd>

namespace quern::math {

struct Quaternion;

struct Matrix4 {
    f32 m[16] = { 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1 };

    static constexpr Matrix4 identity() { return {}; }

    constexpr f32 at(int row, int column) const { return m[column * 4 + row]; }

    // out = first * second (second applied first). Safe when out is an input.
    static void product(const Matrix4& first, Matrix4& out, const Matrix4& second);

    // Depth maps to -1..1 when depthMinusOneToOne is set, else to 0..1.
    static Matrix4 orthographic(f32 left, f32 top, f32 right, f32 bottom, f32 near, f32 far, bool depthMinusOneToOne);
    static Matrix4 perspective(f32 fovY, f32 aspect, f32 near, f32 far, bool depthMinusOneToOne);
    // View matrix from eye towards target with kUpVector.
    static Matrix4 lookAt(const Vector3& eye, const Vector3& target);

    // this = this * other for affine matrices; the last row becomes 0 0 0 1.
    void multiplyAffine(const Matrix4& other);
    // this = this * rotation(q) on the three axis columns; the translation stays.
    void rotate(const Quaternion& q);

    f32 determinant() const;
    // The general inverse; a singular matrix (determinant 0 or NaN) comes back unchanged.
    Matrix4 inverse() const;
    Matrix4 inverted() const { return inverse(); }
    // Inverts in place when the determinant is non-zero; returns the determinant.
    f32 tryInvert();
    // Replaces the matrix by the inverse of its 3x3 part with no translation;
    // a singular 3x3 part is kept as it is (the translation is still dropped).
    void invertLinear();
    // Inverse of a rotation-and-translation matrix (the axes are normalised first).
    Matrix4 orthonormalInverse() const;

    Vector3 transformPoint(const Vector3& p) const;
    Vector3 transformVector(const Vector3& v) const;
    // The 4-component product M (x, y, z, w), written to out[4].
    void transform(f32 x, f32 y, f32 z, f32 w, f32 out[4]) const;
};

inline Matrix4 operator*(const Matrix4& a, const Matrix4& b)
{
    Matrix4 out;
    Matrix4::product(a, out, b);
    return out;
}

bool operator==(const Matrix4& a, const Matrix4& b);

// Four lines "[ " + the row's elements (fixed, precision 4, width 10, each followed
// by a space) + "]"; the stream's format is restored afterwards.
std::ostream& operator<<(std::ostream& out, const Matrix4& m);

inline constexpr Matrix4 kIdentityMatrix {};

} // namespace quern::math
