#include "quern/math/Frustum.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {

using quern::f32;
using quern::math::AABB;
using quern::math::Frustum;
using quern::math::Matrix4;
using quern::math::Vector3;
using Result = Frustum::TestResult;

constexpr f32 kHalfPi = std::numbers::pi_v<f32> / 2.0f;

// A camera at (0, 0, 10) looking at the origin, 90 degrees wide, square,
// near 1 and far 11: the visible region spans z from 9 to -1.
Frustum makeFrustum()
{
    return Frustum(Matrix4::lookAt({ 0, 0, 10 }, { 0, 0, 0 }), Matrix4::perspective(kHalfPi, 1.0f, 1.0f, 11.0f, true));
}

TEST(Frustum, PlanesAreNormalisedAndFaceInwards)
{
    const Frustum f = makeFrustum();
    const Vector3 inside { 0, 0, 5 };
    for (int side = 0; side < 6; ++side) {
        const quern::math::Plane& p = f.getPlane(static_cast<Frustum::Side>(side));
        EXPECT_NEAR(p.normal().length(), 1.0f, 1e-6f) << side;
        EXPECT_EQ(p.one, 1.0f);
        EXPECT_GT(p.distance(inside), 0.0f) << side;
    }
    EXPECT_NEAR(f.getPlane(Frustum::Side::Near).distance({ 0, 0, 9 }), 0.0f, 1e-5f);
    EXPECT_NEAR(f.getPlane(Frustum::Side::Far).distance({ 0, 0, -1 }), 0.0f, 1e-4f);
    EXPECT_GT(f.getPlane(Frustum::Side::Left).nx, 0.0f);
    EXPECT_LT(f.getPlane(Frustum::Side::Right).nx, 0.0f);
    EXPECT_LT(f.getPlane(Frustum::Side::Top).ny, 0.0f);
    EXPECT_GT(f.getPlane(Frustum::Side::Bottom).ny, 0.0f);
}

TEST(Frustum, KeepsTheMatricesItWasBuiltFrom)
{
    const Matrix4 view = Matrix4::lookAt({ 1, 2, 3 }, { 0, 0, 0 });
    const Matrix4 projection = Matrix4::perspective(1.0f, 1.5f, 0.1f, 50.0f, true);
    const Frustum f(view, projection);
    EXPECT_EQ(f.getView(), view);
    EXPECT_EQ(f.getProjection(), projection);
}

TEST(FrustumDeathTest, InvalidSideIsFatal)
{
    const Frustum f = makeFrustum();
    EXPECT_DEATH(f.getPlane(static_cast<Frustum::Side>(6)), "Invalid enum value for type Frustum::Side");
}

TEST(Frustum, ClassifiesSpheres)
{
    const Frustum f = makeFrustum();
    struct Case {
        Vector3 centre;
        f32 radius;
        Result expected;
    };
    const Case cases[] = {
        { { 0, 0, 5 }, 1.0f, Result::Inside },
        { { 0, 0, 5 }, 20.0f, Result::Intersecting },
        { { 0, 0, 9 }, 0.5f, Result::Intersecting }, // straddles the near plane
        { { 0, 0, 12 }, 1.0f, Result::Outside }, // behind the camera
        { { 0, 0, -3 }, 1.0f, Result::Outside }, // beyond the far plane
        { { 30, 0, 5 }, 1.0f, Result::Outside },
        { { 0, 0, 9 }, 0.0f, Result::Outside }, // on a plane with no radius: the test is strict
    };
    for (const Case& c : cases)
        EXPECT_EQ(f.testSphere(c.centre, c.radius), c.expected)
            << c.centre.x << "," << c.centre.y << "," << c.centre.z << " r=" << c.radius;
}

TEST(Frustum, ClassifiesBoxes)
{
    const Frustum f = makeFrustum();
    struct Case {
        Vector3 min, max;
        Result expected;
    };
    const Case cases[] = {
        { { -1, -1, 4 }, { 1, 1, 6 }, Result::Inside },
        { { -1, -1, 8 }, { 1, 1, 10 }, Result::Intersecting }, // straddles the near plane
        { { 2, -1, 4 }, { 8, 1, 6 }, Result::Intersecting }, // straddles the right plane
        { { -1, -1, 9.5f }, { 1, 1, 15 }, Result::Outside }, // entirely behind the near plane
        { { 20, 20, 4 }, { 30, 30, 6 }, Result::Outside },
        { { -100, -100, -100 }, { 100, 100, 100 }, Result::Intersecting }, // encloses the frustum
    };
    for (const Case& c : cases)
        EXPECT_EQ(f.testAABB(c.min, c.max), c.expected) << c.min.x << "," << c.min.y << "," << c.min.z;
}

TEST(Frustum, BoundsEncloseTheEightCorners)
{
    const AABB box = makeFrustum().computeBounds();
    // The far face is 11 units from the eye with half-width 11.
    EXPECT_NEAR(box.min.x, -11.0f, 1e-3f);
    EXPECT_NEAR(box.max.x, 11.0f, 1e-3f);
    EXPECT_NEAR(box.min.y, -11.0f, 1e-3f);
    EXPECT_NEAR(box.max.y, 11.0f, 1e-3f);
    EXPECT_NEAR(box.min.z, -1.0f, 1e-3f);
    EXPECT_NEAR(box.max.z, 9.0f, 1e-3f);
}

TEST(Frustum, BoundsOfAFrustumFarFromTheOriginDoNotReachTheOrigin)
{
    const Frustum f(Matrix4::lookAt({ 100, 50, 200 }, { 100, 50, 0 }),
        Matrix4::orthographic(-2, 1, 2, -1, 1, 3, true));
    const AABB box = f.computeBounds();
    EXPECT_NEAR(box.min.x, 98.0f, 1e-3f);
    EXPECT_NEAR(box.max.x, 102.0f, 1e-3f);
    EXPECT_NEAR(box.min.y, 49.0f, 1e-3f);
    EXPECT_NEAR(box.max.y, 51.0f, 1e-3f);
    EXPECT_NEAR(box.min.z, 197.0f, 1e-3f);
    EXPECT_NEAR(box.max.z, 199.0f, 1e-3f);
}

TEST(Frustum, DegenerateCornersContributeTheOrigin)
{
    // A projection with no depth row gives near and far planes parallel to the
    // side planes' line: every corner fails and only the origin is left.
    Matrix4 flat = Matrix4::identity();
    flat.m[10] = 0.0f;
    Matrix4 view = Matrix4::identity();
    view.m[12] = view.m[13] = view.m[14] = 50.0f;
    const Frustum f(view, flat);
    const AABB box = f.computeBounds();
    EXPECT_EQ(box.min, (Vector3 { 0, 0, 0 }));
    EXPECT_EQ(box.max, (Vector3 { 0, 0, 0 }));
}

} // namespace
