#pragma once
// What the machine and the user's session report: processor, operating system,
// memory, interface language and the folder for the user's files.

#include "quern/Types.h"

#include <string>

namespace quern::platform {

struct OSInfo {
    const char* name = "Linux";
    std::string version; // kernel name and release, or just the name when unknown
    std::string architecture; // "x64", "x86", "IA64", or empty when unrecognised
    bool is64Bit = false;
    u64 availablePhysicalMemory = 0; // bytes
    u64 totalPhysicalMemory = 0; // bytes

    static OSInfo query();
};

struct SystemInfo {
    char cpuBrand[48] = "Unknown"; // NUL-terminated, at most 47 characters
    u32 processorCount = 0;
};

// Fills the process-wide record (queried once, at start-up) and returns it.
const SystemInfo& querySystemInfo();
const SystemInfo& getSystemInfo();

// Time-stamp counter rate in MHz, calibrated once against the monotonic clock;
// the processor index is accepted for every core alike. 0 when unknown.
u32 getCpuMHz(i32 processor);

// Game language index of the session's interface language (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG): English 0, French 1, German 2, Italian 3, Spanish 4,
// Chinese 5, Japanese 7, Russian 8, any other or none -1.
i32 getUserLanguage();

// The folder for per-user files joined with `subfolder` by '/': APPDATA when set,
// else XDG_DATA_HOME, else $HOME/.local/share. Empty when none of them is set.
std::string getUserDataFolder(const char* subfolder);

// The running program's file (read from /proc/self/exe), or empty when the
// system does not say.
std::string getExecutablePath();

// Window systems here scale per window, so there is nothing to mark; kept so
// the window layer's start-up reads the same everywhere.
void setProcessDPIAware();

} // namespace quern::platform
