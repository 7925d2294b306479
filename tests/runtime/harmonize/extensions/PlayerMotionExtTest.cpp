#include "harmonize/extensions/PlayerMotionExt.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/components/PlaneMath.h"
#include "harmonize/statemachines/ButtonStateMachine.h"
#include "harmonize/statemachines/MovementStateMachine.h"

#include "harmonize/RecordingPlatformServices.h"
#include "harmonize/Scenario.h"

#include "quern/platform/FloatingPointTraps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace harmonize;
using quern::math::Quaternion;
using quern::math::Vector3;
using Scenario = harmonize::testing::Scenario;

namespace {

constexpr f32 kStep = 1.0f / 60.0f;
constexpr Vec2f kDown { 0.0f, -1.0f };
constexpr Vec2f kUp { 0.0f, 1.0f };
constexpr Vec2f kLeft { -1.0f, 0.0f };
constexpr Vec2f kRight { 1.0f, 0.0f };

// The tuning of the game's levels, in a given state, gravity down.
PlayerMovement tunedMovement(i32 state = FALLING)
{
    PlayerMovement m {};
    m.jumpSpeedUp = 9.0f;
    m.jumpSpeedDown = 6.0f;
    m.walkAcceleration = 40.0f;
    m.maxWalkSpeed = 6.0f;
    m.maxSpeed = 20.0f;
    m.walkDamping = 1.2f;
    m.airDamping = 1.05f;
    m.airInputScale = 0.6f;
    m.maxAirSpeed = 5.0f;
    m.walkRampTime = 0.2f;
    m.inputDeadZone = 0.2f;
    m.jumpGraceTime = 0.1f;
    m.turnRate = 10.0f;
    m.brakeStrength = 0.5f;
    m.maxTurnAngle = 0.2f;
    m.pushDecay = 1.0f;
    m.carryTime = 0.3f;
    m.gravityScale = 0.45f;
    m.gravityDirection = kDown;
    m.liftOffset = { 0.0f, 1.0f, 0.0f };
    m.groundDirection = m.upDirection = m.jumpAxis = kUp;
    resetMachine(m.movementState, state, state);
    return m;
}

void expectNear(Vec2f actual, Vec2f expected, f32 tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance) << "expected (" << expected.x << ", " << expected.y << ")";
    EXPECT_NEAR(actual.y, expected.y, tolerance) << "expected (" << expected.x << ", " << expected.y << ")";
}

// One player entity with the six player components, at the origin.
struct PlayerWorld {
    Scenario scene;
    EntityHandle player
        = scene.add("player", { "Transform", "PlayerState", "PlayerMovement", "RigidBody", "Race", "Collider" });

    PlayerWorld() { movement() = tunedMovement(); }
    PlayerView view() { return playerViewAt(scene.world(), player.index()); }
    PlayerMovement& movement() { return scene.get<PlayerMovement>(player); }
    Transform& transform() { return scene.get<Transform>(player); }
    quern::entity::World& world() { return scene.world(); }
};

// ---- Input and walking ----

TEST(PlayerMotionExt, AirInputIsTheUnitInputAcrossGravityBeyondTheDeadZone)
{
    struct Case {
        Vec2f gravity, move, expected;
        f32 deadZone;
    };
    const Case cases[] = {
        { kDown, { 0.5f, 0.9f }, kRight, 0.2f }, { kDown, { -0.3f, -1.0f }, kLeft, 0.2f },
        { kDown, { 0.1f, 1.0f }, {}, 0.2f }, // the part across gravity is inside the dead zone
        { kDown, { 0.2f, 0.0f }, kRight, 0.2f }, // exactly the dead zone counts
        { kRight, { 0.5f, -0.7f }, kDown, 0.2f }, // gravity sideways: the input's y
        { kUp, { -0.3f, 0.5f }, kLeft, 0.2f },
        { kDown, { 0.0f, 1.0f }, {}, 0.0f }, // nothing across gravity, even without a dead zone
    };
    for (const Case& c : cases) {
        PlayerMovement m = tunedMovement();
        m.gravityDirection = c.gravity;
        m.inputDeadZone = c.deadZone;
        const Vec2f r = airInputDirection(m, c.move);
        EXPECT_EQ(r.x, c.expected.x) << c.move.x << ", " << c.move.y;
        EXPECT_EQ(r.y, c.expected.y) << c.move.x << ", " << c.move.y;
    }
}

