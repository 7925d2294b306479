#pragma once
// The rules that turn the player's input into motion: walking along the
// ground, air control under gravity with the release brake, jumps with their
// grace timers, the body's turn towards its up direction and the hand-over
// of the velocity to the physics body. Each rule is one stage of the
// movement system's player tick; `step` is always the world step times the
// system's time scale. Velocities are per-tick amounts in the plane; only the
// hand-over turns them into the body's (x, y, 0).
#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"

#include "quern/entity/World.h"

namespace harmonize {

class PlatformServices;

// The movement input across gravity, as a unit vector; zero when that part is
// shorter than the dead zone.
Vec2f airInputDirection(const PlayerMovement& movement, Vec2f move);

// The direction stage: the ground and up directions follow the surface, and
// grounded states take their velocity from the input (applyGroundVelocity);
// then the walk time, the push decay and the step timer advance. An invalid
// movement state is fatal.
void applyDirectionRule(PlayerMovement& movement, Vec2f move, f32 step);

// The grounded velocity for the walking direction `direction` (unit or zero):
// the ramped walk acceleration, capped at maxWalkSpeed and damped; zero at
// once without input. Ends a push whose countdown ran out and disarms the
// release brake.
void applyGroundVelocity(PlayerMovement& movement, Vec2f direction);

// The airborne velocity: input across gravity up to maxAirSpeed, gravity,
// the release brake once the jump button is up (`jumpButton` is the button
// machine's ButtonState), the maxSpeed cap and the damping across gravity.
void applyAirVelocity(PlayerMovement& movement, Vec2f move, i32 jumpButton);

// Airborne: the surface up becomes (0, 1), the carried velocity keeps only
// its part across gravity and fades with the step, unless the carrier was a
// cluster that does not keep momentum: then the carry ends at once.
void applyAirborneCarry(quern::entity::World& world, PlayerMovement& movement, f32 step);

// While grounded, remembers the last non-zero movement input, normalised.
void recordGroundInput(PlayerMovement& movement, Vec2f move);

// The jump timers: the jump buffer and coyote time run down; a press in the
// air fills the buffer; a buffered jump on the ground or a press within the
// coyote time after falling off starts the jump transition.
void applyJumpTriggers(PlayerMovement& movement, i32 jumpButton, f32 step);

// The start of a jump: lifts the player off the surface by liftOffset and
// sets the jump velocity, tilted towards the walking direction by the walking
// speed. `fromGround` keeps the velocity across gravity; a jump while falling
// drops the old velocity. Counts the jump in the profile when `platform` is
// given.
void startJump(quern::entity::World& world, const PlayerView& player, bool fromGround, PlatformServices* platform);

// Landing: the vertical velocity ends and the ground, up and jump directions
// become the cluster's up (or (0, 1) off a cluster).
void land(quern::entity::World& world, PlayerMovement& movement);

// Off a cluster the body turns its up axis towards the side opposite gravity,
// by at most maxTurnAngle per tick, turning only about the view axis.
void turnBodyTowardsGravity(quern::entity::World& world, const PlayerView& player);

// The body's velocity := the player's own velocity, the push and the fading
// carrier velocity, with z := 0.
void handOverVelocity(const PlayerView& player);

} // namespace harmonize
