#include "harmonize/input/InputActions.h"

namespace harmonize {

const char* inputSwitcherStateName(i32 state)
{
    static const char* const kNames[] = { "Game", "DebugCamera", "Menu", "MenuWaiting", "Cutscene", "LoadingScreen",
        "Leaderboards" };
    if (state < 0 || state >= kInputSwitcherStateCount)
        return "<Invalid InputSwitcherState>";
    return kNames[state];
}

const char* inputActionName(i32 action)
{
    static const char* const kNames[] = { "Invalid", "Harmonize", "ProceedCutscene", "RepeatLevel", "Select", "Back",
        "Up", "Down", "Left", "Right", "MouseClick", "Pause", "Skip", "AnyKey", "AnyMouse", "Cancel",
        "LeaderboardsOpen", "LeaderboardsSwitch", "LeaderboardsTop" };
    if (action < kActionInvalid || action > kActionLeaderboardsTop)
        return "<Invalid InputAction>";
    return kNames[action + 1];
}

const char* inputStateName(i32 state)
{
    static const char* const kNames[] = { "Invalid", "Left", "Right", "Up", "Down", "Jump" };
    if (state < kHeldInvalid || state > kHeldJump)
        return "<Invalid InputState>";
    return kNames[state + 1];
}

} // namespace harmonize
