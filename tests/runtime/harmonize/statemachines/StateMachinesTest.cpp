#include "harmonize/components/Components.h"
#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/statemachines/StateMachine.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

using namespace harmonize;

namespace {

struct Expected {
    i32 state, previous, changed;
};

void expectMachine(const StateMachine& machine, Expected expected)
{
    EXPECT_EQ(machine[kMachineState], expected.state);
    EXPECT_EQ(machine[kMachinePrevious], expected.previous);
    EXPECT_EQ(machine[kMachineChanged], expected.changed);
}

TEST(StateMachines, ATransitionToTheCurrentStateChangesNothing)
{
    StateMachine machine { FALLING, WAITING, 0 };
    transition(machine, FALLING);
    expectMachine(machine, { FALLING, WAITING, 0 });
    transition(machine, WAITING);
    expectMachine(machine, { WAITING, FALLING, 1 });
    // A repeated transition keeps the flag for the reader.
    transition(machine, WAITING);
    expectMachine(machine, { WAITING, FALLING, 1 });
    EXPECT_TRUE(takeChanged(machine));
    EXPECT_FALSE(takeChanged(machine));
}

TEST(StateMachines, FallAndJumpByState)
{
    struct Case {
        i32 from;
        i32 afterFall, afterJump;
    };
    const Case cases[] = {
        { WAITING, FALLING, JUMPING },
        { WALKING, FALLING, JUMPING },
        { FALLING, FALLING, JUMPING },
        { JUMPING, JUMPING, JUMPING },
    };
    for (const Case& c : cases) {
        StateMachine falling { c.from, c.from, 0 };
        fall(falling);
        expectMachine(falling, { c.afterFall, c.from, c.afterFall != c.from ? 1 : 0 });
        StateMachine jumping { c.from, c.from, 0 };
        jump(jumping);
        expectMachine(jumping, { c.afterJump, c.from, c.afterJump != c.from ? 1 : 0 });
    }
}

TEST(StateMachines, AJumpWhileJumpingIsOnlyLogged)
{
    quern::testing::LogCapture warnings(2);
    StateMachine machine { JUMPING, FALLING, 0 };
    jump(machine);
    expectMachine(machine, { JUMPING, FALLING, 0 });
    EXPECT_TRUE(warnings.contains("Jump while jumping"));
}

TEST(StateMachines, InvalidMovementStatesAreFatal)
{
    for (const i32 state : { 0, 5, -1 }) {
        StateMachine machine { state, WAITING, 0 };
        EXPECT_DEATH(fall(machine), "Unreachable code hit") << state;
        EXPECT_DEATH(jump(machine), "Unreachable code hit") << state;
        PlayerMovement movement {};
        resetMachine(movement.movementState, state, WAITING);
        EXPECT_DEATH(settleOnGround(movement), "Unreachable code hit") << state;
        EXPECT_DEATH(settleFromAir(movement), "Unreachable code hit") << state;
    }
}

TEST(StateMachines, SettleByStateAndGroundSpeed)
{
    struct Case {
        const char* name;
        bool fromAir; // settleFromAir, else settleOnGround
        i32 from;
        Vec2f clusterUp, velocity, push;
        i32 expected;
    };
    const Vec2f up { 0.0f, 1.0f };
    const Case cases[] = {
        { "walking along the floor", false, WAITING, up, { 2.0f, 0.0f }, {}, WALKING },
        { "a push counts", false, WAITING, up, {}, { -0.5f, 0.0f }, WALKING },
        { "push against velocity: at rest", false, WALKING, up, { 1.0f, 0.0f }, { -1.0f, 0.0f }, WAITING },
        { "drifting at 0.0001 is at rest", false, WALKING, up, { 0.0001f, 0.0f }, {}, WAITING },
        { "just above 0.0001 walks", false, WAITING, up, { 0.00011f, 0.0f }, {}, WALKING },
        { "only the speed across the surface counts", false, WALKING, up, { 0.0f, 5.0f }, {}, WAITING },
        { "on a wall", false, WAITING, { 1.0f, 0.0f }, { 0.0f, -3.0f }, {}, WALKING },
        { "off a cluster nothing walks", false, WALKING, {}, { 4.0f, 0.0f }, {}, WAITING },
        { "the ground settle leaves the air alone", false, FALLING, up, { 4.0f, 0.0f }, {}, FALLING },
        { "landing always waits", true, JUMPING, up, { 4.0f, 0.0f }, {}, WAITING },
        { "landing from a fall", true, FALLING, up, {}, {}, WAITING },
        { "the air settle leaves the ground alone", true, WALKING, up, {}, {}, WALKING },
    };
    for (const Case& c : cases) {
        PlayerMovement movement {};
        resetMachine(movement.movementState, c.from, c.from);
        movement.clusterUp = c.clusterUp;
        movement.velocity = c.velocity;
        movement.pushVelocity = c.push;
        if (c.fromAir)
            settleFromAir(movement);
        else
            settleOnGround(movement);
        EXPECT_EQ(movement.movementState[kMachineState], c.expected) << c.name;
    }
}

TEST(StateMachines, MovementStateNames)
{
    EXPECT_STREQ(movementStateName(WAITING), "WAITING");
    EXPECT_STREQ(movementStateName(JUMPING), "JUMPING");
    EXPECT_STREQ(movementStateName(0), "<Invalid MovementState>");
}

} // namespace
