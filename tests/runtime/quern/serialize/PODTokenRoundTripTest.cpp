// Everything either token writes, through either family, reads back unchanged
// through either family: a structure with every kind of element, extreme
// values, floats that need all their digits, strings and nested chunks.

#include "quern/io/StringSink.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/PackedName.h"

#include "SerializeTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <tuple>

namespace {

using namespace quern;
using namespace quern::serialize;
using quern::testing::OwnedSource;

struct Mixed {
    u8 smallUnsigned;
    i8 smallSigned;
    u16 mediumUnsigned;
    i16 mediumSigned;
    u8 padding[2];
    u32 wordUnsigned;
    i32 wordSigned;
    u64 longUnsigned;
    i64 longSigned;
    f32 single[2];
    f64 wide;
};
static_assert(sizeof(Mixed) == 48);
const PODComponent kMixedComponents[] = {
    {1, PODKind::Unsigned, 8}, {1, PODKind::Signed, 8},    {1, PODKind::Unsigned, 16}, {1, PODKind::Signed, 16},
    {2, PODKind::Skip, 8},     {1, PODKind::Unsigned, 32}, {1, PODKind::Signed, 32},   {1, PODKind::Unsigned, 64},
    {1, PODKind::Signed, 64},  {2, PODKind::Float, 32},    {1, PODKind::Float, 64},
};
const PODTypeDescriptor kMixedDescriptor{11, kMixedComponents};

struct Wide {
    u64 low, high;
};
const PODComponent kWideComponents[] = {{1, PODKind::Unsigned, 128}};
const PODTypeDescriptor kWideDescriptor{1, kWideComponents};

const Mixed kRecords[] = {
    {255, -128, 65535, -32768, {0, 0}, 4294967295u, std::numeric_limits<i32>::min(), ~u64{0},
     std::numeric_limits<i64>::min(), {0.1f, std::numeric_limits<f32>::denorm_min()}, 0.1},
    {0, 127, 0, 32767, {0, 0}, 0, std::numeric_limits<i32>::max(), 0, std::numeric_limits<i64>::max(),
     {-0.0f, std::numeric_limits<f32>::infinity()}, -std::numeric_limits<f64>::max()},
    {7, -1, 1234, -1, {0, 0}, 123456789, -5, 1ull << 63, -1, {16777217.0f, -3.4028235e38f}, 1.0 / 3.0},
};
const Wide kWide[] = {{1, 2}, {~u64{0}, 0x8000000000000000ull}};
const char* const kTexts[] = {"", "plain text", "braces { } and , commas : colons", "unicode \xC3\xA9t\xC3\xA9"};

constexpr u64 kOuter = 0; // an unnamed outer chunk
const u64 kInner = packName("inner");

template <typename Out> void writeDocument(PODToken& token, Out& out)
{
    const u32 outer = token.beginWriteChunk(out, kOuter);
    const u32 count = 3;
    token.writePOD(out, &count, 1, &kU32Descriptor, "count");
    token.writePOD(out, kRecords, count, &kMixedDescriptor, "records");
    const u32 inner = token.beginWriteChunk(out, kInner);
    for (const char* text : kTexts)
        token.writeString(out, text, "text");
    token.writePOD(out, kWide, 2, &kWideDescriptor, nullptr);
    token.endWriteChunk(out, inner);
    token.writePOD(out, kRecords, 0, &kMixedDescriptor, "none");
    const f32 last = 2.5f;
    token.writePOD(out, &last, 1, &kF32Descriptor, nullptr);
    token.endWriteChunk(out, outer);
}

bool sameBits(const void* a, const void* b, u64 size) { return std::memcmp(a, b, size) == 0; }

template <typename In> void readAndCheckDocument(PODToken& token, In& in)
{
    const u32 outer = expectChunk(in, token, kOuter);
    u32 count = 0;
    token.readPOD(in, &count, 1, &kU32Descriptor);
    ASSERT_EQ(count, 3u);
    Mixed records[3];
    std::memset(records, 0, sizeof records);
    token.readPOD(in, records, count, &kMixedDescriptor);
    for (u32 i = 0; i < count; ++i) {
        Mixed expected = kRecords[i];
        std::memset(expected.padding, 0, sizeof expected.padding);
        std::memset(records[i].padding, 0, sizeof records[i].padding);
        EXPECT_TRUE(sameBits(&records[i], &expected, sizeof expected)) << "record " << i;
    }
    const u32 inner = expectChunk(in, token, kInner);
    for (const char* text : kTexts) {
        char buffer[64];
        EXPECT_EQ(token.readString(in, buffer, sizeof buffer), std::strlen(text));
        EXPECT_STREQ(buffer, text);
    }
    Wide wide[2] = {};
    token.readPOD(in, wide, 2, &kWideDescriptor);
    EXPECT_TRUE(sameBits(wide, kWide, sizeof wide));
    token.endReadChunk(in, inner);
    f32 last = 0;
    token.readPOD(in, &last, 1, &kF32Descriptor);
    EXPECT_EQ(last, 2.5f);
    token.endReadChunk(in, outer);
}

enum class Family { Engine, Standard };

class PODTokenRoundTrip : public ::testing::TestWithParam<std::tuple<bool, Family, Family>> {
protected:
    std::unique_ptr<PODToken> makeToken() const
    {
        if (std::get<0>(GetParam()))
            return std::make_unique<TextPODToken>();
        return std::make_unique<BinaryPODToken>();
    }
};

TEST_P(PODTokenRoundTrip, EveryItemReadsBackUnchanged)
{
    const auto token = makeToken();
    std::string written;
    if (std::get<1>(GetParam()) == Family::Engine) {
        StringSink sink;
        writeDocument(*token, sink);
        written = sink.text;
    } else {
        std::ostringstream stream;
        writeDocument(*token, stream);
        written = stream.str();
    }
    if (std::get<2>(GetParam()) == Family::Engine) {
        OwnedSource source(written);
        readAndCheckDocument(*token, source);
        EXPECT_GE(source.position + 1, written.size()) << "the whole document was read";
    } else {
        std::istringstream stream(written);
        readAndCheckDocument(*token, stream);
    }
}

INSTANTIATE_TEST_SUITE_P(AllForms, PODTokenRoundTrip,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(Family::Engine, Family::Standard),
                                            ::testing::Values(Family::Engine, Family::Standard)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Text" : "Binary") +
                                    (std::get<1>(info.param) == Family::Engine ? "FromSink" : "FromStream") +
                                    (std::get<2>(info.param) == Family::Engine ? "ToSource" : "ToStream");
                         });

