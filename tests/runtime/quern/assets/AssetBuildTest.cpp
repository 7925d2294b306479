// The content tool that builds the depots (and databases) the tests read.

#include "AssetManifest.h"
#include "ContentBuilder.h"
#include "RunLengthCodec.h"

#include "quern/assets/BlobDepot.h"
#include "quern/io/FileSource.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/PackedName.h"

#include "DepotTestContent.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using quern::u32;
using quern::u64;
using quern::u8;
using namespace quern::assetbuild;
using quern::test::assetId;
using quern::test::TempDirectory;

TEST(AssetManifest, ReadsNamesTypesDependenciesAndOptions)
{
    Manifest manifest;
    std::string error;
    ASSERT_TRUE(parseManifest("# the demo\n"
                              "\n"
                              "levels/one.world world   textures/a.dds  blob=levels # trailing comment\n"
                              "textures/a.dds texture codec=rle gamevalue=0x1F stage=fragment\n",
                              manifest, error))
        << error;
    ASSERT_EQ(manifest.assets.size(), 2u);
    const ManifestAsset& level = manifest.assets[0];
    EXPECT_EQ(level.name, "levels/one.world");
    EXPECT_EQ(level.type, "world");
    EXPECT_EQ(level.dependencies, std::vector<std::string>{"textures/a.dds"});
    EXPECT_EQ(level.blob, "levels");
    EXPECT_EQ(level.line, 3u);
    EXPECT_EQ(manifest.assets[1].codec, "rle");
    EXPECT_EQ(level.gameValue, 0u);
    EXPECT_EQ(manifest.assets[1].gameValue, 31u);
    EXPECT_EQ(level.stage, "");
    EXPECT_EQ(manifest.assets[1].stage, "fragment");
}

TEST(AssetManifest, MalformedLinesNameTheirLine)
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"a type\nlonely\n", "line 2: an asset needs a name and a type word"},
        {"a type size=3\n", "line 1: unknown option size=3"},
        {"a type codec=zip\n", "line 1: unknown codec zip"},
        {"a type gamevalue=\n", "line 1: gamevalue takes a 32-bit number, not "},
        {"a type gamevalue=12x\n", "line 1: gamevalue takes a 32-bit number, not 12x"},
        {"a type gamevalue=-1\n", "line 1: gamevalue takes a 32-bit number, not -1"},
        {"a type gamevalue=4294967296\n", "line 1: gamevalue takes a 32-bit number, not 4294967296"},
        {"a type gamevalue=0x100000000\n", "line 1: gamevalue takes a 32-bit number, not 0x100000000"},
        {"a type gamevalue=0x\n", "line 1: gamevalue takes a 32-bit number, not 0x"},
    };
    for (const auto& test : cases) {
        Manifest manifest;
        std::string error;
        EXPECT_FALSE(parseManifest(test.text, manifest, error)) << test.text;
        EXPECT_EQ(error, test.error);
    }
}

TEST(ContentBuilder, IdsAreNameHashesAndTypesArePackedWords)
{
    TempDirectory directory;
    directory.writeFile("a", "A");
    directory.writeFile("b", "BB");
    Manifest manifest;
    std::string error;
    ASSERT_TRUE(parseManifest("a image b\nb model blob=Meshes\n", manifest, error));
    std::vector<BuiltAsset> assets;
    ASSERT_TRUE(loadAssets(manifest, directory.path().string(), assets, error)) << error;
    ASSERT_EQ(assets.size(), 2u);
    EXPECT_EQ(assets[0].assetId, assetId("a"));
    EXPECT_EQ(assets[0].typeId, quern::packName("image"));
    EXPECT_EQ(assets[0].dependencies, std::vector<u64>{assetId("b")});
    EXPECT_EQ(assets[0].blobId, 0u);
    EXPECT_EQ(assets[1].blobId, quern::packName("meshes"));
    EXPECT_EQ(assets[1].bytes, (std::vector<u8>{'B', 'B'}));
}

TEST(ContentBuilder, RefusesWhatItCannotBuild)
{
    const struct {
        const char* manifest;
        const char* error;
    } cases[] = {
        {"missing data\n", "cannot read"},
        {"a 9lives\n", "type word \"9lives\" is not a name"},
        {"a data blob=far-away\n", "blob name \"far-away\" is not a name"},
        {"a data\na data\n", "asset a is listed twice"},
        {"a data ghost\n", "dependency ghost of a is not in the manifest"},
        {"folder data\n", "cannot read"},
    };
    TempDirectory directory;
    directory.writeFile("a", "A");
    std::filesystem::create_directories(directory.path() / "folder");
    for (const auto& test : cases) {
        Manifest manifest;
        std::string error;
        ASSERT_TRUE(parseManifest(test.manifest, manifest, error));
        std::vector<BuiltAsset> assets;
        EXPECT_FALSE(loadAssets(manifest, directory.path().string(), assets, error)) << test.manifest;
        EXPECT_NE(error.find(test.error), std::string::npos) << error;
    }
}

