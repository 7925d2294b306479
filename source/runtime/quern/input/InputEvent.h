#pragma once
// The records an input back end pushes into the input manager's ring, and the
// descriptions of devices and back-end status that go with them.

#include "quern/Types.h"

#include <cstddef>

namespace quern::input {

struct GameControllerMapping;

enum InputEventType : u16 {
    KeyDown = 0, // code = key code
    KeyUp = 1,
    MouseButtonDown = 2, // button = 0 left, 1 middle, 2 right, 3 fourth, 4 fifth
    MouseButtonUp = 3,
    MouseMotion = 4, // code, value = pointer position or relative motion
    MouseWheel = 5, // code and button = vertical amount
    ControllerButtonDown = 6, // code = button (mapped: GameControllerMapping::Button)
    ControllerButtonUp = 7,
    ControllerAxis = 8, // code = axis (mapped: GameControllerMapping::Axis), value = position
    DeviceAdded = 13,
    DeviceRemoved = 14,
};

// Ring records with a type above this one are device changes.
inline constexpr u16 kLastInputEventType = 12;

inline bool isDeviceEventType(u32 type) { return type > kLastInputEventType; }

// One input; 16 bytes of ring payload.
struct InputEvent {
    i32 code = 0;
    i32 value = 0;
    i32 button = 0;
    u16 type = 0;
    u8 device = 0;
};
static_assert(sizeof(InputEvent) == 16);
static_assert(alignof(InputEvent) == 4);
static_assert(offsetof(InputEvent, code) == 0 && offsetof(InputEvent, value) == 4 && offsetof(InputEvent, button) == 8);
static_assert(offsetof(InputEvent, type) == 12 && offsetof(InputEvent, device) == 14);

// A device was added or removed; 4 bytes of ring payload.
struct InputDeviceEvent {
    u16 type = 0;
    u8 device = 0;
};
static_assert(sizeof(InputDeviceEvent) == 4);
static_assert(offsetof(InputDeviceEvent, type) == 0 && offsetof(InputDeviceEvent, device) == 2);

enum InputDeviceKind : i32 {
    kInputDeviceNone = 0,
    kInputDeviceKeyboard = 1,
    kInputDeviceMouse = 2,
    kInputDeviceGameController = 3,
};

struct InputDeviceInfo {
    u8 guid[16] = {}; // all zero when the platform gives none
    const char* name = ""; // owned by the back end
    const GameControllerMapping* mapping = nullptr; // owned by the back end; null: the default mapping
    i32 kind = kInputDeviceNone;
};

struct InputBackEndStatus {
    i32 code = 0; // 0: success
    const char* message = "";
};

} // namespace quern::input
