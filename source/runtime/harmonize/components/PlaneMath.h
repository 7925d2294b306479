#pragma once
// Plane vector arithmetic for the player's rules. The game plays in the x-y
// plane; every result is single precision, as the records store it, so that
// replays compare bit for bit.
#include "harmonize/components/Components.h"

#include <algorithm>
#include <cmath>

namespace harmonize {

constexpr Vec2f operator+(Vec2f a, Vec2f b) { return { a.x + b.x, a.y + b.y }; }
constexpr Vec2f operator-(Vec2f a, Vec2f b) { return { a.x - b.x, a.y - b.y }; }
constexpr Vec2f operator-(Vec2f a) { return { -a.x, -a.y }; }
constexpr Vec2f operator*(Vec2f a, f32 s) { return { a.x * s, a.y * s }; }
constexpr Vec2f operator*(f32 s, Vec2f a) { return { a.x * s, a.y * s }; }
constexpr Vec2f operator/(Vec2f a, f32 s) { return { a.x / s, a.y / s }; }
constexpr bool operator==(Vec2f a, Vec2f b) { return a.x == b.x && a.y == b.y; }

constexpr f32 dot(Vec2f a, Vec2f b) { return a.x * b.x + a.y * b.y; }
inline f32 length(Vec2f a) { return std::sqrt(dot(a, a)); }
constexpr bool isZero(Vec2f a) { return a.x == 0.0f && a.y == 0.0f; }

// v / |v|; the zero vector when |v| is exactly 0.
inline Vec2f normalize(Vec2f v)
{
    const f32 l = length(v);
    return l == 0.0f ? Vec2f {} : v / l;
}

// The component of v along a; the zero vector when a is the zero vector.
constexpr Vec2f proj(Vec2f v, Vec2f a)
{
    const f32 aa = dot(a, a);
    return aa == 0.0f ? Vec2f {} : a * (dot(v, a) / aa);
}

// The two perpendiculars: turned a quarter to the left (-y, x) and to the
// right (y, -x).
constexpr Vec2f leftOf(Vec2f v) { return { -v.y, v.x }; }
constexpr Vec2f rightOf(Vec2f v) { return { v.y, -v.x }; }

// v turned by `angle` radians counter-clockwise.
inline Vec2f rotated(Vec2f v, f32 angle)
{
    const f32 c = std::cos(angle);
    const f32 s = std::sin(angle);
    return { v.x * c - v.y * s, v.x * s + v.y * c };
}

// Turns c towards t by at most `angle` radians: t itself once it is within
// reach; otherwise t turned back by the rest of the angle either way, the
// candidate nearer to c (the second on a tie), normalised.
inline Vec2f rotateTowards(Vec2f c, Vec2f t, f32 angle)
{
    const f32 between = std::acos(std::clamp(dot(t, c), -1.0f, 1.0f));
    if (between < angle)
        return t;
    const Vec2f first = normalize(rotated(t, between - angle));
    const Vec2f second = normalize(rotated(t, -(between - angle)));
    return dot(first, c) > dot(second, c) ? first : second;
}

constexpr Vec2f planeOf(const quern::math::Vector3& v) { return { v.x, v.y }; }

} // namespace harmonize
