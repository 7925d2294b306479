#include "quern/platform/FileSystem.h"

#include "TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using quern::platform::FileStatus;
using quern::testing::TemporaryDirectory;

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string readText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(FileSystem, ErrnoTable)
{
    const std::pair<int, FileStatus> cases[] = {
        { 0, FileStatus::Success },
        { EEXIST, FileStatus::AlreadyExists },
        { ENOENT, FileStatus::NotFound },
        { ENOTDIR, FileStatus::NotFound },
        { EISDIR, FileStatus::IsDirectory },
        { EACCES, FileStatus::AccessDenied },
        { EPERM, FileStatus::AccessDenied },
        { EBUSY, FileStatus::AccessDenied },
        { EROFS, FileStatus::AccessDenied },
        { ENOSPC, FileStatus::Error },
        { EIO, FileStatus::Error },
    };
    for (const auto& [number, status] : cases)
        EXPECT_EQ(quern::platform::fileStatusFromErrno(number), status) << "errno " << number;
}

TEST(FileSystem, CreateDirectoryReportsExistingAndMissingParents)
{
    TemporaryDirectory temporary;
    const std::string directory = temporary / "saves";
    EXPECT_EQ(quern::platform::createDirectory(directory.c_str()), FileStatus::Success);
    EXPECT_TRUE(std::filesystem::is_directory(directory));
    EXPECT_EQ(quern::platform::createDirectory(directory.c_str()), FileStatus::AlreadyExists);
    EXPECT_EQ(quern::platform::createDirectory((temporary / "no/such/parent").c_str()), FileStatus::NotFound);
}

TEST(FileSystem, DeleteFileStatuses)
{
    TemporaryDirectory temporary;
    const std::string file = temporary / "old.save";
    writeText(file, "x");
    EXPECT_EQ(quern::platform::deleteFile(file.c_str()), FileStatus::Success);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(quern::platform::deleteFile(file.c_str()), FileStatus::NotFound);
    EXPECT_EQ(quern::platform::deleteFile(temporary.path().c_str()), FileStatus::Error);
    EXPECT_TRUE(std::filesystem::exists(temporary.path()));
}

TEST(FileSystem, FileSizeOfFilesDirectoriesAndMissingPaths)
{
    TemporaryDirectory temporary;
    const std::string file = temporary / "data.bin";
    writeText(file, std::string(12345, 'z'));
    quern::u64 size = 7;
    EXPECT_EQ(quern::platform::getFileSize(file.c_str(), size), FileStatus::Success);
    EXPECT_EQ(size, 12345u);

    size = 7;
    EXPECT_EQ(quern::platform::getFileSize(temporary.path().c_str(), size), FileStatus::IsDirectory);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(quern::platform::getFileSize((temporary / "missing").c_str(), size), FileStatus::NotFound);
    EXPECT_EQ(size, 7u);

    EXPECT_TRUE(quern::platform::fileExists(file.c_str()));
    EXPECT_TRUE(quern::platform::fileExists(temporary.path().c_str()));
    EXPECT_FALSE(quern::platform::fileExists((temporary / "missing").c_str()));
}

TEST(FileSystem, ReplaceFileSwapsContentsAndLeavesNoTemporary)
{
    TemporaryDirectory temporary;
    const std::string file = temporary / "settings.ini";
    writeText(file, "old contents that are longer");
    const std::string fresh = "new";
    EXPECT_EQ(quern::platform::replaceFile(file.c_str(), fresh.data(), fresh.size()), FileStatus::Success);
    EXPECT_EQ(readText(file), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temporary.path()), {}), 1);
}

TEST(FileSystem, ReplaceThatCannotRenameRemovesItsTemporary)
{
    TemporaryDirectory temporary;
    const std::string target = temporary / "default.save";
    std::filesystem::create_directory(target);
    writeText(temporary / "default.save/inside", "keep");
    EXPECT_EQ(quern::platform::replaceFile(target.c_str(), "x", 1), FileStatus::IsDirectory);
    EXPECT_EQ(readText(temporary / "default.save/inside"), "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temporary.path()), {}), 1);
}

TEST(FileSystem, FailedReplaceKeepsTheOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop the superuser";
    TemporaryDirectory temporary;
    const std::string file = temporary / "default.save";
    writeText(file, "progress");
    std::filesystem::permissions(
        temporary.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_EQ(quern::platform::replaceFile(file.c_str(), "lost", 4), FileStatus::AccessDenied);
    std::filesystem::permissions(temporary.path(), std::filesystem::perms::owner_all);
    EXPECT_EQ(readText(file), "progress");
    EXPECT_EQ(quern::platform::replaceFile((temporary / "none/x").c_str(), "x", 1), FileStatus::NotFound);
}

TEST(FileSystem, NativePathKeepsUtf8AndStopsAtMalformedText)
{
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        { "a/b", "a/b" },
        { "a\\b\\c.txt", "a/b/c.txt" },
        { "caf\xC3\xA9/men\xC3\xBC", "caf\xC3\xA9/men\xC3\xBC" }, // two-byte letters stay whole
        { "\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x8E\xAE", "\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x8E\xAE" }, // CJK, emoji
        { "ok\xC3", "ok" }, // cut short at the end
        { "ok\x80rest", "ok" }, // stray continuation byte
        { "ok\xC0\xAFrest", "ok" }, // overlong '/'
        { "ok\xED\xA0\x80rest", "ok" }, // surrogate half
        { "ok\xF4\x90\x80\x80rest", "ok" }, // above U+10FFFF
        { "ok\xE2\x82rest", "ok" }, // three-byte form cut short
        { "", "" },
    };
    for (const Case& c : cases) {
        std::string native = "root/";
        quern::platform::appendNativePath(native, c.path);
        EXPECT_EQ(native, std::string("root/") + c.expected) << c.path;
    }
}

} // namespace
