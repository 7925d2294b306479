#include "quern/input/InputContext.h"

#include "quern/input/KeyCodes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace quern;
using namespace quern::input;

InputEvent event(u16 type, i32 code, i32 value = 0, i32 button = 0)
{
    InputEvent e;
    e.type = type;
    e.code = code;
    e.value = value;
    e.button = button;
    return e;
}

InputEvent key(u16 type, i32 code) { return event(type, code); }
InputEvent mouseButton(u16 type, i32 button) { return event(type, 10, 20, button); }

enum Action : i32 { Jump, Fire, AnyKey, Click };
enum State : i32 { Left, Right };

TEST(InputContext, DuplicateBindingsAreKeptOnce)
{
    InputContext context;
    context.bindAction(Jump, KeyDown, kKeySpace)
        .bindAction(Jump, KeyDown, kKeySpace)
        .bindAction(Fire, KeyDown, kKeySpace);
    EXPECT_EQ(context.actionBindings().count(), 2u);
    context.applyEvent(key(KeyDown, kKeySpace));
    EXPECT_EQ(context.getActionCount(Jump), 1); // not 2
    EXPECT_EQ(context.getActionCount(Fire), 1);

    context.bindState(Left, KeyDown, 'a').bindState(Left, KeyUp, 'a'); // same class: one binding
    EXPECT_EQ(context.stateBindings().count(), 1u);
    context.bindMouseAxis(0, 0, false).bindMouseAxis(0, 0, false).bindMouseAxis(0, 0, true);
    EXPECT_EQ(context.axisBindings().count(), 2u);
}

TEST(InputContext, BindingGrowsValueArraysZeroFilled)
{
    InputContext context;
    context.bindAction(5, KeyDown, 'x');
    ASSERT_EQ(context.actionCounts().count(), 6u);
    ASSERT_EQ(context.modifierCounters().count(), 6u);
    for (i32 i = 0; i < 6; ++i)
        EXPECT_EQ(context.actionCounts().at<i32>(i), 0);
    context.bindAction(2, KeyDown, 'y'); // never shrinks
    EXPECT_EQ(context.actionCounts().count(), 6u);
    context.bindState(3, KeyDown, 'a');
    EXPECT_EQ(context.heldCounters().count(), 4u);
    context.bindControllerAxis(4, 1);
    EXPECT_EQ(context.axisValues().count(), 5u);
}

TEST(InputContext, NegativeNumbersBindNothing)
{
    // The game's enumerations use -1 for "Invalid"; such a binding must not
    // write below its array.
    InputContext context;
    context.bindAction(-1, KeyDown, 'a').bindState(-1, KeyDown, 'a').bindMouseAxis(-1, 0, true);
    context.bindMouseWheel(-2, 0).bindControllerAxis(-1, 0);
    EXPECT_EQ(context.actionBindings().count(), 0u);
    EXPECT_EQ(context.stateBindings().count(), 0u);
    EXPECT_EQ(context.axisBindings().count(), 0u);
    EXPECT_EQ(context.actionCounts().count(), 0u);
    EXPECT_EQ(context.heldCounters().count(), 0u);
    EXPECT_EQ(context.axisValues().count(), 0u);
    context.applyEvent(key(KeyDown, 'a'));
    context.applyEvent(event(MouseMotion, 5, 5));
    context.clearFrameState();
    EXPECT_EQ(context.getActionCount(-1), 0);
    EXPECT_FALSE(context.isStateHeld(-1));
    EXPECT_EQ(context.getAxisValue(-1), 0);
}

