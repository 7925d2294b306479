#include "quern/io/StringSink.h"
#include "quern/serialize/BinaryPODToken.h"

#include "SerializeTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using namespace quern;
using namespace quern::serialize;
using quern::testing::bytes;
using quern::testing::littleEndian;
using quern::testing::OwnedSource;

struct Sample {
    f32 value;
    u16 flags;
};
const PODComponent kSampleComponents[] = {{1, PODKind::Float, 32}, {1, PODKind::Unsigned, 16}};
const PODTypeDescriptor kSampleDescriptor{2, kSampleComponents};

TEST(BinaryPODToken, WritesTheDocumentedBytesToSinksAndStreams)
{
    BinaryPODToken token;
    const u64 id = 0x1122334455667788ull;
    const u32 count = 2;
    const unsigned char records[12] = {0, 0, 0xC0, 0x3F, 7, 0, 0, 0, 0x20, 0x40, 9, 0}; // {1.5, 7}, {2.5, 9}
    const std::string expected = bytes({3, 0, 0, 0, 'a', 'b', 'c'}) + littleEndian(id) + littleEndian(count) +
                                 std::string(reinterpret_cast<const char*>(records), sizeof records);

    StringSink sink;
    token.writeString(sink, "abc", "ignored");
    EXPECT_EQ(token.beginWriteChunk(sink, id), 7u);
    token.writePOD(sink, &count, 1, &kU32Descriptor, "count");
    token.writePOD(sink, records, 2, &kSampleDescriptor, nullptr);
    token.endWriteChunk(sink, 7);
    EXPECT_EQ(sink.text, expected);

    std::ostringstream stream;
    token.writeString(stream, "abc", nullptr);
    EXPECT_EQ(token.beginWriteChunk(stream, id), 7u);
    token.writePOD(stream, &count, 1, &kU32Descriptor, nullptr);
    token.writePOD(stream, records, 2, &kSampleDescriptor, nullptr);
    token.endWriteChunk(stream, 7);
    EXPECT_EQ(stream.str(), expected);
}

// Reads "<string>" then a u32 marker through either family, so each case shows
// both what was kept and that the next item is read from the right place.
template <typename Input> void checkStringCapacity(Input& input, u64 capacity, bool nullBuffer, u32 expectedLength,
                                                   const std::string& expectedText)
{
    BinaryPODToken token;
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    const u32 length = token.readString(input, nullBuffer ? nullptr : buffer, capacity);
    EXPECT_EQ(length, expectedLength);
    if (!nullBuffer && capacity != 0) {
        EXPECT_EQ(std::string(buffer), expectedText);
    }
    if (capacity == 0) {
        EXPECT_EQ(buffer[0], '#') << "capacity 0 must not write into the buffer";
    }
    u32 marker = 0;
    token.readPOD(input, &marker, 1, &kU32Descriptor);
    EXPECT_EQ(marker, 0xABCDu);
}

TEST(BinaryPODToken, ReadStringKeepsCapacityMinusOneAndSkipsTheRest)
{
    const struct {
        u64 capacity;
        bool nullBuffer;
        u32 length;
        const char* text;
    } cases[] = {
        {6, false, 5, "hello"}, // L < K
        {5, false, 4, "hell"},  // L = K
        {3, false, 2, "he"},    // L > K
        {1, false, 0, ""},      // room for the terminator only
        {0, false, 0, ""},      // capacity 0 skips the string
        {16, true, 0, ""},      // null buffer skips the string
    };
    const std::string data = littleEndian<u32>(5) + "hello" + littleEndian<u32>(0xABCD);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.capacity);
        OwnedSource source(data);
        checkStringCapacity(source, c.capacity, c.nullBuffer, c.length, c.text);
        std::istringstream stream(data);
        checkStringCapacity(stream, c.capacity, c.nullBuffer, c.length, c.text);
    }
}

