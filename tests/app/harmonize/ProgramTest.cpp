// The game program run as a process, in a temporary folder whose bin/ the
// content tool filled.

#include "runtime/quern/platform/TemporaryDirectory.h"
#include "support/FileContents.h"
#include "support/TextOrder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

using quern::testing::readFile;

struct ProcessRun {
    int exitCode = -1;
    std::string output;
    std::string errors;
};

class ProgramTest : public ::testing::Test {
protected:
    fs::path root() const { return m_directory.path(); }

    // The demo content into <root>/<folder>, as the content tool builds it.
    void buildContent(const std::string& folder, const char* depot = "blob")
    {
        const std::string command = std::string(QUERN_ASSETBUILD_PROGRAM)
            + " --manifest " QUERN_CONTENT_DIR "/assets.txt --source " QUERN_CONTENT_DIR " --out '"
            + (root() / folder).string() + "' --depot " + depot;
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // The program in <root>/<folder> with the user folder <root>/user; the
    // platform's user folders point into the temporary folder too. The window
    // is SDL's dummy one. A run that gets as far as its window prints
    // `stopWhen` once SDL is up; it is then sent SIGTERM, which SDL turns into
    // a quit event that closes the display and so ends the main loop, as
    // closing the window would. A run longer than `seconds` is killed.
    ProcessRun run(const std::string& folder, const std::string& arguments,
        const std::string& environment = "ALSOFT_DRIVERS=null", const char* stopWhen = nullptr,
        const std::function<bool()>& stopOnceAlso = {}, int seconds = 60)
    {
        fs::create_directories(root() / folder);
        const fs::path home = root() / "home";
        const fs::path output = root() / "out.txt";
        const fs::path errors = root() / "err.txt";
        const std::string command = "cd '" + (root() / folder).string() + "' && exec env -u APPDATA HOME='"
            + home.string() + "' XDG_DATA_HOME='" + (home / "data").string() + "' SDL_VIDEODRIVER=dummy " + environment
            + " " + QUERN_HARMONIZE_PROGRAM + " " + arguments + " >'" + output.string() + "' 2>'" + errors.string()
            + "'";
        std::ofstream(output).close();
        std::ofstream(errors).close();
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ProcessRun result;
        if (pid < 0) {
            ADD_FAILURE() << "fork failed";
            return result;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        bool stopped = stopWhen == nullptr;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the program did not end: " << arguments;
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            if (!stopped && (readFile(output) + readFile(errors)).find(stopWhen) != std::string::npos
                && (!stopOnceAlso || stopOnceAlso())) {
                kill(pid, SIGTERM);
                stopped = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // As a shell reports it: a signal's death is 128 + the signal.
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
        result.output = readFile(output);
        result.errors = readFile(errors);
        fs::remove(output);
        fs::remove(errors);
        return result;
    }

    // A run that plays: the null graphics back end, ended as a closed window
    // ends it once SDL's video is up.
    ProcessRun play(
        const std::string& folder, const std::string& arguments, const std::string& environment = "ALSOFT_DRIVERS=null")
    {
        return run(folder, "--graphics-backEnd=null " + arguments, environment, kVideoStarted);
    }

    static constexpr const char* kVideoStarted = "Number of displays: ";

    std::string userFolderOption() const { return "--userFilePath='" + (root() / "user").string() + "'"; }
    fs::path logFile() const { return root() / "user" / "harmonizelog.txt"; }

    quern::testing::TemporaryDirectory m_directory;
};

using quern::testing::expectInOrder;

TEST_F(ProgramTest, HelpPrintsTheOverviewAndTouchesNoFile)
{
    for (const char* arguments : { "--help", "--test=1 --HELP --log" }) {
        const ProcessRun result = run("game", arguments);
        EXPECT_EQ(result.exitCode, 0) << arguments;
        EXPECT_EQ(result.output, readFile(QUERN_HELP_TEXT)) << arguments;
        EXPECT_EQ(result.errors, "") << arguments;
        EXPECT_TRUE(fs::is_empty(root() / "game")) << arguments;
        EXPECT_FALSE(fs::exists(root() / "home")) << arguments;
    }
}

TEST_F(ProgramTest, RunsOverTheBuiltContentAndWritesTheLogOnlyWhenAsked)
{
    buildContent("bin");
    struct Case {
        const char* arguments;
        bool writesLog;
    };
    const Case cases[] = {
        { "", false },
        { "--log", true },
        { "--retail=0", true },
        { "--development-enabled", true },
        { "--log=0 --retail=yes", false },
        { "--test=1 --floatExceptions", false }, // traps on: the audio library runs untrapped
        { "--debugHeap --debugHeapSize=256", false },
        { "--valgrind", false },
    };
    for (const Case& c : cases) {
        fs::remove(logFile());
        const ProcessRun result = play(".", userFolderOption() + " " + c.arguments);
        EXPECT_EQ(result.exitCode, 0) << c.arguments << result.errors;
        EXPECT_EQ(fs::exists(logFile()), c.writesLog) << c.arguments;
        EXPECT_NE((result.output + result.errors).find("Using back end 'OpenAL'"), std::string::npos) << result.errors;
        if (c.writesLog) {
            const std::string log = readFile(logFile());
            EXPECT_NE(log.find("Command line:"), std::string::npos) << log;
            EXPECT_NE(log.find("Using back end 'OpenAL'"), std::string::npos) << log;
        }
    }
    EXPECT_FALSE(fs::exists(root() / "user" / "settings.ini"));
}

TEST_F(ProgramTest, SettingsFileAndCommandLineBothReachTheRun)
{
    buildContent("bin", "files");
    fs::create_directories(root() / "user");
    std::ofstream(root() / "user" / "settings.ini") << "[Development]\nLog = 1\n";
    ProcessRun result = play(".", userFolderOption());
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(fs::exists(logFile()));

    // The second pass overrides the file, and a user folder given only there
    // receives the log.
    fs::remove(logFile());
    std::ofstream(root() / "user" / "settings.ini") << "[Development]\nLog = 1\nuserFilePath = elsewhere\n";
    result = play(".", userFolderOption());
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(fs::exists(logFile()));
    EXPECT_FALSE(fs::exists(root() / "elsewhere"));
}

TEST_F(ProgramTest, AUserFolderNamedInTheSettingsFileTakesOverAfterItIsRead)
{
    // "settings.ini" is first read from the default user folder, the current one.
    buildContent("game/bin");
    std::ofstream(root() / "game" / "settings.ini")
        << "[Development]\nuserFilePath = " << (root() / "user").string() << "\nlog = yes\n";
    const ProcessRun result = play("game", "");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(fs::exists(logFile()));
    EXPECT_FALSE(fs::exists(root() / "game" / "harmonizelog.txt"));
}

TEST_F(ProgramTest, TheProfilerReportIsWrittenWhenTheProfilerIsOn)
{
    buildContent("bin");
    const fs::path report = root() / "report.txt";
    ProcessRun result = play(".", userFolderOption() + " --outputFile='" + report.string() + "'");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_FALSE(fs::exists(report));
    result = play(".", userFolderOption() + " --profiler-enabled --outputFile='" + report.string() + "'");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(fs::exists(report));
}

TEST_F(ProgramTest, FindsTheDatabaseInTheParentsBinFolder)
{
    buildContent("bin");
    const ProcessRun result = play("game", userFolderOption() + " --log");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(fs::exists(logFile()));
}

TEST_F(ProgramTest, WithoutAUsableOpenALDriverTheNullBackEndPlays)
{
    buildContent("bin");
    const ProcessRun result = play(".", userFolderOption(), "ALSOFT_DRIVERS=nonexistent");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_NE((result.output + result.errors).find("Using back end 'Null'"), std::string::npos) << result.errors;
}

// The loudest sample of a float wave file as OpenAL Soft's wave writer makes
// it (the data chunk follows the format chunk); -1 when there is none.
float wavePeak(const fs::path& path)
{
    const std::string bytes = readFile(path);
    const size_t data = bytes.find("data");
    if (data == std::string::npos || data + 8 > bytes.size())
        return -1.0f;
    float peak = 0.0f;
    for (size_t at = data + 8; at + 4 <= bytes.size(); at += 4) {
        float sample = 0.0f;
        std::memcpy(&sample, bytes.data() + at, 4);
        peak = std::max(peak, std::fabs(sample));
    }
    return peak;
}

TEST_F(ProgramTest, TheFirstLevelsMusicAndAmbienceReachOpenALSoftsWaveWriter)
{
    buildContent("bin");
    const fs::path wave = root() / "played.wav";
    std::ofstream(root() / "alsoft.conf") << "[wave]\nfile=" << wave.string() << "\n";
    // The run ends once the level started and the writer holds a sample above
    // the floor (a loaded machine may take a while to get there), or at the
    // run's deadline, when silence fails the test.
    const auto heard = [&] { return wavePeak(wave) > 0.0005f; };
    const ProcessRun result = run(".", "--graphics-backEnd=null " + userFolderOption(),
        "ALSOFT_DRIVERS=wave ALSOFT_CONF='" + (root() / "alsoft.conf").string() + "'", "Creating quick save", heard);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_NE((result.output + result.errors).find("Using back end 'OpenAL'"), std::string::npos) << result.errors;
    EXPECT_GT(wavePeak(wave), 0.0005f);
}

TEST_F(ProgramTest, AMissingDatabaseIsFatalInStandardErrorAndTheLog)
{
    const ProcessRun result = run("game", userFolderOption() + " --headless");
    const std::string expected = (root() / "bin" / "assets.db").string() + " not found.";
    EXPECT_EQ(result.exitCode, 128 + SIGABRT);
    EXPECT_NE(result.errors.find(expected), std::string::npos) << result.errors;
    EXPECT_NE(readFile(logFile()).find(expected), std::string::npos);
}

TEST_F(ProgramTest, ALevelHeapBelowOneMegabyteIsFatal)
{
    buildContent("bin");
    for (const char* size : { "0", "-5" }) {
        const ProcessRun result = run(".", userFolderOption() + " --headless --levelHeapSize=" + size);
        EXPECT_EQ(result.exitCode, 128 + SIGABRT);
        EXPECT_NE((result.output + result.errors)
                      .find(std::string("Development.levelHeapSize must be at least 1 (MB), but it is ") + size),
            std::string::npos)
            << result.errors;
    }
}

TEST_F(ProgramTest, LogsItsStartUpInOrderAndEndsThroughTheClosedWindow)
{
    buildContent("bin");
    // Stopped only once the first level is loaded and playing.
    const ProcessRun result = run(".", "--graphics-backEnd=null --log " + userFolderOption(), "ALSOFT_DRIVERS=null",
        "Loading complete - memory footprint");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    expectInOrder(readFile(logFile()),
        { "Command line:", "Using back end 'OpenAL'", "Build 4090", "Starting task dispatcher",
            "Creating display device: SDLDisplay", "Video driver: dummy", "Input devices: ",
            "Loading level levels/start", "Loading started", "Loading complete",
            "Loading complete - memory footprint", "Closing display", "Exiting main loop because display was closed",
            "Closing back-end" });
}

TEST_F(ProgramTest, TheDefaultOpenGLBackEndOpensItsWindowAndRunsTheLoop)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X server";
    buildContent("bin");
    // The default graphics back end needs a GL context, which the dummy video
    // driver cannot give: this run uses the test command's X server.
    const ProcessRun result = run(".", userFolderOption() + " --log --fullscreen=0",
        "ALSOFT_DRIVERS=null SDL_VIDEODRIVER=x11", "Loading complete - memory footprint");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    // Its textures and materials load through the OpenGL device too.
    expectInOrder(readFile(logFile()),
        { "Creating display device: SDLDisplay", "Requested OpenGL version 3.2", "Loading level levels/start",
            "Loading complete - memory footprint", "Exiting main loop because display was closed" });
}

} // namespace

// The soak test: the built program on the demo content the build made, in test
// mode, plays every level of the world script in order and quits by itself.
class SoakTest : public ProgramTest, public ::testing::WithParamInterface<const char*> {
protected:
    // The levels in play order: the world script's entries but its last, the level list.
    static std::vector<std::string> scriptLevels()
    {
        std::istringstream script(readFile(fs::path(QUERN_CONTENT_DIR) / ".QuernExport/scenes.txt"));
        std::vector<std::string> names;
        for (std::string line; std::getline(script, line);) {
            const size_t end = line.find_last_not_of(" \t\r");
            if (!line.empty() && line[0] != '#' && end != std::string::npos)
                names.push_back(line.substr(0, end + 1));
        }
        if (!names.empty())
            names.pop_back();
        return names;
    }
};

TEST_P(SoakTest, WalksEveryDemoLevelInOrderAndQuits)
{
    const std::vector<std::string> levels = scriptLevels();
    ASSERT_GE(levels.size(), 3u);
    // The OpenGL run draws every level on the test command's X server.
    const bool drawing = std::string(GetParam()).find("opengl") != std::string::npos;
    if (drawing && !std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X server";
    fs::create_directories(root() / "game");
    fs::create_directory_symlink(QUERN_GAME_BIN, root() / "game" / "bin");
    const ProcessRun result = run("game",
        std::string("--graphics-backEnd=null --headless=1 --test=1 --testSecondsPerLevel=1 --log=1 --fullscreen=0 ")
            + GetParam() + " " + userFolderOption(),
        drawing ? "ALSOFT_DRIVERS=null SDL_VIDEODRIVER=x11" : "ALSOFT_DRIVERS=null");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    const std::string log = readFile(logFile());

    // Start-up loads the first level, then the soak test plays each in turn.
    std::vector<std::string> expected { "Loading level " + levels[0] };
    for (size_t i = 0; i < levels.size(); ++i) {
        expected.push_back("Level " + std::to_string(i) + " out of " + std::to_string(levels.size()));
        expected.push_back("Loading level " + levels[i]);
        expected.push_back("Loading complete - memory footprint");
    }
    expected.push_back("Soak test complete");
    expectInOrder(log, expected);
    EXPECT_EQ(log.find("Loading level", log.find("Soak test complete")), std::string::npos);
}

// The moves level with its replay from the demo's replay folder: the player
// walks, jumps, rides, harmonizes and dies as the replay drives it, and the
// quick save brings it back at the level start, in both plays of the level.
TEST_F(SoakTest, TheMovesLevelPlaysItsReplayToTheDeathAndTheRespawn)
{
    const std::vector<std::string> levels = scriptLevels();
    const auto moves = std::find(levels.begin(), levels.end(), "levels/moves");
    ASSERT_NE(moves, levels.end());
    fs::create_directories(root() / "game");
    fs::create_directory_symlink(QUERN_GAME_BIN, root() / "game" / "bin");
    const std::string replays = (root() / "game" / "bin" / "replays").string();
    const ProcessRun result = run("game",
        "--graphics-backEnd=null --headless=1 --test=1 --testLevels=1 --testSecondsPerLevel=31 --log=1 "
        "--fullscreen=0 --threading-enabled=1 --workers=3 --runTests=1 --testStart="
            + std::to_string(moves - levels.begin()) + " --directory='" + replays + "' " + userFolderOption(),
        "ALSOFT_DRIVERS=null", nullptr, {}, 150);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    const std::string log = readFile(logFile());
    std::vector<std::string> play { "Loading level levels/moves", "Using replay file", "Player died after ",
        "Restoring quick save" };
    std::vector<std::string> expected = play;
    expected.insert(expected.end(), play.begin(), play.end());
    expected.push_back("Soak test complete");
    expectInOrder(log, expected);
    EXPECT_EQ(log.find("checksum differs"), std::string::npos);
}

// The rules level with its replay, as far as the death: in both plays of the
// level the moving platform arrives, the achievement unlocks, the save point
// takes the coin and saves, and after the death the quick save restores the
// player there.
TEST_F(SoakTest, TheRulesLevelPlaysItsReplayToTheSavePointsRestore)
{
    const std::vector<std::string> levels = scriptLevels();
    const auto rules = std::find(levels.begin(), levels.end(), "levels/rules");
    ASSERT_NE(rules, levels.end());
    fs::create_directories(root() / "game");
    fs::create_directory_symlink(QUERN_GAME_BIN, root() / "game" / "bin");
    const std::string replays = (root() / "game" / "bin" / "replays").string();
    const ProcessRun result = run("game",
        "--graphics-backEnd=null --headless=1 --test=1 --testLevels=1 --testSecondsPerLevel=24 --log=1 "
        "--fullscreen=0 --threading-enabled=1 --workers=3 --runTests=1 --testStart="
            + std::to_string(rules - levels.begin()) + " --directory='" + replays + "' " + userFolderOption(),
        "ALSOFT_DRIVERS=null", nullptr, {}, 150);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    const std::string log = readFile(logFile());
    std::vector<std::string> play { "Loading level levels/rules", "Using replay file", "Creating quick save",
        "Achievement unlocked: room01", "OutStation -> InStation", "toggle", "Creating quick save",
        "Player died after ", "Restoring quick save", "Deaths: 1" };
    std::vector<std::string> expected = play;
    expected.insert(expected.end(), play.begin(), play.end());
    expected.push_back("Soak test complete");
    expectInOrder(log, expected);
    EXPECT_EQ(log.find("checksum differs"), std::string::npos);
}

// The hazards level with its replay: in both plays of the level the alarm
// machine fires at the player, the jet in the path kills it and the quick
// save of the level's start brings it back.
TEST_F(SoakTest, TheHazardsLevelPlaysItsReplayToTheDeathInTheJet)
{
    const std::vector<std::string> levels = scriptLevels();
    const auto hazards = std::find(levels.begin(), levels.end(), "levels/hazards");
    ASSERT_NE(hazards, levels.end());
    fs::create_directories(root() / "game");
    fs::create_directory_symlink(QUERN_GAME_BIN, root() / "game" / "bin");
    const std::string replays = (root() / "game" / "bin" / "replays").string();
    const ProcessRun result = run("game",
        "--graphics-backEnd=null --headless=1 --test=1 --testLevels=1 --testSecondsPerLevel=34 --log=1 "
        "--fullscreen=0 --threading-enabled=1 --workers=3 --runTests=1 --testStart="
            + std::to_string(hazards - levels.begin()) + " --directory='" + replays + "' " + userFolderOption(),
        "ALSOFT_DRIVERS=null", nullptr, {}, 150);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    const std::string log = readFile(logFile());
    std::vector<std::string> play { "Loading level levels/hazards", "Using replay file", "Creating quick save",
        "[AlarmMachineExt] Shoot", "[AlarmMachineExt] Shoot", "Player died after ", "Restoring quick save" };
    std::vector<std::string> expected = play;
    expected.insert(expected.end(), play.begin(), play.end());
    expected.push_back("Soak test complete");
    expectInOrder(log, expected);
    EXPECT_EQ(log.find("checksum differs"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Threading, SoakTest,
    ::testing::Values("--threading-enabled=0", "--threading-enabled=1 --workers=3"));
INSTANTIATE_TEST_SUITE_P(Drawing, SoakTest,
    ::testing::Values("--threading-enabled=1 --workers=3 --graphics-backEnd=opengl --renderShadows=1"));
