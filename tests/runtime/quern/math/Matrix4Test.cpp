#include "quern/math/Matrix4.h"
#include "quern/math/Quaternion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>

namespace {

using quern::f32;
using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Vector3;

constexpr f32 kHalfPi = std::numbers::pi_v<f32> / 2.0f;

Matrix4 translation(f32 x, f32 y, f32 z)
{
    Matrix4 m;
    m.m[12] = x, m.m[13] = y, m.m[14] = z;
    return m;
}

Matrix4 scale(f32 x, f32 y, f32 z)
{
    Matrix4 m;
    m.m[0] = x, m.m[5] = y, m.m[10] = z;
    return m;
}

void expectNear(const Matrix4& actual, const Matrix4& expected, f32 tolerance = 1e-5f)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(actual.m[i], expected.m[i], tolerance) << "element " << i;
}

void expectNear(const Vector3& actual, const Vector3& expected, f32 tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// A general matrix with a non-trivial projective row.
Matrix4 generalMatrix()
{
    Matrix4 m;
    const f32 values[16] = { 2, 1, 0, 0.5f, -1, 3, 1, 0, 0, 2, 4, 1, 5, -2, 1, 3 };
    for (int i = 0; i < 16; ++i)
        m.m[i] = values[i];
    return m;
}

TEST(Matrix4, LayoutIsColumnMajorWithTranslationInTwelveToFourteen)
{
    const Matrix4 t = translation(1, 2, 3);
    EXPECT_EQ(t.at(0, 3), 1.0f);
    EXPECT_EQ(t.at(2, 3), 3.0f);
    expectNear(t.transformPoint({ 1, 1, 1 }), { 2, 3, 4 });
    expectNear(t.transformVector({ 1, 1, 1 }), { 1, 1, 1 });
}

TEST(Matrix4, ProductAppliesSecondOperandFirst)
{
    const Matrix4 t = translation(10, 0, 0);
    const Matrix4 s = scale(2, 2, 2);
    Matrix4 out;
    Matrix4::product(t, out, s); // scale, then translate
    expectNear(out.transformPoint({ 1, 0, 0 }), { 12, 0, 0 });
    Matrix4::product(s, out, t); // translate, then scale
    expectNear(out.transformPoint({ 1, 0, 0 }), { 22, 0, 0 });
}

TEST(Matrix4, ProductIntoOneOfItsInputsGivesTheSameResult)
{
    const Matrix4 a = generalMatrix();
    const Matrix4 b = translation(1, -2, 3) * scale(2, 3, 4);
    const Matrix4 expected = a * b;
    Matrix4 first = a;
    Matrix4::product(first, first, b);
    EXPECT_EQ(first, expected);
    Matrix4 second = b;
    Matrix4::product(a, second, second);
    EXPECT_EQ(second, expected);
}

TEST(Matrix4, PerspectiveMapsNearAndFarToTheDepthRange)
{
    const f32 near = 0.5f, far = 100.0f;
    struct Case {
        bool flag;
        f32 nearDepth, farDepth;
    };
    for (const Case c : { Case { true, -1.0f, 1.0f }, Case { false, 0.0f, 1.0f } }) {
        const Matrix4 p = Matrix4::perspective(kHalfPi, 16.0f / 9.0f, near, far, c.flag);
        // The flagged form looks down -Z (right-handed view space); the other down +Z.
        const f32 sign = c.flag ? -1.0f : 1.0f;
        f32 clip[4];
        p.transform(0, 0, sign * near, 1, clip);
        EXPECT_NEAR(clip[2] / clip[3], c.nearDepth, 1e-5f);
        p.transform(0, 0, sign * far, 1, clip);
        EXPECT_NEAR(clip[2] / clip[3], c.farDepth, 1e-5f);
    }
    const Matrix4 p = Matrix4::perspective(kHalfPi, 2.0f, near, far, true);
    EXPECT_NEAR(p.m[5], 1.0f, 1e-6f);
    EXPECT_NEAR(p.m[0], 0.5f, 1e-6f);
    EXPECT_EQ(p.m[11], -1.0f);
}

TEST(Matrix4, OrthographicMapsTheBoxToClipSpace)
{
    const Matrix4 o = Matrix4::orthographic(-4, 3, 6, -1, 1, 11, true);
    expectNear(o.transformPoint({ -4, -1, -1 }), { -1, -1, -1 });
    expectNear(o.transformPoint({ 6, 3, -11 }), { 1, 1, 1 });
    const Matrix4 zeroToOne = Matrix4::orthographic(-4, 3, 6, -1, 1, 11, false);
    EXPECT_NEAR(zeroToOne.transformPoint({ 0, 0, -1 }).z, 0.0f, 1e-6f);
    EXPECT_NEAR(zeroToOne.transformPoint({ 0, 0, -11 }).z, 1.0f, 1e-6f);
}

TEST(Matrix4, LookAtPutsTargetOnNegativeZ)
{
    const Vector3 eye { 3, 4, 5 };
    const Matrix4 v = Matrix4::lookAt(eye, { 3, 4, -5 });
    expectNear(v.transformPoint(eye), { 0, 0, 0 });
    expectNear(v.transformPoint({ 3, 4, -5 }), { 0, 0, -10 });
    expectNear(v.transformPoint({ 4, 4, 5 }), { 1, 0, 0 }); // +X stays right
    expectNear(v.transformPoint({ 3, 5, 5 }), { 0, 1, 0 }); // up stays up

    const Matrix4 side = Matrix4::lookAt({ 0, 0, 0 }, { 10, 0, 0 });
    expectNear(side.transformPoint({ 10, 0, 0 }), { 0, 0, -10 });
    expectNear(side.transformPoint({ 0, 0, 1 }), { 1, 0, 0 });
}

TEST(Matrix4, InverseUndoesAGeneralMatrix)
{
    const Matrix4 m = generalMatrix();
    ASSERT_NE(m.determinant(), 0.0f);
    expectNear(m * m.inverse(), Matrix4::identity());
    expectNear(m.inverse() * m, Matrix4::identity());
    EXPECT_EQ(m.inverted(), m.inverse());
}

TEST(Matrix4, DeterminantOfKnownMatrices)
{
    EXPECT_FLOAT_EQ(scale(2, 3, 4).determinant(), 24.0f);
    EXPECT_FLOAT_EQ((translation(5, 6, 7) * scale(2, 3, 4)).determinant(), 24.0f);
    EXPECT_FLOAT_EQ(Quaternion::fromAxisAngle(1.0f, { 1, 1, 0 }).toMatrix4().determinant(), 1.0f);
}

TEST(Matrix4, SingularMatrixIsLeftUnchanged)
{
    Matrix4 singular = scale(1, 0, 1);
    singular.m[12] = 4;
    EXPECT_EQ(singular.inverse(), singular);
    Matrix4 inPlace = singular;
    EXPECT_EQ(inPlace.tryInvert(), 0.0f);
    EXPECT_EQ(inPlace, singular);

    Matrix4 nan = Matrix4::identity();
    nan.m[0] = std::nanf("");
    Matrix4 nanCopy = nan;
    EXPECT_TRUE(std::isnan(nanCopy.tryInvert()));
    EXPECT_TRUE(std::isnan(nanCopy.m[0]));
    EXPECT_EQ(nanCopy.m[5], 1.0f);
}

TEST(Matrix4, TryInvertInvertsInPlaceAndReturnsDeterminant)
{
    Matrix4 m = translation(1, 2, 3) * scale(2, 2, 2);
    EXPECT_FLOAT_EQ(m.tryInvert(), 8.0f);
    expectNear(m.transformPoint({ 3, 4, 5 }), { 1, 1, 1 });
}

TEST(Matrix4, InvertLinearDropsTranslation)
{
    Matrix4 m = translation(7, 8, 9) * Quaternion::fromAxisAngle(0.6f, { 0, 1, 1 }).toMatrix4() * scale(2, 4, 8);
    const Matrix4 original = m;
    m.invertLinear();
    EXPECT_EQ(m.m[12], 0.0f);
    EXPECT_EQ(m.m[13], 0.0f);
    EXPECT_EQ(m.m[14], 0.0f);
    EXPECT_EQ(m.m[15], 1.0f);
    expectNear(m.transformVector(original.transformVector({ 1, 2, 3 })), { 1, 2, 3 });
}

TEST(Matrix4, OrthonormalInverseOfRigidTransform)
{
    const Matrix4 rigid = translation(1, -2, 3) * Quaternion::fromEulerAngles(0.4f, -0.7f, 1.3f).toMatrix4();
    expectNear(rigid.orthonormalInverse(), rigid.inverse());
    expectNear(rigid.orthonormalInverse() * rigid, Matrix4::identity());
}

TEST(Matrix4, MultiplyAffineCarriesTranslationAndResetsLastRow)
{
    Matrix4 a = translation(1, 2, 3) * scale(2, 2, 2);
    a.m[3] = 0.25f; // a stray projective term is dropped
    Matrix4 b = translation(1, 1, 1);
    a.multiplyAffine(b);
    expectNear(a.transformPoint({ 0, 0, 0 }), { 3, 4, 5 });
    EXPECT_EQ(a.m[3], 0.0f);
    EXPECT_EQ(a.m[15], 1.0f);
}

TEST(Matrix4, RotateKeepsTranslation)
{
    Matrix4 m = translation(5, 0, 0);
    m.rotate(Quaternion::fromAxisAngle(kHalfPi, { 0, 0, 1 }));
    expectNear(m.transformPoint({ 1, 0, 0 }), { 5, 1, 0 });
}

TEST(Matrix4, PrintsRowsFixedWidthAndRestoresStreamFormat)
{
    Matrix4 m = translation(1.5f, -2, 1234.56789f);
    std::ostringstream out;
    out.precision(2);
    out << m << 0.123456;
    EXPECT_EQ(out.str(),
        "[     1.0000     0.0000     0.0000     1.5000 ]\n"
        "[     0.0000     1.0000     0.0000    -2.0000 ]\n"
        "[     0.0000     0.0000     1.0000  1234.5679 ]\n"
        "[     0.0000     0.0000     0.0000     1.0000 ]\n"
        "0.12");
}

} // namespace
