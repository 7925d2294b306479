#include "harmonize/utils/MathUtils.h"

#include "quern/platform/FloatingPointTraps.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>

namespace harmonize {
namespace {

using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Vector3;

constexpr f32 kPi = std::numbers::pi_v<f32>;
constexpr f32 kStep = 1.0f / 60.0f;
const f32 kNaN = std::numeric_limits<f32>::quiet_NaN();

void expectNear(const Vector3& actual, const Vector3& expected, f32 tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(Ease, CurvesAtKnownPoints)
{
    struct Case {
        f32 t;
        u32 curve;
        f32 expected;
    };
    const f32 sineAtHalf = std::sin(0.5f) * 0.25f * 1.1883951f;
    const Case cases[] = {
        { 0.0f, Linear, 0.0f },
        { 0.0f, SmoothStep, 0.0f },
        { 0.0f, SmootherStep, 0.0f },
        { 0.0f, Quadratic, 0.0f },
        { 0.0f, SineQuadratic, 0.0f },
        { 1.0f, Linear, 1.0f },
        { 1.0f, SmoothStep, 1.0f },
        { 1.0f, SmootherStep, 1.0f },
        { 1.0f, Quadratic, 1.0f },
        { 1.0f, SineQuadratic, 1.0f },
        { 0.5f, Linear, 0.5f },
        { 0.5f, SmoothStep, 0.5f },
        { 0.5f, SmootherStep, 0.5f },
        { 0.5f, Quadratic, 0.25f },
        { 0.5f, SineQuadratic, sineAtHalf },
        { 0.25f, SmoothStep, 0.15625f },
        { 0.25f, SmootherStep, 0.103515625f },
        // t is not clamped: the polynomials run on outside 0..1.
        { 2.0f, Linear, 2.0f },
        { 2.0f, SmoothStep, -4.0f },
        { 2.0f, SmootherStep, 32.0f },
        { -1.0f, Quadratic, 1.0f },
        { -1.0f, SineQuadratic, -1.0f },
    };
    for (const Case& c : cases)
        EXPECT_NEAR(ease(c.t, c.curve), c.expected, 1e-6f) << "t " << c.t << ", curve " << c.curve;
}

TEST(EaseDeathTest, CurveOutsideTheEnumerationIsFatal)
{
    EXPECT_DEATH(ease(0.5f, 5), "Unreachable code hit");
    EXPECT_DEATH(ease(0.5f, 0xffffffffu), "Unreachable code hit");
}

TEST(EulerFromQuaternion, AnglesOfKnownTurns)
{
    struct Case {
        const char* name;
        Quaternion q;
        Vector3 expected;
    };
    const Quaternion aboutY = Quaternion::fromAxisAngle(0.7f, quern::math::kUnitY);
    const Quaternion aboutX = Quaternion::fromAxisAngle(0.4f, quern::math::kUnitX);
    const Quaternion aboutZ = Quaternion::fromAxisAngle(-1.2f, quern::math::kUnitZ);
    const Case cases[] = {
        { "identity", Quaternion::identity(), { 0, 0, 0 } },
        { "about y", aboutY, { 0.7f, 0, 0 } },
        { "about x", aboutX, { 0, 0.4f, 0 } },
        { "about z", aboutZ, { 0, 0, -1.2f } },
        { "quarter turn about z", Quaternion::fromAxisAngle(kPi / 2, quern::math::kUnitZ), { 0, 0, kPi / 2 } },
        // The y turn is applied first, then x, then z.
        { "y then x then z", aboutZ * aboutX * aboutY, { 0.7f, 0.4f, -1.2f } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectNear(eulerFromQuaternion(c.q), c.expected);
    }
}

TEST(EulerFromQuaternion, QuarterTurnAboutXLeftTooLongByRoundingIsNotNaN)
{
    // The float just above sqrt(1/2): the quaternion's length exceeds 1 by
    // rounding and the sine of the x angle comes out above 1.
    const f32 half = std::nextafter(std::sqrt(0.5f), 1.0f);
    ASSERT_GT(2.0f * (half * half), 1.0f);
    EXPECT_EQ(eulerFromQuaternion({ half, 0, 0, half }).y, std::asin(1.0f));
    EXPECT_EQ(eulerFromQuaternion({ -half, 0, 0, half }).y, std::asin(-1.0f));
}

TEST(Normalized, UnitLengthOrZero)
{
    expectNear(normalized({ 3, 0, 4 }), { 0.6f, 0, 0.8f });
    EXPECT_EQ(normalized({ 0, 0, 0 }), quern::math::kZeroVector);
}

TEST(IntersectGroundPlane, RayMeetsZZero)
{
    struct Case {
        Vector3 origin;
        Vector3 direction;
        Vector3 expected;
    };
    const f32 diagonal = std::sqrt(0.5f);
    const Case cases[] = {
        { { 0, 0, 10 }, { 0, 0, -1 }, { 0, 0, 0 } },
        { { 2, 3, 10 }, { diagonal, 0, -diagonal }, { 12, 3, 0 } },
        { { 2, 3, -4 }, { 0, -diagonal, diagonal }, { 2, -1, 0 } },
        // A direction of any length lands on the plane, not off it.
        { { 2, 3, 10 }, { 2, 0, -2 }, { 12, 3, 0 } },
        { { 0, 0, 6 }, { 0, 0, -0.5f }, { 0, 0, 0 } },
    };
    quern::testing::LogCapture warnings(2);
    for (const Case& c : cases)
        expectNear(intersectGroundPlane(c.origin, c.direction), c.expected, 1e-4f);
    EXPECT_FALSE(warnings.contains("output not valid"));
}

TEST(IntersectGroundPlane, RayParallelToThePlaneWarnsAndGivesTheOrigin)
{
    const Vector3 directions[] = { { 1, 0, 0 }, { 0, 0, 0 }, { kNaN, 0, -1 } };
    for (const Vector3& direction : directions) {
        quern::testing::LogCapture warnings(2);
        EXPECT_EQ(intersectGroundPlane({ 5, 5, 5 }, direction), quern::math::kZeroVector);
        EXPECT_EQ(warnings.count("output not valid"), 1u);
    }
}

TEST(InvertInPlace, CameraPoseBecomesItsView)
{
    // A camera at z = 10 whose z axis is flipped.
    Matrix4 m;
    m.m[10] = -1.0f;
    m.m[14] = 10.0f;
    invertInPlace(m);
    expectNear(m.transformPoint({ 0, 0, 10 }), { 0, 0, 0 });
    expectNear(m.transformPoint({ 1, 2, 9 }), { 1, 2, 1 });

    Matrix4 singular;
    singular.m[5] = 0.0f;
    singular.m[12] = 3.0f;
    const Matrix4 before = singular;
    invertInPlace(singular);
    EXPECT_EQ(singular, before);
}

// The closed form of a critically damped spring released at rest one unit
// below its target, with omega = 2 / smoothTime: the approach steps it with a
// rational stand-in for the exponential, close to a part in a thousand.
TEST(DampedApproach, FollowsACriticallyDampedSpring)
{
    const f32 smoothTime = 0.5f;
    const f32 omega = 2.0f / smoothTime;
    f32 value = 0.0f;
    f32 velocity = 0.0f;
    for (int tick = 1; tick <= 60; ++tick) {
        value = DampedApproach(value, 1.0f, velocity, smoothTime, kStep);
        const f32 t = static_cast<f32>(tick) * kStep;
        const f32 decay = std::exp(-omega * t);
        ASSERT_NEAR(value, 1.0f - (1.0f + omega * t) * decay, 1e-3f) << "tick " << tick;
        ASSERT_NEAR(velocity, omega * omega * t * decay, 1e-2f) << "tick " << tick;
    }
}

TEST(DampedApproach, ApproachesWithoutPassingAndSettlesOnTheTarget)
{
    struct Case {
        f32 from;
        f32 to;
    };
    const Case cases[] = { { 0.0f, 10.0f }, { 10.0f, -3.0f }, { -7.5f, 0.0f } };
    for (const Case& c : cases) {
        f32 value = c.from;
        f32 velocity = 0.0f;
        const f32 side = c.to > c.from ? 1.0f : -1.0f;
        for (int tick = 0; tick < 600; ++tick) {
            const f32 next = DampedApproach(value, c.to, velocity, 0.3f, kStep);
            ASSERT_GE((next - value) * side, 0.0f) << "moved away at tick " << tick;
            ASSERT_LE((next - c.to) * side, 0.0f) << "passed the target at tick " << tick;
            value = next;
        }
        // Steps smaller than half the spacing of floats there round away, so it
        // may rest an ulp short.
        EXPECT_FLOAT_EQ(value, c.to) << c.from << " to " << c.to;
        EXPECT_NEAR(velocity, 0.0f, 1e-4f);
    }
}

TEST(DampedApproach, StepThatWouldPassTheTargetEndsExactlyOnIt)
{
    struct Case {
        f32 current;
        f32 target;
        f32 velocity;
    };
    // Moving fast towards a target close by, from either side.
    const Case cases[] = { { 0.0f, 0.1f, 50.0f }, { 5.0f, 4.95f, -50.0f }, { 3.0f, 3.0f, -10.0f } };
    for (const Case& c : cases) {
        f32 velocity = c.velocity;
        EXPECT_EQ(DampedApproach(c.current, c.target, velocity, 0.3f, kStep), c.target);
        EXPECT_EQ(velocity, 0.0f);
    }
}

TEST(DampedApproach, SmoothTimeBelowTheMinimumOrNaNUsesTheMinimum)
{
    f32 minimumVelocity = 0.0f;
    const f32 atMinimum = DampedApproach(0.0f, 1.0f, minimumVelocity, 0.0001f, kStep);
    // The shortest time all but arrives in one step, without passing.
    EXPECT_GT(atMinimum, 0.999f);
    EXPECT_LE(atMinimum, 1.0f);
    for (const f32 smoothTime : { 0.0f, 0.00005f, -1.0f, kNaN }) {
        f32 velocity = 0.0f;
        EXPECT_EQ(DampedApproach(0.0f, 1.0f, velocity, smoothTime, kStep), atMinimum) << smoothTime;
        EXPECT_EQ(velocity, minimumVelocity) << smoothTime;
    }
}

// Run with the game's floating-point traps: a value settling on 0 must end on
// it exactly instead of passing through denormals, and a paused (zero) step
// must not divide 0 by 0. Exits 0 when both hold, dies of SIGFPE otherwise.
void settleWithTheTrapsOn()
{
    quern::platform::enableFloatingPointTraps();
    f32 value = 1.0f;
    f32 velocity = 0.0f;
    for (int tick = 0; tick < 20000; ++tick)
        value = DampedApproach(value, 0.0f, velocity, 0.3f, kStep);
    const bool settled = value == 0.0f && velocity == 0.0f;
    f32 pausedVelocity = 0.0f;
    const f32 paused = DampedApproach(2.0f, 2.0f, pausedVelocity, 0.3f, 0.0f);
    const bool pausedCleanly = paused == 2.0f && pausedVelocity == 0.0f;
    quern::platform::maskFloatingPointTraps();
    std::exit(settled && pausedCleanly ? 0 : 1);
}

TEST(DampedApproachDeathTest, SettlesOnZeroAndPausesUnderFloatingPointTraps)
{
    EXPECT_EXIT(settleWithTheTrapsOn(), ::testing::ExitedWithCode(0), "");
}

TEST(ApproachVector, EachAxisApproachesOnItsOwn)
{
    const Vector3 current { 0.0f, 5.0f, 2.0f };
    const Vector3 target { 1.0f, 4.95f, 2.0f };
    Vector3 velocity { 0.0f, -50.0f, 0.0f };
    const Vector3 result = approachVector(current, target, velocity, 0.3f, kStep);

    f32 vx = 0.0f;
    EXPECT_EQ(result.x, DampedApproach(0.0f, 1.0f, vx, 0.3f, kStep));
    EXPECT_GT(vx, 0.0f);
    EXPECT_EQ(result.y, 4.95f); // this axis would have passed its target
    EXPECT_EQ(result.z, 2.0f);
    EXPECT_EQ(velocity, (Vector3 { vx, 0.0f, 0.0f }));
}

} // namespace
} // namespace harmonize
