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

// Calls the soft hook when one is installed; breaks into the debugger when it asks to.
void softAssert(const char* message, const char* expression, const char* file, u32 line);

} // namespace quern::debug

namespace quern::platform {

void defaultFatalErrorHandler(const char* message, const char* file, u32 line);
void printWarning(const char* message, const char* file, u32 line);

} // namespace quern::platform

#define QUERN_FATAL(message) ::quern::debug::fatalError((message), __FILE__, __LINE__)
#define QUERN_FATAL_INVALID_ENUM(enumName) QUERN_FATAL("Invalid enum value for type " enumName)
#define QUERN_OUT_OF_MEMORY() QUERN_FATAL("Out of memory")
