#include "quern/input/InputOrigin.h"

#include "quern/input/GameControllerMapping.h"
#include "quern/input/InputEvent.h"
#include "quern/input/InputNames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace quern;
using namespace quern::input;

i32 value(InputOrigin origin) { return static_cast<i32>(origin); }

TEST(InputOrigin, NamesSitAtTheirFixedValues)
{
    // Settings store names, but prompts and tables use the numbers: both must hold.
    const struct {
        i32 value;
        const char* name;
    } cases[] = {
        { 0, "Unknown" },
        { 1, "PS4ButtonCross" },
        { 41, "PS4GyroRoll" },
        { 42, "XboxOneButtonA" },
        { 69, "XboxOneDPadRight" },
        { 70, "Xbox360ButtonA" },
        { 97, "Xbox360DPadRight" },
        { 98, "SteamButtonA" },
        { 137, "SteamGyroRoll" },
        { 138, "KeyboardAltLeft" },
        { 153, "KeyboardA" },
        { 175, "KeyboardW" },
        { 178, "KeyboardZ" },
        { 179, "Keyboard0" },
        { 188, "Keyboard9" },
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(toString(static_cast<InputOrigin>(c.value)), c.name);
        InputOrigin found = InputOrigin::Unknown;
        ASSERT_TRUE(findInputOrigin(c.name, found)) << c.name;
        EXPECT_EQ(value(found), c.value) << c.name;
    }
}

TEST(InputOrigin, ToStringOutsideTheEnumerationIsMarkedInvalid)
{
    EXPECT_STREQ(toString(static_cast<InputOrigin>(189)), "<Invalid InputOrigin>");
    EXPECT_STREQ(toString(static_cast<InputOrigin>(-1)), "<Invalid InputOrigin>");
}

TEST(InputOrigin, EveryNameFindsItsOwnOrigin)
{
    for (i32 i = 0; i < value(InputOrigin::Count); ++i) {
        InputOrigin found = InputOrigin::Unknown;
        ASSERT_TRUE(findInputOrigin(toString(static_cast<InputOrigin>(i)), found)) << i;
        EXPECT_EQ(value(found), i);
    }
}

TEST(InputOrigin, LowerCaseTextMatchesButUpperCaseTextDoesNot)
{
    InputOrigin found = InputOrigin::Unknown;
    EXPECT_TRUE(findInputOrigin("keyboardw", found));
    EXPECT_EQ(found, InputOrigin::KeyboardW);
    EXPECT_TRUE(findInputOrigin("xbox360buttona", found));
    EXPECT_EQ(found, InputOrigin::Xbox360ButtonA);
    found = InputOrigin::Unknown;
    EXPECT_FALSE(findInputOrigin("KEYBOARDW", found));
    EXPECT_FALSE(findInputOrigin("KeyboardW ", found));
    EXPECT_FALSE(findInputOrigin("", found));
    EXPECT_EQ(found, InputOrigin::Unknown); // untouched on failure
}

TEST(InputOrigin, ParsesBindingTextIntoOrigins)
{
    const struct {
        const char* text;
        i32 capacity;
        std::vector<InputOrigin> expected;
    } cases[] = {
        { "KeyboardW KeyboardA", 6, { InputOrigin::KeyboardW, InputOrigin::KeyboardA } },
        { "keyboardw", 6, { InputOrigin::KeyboardW } },
        { "KEYBOARDW", 6, {} },
        { "KeyboardW  NoSuchOrigin KeyboardS", 6, { InputOrigin::KeyboardW, InputOrigin::KeyboardS } },
        { "KeyboardCursorUp Xbox360DPadUp ", 6, { InputOrigin::KeyboardCursorUp, InputOrigin::Xbox360DPadUp } },
        { "", 6, {} },
        { "KeyboardW", 0, {} },
        { "KeyboardA KeyboardB KeyboardC Bogus KeyboardD KeyboardE KeyboardF KeyboardG KeyboardH", 6,
            { InputOrigin::KeyboardA, InputOrigin::KeyboardB, InputOrigin::KeyboardC, InputOrigin::KeyboardD,
                InputOrigin::KeyboardE, InputOrigin::KeyboardF } },
        // A word longer than any name is skipped, not cut to a prefix that might match.
        { "KeyboardWKeyboardWKeyboardWKeyboardWKeyboardWKeyboardWKeyboardWKeyboardW KeyboardQ", 6,
            { InputOrigin::KeyboardQ } },
    };
    for (const auto& c : cases) {
        InputOrigin origins[8] = {};
        const i32 count = parseInputOrigins(c.text, origins, c.capacity);
        ASSERT_EQ(count, static_cast<i32>(c.expected.size())) << c.text;
        for (i32 i = 0; i < count; ++i)
            EXPECT_EQ(origins[i], c.expected[i]) << c.text << " #" << i;
        if (c.capacity < 8) {
            EXPECT_EQ(origins[c.capacity], InputOrigin::Unknown) << "wrote past the capacity: " << c.text;
        }
    }
}