TEST(InputContext, ActionsCountMatchingEvents)
{
    InputContext context;
    context.bindAction(Jump, KeyDown, kKeySpace)
        .bindAction(AnyKey, KeyDown, -1)
        .bindAction(Click, MouseButtonDown, 0)
        .bindAction(Fire, ControllerButtonDown, 1);
    const struct {
        InputEvent in;
        i32 jump, fire, anyKey, click;
    } cases[] = {
        { key(KeyDown, kKeySpace), 1, 0, 1, 0 },
        { key(KeyUp, kKeySpace), 0, 0, 0, 0 },
        { key(KeyDown, 'q'), 0, 0, 1, 0 },
        { mouseButton(MouseButtonDown, 0), 0, 0, 0, 1 },
        { mouseButton(MouseButtonDown, 2), 0, 0, 0, 0 },
        { event(MouseButtonDown, 0, 0, 1), 0, 0, 0, 0 }, // mouse buttons match on the button field
        { event(ControllerButtonDown, 1), 0, 1, 0, 0 },
        { event(ControllerButtonUp, 1), 0, 0, 0, 0 },
        { event(MouseMotion, 0, 0), 0, 0, 0, 0 },
    };
    for (const auto& c : cases) {
        context.clearFrameState();
        context.applyEvent(c.in);
        EXPECT_EQ(context.getActionCount(Jump), c.jump) << c.in.type << "/" << c.in.code;
        EXPECT_EQ(context.getActionCount(Fire), c.fire) << c.in.type << "/" << c.in.code;
        EXPECT_EQ(context.getActionCount(AnyKey), c.anyKey) << c.in.type << "/" << c.in.code;
        EXPECT_EQ(context.getActionCount(Click), c.click) << c.in.type << "/" << c.in.code;
    }
    context.clearFrameState();
    context.applyEvent(key(KeyDown, 'a'));
    context.applyEvent(key(KeyDown, 'b'));
    EXPECT_EQ(context.getActionCount(AnyKey), 2);
}

TEST(InputContext, MatchAnyCodeCountsAxesAndMotionOnlyThroughIt)
{
    InputContext context;
    context.bindAction(0, MouseMotion, -1).bindAction(1, MouseMotion, 3).bindAction(2, ControllerAxis, -1);
    context.applyEvent(event(MouseMotion, 3, 4));
    context.applyEvent(event(ControllerAxis, 0, 100));
    EXPECT_EQ(context.getActionCount(0), 1);
    EXPECT_EQ(context.getActionCount(1), 0);
    EXPECT_EQ(context.getActionCount(2), 1);
}

TEST(InputContext, HeldStatesCountPressesOfEveryBoundInput)
{
    InputContext context;
    context.bindState(Left, KeyDown, 'a').bindState(Left, KeyDown, kKeyLeft).bindState(Right, MouseButtonDown, 2);

    context.applyEvent(key(KeyUp, 'a')); // release without press
    EXPECT_FALSE(context.isStateHeld(Left));
    EXPECT_EQ(context.heldCounters().at<i8>(Left), 0);

    context.applyEvent(key(KeyDown, 'a'));
    context.applyEvent(key(KeyDown, kKeyLeft));
    context.applyEvent(key(KeyUp, 'a'));
    EXPECT_TRUE(context.isStateHeld(Left)); // held until both are up
    context.applyEvent(key(KeyUp, kKeyLeft));
    EXPECT_FALSE(context.isStateHeld(Left));

    context.applyEvent(mouseButton(MouseButtonDown, 2));
    EXPECT_TRUE(context.isStateHeld(Right));
    context.applyEvent(key(KeyDown, 2)); // a key with the button's number is another class
    context.applyEvent(mouseButton(MouseButtonUp, 2));
    EXPECT_FALSE(context.isStateHeld(Right));
}

TEST(InputContext, HeldCounterWrapsToZeroAt128Presses)
{
    InputContext context;
    context.bindState(Left, KeyDown, 'a');
    for (i32 i = 0; i < 127; ++i)
        context.applyEvent(key(KeyDown, 'a'));
    EXPECT_EQ(context.heldCounters().at<i8>(Left), 127);
    context.applyEvent(key(KeyDown, 'a'));
    EXPECT_EQ(context.heldCounters().at<i8>(Left), 0);
}

