#include "quern/assets/AssetDatabase.h"

#include "AssetDatabaseWriter.h"
#include "ContentBuilder.h"
#include "DepotTestContent.h"

#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/PackedName.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quern::u32;
using quern::u64;
using quern::assets::AssetDatabase;
using quern::assets::AssetRecord;
using quern::assets::DependencyPair;
using quern::assets::readAssetDatabase;
using quern::serialize::PODComponent;
using quern::serialize::PODKind;
using quern::serialize::PODToken;
using quern::serialize::PODTypeDescriptor;
using quern::test::assetId;

constexpr PODComponent kRecordComponents[] = {
    {256, PODKind::Signed, 8}, {5, PODKind::Unsigned, 64}, {1, PODKind::Unsigned, 32}, {1, PODKind::Unsigned, 32}};
constexpr PODTypeDescriptor kRecordDescriptor{4, kRecordComponents};
constexpr PODComponent kPairComponents[] = {{2, PODKind::Unsigned, 64}};
constexpr PODTypeDescriptor kPairDescriptor{1, kPairComponents};
constexpr PODComponent kExtraComponents[] = {{3, PODKind::Unsigned, 64}};
constexpr PODTypeDescriptor kExtraDescriptor{1, kExtraComponents};

AssetRecord makeRecord(const std::string& name, u64 id, u64 typeId = 0x77, u32 gameValue = 0)
{
    AssetRecord record{};
    std::memcpy(record.name, name.data(), name.size());
    record.assetId = id;
    record.typeId = typeId;
    record.gameValue = gameValue;
    return record;
}

// A database file described field by field, so tests can break any part.
struct DatabaseFile {
    u64 chunkId = quern::assets::kAssetDatabaseChunkId;
    u32 version = 2;
    std::string name = "content";
    std::vector<AssetRecord> records;
    std::vector<DependencyPair> pairs;
    std::vector<std::array<u64, 3>> extras;
    std::vector<std::string> strings;
    std::optional<u32> recordCount, pairCount, extraCount; // claimed counts, when they lie

    std::string write(PODToken& token) const
    {
        std::ostringstream out;
        const u32 start = token.beginWriteChunk(out, chunkId);
        writeU32(token, out, version);
        token.writeString(out, name.c_str(), "name");
        writeU32(token, out, recordCount.value_or(static_cast<u32>(records.size())));
        token.writePOD(out, records.data(), records.size(), &kRecordDescriptor, "records");
        writeU32(token, out, pairCount.value_or(static_cast<u32>(pairs.size())));
        token.writePOD(out, pairs.data(), pairs.size(), &kPairDescriptor, "pairs");
        writeU32(token, out, extraCount.value_or(static_cast<u32>(extras.size())));
        token.writePOD(out, extras.data(), extras.size(), &kExtraDescriptor, "extras");
        quern::strings::StringInterner interner;
        for (const std::string& text : strings)
            interner.internIndex(text.data(), text.size());
        quern::serialize::writeStringInterner(out, token, interner);
        token.endWriteChunk(out, start);
        return out.str();
    }

    static void writeU32(PODToken& token, std::ostream& out, u32 value)
    {
        token.writePOD(out, &value, 1, &quern::serialize::kU32Descriptor, "count");
    }
};

bool readBytes(const std::string& bytes, PODToken& token, AssetDatabase& database)
{
    quern::StringSource source(bytes.data(), bytes.size());
    return readAssetDatabase(source, token, database, "test/assets.db");
}

bool readBinary(const DatabaseFile& file, AssetDatabase& database)
{
    quern::serialize::BinaryPODToken token;
    return readBytes(file.write(token), token, database);
}

std::vector<u64> dependenciesOf(const AssetDatabase& database, u64 id)
{
    quern::containers::Array out(sizeof(u64), alignof(u64));
    database.collectDependencies(id, out);
    EXPECT_EQ(out.capacity(), out.count()) << "the list is shrunk to its count";
    return std::vector<u64>(out.dataAs<u64>(), out.dataAs<u64>() + out.count());
}

