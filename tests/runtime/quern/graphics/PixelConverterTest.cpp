#include "quern/graphics/PixelConverter.h"

#include "quern/containers/ElementBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

using quern::u32;
using quern::u64;
using quern::u8;
using quern::graphics::Channel;
using quern::graphics::ChannelContent;
using quern::graphics::ChannelType;
using quern::graphics::createPixelConverter;
using quern::graphics::findPixelFormatConverter;
using quern::graphics::Pixel;
using quern::graphics::PixelFormat;
using quern::graphics::PixelFormatConverter;
using Bytes = std::vector<u8>;

Channel channel(ChannelContent content, u32 bits, ChannelType type = ChannelType::Unsigned)
{
    return Channel{content, type, bits, 0, 0};
}

const PixelFormat kL8A8 =
    PixelFormat::fromTwoChannels(channel(ChannelContent::L, 8), channel(ChannelContent::A, 8), 1);
const PixelFormat kA8 = PixelFormat::fromOneChannel(channel(ChannelContent::A, 8), 0);

PixelFormat rgba16()
{
    PixelFormat f;
    f.byteOrder = 1;
    for (ChannelContent c : {ChannelContent::A, ChannelContent::B, ChannelContent::G, ChannelContent::R})
        f.addChannel(channel(c, 16));
    return f;
}

// Converts a whole image through a run converter set up for the pair.
Bytes convertImage(const PixelFormat& from, const PixelFormat& to, const Bytes& pixels,
                   quern::containers::Buffer* palette = nullptr)
{
    PixelFormatConverter converter;
    EXPECT_TRUE(converter.setFormats(from, to)) << from << " -> " << to;
    Bytes out(pixels.size() / from.bytesPerPixel * to.bytesPerPixel, 0xEE);
    converter.convert(pixels.data(), pixels.size(), out.data(), palette);
    return out;
}

// 16-bit pixels as a byte-order-1 format stores them: most significant byte first.
Bytes words(std::initializer_list<quern::u16> values)
{
    Bytes bytes;
    for (quern::u16 v : values) {
        bytes.push_back(static_cast<u8>(v >> 8));
        bytes.push_back(static_cast<u8>(v));
    }
    return bytes;
}

quern::u16 rgb565(u32 r, u32 g, u32 b) { return static_cast<quern::u16>(r << 11 | g << 5 | b); }

TEST(PixelConverter, WideningShiftsWithoutReplicatingHighBits)
{
    // A red-to-blue ramp of 5-6-5 pixels; B8G8R8 is stored R, G, B.
    const Bytes ramp = words({rgb565(31, 63, 0), rgb565(16, 32, 8), rgb565(0, 0, 31), rgb565(1, 1, 1)});
    const Bytes expected = {248, 252, 0, 128, 128, 64, 0, 0, 248, 8, 4, 8};
    EXPECT_EQ(convertImage(PixelFormat::B5G6R5, PixelFormat::B8G8R8, ramp), expected);
}

TEST(PixelConverter, NarrowingDropsLowBits)
{
    const Bytes rgb = {255, 255, 255, 7, 3, 7, 128, 64, 32};
    const Bytes expected = words({rgb565(31, 63, 31), rgb565(0, 0, 0), rgb565(16, 16, 4)});
    EXPECT_EQ(convertImage(PixelFormat::B8G8R8, PixelFormat::B5G6R5, rgb), expected);
}

TEST(PixelConverter, LuminanceFitsIntoNarrowChannelsByItsHighestBits)
{
    const Bytes grey = {200, 20, 255, 100, 31};
    const Bytes expected =
        words({rgb565(25, 50, 25), rgb565(20, 20, 20), rgb565(31, 63, 31), rgb565(25, 50, 25), rgb565(31, 31, 31)});
    EXPECT_EQ(convertImage(PixelFormat::L8, PixelFormat::B5G6R5, grey), expected);
}

TEST(PixelConverter, ColourToLuminanceWeighsInSinglePrecision)
{
    const Bytes colours = {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0};
    EXPECT_EQ(convertImage(PixelFormat::B8G8R8, PixelFormat::L8, colours), (Bytes{255, 76, 149, 29, 0}));
    // Four channels reach luminance only through an X channel.
    const Bytes rgbx = {0, 255, 0, 0xAB};
    EXPECT_EQ(convertImage(PixelFormat::X8B8G8R8, PixelFormat::L8, rgbx), (Bytes{149}));
}

