#include "quern/debug/Logger.h"

#include "quern/platform/FileSystem.h"
#include "quern/platform/SystemInfo.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace quern::debug {
namespace {
constexpr const char* kProjectWord = "harmonize";

std::string logFileName()
{
    char name[64];
    std::snprintf(name, sizeof name, "%slog.txt", kProjectWord);
    return name;
}

std::string compilerText()
{
#if defined(__clang__)
    return "Clang " + std::to_string(__clang_major__);
#elif defined(__GNUC__)
    return "GCC " + std::to_string(__GNUC__);
#else
    return "unknown";
#endif
}
} // namespace

bool saveLogFile(const char* directory)
{
    Logger* logger = getLogger();
    std::ostringstream* memoryLog = Logger::memoryLog();
    if (!logger || !memoryLog || !directory)
        return false;
    std::string text;
    logger->buffer().withSinksLocked([&] { text = memoryLog->str(); });
    std::string path = directory;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += logFileName();
    return platform::replaceFile(path.c_str(), text.data(), text.size()) == platform::FileStatus::Success;
}

void logStartupBanner(const char* cpuText, const platform::OSInfo& os)
{
    char timestamp[128] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    if (localtime_r(&now, &local))
        std::strftime(timestamp, sizeof timestamp, "%c", &local);
    QUERN_LOG(3) << "Log timestamp: " << timestamp << std::endl;
    QUERN_LOG(3) << "Compiler: " << compilerText() << std::endl;
    QUERN_LOG(3) << "Build configuration: retail static x" << sizeof(void*) * 8 << std::endl;
    QUERN_LOG(3) << "OS: " << os.version << " " << os.architecture << std::endl;
    if (os.availablePhysicalMemory != 0 && os.totalPhysicalMemory != 0)
        QUERN_LOG(3) << "Memory: " << (os.availablePhysicalMemory >> 20) << "MB free, "
                     << (os.totalPhysicalMemory >> 20) << "MB total" << std::endl;
    QUERN_LOG(3) << "CPU: " << (cpuText ? cpuText : "") << std::endl;
}

} // namespace quern::debug
