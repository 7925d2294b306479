#include "harmonize/input/InputBindings.h"

#include "harmonize/Settings.h"
#include "harmonize/input/InputReplayFiles.h"
#include "harmonize/utils/TextVariables.h"
#include "quern/input/InputContext.h"
#include "quern/input/InputManager.h"
#include "runtime/quern/input/ScriptedInputBackEnd.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::input::InputOrigin;

std::vector<std::string> names(const InputOriginList& list)
{
    std::vector<std::string> out;
    for (quern::u64 i = 0; i < list.count; ++i)
        out.emplace_back(quern::input::toString(list.at(i)));
    return out;
}

class InputBindingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        parseBindings(Settings::Input);
    }
    void TearDown() override
    {
        Settings::resetToDefaults();
        TextVariables::clear();
    }
};

TEST_F(InputBindingsTest, EmptyTextsGiveTheBuiltInDefaults)
{
    EXPECT_EQ(names(bindingList(kBindingLeft)),
        (std::vector<std::string> { "Xbox360DPadLeft", "Xbox360LeftStickLeft", "KeyboardCursorLeft", "KeyboardA" }));
    EXPECT_EQ(names(bindingList(kBindingJump)),
        (std::vector<std::string> { "Xbox360ButtonA", "KeyboardSpace", "KeyboardShiftLeft" }));
    EXPECT_EQ(names(bindingList(kBindingSuit)).size(), 5u);
}

TEST_F(InputBindingsTest, BindingTextsParseIntoTheirLists)
{
    struct Case {
        const char* text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        { "KeyboardSpace Xbox360ButtonB", { "KeyboardSpace", "Xbox360ButtonB" } },
        { "NoSuchOrigin KeyboardQ  ", { "KeyboardQ" } },
        { "NoSuchOrigin", { "Xbox360ButtonA", "KeyboardSpace", "KeyboardShiftLeft" } },
        { "KeyboardA KeyboardB KeyboardC KeyboardD KeyboardE KeyboardF KeyboardG",
            { "KeyboardA", "KeyboardB", "KeyboardC", "KeyboardD", "KeyboardE", "KeyboardF" } },
    };
    for (const Case& c : cases) {
        InputSettings input;
        input.jump = c.text;
        parseBindings(input);
        EXPECT_EQ(names(bindingList(kBindingJump)), c.expected) << c.text;
    }
}

TEST_F(InputBindingsTest, AssignKeyMovesAnOriginBetweenLists)
{
    EXPECT_TRUE(assignKey(kBindingRight, InputOrigin::KeyboardA));
    EXPECT_FALSE(bindingList(kBindingLeft).contains(InputOrigin::KeyboardA));
    EXPECT_EQ(bindingList(kBindingLeft).count, 3u);
    EXPECT_EQ(names(bindingList(kBindingRight)).back(), "KeyboardA");
    const quern::u64 count = bindingList(kBindingRight).count;
    EXPECT_TRUE(assignKey(kBindingRight, InputOrigin::KeyboardA));
    EXPECT_EQ(bindingList(kBindingRight).count, count);
}

TEST_F(InputBindingsTest, AFullListRefusesANewOriginAndChangesNothing)
{
    InputSettings input;
    input.suit = "KeyboardB KeyboardC KeyboardE KeyboardF KeyboardG KeyboardH";
    parseBindings(input);
    EXPECT_FALSE(assignKey(kBindingSuit, InputOrigin::KeyboardA));
    EXPECT_TRUE(bindingList(kBindingLeft).contains(InputOrigin::KeyboardA));
    EXPECT_EQ(bindingList(kBindingSuit).count, 6u);
}

TEST_F(InputBindingsTest, BindingTextsRoundTripThroughTheSettings)
{
    assignKey(kBindingJump, InputOrigin::KeyboardJ);
    InputSettings written;
    getBindingTexts(written);
    EXPECT_STREQ(written.jump, "Xbox360ButtonA KeyboardSpace KeyboardShiftLeft KeyboardJ");
    EXPECT_EQ(bindingText(bindingList(kBindingJump)), written.jump) << "the same text is interned once";
    parseBindings(written);
    EXPECT_TRUE(bindingList(kBindingJump).contains(InputOrigin::KeyboardJ));
}

