#include "harmonize/extensions/PlayerMotionExt.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/components/PlaneMath.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/statemachines/ButtonStateMachine.h"
#include "harmonize/statemachines/MovementStateMachine.h"

#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cmath>

namespace harmonize {

using quern::entity::World;
using quern::math::Quaternion;
using quern::math::Vector3;

namespace {

Vec2f surfaceUp(const PlayerMovement& movement) { return { movement.liftOffset.x, movement.liftOffset.y }; }

// Dampings and decays are divisors from level data or pushes; one that is not
// above 0 would turn the velocity into infinities or NaN (0 / 0 at rest), so
// it damps nothing.
//
// A speed damped every tick decays towards zero without reaching it. Once it is
// far too small to move anything it becomes 0: left to decay, its squares and
// products would turn into denormals, whose use traps when the game runs with
// floating-point traps (test runs).
constexpr f32 kNegligibleSpeed = 1e-12f;
f32 dampedBy(f32 x, f32 divisor)
{
    if (!(divisor > 0.0f))
        return x;
    return std::fabs(x) < kNegligibleSpeed * std::max(divisor, 1.0f) ? 0.0f : x / divisor;
}
Vec2f dampedBy(Vec2f v, f32 divisor) { return { dampedBy(v.x, divisor), dampedBy(v.y, divisor) }; }

f32 clamp01(f32 value) { return std::clamp(value, 0.0f, 1.0f); }

// Standing on a floor, the ground direction leans a quarter turn towards the
// side it last leaned to; nearly upright it stays.
void leanGroundDirection(PlayerMovement& movement, Vec2f up)
{
    if (dot(up, movement.groundDirection) >= 0.5f)
        return;
    const Vec2f side = dot(leftOf(up), movement.groundDirection) > 0.0f ? leftOf(up) : rightOf(up);
    movement.groundDirection = normalize(up + side);
}

// The walking direction on the surface for the normalised input n: along the
// surface, or along the ground direction's surface when that holds more of
// the input; and up a slope the input points along, along the snap path.
Vec2f walkingDirection(const PlayerMovement& movement, Vec2f n, Vec2f up)
{
    Vec2f r {};
    if (length(n) > movement.inputDeadZone) {
        const Vec2f alongSurface = proj(n, rightOf(up));
        const Vec2f alongGround = proj(n, rightOf(movement.groundDirection));
        const Vec2f w = dot(alongSurface, alongSurface) > dot(alongGround, alongGround)
            ? alongSurface
            : proj(alongGround, rightOf(up));
        r = dot(w, w) > 0.1f ? normalize(w) : Vec2f {};
    }
    if (dot(n, movement.slopeDirection) > 0.9f && dot(up, movement.upDirection) < 0.999f)
        r = normalize(r + movement.snapTangent);
    return r;
}

Vec2f groundedDirection(PlayerMovement& movement, Vec2f move, f32 step)
{
    const Vec2f up = surfaceUp(movement);
    leanGroundDirection(movement, up);
    const Vec2f n = normalize(move);
    if (movement.snapParameter > 0.0f) {
        const f32 climb = dot(movement.snapTangent, movement.snapBoxUp);
        movement.slopeDirection
            = climb < -0.01f ? -movement.snapBoxUp : (climb > 0.01f ? movement.snapBoxUp : Vec2f {});
    }
    const Vec2f r = walkingDirection(movement, n, up);
    const bool walking = movement.movementState[kMachineState] == WALKING;
    if (!isZero(r) && walking)
        movement.groundDirection = normalize(rotateTowards(movement.groundDirection, up, step * movement.turnRate));
    if (walking || dot(up, movement.upDirection) < 0.5f)
        movement.upDirection = normalize(rotateTowards(movement.upDirection, up, step * 2.0f));
    applyGroundVelocity(movement, r);
    movement.jumpAxis = up;
    return r;
}

// Takes away part of w's speed along `axis`, once the speed along it is
// positive; `cap` only shrinks, so the speed along the axis can only fall
// until the brake is disarmed.
void brake(const PlayerMovement& movement, Vec2f axis, f32& cap, Vec2f& w)
{
    Vec2f d = proj(w, axis);
    if (dot(axis, d) <= 0.0f)
        return;
    const f32 speed = length(d);
    cap = std::min(cap, speed);
    if (dot(d, d) > cap * cap)
        d = d * (cap / speed);
    const Vec2f t = normalize(d);
    const f32 k = (dot(axis, -movement.gravityDirection) + 1.0f) * 0.5f;
    w = w - d * (dot(t, axis) * movement.brakeStrength * k);
}

void applyReleaseBrake(PlayerMovement& movement, i32 jumpButton, Vec2f& w)
{
    const Vec2f g = movement.gravityDirection;
    if ((jumpButton == Up || jumpButton == Released) && !movement.brakeArmed) {
        movement.brakeArmed = 1;
        movement.riseCaps = { std::numeric_limits<f32>::infinity(), std::numeric_limits<f32>::infinity() };
        movement.brakeSide = dot(rightOf(g), w) > dot(leftOf(g), w) ? rightOf(g) : leftOf(g);
    }
    if (!movement.brakeArmed)
        return;
    brake(movement, movement.jumpAxis, movement.riseCaps.x, w);
    brake(movement, movement.brakeSide, movement.riseCaps.y, w);
}

// The jump impulse: along the jump axis from standing, tilted towards the
// ground direction as the walking speed nears its limit, and under normal
// gravity bent away from the gravity direction.
Vec2f jumpImpulse(const PlayerMovement& movement)
{
    const Vec2f g = movement.gravityDirection;
    const f32 topWalkSpeed
        = movement.walkDamping > 0.0f ? movement.maxWalkSpeed / movement.walkDamping : movement.maxWalkSpeed;
    // Without a walking speed limit a moving player counts as at full speed and
    // a standing one as at rest, without dividing by the limit.
    const f32 speed = length(movement.velocity);
    const f32 k = topWalkSpeed > 0.0f ? clamp01(speed / topWalkSpeed) : (speed > 0.0f ? 1.0f : 0.0f);
    const Vec2f d = movement.jumpAxis + (movement.groundDirection - movement.jumpAxis) * k;
    const Vec2f m = normalize(d * (1.0f + clamp01(dot(g, d))) - g * (1.0f + clamp01(-dot(g, d))));
    const f32 o = clamp01(-g.y);
    const Vec2f j = d + (m - d) * o;
    const f32 e = (dot(movement.jumpAxis, -g) + 1.0f) * 0.5f;
    return j * (movement.jumpSpeedDown * (1.0f - e) + movement.jumpSpeedUp * e);
}

} // namespace

Vec2f airInputDirection(const PlayerMovement& movement, Vec2f move)
{
    const Vec2f h = proj(move, leftOf(movement.gravityDirection));
    const f32 size = length(h);
    return size >= movement.inputDeadZone && size != 0.0f ? h / size : Vec2f {};
}

void applyDirectionRule(PlayerMovement& movement, Vec2f move, f32 step)
{
    Vec2f r {};
    switch (movement.movementState[kMachineState]) {
    case FALLING:
    case JUMPING:
        movement.groundDirection = movement.upDirection = surfaceUp(movement);
        r = airInputDirection(movement, move);
        break;
    case WAITING:
    case WALKING:
        r = groundedDirection(movement, move, step);
        break;
    default:
        QUERN_FATAL("Unreachable code hit");
    }
    movement.walkTime = isZero(r) ? 0.0f : movement.walkTime + step;
    movement.pushVelocity = dampedBy(movement.pushVelocity, movement.pushDecay);
    movement.stepTimer -= step;
}

void applyGroundVelocity(PlayerMovement& movement, Vec2f direction)
{
    f32 acceleration = movement.walkAcceleration;
    if (movement.walkTime < movement.walkRampTime)
        acceleration = movement.walkAcceleration * movement.walkTime / movement.walkRampTime;
    if (movement.pushCountdown != 0) {
        --movement.pushCountdown;
    } else {
        movement.pushDecay = 1.0f;
        movement.pushVelocity = {};
    }
    movement.brakeArmed = 0;
    Vec2f w = direction * length(movement.velocity + direction * acceleration);
    const f32 speed = length(w);
    if (speed > movement.maxWalkSpeed && speed > 0.0f)
        w = w * (movement.maxWalkSpeed / speed);
    movement.velocity = dampedBy(w, movement.walkDamping);
}

void applyAirVelocity(PlayerMovement& movement, Vec2f move, i32 jumpButton)
{
    const Vec2f g = movement.gravityDirection;
    const Vec2f steered
        = movement.velocity + airInputDirection(movement, move) * (movement.airInputScale * movement.walkAcceleration);
    const Vec2f v = length(proj(steered, rightOf(g))) >= movement.maxAirSpeed ? movement.velocity : steered;
    Vec2f w = v + g * movement.gravityScale;
    applyReleaseBrake(movement, jumpButton, w);
    const f32 speed = length(w);
    if (speed > movement.maxSpeed && speed > 0.0f)
        w = w * (movement.maxSpeed / speed);
    movement.velocity = dampedBy(proj(w, leftOf(g)), movement.airDamping) + proj(w, -g);
}

void applyAirborneCarry(World& world, PlayerMovement& movement, f32 step)
{
    movement.liftOffset = { 0.0f, 1.0f, 0.0f };
    movement.carrierVelocity = proj(movement.carrierVelocity, rightOf(movement.gravityDirection));
    bool fades = true;
    if (isValidEntity(world, movement.recordedCarrier)) {
        const SnapboxCluster* carrier = componentOf<SnapboxCluster>(world, movement.recordedCarrier);
        fades = carrier && carrier->keepsMomentum;
    }
    movement.carryRemaining = fades ? std::max(0.0f, movement.carryRemaining - step) : 0.0f;
}

void recordGroundInput(PlayerMovement& movement, Vec2f move)
{
    if (!isZero(move))
        movement.lastInputDirection = normalize(move);
}

void applyJumpTriggers(PlayerMovement& movement, i32 jumpButton, f32 step)
{
    movement.jumpBuffer = std::max(0.0f, movement.jumpBuffer - step);
    movement.coyoteTime -= step;
    if (!(movement.coyoteTime > 0.0f))
        movement.coyoteTime = 0.0f;
    const bool pressed = jumpButton == Pressed;
    const i32 state = movement.movementState[kMachineState];
    if (isAirborne(state) && pressed && !movement.jumpedThisTick)
        movement.jumpBuffer = movement.jumpGraceTime;
    const bool buffered = isGrounded(state) && movement.jumpBuffer > 0.0f;
    const bool coyote = state == FALLING && movement.coyoteTime > 0.0f && pressed;
    if (buffered || coyote) {
        jump(movement.movementState);
        movement.jumpBuffer = 0.0f;
        movement.coyoteTime = 0.0f;
    }
    movement.jumpedThisTick = 0;
}

void startJump(World& world, const PlayerView& player, bool fromGround, PlatformServices* platform)
{
    PlayerMovement& movement = *player.movement;
    Transform::setWorldPosition(
        *player.transform, worldPositionOf(world, *player.transform) + movement.liftOffset, world);
    const f32 kept
        = fromGround ? 1.0f - std::fabs(dot(normalize(movement.velocity), -movement.gravityDirection)) : 0.0f;
    movement.velocity = movement.velocity * kept + jumpImpulse(movement);
    movement.brakeArmed = 0;
    movement.jumpedThisTick = 1;
    movement.jumpBuffer = 0.0f;
    PlayerProfile::addToStat(platform, kStatJumps, 1);
}

void land(World& world, PlayerMovement& movement)
{
    movement.velocity = { movement.velocity.x, 0.0f };
    const Vec2f up = groundUpOf(world, movement);
    movement.groundDirection = movement.upDirection = movement.jumpAxis = up;
}

void turnBodyTowardsGravity(World& world, const PlayerView& player)
{
    const Vector3 axis = worldUpAxisOf(world, *player.transform);
    turnBodyUpTo(world, player,
        rotateTowards(planeOf(axis), -player.movement->gravityDirection, player.movement->maxTurnAngle));
}

void handOverVelocity(const PlayerView& player)
{
    const PlayerMovement& movement = *player.movement;
    // A carry time not above 0 (possible in level data) means no fade at all;
    // dividing by it would hand the physics a NaN velocity.
    const Vec2f carry = movement.carryTime > 0.0f
        ? movement.carrierVelocity * (movement.carryRemaining / movement.carryTime)
        : Vec2f {};
    const Vec2f v = movement.velocity + movement.pushVelocity + carry;
    player.body->velocity = { v.x, v.y, 0.0f };
}

} // namespace harmonize
