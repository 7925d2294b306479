#pragma once
// The small numeric operations of the game's camera code: easing curves, the
// damped approach that smooths cameras and speech bubbles, Euler angles of a
// quaternion, and the meeting of a view ray with the ground plane z = 0.
#include "quern/Types.h"
#include "quern/math/Matrix4.h"
#include "quern/math/Quaternion.h"
#include "quern/math/Vector3.h"

namespace harmonize {

using quern::f32;
using quern::u32;

// Stored in components and passed by cutscene commands: the numbers are fixed.
enum EaseCurve : u32 {
    Linear = 0,
    SmoothStep = 1,
    SmootherStep = 2,
    Quadratic = 3,
    SineQuadratic = 4,
};

// Held in [0, 1]; NaN, which no comparison lets through, becomes 0.
inline f32 clampUnit(f32 t)
{
    if (t > 1.0f)
        return 1.0f;
    return t > 0.0f ? t : 0.0f;
}

// t is not clamped; a curve outside the enumeration is fatal.
f32 ease(f32 t, u32 curve);

// The three angles (radians) of the rotation (x, y, z, w), in the order the
// camera code reads them.
quern::math::Vector3 eulerFromQuaternion(const quern::math::Quaternion& q);

// v / |v|; the zero vector for a zero v.
quern::math::Vector3 normalized(const quern::math::Vector3& v);

// Where the ray from `origin` along `direction` meets z = 0. A ray parallel to
// the plane logs "output not valid" and gives the origin point (0, 0, 0).
quern::math::Vector3 intersectGroundPlane(const quern::math::Vector3& origin, const quern::math::Vector3& direction);

// The general 4x4 inverse, in place; a singular matrix stays as it is.
void invertInPlace(quern::math::Matrix4& m);

// One step of a critically damped spring from `current` towards `target` over
// `smoothTime`; never passes the target. `velocity` carries between steps.
f32 DampedApproach(f32 current, f32 target, f32& velocity, f32 smoothTime, f32 step);
// The same per axis.
quern::math::Vector3 approachVector(const quern::math::Vector3& current, const quern::math::Vector3& target,
    quern::math::Vector3& velocity, f32 smoothTime, f32 step);

} // namespace harmonize
