#include "quern/platform/DynamicLibrary.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>

namespace quern::platform {
namespace {
constexpr std::size_t kMessageSize = 256;
thread_local char t_message[kMessageSize];

void storeMessage(const char* text)
{
    std::strncpy(t_message, text ? text : "", kMessageSize - 1);
    t_message[kMessageSize - 1] = '\0';
}

// The loader reports a missing file through errno, and names it in its text.
bool isNotFound(int errorNumber, const char* text)
{
    if (errorNumber == ENOENT || errorNumber == ENOTDIR)
        return true;
    return text && std::strstr(text, "No such file or directory") != nullptr;
}
} // namespace

LibraryHandle loadLibraryQuietly(const char* name)
{
    if (!name || !*name)
        return nullptr;
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

LibraryResult loadDynamicLibrary(const char* name)
{
    LibraryResult result;
    ::dlerror();
    errno = 0;
    result.handle = loadLibraryQuietly(name);
    if (result.handle)
        return result;
    const int errorNumber = errno;
    const char* text = ::dlerror();
    storeMessage(text ? text : (name && *name ? "The library could not be loaded" : "No library name given"));
    result.code = isNotFound(errorNumber, text) ? kLibraryNotFound : kLibraryFailed;
    result.message = t_message;
    return result;
}

void* getLibrarySymbol(LibraryHandle library, const char* name)
{
    if (!library || !name)
        return nullptr;
    return ::dlsym(library, name);
}

void unloadDynamicLibrary(LibraryHandle library)
{
    if (library)
        ::dlclose(library);
}

std::string getSystemErrorText(u32 errorCode)
{
    char buffer[256] = "";
    // The GNU variant may return a static text instead of filling the buffer.
    const char* text = ::strerror_r(static_cast<int>(errorCode), buffer, sizeof buffer);
    std::string result = text ? text : "";
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r'))
        result.pop_back();
    return result;
}

} // namespace quern::platform
