#include "quern/graphics/PixelFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

namespace {

using quern::u32;
using quern::u8;
using quern::graphics::Channel;
using quern::graphics::ChannelContent;
using quern::graphics::ChannelType;
using quern::graphics::Pixel;
using quern::graphics::PixelFormat;

// The table is constant-initialised, so other static initialisers may read it.
static_assert(PixelFormat::B8G8R8A8.totalBits == 32);
static_assert(PixelFormat::DXT5.elementSize == 16);
static_assert(PixelFormat::D24S8.channels[1].bitOffset == 24);

Channel channel(ChannelContent content, u32 bits, ChannelType type = ChannelType::Unsigned, quern::i32 swapped = 0)
{
    return Channel{content, type, bits, 0, swapped};
}

struct ConstantCase {
    const PixelFormat* format;
    const char* text;
    int byteOrder;
    int totalBits;
    int bytesPerPixel;
    int elementSize;
    int code;
};

const ConstantCase kConstants[] = {
    {&PixelFormat::L8, "L8", 0, 8, 1, 1, 0},
    {&PixelFormat::P8, "P8", 0, 8, 1, 1, -1},
    {&PixelFormat::B5G5R5A1, "B5G5R5A1", 1, 16, 2, 2, 1},
    {&PixelFormat::R5G5B5A1, "R5G5B5A1", 1, 16, 2, 2, -1},
    {&PixelFormat::B5G6R5, "B5G6R5", 1, 16, 2, 2, 2},
    {&PixelFormat::R5G6B5, "R5G6B5", 1, 16, 2, 2, -1},
    {&PixelFormat::B8G8R8, "B8G8R8", 1, 24, 3, 3, 3},
    {&PixelFormat::R8G8B8, "R8G8B8", 1, 24, 3, 3, -1},
    {&PixelFormat::A8R8G8B8, "A8R8G8B8", 1, 32, 4, 4, -1},
    {&PixelFormat::B8G8R8A8, "B8G8R8A8", 1, 32, 4, 4, -1},
    {&PixelFormat::R8G8B8A8, "R8G8B8A8", 1, 32, 4, 4, -1},
    {&PixelFormat::X8B8G8R8, "X8B8G8R8", 1, 32, 4, 4, 5},
    {&PixelFormat::X8R8G8B8, "X8R8G8B8", 1, 32, 4, 4, -1},
    {&PixelFormat::B8G8R8X8, "B8G8R8X8", 1, 32, 4, 4, -1},
    {&PixelFormat::R8G8B8X8, "R8G8B8X8", 1, 32, 4, 4, -1},
    {&PixelFormat::DXT1, "DXT1", 0, 4, 1, 8, 9},
    {&PixelFormat::DXT1A, "DXT1A0", 0, 4, 1, 8, -1},
    {&PixelFormat::DXT2, "DXT2", 0, 8, 1, 16, -1},
    {&PixelFormat::DXT3, "DXT3", 0, 8, 1, 16, -1},
    {&PixelFormat::DXT4, "DXT4", 0, 8, 1, 16, -1},
    {&PixelFormat::DXT5, "DXT5", 0, 8, 1, 16, 10},
    {&PixelFormat::BC6H, "BC6H8", 0, 8, 1, 1, 11},
    {&PixelFormat::BC7, "BC78", 0, 8, 1, 1, 12},
    {&PixelFormat::D16, "D16", 0, 16, 2, 2, 6},
    {&PixelFormat::D32, "D32", 0, 32, 4, 4, 7},
    {&PixelFormat::D24S8, "D24S8", 0, 32, 4, 4, 8},
    {&PixelFormat::A8B8G8R8, "A8B8G8R8", 1, 32, 4, 4, 4},
};

TEST(PixelFormat, PredefinedFormatsHaveTheirTextSizesAndCodes)
{
    for (const ConstantCase& c : kConstants) {
        SCOPED_TRACE(c.text);
        const PixelFormat& f = *c.format;
        EXPECT_EQ(f.toString(), c.text);
        EXPECT_EQ(f.byteOrder, c.byteOrder);
        EXPECT_EQ(f.totalBits, c.totalBits);
        EXPECT_EQ(f.bytesPerPixel, c.bytesPerPixel);
        EXPECT_EQ(f.elementSize, c.elementSize);
        EXPECT_EQ(f.getFormatCode(), c.code);
        if (c.code >= 0) {
            EXPECT_EQ(&PixelFormat::fromFormatCode(c.code), c.format);
        }
        // Offsets are the running sums; slots past the count are empty.
        u32 offset = 0;
        for (u32 i = 0; i < f.channelCount; ++i) {
            EXPECT_EQ(f.channels[i].bitOffset, offset);
            EXPECT_EQ(f.channels[i].type, f.hasCompressedChannel() ? ChannelType::Compressed : ChannelType::Unsigned);
            offset += f.channels[i].bits;
        }
        for (u32 i = f.channelCount; i < PixelFormat::kMaxChannels; ++i)
            EXPECT_EQ(f.channels[i].content, ChannelContent::None);
    }
}

TEST(PixelFormat, UnknownFormatCodesGiveTheEmptyFormat)
{
    for (int code : {13, -1, 1000}) {
        const PixelFormat& f = PixelFormat::fromFormatCode(code);
        EXPECT_EQ(f.channelCount, 0);
        EXPECT_EQ(f.totalBits, 0);
        EXPECT_EQ(f.toString(), "");
        EXPECT_EQ(f, PixelFormat{});
    }
}

TEST(PixelFormat, ChannelTextShowsBitsAndTypeSuffix)
{
    EXPECT_EQ(channel(ChannelContent::A, 16, ChannelType::Float).toString(), "A16f");
    EXPECT_EQ(channel(ChannelContent::R, 8, ChannelType::Signed).toString(), "R8s");
    EXPECT_EQ(channel(ChannelContent::X, 8, ChannelType::None).toString(), "X8");
    EXPECT_EQ(channel(ChannelContent::DXT5, 8, ChannelType::Compressed).toString(), "DXT5");
    std::ostringstream stream;
    stream << PixelFormat::D24S8 << '|' << PixelFormat{};
    EXPECT_EQ(stream.str(), "D24S8|");
}

TEST(PixelFormatDeathTest, PrintingAnEmptyChannelIsFatal)
{
    EXPECT_DEATH(channel(ChannelContent::None, 8).toString(), "Invalid channel content");
    PixelFormat broken = PixelFormat::L8;
    broken.channels[0].content = static_cast<ChannelContent>(40);
    EXPECT_DEATH(broken.toString(), "Invalid channel content");
}

TEST(PixelFormat, BytesPerPixelRoundsToTheNearestByteButElementsRoundUp)
{
    const PixelFormat twelve = PixelFormat::fromTwoChannels(channel(ChannelContent::L, 8), channel(ChannelContent::A, 4), 1);
    EXPECT_EQ(twelve.totalBits, 12);
    EXPECT_EQ(twelve.bytesPerPixel, 2);
    EXPECT_EQ(twelve.elementSize, 2);
    const PixelFormat ten = PixelFormat::fromTwoChannels(channel(ChannelContent::L, 6), channel(ChannelContent::A, 4), 1);
    EXPECT_EQ(ten.bytesPerPixel, 1);
    EXPECT_EQ(ten.elementSize, 2);
    const PixelFormat four = PixelFormat::fromOneChannel(channel(ChannelContent::L, 4), 0);
    EXPECT_EQ(four.bytesPerPixel, 1);
    EXPECT_EQ(four.elementSize, 1);
}

TEST(PixelFormat, BuildersDeriveOffsetsWhateverTheRecordsSay)
{
    Channel red = channel(ChannelContent::R, 8);
    red.bitOffset = 99;
    const PixelFormat f =
        PixelFormat::fromThreeChannels(red, channel(ChannelContent::G, 8), channel(ChannelContent::B, 8));
    EXPECT_EQ(f, PixelFormat::R8G8B8);
    EXPECT_EQ(f.channels[0].bitOffset, 0u);
    EXPECT_EQ(f.channels[2].bitOffset, 16u);

    PixelFormat built;
    built.byteOrder = 1;
    built.addChannel(channel(ChannelContent::A, 8));
    built.addChannel(channel(ChannelContent::B, 8));
    built.addChannel(channel(ChannelContent::G, 8));
    built.addChannel(channel(ChannelContent::R, 8));
    EXPECT_EQ(built, PixelFormat::A8B8G8R8);
    EXPECT_EQ(built.elementSize, 4);
}

TEST(PixelFormatDeathTest, ANinthChannelIsFatal)
{
    PixelFormat f;
    for (int i = 0; i < 8; ++i)
        f.addChannel(channel(ChannelContent::X, 1));
    EXPECT_DEATH(f.addChannel(channel(ChannelContent::X, 1)), "at most eight channels");
}

struct EqualityCase {
    const char* name;
    PixelFormat a;
    PixelFormat b;
    bool equal;
};

PixelFormat withByteOrder(PixelFormat f, int order)
{
    f.byteOrder = order;
    return f;
}

TEST(PixelFormat, EqualityFollowsByteOrderAndChannelOrder)
{
    const PixelFormat abgrOrder0 = PixelFormat::fromTwoChannels(channel(ChannelContent::A, 8), channel(ChannelContent::B, 8), 0);
    PixelFormat abgr0 = abgrOrder0;
    abgr0.addChannel(channel(ChannelContent::G, 8));
    abgr0.addChannel(channel(ChannelContent::R, 8));
    const PixelFormat swappedD16 = PixelFormat::fromOneChannel(channel(ChannelContent::D, 16, ChannelType::Unsigned, 1), 0);
    const PixelFormat swappedL8 = PixelFormat::fromOneChannel(channel(ChannelContent::L, 8, ChannelType::Unsigned, 1), 0);
    const PixelFormat floatD16 = PixelFormat::fromOneChannel(channel(ChannelContent::D, 16, ChannelType::Float), 0);
    const EqualityCase cases[] = {
        {"reversed keeps byte order 1", PixelFormat::R8G8B8A8, PixelFormat::R8G8B8A8.reversed(), false},
        {"backwards in byte order 0", PixelFormat::R8G8B8A8, abgr0, true},
        {"backwards in byte order 0, other side", abgr0, PixelFormat::R8G8B8A8, true},
        {"D16 in both byte orders", PixelFormat::D16, withByteOrder(PixelFormat::D16, 1), false},
        {"8 bits ignore byte order", PixelFormat::L8, withByteOrder(PixelFormat::L8, 1), true},
        {"swap flag counts from 16 bits", PixelFormat::D16, swappedD16, false},
        {"swap flag ignored below 16 bits", PixelFormat::L8, swappedL8, true},
        {"channel type", PixelFormat::D16, floatD16, false},
        {"same bits, other channels", PixelFormat::B5G6R5, PixelFormat::R5G6B5, false},
        {"other channel count", PixelFormat::DXT1, PixelFormat::DXT1A, false},
        {"empty formats", PixelFormat{}, PixelFormat{}, true},
    };
    for (const EqualityCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a == c.b, c.equal);
    }
}

