#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/PackedName.h"

#include "SerializeTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace quern;
using namespace quern::serialize;
using quern::testing::littleEndian;
using quern::testing::OwnedSource;

constexpr u64 kFirstDigitUnit = 177917621779460413ull; // 37^11: the weight of a name's first character

TEST(PODTypeDescriptor, ByteSizeTruncatesEachComponentOnItsOwn)
{
    const PODComponent threeFloats[] = {{3, PODKind::Float, 32}};
    const PODComponent nibble[] = {{1, PODKind::Unsigned, 4}};
    const PODComponent nibbles[] = {{1, PODKind::Unsigned, 4}, {1, PODKind::Unsigned, 4}};
    const PODComponent keyRecord[] = {{1, PODKind::Unsigned, 64}, {1, PODKind::Unsigned, 32}, {1, PODKind::Skip, 32}};
    const PODComponent wide[] = {{2, PODKind::Unsigned, 128}, {3, PODKind::Skip, 8}};
    const struct {
        PODTypeDescriptor descriptor;
        u64 size;
    } cases[] = {
        {{0, nullptr}, 0},   {{1, threeFloats}, 12}, {{1, nibble}, 0},
        {{2, nibbles}, 0},   {{3, keyRecord}, 16},   {{2, wide}, 35},
        {kU64Descriptor, 8}, {kU32Descriptor, 4},    {kF32Descriptor, 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.descriptor.byteSize(), c.size) << c.descriptor.componentCount;
}

TEST(ChunkIdName, ShowsPackedNamesEmptyForZeroAndInvalidOtherwise)
{
    const struct {
        u64 id;
        const char* name;
    } cases[] = {
        {0, ""},
        {packName("stringintern"), "stringintern"},
        {packName("A1"), "a1"},
        {1, "<invalid>"},                            // leading digit 0
        {kFirstDigitUnit - 1, "<invalid>"},
        {kFirstDigitUnit, "a"},
        {27 * kFirstDigitUnit - 1, "z99999999999"}, // the largest id with a leading letter
        {27 * kFirstDigitUnit, "<invalid>"},        // leading digit is the character '0'
        {~u64{0}, "<invalid>"},
    };
    for (const auto& c : cases) {
        char name[16];
        chunkIdName(c.id, name);
        EXPECT_STREQ(name, c.name) << c.id;
    }
}

TEST(ExpectChunk, MatchingIdsPassAndReturnTheStart)
{
    BinaryPODToken token;
    const std::string data = "xx" + littleEndian<u64>(1) + littleEndian<u64>(0);
    OwnedSource source(data);
    source.position = 2;
    // An id that is no packed name passes when it is the one expected.
    EXPECT_EQ(expectChunk(source, token, 1), 2u);
    EXPECT_EQ(expectChunk(source, token, 0), 10u);
    EXPECT_EQ(source.position, 18u);

    std::istringstream stream("{\n\"stringintern\":{\n");
    TextPODToken text;
    EXPECT_EQ(expectChunk(stream, text, 0), 0u);
    EXPECT_EQ(expectChunk(stream, text, packName("stringintern")), 1u); // the line end after "{" comes first
}

TEST(ExpectChunkDeathTest, MismatchNamesBothIds)
{
    const struct {
        u64 expected;
        u64 actual;
        const char* message;
    } cases[] = {
        {packName("stringintern"), packName("inputreplay"),
         "Unexpected chunk type, expected=stringintern, actual=inputreplay"},
        {packName("world"), 0, "Unexpected chunk type, expected=world, actual=\n"},
        {0, 5, "Unexpected chunk type, expected=, actual=<invalid>"},
        {packName("world"), 30 * kFirstDigitUnit, "expected=world, actual=<invalid>"},
    };
    for (const auto& c : cases) {
        BinaryPODToken token;
        OwnedSource source(littleEndian(c.actual));
        EXPECT_DEATH(expectChunk(source, token, c.expected), c.message);
        std::istringstream stream(littleEndian(c.actual));
        EXPECT_DEATH(expectChunk(stream, token, c.expected), c.message);
    }
}

TEST(SelectPODToken, TextWhenTheFirstByteOpensABraceOrAQuote)
{
    const struct {
        std::string data;
        bool text;
    } cases[] = {{"{\n}\n", true}, {"\"a\":{\n", true}, {littleEndian<u64>(0x7B00), false}, {"", false}};
    for (const auto& c : cases) {
        OwnedSource source("#" + c.data);
        source.position = 1;
        PODToken& token = selectPODToken(source);
        EXPECT_EQ(dynamic_cast<TextPODToken*>(&token) != nullptr, c.text) << c.data;
        EXPECT_EQ(source.position, 1u);
    }
}

} // namespace
