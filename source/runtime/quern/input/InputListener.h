#pragma once
// Receivers of the input manager's events. Registered listeners are not owned.

#include "quern/input/InputEvent.h"

namespace quern::input {

class InputManager;

class InputListener {
public:
    virtual ~InputListener() = default;
    virtual void onInputEvent(const InputEvent& event, InputManager& manager) = 0;
};

class InputDeviceListener {
public:
    virtual ~InputDeviceListener() = default;
    virtual void onDeviceEvent(const InputDeviceEvent& event, InputManager& manager) = 0;
};

} // namespace quern::input
