#include "harmonize/collision/TransformMotionState.h"

#include "harmonize/components/TransformChain.h"

#include <cmath>

namespace harmonize {

using quern::f32;
using quern::math::Matrix4;
using quern::math::Vector3;

Vector3 accumulatedScale(const Transform& transform, quern::entity::World& world)
{
    Vector3 k { 1.0f, 1.0f, 1.0f };
    walkTransformChain(world, transform, quern::entity::EntityHandle {}, [&](const Transform& t) {
        k.x *= t.scale.x;
        k.y *= t.scale.y;
        k.z *= t.scale.z;
        return true;
    });
    return k;
}

void TransformMotionState::getWorldTransform(btTransform& worldTransform) const
{
    Matrix4 m;
    Transform::accumulateWorldMatrix(*m_transform, m, quern::entity::EntityHandle {}, *m_world);
    // The shape carries the scale itself: take it out of the axes, a zero
    // scale flattening its axis rather than dividing by it.
    const Vector3 k = accumulatedScale(*m_transform, *m_world);
    constexpr f32 kTolerance = 1.0f / 8388608.0f; // 2^-23
    if (std::fabs(k.x - 1.0f) > kTolerance || std::fabs(k.y - 1.0f) > kTolerance || std::fabs(k.z - 1.0f) > kTolerance) {
        const f32 inverse[3] = { k.x != 0.0f ? 1.0f / k.x : 0.0f, k.y != 0.0f ? 1.0f / k.y : 0.0f,
            k.z != 0.0f ? 1.0f / k.z : 0.0f };
        for (int column = 0; column < 3; ++column)
            for (int row = 0; row < 3; ++row)
                m.m[column * 4 + row] *= inverse[column];
    }
    // Bullet's basis is row-major; the engine's matrix is column-major.
    worldTransform.getBasis().setValue(m.m[0], m.m[4], m.m[8], m.m[1], m.m[5], m.m[9], m.m[2], m.m[6], m.m[10]);
    worldTransform.setOrigin(btVector3(m.m[12], m.m[13], m.m[14]) - m_inverseOffset.getOrigin());
}

void TransformMotionState::setWorldTransform(const btTransform& worldTransform)
{
    // The offset was turned into world space once and is not turned by the
    // body's rotation: taking it back out as it was put in keeps an entity
    // with a turned, offset shape from creeping a little every step.
    const btVector3 origin = worldTransform.getOrigin() + m_inverseOffset.getOrigin();
    Transform::setWorldPosition(*m_transform, Vector3 { origin.x(), origin.y(), origin.z() }, *m_world);
}

} // namespace harmonize
