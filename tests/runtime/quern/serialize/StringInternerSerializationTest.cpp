#include "quern/io/StringSink.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/PackedName.h"
#include "quern/strings/StringInterner.h"

#include "SerializeTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace {

using namespace quern;
using namespace quern::serialize;
using quern::strings::StringInterner;
using quern::testing::CountingAllocator;
using quern::testing::littleEndian;
using quern::testing::OwnedSource;

std::unique_ptr<PODToken> makeToken(bool text)
{
    if (text)
        return std::make_unique<TextPODToken>();
    return std::make_unique<BinaryPODToken>();
}

TEST(StringInternerSerialization, ChunkRoundTripsInBothForms)
{
    StringInterner written;
    written.setSeed(12345);
    written.internIndex("Hello", 5);
    written.internIndex("", 0);
    written.internIndex("subtitle {with} braces, commas", 30);
    written.intern("keyed by hand", 13, 99);
    for (bool text : {false, true}) {
        SCOPED_TRACE(text ? "text" : "binary");
        const auto token = makeToken(text);
        StringSink sink;
        writeStringInterner(sink, *token, written);
        std::ostringstream stream;
        writeStringInterner(stream, *token, written);
        EXPECT_EQ(stream.str(), sink.text);

        StringInterner read;
        read.internIndex("replaced", 8);
        OwnedSource source(sink.text);
        readStringInterner(source, *token, read);
        EXPECT_GE(source.position + 1, sink.text.size());
        EXPECT_EQ(read.seed(), 12345u);
        ASSERT_EQ(read.count(), written.count());
        for (u64 i = 0; i < written.count(); ++i) {
            EXPECT_EQ(read.key(i), written.key(i));
            EXPECT_STREQ(read.text(i), written.text(i));
        }
    }
}

// A binary chunk built item by item, for layouts the writer never makes.
std::string binaryChunk(u64 seed, const std::vector<std::string>& texts, const std::vector<StringKeyRecord>& keys,
                        u32 count)
{
    std::string data = littleEndian(kStringInternerChunkId) + littleEndian(seed) + littleEndian(count);
    for (const std::string& text : texts)
        data += littleEndian<u32>(static_cast<u32>(text.size())) + text;
    for (const StringKeyRecord& key : keys)
        data += std::string(reinterpret_cast<const char*>(&key), sizeof key);
    return data;
}

TEST(StringInternerSerialization, KeyRecordsMayComeInAnyOrder)
{
    const std::string data = binaryChunk(7, {"zero", "one", "two"}, {{30, 2, 0}, {10, 0, 0}, {20, 1, 0}}, 3);
    BinaryPODToken token;
    OwnedSource source(data);
    StringInterner interner;
    readStringInterner(source, token, interner);
    ASSERT_EQ(interner.count(), 3u);
    EXPECT_EQ(interner.find(10), 0);
    EXPECT_EQ(interner.find(20), 1);
    EXPECT_EQ(interner.find(30), 2);
    EXPECT_STREQ(interner.text(2), "two");
    EXPECT_EQ(source.position, data.size());
}

TEST(StringInternerSerialization, AnEmptyChunkKeepsOnlyTheSeed)
{
    BinaryPODToken token;
    OwnedSource source(binaryChunk(0xABCDEF, {}, {}, 0));
    StringInterner interner;
    interner.internIndex("old", 3);
    readStringInterner(source, token, interner);
    EXPECT_EQ(interner.count(), 0u);
    EXPECT_EQ(interner.seed(), 0xABCDEFu);
}

TEST(StringInternerSerialization, TextsBeyondTheLimitAreCutAndTheRestStillReads)
{
    const std::string whole(kMaxInternedTextLength, 'a');
    const std::string tooLong(kMaxInternedTextLength + 5, 'b');
    BinaryPODToken token;
    OwnedSource source(binaryChunk(1, {whole, tooLong}, {{1, 0, 0}, {2, 1, 0}}, 2));
    StringInterner interner;
    readStringInterner(source, token, interner);
    EXPECT_EQ(std::strlen(interner.text(0)), kMaxInternedTextLength);
    EXPECT_EQ(std::string(interner.text(1)), std::string(kMaxInternedTextLength, 'b'));
    EXPECT_EQ(interner.find(2), 1);
}

