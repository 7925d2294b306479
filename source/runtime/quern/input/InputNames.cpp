#include "quern/input/InputNames.h"

#include "quern/input/InputEvent.h"
#include "quern/input/KeyCodes.h"
#include "quern/platform/ErrorReporting.h"

#include <array>
#include <iterator>

namespace quern::input {

namespace {

using KeyNameTable = std::array<const char*, kKeyCodeCount>;

// Printable characters name themselves; each entry is a one-character string.
constexpr char kPrintable[] = "\0\0!\0\"\0#\0$\0%\0&\0'\0(\0)\0*\0+\0,\0-\0.\0/\0"
                              "0\0001\0002\0003\0004\0005\0006\0007\0008\0009\0:\0;\0<\0=\0>\0?\0@\0"
                              "A\0B\0C\0D\0E\0F\0G\0H\0I\0J\0K\0L\0M\0N\0O\0P\0Q\0R\0S\0T\0U\0V\0W\0X\0Y\0Z\0"
                              "[\0\\\0]\0^\0_\0`";

// The two-byte slot of character c (from 32 on) in kPrintable.
constexpr const char* printableName(i32 c) { return kPrintable + (c - 32) * 2; }

constexpr const char* kKeypadNames[] = { "Keypad 0", "Keypad 1", "Keypad 2", "Keypad 3", "Keypad 4", "Keypad 5",
    "Keypad 6", "Keypad 7", "Keypad 8", "Keypad 9", "Keypad .", "Keypad /", "Keypad *", "Keypad -", "Keypad +",
    "Keypad Enter", "Keypad =", "Up", "Down", "Right", "Left", "Insert", "Home", "End", "Page Up", "Page Down", "F1",
    "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12", "F13", "F14", "F15" };

constexpr const char* kModifierNames[] = { "Num Lock", "Caps Lock", "Scroll Lock", "Right Shift", "Left Shift",
    "Right Ctrl", "Left Ctrl", "Right Alt", "Left Alt", "Right Meta", "Left Meta", "Left Super", "Right Super", "Mode",
    "Compose", "Help", "Print", "Sysreq", "Break", "Menu", "Power", "Euro", "Undo" };

// Built at compile time, so no thread ever races to fill it on first use.
constexpr KeyNameTable makeKeyNames()
{
    KeyNameTable names {};
    names[kKeyBackspace] = "Backspace";
    names[kKeyTab] = "Tab";
    names[kKeyClear] = "Clear";
    names[kKeyReturn] = "Return";
    names[kKeyPause] = "Pause";
    names[kKeyEscape] = "Escape";
    names[kKeySpace] = "Space";
    for (i32 c = 33; c <= 64; ++c) {
        if (c != 37) // '%' has no name
            names[c] = printableName(c);
    }
    for (i32 c = 91; c <= 96; ++c)
        names[c] = printableName(c);
    for (i32 c = 'a'; c <= 'z'; ++c)
        names[c] = printableName(c - 'a' + 'A');
    names[kKeyDelete] = "Delete";
    for (i32 i = 0; i < static_cast<i32>(std::size(kKeypadNames)); ++i)
        names[kKeyKeypad0 + i] = kKeypadNames[i];
    for (i32 i = 0; i < static_cast<i32>(std::size(kModifierNames)); ++i)
        names[kKeyNumLock + i] = kModifierNames[i];
    return names;
}

constexpr KeyNameTable kKeyNames = makeKeyNames();

constexpr i32 countNames()
{
    i32 count = 0;
    for (const char* name : kKeyNames)
        count += name != nullptr;
    return count;
}
static_assert(countNames() == 135);

constexpr const char* kMouseButtonNames[] = { "Left Mouse Button", "Middle Mouse Button", "Right Mouse Button",
    "Mouse Button 4", "Mouse Button 5", "Mouse Button 6", "Mouse Button 7", "Mouse Button 8" };

constexpr const char* kControllerButtonNames[] = { "A", "B", "X", "Y", "Left Bumper", "Right Bumper", "Back", "Start",
    "Left Stick", "Right Stick", "D-pad Up", "D-pad Down", "D-pad Left", "D-pad Right", "Guide" };

} // namespace

const char* getInputName(u16 eventType, i32 code)
{
    switch (eventType) {
    case KeyDown:
    case KeyUp:
        // -1 is the bindings' match-any code, not a key.
        return code >= 0 && code < kKeyCodeCount ? kKeyNames[code] : nullptr;
    case MouseButtonDown:
    case MouseButtonUp:
        return code >= 0 && code < static_cast<i32>(std::size(kMouseButtonNames)) ? kMouseButtonNames[code] : nullptr;
    case ControllerButtonDown:
    case ControllerButtonUp:
        return getControllerButtonName(code);
    default:
        return nullptr;
    }
}

const char* getControllerButtonName(i32 button)
{
    if (button < 0 || button >= static_cast<i32>(std::size(kControllerButtonNames)))
        QUERN_FATAL_INVALID_ENUM("GameControllerMapping::Button");
    return kControllerButtonNames[button];
}

} // namespace quern::input
