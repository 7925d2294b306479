#include "quern/input/GameControllerMapping.h"

#include "quern/input/InputEvent.h"
#include "quern/input/InputOrigin.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

using namespace quern;
using namespace quern::input;
using M = GameControllerMapping;

InputEvent controllerEvent(u16 type, i32 code, i32 value = 0)
{
    InputEvent event;
    event.type = type;
    event.code = code;
    event.value = value;
    event.device = 2;
    return event;
}

std::vector<i32> buttons(const M& mapping)
{
    return { std::begin(mapping.buttonSources), std::end(mapping.buttonSources) };
}
std::vector<i32> axes(const M& mapping) { return { std::begin(mapping.axisSources), std::end(mapping.axisSources) }; }

TEST(GameControllerMapping, ResetGivesTheIdentityMapping)
{
    M mapping;
    mapping.applyKnownControllerLayout("Logitech Dual Action");
    mapping.archetype = 3;
    mapping.reset();
    EXPECT_EQ(mapping.archetype, 0);
    EXPECT_EQ(axes(mapping), (std::vector<i32> { 0, 1, 2, 3, 4, 5 }));
    EXPECT_EQ(buttons(mapping), (std::vector<i32> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14 }));
    for (i32 i = 0; i < M::AxisCount; ++i)
        EXPECT_FALSE(mapping.axisFromButton[i]);
    for (i32 i = 0; i < M::ButtonCount; ++i)
        EXPECT_FALSE(mapping.buttonFromAxis[i]);
    for (const f32 deadZone : mapping.deadZones)
        EXPECT_EQ(deadZone, 0.25f);
    EXPECT_EQ(mapping.axisThreshold, -1.0f);
}

TEST(GameControllerMapping, DeadZoneInIntegers)
{
    const M mapping; // 0.25: d = 8191
    const struct {
        i32 in;
        i32 out;
    } cases[] = {
        { 0, 0 },
        { 8191, 0 },
        { -8191, 0 },
        { 8192, 1 },
        { -8192, -1 },
        { 32767, 32766 },
        { -32768, -32768 },
        { 16384, (16384 - 8191) * 32768 / 24577 },
        { -16384, (-16384 + 8191) * 32768 / 24577 },
    };
    for (const auto& c : cases) {
        InputEvent event = controllerEvent(ControllerAxis, 0, c.in);
        EXPECT_TRUE(mapping.translate(event));
        EXPECT_EQ(event.value, c.out) << c.in;
        EXPECT_EQ(event.code, 0);
    }
}

TEST(GameControllerMapping, EachAxisUsesItsGroupsDeadZone)
{
    M mapping;
    mapping.deadZones[0] = 0.0f; // left stick: untouched values
    mapping.deadZones[1] = 0.5f;
    mapping.deadZones[2] = 0.25f;
    mapping.deadZones[3] = 1.0f; // right trigger: only full negative deflection survives
    const struct {
        i32 axis;
        i32 in;
        i32 out;
    } cases[] = {
        { 0, 123, 123 },
        { 1, -5, -5 },
        { 2, 16383, 0 },
        { 3, 16384, 1 },
        { 4, 8192, 1 },
        { 5, 32767, 0 },
        { 5, -32767, 0 },
        { 5, -32768, -32768 },
    };
    for (const auto& c : cases) {
        InputEvent event = controllerEvent(ControllerAxis, c.axis, c.in);
        mapping.translate(event);
        EXPECT_EQ(event.value, c.out) << "axis " << c.axis << " value " << c.in;
    }
}

TEST(GameControllerMapping, UnvalidatedDeadZonesNeverBreakTheArithmetic)
{
    M mapping;
    mapping.deadZones[0] = 2.0f;
    mapping.deadZones[1] = std::numeric_limits<f32>::quiet_NaN();
    mapping.deadZones[2] = -1.0f;
    const struct {
        i32 axis;
        i32 in;
        i32 out;
    } cases[] = { { 0, 32767, 0 }, { 0, -32768, 0 }, { 0, 100000, 0 }, { 2, 77, 77 }, { 2, -32768, -32768 },
        { 4, 40000, 40000 }, { 5, 70000, static_cast<i32>((70000ll - 8191) * 32768 / 24577) } };
    for (const auto& c : cases) {
        InputEvent event = controllerEvent(ControllerAxis, c.axis, c.in);
        mapping.translate(event);
        EXPECT_EQ(event.value, c.out) << c.axis << " " << c.in;
    }
}

