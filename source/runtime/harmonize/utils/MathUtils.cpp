#include "harmonize/utils/MathUtils.h"

#include "quern/debug/Log.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cmath>

namespace harmonize {

using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Vector3;

namespace {

// 1 / sin(1): the sine curve reaches 1 at t = 1.
constexpr f32 kSineQuadraticScale = 1.1883951f;

// The shortest smoothing time; shorter ones (and NaN) would blow omega up.
constexpr f32 kMinimumSmoothTime = 0.0001f;

// A value this close to its target, or a velocity this small, moves nothing the
// camera could show. Left to decay step after step they would sink into
// denormals, whose use traps when the game runs with floating-point traps.
constexpr f32 kNegligible = 1e-12f;

} // namespace

f32 ease(f32 t, u32 curve)
{
    switch (curve) {
    case Linear:
        return t;
    case SmoothStep:
        return (3.0f - 2.0f * t) * t * t;
    case SmootherStep:
        return ((6.0f * t - 15.0f) * t + 10.0f) * t * t * t;
    case Quadratic:
        return t * t;
    case SineQuadratic:
        return std::sin(t) * t * t * kSineQuadraticScale;
    default:
        QUERN_FATAL("Unreachable code hit");
    }
}

Vector3 eulerFromQuaternion(const Quaternion& q)
{
    const f32 x = q.x, y = q.y, z = q.z, w = q.w;
    // A unit quaternion that rounding left a hair too long must not turn a
    // quarter turn into NaN.
    const f32 sine = std::clamp(2.0f * (x * w + y * z), -1.0f, 1.0f);
    return { std::atan2(-2.0f * (x * z - y * w), w * w - x * x - y * y + z * z), std::asin(sine),
        std::atan2(-2.0f * (x * y - w * z), w * w - x * x + y * y - z * z) };
}

Vector3 normalized(const Vector3& v) { return v.normalized(); }

Vector3 intersectGroundPlane(const Vector3& origin, const Vector3& direction)
{
    // The distance along the ray is measured in the unit direction it is
    // applied to, so a direction of any length still lands on the plane.
    const Vector3 unit = normalized(direction);
    const f32 den = -unit.z;
    if (den == 0.0f || std::isnan(den)) {
        QUERN_LOG(2) << "output not valid" << std::endl;
        return quern::math::kZeroVector;
    }
    return origin + unit * (origin.z / den);
}

void invertInPlace(Matrix4& m) { m.tryInvert(); }

f32 DampedApproach(f32 current, f32 target, f32& velocity, f32 smoothTime, f32 step)
{
    // isnan first: an ordered comparison with NaN raises the invalid trap.
    const f32 time = std::isnan(smoothTime) || smoothTime < kMinimumSmoothTime ? kMinimumSmoothTime : smoothTime;
    const f32 omega = 2.0f / time;
    const f32 x = omega * step;
    const f32 e = 1.0f / ((0.48f * x * x + (x + 1.0f)) + 0.235f * x * x * x);
    const f32 change = current - target;
    const f32 clampedTarget = current - change;
    const f32 temp = (change * omega + velocity) * step;
    velocity = (velocity - temp * omega) * e;
    const f32 out = (temp + change) * e + clampedTarget;
    // Passing the target (or standing on it) ends the motion there. The
    // velocity is plainly 0: 0 / step would be NaN for a paused, zero step.
    if ((target - current > 0.0f) == (out > target)) {
        velocity = 0.0f;
        return target;
    }
    if (std::fabs(velocity) < kNegligible)
        velocity = 0.0f;
    return std::fabs(out - target) < kNegligible ? target : out;
}

Vector3 approachVector(const Vector3& current, const Vector3& target, Vector3& velocity, f32 smoothTime, f32 step)
{
    return { DampedApproach(current.x, target.x, velocity.x, smoothTime, step),
        DampedApproach(current.y, target.y, velocity.y, smoothTime, step),
        DampedApproach(current.z, target.z, velocity.z, smoothTime, step) };
}

} // namespace harmonize
