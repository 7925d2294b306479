#include "quern/input/GameControllerMapping.h"

#include "quern/input/InputEvent.h"
#include "quern/input/InputOrigin.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <iterator>

namespace quern::input {

namespace {

constexpr i32 kNone = -1;

struct Layout {
    i32 axisSources[GameControllerMapping::AxisCount];
    bool axisFromButton[GameControllerMapping::AxisCount];
    i32 buttonSources[GameControllerMapping::ButtonCount];
};

constexpr Layout kXInputLayout = {
    { 0, 1, 4, 3, 2, 2 },
    {},
    { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 11, 14 },
};
constexpr f32 kXInputDeadZones[GameControllerMapping::kDeadZoneCount] = { 0.23953612f, 0.26517129f, 0.21f, 0.21f };

constexpr Layout kThrustmasterLayout = {
    { 0, 1, 3, 2, 5, 7 },
    { false, false, false, false, true, true },
    { 0, 2, 1, 3, 4, 6, 8, 9, 10, 11, 12, 14, 15, 13, kNone },
};

constexpr Layout kDualActionLayout = {
    { 0, 1, 2, 3, 6, 7 },
    { false, false, false, false, true, true },
    { 1, 2, 0, 3, 4, 5, 8, 9, 10, 11, 12, 14, 15, 13, kNone },
};

// The game-controller interface numbers its buttons a, b, x, y, back, guide,
// start, left stick, right stick, left shoulder, right shoulder, d-pad up,
// down, left, right.
constexpr Layout kGameControllerLayout = {
    { 0, 1, 2, 3, 4, 5 },
    {},
    { 0, 1, 2, 3, 9, 10, 4, 6, 7, 8, 11, 12, 13, 14, 5 },
};

constexpr i32 kDeadZoneGroups[GameControllerMapping::AxisCount] = { 0, 0, 1, 1, 2, 3 };

void applyLayout(GameControllerMapping& mapping, const Layout& layout)
{
    std::memcpy(mapping.axisSources, layout.axisSources, sizeof mapping.axisSources);
    std::memcpy(mapping.axisFromButton, layout.axisFromButton, sizeof mapping.axisFromButton);
    std::memcpy(mapping.buttonSources, layout.buttonSources, sizeof mapping.buttonSources);
    std::fill(std::begin(mapping.buttonFromAxis), std::end(mapping.buttonFromAxis), false);
}

void applyXInputLayout(GameControllerMapping& mapping)
{
    applyLayout(mapping, kXInputLayout);
    mapping.archetype = kArchetypeXbox360;
    std::memcpy(mapping.deadZones, kXInputDeadZones, sizeof mapping.deadZones);
}

bool containsAny(const char* name, std::initializer_list<const char*> parts)
{
    for (const char* part : parts) {
        if (std::strstr(name, part))
            return true;
    }
    return false;
}

bool equalsAny(const char* name, std::initializer_list<const char*> names)
{
    for (const char* candidate : names) {
        if (std::strcmp(name, candidate) == 0)
            return true;
    }
    return false;
}

i32 validSource(i32 source, i32 limit) { return source >= 0 && source < limit ? source : kNone; }

} // namespace

void GameControllerMapping::reset()
{
    archetype = kArchetypeGeneric;
    for (i32 i = 0; i < AxisCount; ++i) {
        axisSources[i] = i;
        axisFromButton[i] = false;
    }
    for (f32& deadZone : deadZones)
        deadZone = 0.25f;
    axisThreshold = -1.0f;
    for (i32 i = 0; i < ButtonCount; ++i) {
        buttonSources[i] = i;
        buttonFromAxis[i] = false;
    }
}

bool GameControllerMapping::translate(InputEvent& event) const
{
    if (event.type == ControllerButtonDown || event.type == ControllerButtonUp) {
        for (i32 button = 0; button < ButtonCount; ++button) {
            if (buttonSources[button] == event.code) {
                event.code = button;
                break;
            }
        }
    } else if (event.type == ControllerAxis) {
        for (i32 axis = 0; axis < AxisCount; ++axis) {
            if (axisSources[axis] == event.code) {
                event.code = axis;
                event.value = applyDeadZone(axis, event.value);
                break;
            }
        }
    }
    return true;
}

i32 GameControllerMapping::applyDeadZone(i32 axis, i32 value) const
{
    const f32 scaled = deadZones[kDeadZoneGroups[axis]] * 32767.0f;
    if (!(scaled >= 1.0f)) // also a dead zone that is not a number
        return value;
    if (scaled >= 32768.0f) // wider than the axis: nothing gets through
        return 0;
    const i32 deadZone = static_cast<i32>(scaled);
    // Products of values within -32768..32767 fit 32 bits; the wider type only
    // keeps a stray out-of-range value from overflowing.
    const i64 v = value;
    if (v > deadZone)
        return static_cast<i32>(((v - deadZone) * 32768) / (32768 - deadZone));
    if (v < -deadZone)
        return static_cast<i32>(((v + deadZone) * 32768) / (32768 - deadZone));
    return 0;
}

void GameControllerMapping::validate(i32 axisCount, i32 buttonCount)
{
    for (i32 i = 0; i < AxisCount; ++i)
        axisSources[i] = validSource(axisSources[i], axisFromButton[i] ? buttonCount : axisCount);
    for (i32 i = 0; i < ButtonCount; ++i)
        buttonSources[i] = validSource(buttonSources[i], buttonFromAxis[i] ? axisCount : buttonCount);
    for (f32& deadZone : deadZones)
        deadZone = std::clamp(deadZone, 0.0f, 1.0f);
}

bool GameControllerMapping::applyKnownControllerLayout(const char* name)
{
    if (containsAny(name, { "XInput Controller", "Xbox 360", "XBOX 360", "X-Box 360" })) {
        applyXInputLayout(*this);
    } else if (std::strstr(name, "Wireless Controller")) {
        archetype = kArchetypeWirelessB;
    } else if (equalsAny(name, { "Thrustmaster dual analog 3.2", "Mega World Thrustmaster dual analog 3.2" })) {
        applyLayout(*this, kThrustmasterLayout);
    } else if (equalsAny(name, { "Logitech Dual Action", "Logitech Logitech Dual Action" })) {
        applyLayout(*this, kDualActionLayout);
    } else if (containsAny(name, { "Gamepad F310", "Gamepad F510", "Gamepad F710" })) {
        applyXInputLayout(*this);
        buttonSources[Guide] = kNone;
    } else if (std::strcmp(name, "Osmium Interface") == 0) {
        std::fill(std::begin(deadZones), std::end(deadZones), 1.0f);
    } else {
        return false;
    }
    return true;
}

void GameControllerMapping::applyGameControllerLayout() { applyLayout(*this, kGameControllerLayout); }

} // namespace quern::input
