#pragma once
// Turns a joystick's raw button and axis numbers into the engine's fixed
// controller layout and applies per-stick dead zones. Back ends keep one per
// joystick; the input manager keeps a copy per device and translates every
// controller event through it before anyone sees the event.

#include "quern/Types.h"

namespace quern::input {

struct InputEvent;

struct GameControllerMapping {
    enum Button : i32 {
        A = 0,
        B = 1,
        X = 2,
        Y = 3,
        LeftShoulder = 4,
        RightShoulder = 5,
        Back = 6,
        Start = 7,
        LeftStick = 8,
        RightStick = 9,
        DPadUp = 10,
        DPadDown = 11,
        DPadLeft = 12,
        DPadRight = 13,
        Guide = 14,
        ButtonCount = 15,
    };
    enum Axis : i32 {
        LeftX = 0,
        LeftY = 1,
        RightX = 2,
        RightY = 3,
        LeftTrigger = 4,
        RightTrigger = 5,
        AxisCount = 6,
    };
    // Dead-zone groups: left stick, right stick, left trigger, right trigger.
    static constexpr i32 kDeadZoneCount = 4;

    // The default mapping: raw number n is engine number n, dead zones 0.25.
    GameControllerMapping() { reset(); }

    void reset();

    // Rewrites a controller event (buttons and axes) in place: the first engine
    // button or axis whose source is the event's code replaces it, and an axis
    // value gets its group's dead zone. An event without a match is left as it
    // is. Never rejects an event: always returns true.
    bool translate(InputEvent& event) const;

    // Drops every source the device does not have (it becomes -1) and clamps
    // the dead zones to 0 to 1.
    void validate(i32 axisCount, i32 buttonCount);

    // Applies the layout of a known joystick name; false (mapping unchanged)
    // for any other name.
    bool applyKnownControllerLayout(const char* joystickName);
    // The layout of controllers opened through the platform's game-controller
    // interface, whose buttons come in its own fixed order.
    void applyGameControllerLayout();

    bool operator==(const GameControllerMapping&) const = default;

    // Applies the dead zone of `axis`'s group to a value in -32768 to 32767.
    i32 applyDeadZone(i32 axis, i32 value) const;

    i32 archetype; // GameControllerArchetype
    i32 axisSources[AxisCount]; // raw number per engine axis; -1: none
    bool axisFromButton[AxisCount]; // the source is a raw button
    f32 deadZones[kDeadZoneCount]; // fractions of full deflection
    f32 axisThreshold; // -1 by default; kept for the back ends
    i32 buttonSources[ButtonCount]; // raw number per engine button; -1: none
    bool buttonFromAxis[ButtonCount]; // the source is a raw axis
};

} // namespace quern::input