TEST(GameControllerMapping, FirstMatchingSourceWins)
{
    M mapping;
    ASSERT_TRUE(mapping.applyKnownControllerLayout("Controller (XBOX 360 For Windows)"));
    EXPECT_EQ(mapping.archetype, kArchetypeXbox360);
    // Raw axis 2 feeds both triggers; it reports as the left one.
    InputEvent trigger = controllerEvent(ControllerAxis, 2, 32767);
    mapping.translate(trigger);
    EXPECT_EQ(trigger.code, M::LeftTrigger);
    InputEvent rightX = controllerEvent(ControllerAxis, 4, 0);
    mapping.translate(rightX);
    EXPECT_EQ(rightX.code, M::RightX);
    // Raw buttons 11 to 13 are the d-pad in another order.
    const struct {
        i32 raw;
        i32 mapped;
    } cases[] = { { 10, M::DPadUp }, { 12, M::DPadDown }, { 13, M::DPadLeft }, { 11, M::DPadRight }, { 14, M::Guide } };
    for (const auto& c : cases) {
        for (const u16 type : { u16(ControllerButtonDown), u16(ControllerButtonUp) }) {
            InputEvent event = controllerEvent(type, c.raw);
            mapping.translate(event);
            EXPECT_EQ(event.code, c.mapped) << c.raw;
        }
    }
}

TEST(GameControllerMapping, UnmappedInputsPassThroughUnchanged)
{
    M mapping;
    mapping.buttonSources[M::A] = -1;
    mapping.axisSources[M::LeftX] = -1;
    InputEvent button = controllerEvent(ControllerButtonDown, 20);
    EXPECT_TRUE(mapping.translate(button));
    EXPECT_EQ(button.code, 20);
    InputEvent axis = controllerEvent(ControllerAxis, 0, 100);
    EXPECT_TRUE(mapping.translate(axis));
    EXPECT_EQ(axis.code, 0);
    EXPECT_EQ(axis.value, 100); // no dead zone either
    InputEvent key = controllerEvent(KeyDown, 0, 100);
    EXPECT_TRUE(mapping.translate(key));
    EXPECT_EQ(key.code, 0);
    EXPECT_EQ(key.value, 100);
}

TEST(GameControllerMapping, KnownControllerLayouts)
{
    const std::vector<i32> identityAxes { 0, 1, 2, 3, 4, 5 };
    const struct {
        const char* name;
        bool known;
        i32 archetype;
        std::vector<i32> axes;
        std::vector<i32> buttons;
        bool triggersFromButtons;
        f32 leftStickDeadZone;
    } cases[] = {
        { "XInput Controller #1", true, 1, { 0, 1, 4, 3, 2, 2 }, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 11, 14 },
            false, 0.23953612f },
        { "Xbox 360 Wireless Receiver", true, 1, { 0, 1, 4, 3, 2, 2 },
            { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 11, 14 }, false, 0.23953612f },
        { "Logitech Gamepad F710", true, 1, { 0, 1, 4, 3, 2, 2 }, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 11, -1 },
            false, 0.23953612f },
        { "Sony Wireless Controller", true, 4, identityAxes, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14 },
            false, 0.25f },
        { "Thrustmaster dual analog 3.2", true, 0, { 0, 1, 3, 2, 5, 7 },
            { 0, 2, 1, 3, 4, 6, 8, 9, 10, 11, 12, 14, 15, 13, -1 }, true, 0.25f },
        { "Mega World Thrustmaster dual analog 3.2", true, 0, { 0, 1, 3, 2, 5, 7 },
            { 0, 2, 1, 3, 4, 6, 8, 9, 10, 11, 12, 14, 15, 13, -1 }, true, 0.25f },
        { "Logitech Logitech Dual Action", true, 0, { 0, 1, 2, 3, 6, 7 },
            { 1, 2, 0, 3, 4, 5, 8, 9, 10, 11, 12, 14, 15, 13, -1 }, true, 0.25f },
        { "Osmium Interface", true, 0, identityAxes, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14 }, false,
            1.0f },
        // Exact names do not match as substrings.
        { "Logitech Dual Action 2", false, 0, identityAxes, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14 }, false,
            0.25f },
        { "Some Pad", false, 0, identityAxes, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14 }, false, 0.25f },
    };
    for (const auto& c : cases) {
        M mapping;
        EXPECT_EQ(mapping.applyKnownControllerLayout(c.name), c.known) << c.name;
        EXPECT_EQ(mapping.archetype, c.archetype) << c.name;
        EXPECT_EQ(axes(mapping), c.axes) << c.name;
        EXPECT_EQ(buttons(mapping), c.buttons) << c.name;
        EXPECT_EQ(mapping.axisFromButton[M::LeftTrigger], c.triggersFromButtons) << c.name;
        EXPECT_EQ(mapping.axisFromButton[M::RightTrigger], c.triggersFromButtons) << c.name;
        EXPECT_EQ(mapping.deadZones[0], c.leftStickDeadZone) << c.name;
    }
    M xinput;
    xinput.applyKnownControllerLayout("XInput Controller");
    EXPECT_EQ(xinput.deadZones[1], 0.26517129f);
    EXPECT_EQ(xinput.deadZones[2], 0.21f);
    EXPECT_EQ(xinput.deadZones[3], 0.21f);
}