TEST(PixelFormat, ReversedInvertsSwapFlagsOfWideChannelsOnly)
{
    const PixelFormat r = PixelFormat::D24S8.reversed();
    EXPECT_EQ(r.toString(), "S8D24");
    EXPECT_EQ(r.byteOrder, 0);
    EXPECT_EQ(r.channels[0].swapped, 0);
    EXPECT_EQ(r.channels[1].swapped, 1);
    EXPECT_EQ(r.channels[1].bitOffset, 8u);
    EXPECT_EQ(r.reversed().channels[1].swapped, 0);
}

TEST(PixelFormat, OrderingSortsByBitsThenCountThenFirstDifferentChannel)
{
    std::vector<PixelFormat> formats = {PixelFormat::A8B8G8R8, PixelFormat::B8G8R8, PixelFormat::X8R8G8B8,
                                        PixelFormat::L8,       PixelFormat::B5G6R5, PixelFormat::D24S8,
                                        PixelFormat::B5G5R5A1};
    std::sort(formats.begin(), formats.end());
    std::vector<std::string> texts;
    for (const PixelFormat& f : formats)
        texts.push_back(f.toString());
    // 16 bits: B5G6R5 has fewer channels than B5G5R5A1; 32 bits: X < A < D by content.
    const std::vector<std::string> expected = {"L8",     "B5G6R5", "B5G5R5A1", "B8G8R8",
                                               "D24S8",  "X8R8G8B8", "A8B8G8R8"};
    EXPECT_EQ(texts, expected);
    EXPECT_FALSE(PixelFormat{} < PixelFormat{});
    EXPECT_FALSE(PixelFormat::A8B8G8R8 < PixelFormat::A8B8G8R8);
    // The last channel decides when every earlier one matches: X sorts before A.
    EXPECT_TRUE(PixelFormat::B8G8R8X8 < PixelFormat::B8G8R8A8);
    EXPECT_FALSE(PixelFormat::B8G8R8A8 < PixelFormat::B8G8R8X8);
}