TEST(PlayerMotionExt, DirectionRuleByState)
{
    struct Case {
        i32 state;
        Vec2f move;
        bool walkTimeRuns;
        bool velocityKept; // airborne: the velocity is the air rules' business
    };
    const Case cases[] = {
        { FALLING, { 1.0f, 0.0f }, true, true },
        { JUMPING, {}, false, true },
        { WAITING, {}, false, false },
        { WALKING, { 1.0f, 0.0f }, true, false },
    };
    for (const Case& c : cases) {
        PlayerMovement m = tunedMovement(c.state);
        m.liftOffset = { 1.0f, 0.0f, 0.0f }; // a wall's surface
        m.upDirection = kUp;
        m.velocity = { 2.0f, -3.0f };
        m.walkTime = 0.5f;
        m.stepTimer = 0.0f;
        applyDirectionRule(m, c.move, kStep);
        SCOPED_TRACE(movementStateName(c.state));
        EXPECT_FLOAT_EQ(m.walkTime, c.walkTimeRuns ? 0.5f + kStep : 0.0f);
        EXPECT_FLOAT_EQ(m.stepTimer, -kStep); // not clamped
        if (c.velocityKept) {
            EXPECT_EQ(m.velocity, (Vec2f { 2.0f, -3.0f }));
            EXPECT_EQ(m.groundDirection, kRight);
            EXPECT_EQ(m.upDirection, kRight);
            EXPECT_EQ(m.jumpAxis, kUp);
        } else {
            EXPECT_EQ(m.jumpAxis, kRight);
            // The up direction turns towards the wall by two radians a second.
            expectNear(m.upDirection, { std::sin(2.0f * kStep), std::cos(2.0f * kStep) });
        }
    }
}

TEST(PlayerMotionExt, GroundedWithoutInputStopsAtOnce)
{
    for (const i32 state : { WAITING, WALKING }) {
        PlayerMovement m = tunedMovement(state);
        m.velocity = { 4.0f, 0.0f };
        m.walkTime = 1.0f;
        applyDirectionRule(m, {}, kStep);
        EXPECT_EQ(m.velocity, (Vec2f {})) << movementStateName(state);
    }
}

TEST(PlayerMotionExt, WalkingOnTheFloorFollowsTheInputAlongTheSurface)
{
    PlayerMovement m = tunedMovement(WALKING);
    m.walkTime = 1.0f;
    applyDirectionRule(m, { -0.6f, 0.8f }, kStep); // pushing up-left walks left
    EXPECT_LT(m.velocity.x, 0.0f);
    EXPECT_EQ(m.velocity.y, 0.0f);
    EXPECT_FLOAT_EQ(m.velocity.x, -6.0f / 1.2f);
}

// On a snap path that climbs, pressing towards the climb walks along the path
// while the body is still tilted from the surface.
TEST(PlayerMotionExt, PressingUpASlopeWalksAlongTheSnapPath)
{
    struct Case {
        const char* name;
        Vec2f upDirection, snapBoxUp;
        Vec2f expected;
    };
    const Case cases[] = {
        { "tilted body, climbing path", { 0.6f, 0.8f }, kUp, { 4.0f, 3.0f } },
        { "upright body: the input is across the surface only", kUp, kUp, {} },
        { "level path: no slope", { 0.6f, 0.8f }, kRight, {} },
    };
    for (const Case& c : cases) {
        PlayerMovement m = tunedMovement(WALKING);
        m.walkTime = 1.0f;
        m.upDirection = c.upDirection;
        m.snapParameter = 0.5f;
        m.snapTangent = { 0.8f, 0.6f };
        m.snapBoxUp = c.snapBoxUp;
        applyDirectionRule(m, kUp, kStep);
        SCOPED_TRACE(c.name);
        expectNear(m.velocity, c.expected);
    }
}

TEST(PlayerMotionExt, DirectionRuleWithAnInvalidStateIsFatal)
{
    for (const i32 state : { 0, 5 }) {
        PlayerMovement m = tunedMovement();
        m.movementState[0] = state;
        EXPECT_DEATH(applyDirectionRule(m, {}, kStep), "Unreachable code hit") << state;
    }
}

TEST(PlayerMotionExt, GroundVelocityRampsCapsAndDamps)
{
    struct Case {
        const char* name;
        f32 walkTime;
        Vec2f velocity, direction;
        f32 maxWalkSpeed;
        Vec2f expected;
    };
    // walkAcceleration 40 over a ramp of 0.2 s, damping 2.
    const Case cases[] = {
        { "half the ramp gives half the acceleration", 0.1f, {}, kRight, 100.0f, { 10.0f, 0.0f } },
        { "after the ramp the whole acceleration", 0.3f, {}, kRight, 100.0f, { 20.0f, 0.0f } },
        { "the speed limit applies before the damping", 0.3f, {}, kRight, 6.0f, { 3.0f, 0.0f } },
        { "a turn keeps the speed, now along the input", 0.0f, { 3.0f, 4.0f }, kLeft, 100.0f, { -2.5f, 0.0f } },
        { "no input stops", 0.3f, { 3.0f, 0.0f }, {}, 100.0f, {} },
    };
    for (const Case& c : cases) {
        PlayerMovement m = tunedMovement(WALKING);
        m.walkDamping = 2.0f;
        m.walkTime = c.walkTime;
        m.velocity = c.velocity;
        m.maxWalkSpeed = c.maxWalkSpeed;
        m.brakeArmed = 1;
        applyGroundVelocity(m, c.direction);
        SCOPED_TRACE(c.name);
        expectNear(m.velocity, c.expected);
        EXPECT_EQ(m.brakeArmed, 0);
    }
}