TEST(AssetDatabase, ReadsADatabaseMadeByTheContentTool)
{
    quern::test::DepotContent content;
    std::filesystem::create_directories(content.directory().path() / "src");
    for (const char* name : {"level1", "rock", "moss", "stone"})
        std::ofstream(content.directory().path() / "src" / name) << name;
    content.directory().writeFile("manifest.txt", "level1 map rock moss\nrock model stone\nmoss image\n"
                                                  "stone image\n");
    quern::assetbuild::BuildOptions options;
    options.manifestPath = content.directory().file("manifest.txt");
    options.sourceDirectory = content.directory().file("src");
    options.outDirectory = content.out();
    options.databaseName = "demo";
    std::string error;
    ASSERT_TRUE(quern::assetbuild::buildContent(options, error)) << error;

    std::ifstream file(content.outFile("assets.db"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    quern::serialize::BinaryPODToken token;
    AssetDatabase database;
    ASSERT_TRUE(readBytes(bytes, token, database));

    EXPECT_STREQ(database.name().c_str(), "demo");
    ASSERT_EQ(database.recordCount(), 4u);
    const AssetRecord* rock = database.findAsset(assetId("rock"));
    ASSERT_NE(rock, nullptr);
    EXPECT_STREQ(rock->name, "rock");
    EXPECT_EQ(rock->typeId, quern::packName("model"));
    EXPECT_STREQ(database.getAssetName(assetId("stone")), "stone");
    EXPECT_EQ(dependenciesOf(database, assetId("level1")),
              (std::vector<u64>{assetId("rock"), assetId("stone"), assetId("moss")}));
}

TEST(AssetDatabase, RecordsAreFoundByIdExceptIdZeroAndFirstWins)
{
    DatabaseFile file;
    file.records = {makeRecord("hidden", 0), makeRecord("first", 5, 0x1, 77), makeRecord("second", 5, 0x2),
                    makeRecord("other", 9)};
    file.extras = {{1, 2, 3}};
    AssetDatabase database;
    ASSERT_TRUE(readBinary(file, database));
    EXPECT_EQ(database.recordCount(), 4u);
    EXPECT_EQ(database.findAsset(0), nullptr);
    EXPECT_EQ(database.getAssetName(0), nullptr);
    ASSERT_NE(database.findAsset(5), nullptr);
    EXPECT_STREQ(database.findAsset(5)->name, "first");
    EXPECT_EQ(database.findAsset(5)->gameValue, 77u);
    EXPECT_EQ(database.findAsset(1234), nullptr);
    EXPECT_EQ(database.extraRecordCount(), 1u);
    EXPECT_EQ(database.extraRecord(0).values[2], 3u);
}

TEST(AssetDatabase, DependenciesAreCollectedDepthFirstAndOnce)
{
    const struct {
        const char* what;
        std::vector<DependencyPair> pairs;
        u64 asset;
        std::vector<u64> expected;
    } cases[] = {
        {"none", {{2, 3}}, 1, {}},
        {"diamond", {{1, 2}, {1, 3}, {2, 4}, {3, 4}}, 1, {2, 4, 3}},
        {"pairs out of order", {{3, 4}, {2, 4}, {1, 2}, {1, 3}}, 1, {2, 4, 3}},
        {"cycle back to the asset", {{1, 2}, {2, 1}}, 1, {2, 1}},
        {"self dependency", {{1, 1}, {1, 2}}, 1, {1, 2}},
        {"chain", {{1, 2}, {2, 3}, {3, 4}}, 1, {2, 3, 4}},
    };
    for (const auto& test : cases) {
        DatabaseFile file;
        file.records = {makeRecord("a", 1), makeRecord("b", 2), makeRecord("c", 3), makeRecord("d", 4)};
        file.pairs = test.pairs;
        AssetDatabase database;
        ASSERT_TRUE(readBinary(file, database)) << test.what;
        EXPECT_EQ(dependenciesOf(database, test.asset), test.expected) << test.what;
    }
}

TEST(AssetDatabase, ALongDependencyChainIsWalkedWithoutRecursion)
{
    DatabaseFile file;
    file.records = {makeRecord("a", 1)};
    for (u64 i = 1; i <= 200000; ++i)
        file.pairs.push_back({i, i + 1});
    AssetDatabase database;
    ASSERT_TRUE(readBinary(file, database));
    const std::vector<u64> all = dependenciesOf(database, 1);
    ASSERT_EQ(all.size(), 200000u);
    EXPECT_EQ(all.back(), 200001u);
}

TEST(AssetDatabase, WrongVersionIsRefusedWithoutAFatalError)
{
    DatabaseFile file;
    file.version = 3;
    AssetDatabase database;
    EXPECT_FALSE(readBinary(file, database));
}

TEST(AssetDatabase, TheTextFormReadsTheSame)
{
    DatabaseFile file;
    file.name = "textual";
    file.records = {makeRecord("tree", 11, 0x5), makeRecord("leaf", 12, 0x6)};
    file.pairs = {{11, 12}};
    file.strings = {"hello", "world"};
    quern::serialize::TextPODToken token;
    const std::string bytes = file.write(token);
    ASSERT_TRUE(bytes[0] == '{' || bytes[0] == '"');
    AssetDatabase database;
    ASSERT_TRUE(readBytes(bytes, token, database));
    EXPECT_STREQ(database.name().c_str(), "textual");
    EXPECT_STREQ(database.getAssetName(12), "leaf");
    EXPECT_EQ(dependenciesOf(database, 11), std::vector<u64>{12});
    EXPECT_EQ(database.strings().count(), 2u);
}

TEST(AssetDatabase, TheStringTableIsRead)
{
    DatabaseFile file;
    file.strings = {"Press start", "Game over"};
    AssetDatabase database;
    ASSERT_TRUE(readBinary(file, database));
    ASSERT_EQ(database.strings().count(), 2u);
    EXPECT_STREQ(database.strings().text(1), "Game over");
}

TEST(AssetDatabase, TheWorldScriptIsTheScenesListAsset)
{
    const std::string scenes = ".QuernExport/scenes.txt";
    const u64 scenesId = assetId(scenes);
    DatabaseFile file;
    file.records = {makeRecord("level", 1)};
    AssetDatabase without;
    ASSERT_TRUE(readBinary(file, without));
    EXPECT_EQ(without.findWorldScript(), 0u);

    file.records.push_back(makeRecord(scenes, scenesId));
    AssetDatabase with;
    ASSERT_TRUE(readBinary(file, with));
    EXPECT_EQ(with.findWorldScript(), scenesId);
}

TEST(AssetDatabase, ReadingAgainReplacesTheContents)
{
    DatabaseFile first;
    first.records = {makeRecord("old", 1)};
    first.pairs = {{1, 2}};
    DatabaseFile second;
    second.records = {makeRecord("new", 2)};
    AssetDatabase database;
    ASSERT_TRUE(readBinary(first, database));
    ASSERT_TRUE(readBinary(second, database));
    EXPECT_EQ(database.findAsset(1), nullptr);
    EXPECT_EQ(database.recordCount(), 1u);
    EXPECT_EQ(database.dependencyCount(), 0u);
}

void readOrDie(const DatabaseFile& file)
{
    AssetDatabase database;
    readBinary(file, database);
}

TEST(AssetDatabaseDeathTest, MalformedFilesAreFatalAndNamed)
{
    DatabaseFile unterminated;
    AssetRecord full{};
    std::memset(full.name, 'x', sizeof full.name);
    unterminated.records = {makeRecord("fine", 1), full};
    EXPECT_DEATH(readOrDie(unterminated),
                 "Invalid asset database test/assets.db: the name of asset record 1 is not terminated");

    DatabaseFile manyRecords;
    manyRecords.recordCount = 0xffffffffu;
    EXPECT_DEATH(readOrDie(manyRecords), "test/assets.db: 4294967295 asset records do not fit in the file");

    DatabaseFile manyPairs;
    manyPairs.records = {makeRecord("a", 1)};
    manyPairs.pairCount = 1000;
    EXPECT_DEATH(readOrDie(manyPairs), "1000 dependency pairs do not fit in the file");

    DatabaseFile manyExtras;
    manyExtras.extraCount = 70000;
    EXPECT_DEATH(readOrDie(manyExtras), "70000 extra records do not fit in the file");

    DatabaseFile wrongChunk;
    wrongChunk.chunkId = quern::packName("worldfile");
    EXPECT_DEATH(readOrDie(wrongChunk), "Unexpected chunk type");
}

TEST(AssetDatabaseDeathTest, ATruncatedFileIsFatal)
{
    DatabaseFile file;
    file.records = {makeRecord("a", 1), makeRecord("b", 2)};
    quern::serialize::BinaryPODToken token;
    const std::string bytes = file.write(token);
    const std::string cut = bytes.substr(0, bytes.size() - 40);
    AssetDatabase database;
    EXPECT_DEATH(readBytes(cut, token, database), "");
}

} // namespace
