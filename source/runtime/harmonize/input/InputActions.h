#pragma once
// The game's input vocabulary: the states of the input switcher, the actions
// its contexts count and the states they hold, with their names.

#include "quern/Types.h"

namespace harmonize {

using quern::i32;

enum InputSwitcherState : i32 {
    kInputStateGame = 0,
    kInputStateDebugCamera = 1,
    kInputStateMenu = 2,
    kInputStateMenuWaiting = 3,
    kInputStateCutscene = 4,
    kInputStateLoadingScreen = 5,
    kInputStateLeaderboards = 6,
    kInputSwitcherStateCount = 7,
};

enum InputAction : i32 {
    kActionInvalid = -1,
    kActionHarmonize = 0,
    kActionProceedCutscene = 1,
    kActionRepeatLevel = 2,
    kActionSelect = 3,
    kActionBack = 4,
    kActionUp = 5,
    kActionDown = 6,
    kActionLeft = 7,
    kActionRight = 8,
    kActionMouseClick = 9,
    kActionPause = 10,
    kActionSkip = 11,
    kActionAnyKey = 12,
    kActionAnyMouse = 13,
    kActionCancel = 14,
    kActionLeaderboardsOpen = 15,
    kActionLeaderboardsSwitch = 16,
    kActionLeaderboardsTop = 17,
};

enum InputState : i32 {
    kHeldInvalid = -1,
    kHeldLeft = 0,
    kHeldRight = 1,
    kHeldUp = 2,
    kHeldDown = 3,
    kHeldJump = 4,
};

// "<Invalid InputSwitcherState>" and the like for values outside the lists.
const char* inputSwitcherStateName(i32 state);
const char* inputActionName(i32 action);
const char* inputStateName(i32 state);

} // namespace harmonize
