#pragma once
// Display names of inputs, for menus and button prompts.

#include "quern/Types.h"

namespace quern::input {

// The name of a key (key events), mouse button (mouse-button events) or mapped
// controller button (controller-button events); null for inputs without a
// name, key codes outside the key-code range and other event types.
const char* getInputName(u16 eventType, i32 code);
// "A", "B", ... "Guide" for GameControllerMapping::Button values. Fatal
// "Invalid enum value for type GameControllerMapping::Button" for any other.
const char* getControllerButtonName(i32 button);

} // namespace quern::input