TEST(ControlName, ParsesPrefixesAndNames)
{
    struct Case {
        const char* text;
        i32 defaultState;
        i32 kind;
        i32 value;
        i32 state;
    };
    const Case cases[] = {
        { "controls.suit", 0, ControlName::Action, kActionHarmonize, -1 },
        { "menu.back", 0, ControlName::Action, kActionBack, kInputStateMenu },
        { "game.jump", 2, ControlName::State, kHeldJump, kInputStateGame },
        { "cutscene.proceed", 0, ControlName::Action, kActionProceedCutscene, kInputStateCutscene },
        { "loading.skip", 0, ControlName::Action, kActionSkip, kInputStateLoadingScreen },
        { "leaderboards_top", 6, ControlName::Action, kActionLeaderboardsTop, 6 },
        { "right", 0, ControlName::State, kHeldRight, 0 },
        { "controls", 0, ControlName::None, 0, 0 },
        { "controls.", 0, ControlName::None, 0, -1 },
        { "game.Jump", 0, ControlName::None, 0, 0 },
    };
    for (const Case& c : cases) {
        const ControlName name = parseControlName(c.text, c.defaultState);
        EXPECT_EQ(name.kind, c.kind) << c.text;
        EXPECT_EQ(name.value, c.value) << c.text;
        EXPECT_EQ(name.switcherState, c.state) << c.text;
    }
}

TEST(ReplayFileNames, TestRunsLookInTheReplayDirectory)
{
    char name[256];
    replayTestFileName(name, "replays", "room01");
    EXPECT_STREQ(name, "replays/room01.replay");
    replayTestFileName(name, "", "room01");
    EXPECT_STREQ(name, "room01.replay");
    const std::string longName(300, 'x');
    replayTestFileName(name, "replays", longName.c_str());
    EXPECT_EQ(std::string(name).size(), 255u) << "cut, never written past the buffer";
}

TEST(ReplayFileNames, SavedReplaysCarryTheLocalTime)
{
    std::tm local {};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 4;
    local.tm_hour = 5;
    local.tm_min = 6;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    char name[256];
    replaySaveFileName(name, "room01", static_cast<quern::i64>(std::mktime(&local)));
    EXPECT_STREQ(name, "room01-20260304-050607.replay");
}

// The back end names a keyboard origin by key code and a controller's by button.
class PromptBackEnd final : public quern::input::InputBackEnd {
public:
    void open(quern::input::InputBackEndStatus& status) override { status = {}; }
    void close() override { }
    void warpMouse(i32, i32) override { }
    void showCursor(bool) override { }
    bool setRelativeMouseMode(bool) override { return true; }
    void pollEvents(quern::containers::EventQueue&) override { }
    i32 getDeviceCount() override { return 3; }
    void getDeviceInfo(quern::u8 device, quern::input::InputDeviceInfo& info) override
    {
        info = {};
        info.kind = device == 0 ? quern::input::kInputDeviceKeyboard
            : device == 1       ? quern::input::kInputDeviceMouse
                                : quern::input::kInputDeviceGameController;
    }
    void rumble(quern::u8, quern::u16, quern::u32) override { }
    const char* getStatusText() override { return ""; }
    InputOrigin getInputOrigin(quern::u8 device, quern::u16 type, i32 code) override
    {
        if (device == 0)
            return quern::input::keyCodeToInputOrigin(code);
        return quern::input::getArchetypeInputOrigin(quern::input::kArchetypeXboxOne, type, code);
    }
};

TEST_F(InputBindingsTest, PromptVariablesNameTheInputsOfTheDevice)
{
    PromptBackEnd backEnd;
    quern::input::InputManager manager(&backEnd);
    quern::input::InputContext context;
    context.bindAction(kActionSkip, quern::input::KeyDown, 9);
    context.bindAction(kActionSkip, quern::input::ControllerButtonDown, 1);
    context.bindAction(kActionProceedCutscene, quern::input::KeyDown, -1);
    context.bindAction(kActionAnyKey, quern::input::KeyDown, 32);

    updatePromptVariables(0, manager, context);
    ASSERT_NE(TextVariables::find("skip"), nullptr);
    EXPECT_STREQ(TextVariables::find("skip"), "KeyboardTab");
    EXPECT_EQ(TextVariables::find("proceed"), nullptr) << "a binding of every key names no key";
    updatePromptVariables(2, manager, context);
    EXPECT_STREQ(TextVariables::find("skip"), "XboxOneButtonB");
    EXPECT_EQ(TextVariables::count(), 1u);
}

TEST(TextVariables, SetCutsTheValueAndReplacesByName)
{
    TextVariables::set("suit", std::string(40, 'a').c_str());
    EXPECT_EQ(std::string(TextVariables::find("suit")), std::string(31, 'a'));
    TextVariables::set("suit", "KeyboardTab");
    TextVariables::set("skip", "B");
    EXPECT_EQ(TextVariables::count(), 2u);
    EXPECT_STREQ(TextVariables::find("suit"), "KeyboardTab");
    EXPECT_EQ(TextVariables::find("retry"), nullptr);
    TextVariables::clear();
    EXPECT_EQ(TextVariables::count(), 0u);
}

} // namespace
} // namespace harmonize
