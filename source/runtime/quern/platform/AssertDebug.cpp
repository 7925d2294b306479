#include "quern/platform/AssertDebug.h"

#include "quern/debug/Log.h"
#include "quern/platform/Debugger.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/MessageBox.h"

#include <cstdlib>
#include <mutex>
#include <set>
#include <sstream>
#include <utility>

namespace quern::debug {

std::string assertionLevelText(i32 level)
{
    switch (level) {
    case kAssertWarning:
        return "Warning";
    case kAssertError:
        return "Assertion failed";
    case kAssertDebug:
        return "Assertion failed (Error)";
    case kAssertFatal:
        return "Assertion failed (FATAL)";
    default:
        return "Assertion failed (level=" + std::to_string(level) + ")";
    }
}

void printAssertionRecord(const AssertionRecord& record, std::ostream& stream)
{
    stream << std::endl;
    stream << (record.file ? record.file : "") << "(" << record.line << ") : " << assertionLevelText(record.level)
           << " - ";
    if (!record.message.empty())
        stream << record.message;
    else
        stream << "Expression: " << record.expression;
    stream << std::endl;
    bool first = true;
    for (const AssertionValue& value : record.values) {
        stream << (first ? "Values: " : "        ") << value.name << "='" << value.value << "'" << std::endl;
        first = false;
    }
}

void raiseAssertion(const AssertionRecord& record)
{
    const auto& handlers = platform::assertionHandlers();
    const auto found = handlers.find(record.level);
    if (found != handlers.end() && found->second) {
        found->second(record);
        return;
    }
    printAssertionRecord(record, log(1, nullptr, 0));
}

} // namespace quern::debug

namespace quern::platform {
namespace {

// Locations the user chose to ignore, by file address and line.
std::mutex g_ignoreLock;
std::set<std::pair<const char*, i32>>& ignoreSet()
{
    static std::set<std::pair<const char*, i32>> locations;
    return locations;
}

bool isIgnored(const debug::AssertionRecord& record)
{
    std::lock_guard<std::mutex> lock(g_ignoreLock);
    return ignoreSet().count({ record.file, record.line }) != 0;
}

void ignoreFromNowOn(const debug::AssertionRecord& record)
{
    std::lock_guard<std::mutex> lock(g_ignoreLock);
    ignoreSet().insert({ record.file, record.line });
}

// Registered before main, so every assertion finds the four standard levels.
const bool g_defaultHandlersRegistered = (registerDefaultAssertionHandlers(), true);

} // namespace

std::map<i32, AssertionHandler>& assertionHandlers()
{
    static std::map<i32, AssertionHandler> handlers;
    return handlers;
}

void registerDefaultAssertionHandlers()
{
    auto& handlers = assertionHandlers();
    handlers[debug::kAssertWarning] = &warningAssertionHandler;
    handlers[debug::kAssertError] = &errorAssertionHandler;
    handlers[debug::kAssertDebug] = &debugAssertionHandler;
    handlers[debug::kAssertFatal] = &fatalAssertionHandler;
}

void warningAssertionHandler(const debug::AssertionRecord& record)
{
    debug::printAssertionRecord(record, debug::log(2, nullptr, 0));
}

void errorAssertionHandler(const debug::AssertionRecord& record)
{
    std::ostream& stream = debug::log(2, nullptr, 0);
    debug::printAssertionRecord(record, stream);
    handleAssertion(record, stream);
}

void debugAssertionHandler(const debug::AssertionRecord& record)
{
    std::ostringstream text;
    debug::printAssertionRecord(record, text);
    std::string message = text.str();
    if (message.size() > 511)
        message.resize(511);
    debug::fatalError(message.c_str(), __FILE__, __LINE__);
}

void fatalAssertionHandler(const debug::AssertionRecord& record)
{
    debug::printAssertionRecord(record, debug::log(1, nullptr, 0));
    std::abort();
}

i32 showAssertionDialog(const char* text)
{
    pumpMessages();
    switch (showMessageBox(text, "Assertion failed!", kMessageBoxAbortRetryIgnore | kMessageBoxIconWarning)) {
    case MessageBoxButton::Ignore:
        return 1;
    case MessageBoxButton::Retry:
        return 3;
    case MessageBoxButton::Abort:
        return 4;
    default:
        return 0;
    }
}

void handleAssertion(const debug::AssertionRecord& record, std::ostream& stream)
{
    if (noDialogs()) {
        debug::printAssertionRecord(record, stream);
        debugBreak();
        return;
    }
    if (isIgnored(record))
        return;
    std::ostringstream text;
    debug::printAssertionRecord(record, text);
    text << "\n\nPress 'Retry' to debug.";
    switch (showAssertionDialog(text.str().c_str())) {
    case 1:
        ignoreFromNowOn(record);
        return;
    case 3:
        debugBreak();
        return;
    case 4:
        debug::fatalError("Abort requested", __FILE__, __LINE__);
    default:
        return;
    }
}

} // namespace quern::platform
