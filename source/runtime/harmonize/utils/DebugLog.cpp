#include "harmonize/utils/DebugLog.h"

#include "quern/debug/Log.h"
#include "quern/debug/MutexImpl.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace harmonize {
namespace {

char g_debugLine[kDebugLineSize] = {};

quern::debug::MutexImpl& debugLineMutex()
{
    static quern::debug::MutexImpl mutex;
    return mutex;
}

} // namespace

void debugLog(const char* format, ...)
{
    // Formatted on the caller's stack: two threads never write the shared line
    // at once, and a reader never sees half a line.
    char text[kDebugLineSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    {
        quern::debug::MutexLock lock(debugLineMutex());
        std::memcpy(g_debugLine, text, sizeof text);
    }
    QUERN_LOG(3) << text << std::endl;
}

std::string debugLine()
{
    quern::debug::MutexLock lock(debugLineMutex());
    return g_debugLine;
}

void clearDebugLine()
{
    quern::debug::MutexLock lock(debugLineMutex());
    g_debugLine[0] = '\0';
}

} // namespace harmonize
