#include "quern/platform/ErrorReporting.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quern::debug {
namespace {
std::atomic<FatalErrorCallback> g_fatalCallback{&platform::defaultFatalErrorHandler};
std::atomic<SoftAssertCallback> g_softCallback{nullptr};
std::atomic<bool> g_fatalReentry{false};
std::atomic<bool> g_softReentry{false};
} // namespace

FatalErrorCallback getFatalErrorCallback() { return g_fatalCallback.load(); }
void setFatalErrorCallback(FatalErrorCallback callback) { g_fatalCallback.store(callback); }
SoftAssertCallback getSoftAssertCallback() { return g_softCallback.load(); }
void setSoftAssertCallback(SoftAssertCallback callback) { g_softCallback.store(callback); }

void fatalError(const char* message, const char* file, u32 line)
{
    FatalErrorCallback hook = g_fatalCallback.load();
    if (hook && !g_fatalReentry.exchange(true)) {
        hook(message, file, line);
        g_fatalReentry.store(false);
    }
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
        __builtin_trap();
}

} // namespace quern::debug

namespace quern::platform {

void printWarning(const char* message, const char* file, u32 line)
{
    const char* shortPath = file ? file : "";
    if (const char* word = std::strstr(shortPath, "quern")) {
        const char* sep = word + 5;
        if (*sep == '/' || *sep == '\\')
            ++sep;
        shortPath = sep;
    }
    char text[256];
    std::snprintf(text, sizeof text, "%s (%d): %s\n", shortPath, static_cast<int>(line), message ? message : "");
    std::fputs("\x1b[33m", stderr);
    std::fputs(text, stderr);
    std::fputs("\x1b[0m", stderr);
    std::fflush(stderr);
}

void defaultFatalErrorHandler(const char* message, const char* file, u32 line)
{
    printWarning(message, file, line);
}

} // namespace quern::platform