struct MaskCase {
    const char* name;
    quern::u32 red, green, blue, alpha, bitCount;
    const char* text;
};

TEST(PixelFormat, FromBitMasksOrdersChannelsByUnsignedMaskValue)
{
    const MaskCase cases[] = {
        {"ARGB", 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 32, "B8G8R8A8"},
        {"XRGB", 0xFF0000, 0xFF00, 0xFF, 0, 32, "B8G8R8X8"},
        {"ABGR", 0xFF, 0xFF00, 0xFF0000, 0xFF000000, 32, "R8G8B8A8"},
        {"RGB 24-bit", 0xFF0000, 0xFF00, 0xFF, 0, 24, "B8G8R8"},
        {"565", 0xF800, 0x07E0, 0x001F, 0, 16, "B5G6R5"},
        {"1555", 0x7C00, 0x03E0, 0x001F, 0x8000, 16, "B5G5R5A1"},
        {"alpha only", 0, 0, 0, 0xFF, 8, "A8"},
        {"X of 8 below 24 colour bits", 0xFF000000, 0xFF0000, 0xFF00, 0, 32, "X8B8G8R8"},
    };
    for (const MaskCase& c : cases) {
        SCOPED_TRACE(c.name);
        const PixelFormat f = PixelFormat::fromBitMasks(c.red, c.green, c.blue, c.alpha, c.bitCount);
        EXPECT_EQ(f.toString(), c.text);
        EXPECT_EQ(f.byteOrder, 0);
    }
}

