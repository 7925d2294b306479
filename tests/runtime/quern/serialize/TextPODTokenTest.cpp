#include "quern/io/StringSink.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/PackedName.h"

#include "SerializeTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using namespace quern;
using namespace quern::serialize;
using quern::testing::OwnedSource;

// Runs `write` against a sink and against a stream and returns both texts.
template <typename Write> std::pair<std::string, std::string> writeBoth(Write write)
{
    TextPODToken token;
    StringSink sink;
    write(token, sink);
    std::ostringstream stream;
    write(token, stream);
    return {sink.text, stream.str()};
}

TEST(TextPODToken, WritesTheDocumentedLinesOnBothFamilies)
{
    const auto [sinkText, streamText] = writeBoth([](TextPODToken& token, auto& out) {
        const u32 count = 2;
        const f32 values[] = {1.5f, 2.0f};
        const u32 start = token.beginWriteChunk(out, 0);
        token.writePOD(out, &count, 1, &kU32Descriptor, nullptr);
        token.writePOD(out, values, 2, &kF32Descriptor, "");
        token.writeString(out, "", nullptr);
        token.writePOD(out, values, 0, &kF32Descriptor, "nothing");
        token.endWriteChunk(out, start);
    });
    const char* expected = "{\n"
                           "\"values\":2 ,\n"
                           "\"values\":1.5 2 ,\n"
                           "\"value\":\"\",\n"
                           "}\n";
    EXPECT_EQ(sinkText, expected);
    EXPECT_EQ(streamText, expected);
}

TEST(TextPODToken, ElementsAreComponentMajorWithTheSeparatorRule)
{
    struct Point {
        f32 x, y;
        u32 id;
    };
    const PODComponent components[] = {{2, PODKind::Float, 32}, {1, PODKind::Unsigned, 32}};
    const PODTypeDescriptor descriptor{2, components};
    const Point points[] = {{1, 2, 10}, {3, 4, 11}};
    const auto [sinkText, streamText] = writeBoth([&](TextPODToken& token, auto& out) {
        token.writePOD(out, points, 2, &descriptor, "points");
    });
    // Every element of a component that does not fill the record is followed by a space.
    EXPECT_EQ(sinkText, "\"points\":1 2 3 4 10 11  ,\n");
    EXPECT_EQ(streamText, sinkText);
}

TEST(TextPODToken, ChunkBeginsCarryTheirNames)
{
    const auto [sinkText, streamText] = writeBoth([](TextPODToken& token, auto& out) {
        token.beginWriteChunk(out, packName("Level7"));
        token.endWriteChunk(out, 0);
    });
    EXPECT_EQ(sinkText, "\"level7\":{\n}\n");
    EXPECT_EQ(streamText, sinkText);
}

TEST(TextPODToken, IntegersReadInTheirFamilysForm)
{
    const PODComponent i32Component[] = {{1, PODKind::Signed, 32}};
    const PODTypeDescriptor i32Descriptor{1, i32Component};
    const struct {
        const char* text;
        bool isSigned;
        i64 fromSource;
        i64 fromStream;
    } cases[] = {
        {"\"v\":010 ,", true, 8, 10}, // engine sources read signed values like "%i"
        {"\"v\":010 ,", false, 10, 10},
        {"\"v\":0x1F ,", true, 31, -1},
        {"\"v\":-0x10 ,", true, -16, -1},
        {"\"v\":+7 ,", false, 7, 7},
        {"\"v\":\n\t 42 ,", true, 42, 42}, // white space, line ends included, before a number
        {"\"v\":-2147483648 ,", true, -2147483648ll, -2147483648ll},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TextPODToken token;
        const PODTypeDescriptor* descriptor = c.isSigned ? &i32Descriptor : &kU32Descriptor;
        i32 value = 0;
        OwnedSource source(c.text);
        token.readPOD(source, &value, 1, descriptor);
        EXPECT_EQ(value, c.fromSource);
        if (c.fromStream != -1) {
            std::istringstream stream(c.text);
            token.readPOD(stream, &value, 1, descriptor);
            EXPECT_EQ(value, c.fromStream);
        }
    }
}

