#include "quern/io/FilePath.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

using quern::io::FilePath;
using quern::strings::StringRef;

StringRef ref(const char* text) { return StringRef{text, std::strlen(text)}; }

FilePath makePath(const char* text)
{
    FilePath path;
    path.append(ref(text));
    return path;
}

// The text exactly as given, as a path read back from elsewhere may hold it.
FilePath rawPath(const char* text)
{
    FilePath path;
    path.quern::strings::String::append(text);
    return path;
}

enum class Op { Append, Normalize, Parent, FileNamePart };

struct PathCase {
    Op op;
    const char* base;  // the path operated on (Append: the path appended to)
    const char* input; // Append only: the component
    const char* expected;
};

std::string run(const PathCase& c)
{
    switch (c.op) {
    case Op::Append: {
        FilePath path = makePath(c.base);
        path.append(ref(c.input));
        return path.c_str();
    }
    case Op::Normalize: {
        FilePath path = makePath(c.base);
        path.normalize();
        return path.c_str();
    }
    case Op::Parent:
        return rawPath(c.base).parent().c_str();
    case Op::FileNamePart:
        return quern::io::fileNamePart(c.base);
    }
    return {};
}

TEST(FilePath, Operations)
{
    const PathCase cases[] = {
        {Op::Append, "", "c:\\games\\save", "C:/games/save"},
        {Op::Append, "C:", "a", "C:/a"},
        {Op::Append, "", "//server\\share\\x", "//server/share/x"},
        {Op::Append, ".", "../x", "../x"},
        {Op::Append, "", "/usr/local", "/usr/local"},
        {Op::Append, "/usr", "lib", "/usr/lib"},
        {Op::Append, "/usr/", "lib", "/usr/lib"},
        {Op::Append, "/home/me", "/abs/file", "/home/me/abs/file"},
        {Op::Append, "a", "./b/./c", "a/b/c"},
        {Op::Append, "", ".", "."},
        {Op::Append, "", "./x", "x"},
        {Op::Append, "a", "b//c", "a/b/c"},
        {Op::Append, "a", "..", "a/.."},
        {Op::Append, "a", ".hidden", "a/.hidden"},
        {Op::Append, "", "C:/../../x", "C:/x"},
        {Op::Append, "//host", "share", "//host/share"},
        {Op::Append, "", "dir\\", "dir"},
        {Op::Normalize, "a/b/../c", nullptr, "a/c"},
        {Op::Normalize, "../a", nullptr, "../a"},
        {Op::Normalize, "a/..", nullptr, "."},
        {Op::Normalize, "a/b/../../c", nullptr, "c"},
        {Op::Normalize, "x/../../y", nullptr, "../y"},
        {Op::Normalize, "../../a/..", nullptr, "../.."},
        {Op::Normalize, "a/..b/c", nullptr, "a/..b/c"},
        {Op::Normalize, "/a/../x", nullptr, "/x"},
        {Op::Normalize, "/../x", nullptr, "/x"},
        {Op::Normalize, "/..", nullptr, "/"},
        {Op::Normalize, "C:/a/../..", nullptr, "C:/"},
        {Op::Normalize, "//host/share/../..", nullptr, "//host"},
        {Op::Normalize, "a/b/c", nullptr, "a/b/c"},
        {Op::Parent, "C:/a", nullptr, "C:/"},
        {Op::Parent, "/a", nullptr, "/"},
        {Op::Parent, "a/b/", nullptr, "a/b"},
        {Op::Parent, "a", nullptr, ""},
        {Op::Parent, "/home/me/file.txt", nullptr, "/home/me"},
        {Op::Parent, "//host/share", nullptr, "//host/"},
        {Op::FileNamePart, "dir/file.txt", nullptr, "file.txt"},
        {Op::FileNamePart, "dir/", nullptr, "/"},
        {Op::FileNamePart, "file.txt", nullptr, "file.txt"},
        {Op::FileNamePart, "C:file.txt", nullptr, "file.txt"},
        {Op::FileNamePart, "", nullptr, ""},
    };
    for (const PathCase& c : cases)
        EXPECT_EQ(run(c), c.expected) << "op " << static_cast<int>(c.op) << " on '" << c.base << "'"
                                      << (c.input ? std::string(" with '") + c.input + "'" : std::string());
}

TEST(FilePath, AbsoluteForms)
{
    const struct {
        const char* text;
        bool absolute;
    } cases[] = {{"/x", true}, {"C:/x", true}, {"C:", true}, {"\\x", true},
                 {"x", false}, {"C:x", false}, {"./x", false}, {"", false}};
    for (const auto& c : cases)
        EXPECT_EQ(FilePath::isAbsolute(ref(c.text)), c.absolute) << c.text;
}

TEST(FilePath, CurrentDirectoryFollowsTheProcess)
{
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quern-cwd-test";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    const FilePath current = FilePath::currentDirectory();
    std::filesystem::current_path(before);
    EXPECT_EQ(std::string(current.c_str()), std::filesystem::canonical(dir).string());
}

TEST(FilePath, ExportScenesListIsRelative)
{
    quern::strings::String out;
    EXPECT_TRUE(quern::io::exportScenesListPath("/project", out));
    EXPECT_STREQ(out.c_str(), ".QuernExport/scenes.txt");
}

} // namespace