TEST(PlayerMotionExt, APushLastsItsCountdownOnTheGround)
{
    PlayerMovement m = tunedMovement(WAITING);
    m.pushVelocity = { 8.0f, 0.0f };
    m.pushDecay = 2.0f;
    m.pushCountdown = 2;
    std::vector<f32> pushes;
    for (int tick = 0; tick < 3; ++tick) {
        applyDirectionRule(m, {}, kStep);
        pushes.push_back(m.pushVelocity.x);
    }
    EXPECT_EQ(pushes, (std::vector<f32> { 4.0f, 2.0f, 0.0f }));
    EXPECT_EQ(m.pushCountdown, 0);
    EXPECT_EQ(m.pushDecay, 1.0f);
}

// Level data may hold a damping or decay of 0 (the push decay is 0 until a
// push sets it). Dividing by it gave infinities or NaN that reached the
// physics body.
TEST(PlayerMotionExt, DivisorsNotAbove0DampNothing)
{
    PlayerMovement falling = tunedMovement(FALLING);
    falling.pushDecay = 0.0f;
    falling.airDamping = 0.0f;
    falling.velocity = { 1.0f, 0.0f };
    applyDirectionRule(falling, {}, kStep);
    applyAirVelocity(falling, {}, Held);
    EXPECT_EQ(falling.pushVelocity, (Vec2f {}));
    expectNear(falling.velocity, { 1.0f, -0.45f });

    PlayerMovement waiting = tunedMovement(WAITING);
    waiting.walkDamping = 0.0f;
    applyDirectionRule(waiting, {}, kStep);
    EXPECT_EQ(waiting.velocity, (Vec2f {}));
    waiting.walkTime = 1.0f;
    waiting.walkDamping = -1.0f;
    applyGroundVelocity(waiting, kRight);
    EXPECT_EQ(waiting.velocity, (Vec2f { 6.0f, 0.0f }));
}

// A speed across gravity damped tick after tick ends at exactly 0 rather than
// in denormals, which trap when the game runs with its floating-point traps.
void dampAcrossGravityWithTheTrapsOn()
{
    PlayerMovement falling = tunedMovement(FALLING);
    falling.velocity = { 1.0f, 0.0f };
    falling.pushVelocity = { 1.0f, 0.0f };
    falling.pushDecay = 1.05f;
    quern::platform::enableFloatingPointTraps();
    for (int tick = 0; tick < 5000; ++tick) {
        applyAirVelocity(falling, {}, Held);
        applyDirectionRule(falling, {}, kStep);
        falling.velocity.y = 0.0f; // keep the fall itself from growing without end
    }
    const bool stopped = falling.velocity.x == 0.0f && falling.pushVelocity.x == 0.0f;
    quern::platform::maskFloatingPointTraps();
    std::exit(stopped ? 0 : 1);
}

TEST(PlayerMotionExtDeathTest, DampedSpeedsEndAtZeroWithoutDenormals)
{
    EXPECT_EXIT(dampAcrossGravityWithTheTrapsOn(), ::testing::ExitedWithCode(0), "");
}

TEST(PlayerMotionExt, GroundInputIsRememberedNormalised)
{
    PlayerMovement m = tunedMovement(WAITING);
    recordGroundInput(m, { 0.3f, 0.4f });
    expectNear(m.lastInputDirection, { 0.6f, 0.8f });
    recordGroundInput(m, {});
    expectNear(m.lastInputDirection, { 0.6f, 0.8f });
}

// ---- Air ----

TEST(PlayerMotionExt, AirVelocity)
{
    struct Case {
        const char* name;
        Vec2f gravity, velocity, move;
        f32 airDamping;
        Vec2f expected;
    };
    // Air input adds 0.05 * 40 = 2 across gravity, gravity adds 0.45.
    const Case cases[] = {
        { "input from rest", kDown, {}, kRight, 1.0f, { 2.0f, -0.45f } },
        { "input that would reach maxAirSpeed is ignored, gravity is not", kDown, { 3.0f, 0.0f }, kRight, 1.0f,
            { 3.0f, -0.45f } },
        { "steering back below maxAirSpeed", kDown, { 6.0f, 0.0f }, kLeft, 1.0f, { 4.0f, -0.45f } },
        { "steering back that stays at maxAirSpeed is ignored", kDown, { 7.0f, 0.0f }, kLeft, 1.0f, { 7.0f, -0.45f } },
        { "input across sideways gravity", kRight, {}, { 0.0f, 1.0f }, 1.0f, { 0.45f, 2.0f } },
        { "only the part across gravity is damped", kDown, { 4.0f, -2.0f }, {}, 2.0f, { 2.0f, -2.45f } },
        { "gravity sideways", kRight, { 0.0f, 4.0f }, {}, 2.0f, { 0.45f, 2.0f } },
        { "gravity up", kUp, { -1.0f, 3.0f }, {}, 1.0f, { -1.0f, 3.45f } },
        { "the speed is capped at maxSpeed", kDown, { 0.0f, -30.0f }, {}, 1.0f, { 0.0f, -20.0f } },
    };
    for (const Case& c : cases) {
        PlayerMovement m = tunedMovement(FALLING);
        m.gravityDirection = c.gravity;
        m.velocity = c.velocity;
        m.airDamping = c.airDamping;
        m.airInputScale = 0.05f;
        applyAirVelocity(m, c.move, Held);
        SCOPED_TRACE(c.name);
        expectNear(m.velocity, c.expected, 1e-4f);
    }
}