TEST(RunLengthCodec, RoundTripsAndRejectsMalformedInput)
{
    std::vector<u8> data(1000, 7);
    data[500] = 1;
    const std::vector<u8> packed = runLengthEncode(data.data(), data.size());
    EXPECT_LT(packed.size(), 20u);
    std::vector<u8> out(1000);
    u64 written = 0;
    ASSERT_TRUE(runLengthDecode(packed.data(), packed.size(), out.data(), out.size(), written));
    EXPECT_EQ(written, 1000u);
    EXPECT_EQ(out, data);

    const u8 odd[3] = {1, 2, 3};
    const u8 zeroRun[2] = {0, 2};
    const u8 tooLong[2] = {255, 2};
    EXPECT_FALSE(runLengthDecode(odd, 3, out.data(), out.size(), written));
    EXPECT_FALSE(runLengthDecode(zeroRun, 2, out.data(), out.size(), written));
    EXPECT_FALSE(runLengthDecode(tooLong, 2, out.data(), 100, written));
}

std::string runTool(const std::string& arguments)
{
    return std::string(QUERN_ASSETBUILD_PROGRAM) + " " + arguments + " 2>/dev/null";
}

TEST(AssetBuildProgram, BuildsABlobDepotTheEngineReads)
{
    TempDirectory directory;
    std::filesystem::create_directories(directory.path() / "src" / "sub");
    directory.writeFile("src/sub/first.txt", "first asset");
    directory.writeFile("src/second.bin", std::string(600, 'x'));
    directory.writeFile("manifest.txt", "sub/first.txt text\nsecond.bin data sub/first.txt codec=rle blob=extra\n");
    const std::string out = directory.file("out");
    ASSERT_EQ(std::system(runTool("--manifest " + directory.file("manifest.txt") + " --source " +
                                  directory.file("src") + " --out " + out)
                              .c_str()),
              0);

    quern::test::RunLengthDecompressor decompressor;
    quern::assets::BlobDepot depot;
    depot.setDecompressor(&decompressor);
    depot.openIndex(out.c_str());
    const u32 first = depot.open(assetId("sub/first.txt"));
    std::string text(depot.size(first), '\0');
    EXPECT_EQ(depot.read(first, text.size(), text.data()), text.size());
    EXPECT_EQ(text, "first asset");
    depot.close(first);
    const u32 second = depot.open(assetId("second.bin"));
    std::string bytes(depot.size(second), '\0');
    EXPECT_EQ(depot.read(second, bytes.size(), bytes.data()), 600u);
    EXPECT_EQ(bytes, std::string(600, 'x'));
    depot.close(second);
    EXPECT_EQ(decompressor.calls.load(), 1);
}

TEST(AssetBuildProgram, FailsWithAStatusOnBadInput)
{
    TempDirectory directory;
    directory.writeFile("manifest.txt", "absent data\n");
    EXPECT_NE(std::system(runTool("--manifest " + directory.file("manifest.txt") + " --source " +
                                  directory.file("src") + " --out " + directory.file("out"))
                              .c_str()),
              0);
    EXPECT_NE(std::system(runTool("--manifest").c_str()), 0);
    EXPECT_NE(std::system(runTool("--depot tree --manifest m --source s --out o").c_str()), 0);
}

quern::serialize::StringTable readLocalisedTexts(const std::string& path)
{
    quern::FileSource source;
    source.open(path.c_str());
    quern::serialize::StringTable table;
    quern::serialize::readStringTable(source, table, nullptr);
    return table;
}

u64 textKey(const char* key)
{
    return quern::strings::murmurHash64A(key, std::strlen(key), quern::strings::kInternerSeed);
}

TEST(AssetBuildProgram, WritesTheLocalisedTextsKeyedAsTheEngineKeysNames)
{
    TempDirectory directory;
    std::filesystem::create_directories(directory.path() / "src");
    directory.writeFile("src/a.txt", "a");
    directory.writeFile("manifest.txt", "a.txt text\n");
    directory.writeFile("texts.txt", "# menu\nmenu.start = Start game\n\n  subtitle.one=  Hello, world = again \r\n");
    const std::string common = "--manifest " + directory.file("manifest.txt") + " --source " + directory.file("src");
    ASSERT_EQ(
        std::system(
            runTool(common + " --out " + directory.file("with") + " --strings " + directory.file("texts.txt")).c_str()),
        0);
    ASSERT_EQ(std::system(runTool(common + " --out " + directory.file("without")).c_str()), 0);

    quern::serialize::StringTable texts = readLocalisedTexts(directory.file("with/assets.l10n"));
    EXPECT_EQ(texts.count(), 2u);
    EXPECT_STREQ(texts.find(textKey("menu.start")), "Start game");
    EXPECT_STREQ(texts.find(textKey("subtitle.one")), "Hello, world = again");
    texts.release();
    quern::serialize::StringTable empty = readLocalisedTexts(directory.file("without/assets.l10n"));
    EXPECT_EQ(empty.count(), 0u);
    empty.release();

    for (const char* bad : { "no separator here\n", " = no key\n", "a = 1\na = 2\n" }) {
        directory.writeFile("bad.txt", bad);
        EXPECT_NE(
            std::system(runTool(common + " --out " + directory.file("bad") + " --strings " + directory.file("bad.txt"))
                            .c_str()),
            0)
            << bad;
    }
    EXPECT_NE(
        std::system(
            runTool(common + " --out " + directory.file("bad") + " --strings " + directory.file("absent.txt")).c_str()),
        0);
}

} // namespace
