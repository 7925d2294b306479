#include "harmonize/Startup.h"

#include "harmonize/Settings.h"
#include "harmonize/input/InputReplayFiles.h"
#include "quern/debug/Log.h"
#include "quern/debug/Logger.h"
#include "quern/debug/StackTrace.h"
#include "quern/io/AsyncUserStorage.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/memory/FallbackAllocator.h"
#include "quern/memory/PrivateHeapAllocator.h"
#include "quern/platform/CrashHandler.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/FileSystem.h"
#include "quern/platform/FloatingPointTraps.h"
#include "quern/serialize/StringInternerSerialization.h"

#include <cstdio>
#include <optional>
#include <string>
#include <thread>

namespace harmonize {
namespace {

constexpr u64 kMegabyte = 1u << 20;
constexpr u64 kLevelHeapAlignment = 4096;
constexpr u64 kBootstrapBytes = 1024;

std::thread::id g_mainThread;
bool g_crashHandlerInstalled = false;
bool g_loggedIn = false;

alignas(16) unsigned char g_bootstrapBuffer[kBootstrapBytes];
std::optional<quern::memory::FallbackAllocator> g_bootstrap;

struct LevelHeaps {
    void* block = nullptr;
    u64 size = 0;
    std::optional<quern::memory::PrivateHeapAllocator> heaps[2];
};
LevelHeaps g_levelHeaps;

void installCrashReporting()
{
    if (!g_crashHandlerInstalled) {
        quern::platform::installCrashHandler();
        quern::platform::setCrashQuestion(kCrashQuestion);
        g_crashHandlerInstalled = true;
    }
    quern::platform::setCrashHandlingEnabled(true);
    quern::platform::setCrashCallback(onCrash);
}

} // namespace

void saveLog()
{
    // A user folder named for the first time has not been made yet; like the
    // home file system, make its last level.
    quern::platform::createDirectory(userDirectory());
    quern::debug::saveLogFile(userDirectory());
}

namespace {

quern::memory::DefaultAllocatorType chosenAllocatorType()
{
    if (Settings::Development.valgrind)
        return quern::memory::DefaultAllocatorType::Crt;
    if (Settings::Development.debugHeap)
        return quern::memory::DefaultAllocatorType::DebugHeap;
    return quern::memory::DefaultAllocatorType::Heap;
}

void makeLevelHeaps()
{
    const i32 megabytes = Settings::Development.levelHeapSize;
    if (megabytes < 1) {
        const std::string message
            = "Development.levelHeapSize must be at least 1 (MB), but it is " + std::to_string(megabytes);
        QUERN_FATAL(message.c_str());
    }
    // 64-bit arithmetic: a size of 2,048 MB or more must not wrap.
    const u64 heapBytes = static_cast<u64>(megabytes) * kMegabyte;
    void* block = quern::memory::getPageAllocator()->allocate(2 * heapBytes, kLevelHeapAlignment);
    if (!block)
        QUERN_OUT_OF_MEMORY();
    g_levelHeaps.block = block;
    g_levelHeaps.size = 2 * heapBytes;
    g_levelHeaps.heaps[0].emplace();
    g_levelHeaps.heaps[0]->init(block, heapBytes);
    g_levelHeaps.heaps[1].emplace();
    g_levelHeaps.heaps[1]->init(static_cast<unsigned char*>(block) + heapBytes, heapBytes);
}

} // namespace

void installErrorHandlers()
{
    g_mainThread = std::this_thread::get_id();
    quern::debug::setFatalErrorCallback(onFatalError);
    quern::platform::installRuntimeErrorHandlers();
    installCrashReporting();
}

bool isMainThread() { return std::this_thread::get_id() == g_mainThread; }

void applyErrorSettings()
{
    if (Settings::Test.test || Settings::Development.floatExceptions)
        quern::platform::enableFloatingPointTraps();
    if (Settings::Test.test || Settings::Development.headless) {
        quern::platform::setNoDialogs(true);
        quern::platform::installRuntimeErrorHandlers();
    }
}

void onFatalError(const char* message, const char* sourceFile, u32 line)
{
    QUERN_LOG(1) << message << " (" << sourceFile << ":" << line << ")" << std::endl;
    quern::debug::printStackTrace(QUERN_LOG(1));
    QUERN_LOG(1) << std::endl;

    // The display and message boxes belong to the main thread: from any other
    // thread the message and stack in the log are all the user gets.
    const bool dialogs = !quern::platform::noDialogs() && isMainThread();
    if (dialogs) {
        saveLog();
        quern::platform::showErrorMessage(message);
    }
    installCrashReporting();
    onCrash(0, nullptr, dialogs);
    saveLog();
}

void onCrash(u32, quern::platform::ExceptionPointers* pointers, bool interactive)
{
    quern::platform::setDumpType(Settings::Development.retail ? 0 : kFullDumpType);
    const char* userFilePath = Settings::Development.userFilePath;
    if (userFilePath && userFilePath[0] != '\0')
        quern::platform::setDumpDirectory(quern::io::resolveUserDirectory(userFilePath).c_str());
    if (quern::platform::isCrashHandlingEnabled())
        quern::platform::writeMiniDump(pointers, interactive && isMainThread());
    quern::debug::printStackTrace();
    if (Settings::Replay.enabled && Settings::Replay.persistent)
        saveReplay();
}

void logCommandLine(i32 argc, char** argv)
{
    if (argc <= 0)
        return;
    std::string line = "Command line:";
    for (i32 i = 0; i < argc; ++i) {
        line += ' ';
        line += argv[i] ? argv[i] : "";
    }
    QUERN_LOG(3) << line << std::endl;
}

quern::memory::Allocator* getSettingsBootstrapAllocator()
{
    if (!g_bootstrap)
        g_bootstrap.emplace(g_bootstrapBuffer, kBootstrapBytes);
    return &*g_bootstrap;
}

void initAllocators()
{
    quern::memory::AllocatorConfig config;
    config.temporaryBlockSize = 4 * kMegabyte;
    const i32 debugHeapMegabytes = Settings::Development.debugHeapSize;
    config.debugHeapSize = debugHeapMegabytes > 0 ? static_cast<u64>(debugHeapMegabytes) * kMegabyte : 0;
    config.defaultType = chosenAllocatorType();
    config.temporaryType = config.defaultType;
    config.logAllocations = false;
    if (config.defaultType == quern::memory::DefaultAllocatorType::DebugHeap)
        QUERN_LOG(3) << "Using DebugHeap" << std::endl;
    quern::memory::initDefaultAllocators(config);
    // The runtime's heap and the debug heap exist to find memory faults: worlds
    // then allocate from the default allocator, where those tools see them.
    if (config.defaultType == quern::memory::DefaultAllocatorType::Heap)
        makeLevelHeaps();
}

void shutdownAllocators()
{
    if (g_levelHeaps.block) {
        g_levelHeaps.heaps[1].reset();
        g_levelHeaps.heaps[0].reset();
        quern::memory::getPageAllocator()->free(g_levelHeaps.block);
        g_levelHeaps.block = nullptr;
        g_levelHeaps.size = 0;
    }
    quern::memory::shutdownDefaultAllocators();
}

quern::memory::Allocator* getLevelHeap(i32 index)
{
    if (index < 0 || index > 1 || !g_levelHeaps.heaps[index])
        return nullptr;
    return &*g_levelHeaps.heaps[index];
}

u64 levelHeapBlockSize() { return g_levelHeaps.size; }

void initUserStorage() { quern::io::startUserStorage(Settings::Development.userFilePath); }

void shutdownUserStorage() { quern::io::stopUserStorage(); }

const char* userDirectory() { return quern::io::getHomeFileSystem().directory(); }

void setLoggedIn(bool loggedIn)
{
    QUERN_LOG(3) << "Logged " << (loggedIn ? "in" : "out") << std::endl;
    g_loggedIn = loggedIn;
}

bool isLoggedIn() { return g_loggedIn; }

void releaseStringTable(quern::memory::Allocator* allocator, quern::serialize::StringTable* table)
{
    if (!table)
        return;
    table->release();
    allocator->free(table);
}

} // namespace harmonize
