#include "quern/math/Ray.h"

namespace quern::math {

namespace {

Vector3 unproject(const Matrix4& inverse, f32 x, f32 y, f32 z, f32& w)
{
    f32 p[4];
    inverse.transform(x, y, z, 1.0f, p);
    w = p[3];
    if (w != 0.0f)
        return { p[0] / w, p[1] / w, p[2] / w };
    return { p[0], p[1], p[2] };
}

} // namespace

Ray Ray::fromScreenPoint(f32 x, f32 y, const Matrix4& view, const Matrix4& projection, f32 width, f32 height)
{
    const Matrix4 inv = (projection * view).inverse();
    const f32 ndcX = 2.0f * x / width - 1.0f;
    const f32 ndcY = 1.0f - 2.0f * y / height;
    Ray ray;
    const Vector3 nearPoint = unproject(inv, ndcX, ndcY, -1.0f, ray.originW);
    const Vector3 farPoint = unproject(inv, ndcX, ndcY, 1.0f, ray.directionW);
    ray.origin = nearPoint;
    ray.direction = (farPoint - nearPoint).normalized();
    return ray;
}

Ray Ray::toLocalSpace(const Matrix4& matrix) const
{
    const Matrix4 inv = matrix.inverse();
    Ray ray;
    ray.origin = inv.transformPoint(origin);
    ray.direction = inv.transformVector(direction);
    ray.originW = 1.0f;
    ray.directionW = 1.0f;
    return ray;
}

} // namespace quern::math
