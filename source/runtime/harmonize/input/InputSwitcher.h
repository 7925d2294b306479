#pragma once
// Decides which set of input bindings is live: one input context per input
// state of the game, a small stack of states (the game, a menu over it, a
// key-binding wait over the menu, ...) whose top alone has its context
// enabled, and, as an input listener, notice of the player moving between
// keyboard and controller.
//
// The listener runs inside the input manager's update, in the active world's
// task: it only records the new device and raises a flag; the App's frame
// refreshes the prompt texts on the main thread and posts the notifications.

#include "harmonize/input/InputActions.h"
#include "quern/input/InputContext.h"
#include "quern/input/InputListener.h"

namespace harmonize {

using quern::u8;

class InputSwitcher final : public quern::input::InputListener {
public:
    static constexpr i32 kStackSize = 4;
    static constexpr u8 kNoDevice = 255;

    InputSwitcher();
    InputSwitcher(const InputSwitcher&) = delete;
    InputSwitcher& operator=(const InputSwitcher&) = delete;

    // Rebuilds the Game and Cutscene contexts from the Input settings and the
    // binding lists.
    void bindContexts();
    // Registers the switcher as listener and its contexts, in state order.
    void attach(quern::input::InputManager& manager);
    void detach(quern::input::InputManager& manager);

    void changeState(i32 from, i32 to);
    // False, with a warning and nothing changed, when the stack is full.
    bool pushState(i32 state);
    void popState();
    i32 topState() const { return m_states[m_top]; }
    i32 stackDepth() const { return m_top + 1; }
    i32 stateAt(i32 index) const { return m_states[index]; }

    // The quick save's copy of the stack, and its restore.
    void saveStates();
    void restoreStates();

    void onInputEvent(const quern::input::InputEvent& event, quern::input::InputManager& manager) override;

    quern::input::InputContext& context(i32 state) { return m_contexts[state]; }
    const quern::input::InputContext& context(i32 state) const { return m_contexts[state]; }
    quern::input::InputContext& topContext() { return m_contexts[topState()]; }

    i32 activeDeviceKind() const { return m_activeDeviceKind; }
    u8 lastDevice() const { return m_lastDevice; }
    // Read and cleared by the App's frame, which posts the notifications.
    bool takeContextChanged() { return take(m_contextChanged); }
    bool takeDeviceChanged() { return take(m_deviceChanged); }

private:
    static bool take(bool& flag)
    {
        const bool was = flag;
        flag = false;
        return was;
    }
    void bindDebugCamera();
    void bindGame();
    void bindCutscene();
    void bindMenu();
    void bindLoadingScreen();
    void bindLeaderboards();

    i32 m_savedStates[kStackSize] = {};
    i32 m_savedTop = 0;
    i32 m_activeDeviceKind = quern::input::kInputDeviceKeyboard;
    quern::input::InputContext m_contexts[kInputSwitcherStateCount];
    i32 m_states[kStackSize] = {};
    i32 m_top = 0;
    u8 m_lastDevice = kNoDevice;
    bool m_contextChanged = true;
    bool m_deviceChanged = true;
};

} // namespace harmonize