TEST(GameControllerMapping, GameControllerLayoutFollowsTheInterfacesButtonOrder)
{
    M mapping;
    mapping.applyKnownControllerLayout("Logitech Dual Action");
    mapping.buttonFromAxis[3] = true;
    mapping.applyGameControllerLayout();
    EXPECT_EQ(axes(mapping), (std::vector<i32> { 0, 1, 2, 3, 4, 5 }));
    EXPECT_EQ(buttons(mapping), (std::vector<i32> { 0, 1, 2, 3, 9, 10, 4, 6, 7, 8, 11, 12, 13, 14, 5 }));
    for (i32 i = 0; i < M::AxisCount; ++i)
        EXPECT_FALSE(mapping.axisFromButton[i]);
    for (i32 i = 0; i < M::ButtonCount; ++i)
        EXPECT_FALSE(mapping.buttonFromAxis[i]);
    // Interface button k arrives as engine button {0,1,2,3,6,14,7,8,9,4,5,10,11,12,13}[k].
    const i32 expected[] = { 0, 1, 2, 3, 6, 14, 7, 8, 9, 4, 5, 10, 11, 12, 13 };
    for (i32 k = 0; k < 15; ++k) {
        InputEvent event = controllerEvent(ControllerButtonDown, k);
        mapping.translate(event);
        EXPECT_EQ(event.code, expected[k]) << k;
    }
}

TEST(GameControllerMapping, ValidateDropsSourcesTheDeviceLacks)
{
    M mapping;
    mapping.applyKnownControllerLayout("Logitech Dual Action"); // triggers from buttons 6 and 7
    mapping.buttonSources[M::Guide] = -7;
    mapping.buttonSources[M::Start] = 1;
    mapping.buttonFromAxis[M::Start] = true; // axis 1
    mapping.deadZones[0] = -0.5f;
    mapping.deadZones[1] = 3.0f;
    mapping.validate(4, 12);
    EXPECT_EQ(axes(mapping), (std::vector<i32> { 0, 1, 2, 3, 6, 7 }));
    EXPECT_EQ(buttons(mapping), (std::vector<i32> { 1, 2, 0, 3, 4, 5, 8, 1, 10, 11, -1, -1, -1, -1, -1 }));
    EXPECT_EQ(mapping.deadZones[0], 0.0f);
    EXPECT_EQ(mapping.deadZones[1], 1.0f);

    mapping.validate(2, 7); // now axis 2, 3 and buttons 7 and up are gone
    EXPECT_EQ(axes(mapping), (std::vector<i32> { 0, 1, -1, -1, 6, -1 }));

    // A raw button the device lacks passes untranslated afterwards.
    InputEvent event = controllerEvent(ControllerButtonDown, 12);
    mapping.translate(event);
    EXPECT_EQ(event.code, 12);
}

TEST(GameControllerMapping, RawButtonNoEngineButtonUsesKeepsItsNumber)
{
    // Raw button 6 of this pad is its left trigger; no engine button takes it,
    // so it arrives as engine button 6 (back).
    M mapping;
    mapping.applyKnownControllerLayout("Logitech Dual Action");
    InputEvent event = controllerEvent(ControllerButtonDown, 6);
    mapping.translate(event);
    EXPECT_EQ(event.code, M::Back);
}

} // namespace
