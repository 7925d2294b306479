#include "quern/input/InputOrigin.h"

#include "quern/input/GameControllerMapping.h"
#include "quern/input/InputEvent.h"
#include "quern/input/KeyCodes.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>
#include <iterator>

namespace quern::input {

namespace {

constexpr const char* kOriginNames[] = {
#define QUERN_INPUT_ORIGIN_NAME(name) #name,
    QUERN_INPUT_ORIGINS(QUERN_INPUT_ORIGIN_NAME)
#undef QUERN_INPUT_ORIGIN_NAME
};
static_assert(std::size(kOriginNames) == static_cast<u64>(InputOrigin::Count));

constexpr i32 kFirstKeyboardOrigin = static_cast<i32>(InputOrigin::KeyboardAltLeft);

// Key codes of the keyboard origins, from KeyboardAltLeft on.
constexpr i32 kKeyboardOriginKeys[] = { kKeyLeftAlt, kKeyRightAlt, kKeyBackspace, kKeyLeftControl, kKeyRightControl,
    kKeyDown, kKeyLeft, kKeyRight, kKeyUp, kKeyEscape, kKeyReturn, kKeyLeftShift, kKeyRightShift, kKeySpace, kKeyTab,
    // KeyboardA to KeyboardZ
    97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120,
    121, 122,
    // Keyboard0 to Keyboard9
    48, 49, 50, 51, 52, 53, 54, 55, 56, 57 };
static_assert(kFirstKeyboardOrigin + std::size(kKeyboardOriginKeys) == static_cast<u64>(InputOrigin::Count));

struct ControllerButtonOrigins {
    InputOrigin origin;
    i32 button;
};

using O = InputOrigin;
using B = GameControllerMapping::Button;

constexpr ControllerButtonOrigins kControllerButtonOrigins[] = {
    { O::PS4ButtonCross, B::A },
    { O::PS4ButtonCircle, B::B },
    { O::PS4ButtonSquare, B::X },
    { O::PS4ButtonTriangle, B::Y },
    { O::PS4LeftBumper, B::LeftShoulder },
    { O::PS4RightBumper, B::RightShoulder },
    { O::PS4Share, B::Back },
    { O::PS4Options, B::Start },
    { O::PS4LeftStickClick, B::LeftStick },
    { O::PS4RightStickClick, B::RightStick },
    { O::PS4DPadUp, B::DPadUp },
    { O::PS4DPadDown, B::DPadDown },
    { O::PS4DPadLeft, B::DPadLeft },
    { O::PS4DPadRight, B::DPadRight },

    { O::XboxOneButtonA, B::A },
    { O::XboxOneButtonB, B::B },
    { O::XboxOneButtonX, B::X },
    { O::XboxOneButtonY, B::Y },
    { O::XboxOneLeftBumper, B::LeftShoulder },
    { O::XboxOneRightBumper, B::RightShoulder },
    { O::XboxOneView, B::Back },
    { O::XboxOneMenu, B::Start },
    { O::XboxOneLeftStickClick, B::LeftStick },
    { O::XboxOneRightStickClick, B::RightStick },
    { O::XboxOneDPadUp, B::DPadUp },
    { O::XboxOneDPadDown, B::DPadDown },
    { O::XboxOneDPadLeft, B::DPadLeft },
    { O::XboxOneDPadRight, B::DPadRight },

    { O::Xbox360ButtonA, B::A },
    { O::Xbox360ButtonB, B::B },
    { O::Xbox360ButtonX, B::X },
    { O::Xbox360ButtonY, B::Y },
    { O::Xbox360LeftBumper, B::LeftShoulder },
    { O::Xbox360RightBumper, B::RightShoulder },
    { O::Xbox360Back, B::Back },
    { O::Xbox360Start, B::Start },
    { O::Xbox360LeftStickClick, B::LeftStick },
    { O::Xbox360RightStickClick, B::RightStick },
    { O::Xbox360DPadUp, B::DPadUp },
    { O::Xbox360DPadDown, B::DPadDown },
    { O::Xbox360DPadLeft, B::DPadLeft },
    { O::Xbox360DPadRight, B::DPadRight },

    { O::SteamButtonA, B::A },
    { O::SteamButtonB, B::B },
    { O::SteamButtonX, B::X },
    { O::SteamButtonY, B::Y },
    { O::SteamLeftBumper, B::LeftShoulder },
    { O::SteamRightBumper, B::RightShoulder },
    { O::SteamBack, B::Back },
    { O::SteamStart, B::Start },
    { O::SteamLeftStickClick, B::LeftStick },
};

// Xbox 360 origins of the mapped buttons 0 to 13 (the guide button has none).
constexpr InputOrigin kXbox360ButtonOrigins[] = {
    O::Xbox360ButtonA,
    O::Xbox360ButtonB,
    O::Xbox360ButtonX,
    O::Xbox360ButtonY,
    O::Xbox360LeftBumper,
    O::Xbox360RightBumper,
    O::Xbox360Back,
    O::Xbox360Start,
    O::Xbox360LeftStickClick,
    O::Xbox360RightStickClick,
    O::Xbox360DPadUp,
    O::Xbox360DPadDown,
    O::Xbox360DPadLeft,
    O::Xbox360DPadRight,
};

// Xbox 360 origins of the mapped axes 0 to 5.
constexpr InputOrigin kXbox360AxisOrigins[] = {
    O::Xbox360LeftStickMove,
    O::Xbox360LeftStickMove,
    O::Xbox360RightStickMove,
    O::Xbox360RightStickMove,
    O::Xbox360LeftTriggerPull,
    O::Xbox360RightTriggerPull,
};

// The Xbox One block repeats the Xbox 360 block's order 28 values lower.
constexpr i32 kXbox360ToXboxOne = static_cast<i32>(O::Xbox360ButtonA) - static_cast<i32>(O::XboxOneButtonA);

bool nameMatches(const char* name, const char* text, u64 length)
{
    for (u64 i = 0; i < length; ++i) {
        const char c = text[i];
        if (name[i] != c && name[i] != c - 32)
            return false;
    }
    return true;
}

} // namespace

const char* toString(InputOrigin origin)
{
    const i32 value = static_cast<i32>(origin);
    if (value < 0 || value >= static_cast<i32>(InputOrigin::Count))
        return "<Invalid InputOrigin>";
    return kOriginNames[value];
}

bool findInputOrigin(const char* text, InputOrigin& origin)
{
    const u64 length = std::strlen(text);
    for (i32 i = 0; i < static_cast<i32>(InputOrigin::Count); ++i) {
        const char* name = kOriginNames[i];
        if (std::strlen(name) == length && nameMatches(name, text, length)) {
            origin = static_cast<InputOrigin>(i);
            return true;
        }
    }
    return false;
}

i32 parseInputOrigins(const char* text, InputOrigin* origins, i32 capacity)
{
    i32 count = 0;
    char word[64];
    const char* cursor = text;
    while (count < capacity) {
        const char* end = std::strchr(cursor, ' ');
        const u64 length = end ? static_cast<u64>(end - cursor) : std::strlen(cursor);
        // A word longer than every name cannot match; it is skipped like any unknown word.
        if (length < sizeof word) {
            std::memcpy(word, cursor, length);
            word[length] = '\0';
            if (findInputOrigin(word, origins[count]))
                ++count;
        }
        if (!end)
            break;
        cursor = end + 1;
    }
    return count;
}

i32 inputOriginToKeyCode(InputOrigin origin)
{
    const i32 value = static_cast<i32>(origin);
    if (value < kFirstKeyboardOrigin || value >= static_cast<i32>(InputOrigin::Count))
        return 0;
    return kKeyboardOriginKeys[value - kFirstKeyboardOrigin];
}

InputOrigin keyCodeToInputOrigin(i32 keyCode)
{
    for (u64 i = 0; i < std::size(kKeyboardOriginKeys); ++i) {
        if (kKeyboardOriginKeys[i] == keyCode)
            return static_cast<InputOrigin>(kFirstKeyboardOrigin + static_cast<i32>(i));
    }
    return InputOrigin::Unknown;
}

i32 inputOriginToControllerButton(InputOrigin origin)
{
    for (const ControllerButtonOrigins& entry : kControllerButtonOrigins) {
        if (entry.origin == origin)
            return entry.button;
    }
    return -1;
}

InputOrigin getControllerInputOrigin(u16 eventType, i32 code)
{
    if (eventType == ControllerButtonDown || eventType == ControllerButtonUp) {
        if (code >= 0 && code < static_cast<i32>(std::size(kXbox360ButtonOrigins)))
            return kXbox360ButtonOrigins[code];
        return InputOrigin::Unknown;
    }
    if (eventType == ControllerAxis) {
        if (code >= 0 && code < static_cast<i32>(std::size(kXbox360AxisOrigins)))
            return kXbox360AxisOrigins[code];
    }
    return InputOrigin::Unknown;
}

InputOrigin getArchetypeInputOrigin(i32 archetype, u16 eventType, i32 code)
{
    switch (archetype) {
    case kArchetypeXbox360:
        return getControllerInputOrigin(eventType, code);
    case kArchetypeXboxOne: {
        const InputOrigin origin = getControllerInputOrigin(eventType, code);
        if (origin == InputOrigin::Unknown)
            return InputOrigin::Unknown;
        return static_cast<InputOrigin>(static_cast<i32>(origin) - kXbox360ToXboxOne);
    }
    case kArchetypeGeneric:
    case kArchetypeWirelessA:
    case kArchetypeWirelessB:
        return InputOrigin::Unknown;
    default:
        QUERN_FATAL_INVALID_ENUM("GameControllerArchetype");
    }
}

} // namespace quern::input
