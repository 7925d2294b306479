#include "quern/math/Matrix4.h"

#include "quern/math/Quaternion.h"

#include <cmath>
#include <iomanip>
#include <ostream>

namespace quern::math {

namespace {

// 2x2 minors of the top two and bottom two rows, shared by the determinant
// and the adjugate so that both see exactly the same rounding.
struct Minors {
    f32 s[6];
    f32 c[6];
    f32 det;
};

Minors computeMinors(const Matrix4& mat)
{
    auto a = [&](int r, int c) { return mat.m[c * 4 + r]; };
    Minors k;
    k.s[0] = a(0, 0) * a(1, 1) - a(1, 0) * a(0, 1);
    k.s[1] = a(0, 0) * a(1, 2) - a(1, 0) * a(0, 2);
    k.s[2] = a(0, 0) * a(1, 3) - a(1, 0) * a(0, 3);
    k.s[3] = a(0, 1) * a(1, 2) - a(1, 1) * a(0, 2);
    k.s[4] = a(0, 1) * a(1, 3) - a(1, 1) * a(0, 3);
    k.s[5] = a(0, 2) * a(1, 3) - a(1, 2) * a(0, 3);
    k.c[5] = a(2, 2) * a(3, 3) - a(3, 2) * a(2, 3);
    k.c[4] = a(2, 1) * a(3, 3) - a(3, 1) * a(2, 3);
    k.c[3] = a(2, 1) * a(3, 2) - a(3, 1) * a(2, 2);
    k.c[2] = a(2, 0) * a(3, 3) - a(3, 0) * a(2, 3);
    k.c[1] = a(2, 0) * a(3, 2) - a(3, 0) * a(2, 2);
    k.c[0] = a(2, 0) * a(3, 1) - a(3, 0) * a(2, 1);
    k.det = k.s[0] * k.c[5] - k.s[1] * k.c[4] + k.s[2] * k.c[3] + k.s[3] * k.c[2] - k.s[4] * k.c[1]
        + k.s[5] * k.c[0];
    return k;
}

Matrix4 adjugateTimes(const Matrix4& mat, const Minors& k, f32 scale)
{
    auto a = [&](int r, int c) { return mat.m[c * 4 + r]; };
    const f32* s = k.s;
    const f32* c = k.c;
    Matrix4 out;
    auto b = [&](int r, int col) -> f32& { return out.m[col * 4 + r]; };
    b(0, 0) = (a(1, 1) * c[5] - a(1, 2) * c[4] + a(1, 3) * c[3]) * scale;
    b(0, 1) = (-a(0, 1) * c[5] + a(0, 2) * c[4] - a(0, 3) * c[3]) * scale;
    b(0, 2) = (a(3, 1) * s[5] - a(3, 2) * s[4] + a(3, 3) * s[3]) * scale;
    b(0, 3) = (-a(2, 1) * s[5] + a(2, 2) * s[4] - a(2, 3) * s[3]) * scale;
    b(1, 0) = (-a(1, 0) * c[5] + a(1, 2) * c[2] - a(1, 3) * c[1]) * scale;
    b(1, 1) = (a(0, 0) * c[5] - a(0, 2) * c[2] + a(0, 3) * c[1]) * scale;
    b(1, 2) = (-a(3, 0) * s[5] + a(3, 2) * s[2] - a(3, 3) * s[1]) * scale;
    b(1, 3) = (a(2, 0) * s[5] - a(2, 2) * s[2] + a(2, 3) * s[1]) * scale;
    b(2, 0) = (a(1, 0) * c[4] - a(1, 1) * c[2] + a(1, 3) * c[0]) * scale;
    b(2, 1) = (-a(0, 0) * c[4] + a(0, 1) * c[2] - a(0, 3) * c[0]) * scale;
    b(2, 2) = (a(3, 0) * s[4] - a(3, 1) * s[2] + a(3, 3) * s[0]) * scale;
    b(2, 3) = (-a(2, 0) * s[4] + a(2, 1) * s[2] - a(2, 3) * s[0]) * scale;
    b(3, 0) = (-a(1, 0) * c[3] + a(1, 1) * c[1] - a(1, 2) * c[0]) * scale;
    b(3, 1) = (a(0, 0) * c[3] - a(0, 1) * c[1] + a(0, 2) * c[0]) * scale;
    b(3, 2) = (-a(3, 0) * s[3] + a(3, 1) * s[1] - a(3, 2) * s[0]) * scale;
    b(3, 3) = (a(2, 0) * s[3] - a(2, 1) * s[1] + a(2, 2) * s[0]) * scale;
    return out;
}

bool isSingular(f32 det) { return det == 0.0f || std::isnan(det); }

} // namespace

void Matrix4::product(const Matrix4& first, Matrix4& out, const Matrix4& second)
{
    Matrix4 r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            f32 sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += first.m[k * 4 + row] * second.m[c * 4 + k];
            r.m[c * 4 + row] = sum;
        }
    out = r;
}