TEST(BinaryPODToken, ChunkIdsRoundTripAndOccupyOnlyTheirEightBytes)
{
    BinaryPODToken token;
    StringSink sink;
    const u32 outer = token.beginWriteChunk(sink, 0);
    const u32 inner = token.beginWriteChunk(sink, 42);
    token.endWriteChunk(sink, inner);
    token.endWriteChunk(sink, outer);
    ASSERT_EQ(sink.text.size(), 16u);

    OwnedSource source(sink.text);
    u64 id = 99;
    EXPECT_EQ(token.beginReadChunk(source, &id), 0u);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(token.beginReadChunk(source, &id), 8u);
    EXPECT_EQ(id, 42u);
    token.endReadChunk(source, 8);
    token.endReadChunk(source, 0);
    EXPECT_EQ(source.position, 16u);
}

TEST(BinaryPODToken, CountZeroMovesNothingEvenAtTheEnd)
{
    BinaryPODToken token;
    OwnedSource source("");
    token.readPOD(source, nullptr, 0, &kU64Descriptor);
    EXPECT_EQ(source.position, 0u);
    std::istringstream stream("");
    token.readPOD(stream, nullptr, 0, &kU64Descriptor);
    EXPECT_TRUE(stream.good());
    StringSink sink;
    token.writePOD(sink, nullptr, 0, &kU64Descriptor, nullptr);
    EXPECT_TRUE(sink.text.empty());
}

TEST(BinaryPODToken, SkipComponentsCarryTheirBytesBothWays)
{
    const PODComponent components[] = {{1, PODKind::Unsigned, 8}, {3, PODKind::Skip, 8}};
    const PODTypeDescriptor descriptor{2, components};
    const u8 written[4] = {1, 0xAA, 0xBB, 0xCC};
    BinaryPODToken token;
    StringSink sink;
    token.writePOD(sink, written, 1, &descriptor, nullptr);
    OwnedSource source(sink.text);
    u8 read[4] = {};
    token.readPOD(source, read, 1, &descriptor);
    EXPECT_EQ(std::memcmp(read, written, 4), 0);
}

TEST(BinaryPODTokenDeathTest, CutShortDataIsFatal)
{
    BinaryPODToken token;
    // A string whose length runs past the end, in both families, and with a skipping read.
    const std::string longString = littleEndian<u32>(100) + "abc";
    EXPECT_DEATH(
        {
            OwnedSource source(longString);
            char buffer[8];
            token.readString(source, buffer, sizeof buffer);
        },
        "Error reading from file");
    EXPECT_DEATH(
        {
            OwnedSource source(longString);
            token.readString(source, nullptr, 0);
        },
        "Error reading from file");
    EXPECT_DEATH(
        {
            std::istringstream stream(longString);
            char buffer[8];
            token.readString(stream, buffer, sizeof buffer);
        },
        "Error reading from file");
    EXPECT_DEATH(
        {
            std::istringstream stream(longString);
            token.readString(stream, nullptr, 0);
        },
        "Error reading from file");
    // Too few bytes for the length itself, and for a record array.
    EXPECT_DEATH(
        {
            std::istringstream stream(bytes({1, 0}));
            token.readString(stream, nullptr, 0);
        },
        "Error reading from file");
    EXPECT_DEATH(
        {
            std::istringstream stream("1234567");
            u64 value;
            token.readPOD(stream, &value, 1, &kU64Descriptor);
        },
        "Error reading from file");
    EXPECT_DEATH(
        {
            OwnedSource source("1234567");
            u64 value;
            token.readPOD(source, &value, 1, &kU64Descriptor);
        },
        "Error reading from file");
}

TEST(BinaryPODTokenDeathTest, FailedWritesAndImpossibleCountsAreFatal)
{
    BinaryPODToken token;
    EXPECT_DEATH(
        {
            std::ostringstream stream;
            stream.setstate(std::ios::badbit);
            const u32 value = 1;
            token.writePOD(stream, &value, 1, &kU32Descriptor, nullptr);
        },
        "Error writing to file");
    EXPECT_DEATH(
        {
            std::ostringstream stream;
            stream.setstate(std::ios::badbit);
            token.writeString(stream, "abc", nullptr);
        },
        "Error writing to file");
    // A count whose byte length does not fit 64 bits must not wrap into a small read.
    EXPECT_DEATH(
        {
            OwnedSource source(std::string(64, 'x'));
            u64 value;
            token.readPOD(source, &value, (~u64{0}) / 4, &kU64Descriptor);
        },
        "Record count too large");
}

} // namespace
