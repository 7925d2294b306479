#include "harmonize/input/InputSwitcher.h"

#include "harmonize/Settings.h"
#include "harmonize/input/InputBindings.h"
#include "quern/input/InputManager.h"
#include "quern/input/KeyCodes.h"
#include "runtime/quern/input/ScriptedInputBackEnd.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

using namespace quern::input;

i32 countActionBindings(const InputContext& context, i32 action, u16 type, i32 code)
{
    i32 n = 0;
    for (quern::u64 i = 0; i < context.actionBindings().count(); ++i) {
        const auto& b = context.actionBindings().at<ActionBinding>(i);
        n += b.action == action && b.eventType == static_cast<quern::i8>(type) && b.code == code;
    }
    return n;
}

bool hasStateBinding(const InputContext& context, i32 state, i32 eventClass, i32 code)
{
    for (quern::u64 i = 0; i < context.stateBindings().count(); ++i) {
        const auto& b = context.stateBindings().at<StateBinding>(i);
        if (b.state == state && b.eventClass == eventClass && b.code == code)
            return true;
    }
    return false;
}

class InputSwitcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        parseBindings(Settings::Input);
        switcher.bindContexts();
        for (const i32 kind : { kInputDeviceKeyboard, kInputDeviceMouse, kInputDeviceGameController }) {
            quern::testing::ScriptedDevice device;
            device.kind = kind;
            backEnd.devices.push_back(device);
        }
        switcher.attach(manager);
    }
    void TearDown() override { Settings::resetToDefaults(); }

    // One event through the manager, as a frame's fixed tick drains it.
    void send(u16 type, i32 code, quern::u8 device, i32 value = 0)
    {
        backEnd.queue(type, code, value, 0, device);
        backEnd.pollEvents(manager.getEventQueue());
        manager.update();
    }

    quern::testing::ScriptedInputBackEnd backEnd;
    InputManager manager { &backEnd };
    InputSwitcher switcher;
};

TEST_F(InputSwitcherTest, StartsInGameWithBothNotificationsPending)
{
    for (i32 state = 0; state < kInputSwitcherStateCount; ++state)
        EXPECT_EQ(switcher.context(state).enabled, state == kInputStateGame) << inputSwitcherStateName(state);
    EXPECT_EQ(switcher.lastDevice(), InputSwitcher::kNoDevice);
    EXPECT_EQ(switcher.activeDeviceKind(), kInputDeviceKeyboard);
    EXPECT_TRUE(switcher.takeContextChanged());
    EXPECT_TRUE(switcher.takeDeviceChanged());
    EXPECT_FALSE(switcher.takeContextChanged());
    EXPECT_EQ(manager.contextCount(), 7u);
    EXPECT_EQ(manager.contextAt(2), &switcher.context(kInputStateMenu));
    EXPECT_EQ(manager.listenerCount(), 1u);
}

TEST_F(InputSwitcherTest, NamesOfStatesActionsAndHeldStates)
{
    EXPECT_STREQ(inputSwitcherStateName(5), "LoadingScreen");
    EXPECT_STREQ(inputSwitcherStateName(7), "<Invalid InputSwitcherState>");
    EXPECT_STREQ(inputActionName(-1), "Invalid");
    EXPECT_STREQ(inputActionName(17), "LeaderboardsTop");
    EXPECT_STREQ(inputActionName(18), "<Invalid InputAction>");
    EXPECT_STREQ(inputStateName(4), "Jump");
    EXPECT_STREQ(inputStateName(-2), "<Invalid InputState>");
}

TEST_F(InputSwitcherTest, PushAndPopSwitchTheLiveContextAndLog)
{
    quern::testing::LogCapture log(3);
    switcher.takeContextChanged();
    ASSERT_TRUE(switcher.pushState(kInputStateMenu));
    EXPECT_TRUE(log.contains("Input state changing from Game to Menu"));
    EXPECT_FALSE(switcher.context(kInputStateGame).enabled);
    EXPECT_TRUE(switcher.context(kInputStateMenu).enabled);
    EXPECT_TRUE(switcher.takeContextChanged());
    switcher.popState();
    EXPECT_EQ(switcher.topState(), kInputStateGame);
    EXPECT_TRUE(switcher.context(kInputStateGame).enabled);
    EXPECT_FALSE(switcher.context(kInputStateMenu).enabled);
}

TEST_F(InputSwitcherTest, ChangingAStateToItselfKeepsItEnabled)
{
    switcher.pushState(kInputStateMenu);
    switcher.takeContextChanged();
    switcher.changeState(kInputStateMenu, kInputStateMenu);
    EXPECT_TRUE(switcher.context(kInputStateMenu).enabled);
    EXPECT_TRUE(switcher.takeContextChanged());
}