TEST(PlayerMotionExt, AirInputNeverRaisesTheSpeedAcrossGravityBeyondMaxAirSpeed)
{
    PlayerMovement m = tunedMovement(FALLING);
    m.airDamping = 1.0f;
    m.airInputScale = 5.0f / 128.0f; // 1.5625 a tick, exactly
    f32 fallSpeed = 0.0f;
    std::vector<f32> across;
    for (int tick = 0; tick < 5; ++tick) {
        applyAirVelocity(m, kRight, Held);
        across.push_back(m.velocity.x);
        EXPECT_LT(m.velocity.y, fallSpeed) << tick;
        fallSpeed = m.velocity.y;
    }
    EXPECT_EQ(across, (std::vector<f32> { 1.5625f, 3.125f, 4.6875f, 4.6875f, 4.6875f }));
}

TEST(PlayerMotionExt, ReleaseBrake)
{
    struct Case {
        const char* name;
        i32 button;
        u8 armed;
        Vec2f velocity;
        Vec2f expected;
        Vec2f brakeSide;
    };
    // Gravity 0.5 down, brakeStrength 0.5, no damping, jump axis up.
    const Case cases[] = {
        { "held: no brake", Held, 0, { 0.0f, 8.0f }, { 0.0f, 7.5f }, {} },
        { "pressed: no brake", Pressed, 0, { 0.0f, 8.0f }, { 0.0f, 7.5f }, {} },
        { "released while rising: half the rise goes", Released, 0, { 0.0f, 8.0f }, { 0.0f, 3.75f }, kRight },
        { "up while rising", Up, 0, { 0.0f, 8.0f }, { 0.0f, 3.75f }, kRight },
        { "falling: nothing to brake", Up, 0, { 0.0f, -2.0f }, { 0.0f, -2.5f }, kRight },
        // Sideways the brake is half as strong: k = 0.5.
        { "the side brake towards the motion", Released, 0, { 3.0f, -1.0f }, { 2.25f, -1.5f }, kRight },
        { "the side brake the other way", Released, 0, { -3.0f, -1.0f }, { -2.25f, -1.5f }, kLeft },
        { "armed, it brakes with the button held again", Held, 1, { 0.0f, 8.0f }, { 0.0f, 3.75f }, kRight },
    };
    for (const Case& c : cases) {
        PlayerMovement m = tunedMovement(JUMPING);
        m.gravityScale = 0.5f;
        m.airDamping = 1.0f;
        m.velocity = c.velocity;
        m.brakeArmed = c.armed;
        if (c.armed) {
            m.riseCaps = { std::numeric_limits<f32>::infinity(), std::numeric_limits<f32>::infinity() };
            m.brakeSide = kRight;
        }
        applyAirVelocity(m, {}, c.button);
        SCOPED_TRACE(c.name);
        expectNear(m.velocity, c.expected);
        EXPECT_EQ(m.brakeSide, c.brakeSide);
    }
}

// The cap is the least rise speed seen since the release: a later lift (a
// push, a carrier) is braked by no more than that.
TEST(PlayerMotionExt, TheBrakeTakesAtMostItsCapAway)
{
    PlayerMovement m = tunedMovement(JUMPING);
    m.gravityScale = 0.5f;
    m.airDamping = 1.0f;
    m.velocity = { 0.0f, 8.0f };
    applyAirVelocity(m, {}, Released);
    expectNear(m.velocity, { 0.0f, 3.75f });
    EXPECT_EQ(m.riseCaps.x, 7.5f);
    m.velocity = { 0.0f, 20.0f }; // lifted
    applyAirVelocity(m, {}, Up);
    expectNear(m.velocity, { 0.0f, 19.5f - 7.5f * 0.5f });
    EXPECT_EQ(m.riseCaps.x, 7.5f);
}