TEST(StringInternerSerializationDeathTest, DamagedChunksAreFatal)
{
    const struct {
        std::string data;
        const char* message;
    } cases[] = {
        {binaryChunk(1, {"a", "b"}, {{1, 0, 0}, {2, 2, 0}}, 2), "Invalid string table chunk"}, // index >= count
        {binaryChunk(1, {"a", "b"}, {{1, 1, 0}, {2, 1, 0}}, 2), "Invalid string table chunk"}, // index twice
        {binaryChunk(1, {}, {}, 0xFFFFFFFF), "Invalid string table chunk"},                   // count past the data
        {binaryChunk(1, {"a"}, {}, 1), "Error reading from file"},                            // keys cut off
        {littleEndian(packName("other")), "Unexpected chunk type, expected=stringintern, actual=other"},
    };
    for (const auto& c : cases) {
        EXPECT_DEATH(
            {
                BinaryPODToken token;
                OwnedSource source(c.data);
                StringInterner interner;
                readStringInterner(source, token, interner);
            },
            c.message);
    }
    EXPECT_DEATH(
        {
            StringInterner interner;
            const std::string text(kMaxInternedTextLength + 1, 'x');
            interner.internIndex(text.data(), text.size());
            BinaryPODToken token;
            StringSink sink;
            writeStringInterner(sink, token, interner);
        },
        "String too long for a string table chunk");
}

std::string tableFile(std::initializer_list<std::pair<u64, const char*>> entries)
{
    std::vector<u64> keys;
    std::vector<const char*> texts;
    for (const auto& [key, text] : entries) {
        keys.push_back(key);
        texts.push_back(text);
    }
    StringSink sink;
    writeStringTable(sink, keys.data(), texts.data(), static_cast<u32>(keys.size()));
    return sink.text;
}

TEST(StringTable, FileRoundTripsAndLookupsTakeTheFirstEqualKey)
{
    const std::string file = tableFile({{5, "five"}, {7, ""}, {5, "shadowed"}, {9, "nine"}});
    EXPECT_EQ(file.substr(0, 4), "SSTT");
    OwnedSource source("xy" + file);
    source.position = 2;
    StringTable table;
    CountingAllocator allocator;
    readStringTable(source, table, &allocator);
    EXPECT_EQ(source.position, file.size() + 2);
    EXPECT_EQ(table.count(), 4u);
    EXPECT_STREQ(table.find(5), "five");
    EXPECT_STREQ(table.find(7), "");
    EXPECT_STREQ(table.find(9), "nine");
    EXPECT_EQ(table.find(6), nullptr);
    table.release();
    EXPECT_EQ(allocator.live, 0);
    EXPECT_EQ(table.block, nullptr);
}

TEST(StringTable, AHeaderOnlyFileLoadsAndASecondLoadFreesTheFirstBlock)
{
    const std::string headerOnly = tableFile({});
    ASSERT_EQ(headerOnly.size(), kStringTableHeaderSize);
    CountingAllocator first;
    CountingAllocator second;
    StringTable table;
    OwnedSource source(headerOnly + tableFile({{1, "one"}}));
    readStringTable(source, table, &first);
    EXPECT_EQ(source.position, kStringTableHeaderSize);
    EXPECT_EQ(table.find(1), nullptr);
    EXPECT_EQ(first.live, 1);
    readStringTable(source, table, &second);
    EXPECT_EQ(first.live, 0);
    EXPECT_EQ(second.live, 1);
    EXPECT_EQ(table.allocator, &second);
    EXPECT_STREQ(table.find(1), "one");
    table.release();
    EXPECT_EQ(second.live, 0);
}

TEST(StringTableDeathTest, FilesThatLeaveTheirBoundsAreRejected)
{
    const std::string good = tableFile({{1, "one"}, {2, "two"}});
    auto patched = [&](u64 offset, u32 value) {
        std::string file = good;
        std::memcpy(file.data() + offset, &value, sizeof value);
        return file;
    };
    const struct {
        const char* what;
        std::string data;
        const char* message;
    } cases[] = {
        {"magic", patched(0, 0x54545354), "Invalid string table file"},
        {"version", patched(4, 2), "Invalid string table file"},
        {"size below the header", patched(12, 23), "Invalid string table file"},
        {"size past the data", patched(12, static_cast<u32>(good.size() + 1)), "Invalid string table file"},
        {"huge size", patched(12, 0xFFFFFFFF), "Invalid string table file"},
        {"entries past the size", patched(8, 1000), "Invalid string table file"},
        {"offset past the size", patched(24 + 8, static_cast<u32>(good.size())), "Invalid string table file"},
        {"unterminated last text", good.substr(0, good.size() - 1) + "x", "Invalid string table file"},
        {"cut header", good.substr(0, 20), "Error reading from file"},
    };
    for (const auto& c : cases) {
        EXPECT_DEATH(
            {
                OwnedSource source(c.data);
                StringTable table;
                readStringTable(source, table, nullptr);
            },
            c.message)
            << c.what;
    }
}

} // namespace