TEST(PixelFormat, ChannelMasksDependOnByteOrder)
{
    EXPECT_EQ(PixelFormat::B5G6R5.getChannelMask(ChannelContent::R), 0xF800u);
    EXPECT_EQ(PixelFormat::B5G6R5.getChannelMask(ChannelContent::B), 0x001Fu);
    EXPECT_EQ(PixelFormat::D24S8.getChannelMask(ChannelContent::D), 0xFFFFFF00u);
    EXPECT_EQ(PixelFormat::D24S8.getChannelMask(ChannelContent::S), 0x000000FFu);
    EXPECT_EQ(PixelFormat::D32.getChannelMask(ChannelContent::D), 0xFFFFFFFFu);
    EXPECT_EQ(PixelFormat::A8B8G8R8.getChannelMask(ChannelContent::R), 0xFF000000u);
    EXPECT_EQ(PixelFormat::B5G6R5.getChannelMask(ChannelContent::A), 0u);
}

TEST(PixelFormat, ChannelQueries)
{
    EXPECT_EQ(&PixelFormat::D24S8.getChannelWithContent(ChannelContent::S), &PixelFormat::D24S8.channels[1]);
    EXPECT_TRUE(PixelFormat::B8G8R8A8.hasRGBAnd(ChannelContent::A));
    EXPECT_FALSE(PixelFormat::B8G8R8X8.hasRGBAnd(ChannelContent::A));
    EXPECT_TRUE(PixelFormat::D24S8.hasChannels(ChannelContent::D, ChannelContent::S));
    EXPECT_FALSE(PixelFormat::L8.hasRGB());
    EXPECT_TRUE(PixelFormat::BC7.hasCompressedChannel());
    EXPECT_FALSE(PixelFormat::BC7.isDXTCompressed());
    EXPECT_TRUE(PixelFormat::DXT3.isDXTCompressed());

    EXPECT_TRUE(PixelFormat::P8.hasColorChannel());
    EXPECT_TRUE(PixelFormat::DXT1.hasColorChannel());
    EXPECT_FALSE(PixelFormat::BC7.hasColorChannel());
    EXPECT_FALSE(PixelFormat::D24S8.hasColorChannel());
    EXPECT_FALSE(PixelFormat::fromOneChannel(channel(ChannelContent::A, 8), 0).hasColorChannel());
}

