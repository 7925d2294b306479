#include "harmonize/extensions/PlayerView.h"

#include "harmonize/extensions/Prefabs.h"

#include "quern/entity/World.h"

#include <cmath>
#include <cstring>

namespace harmonize {

using quern::entity::World;
using quern::math::Quaternion;
using quern::math::Vector3;

PlayerView playerViewAt(World& world, u64 index)
{
    PlayerView view;
    view.entity = EntityHandle::make(static_cast<u16>(index), world.getGeneration(index));
    view.transform = static_cast<Transform*>(world.getComponent(index, Transform::kType));
    view.state = static_cast<PlayerState*>(world.getComponent(index, PlayerState::kType));
    view.movement = static_cast<PlayerMovement*>(world.getComponent(index, PlayerMovement::kType));
    view.body = static_cast<RigidBody*>(world.getComponent(index, RigidBody::kType));
    view.race = static_cast<Race*>(world.getComponent(index, Race::kType));
    view.collider = static_cast<Collider*>(world.getComponent(index, Collider::kType));
    return view;
}

bool findPlayerView(World& world, EntityHandle player, PlayerView& view)
{
    if (!isSomeEntity(player) || player.index() >= world.getSlotCount()
        || !world.getComponentMask(player.index()).containsAll(kPlayerMask))
        return false;
    view = playerViewAt(world, player.index());
    view.entity = player;
    return true;
}

void clearClusterRecord(PlayerMovement& movement)
{
    std::memset(movement.snapPath, 0, sizeof(movement.snapPath));
    movement.clusterUp = {};
    movement.snapPosition = {};
    movement.snapBoxA = EntityHandle {};
    movement.snapBoxB = EntityHandle {};
    movement.snapParameter = 0.0f;
    movement.cluster = EntityHandle {};
    for (EntityHandle& box : movement.clusterBoxes)
        box = EntityHandle {};
    movement.clusterBoxCount = 0;
}

bool isHiddenPlatform(World& world, EntityHandle entity)
{
    if (entity.index() >= world.getSlotCount() || !world.getComponentMask(entity.index()).containsAll(kSnapboxClusterMask))
        return false;
    return componentOf<Collider>(world, entity)->trigger != 0;
}

bool isStandingOnCluster(World& world, const PlayerMovement& movement)
{
    return isSomeEntity(movement.cluster) && movement.clusterBoxCount != 0 && !isHiddenPlatform(world, movement.cluster);
}

Vec2f groundUpOf(World& world, const PlayerMovement& movement)
{
    return isStandingOnCluster(world, movement) ? movement.clusterUp : Vec2f { 0.0f, 1.0f };
}

bool hasComponents(World& world, EntityHandle entity, const ComponentMask& mask)
{
    return isSomeEntity(entity) && entity.index() < world.getSlotCount()
        && world.getComponentMask(entity.index()).containsAll(mask);
}

Quaternion planeTurnUpTo(Vec2f up)
{
    // Turning +Y about +Z by a gives (-sin a, cos a): a is the angle from +Y
    // to `up`.
    const f32 angle = std::atan2(up.y, up.x) - std::atan2(1.0f, 0.0f);
    return Quaternion::fromAxisAngle(angle, Vector3 { 0.0f, 0.0f, 1.0f });
}

void turnBodyUpTo(World& world, const PlayerView& player, Vec2f up)
{
    player.transform->rotation = inverseOf(parentWorldRotationOf(world, *player.transform)) * planeTurnUpTo(up);
}

bool isBoxBlocked(World& world, EntityHandle box)
{
    const Snapbox* snapbox = componentOf<Snapbox>(world, box);
    const Transform* boxTransform = componentOf<Transform>(world, box);
    if (!snapbox || !boxTransform || !isValidEntity(world, snapbox->blocker))
        return false;
    const Collider* blocker = componentOf<Collider>(world, snapbox->blocker);
    const Transform* blockerTransform = componentOf<Transform>(world, snapbox->blocker);
    if (!blocker || !blockerTransform || isHiddenPlatform(world, snapbox->blocker))
        return false;
    const Vector3 d = worldPositionOf(world, *boxTransform) - worldPositionOf(world, *blockerTransform);
    return std::fabs(d.x) <= blocker->halfExtents.x && std::fabs(d.y) <= blocker->halfExtents.y
        && std::fabs(d.z) <= blocker->halfExtents.z;
}

Vector3 worldPositionOf(World& world, const Transform& transform)
{
    return Transform::localToWorld(transform, Vector3 {}, world);
}

bool worldPositionOf(World& world, EntityHandle entity, Vector3& position)
{
    const Transform* transform = componentOf<Transform>(world, entity);
    if (!transform)
        return false;
    position = worldPositionOf(world, *transform);
    return true;
}

Quaternion worldRotationOf(World& world, const Transform& transform)
{
    Quaternion q;
    Transform::accumulateWorldRotation(transform, q, EntityHandle {}, world);
    return q;
}

Quaternion parentWorldRotationOf(World& world, const Transform& transform)
{
    const Transform* parent = componentOf<Transform>(world, transform.parent);
    return parent && isSomeEntity(transform.parent) ? worldRotationOf(world, *parent) : Quaternion {};
}

Vector3 worldUpAxisOf(World& world, const Transform& transform)
{
    const quern::math::Matrix3 r = worldRotationOf(world, transform).toMatrix3();
    return { r.m[3], r.m[4], r.m[5] };
}

} // namespace harmonize
