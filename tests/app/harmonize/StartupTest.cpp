#include "harmonize/Startup.h"
#include "harmonize/RunGame.h"
#include "harmonize/Settings.h"

#include "quern/memory/Allocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/MessageBox.h"
#include "runtime/quern/platform/TemporaryDirectory.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace harmonize {
namespace {

namespace fs = std::filesystem;

class SettingsScope {
public:
    SettingsScope() { Settings::resetToDefaults(); }
    ~SettingsScope() { Settings::resetToDefaults(); }
};

volatile float g_zero = 0.0f;
volatile float g_result = 0.0f;

TEST(StartupDeathTest, FloatExceptionsOrTestModeTurnTheTrapsOn)
{
    struct Case {
        const char* option;
        bool traps;
    };
    for (const Case& c : { Case { "floatExceptions", true }, Case { "test", true }, Case { "headless", false } }) {
        const auto body = [&] {
            Settings::setFromCommandLine(c.option, nullptr);
            applyErrorSettings();
            g_result = 1.0f / g_zero;
            std::_Exit(0);
        };
        if (c.traps)
            EXPECT_EXIT(body(), ::testing::KilledBySignal(SIGFPE), "") << c.option;
        else
            EXPECT_EXIT(body(), ::testing::ExitedWithCode(0), "") << c.option;
    }
}

// A message box that ends the process with its own code, so a test sees whether
// it was shown.
quern::platform::MessageBoxButton exitFromMessageBox(const char*, const char*, quern::u32) { std::_Exit(7); }

// The fatal path writes a crash report into the user folder.
void keepDumpsInTheBuildFolder()
{
    const std::string folder = QUERN_TEST_BINARY_DIR "/dumps";
    fs::create_directories(folder);
    Settings::setFromCommandLine("userFilePath", folder.c_str());
}

TEST(StartupDeathTest, AFatalErrorOnAWorkerThreadShowsNoDialogButLogsAndAborts)
{
    EXPECT_EXIT(
        {
            installErrorHandlers();
            keepDumpsInTheBuildFolder();
            quern::platform::setMessageBoxPresenter(exitFromMessageBox);
            std::thread([] { QUERN_FATAL("worker failed"); }).join();
        },
        ::testing::KilledBySignal(SIGABRT), "worker failed");
    EXPECT_EXIT(
        {
            installErrorHandlers();
            keepDumpsInTheBuildFolder();
            quern::platform::setMessageBoxPresenter(exitFromMessageBox);
            QUERN_FATAL("main failed");
        },
        ::testing::ExitedWithCode(7), "main failed");
}

TEST(StartupDeathTest, LevelHeapsAreSizedIn64BitsAndSkippedForDebugAllocators)
{
    struct Case {
        const char* options[2];
        quern::u64 blockSize;
    };
    const Case cases[] = {
        { { "levelHeapSize=3", nullptr }, 6ull << 20 },
        { { "levelHeapSize=2048", nullptr }, 4ull << 30 },
        { { "levelHeapSize=64", "valgrind" }, 0 },
        { { "levelHeapSize=64", "debugHeap" }, 0 },
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                for (const char* option : c.options) {
                    if (!option)
                        continue;
                    const std::string text = option;
                    const size_t equals = text.find('=');
                    Settings::setFromCommandLine(text.substr(0, equals).c_str(),
                        equals == std::string::npos ? nullptr : text.c_str() + equals + 1);
                }
                Settings::Development.debugHeapSize = 64;
                initAllocators();
                const bool heaps = getLevelHeap(0) != nullptr && getLevelHeap(1) != nullptr;
                bool ok = levelHeapBlockSize() == c.blockSize && heaps == (c.blockSize != 0);
                if (heaps) {
                    void* block = getLevelHeap(1)->allocate(1000, 16);
                    ok = ok && block != nullptr;
                    getLevelHeap(1)->free(block);
                }
                shutdownAllocators();
                std::_Exit(ok && levelHeapBlockSize() == 0 ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << c.options[0];
    }
}

TEST(StartupDeathTest, ALevelHeapSizeBelowOneIsFatalAndNamesTheSetting)
{
    SettingsScope settings;
    Settings::Development.levelHeapSize = 0;
    EXPECT_DEATH(initAllocators(), "Development.levelHeapSize must be at least 1 \\(MB\\), but it is 0");
}

TEST(Startup, UserDirectoryFollowsTheUserFilePathRules)
{
    SettingsScope settings;
    quern::testing::TemporaryDirectory data;
    const char* previous = std::getenv("XDG_DATA_HOME");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    ::unsetenv("APPDATA");
    const std::string current = fs::current_path().string();
    struct Case {
        const char* userFilePath;
        std::string expected;
    };
    const Case cases[] = {
        { "/absolute/folder", "/absolute/folder" },
        { "C:/games", "C:/games" },
        { "memorycard:", "memorycard:" },
        { "relative", current + "/relative" },
        { "", (data.path() / "Tin Lantern Run").string() },
    };
    for (const Case& c : cases) {
        Settings::setFromCommandLine("userFilePath", c.userFilePath);
        initUserStorage();
        EXPECT_EQ(std::string(userDirectory()), c.expected) << c.userFilePath;
    }
    shutdownUserStorage();
    if (previous)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

TEST(Startup, TheDatabaseIsFoundBesideOrAboveTheCurrentFolder)
{
    quern::testing::TemporaryDirectory root;
    fs::create_directories(root.path() / "game" / "bin");
    fs::create_directories(root.path() / "bin");
    std::ofstream(root.path() / "bin" / "assets.db") << "x";
    const std::string game = (root.path() / "game").string() + "/";

    AssetLocation above = findAssetDatabase(game.c_str());
    EXPECT_EQ(above.databasePath, (root.path() / "bin" / "assets.db").string());
    EXPECT_EQ(above.assetDirectory, (root.path() / "bin").string() + "/");

    std::ofstream(root.path() / "game" / "bin" / "assets.db") << "x";
    AssetLocation beside = findAssetDatabase(game.c_str());
    EXPECT_EQ(beside.databasePath, game + "bin/assets.db");
    EXPECT_EQ(beside.assetDirectory, game + "bin/");
}

TEST(StartupDeathTest, NoDatabaseInEitherPlaceIsFatalNamingTheSecondPath)
{
    quern::testing::TemporaryDirectory root;
    fs::create_directories(root.path() / "game");
    const std::string game = (root.path() / "game").string() + "/";
    EXPECT_DEATH(findAssetDatabase(game.c_str()), "quern-test-[^/]*/bin/assets\\.db not found\\.");
}

TEST(Startup, CommandLineLogLine)
{
    char program[] = "harmonize";
    char option[] = "--log";
    char* arguments[] = {program, option};
    quern::testing::LogCapture log(3);
    logCommandLine(2, arguments);
    logCommandLine(0, arguments);
    EXPECT_NE(log.text().find("Command line: harmonize --log\n"), std::string::npos) << log.text();
    EXPECT_EQ(log.count("Command line:"), 1u);
}

} // namespace
} // namespace harmonize
