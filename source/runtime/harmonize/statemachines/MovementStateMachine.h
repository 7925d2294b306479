#pragma once
// The player's body state and the transitions the movement rules ask for,
// with the facing code that picks the body's turn.
#include "harmonize/statemachines/StateMachine.h"

namespace harmonize {

struct PlayerMovement;

enum MovementState : quern::i32 {
    WAITING = 1, // grounded, not moving
    WALKING = 2, // grounded, moving along the ground
    FALLING = 3, // airborne without a jump
    JUMPING = 4, // airborne after a jump
};

// "WAITING" ... "JUMPING", or "<Invalid MovementState>".
const char* movementStateName(quern::i32 state);

constexpr bool isAirborne(quern::i32 state) { return state == FALLING || state == JUMPING; }
constexpr bool isGrounded(quern::i32 state) { return state == WAITING || state == WALKING; }

// WAITING or WALKING become FALLING; FALLING and JUMPING stay. An invalid
// state is fatal.
void fall(StateMachine& machine);
// WAITING, WALKING and FALLING become JUMPING; a jump while JUMPING is only
// logged ("Jump while jumping"). An invalid state is fatal.
void jump(StateMachine& machine);

// Settles from WAITING or WALKING (the player tick) to WALKING when the player
// moves along the ground, else WAITING; other valid states stay. An invalid
// state is fatal.
void settleOnGround(PlayerMovement& movement);
// Settles from FALLING or JUMPING (landing on a cluster) the same way; the
// ground test is false while airborne, so a landing gives WAITING. Other
// valid states stay; an invalid state is fatal.
void settleFromAir(PlayerMovement& movement);

// The facing code for the player's surface up direction (liftOffset) and
// velocity: 0 airborne; 1, 2 or 12 standing on a floor, ceiling or wall; and
// while walking 17/33 (floor), 18/34 (ceiling), 76/140 (wall).
quern::i32 facingCode(const PlayerMovement& movement);
// Transitions the facing machine to the current facing code.
void updateFacing(PlayerMovement& movement);

} // namespace harmonize
