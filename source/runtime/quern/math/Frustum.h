#pragma once
// The six clip planes of a view and projection, for culling spheres and boxes.

#include "quern/math/AABB.h"
#include "quern/math/Matrix4.h"

namespace quern::math {

// n . p + d > 0 on the inner side; |n| = 1. The fourth field is always 1.
struct Plane {
    f32 nx = 0.0f;
    f32 ny = 0.0f;
    f32 nz = 0.0f;
    f32 one = 1.0f;
    f32 d = 0.0f;

    constexpr Vector3 normal() const { return { nx, ny, nz }; }
    constexpr f32 distance(const Vector3& p) const { return nx * p.x + ny * p.y + nz * p.z + d; }
};

class Frustum {
public:
    enum class Side : i32 { Near = 0, Far = 1, Left = 2, Right = 3, Top = 4, Bottom = 5 };
    enum class TestResult : i32 { Outside = 0, Inside = 1, Intersecting = 2 };

    Frustum() = default;
    Frustum(const Matrix4& view, const Matrix4& projection);

    // Fatal for a value outside Side.
    const Plane& getPlane(Side side) const;
    const Matrix4& getView() const { return m_view; }
    const Matrix4& getProjection() const { return m_projection; }

    TestResult testSphere(const Vector3& centre, f32 radius) const;
    TestResult testAABB(const Vector3& min, const Vector3& max) const;

    // The box around the eight corners. A corner whose planes do not meet in a
    // point contributes the origin.
    AABB computeBounds() const;

private:
    Plane m_planes[6];
    Matrix4 m_view;
    Matrix4 m_projection;
};

} // namespace quern::math
