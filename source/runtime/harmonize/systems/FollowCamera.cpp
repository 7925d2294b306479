// The follow camera: keeps the player inside a dead zone around a focus
// point, looks ahead in the direction the player faces or is carried, and
// approaches the resulting target point with a smoothing time that shrinks as
// the player moves faster.
#include "harmonize/systems/GameCameraSystem.h"

#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/statemachines/StateMachine.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/InputSystem.h"

#include "quern/entity/World.h"

#include <algorithm>
#include <cmath>

namespace harmonize {

using quern::i32;
using quern::entity::World;
using quern::math::Quaternion;
using quern::math::Vector3;

namespace {

enum LookDirection : i32 { kLookNone = 0, kLookLeft = 1, kLookRight = 2, kLookUp = 3, kLookDown = 4 };

// Moves `focus` just far enough that `position` lies within `half` of it.
bool keepInDeadZone(f32& focus, f32 position, f32 half)
{
    if (position > focus + half) {
        focus = position - half;
        return true;
    }
    if (position < focus - half) {
        focus = position + half;
        return true;
    }
    return false;
}

// Towards 0 by `amount`, stopping at 0 instead of changing sign.
void decayTowardsZero(f32& value, f32 amount)
{
    if (value == 0.0f)
        return;
    const f32 next = value > 0.0f ? value - amount : value + amount;
    value = (next > 0.0f) == (value > 0.0f) && next != 0.0f ? next : 0.0f;
}

// Where `speed` lies in [start, end], from 0 to 1. A range of no width is a
// step at its start rather than a division by nothing.
f32 speedFraction(f32 speed, f32 start, f32 end)
{
    const f32 width = end - start;
    if (!(width > 0.0f))
        return speed >= start ? 1.0f : 0.0f;
    const f32 f = (speed - start) / width;
    return f > 0.0f ? std::min(f, 1.0f) : 0.0f;
}

// The direction a carrier moves the player in, when it clearly has one.
i32 carriedDirection(const PlayerMovement& movement)
{
    const f32 share = movement.carryTime != 0.0f ? movement.carryRemaining / movement.carryTime : 0.0f;
    f32 wx = movement.carrierVelocity.x * share;
    f32 wy = movement.carrierVelocity.y * share;
    const f32 length = std::sqrt(wx * wx + wy * wy);
    if (!(length > 0.01f))
        return kLookNone;
    wx /= length;
    wy /= length;
    if (wx > 0.7f)
        return kLookRight;
    if (-wx > 0.7f)
        return kLookLeft;
    if (wy > 0.7f)
        return kLookUp;
    if (-wy > 0.7f)
        return kLookDown;
    return kLookNone;
}

// Facing 0 is free: the motion itself picks a direction when it is along
// one axis only.
i32 directionOfMotion(const PlayerMovement& movement, i32 previous)
{
    const f32 vx = movement.velocity.x + movement.pushVelocity.x;
    const f32 vy = movement.velocity.y + movement.pushVelocity.y;
    const int bits = (vx > 0.5f ? 8 : 0) | (-vx > 0.5f ? 4 : 0) | (-vy > 0.5f ? 2 : 0) | (vy > 0.5f ? 1 : 0);
    switch (bits) {
    case 1: return kLookUp;
    case 2: return kLookDown;
    case 4: return kLookLeft;
    case 8: return kLookRight;
    default: return previous;
    }
}

} // namespace

void GameCameraSystem::initFollow(const FollowCamera& camera, World& world)
{
    const PlayerView& player = m_state.player;
    CameraFollow& follow = *camera.follow;
    camera.transform->position = player.transform->position;
    if (!isSomeEntity(follow.target)) {
        follow.target = player.entity;
        follow.stateEntity = player.entity;
        follow.targetPoint = worldPositionOf(world, *player.transform);
    }
    follow.focusMoved = 0;
    follow.lookDirection = kLookRight;
    follow.lastPosition = follow.targetPoint;
    follow.focus = { follow.targetPoint.x, follow.targetPoint.y };
    follow.lastPosition.z = worldPositionOf(world, *camera.transform).z;
}

void GameCameraSystem::followStep(World& world, const FollowCamera& camera)
{
    CameraFollow& r = *camera.follow;
    const f32 k = tickStep(world);
    const f32 halfX = r.deadZone.x * r.deadZoneFactor;
    const f32 halfY = r.deadZone.y * r.deadZoneFactor;

    // Walking widens the dead zone, the air narrows it.
    const PlayerMovement* tracked
        = isAliveEntity(world, r.stateEntity) ? componentOf<PlayerMovement>(world, r.stateEntity) : nullptr;
    if (tracked) {
        const i32 state = tracked->movementState[kMachineState];
        if (state == WALKING)
            r.deadZoneFactor += k * r.deadZoneGrowth;
        else if (state == FALLING || state == JUMPING)
            r.deadZoneFactor -= k * r.deadZoneShrink;
        r.deadZoneFactor = std::min(std::max(r.deadZoneFactor, r.deadZoneMin), r.deadZoneMax);
    }

    const Vector3 p = worldPositionOf(world, *m_state.player.transform);
    const bool movedX = keepInDeadZone(r.focus.x, p.x, halfX);
    const bool movedY = keepInDeadZone(r.focus.y, p.y, halfY);
    r.focusMoved = movedX || movedY ? 1 : 0;
    r.lookDirection = chooseDirection(world, r);

    if (r.focusMoved) {
        const f32 distance = k * r.lookOffsetSpeed;
        Vec2f& offset = r.lookOffset;
        switch (r.lookDirection) {
        case kLookLeft:
            if (offset.x > -r.maxLookOffset.x)
                offset.x -= distance;
            decayTowardsZero(offset.y, distance);
            break;
        case kLookRight:
            if (offset.x < r.maxLookOffset.x)
                offset.x += distance;
            decayTowardsZero(offset.y, distance);
            break;
        case kLookUp:
            if (offset.y < r.maxLookOffset.y)
                offset.y += distance;
            decayTowardsZero(offset.x, distance);
            break;
        case kLookDown:
            if (offset.y > -r.maxLookOffset.y)
                offset.y -= distance;
            decayTowardsZero(offset.x, distance);
            break;
        default: break;
        }
    }
    r.targetPoint = { r.focus.x + r.lookOffset.x, r.focus.y + r.lookOffset.y, 0.0f };
    moveFollowCamera(world, camera, k);
    camera.transform->position.z = r.cameraZ;
    camera.lens->fieldOfView = r.fieldOfView;
}

i32 GameCameraSystem::chooseDirection(World& world, const CameraFollow& follow) const
{
    const PlayerMovement& movement = *m_state.player.movement;
    const i32 previous = follow.lookDirection;
    if (isAliveEntity(world, movement.cluster) && enabledComponentOf<MovingPlatform>(world, movement.cluster)) {
        const i32 carried = carriedDirection(movement);
        if (carried != kLookNone)
            return carried;
    }
    const MoveAxes axes = m_context->input ? m_context->input->move() : MoveAxes {};
    const f32 threshold = follow.lookThreshold;
    switch (movement.facingState[kMachineState]) {
    case 0: return directionOfMotion(movement, previous);
    case 12:
    case 76:
    case 140: return axes.y > threshold ? kLookUp : (axes.y < -threshold ? kLookDown : previous);
    case 17:
    case 18: return axes.x < -threshold ? kLookLeft : previous;
    case 33:
    case 34: return axes.x > threshold ? kLookRight : previous;
    default: return previous == kLookNone ? kLookRight : previous;
    }
}

void GameCameraSystem::moveFollowCamera(World& world, const FollowCamera& camera, f32 k)
{
    CameraFollow& r = *camera.follow;
    Transform& transform = *camera.transform;
    // The angle is in radians already; the degree factor only scales the
    // height shift, which the levels' framing is tuned to.
    const Quaternion& q = transform.rotation;
    const f32 e = eulerFromQuaternion(Quaternion(-q.x, -q.y, -q.z, q.w)).x;
    const f32 tilt = std::atan(e * 3.1415927f * 2.0f * (1.0f / 360.0f));
    const f32 z0 = transform.position.z;
    const Vector3 current = worldPositionOf(world, transform);
    if (k == 0.0f)
        return;

    const PlayerMovement& movement = *m_state.player.movement;
    const f32 speed = std::fabs((movement.velocity.x + movement.pushVelocity.x) * movement.gravityDirection.x
        + (movement.velocity.y + movement.pushVelocity.y) * movement.gravityDirection.y);
    const f32 g = ease(1.0f - speedFraction(speed, r.speedRangeStart, r.speedRangeEnd), r.easing);
    m_state.smoothTime
        = DampedApproach(m_state.smoothTime, g * r.smoothTime, m_state.smoothVelocity, r.smoothTimeApproach, k);
    Vector3 velocity = r.approachVelocity;
    const Vector3 p = approachVector(current, r.targetPoint, velocity, m_state.smoothTime, k);
    r.approachVelocity = velocity;
    r.lastPosition = p;
    Transform::setWorldPosition(transform, { p.x, p.y - tilt * z0, p.z }, world);
}

} // namespace harmonize
