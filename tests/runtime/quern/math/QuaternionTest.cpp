#include "quern/math/Quaternion.h"
#include "quern/math/Matrix4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using quern::f32;
using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Vector3;

constexpr f32 kHalfPi = std::numbers::pi_v<f32> / 2.0f;

void expectNear(const Vector3& actual, const Vector3& expected, f32 tolerance = 1e-6f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

void expectNear(const Quaternion& actual, const Quaternion& expected, f32 tolerance = 1e-6f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
    EXPECT_NEAR(actual.w, expected.w, tolerance);
}

// Physics and rendering exchange rotations: a positive quarter turn about Z
// must carry the X axis onto the Y axis (right-hand rule), through the 4x4 and
// the 3x3 matrix alike.
TEST(Quaternion, QuarterTurnAboutZTakesXAxisToYAxis)
{
    const Quaternion q = Quaternion::fromAxisAngle(kHalfPi, { 0, 0, 1 });
    expectNear(q.toMatrix4().transformPoint({ 1, 0, 0 }), { 0, 1, 0 });
    expectNear(q.toMatrix4().transformPoint({ 0, 1, 0 }), { -1, 0, 0 });
    expectNear(q.toMatrix3() * Vector3 { 1, 0, 0 }, { 0, 1, 0 });

    Matrix4 m = Matrix4::identity();
    m.rotate(q);
    expectNear(m.transformPoint({ 2, 0, 5 }), { 0, 2, 5 });
}

// Quarter turns written out by hand, element by element, as the standard
// column-vector matrices; the matrix builder, the matrix reader and the axis
// constructor must all agree with them, not merely with each other.
TEST(Quaternion, KnownQuarterTurnsMatchTheStandardMatrixBothWays)
{
    const f32 h = std::sqrt(0.5f);
    struct Case {
        Vector3 axis;
        Quaternion q;
        int one, plusOne, minusOne; // the only non-zero elements of the 3x3 part
    };
    const Case cases[] = {
        { { 1, 0, 0 }, { h, 0, 0, h }, 0, 6, 9 }, // +Y -> +Z: column 1 row 2
        { { 0, 1, 0 }, { 0, h, 0, h }, 5, 8, 2 }, // +Z -> +X: column 2 row 0
        { { 0, 0, 1 }, { 0, 0, h, h }, 10, 1, 4 }, // +X -> +Y: column 0 row 1
    };
    for (const Case& c : cases) {
        Matrix4 expected = Matrix4::identity();
        expected.m[0] = expected.m[5] = expected.m[10] = 0.0f;
        expected.m[c.one] = 1.0f;
        expected.m[c.plusOne] = 1.0f;
        expected.m[c.minusOne] = -1.0f;

        expectNear(Quaternion::fromAxisAngle(kHalfPi, c.axis), c.q);
        const Matrix4 built = c.q.toMatrix4();
        for (int i = 0; i < 16; ++i)
            EXPECT_NEAR(built.m[i], expected.m[i], 1e-6f) << "element " << i;
        expectNear(Quaternion::fromMatrix4(expected), c.q);
    }
}

TEST(Quaternion, RotationsAboutEachAxisFollowTheRightHandRule)
{
    struct Case {
        Vector3 axis, point, expected;
    };
    const Case cases[] = {
        { { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } }, { { 0, 1, 0 }, { 0, 0, 1 }, { 1, 0, 0 } },
        { { 0, 0, 1 }, { 1, 0, 0 }, { 0, 1, 0 } },
        { { 0, 0, 3 }, { 1, 0, 0 }, { 0, 1, 0 } }, // the axis need not be unit length
    };
    for (const Case& c : cases)
        expectNear(Quaternion::fromAxisAngle(kHalfPi, c.axis).toMatrix4().transformPoint(c.point), c.expected);
}

TEST(Quaternion, HamiltonProductAppliesRightOperandFirst)
{
    const Quaternion aboutX = Quaternion::fromAxisAngle(kHalfPi, { 1, 0, 0 });
    const Quaternion aboutZ = Quaternion::fromAxisAngle(kHalfPi, { 0, 0, 1 });
    // Z first: x -> y, then X: y -> z.
    expectNear((aboutX * aboutZ).toMatrix4().transformPoint({ 1, 0, 0 }), { 0, 0, 1 });
    // The product of the matrices agrees with the matrix of the product.
    const Matrix4 composed = aboutX.toMatrix4() * aboutZ.toMatrix4();
    const Matrix4 direct = (aboutX * aboutZ).toMatrix4();
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(composed.m[i], direct.m[i], 1e-6f) << i;

    Quaternion q = aboutX;
    q *= aboutZ;
    expectNear(q, aboutX * aboutZ, 0.0f);
}

TEST(Quaternion, EulerAnglesComposeXThenYThenZAsHamiltonProduct)
{
    const f32 a = 0.3f, b = -1.1f, c = 2.0f;
    const Quaternion expected = Quaternion::fromAxisAngle(a, { 1, 0, 0 }) * Quaternion::fromAxisAngle(b, { 0, 1, 0 })
        * Quaternion::fromAxisAngle(c, { 0, 0, 1 });
    expectNear(Quaternion::fromEulerAngles(a, b, c), expected);
}

TEST(Quaternion, AxisShorterThanThresholdGivesIdentity)
{
    EXPECT_EQ(Quaternion::fromAxisAngle(1.0f, { 0, 0, 0 }), Quaternion::identity());
    EXPECT_EQ(Quaternion::fromAxisAngle(1.0f, { 5e-6f, 0, 0 }), Quaternion::identity());
}

TEST(Quaternion, NormalizeReturnsFormerLengthAndLeavesZeroAlone)
{
    Quaternion q { 0, 3, 0, 4 };
    EXPECT_FLOAT_EQ(q.normalize(), 5.0f);
    expectNear(q, { 0, 0.6f, 0, 0.8f });

    Quaternion zero { 0, 0, 0, 0 };
    EXPECT_EQ(zero.normalize(), 0.0f);
    EXPECT_EQ(zero, (Quaternion { 0, 0, 0, 0 }));
}

TEST(Quaternion, DotDividesByProductOfSquaredLengths)
{
    EXPECT_FLOAT_EQ(quern::math::dot(Quaternion { 0, 0, 0, 2 }, Quaternion { 0, 0, 0, 3 }), 6.0f / 36.0f);
    EXPECT_EQ(quern::math::dot(Quaternion { 0, 0, 0, 0 }, Quaternion { 0, 0, 0, 1 }), 0.0f);
}

TEST(Quaternion, NlerpTakesShorterArcAndHandlesOppositeSigns)
{
    const Quaternion q = Quaternion::fromAxisAngle(0.7f, { 0, 1, 0 });
    const Quaternion negated { -q.x, -q.y, -q.z, -q.w };
    expectNear(Quaternion::nlerp(q, negated, 0.5f), q);

    const Quaternion from = Quaternion::identity();
    const Quaternion to = Quaternion::fromAxisAngle(kHalfPi, { 0, 0, 1 });
    expectNear(Quaternion::nlerp(from, to, 0.5f), Quaternion::fromAxisAngle(kHalfPi / 2.0f, { 0, 0, 1 }));
    expectNear(Quaternion::nlerp(from, to, 0.0f), from);
    expectNear(Quaternion::nlerp(from, to, 1.0f), to);
}

TEST(Quaternion, MatrixRoundTripCoversEveryBranch)
{
    // Turns near 180 degrees about each axis exercise the branches where the trace is small.
    const Quaternion cases[] = {
        Quaternion::fromEulerAngles(0.2f, 0.4f, -0.3f),
        Quaternion::fromAxisAngle(3.0f, { 1, 0, 0 }),
        Quaternion::fromAxisAngle(3.0f, { 0, 1, 0 }),
        Quaternion::fromAxisAngle(3.0f, { 0, 0, 1 }),
        Quaternion::fromAxisAngle(2.5f, { 1, 2, -3 }),
    };
    for (const Quaternion& q : cases) {
        Quaternion back = Quaternion::fromMatrix4(q.toMatrix4());
        if (back.w * q.w + back.x * q.x + back.y * q.y + back.z * q.z < 0.0f)
            back = { -back.x, -back.y, -back.z, -back.w };
        expectNear(back, q, 1e-5f);
    }
}

TEST(Quaternion, YAxisRotationCarriesUpOntoDirection)
{
    const Vector3 directions[] = {
        { 1, 0, 0 },
        { 0, 0, -1 },
        Vector3 { 1, 1, 1 }.normalized(),
        Vector3 { -0.3f, -0.9f, 0.2f }.normalized(),
    };
    for (const Vector3& d : directions)
        expectNear(Quaternion::fromYAxisRotation(d).toMatrix4().transformVector({ 0, 1, 0 }), d, 1e-6f);
    // Straight up has no defined axis: no turn.
    EXPECT_EQ(Quaternion::fromYAxisRotation({ 0, 1, 0 }), Quaternion::identity());
}

} // namespace
