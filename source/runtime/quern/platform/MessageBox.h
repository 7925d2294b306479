#pragma once
// Message boxes for the user. Without a window system the text goes to standard
// error and no button is pressed; a window layer, or a test, may install its own
// presenter to show real boxes or to choose the answer.

#include "quern/Types.h"

namespace quern::platform {

enum MessageBoxType : u32 {
    kMessageBoxOk = 0x0,
    kMessageBoxAbortRetryIgnore = 0x2,
    kMessageBoxYesNo = 0x4,
    kMessageBoxIconError = 0x10,
    kMessageBoxIconWarning = 0x30,
};

enum class MessageBoxButton : i32 {
    None = 0, // nobody answered
    Ok = 1,
    Cancel = 2,
    Abort = 3,
    Retry = 4,
    Ignore = 5,
    Yes = 6,
    No = 7,
};

using MessageBoxPresenter = MessageBoxButton (*)(const char* text, const char* caption, u32 type);

// Shows the box through the current presenter and returns the button pressed.
MessageBoxButton showMessageBox(const char* text, const char* caption, u32 type);

// Null restores the standard-error presenter. Returns the previous one.
MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter);

// The standard-error presenter: prints caption and text, presses nothing.
MessageBoxButton printMessageBox(const char* text, const char* caption, u32 type);

// Handles the thread's pending window messages; there is no per-thread message
// queue below the window layer here, so nothing waits.
void pumpMessages();

} // namespace quern::platform
