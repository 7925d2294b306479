#include "quern/io/HomeFileSystem.h"

#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using quern::io::HomeFileSystem;
using quern::io::UserStorageError;
using quern::io::UserStorageResult;
using quern::test::TempDirectory;

void expectResult(const UserStorageResult& result, quern::u64 value, UserStorageError code, const char* message)
{
    EXPECT_EQ(result.value, value);
    EXPECT_EQ(result.code, code);
    EXPECT_STREQ(result.message, message);
    EXPECT_EQ(result.name, nullptr);
    EXPECT_EQ(result.operation, quern::io::UserStorageOperation::None);
}

class HomeFileSystemTest : public testing::Test {
protected:
    HomeFileSystemTest()
    {
        fs.setDirectory(dir.path().c_str());
        fs.setQuiet(true);
    }

    TempDirectory dir;
    HomeFileSystem fs;
};

TEST_F(HomeFileSystemTest, ReadsWholeFile)
{
    dir.writeFile("settings.ini", "[Audio]\nenabled=1\n");
    char buffer[18] = {};
    expectResult(fs.read("settings.ini", buffer, sizeof(buffer)), 18, UserStorageError::NoError, "No error");
    EXPECT_EQ(std::string(buffer, 18), "[Audio]\nenabled=1\n");
}

TEST_F(HomeFileSystemTest, ReadingAMissingFileIsPathNotFound)
{
    char buffer[4];
    expectResult(fs.read("none.save", buffer, sizeof(buffer)), 0, UserStorageError::PathNotFound, "Path not found");
}

TEST_F(HomeFileSystemTest, ShortReadReportsTheBytesRead)
{
    dir.writeFile("small.bin", std::string(40, 'x'));
    char buffer[100];
    expectResult(fs.read("small.bin", buffer, sizeof(buffer)), 40, UserStorageError::ReadError, "Read error");
}

TEST_F(HomeFileSystemTest, FileSize)
{
    dir.writeFile("a.bin", std::string(1234, 'x'));
    expectResult(fs.fileSize("a.bin"), 1234, UserStorageError::NoError, "No error");
    expectResult(fs.fileSize("b.bin"), 0, UserStorageError::PathNotFound, "Path not found");
    std::filesystem::create_directory(dir.path() / "sub");
    expectResult(fs.fileSize("sub"), 0, UserStorageError::UnknownError, "Unknown error");
}

TEST_F(HomeFileSystemTest, Remove)
{
    dir.writeFile("old.save", "x");
    expectResult(fs.remove("old.save"), 0, UserStorageError::NoError, "No error");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "old.save"));
    expectResult(fs.remove("old.save"), 0, UserStorageError::PathNotFound, "Path not found");
}

TEST_F(HomeFileSystemTest, WriteThenReadBack)
{
    const std::string data = "progress";
    expectResult(fs.write("default.save", data.data(), data.size()), data.size(), UserStorageError::NoError,
                 "No error");
    EXPECT_EQ(dir.readFile("default.save"), data);
}

TEST_F(HomeFileSystemTest, WriteCreatesTheLastDirectoryLevelOnly)
{
    expectResult(fs.write("replays/run.rec", "abc", 3), 3, UserStorageError::NoError, "No error");
    EXPECT_EQ(dir.readFile("replays/run.rec"), "abc");

    expectResult(fs.write("deep/er/run.rec", "abc", 3), 0, UserStorageError::PathNotFound, "Path not found");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "deep"));
}

TEST_F(HomeFileSystemTest, WriteCreatesTheUserDirectoryItself)
{
    fs.setDirectory((dir.path() / "Tin Lantern Run").c_str());
    expectResult(fs.write("settings.ini", "x=1\n", 4), 4, UserStorageError::NoError, "No error");
    EXPECT_EQ(dir.readFile("Tin Lantern Run/settings.ini"), "x=1\n");
}

TEST_F(HomeFileSystemTest, WriteReplacesTheFileInsteadOfOverwritingItInPlace)
{
    dir.writeFile("default.save", "old progress");
    // A second name for the old file's contents: an in-place overwrite would change
    // it too, a write that is renamed over the target leaves it whole.
    std::filesystem::create_hard_link(dir.path() / "default.save", dir.path() / "witness");

    expectResult(fs.write("default.save", "new", 3), 3, UserStorageError::NoError, "No error");
    EXPECT_EQ(dir.readFile("default.save"), "new");
    EXPECT_EQ(dir.readFile("witness"), "old progress");

    // Nothing of the temporary file is left behind.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"default.save", "witness"}));
}

