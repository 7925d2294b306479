#include "harmonize/extensions/PlayerClusterExt.h"

#include "harmonize/components/PlaneMath.h"
#include "harmonize/extensions/AnimationHandlerExt.h"
#include "harmonize/extensions/DeathTriggerExt.h"
#include "harmonize/extensions/PlayerMotionExt.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/extensions/SnapboxClusterExt.h"
#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/systems/AppContext.h"

#include "quern/entity/World.h"
#include "quern/platform/AssertDebug.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace harmonize {

using quern::entity::World;
using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Vector3;

namespace {

// The entity an event names, or its transform parent when it is the player's
// "playerGRP" group node.
EntityHandle contactEntity(World& world, u32 entity)
{
    const EntityHandle handle { entity };
    if (handle.index() >= world.getSlotCount())
        return handle;
    const char* name = world.getEntityName(handle);
    if (name && std::strcmp(name, "playerGRP") == 0)
        if (const Transform* transform = componentOf<Transform>(world, handle))
            return transform->parent;
    return handle;
}

template <class Record> bool hasEnabled(World& world, EntityHandle entity)
{
    return enabledComponentOf<Record>(world, entity) != nullptr;
}

// A cluster the player can stand on: solid, with at least one box that is
// not blocked.
bool isStandable(World& world, EntityHandle cluster)
{
    if (componentOf<Collider>(world, cluster)->trigger != 0)
        return false;
    const SnapboxCluster& record = *componentOf<SnapboxCluster>(world, cluster);
    const u64 count = boxCountOf(record);
    for (u64 i = 0; i < count; ++i)
        if (!isBoxBlocked(world, record.boxes[i]))
            return true;
    return false;
}

Matrix4 worldMatrixOf(World& world, const Transform& transform)
{
    Matrix4 m;
    Transform::accumulateWorldMatrix(transform, m, EntityHandle {}, world);
    return m;
}

// Makes `cluster` the player's cluster (nothing when it already is, when it
// is no cluster, or when it is a platform hidden as a trigger) and aligns the
// player to it. False when no snap pair could be found: the player then left
// the cluster and falls.
bool setCluster(World& world, const PlayerView& player, EntityHandle cluster)
{
    PlayerMovement& movement = *player.movement;
    if (movement.cluster == cluster || !hasComponents(world, cluster, kClusterContactMask))
        return true;
    if (hasEnabled<Platform>(world, cluster) && componentOf<Collider>(world, cluster)->trigger != 0)
        return true;
    const SnapboxCluster& record = *componentOf<SnapboxCluster>(world, cluster);
    clearClusterRecord(movement);
    std::memcpy(static_cast<void*>(movement.clusterBoxes), record.boxes, sizeof(movement.clusterBoxes));
    movement.clusterBoxCount = static_cast<i32>(boxCountOf(record));
    movement.cluster = cluster;
    if (isStandingOnCluster(world, movement))
        return alignToCluster(world, player);
    return true;
}

} // namespace

void onPlayerContact(World& world, AppContext& context, const PairEvent& pair, int kind)
{
    const EntityHandle a = contactEntity(world, pair.entityA);
    const EntityHandle b = contactEntity(world, pair.entityB);
    EntityHandle playerEntity;
    EntityHandle other;
    if (hasComponents(world, b, kPlayerMask)) {
        playerEntity = b;
        other = a;
    } else if (hasComponents(world, a, kPlayerMask)) {
        playerEntity = a;
        other = b;
    } else {
        return;
    }
    if (other.index() >= world.getSlotCount())
        return;
    PlayerView player;
    findPlayerView(world, playerEntity, player);
    PlayerMovement& movement = *player.movement;

    if (world.getComponentMask(other.index()).test(kPassThroughMarkerType)
        && world.getEnabledMask(other.index()).test(kPassThroughMarkerType))
        return;
    // The player passes through platforms of the opposite race, unless they
    // are detonators.
    if (hasEnabled<Platform>(world, other)) {
        const Race* race = componentOf<Race>(world, other);
        if (race && racesOppose(player.race->value, race->value) && !componentOf<Detonator>(world, other))
            return;
    }
    if (hasEnabled<DeathTrigger>(world, other) || hasEnabled<SavePointTrigger>(world, other))
        movement.touchingTrigger = kind == kContactBegins ? other : EntityHandle {};
    if (kind == kContactEnds)
        return;

    if (hasEnabled<SnapboxCluster>(world, other)) {
        const SnapboxCluster& record = *componentOf<SnapboxCluster>(world, other);
        if (isSomeEntity(record.wobbleTarget) && !isSomeEntity(movement.cluster) && context.coroutine)
            startClusterWobble(*context.coroutine, other, playerEntity);
    }

    if (!isValidEntity(world, other) || !hasComponents(world, other, kClusterContactMask) || !isStandable(world, other))
        return;
    // Crushed between two clusters, one of them moving: only by a cluster
    // above the body, within about 41 degrees of its up axis.
    if (isSomeEntity(movement.cluster) && movement.cluster != other
        && (hasEnabled<MovingPlatform>(world, other) || hasEnabled<MovingPlatform>(world, movement.cluster))) {
        const Vec2f toOther = planeOf(worldPositionOf(world, *componentOf<Transform>(world, other)))
            - planeOf(worldPositionOf(world, *player.transform));
        if (dot(normalize(toOther), planeOf(worldUpAxisOf(world, *player.transform))) > 0.75f && context.coroutine)
            killPlayer(world, playerEntity, *context.coroutine);
    }
    // A landing that found no snap pair left the cluster again: no settling.
    if (!setCluster(world, player, other))
        return;
    settleFromAir(movement);
}