TEST(PODTokenRoundTrip, TextFloatsNeedAllTheirDigits)
{
    // Values whose shortest six-digit text would read back as another float.
    const f32 singles[] = {0.1f, 1.0f / 3.0f, 16777216.0f, 1.17549435e-38f, 3.14159274f, 1e-45f};
    const f64 doubles[] = {0.1, 1.0 / 3.0, 2.2250738585072014e-308, 4.9e-324, 9007199254740993.0};
    TextPODToken token;
    StringSink sink;
    token.writePOD(sink, singles, std::size(singles), &kF32Descriptor, nullptr);
    static const PODComponent f64Component[] = {{1, PODKind::Float, 64}};
    const PODTypeDescriptor f64Descriptor{1, f64Component};
    token.writePOD(sink, doubles, std::size(doubles), &f64Descriptor, nullptr);
    OwnedSource source(sink.text);
    f32 readSingles[std::size(singles)];
    f64 readDoubles[std::size(doubles)];
    token.readPOD(source, readSingles, std::size(singles), &kF32Descriptor);
    token.readPOD(source, readDoubles, std::size(doubles), &f64Descriptor);
    EXPECT_TRUE(sameBits(readSingles, singles, sizeof singles));
    EXPECT_TRUE(sameBits(readDoubles, doubles, sizeof doubles));
}

} // namespace