TEST(PlayerMotionExt, ReleasingDuringTheRiseOnlyEverSlowsTheRise)
{
    PlayerMovement m = tunedMovement(JUMPING);
    m.airDamping = 1.0f;
    m.velocity = { 0.0f, 9.0f };
    applyAirVelocity(m, {}, Held);
    const f32 unbraked = m.velocity.y - 0.45f;
    applyAirVelocity(m, {}, Released);
    EXPECT_LT(m.velocity.y, unbraked);
    f32 cap = m.riseCaps.x;
    f32 rise = m.velocity.y;
    for (int tick = 0; tick < 10 && rise > 0.0f; ++tick) {
        applyAirVelocity(m, {}, tick % 2 ? Up : Pressed); // pressing again does not lift the brake
        EXPECT_LT(m.velocity.y, rise);
        EXPECT_LE(m.riseCaps.x, cap);
        rise = m.velocity.y;
        cap = m.riseCaps.x;
    }
    EXPECT_LE(rise, 0.0f);
}

TEST(PlayerMotionExt, AirborneCarryFadesUnlessTheCarrierDropsMomentum)
{
    PlayerWorld w;
    const EntityHandle keeping = w.scene.add("keeping", { "Transform", "SnapboxCluster" });
    const EntityHandle dropping = w.scene.add("dropping", { "Transform", "SnapboxCluster" });
    w.scene.get<SnapboxCluster>(keeping).keepsMomentum = 1;
    struct Case {
        const char* name;
        EntityHandle carrier;
        f32 remaining, expected;
    };
    const Case cases[] = {
        { "no carrier: fades", EntityHandle {}, 0.25f, 0.25f - kStep },
        { "a carrier that keeps momentum: fades", keeping, 0.25f, 0.25f - kStep },
        { "never below 0", keeping, 0.5f * kStep, 0.0f },
        { "a carrier that drops momentum: ends", dropping, 0.25f, 0.0f },
        { "a stale handle: fades", EntityHandle::make(dropping.index(), dropping.generation() + 1), 0.25f,
            0.25f - kStep },
    };
    for (const Case& c : cases) {
        PlayerMovement m = tunedMovement(FALLING);
        m.liftOffset = { 1.0f, 0.0f, 0.0f };
        m.recordedCarrier = c.carrier;
        m.carryRemaining = c.remaining;
        m.carrierVelocity = { 3.0f, 4.0f };
        applyAirborneCarry(w.world(), m, kStep);
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(m.carryRemaining, c.expected);
        EXPECT_EQ(m.carrierVelocity, (Vec2f { 3.0f, 0.0f })); // only the part across gravity
        EXPECT_EQ(m.liftOffset, (Vector3 { 0.0f, 1.0f, 0.0f }));
    }
}

// ---- Jumps ----

// Falls with the jump pressed `ticksBefore` ticks before the landing tick,
// lands, and runs the triggers once more on the ground.
bool bufferedJumpFires(int ticksBefore)
{
    PlayerMovement m = tunedMovement(FALLING);
    m.jumpGraceTime = 1.0f;
    const f32 step = 0.25f; // exact in binary: the grace time is four steps
    for (int tick = ticksBefore; tick > 0; --tick)
        applyJumpTriggers(m, tick == ticksBefore ? Pressed : Held, step);
    transition(m.movementState, WAITING);
    takeChanged(m.movementState);
    applyJumpTriggers(m, Held, step);
    return m.movementState[kMachineState] == JUMPING;
}

TEST(PlayerMotionExt, AJumpPressedWithinTheGraceTimeBeforeLandingFires)
{
    EXPECT_TRUE(bufferedJumpFires(1));
    EXPECT_TRUE(bufferedJumpFires(3));
    EXPECT_FALSE(bufferedJumpFires(4)); // the buffer ran out exactly at landing
    EXPECT_FALSE(bufferedJumpFires(6));
}

TEST(PlayerMotionExt, JumpTriggers)
{
    struct Case {
        const char* name;
        i32 state;
        i32 button;
        f32 coyoteTime, jumpBuffer;
        u8 jumpedThisTick;
        i32 expectedState;
        f32 expectedBuffer;
    };
    const f32 grace = 0.1f;
    const Case cases[] = {
        { "coyote jump", FALLING, Pressed, 0.05f, 0.0f, 0, JUMPING, 0.0f },
        { "coyote time over: the press is buffered", FALLING, Pressed, kStep * 0.5f, 0.0f, 0, FALLING, grace },
        { "coyote time needs a press", FALLING, Held, 0.05f, 0.0f, 0, FALLING, 0.0f },
        { "no coyote jump while jumping", JUMPING, Pressed, 0.05f, 0.0f, 0, JUMPING, grace },
        { "the press that started a jump is not buffered", JUMPING, Pressed, 0.0f, 0.0f, 1, JUMPING, 0.0f },
        { "a grounded press is the tick's own jump", WAITING, Pressed, 0.0f, 0.0f, 0, WAITING, 0.0f },
        { "buffered jump while walking", WALKING, Up, 0.0f, 0.05f, 0, JUMPING, 0.0f },
        { "buffer ran out", WAITING, Up, 0.0f, kStep, 0, WAITING, 0.0f },
    };
    for (const Case& c : cases) {
        PlayerMovement m = tunedMovement(c.state);
        m.jumpGraceTime = grace;
        m.coyoteTime = c.coyoteTime;
        m.jumpBuffer = c.jumpBuffer;
        m.jumpedThisTick = c.jumpedThisTick;
        applyJumpTriggers(m, c.button, kStep);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(m.movementState[kMachineState], c.expectedState);
        EXPECT_FLOAT_EQ(m.jumpBuffer, c.expectedBuffer);
        EXPECT_GE(m.coyoteTime, 0.0f);
        EXPECT_EQ(m.jumpedThisTick, 0);
        if (c.expectedState != c.state) {
            EXPECT_EQ(m.coyoteTime, 0.0f);
        }
    }
}