void followCluster(World& world, const PlayerView& player)
{
    PlayerMovement& movement = *player.movement;
    if (isSomeEntity(movement.cluster) && !isActiveEntity(world, movement.cluster)) {
        QUERN_ASSERT(quern::debug::kAssertWarning, false, "player cluster set but not active.");
        fall(movement.movementState);
        return;
    }
    if (!isStandingOnCluster(world, movement)) {
        turnBodyTowardsGravity(world, player);
        return;
    }
    if (movement.snapParameter > 0.55f) {
        // Past the middle of the path the second box's cluster takes over.
        // Only the box's index counts: its generation is not checked.
        if (const Snapbox* box = componentOf<Snapbox>(world, movement.snapBoxB)) {
            const Snapbox* next = box;
            if (isSomeEntity(box->linkedBox))
                if (const Snapbox* linked = componentOf<Snapbox>(world, box->linkedBox))
                    next = linked;
            if (hasComponents(world, next->cluster, kClusterContactMask) && !setCluster(world, player, next->cluster))
                return;
        }
    }
    if (isStandingOnCluster(world, movement))
        alignToCluster(world, player);
}

void correctBodyOnCluster(World& world, const PlayerView& player)
{
    PlayerMovement& movement = *player.movement;
    const Vec2f position = planeOf(worldPositionOf(world, *player.transform));
    const Vec2f offset = position - movement.snapPosition;
    if (dot(offset, offset) > 0.01f)
        Transform::setWorldPosition(
            *player.transform, Vector3 { movement.snapPosition.x, movement.snapPosition.y, 0.0f }, world);
    turnBodyUpTo(world, player, movement.clusterUp);
    const i32 race = player.race->value;
    if (Transform* model = componentOf<Transform>(world, AnimationHandler::activeModel(*player.state, race)))
        model->position.y
            = 0.45f * dot(movement.clusterUp, movement.snapPath[2]) + AnimationHandler::restHeight(world, *player.state, race);
}

void applyCarrier(World& world, const PlayerView& player, f32 step)
{
    PlayerMovement& movement = *player.movement;
    const Transform* carrier = hasComponents(world, movement.cluster, kClusterContactMask)
        ? componentOf<Transform>(world, movement.cluster)
        : nullptr;
    bool moved = false;
    Matrix4 carrierMatrix;
    if (carrier && movement.recordedCarrier == movement.cluster) {
        carrierMatrix = worldMatrixOf(world, *carrier);
        // Compared as floats: -0 equals 0.
        for (int i = 0; i < 16; ++i)
            moved = moved || carrierMatrix.m[i] != movement.carrierMatrix[i];
    }
    if (moved) {
        const Vec2f p = planeOf(worldPositionOf(world, *player.transform));
        Matrix4 inverse;
        std::memcpy(inverse.m, movement.carrierInverse, sizeof(inverse.m));
        const Vector3 q = inverse.transformPoint(Vector3 { p.x, p.y, 0.0f });
        const Vec2f displacement = planeOf(carrierMatrix.transformPoint(q)) - p;
        movement.carrierVelocity = displacement / step;
        const Quaternion recorded { movement.carrierInverseRotation[0], movement.carrierInverseRotation[1],
            movement.carrierInverseRotation[2], movement.carrierInverseRotation[3] };
        Vector3 lift = (recorded * worldRotationOf(world, *carrier)).toMatrix3()
            * Vector3 { movement.liftOffset.x, movement.liftOffset.y, 0.0f };
        lift.z = 0.0f;
        movement.liftOffset = lift;
        movement.carryRemaining = movement.carryTime;
    } else {
        movement.carrierVelocity = {};
    }
    if (isStandingOnCluster(world, movement) && alignToCluster(world, player))
        correctBodyOnCluster(world, player);
}

void recordCarrier(World& world, PlayerMovement& movement)
{
    const Transform* carrier = hasComponents(world, movement.cluster, kClusterContactMask)
        ? componentOf<Transform>(world, movement.cluster)
        : nullptr;
    if (!carrier)
        return;
    const Matrix4 m = worldMatrixOf(world, *carrier);
    std::memcpy(movement.carrierMatrix, m.m, sizeof(movement.carrierMatrix));
    const Matrix4 inverse = m.determinant() == 0.0f ? m : m.inverse();
    std::memcpy(movement.carrierInverse, inverse.m, sizeof(movement.carrierInverse));
    const Quaternion r = inverseOf(worldRotationOf(world, *carrier));
    movement.carrierInverseRotation[0] = r.x;
    movement.carrierInverseRotation[1] = r.y;
    movement.carrierInverseRotation[2] = r.z;
    movement.carrierInverseRotation[3] = r.w;
    movement.recordedCarrier = movement.cluster;
}

} // namespace harmonize