TEST(InputContext, PointerAxesTakeTheLastValueAndWheelResets)
{
    InputContext context;
    context.bindMouseAxis(0, 0, false).bindMouseAxis(1, 1, false).bindMouseWheel(2, 0).bindMouseAxis(3, 0, true);
    context.applyEvent(event(MouseMotion, 10, 20));
    context.applyEvent(event(MouseMotion, 11, 25));
    EXPECT_EQ(context.getAxisValue(0), 11); // last, not summed
    EXPECT_EQ(context.getAxisValue(1), 25);
    EXPECT_EQ(context.getAxisValue(3), 11);
    EXPECT_EQ(context.getAxisValue(2), 0); // motion never reaches the wheel

    context.applyEvent(event(MouseMotion, 0, 0)); // zero: written for absolute axes only
    EXPECT_EQ(context.getAxisValue(0), 0);
    EXPECT_EQ(context.getAxisValue(3), 11);

    context.applyEvent(event(MouseWheel, -120, 1, -120));
    EXPECT_EQ(context.getAxisValue(2), -120);
    EXPECT_EQ(context.getAxisValue(0), 0); // the wheel never reaches pointer axes

    context.clearFrameState();
    EXPECT_EQ(context.getAxisValue(2), 0);
    EXPECT_EQ(context.getAxisValue(3), 0);
    EXPECT_EQ(context.getAxisValue(1), 0); // last written 0 above
    context.applyEvent(event(MouseMotion, 70000, -40000)); // low 16 bits, sign-extended
    EXPECT_EQ(context.getAxisValue(0), static_cast<i16>(70000));
    EXPECT_EQ(context.getAxisValue(1), static_cast<i16>(-40000));
}

TEST(InputContext, ControllerAxesFollowTheirSource)
{
    InputContext context;
    context.bindControllerAxis(1, 0).bindControllerAxis(2, 1);
    context.applyEvent(event(ControllerAxis, 0, -32768));
    context.applyEvent(event(ControllerAxis, 1, 1000));
    context.applyEvent(event(ControllerAxis, 3, 5)); // unbound axis
    EXPECT_EQ(context.getAxisValue(1), -32768);
    EXPECT_EQ(context.getAxisValue(2), 1000);
    context.applyEvent(event(ControllerAxis, 1, 0));
    EXPECT_EQ(context.getAxisValue(2), 0);
    context.clearFrameState(); // stick axes keep their position
    EXPECT_EQ(context.getAxisValue(1), -32768);
}

TEST(InputContext, StickVector)
{
    const struct {
        i32 x, y;
        f32 outX, outY;
    } cases[] = {
        { 100, 0, 100.0f / 32768.0f, 0.0f },
        { 32767, 32767, std::sqrt(0.5f), std::sqrt(0.5f) },
        { -32768, 0, -1.0f, 0.0f },
        { 0, 0, 0.0f, 0.0f },
        { 16384, -16384, 0.5f, -0.5f },
    };
    for (const auto& c : cases) {
        InputContext context;
        context.bindControllerAxis(1, 0).bindControllerAxis(2, 1);
        context.applyEvent(event(ControllerAxis, 0, c.x));
        context.applyEvent(event(ControllerAxis, 1, c.y));
        const StickVector v = context.getStickVector();
        EXPECT_NEAR(v.x, c.outX, 1e-6f) << c.x << "," << c.y;
        EXPECT_NEAR(v.y, c.outY, 1e-6f) << c.x << "," << c.y;
        EXPECT_LE(std::sqrt(v.x * v.x + v.y * v.y), 1.0f + 1e-6f);
    }
}

TEST(InputContext, DisabledContextCountsButReportsNothing)
{
    InputContext context;
    context.bindAction(Jump, KeyDown, kKeySpace).bindState(Left, KeyDown, 'a').bindControllerAxis(1, 0);
    context.enabled = false;
    context.applyEvent(key(KeyDown, kKeySpace));
    context.applyEvent(key(KeyDown, 'a'));
    context.applyEvent(event(ControllerAxis, 0, 20000));
    EXPECT_EQ(context.getActionCount(Jump), 0);
    EXPECT_FALSE(context.isStateHeld(Left));
    EXPECT_EQ(context.getAxisValue(1), 0);
    EXPECT_EQ(context.getStickVector().x, 0.0f);
    context.enabled = true;
    EXPECT_EQ(context.getActionCount(Jump), 1);
    EXPECT_TRUE(context.isStateHeld(Left));
    EXPECT_EQ(context.getAxisValue(1), 20000);
    EXPECT_EQ(context.getActionCount(99), 0); // beyond the arrays
    EXPECT_FALSE(context.isStateHeld(99));
    EXPECT_EQ(context.getAxisValue(99), 0);
}

