#include "quern/platform/SystemInfo.h"

#include <cctype>
#include <cpuid.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <x86intrin.h>

namespace quern::platform {
namespace {

SystemInfo g_systemInfo;

void architectureOf(const char* machine, OSInfo& info)
{
    if (std::strcmp(machine, "x86_64") == 0 || std::strcmp(machine, "amd64") == 0) {
        info.architecture = "x64";
        info.is64Bit = true;
    } else if (std::strcmp(machine, "ia64") == 0) {
        info.architecture = "IA64";
        info.is64Bit = true;
    } else if (machine[0] == 'i' && std::strcmp(machine + 2, "86") == 0) {
        info.architecture = "x86";
    }
}

void readCpuBrand(char (&brand)[48])
{
    unsigned int registers[12] = {};
    if (__get_cpuid_max(0x80000000u, nullptr) <= 0x80000003u) {
        std::strcpy(brand, "Unknown");
        return;
    }
    for (unsigned int leaf = 0; leaf < 3; ++leaf) {
        unsigned int* r = registers + leaf * 4;
        __cpuid(0x80000002u + leaf, r[0], r[1], r[2], r[3]);
    }
    std::memcpy(brand, registers, 47);
    brand[47] = '\0';
}

u64 monotonicNanoseconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<u64>(now.tv_sec) * 1000000000u + static_cast<u64>(now.tv_nsec);
}

u32 calibrateTimeStampCounter()
{
    constexpr u64 kWindow = 20'000'000; // 20 ms
    const u64 startTime = monotonicNanoseconds();
    const u64 startTicks = __rdtsc();
    u64 elapsed = 0;
    while ((elapsed = monotonicNanoseconds() - startTime) < kWindow) { }
    const u64 ticks = __rdtsc() - startTicks;
    return static_cast<u32>((ticks * 1000u + elapsed / 2) / elapsed); // ticks per microsecond
}

// The language part of a locale name ("pt_BR.UTF-8@euro" gives "pt").
i32 languageIndex(const char* locale)
{
    static const struct {
        const char* code;
        i32 index;
    } kLanguages[]
        = { { "en", 0 }, { "fr", 1 }, { "de", 2 }, { "it", 3 }, { "es", 4 }, { "zh", 5 }, { "ja", 7 }, { "ru", 8 } };
    char code[4] = {};
    std::size_t length = 0;
    while (locale[length] && std::isalpha(static_cast<unsigned char>(locale[length])) && length < 3) {
        code[length] = static_cast<char>(std::tolower(static_cast<unsigned char>(locale[length])));
        ++length;
    }
    if (length != 2)
        return -1;
    for (const auto& language : kLanguages)
        if (std::strcmp(code, language.code) == 0)
            return language.index;
    return -1;
}

const char* environmentText(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

} // namespace

OSInfo OSInfo::query()
{
    OSInfo info;
    utsname names {};
    if (::uname(&names) == 0) {
        info.name = "Linux";
        info.version = std::string(names.sysname) + " " + names.release;
        architectureOf(names.machine, info);
    } else {
        info.version = info.name;
    }
    struct sysinfo memory { };
    if (::sysinfo(&memory) == 0) {
        info.availablePhysicalMemory = static_cast<u64>(memory.freeram) * memory.mem_unit;
        info.totalPhysicalMemory = static_cast<u64>(memory.totalram) * memory.mem_unit;
    }
    return info;
}

const SystemInfo& querySystemInfo()
{
    readCpuBrand(g_systemInfo.cpuBrand);
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    g_systemInfo.processorCount = processors > 0 ? static_cast<u32>(processors) : 1;
    return g_systemInfo;
}

const SystemInfo& getSystemInfo() { return g_systemInfo; }

u32 getCpuMHz(i32)
{
    static const u32 megahertz = calibrateTimeStampCounter();
    return megahertz;
}

i32 getUserLanguage()
{
    for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" })
        if (const char* locale = environmentText(name))
            return languageIndex(locale);
    return -1;
}

std::string getUserDataFolder(const char* subfolder)
{
    std::string folder;
    if (const char* appData = environmentText("APPDATA"))
        folder = appData;
    else if (const char* dataHome = environmentText("XDG_DATA_HOME"))
        folder = dataHome;
    else if (const char* home = environmentText("HOME"))
        folder = std::string(home) + (home[std::strlen(home) - 1] == '/' ? "" : "/") + ".local/share";
    else
        return {};
    if (folder.back() != '/')
        folder += '/';
    folder += subfolder ? subfolder : "";
    return folder;
}

std::string getExecutablePath()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    return std::string(path, static_cast<std::size_t>(length));
}

void setProcessDPIAware() { }

} // namespace quern::platform