TEST(PixelConverter, AlphaIsAddedOpaqueAndDroppedWithoutTouchingColour)
{
    const Bytes rgb = {10, 20, 30, 40, 50, 60};
    EXPECT_EQ(convertImage(PixelFormat::B8G8R8, PixelFormat::A8B8G8R8, rgb), (Bytes{10, 20, 30, 255, 40, 50, 60, 255}));
    const Bytes rgba = {10, 20, 30, 77};
    // X8B8G8R8 is stored R, G, B, X; the filler is written as 0.
    EXPECT_EQ(convertImage(PixelFormat::A8B8G8R8, PixelFormat::X8B8G8R8, rgba), (Bytes{10, 20, 30, 0}));
    EXPECT_EQ(convertImage(PixelFormat::A8B8G8R8, PixelFormat::B8G8R8, rgba), (Bytes{10, 20, 30}));
    // Channel order changes: B8G8R8A8 is stored A, R, G, B.
    EXPECT_EQ(convertImage(PixelFormat::A8B8G8R8, PixelFormat::B8G8R8A8, rgba), (Bytes{77, 10, 20, 30}));
}

TEST(PixelConverter, AlphaAndLuminanceKinds)
{
    // An alpha ramp becomes white with that alpha.
    EXPECT_EQ(convertImage(kA8, PixelFormat::A8B8G8R8, {0, 128, 255}),
              (Bytes{255, 255, 255, 0, 255, 255, 255, 128, 255, 255, 255, 255}));
    // Only the alpha of a colour image survives in an alpha image.
    EXPECT_EQ(convertImage(PixelFormat::A8B8G8R8, kA8, {1, 2, 3, 4, 5, 6, 7, 8}), (Bytes{4, 8}));
    // L8A8 is stored A, L.
    EXPECT_EQ(convertImage(kL8A8, PixelFormat::A8B8G8R8, {9, 100}), (Bytes{100, 100, 100, 9}));
    EXPECT_EQ(convertImage(PixelFormat::A8B8G8R8, kL8A8, {255, 0, 0, 33}), (Bytes{33, 76}));
    EXPECT_EQ(convertImage(PixelFormat::L8, PixelFormat::X8B8G8R8, {7}), (Bytes{7, 7, 7, 0}));
}

struct SelectionCase {
    const char* name;
    PixelFormat from;
    PixelFormat to;
    bool converts;
};

TEST(PixelConverter, OnlyTheListedChannelPairsConvert)
{
    const PixelFormat signedL = PixelFormat::fromOneChannel(channel(ChannelContent::L, 8, ChannelType::Signed), 0);
    const PixelFormat floatRgb = PixelFormat::fromThreeChannels(channel(ChannelContent::R, 16, ChannelType::Float),
                                                                channel(ChannelContent::G, 16, ChannelType::Float),
                                                                channel(ChannelContent::B, 16, ChannelType::Float));
    const SelectionCase cases[] = {
        {"L to RGB", PixelFormat::L8, PixelFormat::R8G8B8, true},
        {"P to RGBA", PixelFormat::P8, PixelFormat::R8G8B8A8, true},
        {"L to L", PixelFormat::L8, PixelFormat::P8, false},
        {"L to LA", PixelFormat::L8, kL8A8, false},
        {"A to A8B8G8R8", kA8, PixelFormat::A8B8G8R8, true},
        {"A to other RGBA", kA8, PixelFormat::B8G8R8A8, false},
        {"RGBA to L", PixelFormat::A8B8G8R8, PixelFormat::L8, false},
        {"RGBA to 16-bit RGBA", PixelFormat::A8B8G8R8, PixelFormat::B5G5R5A1, true},
        {"RGBX to RGBA", PixelFormat::X8R8G8B8, PixelFormat::B8G8R8A8, true},
        {"LA to RGB", kL8A8, PixelFormat::B8G8R8, false},
        {"signed source", signedL, PixelFormat::B8G8R8, false},
        {"float source", floatRgb, PixelFormat::B8G8R8, false},
        {"block source", PixelFormat::DXT1, PixelFormat::A8B8G8R8, false},
        {"depth", PixelFormat::D24S8, PixelFormat::A8B8G8R8, false},
        {"empty", PixelFormat{}, PixelFormat::A8B8G8R8, false},
        {"64-bit RGBA", rgba16(), PixelFormat::A8B8G8R8, true},
    };
    for (const SelectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(createPixelConverter(c.from, c.to) != nullptr, c.converts);
    }
}

TEST(PixelConverter, PaletteEntriesExpandByTheirLowThreeBytes)
{
    quern::containers::ElementBuffer palette;
    palette.setSize(3 * 4);
    palette.setElementSize(4);
    const u32 entries[3] = {0x00000000u, 0x7F3060C0u, 0xFFFFFFFFu}; // byte 0 is red
    std::memcpy(palette.data(), entries, sizeof entries);
    const Bytes image = {1, 0, 2, 1};
    EXPECT_EQ(convertImage(PixelFormat::P8, PixelFormat::B8G8R8, image, &palette),
              (Bytes{0xC0, 0x60, 0x30, 0, 0, 0, 255, 255, 255, 0xC0, 0x60, 0x30}));
    // Byte 3 of the entry is not alpha: palette images convert opaque.
    EXPECT_EQ(convertImage(PixelFormat::P8, PixelFormat::A8B8G8R8, {1}, &palette), (Bytes{0xC0, 0x60, 0x30, 255}));
    EXPECT_EQ(palette.lockWord(), 0);
}