TEST(InputOrigin, KeyboardOriginsConvertToKeyCodesAndBack)
{
    const struct {
        InputOrigin origin;
        i32 keyCode;
    } cases[] = {
        { InputOrigin::KeyboardAltLeft, 308 },
        { InputOrigin::KeyboardAltRight, 307 },
        { InputOrigin::KeyboardBackspace, 8 },
        { InputOrigin::KeyboardControlLeft, 306 },
        { InputOrigin::KeyboardControlRight, 305 },
        { InputOrigin::KeyboardCursorDown, 274 },
        { InputOrigin::KeyboardCursorLeft, 276 },
        { InputOrigin::KeyboardCursorRight, 275 },
        { InputOrigin::KeyboardCursorUp, 273 },
        { InputOrigin::KeyboardEscape, 27 },
        { InputOrigin::KeyboardReturn, 13 },
        { InputOrigin::KeyboardShiftLeft, 304 },
        { InputOrigin::KeyboardShiftRight, 303 },
        { InputOrigin::KeyboardSpace, 32 },
        { InputOrigin::KeyboardTab, 9 },
        { InputOrigin::KeyboardA, 97 },
        { InputOrigin::KeyboardZ, 122 },
        { InputOrigin::Keyboard0, 48 },
        { InputOrigin::Keyboard9, 57 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(inputOriginToKeyCode(c.origin), c.keyCode) << toString(c.origin);
        EXPECT_EQ(keyCodeToInputOrigin(c.keyCode), c.origin) << c.keyCode;
    }
    EXPECT_EQ(inputOriginToKeyCode(InputOrigin::Xbox360ButtonA), 0);
    EXPECT_EQ(inputOriginToKeyCode(static_cast<InputOrigin>(500)), 0);
    EXPECT_EQ(keyCodeToInputOrigin(282), InputOrigin::Unknown); // F1
    EXPECT_EQ(keyCodeToInputOrigin(256), InputOrigin::Unknown); // keypad 0
    EXPECT_EQ(keyCodeToInputOrigin(0), InputOrigin::Unknown);
}

TEST(InputOrigin, GamepadOriginsGiveTheirMappedButton)
{
    using B = GameControllerMapping::Button;
    const struct {
        InputOrigin origin;
        i32 button;
    } cases[] = {
        { InputOrigin::PS4ButtonCross, B::A },
        { InputOrigin::PS4ButtonSquare, B::X },
        { InputOrigin::PS4ButtonTriangle, B::Y },
        { InputOrigin::PS4Share, B::Back },
        { InputOrigin::PS4Options, B::Start },
        { InputOrigin::PS4DPadRight, B::DPadRight },
        { InputOrigin::XboxOneView, B::Back },
        { InputOrigin::XboxOneMenu, B::Start },
        { InputOrigin::XboxOneRightStickClick, B::RightStick },
        { InputOrigin::Xbox360Back, B::Back },
        { InputOrigin::Xbox360Start, B::Start },
        { InputOrigin::Xbox360DPadLeft, B::DPadLeft },
        { InputOrigin::SteamBack, B::Back },
        { InputOrigin::SteamLeftStickClick, B::LeftStick },
        { InputOrigin::SteamLeftGrip, -1 },
        { InputOrigin::PS4GyroMove, -1 },
        { InputOrigin::KeyboardA, -1 },
        { InputOrigin::Unknown, -1 },
        { InputOrigin::Xbox360LeftTriggerPull, -1 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(inputOriginToControllerButton(c.origin), c.button) << toString(c.origin);
}

TEST(InputOrigin, ControllerEventsGiveXbox360AndXboxOneOrigins)
{
    const struct {
        u16 type;
        i32 code;
        InputOrigin xbox360;
        InputOrigin xboxOne;
    } cases[] = {
        { ControllerButtonDown, 0, InputOrigin::Xbox360ButtonA, InputOrigin::XboxOneButtonA },
        { ControllerButtonUp, 5, InputOrigin::Xbox360RightBumper, InputOrigin::XboxOneRightBumper },
        { ControllerButtonDown, 6, InputOrigin::Xbox360Back, InputOrigin::XboxOneView },
        { ControllerButtonDown, 7, InputOrigin::Xbox360Start, InputOrigin::XboxOneMenu },
        { ControllerButtonDown, 8, InputOrigin::Xbox360LeftStickClick, InputOrigin::XboxOneLeftStickClick },
        { ControllerButtonDown, 9, InputOrigin::Xbox360RightStickClick, InputOrigin::XboxOneRightStickClick },
        { ControllerButtonDown, 13, InputOrigin::Xbox360DPadRight, InputOrigin::XboxOneDPadRight },
        { ControllerButtonDown, 14, InputOrigin::Unknown, InputOrigin::Unknown },
        { ControllerAxis, 1, InputOrigin::Xbox360LeftStickMove, InputOrigin::XboxOneLeftStickMove },
        { ControllerAxis, 3, InputOrigin::Xbox360RightStickMove, InputOrigin::XboxOneRightStickMove },
        { ControllerAxis, 4, InputOrigin::Xbox360LeftTriggerPull, InputOrigin::XboxOneLeftTriggerPull },
        { ControllerAxis, 5, InputOrigin::Xbox360RightTriggerPull, InputOrigin::XboxOneRightTriggerPull },
        { ControllerAxis, 6, InputOrigin::Unknown, InputOrigin::Unknown },
        { KeyDown, 0, InputOrigin::Unknown, InputOrigin::Unknown },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(getControllerInputOrigin(c.type, c.code), c.xbox360) << c.type << "/" << c.code;
        EXPECT_EQ(getArchetypeInputOrigin(kArchetypeXbox360, c.type, c.code), c.xbox360);
        EXPECT_EQ(getArchetypeInputOrigin(kArchetypeXboxOne, c.type, c.code), c.xboxOne);
        for (const i32 other : { 0, 3, 4 })
            EXPECT_EQ(getArchetypeInputOrigin(other, c.type, c.code), InputOrigin::Unknown);
    }
}

TEST(InputOriginDeathTest, UnknownArchetypeIsFatal)
{
    EXPECT_DEATH(
        getArchetypeInputOrigin(5, ControllerButtonDown, 0), "Invalid enum value for type GameControllerArchetype");
}

TEST(InputNames, KeyNames)
{
    const struct {
        i32 code;
        const char* name;
    } cases[] = {
        { 8, "Backspace" },
        { 32, "Space" },
        { 33, "!" },
        { 34, "\"" },
        { 36, "$" },
        { 37, nullptr },
        { 38, "&" },
        { 48, "0" },
        { 57, "9" },
        { 64, "@" },
        { 65, nullptr },
        { 91, "[" },
        { 92, "\\" },
        { 96, "`" },
        { 97, "A" },
        { 122, "Z" },
        { 123, nullptr },
        { 127, "Delete" },
        { 256, "Keypad 0" },
        { 265, "Keypad 9" },
        { 266, "Keypad ." },
        { 269, "Keypad -" },
        { 271, "Keypad Enter" },
        { 272, "Keypad =" },
        { 273, "Up" },
        { 281, "Page Down" },
        { 282, "F1" },
        { 296, "F15" },
        { 297, nullptr },
        { 300, "Num Lock" },
        { 305, "Right Ctrl" },
        { 308, "Left Alt" },
        { 322, "Undo" },
        // Outside the key codes: -1 is the bindings' match-any code.
        { 323, nullptr },
        { -1, nullptr },
        { 1000000, nullptr },
    };
    for (const auto& c : cases) {
        for (const u16 type : { u16(KeyDown), u16(KeyUp) }) {
            const char* name = getInputName(type, c.code);
            if (c.name)
                EXPECT_STREQ(name, c.name) << c.code;
            else
                EXPECT_EQ(name, nullptr) << c.code;
        }
    }
}

TEST(InputNames, EveryNamedKeyHasADistinctName)
{
    // Two keys with one name would be indistinguishable in the key-binding menu.
    std::vector<std::string> seen;
    for (i32 code = 0; code < 323; ++code) {
        if (const char* name = getInputName(KeyDown, code)) {
            for (const std::string& other : seen)
                EXPECT_NE(other, name) << code;
            seen.push_back(name);
        }
    }
    EXPECT_EQ(seen.size(), 135u);
}

TEST(InputNames, MouseAndControllerButtonNames)
{
    EXPECT_STREQ(getInputName(MouseButtonDown, 0), "Left Mouse Button");
    EXPECT_STREQ(getInputName(MouseButtonUp, 2), "Right Mouse Button");
    EXPECT_STREQ(getInputName(MouseButtonDown, 7), "Mouse Button 8");
    EXPECT_EQ(getInputName(MouseButtonDown, 8), nullptr);
    EXPECT_EQ(getInputName(MouseButtonDown, -1), nullptr);
    EXPECT_STREQ(getInputName(ControllerButtonDown, 0), "A");
    EXPECT_STREQ(getInputName(ControllerButtonUp, 4), "Left Bumper");
    EXPECT_STREQ(getInputName(ControllerButtonDown, 10), "D-pad Up");
    EXPECT_STREQ(getInputName(ControllerButtonDown, 14), "Guide");
    EXPECT_EQ(getInputName(MouseMotion, 0), nullptr);
    EXPECT_EQ(getInputName(ControllerAxis, 0), nullptr);
}

TEST(InputNamesDeathTest, UnknownControllerButtonIsFatal)
{
    EXPECT_DEATH(getInputName(ControllerButtonDown, 15), "Invalid enum value for type GameControllerMapping::Button");
    EXPECT_DEATH(getControllerButtonName(-1), "Invalid enum value for type GameControllerMapping::Button");
}

} // namespace