TEST(PlayerMotionExt, JumpStartVelocity)
{
    struct Case {
        const char* name;
        Vec2f gravity, jumpAxis, groundDirection, velocity;
        bool fromGround;
        Vec2f expected;
    };
    const f32 s = std::sqrt(0.5f);
    const Case cases[] = {
        { "standing, gravity down", kDown, kUp, { s, s }, {}, true, { 0.0f, 9.0f } },
        { "standing, gravity sideways", kRight, kLeft, { -s, s }, {}, true, { -9.0f, 0.0f } },
        { "standing, gravity up", kUp, kDown, { s, -s }, {}, true, { 0.0f, -9.0f } },
        { "standing under a ceiling, gravity down", kDown, kDown, { s, -s }, {}, true, { 0.0f, -6.0f } },
        // Full walking speed tilts the jump to the ground direction, bent up.
        { "walking, gravity down", kDown, kUp, { s, s }, { 5.0f, 0.0f }, true, { 7.529762f, 8.637147f } },
        // Half-way between the speeds when the jump axis is across gravity.
        { "standing on a wall, gravity down", kDown, kRight, kRight, {}, true, { 7.5f * s, 7.5f * s } },
        { "standing on a floor, gravity sideways", kRight, kUp, kLeft, {}, true, { 0.0f, 7.5f } },
        { "from the ground the part across gravity stays", kDown, kUp, kUp, { 2.5f, 0.0f }, true, { 2.5f, 9.0f } },
        { "from the ground the part along gravity goes", kDown, kUp, kUp, { 0.0f, -3.0f }, true, { 0.0f, 9.0f } },
        { "a coyote jump drops the old velocity", kDown, kUp, kUp, { 2.5f, -1.0f }, false, { 0.0f, 9.0f } },
    };
    for (const Case& c : cases) {
        PlayerWorld w;
        PlayerMovement& m = w.movement();
        m.gravityDirection = c.gravity;
        m.jumpAxis = c.jumpAxis;
        m.groundDirection = c.groundDirection;
        m.velocity = c.velocity;
        startJump(w.world(), w.view(), c.fromGround, nullptr);
        SCOPED_TRACE(c.name);
        expectNear(m.velocity, c.expected, 1e-4f);
    }
}

TEST(PlayerMotionExt, JumpStartLiftsThePlayerAndResetsTheJumpState)
{
    PlayerWorld w;
    w.transform().position = { 2.0f, 3.0f, 0.0f };
    PlayerMovement& m = w.movement();
    m.liftOffset = { -1.0f, 0.0f, 0.0f };
    m.brakeArmed = 1;
    m.jumpBuffer = 0.05f;
    startJump(w.world(), w.view(), true, nullptr);
    EXPECT_EQ(w.transform().position, (Vector3 { 1.0f, 3.0f, 0.0f }));
    EXPECT_EQ(m.brakeArmed, 0);
    EXPECT_EQ(m.jumpedThisTick, 1);
    EXPECT_EQ(m.jumpBuffer, 0.0f);
}

// Level data without speed limits: a jump from standing goes straight up and
// nothing divides by the missing limit, so the traps stay quiet.
void jumpWithoutSpeedLimitsWithTheTrapsOn()
{
    PlayerWorld w;
    PlayerMovement& m = w.movement();
    m.maxWalkSpeed = 0.0f;
    m.walkDamping = 0.0f;
    m.maxSpeed = -1.0f;
    m.groundDirection = kRight;
    quern::platform::enableFloatingPointTraps();
    startJump(w.world(), w.view(), true, nullptr);
    const bool straight = std::fabs(m.velocity.x) < 1e-5f && std::fabs(m.velocity.y - 9.0f) < 1e-5f;
    m.velocity = {};
    m.gravityScale = 0.0f;
    applyAirVelocity(m, {}, Held);
    applyGroundVelocity(m, {});
    quern::platform::maskFloatingPointTraps();
    std::exit(straight ? 0 : 1);
}

TEST(PlayerMotionExtDeathTest, AJumpWithoutSpeedLimitsIsStraightAndDividesByNothing)
{
    EXPECT_EXIT(jumpWithoutSpeedLimitsWithTheTrapsOn(), ::testing::ExitedWithCode(0), "");
}