Matrix4 Matrix4::orthographic(f32 left, f32 top, f32 right, f32 bottom, f32 near, f32 far, bool depthMinusOneToOne)
{
    Matrix4 r;
    for (f32& e : r.m)
        e = 0.0f;
    r.m[0] = 2.0f / (right - left);
    r.m[12] = -(left + right) / (right - left);
    r.m[5] = 2.0f / (top - bottom);
    r.m[13] = -(top + bottom) / (top - bottom);
    r.m[15] = 1.0f;
    if (depthMinusOneToOne) {
        r.m[10] = -2.0f / (far - near);
        r.m[14] = -(near + far) / (far - near);
    } else {
        // Right-handed like the -1..1 form: z = -near maps to 0, z = -far to 1.
        r.m[10] = -1.0f / (far - near);
        r.m[14] = -near / (far - near);
    }
    return r;
}

Matrix4 Matrix4::perspective(f32 fovY, f32 aspect, f32 near, f32 far, bool depthMinusOneToOne)
{
    Matrix4 r;
    for (f32& e : r.m)
        e = 0.0f;
    const f32 f = 1.0f / std::tan(fovY / 2.0f);
    r.m[0] = f / aspect;
    r.m[5] = f;
    if (depthMinusOneToOne) {
        r.m[10] = (near + far) / (near - far);
        r.m[11] = -1.0f;
        r.m[14] = 2.0f * far * near / (near - far);
    } else {
        r.m[10] = far / (far - near);
        r.m[11] = 1.0f;
        r.m[14] = -near * far / (far - near);
    }
    return r;
}

Matrix4 Matrix4::lookAt(const Vector3& eye, const Vector3& target)
{
    const Vector3 f = (target - eye).normalized();
    const Vector3 s = cross(f, kUpVector).normalized();
    const Vector3 u = cross(s, f).normalized();
    Matrix4 r;
    r.m[0] = s.x, r.m[4] = s.y, r.m[8] = s.z;
    r.m[1] = u.x, r.m[5] = u.y, r.m[9] = u.z;
    r.m[2] = -f.x, r.m[6] = -f.y, r.m[10] = -f.z;
    r.m[3] = r.m[7] = r.m[11] = 0.0f;
    r.m[12] = -dot(s, eye);
    r.m[13] = -dot(u, eye);
    r.m[14] = dot(f, eye);
    r.m[15] = 1.0f;
    return r;
}

void Matrix4::multiplyAffine(const Matrix4& o)
{
    Matrix4 r;
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row)
            r.m[c * 4 + row] = m[row] * o.m[c * 4] + m[4 + row] * o.m[c * 4 + 1] + m[8 + row] * o.m[c * 4 + 2];
    for (int row = 0; row < 3; ++row)
        r.m[12 + row] = m[row] * o.m[12] + m[4 + row] * o.m[13] + m[8 + row] * o.m[14] + m[12 + row];
    r.m[3] = r.m[7] = r.m[11] = 0.0f;
    r.m[15] = 1.0f;
    *this = r;
}

void Matrix4::rotate(const Quaternion& q)
{
    const Matrix3 rot = q.toMatrix3();
    f32 columns[12];
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 4; ++row)
            columns[c * 4 + row]
                = m[row] * rot.m[c * 3] + m[4 + row] * rot.m[c * 3 + 1] + m[8 + row] * rot.m[c * 3 + 2];
    for (int i = 0; i < 12; ++i)
        m[i] = columns[i];
}