TEST(PixelConverterDeathTest, APaletteIndexPastThePaletteIsFatal)
{
    quern::containers::ElementBuffer palette;
    palette.setSize(2 * 4);
    std::memset(palette.data(), 0, 8);
    EXPECT_DEATH(convertImage(PixelFormat::P8, PixelFormat::B8G8R8, {0, 2}, &palette),
                 "Palette index outside the palette");
    EXPECT_DEATH(convertImage(PixelFormat::P8, PixelFormat::B8G8R8, {0}, nullptr), "Palette index outside the palette");
}

TEST(PixelFormatConverter, EqualFormatsCopyBytesUnchanged)
{
    const Bytes anything = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(convertImage(PixelFormat::DXT1, PixelFormat::DXT1, anything), anything);
    // Equal across byte orders: RGBA backwards in byte order 0 is the same layout.
    PixelFormat abgr0 = PixelFormat::R8G8B8A8.reversed();
    abgr0.byteOrder = 0;
    for (Channel& c : abgr0.channels)
        c.swapped = 0;
    EXPECT_EQ(convertImage(PixelFormat::R8G8B8A8, abgr0, anything), anything);
}

TEST(PixelFormatConverter, RefusesBlockAndWideFormats)
{
    PixelFormatConverter converter;
    EXPECT_FALSE(converter.setFormats(PixelFormat::DXT1, PixelFormat::A8B8G8R8));
    EXPECT_FALSE(converter.setFormats(PixelFormat::A8B8G8R8, rgba16()));
    EXPECT_EQ(findPixelFormatConverter(PixelFormat::A8B8G8R8, rgba16()), nullptr);
    // The single-pixel path still reaches the 64-bit converters.
    u8 wide[8];
    rgba16().convertFromPixel(Pixel{0x12, 0x34, 0x56, 0x78}, wide);
    EXPECT_EQ(rgba16().convertToPixel(wide), (Pixel{0x12, 0x34, 0x56, 0x78}));
    // R is the most significant word, stored first; 8 bits shift up to 16.
    EXPECT_EQ(wide[0], 0x12);
    EXPECT_EQ(wide[1], 0x00);
}

TEST(PixelFormatConverter, ATrailingPartialPixelIsLeftAlone)
{
    const Bytes rgb = {1, 2, 3, 4, 5, 6, 7};
    PixelFormatConverter* converter = findPixelFormatConverter(PixelFormat::B8G8R8, PixelFormat::A8B8G8R8);
    ASSERT_NE(converter, nullptr);
    Bytes out(12, 0xEE);
    converter->convert(rgb.data(), rgb.size(), out.data(), nullptr);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 255, 4, 5, 6, 255, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(PixelFormatConverter, SharedConverterIsPerThreadAndRememberedFormats)
{
    PixelFormatConverter* mine = findPixelFormatConverter(PixelFormat::B8G8R8, PixelFormat::L8);
    ASSERT_NE(mine, nullptr);
    PixelFormatConverter* theirs = nullptr;
    std::thread([&] { theirs = findPixelFormatConverter(PixelFormat::L8, PixelFormat::B8G8R8); }).join();
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(mine->sourceFormat(), PixelFormat::B8G8R8);
    EXPECT_EQ(mine->destinationFormat(), PixelFormat::L8);
    EXPECT_EQ(findPixelFormatConverter(PixelFormat::L8, PixelFormat::B8G8R8), mine);
}

TEST(PixelFormat, ConvertToPixelAndBack)
{
    const u8 grey = 128;
    EXPECT_EQ(PixelFormat::L8.convertToPixel(&grey), (Pixel{128, 128, 128, 255}));
    const u8 rgb[3] = {1, 2, 3};
    EXPECT_EQ(PixelFormat::B8G8R8.convertToPixel(rgb), (Pixel{1, 2, 3, 255}));
    u8 packed[2];
    PixelFormat::B5G6R5.convertFromPixel(Pixel{255, 0, 255, 0}, packed);
    EXPECT_EQ(packed[0] << 8 | packed[1], rgb565(31, 0, 31));
}

TEST(PixelFormatDeathTest, UnconvertibleFormatsAreFatalWithTheirText)
{
    u8 out[4] = {};
    EXPECT_DEATH(PixelFormat::L8.convertFromPixel(Pixel{1, 2, 3, 4}, out),
                 "Pixel format not supported by this operation: L8");
    EXPECT_DEATH(PixelFormat::DXT5.convertToPixel(out), "Pixel format not supported by this operation: DXT5");
    EXPECT_DEATH(PixelFormat::D24S8.convertToPixel(out), "Pixel format not supported by this operation: D24S8");
}

} // namespace