TEST(PixelFormat, ValidityNeedsContentTypeAndBits)
{
    EXPECT_TRUE(PixelFormat::A8B8G8R8.isValid());
    EXPECT_FALSE(PixelFormat{}.isValid());
    EXPECT_FALSE(PixelFormat::DXT1A.isValid()); // its alpha channel has no bits
    EXPECT_TRUE(PixelFormat::fromOneChannel(channel(ChannelContent::D, 0), 0).isValid());
    EXPECT_TRUE(PixelFormat::fromTwoChannels(channel(ChannelContent::X, 8, ChannelType::None),
                                             channel(ChannelContent::L, 8), 0)
                    .isValid());
    EXPECT_FALSE(PixelFormat::fromOneChannel(channel(ChannelContent::L, 8, ChannelType::None), 0).isValid());
}

TEST(PixelFormatDeathTest, AMissingChannelIsFatal)
{
    EXPECT_DEATH(PixelFormat::L8.getChannelWithContent(ChannelContent::A),
                 "No channel in this pixel format matches the given content");
}

TEST(PixelFormat, RowPitchCountsBlocksForDXTFormats)
{
    EXPECT_EQ(PixelFormat::DXT1.computeRowPitch(5), 16u);
    EXPECT_EQ(PixelFormat::DXT5.computeRowPitch(4), 16u);
    EXPECT_EQ(PixelFormat::BC7.computeRowPitch(5), 5u);
    EXPECT_EQ(PixelFormat::B8G8R8.computeRowPitch(5), 15u);
    EXPECT_EQ(PixelFormat::DXT1.widthFromRowPitch(16), 8u);
    EXPECT_EQ(PixelFormat::B8G8R8.widthFromRowPitch(15), 5u);
}

// Memory bytes 10 20 30 40 read in the formats that name their channels from
// the last byte (byte order 1) or from the first (byte order 0).
TEST(PixelFormat, PixelBytesAssembleByByteOrder)
{
    const u8 bytes[4] = {0x10, 0x20, 0x30, 0x40};
    EXPECT_EQ(PixelFormat::A8B8G8R8.convertToPixel(bytes), (Pixel{0x10, 0x20, 0x30, 0x40}));
    EXPECT_EQ(PixelFormat::A8R8G8B8.convertToPixel(bytes), (Pixel{0x30, 0x20, 0x10, 0x40}));
    EXPECT_EQ(PixelFormat::R8G8B8A8.convertToPixel(bytes), (Pixel{0x40, 0x30, 0x20, 0x10}));
    const PixelFormat legacyArgb = PixelFormat::fromBitMasks(0xFF0000, 0xFF00, 0xFF, 0xFF000000, 32);
    EXPECT_EQ(legacyArgb.convertToPixel(bytes), (Pixel{0x30, 0x20, 0x10, 0x40}));
    // A swapped 16-bit channel is stored with its bytes the other way round.
    const PixelFormat swapped =
        PixelFormat::fromTwoChannels(channel(ChannelContent::L, 16, ChannelType::Unsigned, 1),
                                     channel(ChannelContent::A, 16), 1);
    const PixelFormat plain =
        PixelFormat::fromTwoChannels(channel(ChannelContent::L, 16), channel(ChannelContent::A, 16), 1);
    const u8 wide[4] = {0xAA, 0x00, 0x80, 0xFF};
    EXPECT_EQ(plain.convertToPixel(wide), (Pixel{0x80, 0x80, 0x80, 0xAA}));
    EXPECT_EQ(swapped.convertToPixel(wide), (Pixel{0xFF, 0xFF, 0xFF, 0xAA}));
}

} // namespace
