#include "quern/math/Quaternion.h"
#include "quern/math/Ray.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {

using quern::f32;
using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Ray;
using quern::math::Vector3;

constexpr f32 kHalfPi = std::numbers::pi_v<f32> / 2.0f;

void expectNear(const Vector3& actual, const Vector3& expected, f32 tolerance = 1e-4f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(Ray, ScreenCentreLooksAlongTheViewAxis)
{
    const Matrix4 view = Matrix4::lookAt({ 1, 2, 10 }, { 1, 2, 0 });
    const Matrix4 projection = Matrix4::perspective(kHalfPi, 4.0f / 3.0f, 0.5f, 100.0f, true);
    const Ray ray = Ray::fromScreenPoint(400, 300, view, projection, 800, 600);
    expectNear(ray.origin, { 1, 2, 9.5f });
    expectNear(ray.direction, { 0, 0, -1 }, 1e-6f);
    EXPECT_NEAR(ray.direction.length(), 1.0f, 1e-6f);
}

TEST(Ray, ScreenYGrowsDownwardsAndCornersFollowTheFieldOfView)
{
    const Matrix4 view = Matrix4::lookAt({ 0, 0, 0 }, { 0, 0, -1 });
    const Matrix4 projection = Matrix4::perspective(kHalfPi, 1.0f, 1.0f, 10.0f, true);
    // The top-left pixel corner lies on the near plane at (-1, 1, -1).
    const Ray topLeft = Ray::fromScreenPoint(0, 0, view, projection, 200, 200);
    expectNear(topLeft.origin, { -1, 1, -1 });
    expectNear(topLeft.direction, Vector3 { -1, 1, -1 }.normalized());
    const Ray bottomRight = Ray::fromScreenPoint(200, 200, view, projection, 200, 200);
    expectNear(bottomRight.origin, { 1, -1, -1 });
}

TEST(Ray, SpareFieldsHoldTheUnprojectedW)
{
    const Matrix4 projection = Matrix4::perspective(kHalfPi, 1.0f, 1.0f, 10.0f, true);
    const Ray ray = Ray::fromScreenPoint(50, 50, Matrix4::identity(), projection, 100, 100);
    // w of the unprojected near and far points is 1/near and 1/far.
    EXPECT_NEAR(ray.originW, 1.0f, 1e-5f);
    EXPECT_NEAR(ray.directionW, 0.1f, 1e-5f);
}

TEST(Ray, ToLocalSpaceAppliesTheInverseWithoutRenormalising)
{
    Matrix4 object = Quaternion::fromAxisAngle(kHalfPi, { 0, 0, 1 }).toMatrix4();
    object.m[0] *= 2, object.m[1] *= 2, object.m[2] *= 2; // scale 2 along the local X axis
    object.m[12] = 10;
    Ray world;
    world.origin = { 10, 4, 0 };
    world.direction = { 0, 1, 0 };
    world.originW = 7, world.directionW = 7;
    const Ray local = world.toLocalSpace(object);
    expectNear(local.origin, { 2, 0, 0 }, 1e-5f);
    expectNear(local.direction, { 0.5f, 0, 0 }, 1e-6f);
    EXPECT_EQ(local.originW, 1.0f);
    EXPECT_EQ(local.directionW, 1.0f);
}

} // namespace