f32 Matrix4::determinant() const { return computeMinors(*this).det; }

Matrix4 Matrix4::inverse() const
{
    const Minors k = computeMinors(*this);
    if (isSingular(k.det))
        return *this;
    return adjugateTimes(*this, k, 1.0f / k.det);
}

f32 Matrix4::tryInvert()
{
    const Minors k = computeMinors(*this);
    if (!isSingular(k.det))
        *this = adjugateTimes(*this, k, 1.0f / k.det);
    return k.det;
}

void Matrix4::invertLinear()
{
    auto a = [&](int r, int c) { return m[c * 4 + r]; };
    // Cofactors of the 3x3 part, transposed into the adjugate.
    const f32 c00 = a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1);
    const f32 c01 = a(1, 2) * a(2, 0) - a(1, 0) * a(2, 2);
    const f32 c02 = a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0);
    const f32 det = a(0, 0) * c00 + a(0, 1) * c01 + a(0, 2) * c02;
    Matrix4 r;
    if (isSingular(det)) {
        for (int c = 0; c < 3; ++c)
            for (int row = 0; row < 3; ++row)
                r.m[c * 4 + row] = a(row, c);
    } else {
        const f32 inv = 1.0f / det;
        auto b = [&](int row, int c) -> f32& { return r.m[c * 4 + row]; };
        b(0, 0) = c00 * inv;
        b(1, 0) = c01 * inv;
        b(2, 0) = c02 * inv;
        b(0, 1) = (a(0, 2) * a(2, 1) - a(0, 1) * a(2, 2)) * inv;
        b(1, 1) = (a(0, 0) * a(2, 2) - a(0, 2) * a(2, 0)) * inv;
        b(2, 1) = (a(0, 1) * a(2, 0) - a(0, 0) * a(2, 1)) * inv;
        b(0, 2) = (a(0, 1) * a(1, 2) - a(0, 2) * a(1, 1)) * inv;
        b(1, 2) = (a(0, 2) * a(1, 0) - a(0, 0) * a(1, 2)) * inv;
        b(2, 2) = (a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0)) * inv;
    }
    *this = r;
}

Matrix4 Matrix4::orthonormalInverse() const
{
    const Vector3 axes[3] = { Vector3 { m[0], m[1], m[2] }.normalized(), Vector3 { m[4], m[5], m[6] }.normalized(),
        Vector3 { m[8], m[9], m[10] }.normalized() };
    const Vector3 t { m[12], m[13], m[14] };
    Matrix4 r;
    for (int row = 0; row < 3; ++row) {
        r.m[row] = axes[row].x;
        r.m[4 + row] = axes[row].y;
        r.m[8 + row] = axes[row].z;
        r.m[12 + row] = -dot(axes[row], t);
    }
    return r;
}

Vector3 Matrix4::transformPoint(const Vector3& p) const
{
    return { m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
        m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14] };
}

Vector3 Matrix4::transformVector(const Vector3& v) const
{
    return { m[0] * v.x + m[4] * v.y + m[8] * v.z, m[1] * v.x + m[5] * v.y + m[9] * v.z,
        m[2] * v.x + m[6] * v.y + m[10] * v.z };
}

void Matrix4::transform(f32 x, f32 y, f32 z, f32 w, f32 out[4]) const
{
    for (int row = 0; row < 4; ++row)
        out[row] = m[row] * x + m[4 + row] * y + m[8 + row] * z + m[12 + row] * w;
}

bool operator==(const Matrix4& a, const Matrix4& b)
{
    for (int i = 0; i < 16; ++i)
        if (a.m[i] != b.m[i])
            return false;
    return true;
}

std::ostream& operator<<(std::ostream& out, const Matrix4& mat)
{
    const std::ios_base::fmtflags flags = out.flags();
    const std::streamsize precision = out.precision();
    out << std::fixed << std::setprecision(4) << std::right;
    for (int row = 0; row < 4; ++row) {
        out << "[ ";
        for (int c = 0; c < 4; ++c)
            out << std::setw(10) << mat.m[c * 4 + row] << ' ';
        out << "]\n";
    }
    out.flags(flags);
    out.precision(precision);
    return out;
}

} // namespace quern::math
