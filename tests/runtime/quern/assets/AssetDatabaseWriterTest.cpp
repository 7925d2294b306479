// The content tool's "assets.db", read back item by item in the order the
// engine's reader consumes it.

#include "AssetDatabaseWriter.h"

#include "quern/LittleEndian.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/io/FileSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/PackedName.h"

#include "DepotTestContent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace {

using quern::u32;
using quern::u64;
using namespace quern::assetbuild;
using quern::serialize::BinaryPODToken;
using quern::serialize::kU32Descriptor;
using quern::serialize::kU64Descriptor;
using quern::test::assetId;
using quern::test::DepotContent;

u32 readU32(quern::ByteSource& source, BinaryPODToken& token)
{
    u32 value = 0;
    token.readPOD(source, &value, 1, &kU32Descriptor);
    return value;
}

u64 readU64(quern::ByteSource& source, BinaryPODToken& token)
{
    u64 value = 0;
    token.readPOD(source, &value, 1, &kU64Descriptor);
    return value;
}

TEST(AssetDatabaseWriter, WritesRecordsPairsAndTheStringTableInReaderOrder)
{
    DepotContent content;
    // "level" needs "mesh" and "texture"; "mesh" needs "texture".
    std::filesystem::create_directories(content.directory().path() / "src");
    content.directory().writeFile("src/level", "L");
    content.directory().writeFile("src/mesh", "M");
    content.directory().writeFile("src/texture", "T");
    content.directory().writeFile("manifest.txt", "level map mesh texture\nmesh visual texture\ntexture pixels\n");
    BuildOptions options;
    options.manifestPath = content.directory().file("manifest.txt");
    options.sourceDirectory = content.directory().file("src");
    options.outDirectory = content.out();
    options.databaseName = "demo";
    options.strings = {"Hello", "World"};
    std::string error;
    ASSERT_TRUE(buildContent(options, error)) << error;

    quern::FileSource source;
    source.open(content.outFile("assets.db").c_str());
    BinaryPODToken token;
    const u32 start = quern::serialize::expectChunk(source, token, kAssetDatabaseChunkId);
    EXPECT_EQ(readU32(source, token), 2u);
    char name[256];
    token.readString(source, name, sizeof name);
    EXPECT_STREQ(name, "demo");

    ASSERT_EQ(readU32(source, token), 3u);
    const struct {
        const char* name;
        const char* type;
    } expected[] = {{"level", "map"}, {"mesh", "visual"}, {"texture", "pixels"}};
    for (const auto& record : expected) {
        char recordName[256];
        source.read(recordName, sizeof recordName);
        EXPECT_STREQ(recordName, record.name);
        EXPECT_EQ(readU64(source, token), assetId(record.name));
        EXPECT_EQ(readU64(source, token), quern::packName(record.type));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(readU64(source, token), 0u);
        EXPECT_EQ(readU32(source, token), 0u);
        EXPECT_EQ(readU32(source, token), 0u);
    }

    ASSERT_EQ(readU32(source, token), 3u);
    const u64 pairs[3][2] = {{assetId("level"), assetId("mesh")},
                             {assetId("level"), assetId("texture")},
                             {assetId("mesh"), assetId("texture")}};
    for (const auto& pair : pairs) {
        EXPECT_EQ(readU64(source, token), pair[0]);
        EXPECT_EQ(readU64(source, token), pair[1]);
    }
    EXPECT_EQ(readU32(source, token), 0u);

    const u32 tableStart = quern::serialize::expectChunk(source, token, quern::serialize::kStringInternerChunkId);
    EXPECT_EQ(readU64(source, token), quern::strings::kInternerSeed);
    ASSERT_EQ(readU32(source, token), 2u);
    char text[32];
    token.readString(source, text, sizeof text);
    EXPECT_STREQ(text, "Hello");
    token.readString(source, text, sizeof text);
    EXPECT_STREQ(text, "World");
    for (u32 i = 0; i < 2; ++i) {
        const char* expectedText = i == 0 ? "Hello" : "World";
        EXPECT_EQ(readU64(source, token), quern::strings::murmurHash64A(expectedText, 5, quern::strings::kInternerSeed));
        EXPECT_EQ(readU32(source, token), i);
        readU32(source, token); // padding
    }
    token.endReadChunk(source, tableStart);
    token.endReadChunk(source, start);
    EXPECT_EQ(source.position, source.size());
}

TEST(AssetDatabaseWriter, TheGameValueLandsAtByte296OfTheRecord)
{
    DepotContent content;
    std::filesystem::create_directories(content.directory().path() / "src");
    for (const char* name : {"first", "second", "third"})
        content.directory().writeFile(std::string("src/") + name, name);
    content.directory().writeFile("manifest.txt", "first map gamevalue=4000000000\n"
                                                  "second map blob=levels gamevalue=0x1234abcd\n"
                                                  "third map\n");
    BuildOptions options;
    options.manifestPath = content.directory().file("manifest.txt");
    options.sourceDirectory = content.directory().file("src");
    options.outDirectory = content.out();
    std::string error;
    ASSERT_TRUE(buildContent(options, error)) << error;

    quern::FileSource source;
    source.open(content.outFile("assets.db").c_str());
    BinaryPODToken token;
    quern::assets::AssetDatabase database;
    ASSERT_TRUE(quern::assets::readAssetDatabase(source, token, database));
    const std::pair<const char*, u32> expected[] = {{"first", 4000000000u}, {"second", 0x1234abcdu}, {"third", 0}};
    for (const auto& [name, value] : expected) {
        const quern::assets::AssetRecord* record = database.findAsset(assetId(name));
        ASSERT_NE(record, nullptr) << name;
        EXPECT_EQ(quern::readLittleEndian32(reinterpret_cast<const quern::u8*>(record) + 296), value) << name;
        EXPECT_EQ(record->reserved, 0u) << name;
    }
}

TEST(AssetDatabaseWriter, RefusesNamesTheRecordCannotHold)
{
    std::ostringstream out;
    std::string error;
    BuiltAsset asset;
    asset.name = std::string(256, 'n');
    EXPECT_FALSE(writeAssetDatabase(out, "db", {asset}, {}, error));
    EXPECT_NE(error.find("longer than 255 bytes"), std::string::npos);
    asset.name = std::string(255, 'n');
    EXPECT_TRUE(writeAssetDatabase(out, "db", {asset}, {}, error)) << error;
    EXPECT_FALSE(writeAssetDatabase(out, std::string(300, 'd'), {asset}, {}, error));
}

} // namespace
