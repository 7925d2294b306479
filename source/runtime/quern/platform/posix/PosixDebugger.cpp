#include "quern/platform/Debugger.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quern::platform {

bool isDebuggerPresent()
{
    const int descriptor = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    char text[4096];
    std::size_t length = 0;
    while (length < sizeof text - 1) {
        const ssize_t got = ::read(descriptor, text + length, sizeof text - 1 - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        length += static_cast<std::size_t>(got);
    }
    ::close(descriptor);
    text[length] = '\0';
    const char* field = std::strstr(text, "TracerPid:");
    if (!field)
        return false;
    return std::strtol(field + 10, nullptr, 10) != 0;
}

void debugBreak() { std::raise(SIGTRAP); }

void writeDebuggerOutput(const char* text)
{
    if (text)
        writeDebuggerOutput(text, std::strlen(text));
}

void writeDebuggerOutput(const char* text, u64 length)
{
    std::fflush(stderr);
    while (length != 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        text += written;
        length -= static_cast<u64>(written);
    }
}

} // namespace quern::platform
