#pragma once
// Platform-neutral names of physical inputs (keys, and the buttons, sticks and
// triggers of several controller families), as the key-binding settings store
// them, with the conversions to and from key codes and controller buttons.

#include "quern/Types.h"
#include "quern/input/InputOriginList.h"

namespace quern::input {

enum class InputOrigin : i32 {
#define QUERN_INPUT_ORIGIN_ENUMERATOR(name) name,
    QUERN_INPUT_ORIGINS(QUERN_INPUT_ORIGIN_ENUMERATOR)
#undef QUERN_INPUT_ORIGIN_ENUMERATOR
        Count
};
static_assert(static_cast<i32>(InputOrigin::Count) == 189);

// Layout families of controllers, as a controller mapping records them.
enum GameControllerArchetype : i32 {
    kArchetypeGeneric = 0,
    kArchetypeXbox360 = 1,
    kArchetypeXboxOne = 2,
    kArchetypeWirelessA = 3,
    kArchetypeWirelessB = 4,
};

// The origin's name; "<Invalid InputOrigin>" outside the enumeration.
const char* toString(InputOrigin origin);

// Finds the origin whose name matches `text` exactly, where a lower-case text
// letter also matches the name's upper-case letter (never the other way:
// stored settings were written with this rule). False when none matches.
bool findInputOrigin(const char* text, InputOrigin& origin);

// Looks up each blank-separated word of `text` and stores the recognised ones,
// at most `capacity`; unknown and empty words are skipped. Returns the count.
i32 parseInputOrigins(const char* text, InputOrigin* origins, i32 capacity);

// The key code of a keyboard origin, 0 for any other.
i32 inputOriginToKeyCode(InputOrigin origin);
// The first keyboard origin with this key code, Unknown when none has it.
InputOrigin keyCodeToInputOrigin(i32 keyCode);
// The mapped controller button of a gamepad origin, -1 for any other.
i32 inputOriginToControllerButton(InputOrigin origin);

// The Xbox 360 origin of a mapped controller event (button or axis), Unknown
// for other inputs and event types.
InputOrigin getControllerInputOrigin(u16 eventType, i32 code);
// The origin of a mapped controller event for a layout family. Fatal
// "Invalid enum value for type GameControllerArchetype" outside the family list.
InputOrigin getArchetypeInputOrigin(i32 archetype, u16 eventType, i32 code);

} // namespace quern::input
