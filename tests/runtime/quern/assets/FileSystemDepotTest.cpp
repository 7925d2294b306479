#include "quern/assets/FileSystemDepot.h"

#include "DepotTestContent.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using quern::u32;
using quern::u64;
using quern::assets::FileSystemDepot;
using quern::test::assetId;
using quern::test::DepotContent;
using quern::test::patternBytes;

TEST(FileSystemDepot, PathIsTheIdInLowerCaseHexSplitAfterTwoDigits)
{
    const struct {
        u64 id;
        const char* path;
    } cases[] = {
        {0x0123456789abcdefull, "01/23456789abcdef"},
        {0xfedcba9876543210ull, "fe/dcba9876543210"},
        {0, "00/00000000000000"},
        {0xa, "00/0000000000000a"},
    };
    for (const auto& test : cases) {
        char path[18];
        FileSystemDepot::relativePath(test.id, path);
        EXPECT_STREQ(path, test.path);
    }
}

TEST(FileSystemDepot, ServesTheFileOfTheAssetsId)
{
    DepotContent content;
    const std::string bytes = patternBytes(10000);
    content.build({{"level1", bytes}, {"empty", ""}}, "files");
    char relative[18];
    FileSystemDepot::relativePath(assetId("level1"), relative);
    ASSERT_TRUE(std::filesystem::exists(content.outFile(relative)));

    FileSystemDepot depot(content.out().c_str());
    const u32 handle = depot.open(assetId("level1"));
    EXPECT_EQ(depot.size(handle), bytes.size());
    std::string read(bytes.size(), '\0');
    EXPECT_EQ(depot.read(handle, 4000, read.data()), 4000u);
    EXPECT_EQ(depot.read(handle, 100000, read.data() + 4000), 6000u);
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(depot.read(handle, 10, read.data()), 0u);

    depot.seek(handle, 9995);
    EXPECT_EQ(depot.read(handle, 100, read.data()), 5u);
    EXPECT_EQ(read.substr(0, 5), bytes.substr(9995));
    depot.seek(handle, 1u << 20);
    EXPECT_EQ(depot.read(handle, 100, read.data()), 0u);
    depot.close(handle);

    const u32 empty = depot.open(assetId("empty"));
    EXPECT_EQ(depot.size(empty), 0u);
    EXPECT_EQ(depot.read(empty, 10, read.data()), 0u);
    depot.close(empty);
}

TEST(FileSystemDepot, OpenEntriesAreIndependent)
{
    DepotContent content;
    content.build({{"a", "aaaaaa"}, {"b", "bbbbbb"}}, "files");
    FileSystemDepot depot(content.out().c_str());
    const u32 a1 = depot.open(assetId("a"));
    const u32 a2 = depot.open(assetId("a"));
    const u32 b = depot.open(assetId("b"));
    EXPECT_NE(a1, a2);
    char x[4];
    EXPECT_EQ(depot.read(a1, 4, x), 4u);
    EXPECT_EQ(depot.read(a2, 2, x), 2u);
    EXPECT_EQ(depot.read(a1, 4, x), 2u);
    depot.close(a1);
    EXPECT_EQ(depot.read(b, 4, x), 4u);
    EXPECT_EQ(std::string(x, 4), "bbbb");
    depot.close(a2);
    depot.close(b);
}

TEST(FileSystemDepotDeathTest, MissingAssetIsFileNotFound)
{
    DepotContent content;
    content.build({{"a", "a"}}, "files");
    FileSystemDepot depot(content.out().c_str());
    EXPECT_DEATH(depot.open(assetId("b")), "File not found");
}

TEST(FileSystemDepotDeathTest, DirectoryAtTheAssetsPathIsNoAsset)
{
    DepotContent content;
    content.build({{"a", "a"}}, "files");
    char relative[18];
    FileSystemDepot::relativePath(assetId("dir"), relative);
    std::filesystem::create_directories(content.outFile(relative));
    FileSystemDepot depot(content.out().c_str());
    EXPECT_DEATH(depot.open(assetId("dir")), "File not found");
}

TEST(FileSystemDepotDeathTest, StaleHandleIsFatal)
{
    DepotContent content;
    content.build({{"a", "a"}}, "files");
    FileSystemDepot depot(content.out().c_str());
    const u32 handle = depot.open(assetId("a"));
    depot.close(handle);
    char c;
    EXPECT_DEATH(depot.read(handle, 1, &c), "Invalid depot handle");
    EXPECT_DEATH(depot.seek(handle, 0), "Invalid depot handle");
}

TEST(FileSystemDepotDeathTest, SeekTheFileCannotReachIsFatal)
{
    DepotContent content;
    content.build({{"a", "a"}}, "files");
    FileSystemDepot depot(content.out().c_str());
    const u32 handle = depot.open(assetId("a"));
    EXPECT_DEATH(depot.seek(handle, u64{1} << 63), "fseek failed");
    depot.close(handle);
}

} // namespace
