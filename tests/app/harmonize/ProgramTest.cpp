// The game program run as a process, in a temporary folder whose bin/ the
// content tool filled.

#include "runtime/quern/platform/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

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
    // platform's user folders point into the temporary folder too.
    ProcessRun run(
        const std::string& folder, const std::string& arguments, const std::string& environment = "ALSOFT_DRIVERS=null")
    {
        fs::create_directories(root() / folder);
        const fs::path home = root() / "home";
        const std::string command = "cd '" + (root() / folder).string() + "' && env -u APPDATA HOME='" + home.string()
            + "' XDG_DATA_HOME='" + (home / "data").string() + "' " + environment + " " + QUERN_HARMONIZE_PROGRAM + " "
            + arguments + " >'" + (root() / "out.txt").string() + "' 2>'" + (root() / "err.txt").string() + "'";
        const int status = std::system(command.c_str());
        ProcessRun result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.output = readFile(root() / "out.txt");
        result.errors = readFile(root() / "err.txt");
        fs::remove(root() / "out.txt");
        fs::remove(root() / "err.txt");
        return result;
    }

    std::string userFolderOption() const { return "--userFilePath='" + (root() / "user").string() + "'"; }
    fs::path logFile() const { return root() / "user" / "harmonizelog.txt"; }

    quern::testing::TemporaryDirectory m_directory;
};

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
    };
    for (const Case& c : cases) {
        fs::remove(logFile());
        const ProcessRun result = run(".", userFolderOption() + " " + c.arguments);
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
    ProcessRun result = run(".", userFolderOption());
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(fs::exists(logFile()));

    // The second pass overrides the file, and a user folder given only there
    // receives the log.
    fs::remove(logFile());
    std::ofstream(root() / "user" / "settings.ini") << "[Development]\nLog = 1\nuserFilePath = elsewhere\n";
    result = run(".", userFolderOption());
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(fs::exists(logFile()));
    EXPECT_FALSE(fs::exists(root() / "elsewhere"));
}

TEST_F(ProgramTest, FindsTheDatabaseInTheParentsBinFolder)
{
    buildContent("bin");
    const ProcessRun result = run("game", userFolderOption() + " --log");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(fs::exists(logFile()));
}

TEST_F(ProgramTest, WithoutAUsableOpenALDriverTheNullBackEndPlays)
{
    buildContent("bin");
    const ProcessRun result = run(".", userFolderOption(), "ALSOFT_DRIVERS=nonexistent");
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_NE((result.output + result.errors).find("Using back end 'Null'"), std::string::npos) << result.errors;
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

} // namespace