TEST_F(InputSwitcherTest, APushOntoAFullStackIsRefusedWithAWarning)
{
    ASSERT_TRUE(switcher.pushState(kInputStateMenu));
    ASSERT_TRUE(switcher.pushState(kInputStateMenuWaiting));
    ASSERT_TRUE(switcher.pushState(kInputStateLeaderboards));
    quern::testing::LogCapture warnings(2);
    EXPECT_FALSE(switcher.pushState(kInputStateCutscene));
    EXPECT_TRUE(warnings.contains("Cutscene"));
    EXPECT_EQ(switcher.stackDepth(), 4);
    EXPECT_EQ(switcher.topState(), kInputStateLeaderboards);
    EXPECT_TRUE(switcher.context(kInputStateLeaderboards).enabled);
    EXPECT_FALSE(switcher.context(kInputStateCutscene).enabled);
}

TEST_F(InputSwitcherTest, QuickSaveRestoresTheStackAndItsContexts)
{
    switcher.pushState(kInputStateCutscene);
    switcher.saveStates();
    switcher.popState();
    switcher.pushState(kInputStateMenu);
    switcher.restoreStates();
    EXPECT_EQ(switcher.stackDepth(), 2);
    EXPECT_EQ(switcher.topState(), kInputStateCutscene);
    EXPECT_TRUE(switcher.context(kInputStateCutscene).enabled);
    EXPECT_FALSE(switcher.context(kInputStateGame).enabled);
}

TEST_F(InputSwitcherTest, OnlyKeyboardAndControllerEventsChangeTheDevice)
{
    switcher.takeDeviceChanged();
    send(MouseButtonDown, 0, 1);
    send(MouseMotion, 5, 1, 7);
    EXPECT_EQ(switcher.lastDevice(), InputSwitcher::kNoDevice);
    EXPECT_FALSE(switcher.takeDeviceChanged());

    send(ControllerButtonDown, 0, 2);
    EXPECT_EQ(switcher.lastDevice(), 2);
    EXPECT_EQ(switcher.activeDeviceKind(), kInputDeviceGameController);
    EXPECT_TRUE(switcher.takeDeviceChanged());

    send(KeyDown, 'x', 0);
    EXPECT_TRUE(switcher.takeDeviceChanged());
    send(KeyDown, 'y', 0);
    send(KeyUp, 'y', 0);
    EXPECT_FALSE(switcher.takeDeviceChanged());
    EXPECT_EQ(switcher.activeDeviceKind(), kInputDeviceKeyboard);
}

TEST_F(InputSwitcherTest, GameContextFollowsTheBindingLists)
{
    const InputContext& game = switcher.context(kInputStateGame);
    EXPECT_STREQ(game.name, "Game");
    EXPECT_TRUE(hasStateBinding(game, kHeldJump, 0, kKeySpace));
    EXPECT_TRUE(hasStateBinding(game, kHeldJump, 6, 0));
    EXPECT_TRUE(hasStateBinding(game, kHeldLeft, 0, kKeyLeft));
    EXPECT_TRUE(hasStateBinding(game, kHeldLeft, 6, 12));
    EXPECT_EQ(countActionBindings(game, kActionHarmonize, ControllerButtonDown, 4), 1);

    InputSettings input;
    input.jump = "KeyboardSpace Xbox360ButtonB";
    parseBindings(input);
    switcher.bindContexts();
    EXPECT_TRUE(hasStateBinding(game, kHeldJump, 6, 1));
    EXPECT_FALSE(hasStateBinding(game, kHeldJump, 6, 0));
    EXPECT_FALSE(hasStateBinding(game, kHeldJump, 0, kKeyLeftShift));
}

TEST_F(InputSwitcherTest, CutsceneBindsTheDefaultJumpKeyOnce)
{
    const InputContext& cutscene = switcher.context(kInputStateCutscene);
    EXPECT_EQ(countActionBindings(cutscene, kActionProceedCutscene, KeyDown, kKeySpace), 1);
    EXPECT_EQ(countActionBindings(cutscene, kActionSkip, KeyDown, kKeyTab), 1);
    EXPECT_EQ(countActionBindings(cutscene, kActionHarmonize, KeyDown, kKeyTab), 1);
    Settings::Input.keyboardJump = 'j';
    switcher.bindContexts();
    EXPECT_EQ(countActionBindings(cutscene, kActionProceedCutscene, KeyDown, 'j'), 1);
}

TEST_F(InputSwitcherTest, EventsReachOnlyTheContextOnTop)
{
    send(KeyDown, kKeyEscape, 0);
    EXPECT_EQ(switcher.context(kInputStateGame).getActionCount(kActionPause), 1);
    switcher.pushState(kInputStateMenu);
    send(KeyDown, kKeyEscape, 0);
    EXPECT_EQ(switcher.context(kInputStateGame).getActionCount(kActionPause), 0);
    EXPECT_EQ(switcher.context(kInputStateMenu).getActionCount(kActionPause), 1);
    EXPECT_EQ(switcher.context(kInputStateMenu).getActionCount(kActionCancel), 1);
}

} // namespace
} // namespace harmonize
