#pragma once
// Assertions with levels. Each level has one handler: 100 warns, 200 warns and
// asks the user, 300 ends in the fatal path, 1000 logs and aborts.

#include "quern/Types.h"

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace quern::debug {

enum AssertionLevel : i32 {
    kAssertWarning = 100,
    kAssertError = 200,
    kAssertDebug = 300,
    kAssertFatal = 1000,
};

struct AssertionValue {
    std::string value;
    std::string name;
};

struct AssertionRecord {
    const char* file = "";
    i32 line = 0;
    std::string expression;
    std::vector<AssertionValue> values;
    i32 level = kAssertError;
    std::string message;
};

// "Warning", "Assertion failed", ... or "Assertion failed (level=<n>)".
std::string assertionLevelText(i32 level);

// A blank line, "<file>(<line>) : <level text> - <message or Expression: ...>",
// then one line per captured value.
void printAssertionRecord(const AssertionRecord& record, std::ostream& stream);

// Hands the record to the handler registered for its level. A level without a
// handler is logged as an error and execution continues.
void raiseAssertion(const AssertionRecord& record);

} // namespace quern::debug

namespace quern::platform {

using AssertionHandler = void (*)(const debug::AssertionRecord& record);

std::map<i32, AssertionHandler>& assertionHandlers();
void registerDefaultAssertionHandlers();

void warningAssertionHandler(const debug::AssertionRecord& record);
void errorAssertionHandler(const debug::AssertionRecord& record);
[[noreturn]] void debugAssertionHandler(const debug::AssertionRecord& record);
[[noreturn]] void fatalAssertionHandler(const debug::AssertionRecord& record);

// The interactive part of a level-200 assertion: prints and breaks without
// dialogs; otherwise asks Abort / Retry / Ignore, and Ignore silences that
// file and line for the rest of the run.
void handleAssertion(const debug::AssertionRecord& record, std::ostream& stream);

// Ignore 1, Retry 3, Abort 4, anything else 0.
i32 showAssertionDialog(const char* text);

} // namespace quern::platform

// Raises an assertion of the given level when `condition` is false.
#define QUERN_ASSERT(assertLevel, condition, text)                                                                     \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            ::quern::debug::AssertionRecord quernAssertionRecord_;                                                     \
            quernAssertionRecord_.file = __FILE__;                                                                     \
            quernAssertionRecord_.line = __LINE__;                                                                     \
            quernAssertionRecord_.expression = #condition;                                                             \
            quernAssertionRecord_.level = (assertLevel);                                                               \
            quernAssertionRecord_.message = (text);                                                                    \
            ::quern::debug::raiseAssertion(quernAssertionRecord_);                                                     \
        }                                                                                                              \
    } while (false)
