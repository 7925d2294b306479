#include "harmonize/extensions/Prefabs.h"

#include "harmonize/extensions/PlayerView.h"

#include "quern/entity/World.h"

namespace harmonize {

using quern::math::Quaternion;

Quaternion inverseOf(const Quaternion& q)
{
    const Quaternion conjugate { -q.x, -q.y, -q.z, q.w };
    const f32 norm = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
    if (norm == 0.0f)
        return conjugate;
    return { conjugate.x / norm, conjugate.y / norm, conjugate.z / norm, conjugate.w / norm };
}

Transform* instantiatePrefabAt(EntityHandle prefab, const Transform& reference, quern::entity::World& world)
{
    Transform* prefabTransform = componentOf<Transform>(world, prefab);
    if (!prefabTransform || !isValidEntity(world, prefab))
        return nullptr;
    const EntityHandle clone = Transform::cloneSubtree(*prefabTransform, world, EntityHandle {});
    if (!isValidEntity(world, clone))
        return nullptr;
    Transform* transform = componentOf<Transform>(world, clone);
    if (!transform)
        return nullptr;
    Transform::setWorldPosition(*transform, worldPositionOf(world, reference), world);
    // The clone has no parent now, but keep the chain's turn out of the
    // result should cloning ever keep one.
    transform->rotation = inverseOf(parentWorldRotationOf(world, *transform))
        * Quaternion::fromYAxisRotation(worldUpAxisOf(world, reference));
    return transform;
}

} // namespace harmonize
