#include "harmonize/input/InputSwitcher.h"

#include "harmonize/Settings.h"
#include "harmonize/input/InputBindings.h"
#include "quern/debug/Log.h"
#include "quern/input/GameControllerMapping.h"
#include "quern/input/InputManager.h"
#include "quern/input/KeyCodes.h"

#include <ostream>

namespace harmonize {
namespace {

using namespace quern::input;

constexpr i32 kAny = -1;

enum Button : i32 {
    kA = 0,
    kB = 1,
    kX = 2,
    kY = 3,
    kLeftBumper = 4,
    kRightBumper = 5,
    kBack = 6,
    kStart = 7,
    kDPadUp = 10,
    kDPadDown = 11,
    kDPadLeft = 12,
    kDPadRight = 13,
};

// Binds each origin of a list that names a key or a controller button; stick
// directions name neither and are read from the stick axes instead.
template <class Bind>
void bindOrigins(const InputOriginList& list, Bind&& bind)
{
    for (u64 i = 0; i < list.count; ++i) {
        const InputOrigin origin = list.at(i);
        if (const i32 key = inputOriginToKeyCode(origin); key != 0)
            bind(KeyDown, key);
        else if (const i32 button = inputOriginToControllerButton(origin); button >= 0)
            bind(ControllerButtonDown, button);
    }
}

} // namespace

InputSwitcher::InputSwitcher()
{
    bindDebugCamera();
    bindContexts();
    bindMenu();
    bindLoadingScreen();
    bindLeaderboards();
    for (i32 state = 0; state < kInputSwitcherStateCount; ++state)
        m_contexts[state].enabled = state == kInputStateGame;
}

void InputSwitcher::bindContexts()
{
    bindGame();
    bindCutscene();
}

void InputSwitcher::bindDebugCamera()
{
    InputContext& c = m_contexts[kInputStateDebugCamera];
    // States 0 to 3 move forward, back, left and right; state 4 runs faster.
    c.bindState(0, KeyDown, 'w').bindState(1, KeyDown, 's');
    c.bindState(2, KeyDown, 'a').bindState(3, KeyDown, 'd');
    c.bindState(4, KeyDown, kKeyLeftShift).bindState(4, MouseButtonDown, 2);
    c.bindMouseAxis(0, 0, true).bindMouseAxis(1, 1, true);
}

void InputSwitcher::bindGame()
{
    InputContext& c = m_contexts[kInputStateGame];
    c.clearBindings();
    c.name = "Game";
    c.bindAction(kActionPause, KeyDown, kKeyEscape);
    c.bindAction(kActionLeaderboardsOpen, KeyDown, kKeyBackspace);
    c.bindControllerAxis(1, 0).bindControllerAxis(2, 1);
    c.bindAction(kActionPause, ControllerButtonDown, kStart);
    c.bindAction(kActionAnyKey, KeyDown, kAny).bindAction(kActionAnyKey, ControllerButtonDown, kAny);
    bindOrigins(bindingList(kBindingSuit), [&](u16 type, i32 code) { c.bindAction(kActionHarmonize, type, code); });
    bindOrigins(bindingList(kBindingJump), [&](u16 type, i32 code) { c.bindState(kHeldJump, type, code); });
    constexpr std::pair<i32, i32> kMoves[]
        = { { kBindingLeft, kHeldLeft }, { kBindingRight, kHeldRight }, { kBindingUp, kHeldUp },
              { kBindingDown, kHeldDown } };
    for (const std::pair<i32, i32>& move : kMoves) {
        const i32 state = move.second;
        bindOrigins(bindingList(move.first), [&](u16 type, i32 code) { c.bindState(state, type, code); });
    }
}

void InputSwitcher::bindCutscene()
{
    const InputSettings& input = Settings::Input;
    InputContext& c = m_contexts[kInputStateCutscene];
    c.clearBindings();
    c.name = "Cutscene";
    c.bindAction(kActionPause, KeyDown, kKeyEscape);
    c.bindAction(kActionProceedCutscene, KeyDown, kKeySpace);
    c.bindAction(kActionProceedCutscene, KeyDown, input.keyboardJump);
    c.bindAction(kActionRepeatLevel, KeyDown, kKeyBackspace);
    c.bindAction(kActionProceedCutscene, ControllerButtonDown, kA);
    c.bindAction(kActionProceedCutscene, ControllerButtonDown, input.controllerJump);
    c.bindAction(kActionRepeatLevel, ControllerButtonDown, kBack);
    c.bindAction(kActionPause, ControllerButtonDown, kStart);
    c.bindAction(kActionSkip, KeyDown, kKeyTab).bindAction(kActionSkip, ControllerButtonDown, kB);
    c.bindAction(kActionHarmonize, KeyDown, kKeyTab);
    c.bindAction(kActionHarmonize, KeyDown, input.keyboardSuit);
    c.bindAction(kActionHarmonize, ControllerButtonDown, input.controllerSuit);
    c.bindAction(kActionAnyKey, KeyDown, kAny).bindAction(kActionAnyKey, ControllerButtonDown, kAny);
}

void InputSwitcher::bindMenu()
{
    InputContext& c = m_contexts[kInputStateMenu];
    c.name = "Menu";
    constexpr i32 kDirections[] = { kActionUp, kActionDown, kActionLeft, kActionRight };
    constexpr i32 kHeld[] = { kHeldUp, kHeldDown, kHeldLeft, kHeldRight };
    constexpr i32 kCursorKeys[] = { kKeyUp, kKeyDown, kKeyLeft, kKeyRight };
    constexpr i32 kLetterKeys[] = { 'w', 's', 'a', 'd' };
    constexpr i32 kPad[] = { kDPadUp, kDPadDown, kDPadLeft, kDPadRight };
    for (i32 i = 0; i < 4; ++i)
        c.bindAction(kDirections[i], KeyDown, kCursorKeys[i]);
    for (i32 i = 0; i < 4; ++i)
        c.bindAction(kDirections[i], KeyDown, kLetterKeys[i]);
    for (i32 i = 0; i < 4; ++i)
        c.bindState(kHeld[i], KeyDown, kCursorKeys[i]);
    for (i32 i = 0; i < 4; ++i)
        c.bindState(kHeld[i], KeyDown, kLetterKeys[i]);
    c.bindAction(kActionSelect, KeyDown, kKeyReturn).bindAction(kActionSelect, KeyDown, kKeySpace);
    c.bindAction(kActionBack, KeyDown, kKeyBackspace);
    c.bindAction(kActionPause, KeyDown, kKeyEscape);
    for (const i32 key : { 'l', 'y', 'z' })
        c.bindAction(kActionLeaderboardsOpen, KeyDown, key);
    for (i32 i = 0; i < 4; ++i)
        c.bindAction(kDirections[i], ControllerButtonDown, kPad[i]);
    for (i32 i = 0; i < 4; ++i)
        c.bindState(kHeld[i], ControllerButtonDown, kPad[i]);
    c.bindControllerAxis(1, 0).bindControllerAxis(2, 1);
    c.bindAction(kActionBack, ControllerButtonDown, kB);
    c.bindAction(kActionPause, ControllerButtonDown, kStart);
    c.bindAction(kActionSelect, ControllerButtonDown, kA);
    c.bindAction(kActionLeaderboardsOpen, ControllerButtonDown, kY);
    c.bindAction(kActionCancel, ControllerButtonDown, kBack);
    c.bindAction(kActionCancel, KeyDown, kKeyEscape);
    c.bindAction(kActionAnyKey, KeyDown, kAny).bindAction(kActionAnyKey, ControllerButtonDown, kAny);
}

void InputSwitcher::bindLoadingScreen()
{
    InputContext& c = m_contexts[kInputStateLoadingScreen];
    c.bindAction(kActionSkip, KeyDown, kAny).bindAction(kActionSkip, ControllerButtonDown, kAny);
    c.bindAction(kActionProceedCutscene, KeyDown, kKeySpace);
    c.bindAction(kActionProceedCutscene, ControllerButtonDown, kA);
}

void InputSwitcher::bindLeaderboards()
{
    InputContext& c = m_contexts[kInputStateLeaderboards];
    c.name = "Leaderboards";
    c.bindAction(kActionBack, KeyDown, kKeyEscape).bindAction(kActionBack, KeyDown, kKeyBackspace);
    c.bindAction(kActionUp, KeyDown, kKeyUp).bindAction(kActionUp, KeyDown, kKeyPageUp);
    c.bindAction(kActionDown, KeyDown, kKeyDown).bindAction(kActionDown, KeyDown, kKeyPageDown);
    c.bindAction(kActionLeaderboardsSwitch, KeyDown, kKeySpace);
    c.bindAction(kActionLeaderboardsTop, KeyDown, kKeyHome);
    c.bindAction(kActionBack, ControllerButtonDown, kB).bindAction(kActionBack, ControllerButtonDown, kBack);
    c.bindAction(kActionUp, ControllerButtonDown, kDPadUp).bindAction(kActionUp, ControllerButtonDown, kLeftBumper);
    c.bindAction(kActionDown, ControllerButtonDown, kDPadDown);
    c.bindAction(kActionDown, ControllerButtonDown, kRightBumper);
    c.bindAction(kActionLeaderboardsSwitch, ControllerButtonDown, kX);
    c.bindAction(kActionLeaderboardsTop, ControllerButtonDown, kY);
}

void InputSwitcher::attach(InputManager& manager)
{
    manager.addListener(this);
    for (InputContext& context : m_contexts) {
        context.clearFrameState();
        context.resetHeldStates();
        manager.addContext(&context);
    }
}

void InputSwitcher::detach(InputManager& manager)
{
    for (InputContext& context : m_contexts)
        manager.removeContext(&context);
    manager.removeListener(this);
}

void InputSwitcher::changeState(i32 from, i32 to)
{
    QUERN_LOG(3) << "Input state changing from " << inputSwitcherStateName(from) << " to "
                 << inputSwitcherStateName(to) << std::endl;
    m_contexts[from].enabled = false;
    m_contexts[to].enabled = true;
    m_contextChanged = true;
}

bool InputSwitcher::pushState(i32 state)
{
    // The callers pop only their own state, so a refused push is never popped.
    if (m_top + 1 >= kStackSize) {
        QUERN_LOG(2) << "Input state stack is full: " << inputSwitcherStateName(state) << " not pushed" << std::endl;
        return false;
    }
    changeState(m_states[m_top], state);
    m_states[++m_top] = state;
    return true;
}

void InputSwitcher::popState()
{
    if (m_top == 0)
        return;
    changeState(m_states[m_top], m_states[m_top - 1]);
    --m_top;
}

void InputSwitcher::saveStates()
{
    for (i32 i = 0; i < kStackSize; ++i)
        m_savedStates[i] = m_states[i];
    m_savedTop = m_top;
}

void InputSwitcher::restoreStates()
{
    for (i32 i = 0; i < kStackSize; ++i)
        m_states[i] = m_savedStates[i];
    m_top = m_savedTop;
    for (i32 i = 0; i < m_top; ++i)
        m_contexts[m_states[i]].enabled = false;
    m_contexts[m_states[m_top]].enabled = true;
}

void InputSwitcher::onInputEvent(const InputEvent& event, InputManager&)
{
    const i32 kind = inputDeviceKindOfEvent(event.type);
    if (kind != kInputDeviceKeyboard && kind != kInputDeviceGameController)
        return;
    if (event.device != m_lastDevice) {
        m_deviceChanged = true;
        m_lastDevice = event.device;
    }
    m_activeDeviceKind = kind;
}

} // namespace harmonize
