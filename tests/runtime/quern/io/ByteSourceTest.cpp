#include "quern/io/FileSource.h"
#include "quern/io/StringSource.h"

#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

namespace {

using quern::u64;
using quern::u8;

TEST(StringSource, ReadsChainAndAdvance)
{
    const char data[] = "abcdefgh";
    quern::StringSource source(data, 8);
    char first[3] = {};
    char second[5] = {};
    source.read(first, 3).read(second, 5);
    EXPECT_EQ(std::string(first, 3), "abc");
    EXPECT_EQ(std::string(second, 5), "defgh");
    EXPECT_EQ(source.position, 8u);

    source.position = 2; // positioning is just an assignment
    char again[2] = {};
    source.read(again, 2);
    EXPECT_EQ(std::string(again, 2), "cd");
}

TEST(StringSource, ReadingNothingAtTheEndSucceeds)
{
    const char data[] = "ab";
    quern::StringSource source(data, 2);
    source.position = 2;
    source.read(nullptr, 0);
    EXPECT_EQ(source.position, 2u);
}

TEST(StringSourceDeathTest, ReadPastTheEndIsFatal)
{
    const char data[] = "ab";
    const struct {
        u64 position;
        u64 count;
    } cases[] = {
        {2, 1},                                        // at the end
        {1, 2},                                        // runs over the end
        {100, 1},                                      // position past the end
        {std::numeric_limits<u64>::max() - 1, 4},      // position + count wraps around
        {0, std::numeric_limits<u64>::max()},          // huge count
    };
    for (const auto& c : cases) {
        EXPECT_DEATH(
            {
                quern::StringSource source(data, 2);
                source.position = c.position;
                char out[4];
                source.read(out, c.count);
            },
            "Error reading from file")
            << c.position << " + " << c.count;
    }
}

// Counts the device moves of a file source.
class CountingFileSource : public quern::FileSource {
public:
    int seeks = 0;

protected:
    void seek(u64 position) override
    {
        ++seeks;
        quern::FileSource::seek(position);
    }
};

TEST(FileSource, MovesTheDeviceOnlyWhenThePositionChanged)
{
    quern::test::TempDirectory dir;
    dir.writeFile("data.bin", "0123456789");
    CountingFileSource source;
    source.open(dir.file("data.bin").c_str());
    EXPECT_EQ(source.size(), 10u);

    char buffer[4] = {};
    source.read(buffer, 4).read(buffer, 4);
    EXPECT_EQ(source.seeks, 0);
    EXPECT_EQ(std::string(buffer, 4), "4567");

    source.position = 0;
    source.read(buffer, 2).read(buffer + 2, 2);
    EXPECT_EQ(source.seeks, 1);
    EXPECT_EQ(std::string(buffer, 4), "0123");
}

TEST(FileSource, ReadsBeyondFourGibibytes)
{
    quern::test::TempDirectory dir;
    const std::string path = dir.file("large.bin");
    const u64 size = (5ull << 30) + 3;
    const u64 markerAt = (4ull << 30) + (1ull << 29) + 7;
    {
        std::ofstream(path, std::ios::binary).put('\0');
        std::filesystem::resize_file(path, size); // sparse: no real disk use
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(static_cast<std::streamoff>(markerAt));
        file.write("MARK", 4);
    }
    quern::FileSource source;
    source.open(path.c_str());
    EXPECT_EQ(source.size(), size);
    source.position = markerAt;
    char marker[4] = {};
    source.read(marker, 4);
    EXPECT_EQ(std::string(marker, 4), "MARK");
    EXPECT_EQ(source.position, markerAt + 4);
}

TEST(FileSourceDeathTest, MissingFileIsFatal)
{
    quern::test::TempDirectory dir;
    const std::string path = dir.file("missing.bin");
    EXPECT_DEATH(
        {
            quern::FileSource source;
            source.open(path.c_str());
        },
        "File not found \\('.*missing.bin'\\)");
}

TEST(FileSourceDeathTest, DirectoryIsNotAFile)
{
    quern::test::TempDirectory dir;
    EXPECT_DEATH(
        {
            quern::FileSource source;
            source.open(dir.path().c_str());
        },
        "File not found");
}

TEST(FileSourceDeathTest, ShortReadIsFatal)
{
    quern::test::TempDirectory dir;
    dir.writeFile("short.bin", "abc");
    EXPECT_DEATH(
        {
            quern::FileSource source;
            source.open(dir.file("short.bin").c_str());
            source.position = 1;
            char out[4];
            source.read(out, 4);
        },
        "Error reading from file");
}

} // namespace
