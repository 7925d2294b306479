#include "quern/io/FileUtility.h"

#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

using quern::io::FileMode;

TEST(FileUtility, ModeStrings)
{
    const struct {
        FileMode mode;
        const char* text;
    } cases[] = {{FileMode::Read, "rb"},     {FileMode::Write, "wb"},     {FileMode::Append, "ab"},
                 {FileMode::ReadText, "r"}, {FileMode::WriteText, "w"}, {FileMode::AppendText, "a"}};
    for (const auto& c : cases)
        EXPECT_STREQ(quern::io::fileModeString(c.mode), c.text) << static_cast<int>(c.mode);
}

TEST(FileUtilityDeathTest, UnknownModeIsFatal)
{
    for (int value : {2, 6, 8, -1})
        EXPECT_DEATH(quern::io::fileModeString(static_cast<FileMode>(value)), "Invalid enum value for type FileMode")
            << value;
}

TEST(FileUtility, WriteAppendReadSeek)
{
    quern::test::TempDirectory dir;
    const std::string path = dir.file("log.txt");

    FILE* file = quern::io::openFile(path.c_str(), FileMode::Write);
    std::fputs("0123456789", file);
    quern::io::closeFile(file);
    file = quern::io::openFile(path.c_str(), FileMode::Append);
    std::fputs("ab", file);
    quern::io::closeFile(file);

    file = quern::io::openFile(path.c_str(), FileMode::Read);
    quern::io::seekFile(file, 8, "test");
    char tail[5] = {};
    EXPECT_EQ(std::fread(tail, 1, 4, file), 4u);
    quern::io::closeFile(file);
    EXPECT_STREQ(tail, "89ab");
}

TEST(FileUtility, Utf8OpenReportsFailureWithNull)
{
    quern::test::TempDirectory dir;
    EXPECT_EQ(quern::io::openFileUtf8(dir.file("none/x").c_str(), "rb"), nullptr);

    const std::string path = dir.file("caf\xc3\xa9.txt");
    FILE* file = quern::io::openFileUtf8(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(path)));
}

TEST(FileUtilityDeathTest, OpeningAMissingFileIsFatal)
{
    quern::test::TempDirectory dir;
    const std::string path = dir.file("missing.db");
    EXPECT_DEATH(quern::io::openFile(path.c_str(), FileMode::Read), "File not found \\('.*missing.db'\\)");
}

TEST(FileUtilityDeathTest, FailedSeekIsFatal)
{
    quern::test::TempDirectory dir;
    dir.writeFile("a.bin", "abc");
    const std::string path = dir.file("a.bin");
    EXPECT_DEATH(
        {
            FILE* file = quern::io::openFile(path.c_str(), FileMode::Read);
            quern::io::seekFile(file, std::numeric_limits<quern::u64>::max(), "a.bin");
        },
        "fseek failed");
}

} // namespace

namespace {

TEST(FileUtilityDeathTest, FailedCloseIsFatal)
{
    // The device is always full: the flush on close fails.
    ASSERT_TRUE(std::filesystem::exists("/dev/full"));
    EXPECT_DEATH(
        {
            FILE* file = quern::io::openFile("/dev/full", FileMode::Write);
            std::fputs("pending", file); // still in the stream's buffer
            quern::io::closeFile(file);
        },
        "Error reading from file");
}

} // namespace