TEST(InputContext, ClearBindingsForgetsEverythingAndReusesTheArena)
{
    InputContext context;
    context.bindAction(Jump, KeyDown, kKeySpace).bindState(Left, KeyDown, 'a').bindMouseAxis(0, 0, false);
    context.applyEvent(key(KeyDown, kKeySpace));
    context.clearBindings();
    EXPECT_EQ(context.getActionCount(Jump), 0);
    context.applyEvent(key(KeyDown, 'a'));
    EXPECT_FALSE(context.isStateHeld(Left));
    EXPECT_EQ(context.actionBindings().count(), 0u);

    // Binding again after many clears never leaves the arena for small sets.
    for (i32 round = 0; round < 50; ++round) {
        context.clearBindings();
        for (i32 i = 0; i < 8; ++i)
            context.bindAction(i, KeyDown, 'a' + i);
        EXPECT_EQ(context.allocator().fallback(), nullptr) << round;
    }
    context.applyEvent(key(KeyDown, 'c'));
    EXPECT_EQ(context.getActionCount(2), 1);
}

TEST(InputContext, LargeBindingSetsOverflowIntoTheHeap)
{
    InputContext context;
    for (i32 i = 0; i < 200; ++i)
        context.bindAction(i, KeyDown, i);
    EXPECT_NE(context.allocator().fallback(), nullptr);
    for (i32 i = 0; i < 200; ++i)
        context.applyEvent(key(KeyDown, i));
    for (i32 i = 0; i < 200; ++i)
        ASSERT_EQ(context.getActionCount(i), 1) << i;
}

TEST(InputContext, ResetHeldStatesReleasesEverything)
{
    InputContext context;
    context.bindState(Left, KeyDown, 'a').bindAction(Jump, KeyDown, 'j');
    context.applyEvent(key(KeyDown, 'a'));
    context.applyEvent(key(KeyDown, 'j'));
    context.resetHeldStates();
    EXPECT_FALSE(context.isStateHeld(Left));
    EXPECT_EQ(context.getActionCount(Jump), 1); // counts are per frame, not held
}

TEST(InputContext, InputArraysAreTheContextsOwnArrays)
{
    InputContext context;
    context.bindAction(Jump, KeyDown, 'j').bindState(Right, KeyDown, 'd').bindControllerAxis(0, 0);
    InputArrays arrays = context.inputArrays();
    arrays.actionCounts->at<i32>(Jump) = 3;
    arrays.heldCounters->at<i8>(Right) = 1;
    arrays.axisValues->at<i32>(0) = -7;
    EXPECT_EQ(context.getActionCount(Jump), 3);
    EXPECT_TRUE(context.isStateHeld(Right));
    EXPECT_EQ(context.getAxisValue(0), -7);
}

TEST(InputContext, RecorderReadsTheContextsArraysInPlace)
{
    InputContext context;
    context.bindAction(Jump, KeyDown, 'j').bindState(Right, KeyDown, 'd').bindControllerAxis(0, 0);
    InputReplay replay;
    InputReplayRecorder recorder;
    context.applyEvent(key(KeyDown, 'j'));
    context.applyEvent(key(KeyDown, 'd'));
    context.applyEvent(event(ControllerAxis, 0, -500));
    ASSERT_TRUE(recorder.recordFrame(replay, context.inputArrays()));
    ASSERT_EQ(replay.frameCount(), 1u);
    EXPECT_EQ(replay.frameAt(0).actionPairs, 1);
    EXPECT_EQ(replay.frameAt(0).statePairs, 1);
    EXPECT_EQ(replay.frameAt(0).axisPairs, 1);
    const std::vector<i32> values(replay.values.dataAs<i32>(), replay.values.dataAs<i32>() + replay.values.count());
    EXPECT_EQ(values, (std::vector<i32> { Jump, 1, Right, 1, 0, -500 }));
    replay.release();
}

TEST(InputContext, EventClasses)
{
    const struct {
        u16 type;
        i8 eventClass;
    } cases[] = { { 0, 0 }, { 1, 0 }, { 2, 2 }, { 3, 2 }, { 4, 4 }, { 5, 4 }, { 6, 6 }, { 7, 6 }, { 8, 8 }, { 9, 9 },
        { 13, 9 }, { 14, 9 } };
    for (const auto& c : cases)
        EXPECT_EQ(getInputEventClass(c.type), c.eventClass) << c.type;
}

} // namespace
