#pragma once
// Every InputOrigin in value order, for one enumeration and one name table
// that cannot drift apart. Settings files store these names as text, so the
// order and spelling are fixed.

// clang-format off
#define QUERN_INPUT_ORIGINS(X) \
    X(Unknown) /* 0 */ \
    /* 1 to 41: PlayStation 4 controller */ \
    X(PS4ButtonCross) X(PS4ButtonCircle) X(PS4ButtonTriangle) X(PS4ButtonSquare) \
    X(PS4LeftBumper) X(PS4RightBumper) X(PS4Options) X(PS4Share) \
    X(PS4LeftPadTouch) X(PS4LeftPadSwipe) X(PS4LeftPadClick) X(PS4RightPadTouch) \
    X(PS4RightPadSwipe) X(PS4RightPadClick) X(PS4CenterPadTouch) X(PS4CenterPadSwipe) \
    X(PS4CenterPadClick) X(PS4LeftTriggerPull) X(PS4LeftTriggerClick) X(PS4RightTriggerPull) \
    X(PS4RightTriggerClick) X(PS4LeftStickMove) X(PS4LeftStickClick) X(PS4LeftStickUp) \
    X(PS4LeftStickDown) X(PS4LeftStickLeft) X(PS4LeftStickRight) X(PS4RightStickMove) \
    X(PS4RightStickClick) X(PS4RightStickUp) X(PS4RightStickDown) X(PS4RightStickLeft) \
    X(PS4RightStickRight) X(PS4DPadUp) X(PS4DPadDown) X(PS4DPadLeft) \
    X(PS4DPadRight) X(PS4GyroMove) X(PS4GyroPitch) X(PS4GyroYaw) \
    X(PS4GyroRoll) \
    /* 42 to 69: Xbox One controller */ \
    X(XboxOneButtonA) X(XboxOneButtonB) X(XboxOneButtonX) X(XboxOneButtonY) \
    X(XboxOneLeftBumper) X(XboxOneRightBumper) X(XboxOneMenu) X(XboxOneView) \
    X(XboxOneLeftTriggerPull) X(XboxOneLeftTriggerClick) X(XboxOneRightTriggerPull) X(XboxOneRightTriggerClick) \
    X(XboxOneLeftStickMove) X(XboxOneLeftStickClick) X(XboxOneLeftStickUp) X(XboxOneLeftStickDown) \
    X(XboxOneLeftStickLeft) X(XboxOneLeftStickRight) X(XboxOneRightStickMove) X(XboxOneRightStickClick) \
    X(XboxOneRightStickUp) X(XboxOneRightStickDown) X(XboxOneRightStickLeft) X(XboxOneRightStickRight) \
    X(XboxOneDPadUp) X(XboxOneDPadDown) X(XboxOneDPadLeft) X(XboxOneDPadRight) \
    /* 70 to 97: Xbox 360 controller */ \
    X(Xbox360ButtonA) X(Xbox360ButtonB) X(Xbox360ButtonX) X(Xbox360ButtonY) \
    X(Xbox360LeftBumper) X(Xbox360RightBumper) X(Xbox360Start) X(Xbox360Back) \
    X(Xbox360LeftTriggerPull) X(Xbox360LeftTriggerClick) X(Xbox360RightTriggerPull) X(Xbox360RightTriggerClick) \
    X(Xbox360LeftStickMove) X(Xbox360LeftStickClick) X(Xbox360LeftStickUp) X(Xbox360LeftStickDown) \
    X(Xbox360LeftStickLeft) X(Xbox360LeftStickRight) X(Xbox360RightStickMove) X(Xbox360RightStickClick) \
    X(Xbox360RightStickUp) X(Xbox360RightStickDown) X(Xbox360RightStickLeft) X(Xbox360RightStickRight) \
    X(Xbox360DPadUp) X(Xbox360DPadDown) X(Xbox360DPadLeft) X(Xbox360DPadRight) \
    /* 98 to 137: Steam controller */ \
    X(SteamButtonA) X(SteamButtonB) X(SteamButtonX) X(SteamButtonY) \
    X(SteamLeftBumper) X(SteamRightBumper) X(SteamLeftGrip) X(SteamRightGrip) \
    X(SteamLeftGripUpper) X(SteamRightGripUpper) X(SteamLeftBumperPressure) X(SteamRightBumperPressure) \
    X(SteamLeftGripPressure) X(SteamRightGripPressure) X(SteamLeftGripUpperPressure) X(SteamRightGripUpperPressure) \
    X(SteamStart) X(SteamBack) X(SteamLeftPadTouch) X(SteamLeftPadSwipe) \
    X(SteamLeftPadClick) X(SteamLeftPadPressure) X(SteamRightPadTouch) X(SteamRightPadSwipe) \
    X(SteamRightPadClick) X(SteamRightPadPressure) X(SteamLeftTriggerPull) X(SteamLeftTriggerClick) \
    X(SteamRightTriggerPull) X(SteamRightTriggerClick) X(SteamLeftStickMove) X(SteamLeftStickClick) \
    X(SteamLeftStickUp) X(SteamLeftStickDown) X(SteamLeftStickLeft) X(SteamLeftStickRight) \
    X(SteamGyroMove) X(SteamGyroPitch) X(SteamGyroYaw) X(SteamGyroRoll) \
    /* 138 to 188: keyboard */ \
    X(KeyboardAltLeft) X(KeyboardAltRight) X(KeyboardBackspace) X(KeyboardControlLeft) \
    X(KeyboardControlRight) X(KeyboardCursorDown) X(KeyboardCursorLeft) X(KeyboardCursorRight) \
    X(KeyboardCursorUp) X(KeyboardEscape) X(KeyboardReturn) X(KeyboardShiftLeft) \
    X(KeyboardShiftRight) X(KeyboardSpace) X(KeyboardTab) X(KeyboardA) \
    X(KeyboardB) X(KeyboardC) X(KeyboardD) X(KeyboardE) \
    X(KeyboardF) X(KeyboardG) X(KeyboardH) X(KeyboardI) \
    X(KeyboardJ) X(KeyboardK) X(KeyboardL) X(KeyboardM) \
    X(KeyboardN) X(KeyboardO) X(KeyboardP) X(KeyboardQ) \
    X(KeyboardR) X(KeyboardS) X(KeyboardT) X(KeyboardU) \
    X(KeyboardV) X(KeyboardW) X(KeyboardX) X(KeyboardY) \
    X(KeyboardZ) X(Keyboard0) X(Keyboard1) X(Keyboard2) \
    X(Keyboard3) X(Keyboard4) X(Keyboard5) X(Keyboard6) \
    X(Keyboard7) X(Keyboard8) X(Keyboard9)
// clang-format on