TEST(PlayerMotionExt, EveryJumpCountsInTheProfile)
{
    PlayerProfile::clear();
    PlayerWorld w;
    test::RecordingPlatformServices platform;
    startJump(w.world(), w.view(), true, &platform);
    startJump(w.world(), w.view(), false, &platform);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatJumps), 2u);
    // Without platform services the counter still rises.
    startJump(w.world(), w.view(), true, nullptr);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatJumps), 3u);
    PlayerProfile::clear();
}

TEST(PlayerMotionExt, LandingStopsTheFallAndTakesTheSurfaceUp)
{
    PlayerWorld w;
    const EntityHandle cluster = w.scene.add("cluster", { "Transform", "SnapboxCluster" });
    for (const bool onCluster : { false, true }) {
        PlayerMovement m = tunedMovement(FALLING);
        m.velocity = { 3.0f, -7.0f };
        m.groundDirection = m.upDirection = m.jumpAxis = { 0.6f, 0.8f };
        if (onCluster) {
            m.cluster = cluster;
            m.clusterBoxCount = 1;
            m.clusterUp = kLeft;
        }
        land(w.world(), m);
        const Vec2f up = onCluster ? kLeft : kUp;
        EXPECT_EQ(m.velocity, (Vec2f { 3.0f, 0.0f }));
        EXPECT_EQ(m.groundDirection, up) << onCluster;
        EXPECT_EQ(m.upDirection, up) << onCluster;
        EXPECT_EQ(m.jumpAxis, up) << onCluster;
    }
}

// ---- Body turn and hand-over ----

TEST(PlayerMotionExt, TheBodyTurnsItsUpAxisTowardsTheSideOppositeGravity)
{
    struct Case {
        const char* name;
        Vec2f gravity;
        f32 startAngle; // about +Z
        f32 maxTurn;
        Vec2f expectedUp;
    };
    const f32 halfPi = std::atan2(1.0f, 0.0f);
    const Case cases[] = {
        { "gravity down, upright: stays", kDown, 0.0f, 0.2f, kUp },
        { "gravity down, lying on its side: one step back", kDown, halfPi, 0.2f, { -std::cos(0.2f), std::sin(0.2f) } },
        { "gravity sideways: one step over", kRight, 0.0f, 0.2f, { -std::sin(0.2f), std::cos(0.2f) } },
        { "gravity sideways the other way, within reach", kLeft, 0.0f, 4.0f, kRight },
        { "gravity up, within reach", kUp, 0.0f, 4.0f, kDown },
    };
    for (const Case& c : cases) {
        PlayerWorld w;
        w.movement().gravityDirection = c.gravity;
        w.movement().maxTurnAngle = c.maxTurn;
        w.transform().rotation = Quaternion::fromAxisAngle(c.startAngle, { 0.0f, 0.0f, 1.0f });
        turnBodyTowardsGravity(w.world(), w.view());
        const quern::math::Matrix3 r = w.transform().rotation.toMatrix3();
        SCOPED_TRACE(c.name);
        expectNear({ r.m[3], r.m[4] }, c.expectedUp);
        EXPECT_NEAR(r.m[5], 0.0f, 1e-6f);
        EXPECT_NEAR(r.m[8], 1.0f, 1e-6f); // the turn stays about the view axis
        // X stays a quarter turn clockwise of Y.
        expectNear({ r.m[0], r.m[1] }, rightOf(c.expectedUp));
    }
}

TEST(PlayerMotionExt, TheBodyTurnIsInTheWorldUnderATurnedParent)
{
    PlayerWorld w;
    const EntityHandle parent = w.scene.add("parent", { "Transform" });
    w.scene.get<Transform>(parent).rotation = Quaternion::fromAxisAngle(0.5f, { 0.0f, 0.0f, 1.0f });
    w.scene.setParent(w.player, parent);
    w.movement().gravityDirection = kRight;
    w.movement().maxTurnAngle = 4.0f;
    turnBodyTowardsGravity(w.world(), w.view());
    const Vector3 up = worldUpAxisOf(w.world(), w.transform());
    expectNear({ up.x, up.y }, kLeft);
}

TEST(PlayerMotionExt, HandOverSumsVelocityPushAndTheFadingCarry)
{
    struct Case {
        const char* name;
        f32 carryTime, carryRemaining;
        Vec2f expected;
    };
    const Case cases[] = {
        { "half the carry time left", 0.5f, 0.25f, { 1.0f + 0.5f + 2.0f, -2.0f + 0.25f } },
        { "carry over", 0.5f, 0.0f, { 1.5f, -1.75f } },
        // A carry time of 0 in level data gave 0 / 0: a NaN body velocity.
        { "no carry time", 0.0f, 0.0f, { 1.5f, -1.75f } },
        { "a negative carry time", -1.0f, 0.5f, { 1.5f, -1.75f } },
    };
    for (const Case& c : cases) {
        PlayerWorld w;
        PlayerMovement& m = w.movement();
        m.velocity = { 1.0f, -2.0f };
        m.pushVelocity = { 0.5f, 0.25f };
        m.carrierVelocity = { 4.0f, 0.0f };
        m.carryTime = c.carryTime;
        m.carryRemaining = c.carryRemaining;
        w.scene.get<RigidBody>(w.player).velocity = { 9.0f, 9.0f, 9.0f };
        handOverVelocity(w.view());
        SCOPED_TRACE(c.name);
        EXPECT_EQ(w.scene.get<RigidBody>(w.player).velocity, (Vector3 { c.expected.x, c.expected.y, 0.0f }));
    }
}

