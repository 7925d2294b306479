#include "harmonize/statemachines/MovementStateMachine.h"

#include "harmonize/components/PlaneMath.h"

#include "quern/debug/Log.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cmath>

namespace harmonize {

const char* movementStateName(i32 state)
{
    switch (state) {
    case WAITING:
        return "WAITING";
    case WALKING:
        return "WALKING";
    case FALLING:
        return "FALLING";
    case JUMPING:
        return "JUMPING";
    default:
        return "<Invalid MovementState>";
    }
}

void fall(StateMachine& machine)
{
    switch (machine[kMachineState]) {
    case WAITING:
    case WALKING:
        transition(machine, FALLING);
        return;
    case FALLING:
    case JUMPING:
        return;
    default:
        QUERN_FATAL("Unreachable code hit");
    }
}

void jump(StateMachine& machine)
{
    switch (machine[kMachineState]) {
    case WAITING:
    case WALKING:
    case FALLING:
        transition(machine, JUMPING);
        return;
    case JUMPING:
        QUERN_LOG(2) << "Jump while jumping" << std::endl;
        return;
    default:
        QUERN_FATAL("Unreachable code hit");
    }
}

namespace {

// The player moves along the ground: not airborne, and the speed along the
// cluster's surface (across clusterUp) is above 0.0001. Off a cluster
// clusterUp is zero and the test is false.
bool movesAlongGround(const PlayerMovement& movement)
{
    if (isAirborne(movement.movementState[kMachineState]))
        return false;
    const Vec2f u = movement.clusterUp;
    return std::fabs(dot(movement.velocity + movement.pushVelocity, rightOf(u))) > 0.0001f;
}

void settleFrom(PlayerMovement& movement, i32 first, i32 second)
{
    const i32 state = movement.movementState[kMachineState];
    if (state < WAITING || state > JUMPING)
        QUERN_FATAL("Unreachable code hit");
    if (state != first && state != second)
        return;
    transition(movement.movementState, movesAlongGround(movement) ? WALKING : WAITING);
}

} // namespace

void settleOnGround(PlayerMovement& movement) { settleFrom(movement, WAITING, WALKING); }

void settleFromAir(PlayerMovement& movement) { settleFrom(movement, FALLING, JUMPING); }

i32 facingCode(const PlayerMovement& movement)
{
    const Vec2f up { movement.liftOffset.x, movement.liftOffset.y };
    const f32 angle = std::acos(std::clamp(up.y, -1.0f, 1.0f)) * 180.0f * 0.31830987f;
    const i32 base = angle < 60.0f ? 1 : (angle > 120.0f ? 2 : 12);
    switch (movement.movementState[kMachineState]) {
    case WAITING:
        return base;
    case WALKING: {
        const Vec2f v = movement.velocity + movement.pushVelocity;
        const f32 cosine = std::clamp(dot(normalize(rightOf(up)), normalize(v)), -1.0f, 1.0f);
        const bool along = std::acos(cosine) * 180.0f * 0.31830987f < 90.0f;
        if (base == 1)
            return along ? 33 : 17;
        if (base == 2)
            return along ? 18 : 34;
        return v.y > 0.0f ? 76 : 140;
    }
    case FALLING:
    case JUMPING:
        return 0;
    default:
        QUERN_FATAL("Unreachable code hit");
    }
}

void updateFacing(PlayerMovement& movement) { transition(movement.facingState, facingCode(movement)); }

} // namespace harmonize
