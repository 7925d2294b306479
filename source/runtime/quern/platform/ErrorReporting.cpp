#include "quern/platform/ErrorReporting.h"

#include "quern/debug/StackTrace.h"
#include "quern/platform/Console.h"
#include "quern/platform/Debugger.h"
#include "quern/platform/MessageBox.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace quern::debug {
namespace {
std::atomic<FatalErrorCallback> g_fatalCallback { &platform::defaultFatalErrorHandler };
std::atomic<SoftAssertCallback> g_softCallback { nullptr };
std::atomic<bool> g_fatalReentry { false };
std::atomic<bool> g_softReentry { false };
} // namespace

FatalErrorCallback getFatalErrorCallback() { return g_fatalCallback.load(); }
void setFatalErrorCallback(FatalErrorCallback callback) { g_fatalCallback.store(callback); }
SoftAssertCallback getSoftAssertCallback() { return g_softCallback.load(); }
void setSoftAssertCallback(SoftAssertCallback callback) { g_softCallback.store(callback); }

void callFatalErrorHook(const char* message, const char* file, u32 line)
{
    FatalErrorCallback hook = g_fatalCallback.load();
    if (hook && !g_fatalReentry.exchange(true)) {
        hook(message, file, line);
        g_fatalReentry.store(false);
    }
}

void fatalError(const char* message, const char* file, u32 line)
{
    callFatalErrorHook(message, file, line);
    std::abort();
}

void softAssert(const char* message, const char* expression, const char* file, u32 line)
{
    SoftAssertCallback hook = g_softCallback.load();
    if (!hook || g_softReentry.exchange(true))
        return;
    const bool wantsBreak = hook(message, expression, file, line);
    g_softReentry.store(false);
    if (wantsBreak)
        platform::debugBreak();
}

} // namespace quern::debug

namespace quern::platform {
namespace {
constexpr char kEngineWord[] = "quern";

std::atomic<bool> g_warningReentry { false };
std::atomic<bool> g_noDialogs { false };

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The path after the engine's folder ("source/runtime/quern/io/File.cpp" gives
// "io/File.cpp"); the whole path when the folder is not part of it.
const char* pathAfterEngineWord(const char* path)
{
    const std::size_t wordLength = sizeof kEngineWord - 1;
    for (const char* p = std::strstr(path, kEngineWord); p; p = std::strstr(p + 1, kEngineWord)) {
        const bool startsComponent = p == path || isSeparator(p[-1]);
        if (startsComponent && isSeparator(p[wordLength]))
            return p + wordLength + 1;
    }
    return path;
}

// The warning hook: a constant pointer with its own re-entry guard.
void (*const g_warningHook)(const char*, const char*, u32) = &printWarning;

void warnThroughHook(const char* message, const char* file, u32 line)
{
    if (g_warningReentry.exchange(true))
        return;
    g_warningHook(message, file, line);
    g_warningReentry.store(false);
}

// "%s (%d): %s\n" written in pieces, so a long message is never cut.
void printSourceLine(std::FILE* stream, const char* path, u32 line, const char* message)
{
    std::fprintf(stream, "%s (%d): ", path, static_cast<int>(line));
    std::fputs(message ? message : "", stream);
    std::fputc('\n', stream);
}
} // namespace

void printWarning(const char* message, const char* file, u32 line)
{
    const bool colour = isTerminal(StandardStream::Error);
    if (colour)
        std::fputs("\x1b[93m", stderr);
    printSourceLine(stderr, pathAfterEngineWord(file ? file : ""), line, message);
    if (colour)
        std::fputs("\x1b[0m", stderr);
    std::fflush(stderr);
}

void defaultFatalErrorHandler(const char* message, const char* file, u32 line)
{
    warnThroughHook(message, file, line);
    debug::printStackTrace();
}

bool noDialogs() { return g_noDialogs.load(); }
void setNoDialogs(bool enabled) { g_noDialogs.store(enabled); }

bool showErrorMessage(const char* message)
{
    if (noDialogs()) {
        printSourceLine(stderr, pathAfterEngineWord(__FILE__), __LINE__, message);
        std::fflush(stderr);
        return false;
    }
    pumpMessages();
    showMessageBox(
        message ? message : "", "There is something we have to tell you...", kMessageBoxOk | kMessageBoxIconError);
    return false;
}

void announceSimulatedErrors()
{
    static const char* const kText = "About to simulate errors, you can attach a debugger now if you like.";
    if (noDialogs()) {
        warnThroughHook(kText, __FILE__, __LINE__);
        return;
    }
    pumpMessages();
    showMessageBox(kText, "This might be a problem...", kMessageBoxOk | kMessageBoxIconWarning);
}

void purecallHandler()
{
    debugBreak();
    std::_Exit(1);
}

void invalidParameterHandler(const char* expression, const char* function, const char* file, u32 line)
{
    (void)function;
    debug::callFatalErrorHook(expression ? expression : "Undefined expression", file ? file : "Undefined file", line);
    debugBreak();
    std::_Exit(1);
}

void installRuntimeErrorHandlers() { std::set_terminate(&purecallHandler); }

} // namespace quern::platform