TEST(TextPODToken, ReadingPassesOverNamesWithoutComparingThem)
{
    const char* text = "\"first\":5 ,\n\"something else\":\"abc\",\n\"x\":7 ,\n";
    TextPODToken token;
    OwnedSource source(text);
    u32 a = 0;
    char buffer[8];
    u32 b = 0;
    token.readPOD(source, &a, 1, &kU32Descriptor);
    EXPECT_EQ(token.readString(source, buffer, sizeof buffer), 3u);
    token.readPOD(source, &b, 1, &kU32Descriptor);
    EXPECT_EQ(a, 5u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(b, 7u);
    EXPECT_EQ(source.position, std::strlen(text) - 1);
}

TEST(TextPODToken, SkipComponentsKeepTheCallersBytes)
{
    const PODComponent components[] = {{1, PODKind::Unsigned, 8}, {3, PODKind::Skip, 8}};
    const PODTypeDescriptor descriptor{2, components};
    TextPODToken token;
    StringSink sink;
    const u8 written[4] = {9, 1, 2, 3};
    token.writePOD(sink, written, 1, &descriptor, nullptr);
    EXPECT_EQ(sink.text, "\"values\":9  ,\n");
    OwnedSource source(sink.text);
    u8 read[4] = {0, 0xAA, 0xBB, 0xCC};
    token.readPOD(source, read, 1, &descriptor);
    EXPECT_EQ(read[0], 9);
    EXPECT_EQ(read[1], 0xAA);
    EXPECT_EQ(read[3], 0xCC);
}

TEST(TextPODToken, CountZeroReadsAndWritesNothing)
{
    TextPODToken token;
    OwnedSource source("\"values\":1 ,\n");
    token.readPOD(source, nullptr, 0, &kU32Descriptor);
    EXPECT_EQ(source.position, 0u);
    std::istringstream stream("\"values\":1 ,\n");
    token.readPOD(stream, nullptr, 0, &kU32Descriptor);
    EXPECT_EQ(stream.tellg(), 0);
}

TEST(TextPODToken, ChunksReadTheirIdsAndEndPassesWhatWasNotRead)
{
    const char* text = "\"outer\":{\n"
                       "\"values\":1 ,\n"
                       "\"inner\":{\n"
                       "\"value\":\"} { }}\",\n" // braces inside a string do not count
                       "}\n"
                       "\"values\":2 ,\n"
                       "}\n"
                       "{\n"
                       "\"values\":3 ,\n"
                       "}\n";
    TextPODToken token;
    OwnedSource source(text);
    u64 id = 1;
    const u32 start = token.beginReadChunk(source, &id);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(id, packName("outer"));
    u32 value = 0;
    token.readPOD(source, &value, 1, &kU32Descriptor);
    EXPECT_EQ(value, 1u);
    token.endReadChunk(source, start); // the nested chunk and the second value are passed over
    token.beginReadChunk(source, &id);
    EXPECT_EQ(id, 0u);
    token.readPOD(source, &value, 1, &kU32Descriptor);
    EXPECT_EQ(value, 3u);
    token.endReadChunk(source, 0);
    EXPECT_EQ(source.position, std::strlen(text) - 1); // just past the closing brace

    std::istringstream stream(text);
    token.beginReadChunk(stream, &id);
    token.endReadChunk(stream, 0);
    token.beginReadChunk(stream, &id);
    token.readPOD(stream, &value, 1, &kU32Descriptor);
    EXPECT_EQ(value, 3u);
}

TEST(TextPODToken, ChunkNamesLongerThanAPackedNameAreInvalid)
{
    TextPODToken token;
    OwnedSource source("\"abcdefghijklm\":{\n\"values\":4 ,\n");
    u64 id = 0;
    token.beginReadChunk(source, &id);
    EXPECT_EQ(id, kInvalidPackedName);
    u32 value = 0;
    token.readPOD(source, &value, 1, &kU32Descriptor);
    EXPECT_EQ(value, 4u);
}

TEST(TextPODToken, AtTheEndABeginLeavesTheIdAlone)
{
    TextPODToken token;
    OwnedSource source("  \n");
    u64 id = 77;
    token.beginReadChunk(source, &id);
    EXPECT_EQ(id, 77u);
    EXPECT_EQ(source.position, 3u);
}

TEST(TextPODToken, StreamsWithoutPositionGiveNoStart)
{
    // A stream buffer that cannot report a position.
    struct Unpositioned : std::stringbuf {
        using std::stringbuf::stringbuf;
        pos_type seekoff(off_type, std::ios::seekdir, std::ios::openmode) override { return pos_type(-1); }
    };
    Unpositioned buffer("{\n}\n");
    std::istream stream(&buffer);
    TextPODToken token;
    u64 id = 5;
    EXPECT_EQ(token.beginReadChunk(stream, &id), kNoChunkStart);
    EXPECT_EQ(id, 0u);
}

TEST(TextPODToken, StringReadsCutAtTheCapacityOnSources)
{
    const char* text = "\"value\":\"abcdef, ghi\",\n\"values\":5 ,\n";
    const struct {
        u64 capacity;
        bool nullBuffer;
        u32 length;
        const char* kept;
    } cases[] = {
        {64, false, 12, "abcdef, ghi"},
        {12, false, 11, "abcdef, ghi"},
        {4, false, 3, "abc"}, // the rest of the text, comma included, is passed over
        {0, false, 0, nullptr},
        {64, true, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.capacity);
        TextPODToken token;
        OwnedSource source(text);
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        const u32 length = token.readString(source, c.nullBuffer ? nullptr : buffer, c.capacity);
        if (c.kept) {
            EXPECT_EQ(length, std::strlen(c.kept));
            EXPECT_STREQ(buffer, c.kept);
        } else {
            EXPECT_EQ(length, 0u);
            EXPECT_EQ(buffer[0], '#');
        }
        u32 next = 0;
        token.readPOD(source, &next, 1, &kU32Descriptor);
        EXPECT_EQ(next, 5u);
    }
}

TEST(TextPODToken, SkippedStringsLeaveTheNextChunkIntact)
{
    // A skipped string is passed over whole, so its text is not taken for the
    // next chunk's name.
    const char* text = "\"value\":\"abc\",\n\"model\":{\n";
    TextPODToken token;
    OwnedSource source(text);
    EXPECT_EQ(token.readString(source, nullptr, 0), 0u);
    u64 id = 0;
    token.beginReadChunk(source, &id);
    EXPECT_EQ(id, packName("model"));
    std::istringstream stream(text);
    EXPECT_EQ(token.readString(stream, nullptr, 0), 0u);
    token.beginReadChunk(stream, &id);
    EXPECT_EQ(id, packName("model"));
}

TEST(TextPODToken, AStringEndsAtItsLineEnd)
{
    TextPODToken token;
    OwnedSource source("\"value\":\"open\r\n\"values\":6 ,\n");
    char buffer[16];
    EXPECT_EQ(token.readString(source, buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "open");
}

// Reads one element of `descriptor` from `text` through one family.
void readOneFromSource(const char* text, const PODTypeDescriptor& descriptor)
{
    TextPODToken token;
    OwnedSource source(text);
    u64 value[2] = {};
    token.readPOD(source, value, 1, &descriptor);
}

void readOneFromStream(const char* text, const PODTypeDescriptor& descriptor)
{
    TextPODToken token;
    std::istringstream stream(text);
    u64 value[2] = {};
    token.readPOD(stream, value, 1, &descriptor);
}

TEST(TextPODTokenDeathTest, BadNumbersAreFatalOnBothFamilies)
{
    static const PODComponent i8Component[] = {{1, PODKind::Signed, 8}};
    static const PODComponent u8Component[] = {{1, PODKind::Unsigned, 8}};
    static const PODComponent i16Component[] = {{1, PODKind::Signed, 16}};
    static const PODComponent f64Component[] = {{1, PODKind::Float, 64}};
    const PODTypeDescriptor i8{1, i8Component};
    const PODTypeDescriptor u8d{1, u8Component};
    const PODTypeDescriptor i16{1, i16Component};
    const PODTypeDescriptor f64d{1, f64Component};
    const struct {
        const char* text;
        PODTypeDescriptor descriptor;
    } cases[] = {
        {"\"v\":200 ,", i8},
        {"\"v\":256 ,", u8d},
        {"\"v\":-1 ,", u8d},
        {"\"v\":40000 ,", i16},
        {"\"v\":4294967296 ,", kU32Descriptor},
        {"\"v\":18446744073709551616 ,", kU64Descriptor},
        {"\"v\":abc ,", kU32Descriptor},
        {"\"v\":1.5 ,", kU32Descriptor},
        {"\"v\":1.5x ,", kF32Descriptor},
        {"\"v\": ,", f64d},
        {"\"v\":", kU32Descriptor},
        {"", kU32Descriptor},
        {"\"v\":0000000000000000000000000000000000000000000000000000000000000000001 ,", kU32Descriptor},
    };
    for (const auto& c : cases) {
        EXPECT_DEATH(readOneFromSource(c.text, c.descriptor), "Error parsing value") << c.text;
        EXPECT_DEATH(readOneFromStream(c.text, c.descriptor), "Error parsing value") << c.text;
    }
}

TEST(TextPODTokenDeathTest, MissingOrOverlongStringsAreFatal)
{
    EXPECT_DEATH(
        {
            TextPODToken token;
            OwnedSource source("\"values\":1 ,\n");
            char buffer[8];
            token.readString(source, buffer, sizeof buffer);
        },
        "Error parsing value");
    EXPECT_DEATH(
        {
            TextPODToken token;
            std::istringstream stream("");
            token.readString(stream, nullptr, 0);
        },
        "Error parsing value");
    // A standard stream cannot hand back part of a string: too long is an error there.
    EXPECT_DEATH(
        {
            TextPODToken token;
            std::istringstream stream("\"value\":\"abcdef\",\n");
            char buffer[4];
            token.readString(stream, buffer, sizeof buffer);
        },
        "Error parsing value");
}

TEST(TextPODTokenDeathTest, WritersRefuseWhatCouldNotBeReadBack)
{
    const char* unwritable[] = {"say \"hi\"", "two\nlines", "carriage\rreturn"};
    for (const char* text : unwritable) {
        EXPECT_DEATH(
            {
                TextPODToken token;
                StringSink sink;
                token.writeString(sink, text, nullptr);
            },
            "cannot be written as a text value")
            << text;
        EXPECT_DEATH(
            {
                TextPODToken token;
                std::ostringstream stream;
                const u32 value = 0;
                token.writePOD(stream, &value, 1, &kU32Descriptor, text);
            },
            "cannot be written as a text value")
            << text;
    }
    EXPECT_DEATH(
        {
            TextPODToken token;
            StringSink sink;
            token.beginWriteChunk(sink, 12345);
        },
        "Chunk id is not a packed name");
    EXPECT_DEATH(
        {
            TextPODToken token;
            std::ostringstream stream;
            stream.setstate(std::ios::badbit);
            token.writeString(stream, "abc", nullptr);
        },
        "Error writing to file");
}

} // namespace