TEST_F(HomeFileSystemTest, FailedWriteKeepsTheOldFile)
{
    dir.writeFile("default.save", "old progress");
    // The temporary file cannot be made where a directory of its name stands.
    std::filesystem::create_directory(dir.path() / "default.save.tmp");
    std::filesystem::create_directory(dir.path() / "default.save.tmp" / "x");
    const UserStorageResult result = fs.write("default.save", "new", 3);
    EXPECT_NE(result.code, UserStorageError::NoError);
    EXPECT_EQ(dir.readFile("default.save"), "old progress");
}

TEST_F(HomeFileSystemTest, WritingOverADirectoryIsRefused)
{
    std::filesystem::create_directory(dir.path() / "taken");
    const UserStorageResult result = fs.write("taken", "x", 1);
    EXPECT_NE(result.code, UserStorageError::NoError);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "taken"));
}

TEST_F(HomeFileSystemTest, AcceptsAnExistingAbsolutePath)
{
    TempDirectory elsewhere;
    elsewhere.writeFile("replay.rec", "outside");
    dir.writeFile("replay.rec", "inside");
    const std::string absolute = elsewhere.file("replay.rec");

    char buffer[7] = {};
    fs.setAcceptExistingPaths(true);
    EXPECT_EQ(fs.read(absolute.c_str(), buffer, 7).code, UserStorageError::NoError);
    EXPECT_EQ(std::string(buffer, 7), "outside");
    EXPECT_EQ(fs.fileSize(absolute.c_str()).value, 7u);

    fs.setAcceptExistingPaths(false);
    EXPECT_EQ(fs.read(absolute.c_str(), buffer, 7).code, UserStorageError::PathNotFound);
}

TEST_F(HomeFileSystemTest, RelativeNamesAlwaysResolveInTheUserDirectory)
{
    TempDirectory current;
    current.writeFile("default.save", "from the current directory");
    dir.writeFile("default.save", "from the user directory");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(current.path());

    fs.setAcceptExistingPaths(true);
    char buffer[23] = {};
    const UserStorageResult result = fs.read("default.save", buffer, sizeof(buffer));
    const UserStorageResult removed = fs.remove("default.save");
    std::filesystem::current_path(before);

    EXPECT_EQ(result.code, UserStorageError::NoError);
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), "from the user directory");
    EXPECT_EQ(removed.code, UserStorageError::NoError);
    EXPECT_TRUE(std::filesystem::exists(current.path() / "default.save"));
}

TEST(HomeFileSystem, ResolvesTheUserDirectorySetting)
{
    EXPECT_STREQ(quern::io::resolveUserDirectory("/data/users").c_str(), "/data/users");
    const std::string expected = std::filesystem::current_path().string() + "/users/me";
    EXPECT_EQ(std::string(quern::io::resolveUserDirectory("users\\me").c_str()), expected);
}

TEST(HomeFileSystem, DefaultDirectoryIsTheUserDataFolderWithTheProductTitle)
{
    TempDirectory appData;
    setenv("APPDATA", appData.path().c_str(), 1);
    HomeFileSystem fs;
    fs.initDefaultDirectory();
    unsetenv("APPDATA");
    EXPECT_EQ(std::string(fs.directory()), appData.path().string() + "/Tin Lantern Run");
}

} // namespace

namespace {

TEST(HomeFileSystemLog, ReadsAndWritesAreLoggedUnlessQuiet)
{
    quern::test::TempDirectory dir;
    HomeFileSystem fs;
    fs.setDirectory(dir.path().c_str());

    testing::internal::CaptureStdout();
    fs.write("settings.ini", "a=1\n", 4);
    char buffer[4];
    fs.read("settings.ini", buffer, 4);
    fs.setQuiet(true);
    fs.write("quiet.ini", "a=1\n", 4);
    fs.read("quiet.ini", buffer, 4);
    std::cout.flush();
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_NE(output.find("Writing user file '" + dir.file("settings.ini") + "'"), std::string::npos) << output;
    EXPECT_NE(output.find("Reading user file '" + dir.file("settings.ini") + "'"), std::string::npos) << output;
    EXPECT_EQ(output.find("quiet.ini"), std::string::npos) << output;
}

} // namespace
