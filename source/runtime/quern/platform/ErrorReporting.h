#pragma once
// The one fatal-error path and the soft-assertion hook. Broken invariants, exhausted
// resources and unusable input end here: the hook runs once, then the process aborts.

#include "quern/Types.h"

namespace quern::debug {

using FatalErrorCallback = void (*)(const char* message, const char* file, u32 line);
using SoftAssertCallback = bool (*)(const char* message, const char* expression, const char* file, u32 line);

// Process-wide hooks. The fatal hook starts as platform::defaultFatalErrorHandler.
FatalErrorCallback getFatalErrorCallback();
void setFatalErrorCallback(FatalErrorCallback callback);
SoftAssertCallback getSoftAssertCallback();
void setSoftAssertCallback(SoftAssertCallback callback);

// Calls the fatal hook (unless it is already running on some thread), then aborts.
[[noreturn]] void fatalError(const char* message, const char* file, u32 line);

// Calls the fatal hook under its re-entry guard and returns; for callers that
// end the process their own way afterwards.
void callFatalErrorHook(const char* message, const char* file, u32 line);

// Calls the soft hook when one is installed; breaks into the debugger when it asks to.
void softAssert(const char* message, const char* expression, const char* file, u32 line);

} // namespace quern::debug

namespace quern::platform {

// Prints the message through the warning hook, then the current call stack.
void defaultFatalErrorHandler(const char* message, const char* file, u32 line);

// "<path after the engine's folder> (<line>): <message>" on standard error, in
// yellow when standard error is a terminal.
void printWarning(const char* message, const char* file, u32 line);

// Set in test and headless runs: every message box of the error path becomes
// text on standard error.
bool noDialogs();
void setNoDialogs(bool enabled);

// Tells the user about an error (a box, or standard error without dialogs).
// Always returns false.
bool showErrorMessage(const char* message);

// Shown before the application simulates failures on request.
void announceSimulatedErrors();

// Runtime-error handlers. A pure virtual call ends in std::terminate here, so
// installRuntimeErrorHandlers makes purecallHandler the terminate handler; the
// C library has no invalid-parameter event, so invalidParameterHandler is only
// called by code that detects such a parameter itself.
[[noreturn]] void purecallHandler();
[[noreturn]] void invalidParameterHandler(const char* expression, const char* function, const char* file, u32 line);
void installRuntimeErrorHandlers();

} // namespace quern::platform

#define QUERN_FATAL(message) ::quern::debug::fatalError((message), __FILE__, __LINE__)
#define QUERN_FATAL_INVALID_ENUM(enumName) QUERN_FATAL("Invalid enum value for type " enumName)
#define QUERN_OUT_OF_MEMORY() QUERN_FATAL("Out of memory")
