#include "quern/math/Frustum.h"

#include "quern/platform/ErrorReporting.h"

#include <cmath>

namespace quern::math {

namespace {

Plane planeFromRow(const f32 row[4])
{
    Plane p { row[0], row[1], row[2], 1.0f, row[3] };
    const f32 len = p.normal().length();
    if (len != 0.0f) {
        p.nx /= len;
        p.ny /= len;
        p.nz /= len;
        p.d /= len;
    }
    return p;
}

// The point shared by three planes, found as the line of the first two met by
// the third. False when two of them are parallel. The line runs both ways: a
// corner may lie on either side of the point where it is anchored.
bool intersect(const Plane& a, const Plane& b, const Plane& c, Vector3& out)
{
    const Vector3 na = a.normal(), nb = b.normal(), nc = c.normal();
    const f32 ab = dot(na, nb);
    const f32 det = na.length() * nb.length() - ab * ab;
    if (std::fabs(det) < 0x1p-52f)
        return false;
    const f32 aa = dot(na, na), bb = dot(nb, nb);
    const f32 ca = (-a.d * bb + b.d * ab) / det;
    const f32 cb = (-b.d * aa + a.d * ab) / det;
    const Vector3 onLine = na * ca + nb * cb;
    const Vector3 direction = cross(na, nb);
    const f32 facing = dot(nc, direction);
    if (facing == 0.0f)
        return false;
    const f32 t = -c.distance(onLine) / facing;
    out = onLine + direction * t;
    return true;
}

} // namespace

Frustum::Frustum(const Matrix4& view, const Matrix4& projection)
    : m_view(view)
    , m_projection(projection)
{
    Matrix4 combined;
    Matrix4::product(projection, combined, view);
    f32 rows[4][4];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            rows[r][c] = combined.m[c * 4 + r];
    auto combine = [&](int r, f32 sign) {
        const f32 row[4] = { rows[3][0] + sign * rows[r][0], rows[3][1] + sign * rows[r][1],
            rows[3][2] + sign * rows[r][2], rows[3][3] + sign * rows[r][3] };
        return planeFromRow(row);
    };
    m_planes[0] = combine(2, 1.0f); // near
    m_planes[1] = combine(2, -1.0f); // far
    m_planes[2] = combine(0, 1.0f); // left
    m_planes[3] = combine(0, -1.0f); // right
    m_planes[4] = combine(1, -1.0f); // top
    m_planes[5] = combine(1, 1.0f); // bottom
}

const Plane& Frustum::getPlane(Side side) const
{
    switch (side) {
    case Side::Near:
    case Side::Far:
    case Side::Left:
    case Side::Right:
    case Side::Top:
    case Side::Bottom:
        return m_planes[static_cast<i32>(side)];
    }
    QUERN_FATAL_INVALID_ENUM("Frustum::Side");
}

Frustum::TestResult Frustum::testSphere(const Vector3& centre, f32 radius) const
{
    int inside = 0;
    for (const Plane& plane : m_planes) {
        const f32 e = plane.distance(centre);
        if (e <= -radius)
            return TestResult::Outside;
        if (e > radius)
            ++inside;
    }
    return inside == 6 ? TestResult::Inside : TestResult::Intersecting;
}

Frustum::TestResult Frustum::testAABB(const Vector3& min, const Vector3& max) const
{
    int insideAll = 0;
    for (const Plane& plane : m_planes) {
        int cornersIn = 0;
        for (int i = 0; i < 8; ++i) {
            const Vector3 corner { (i & 1) ? max.x : min.x, (i & 2) ? max.y : min.y, (i & 4) ? max.z : min.z };
            if (plane.distance(corner) > 0.0f)
                ++cornersIn;
        }
        if (cornersIn == 0)
            return TestResult::Outside;
        if (cornersIn == 8)
            ++insideAll;
    }
    return insideAll == 6 ? TestResult::Inside : TestResult::Intersecting;
}

AABB Frustum::computeBounds() const
{
    AABB box;
    for (int depth = 0; depth < 2; ++depth)
        for (int horizontal = 2; horizontal < 4; ++horizontal)
            for (int vertical = 4; vertical < 6; ++vertical) {
                Vector3 corner;
                if (!intersect(m_planes[depth], m_planes[horizontal], m_planes[vertical], corner))
                    corner = kZeroVector;
                box.extend(corner);
            }
    return box;
}

} // namespace quern::math