// ---- Facing code and jump button ----

TEST(PlayerMotionExt, FacingCodeBySurfaceStateAndVelocity)
{
    struct Case {
        i32 state;
        Vec2f up, velocity;
        i32 expected;
    };
    const Case cases[] = {
        { WAITING, kUp, {}, 1 },
        { WAITING, kDown, {}, 2 },
        { WAITING, kRight, {}, 12 }, // standing on a wall
        { WAITING, kLeft, { 3.0f, 0.0f }, 12 },
        { WAITING, { 0.5f, 0.9f }, {}, 1 }, // a slope below 60 degrees is floor
        { WAITING, { 0.95f, -0.3f }, {}, 12 },
        { WALKING, kUp, { 2.0f, 0.0f }, 33 },
        { WALKING, kUp, { -2.0f, 0.0f }, 17 },
        { WALKING, kDown, { -2.0f, 0.0f }, 18 },
        { WALKING, kDown, { 2.0f, 0.0f }, 34 },
        { WALKING, kRight, { 0.0f, 2.0f }, 76 }, // walking up the wall
        { WALKING, kRight, { 0.0f, -2.0f }, 140 },
        { WALKING, kLeft, {}, 140 },
        { FALLING, kUp, { 2.0f, 0.0f }, 0 },
        { JUMPING, kRight, {}, 0 },
    };
    for (const Case& c : cases) {
        PlayerMovement m = tunedMovement(c.state);
        m.liftOffset = { c.up.x, c.up.y, 0.0f };
        m.velocity = c.velocity;
        EXPECT_EQ(facingCode(m), c.expected) << movementStateName(c.state) << " up (" << c.up.x << ", " << c.up.y
                                             << ") v (" << c.velocity.x << ", " << c.velocity.y << ")";
    }
}

TEST(PlayerMotionExt, FacingCountsThePushInTheVelocity)
{
    PlayerMovement m = tunedMovement(WALKING);
    m.velocity = { -1.0f, 0.0f };
    m.pushVelocity = { 3.0f, 0.0f };
    EXPECT_EQ(facingCode(m), 33);
}

TEST(PlayerMotionExt, FacingTransitionsOnlyOnAChange)
{
    PlayerMovement m = tunedMovement(WAITING);
    resetMachine(m.facingState, 1, 1);
    updateFacing(m);
    EXPECT_EQ(m.facingState[kMachineChanged], 0);
    m.liftOffset = { 1.0f, 0.0f, 0.0f };
    updateFacing(m);
    EXPECT_EQ(m.facingState[kMachineState], 12);
    EXPECT_EQ(m.facingState[kMachinePrevious], 1);
    EXPECT_EQ(m.facingState[kMachineChanged], 1);
}

TEST(PlayerMotionExt, FacingCodeOfAnInvalidStateIsFatal)
{
    PlayerMovement m = tunedMovement();
    m.movementState[0] = 7;
    EXPECT_DEATH(facingCode(m), "Unreachable code hit");
}

TEST(PlayerMotionExt, JumpButtonMachine)
{
    struct Case {
        i32 from;
        bool pressed;
        i32 expected;
    };
    const Case cases[] = {
        { Held, true, Held },
        { Held, false, Released },
        { Pressed, true, Held },
        { Pressed, false, Released },
        { Up, true, Pressed },
        { Up, false, Up },
        { Released, true, Pressed },
        { Released, false, Up },
    };
    for (const Case& c : cases) {
        StateMachine button;
        resetMachine(button, c.from, c.from);
        updateButton(button, c.pressed);
        EXPECT_EQ(button[kMachineState], c.expected) << c.from << (c.pressed ? " pressed" : " not pressed");
        EXPECT_EQ(button[kMachineChanged], c.expected != c.from ? 1 : 0) << c.from;
    }
}

TEST(PlayerMotionExt, JumpButtonOverTicks)
{
    StateMachine button { Up, Up, 0 };
    std::vector<i32> states;
    for (const bool pressed : { true, true, true, false, false, true })
        updateButton(button, pressed), states.push_back(button[kMachineState]);
    EXPECT_EQ(states, (std::vector<i32> { Pressed, Held, Held, Released, Up, Pressed }));
}

TEST(PlayerMotionExt, JumpButtonInAnInvalidStateIsFatal)
{
    for (const i32 state : { -1, 4 }) {
        StateMachine button { state, Up, 0 };
        EXPECT_DEATH(updateButton(button, true), "Unreachable code hit") << state;
    }
}

} // namespace
