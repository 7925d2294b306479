#pragma once
// Three-component float vector: positions, directions and scales.

#include "quern/Types.h"

#include <cmath>

namespace quern::math {

struct Vector3 {
    f32 x = 0.0f;
    f32 y = 0.0f;
    f32 z = 0.0f;

    constexpr Vector3() = default;
    constexpr Vector3(f32 x_, f32 y_, f32 z_) : x(x_), y(y_), z(z_) { }

    constexpr Vector3 operator-() const { return { -x, -y, -z }; }
    constexpr Vector3& operator+=(const Vector3& o) { x += o.x; y += o.y; z += o.z; return *this; }
    constexpr Vector3& operator-=(const Vector3& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
    constexpr Vector3& operator*=(f32 s) { x *= s; y *= s; z *= s; return *this; }

    f32 length() const { return std::sqrt(x * x + y * y + z * z); }
    constexpr f32 lengthSquared() const { return x * x + y * y + z * z; }

    // The unit vector in the same direction; a zero vector stays zero rather
    // than turning into NaNs that would spread through every later product.
    Vector3 normalized() const
    {
        const f32 len = length();
        if (len == 0.0f)
            return *this;
        return { x / len, y / len, z / len };
    }
};

constexpr Vector3 operator+(const Vector3& a, const Vector3& b) { return { a.x + b.x, a.y + b.y, a.z + b.z }; }
constexpr Vector3 operator-(const Vector3& a, const Vector3& b) { return { a.x - b.x, a.y - b.y, a.z - b.z }; }
constexpr Vector3 operator*(const Vector3& v, f32 s) { return { v.x * s, v.y * s, v.z * s }; }
constexpr Vector3 operator*(f32 s, const Vector3& v) { return { v.x * s, v.y * s, v.z * s }; }
constexpr bool operator==(const Vector3& a, const Vector3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

constexpr f32 dot(const Vector3& a, const Vector3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

constexpr Vector3 cross(const Vector3& a, const Vector3& b)
{
    return { a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x };
}

inline constexpr Vector3 kZeroVector { 0.0f, 0.0f, 0.0f };
inline constexpr Vector3 kUnitScale { 1.0f, 1.0f, 1.0f };
inline constexpr Vector3 kUnitX { 1.0f, 0.0f, 0.0f };
inline constexpr Vector3 kUnitY { 0.0f, 1.0f, 0.0f };
inline constexpr Vector3 kUnitZ { 0.0f, 0.0f, 1.0f };
// The world's up direction, used by lookAt.
inline constexpr Vector3 kUpVector = kUnitY;

} // namespace quern::math
