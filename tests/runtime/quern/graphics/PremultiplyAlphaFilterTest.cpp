#include "quern/graphics/filters/PremultiplyAlphaFilter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using quern::u8;
using quern::graphics::Channel;
using quern::graphics::ChannelContent;
using quern::graphics::ChannelType;
using quern::graphics::Pixel;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;
using quern::graphics::filters::PremultiplyAlphaFilter;
using Bytes = std::vector<u8>;

struct ColourCase {
    u8 colour, alpha;
    bool integerMode, divide;
    u8 expected;
};

TEST(PremultiplyAlphaFilter, ColourRule)
{
    const ColourCase cases[] = {
        {255, 128, false, false, 188}, // floor(256 x 0.7366), not the nearest of 255 x
        {128, 128, false, false, 92},
        {77, 255, false, false, 77},   // opaque colours are copied in linear mode
        {0, 200, false, false, 0},
        {255, 128, true, false, 128},
        {200, 100, true, true, 254},   // 510 kept to its low 8 bits
        {50, 100, true, true, 127},
        {255, 0, false, false, 0},
        {255, 0, true, false, 0},
        {255, 0, false, true, 0},
        {255, 0, true, true, 0},
        {200, 128, false, true, 255},  // dividing past white saturates
    };
    for (const ColourCase& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.colour) << "/" << int(c.alpha) << (c.integerMode ? " int" : "")
                                        << (c.divide ? " divide" : ""));
        EXPECT_EQ(PremultiplyAlphaFilter::applyToColour(c.colour, c.alpha, c.integerMode, c.divide), c.expected);
    }
}

// Four R, G, B, A colours and their premultiplied forms in linear mode.
const Pixel kColours[] = {{255, 255, 255, 128}, {128, 128, 128, 128}, {10, 20, 30, 0}, {77, 1, 200, 255}};
const Pixel kPremultiplied[] = {{188, 188, 188, 128}, {92, 92, 92, 128}, {0, 0, 0, 0}, {77, 1, 200, 255}};

Bytes encode(const PixelFormat& format, const Pixel* colours, int count)
{
    Bytes bytes(count * format.bytesPerPixel);
    for (int i = 0; i < count; ++i)
        format.convertFromPixel(colours[i], bytes.data() + i * format.bytesPerPixel);
    return bytes;
}

TEST(PremultiplyAlphaFilter, WholeImagesInEveryByteLayoutOfAlpha)
{
    const PixelFormat formats[] = {
        PixelFormat::A8B8G8R8,                                           // alpha in the fourth byte
        PixelFormat::B8G8R8A8,                                           // alpha in the first byte
        PixelFormat::fromBitMasks(0xFF0000, 0xFF00, 0xFF, 0xFF000000, 32), // fourth byte, byte order 0
        PixelFormat::fromBitMasks(0xFF000000, 0xFF0000, 0xFF00, 0xFF, 32), // first byte, byte order 0
    };
    for (const PixelFormat& format : formats) {
        SCOPED_TRACE(format.toString() + (format.byteOrder ? " order 1" : " order 0"));
        PremultiplyAlphaFilter filter;
        PixelFormat working = format;
        ASSERT_TRUE(filter.setupPixelFormat(working));
        const PixelBufferFormat layout = PixelBufferFormat::create2D(2, 2, format);
        const Bytes source = encode(format, kColours, 4);
        Bytes destination(source.size());
        filter.filterImpl(source.data(), destination.data(), layout);
        EXPECT_EQ(destination, encode(format, kPremultiplied, 4));
    }
}

// Every colour under every alpha: large images take a table of answers, which
// must agree with the rule for each pair, on the fast and the converting path.
TEST(PremultiplyAlphaFilter, LargeImagesAgreeWithTheRuleForEveryPair)
{
    for (const PixelFormat& format : {PixelFormat::A8B8G8R8, PixelFormat::B8G8R8A8}) {
        for (bool integerMode : {false, true}) {
            SCOPED_TRACE(format.toString() + (integerMode ? " integer" : " linear"));
            std::vector<Pixel> colours;
            for (int alpha = 0; alpha < 256; ++alpha)
                for (int c = 0; c < 256; ++c)
                    colours.push_back(Pixel{u8(c), u8(255 - c), u8(c / 2), u8(alpha)});
            std::vector<Pixel> expected = colours;
            for (Pixel& p : expected) {
                p.r = PremultiplyAlphaFilter::applyToColour(p.r, p.a, integerMode, false);
                p.g = PremultiplyAlphaFilter::applyToColour(p.g, p.a, integerMode, false);
                p.b = PremultiplyAlphaFilter::applyToColour(p.b, p.a, integerMode, false);
            }
            const Bytes source = encode(format, colours.data(), 256 * 256);
            Bytes destination(source.size());
            PremultiplyAlphaFilter(integerMode, false)
                .filterImpl(source.data(), destination.data(), PixelBufferFormat::create2D(256, 256, format));
            EXPECT_EQ(destination, encode(format, expected.data(), 256 * 256));
        }
    }
}

TEST(PremultiplyAlphaFilter, IntegerModeOnALuminanceAlphaImage)
{
    const PixelFormat format = PixelFormat::fromTwoChannels(Channel{ChannelContent::L, ChannelType::Unsigned, 8, 0, 0},
                                                            Channel{ChannelContent::A, ChannelType::Unsigned, 8, 0, 0}, 1);
    // L8A8 is stored A, L: a grey ramp under half alpha.
    const Bytes source = {128, 0, 128, 100, 128, 255, 0, 255};
    Bytes destination(source.size());
    PremultiplyAlphaFilter(true, false).filterImpl(source.data(), destination.data(),
                                                   PixelBufferFormat::create1D(4, format));
    EXPECT_EQ(destination, (Bytes{128, 0, 128, 50, 128, 128, 0, 0}));
}

TEST(PremultiplyAlphaFilter, RunsOnlyOnFormatsWithAlpha)
{
    PremultiplyAlphaFilter filter;
    PixelFormat rgb = PixelFormat::B8G8R8;
    EXPECT_FALSE(filter.setupPixelFormat(rgb));
    PixelFormat rgbx = PixelFormat::X8B8G8R8;
    EXPECT_FALSE(filter.setupPixelFormat(rgbx));
    PixelFormat rgba = PixelFormat::B5G5R5A1;
    EXPECT_TRUE(filter.setupPixelFormat(rgba));
    EXPECT_EQ(rgba, PixelFormat::B5G5R5A1);
}

TEST(PremultiplyAlphaFilterDeathTest, InvalidAndBlockFormatsAreFatal)
{
    PremultiplyAlphaFilter filter;
    PixelFormat blocks = PixelFormat::DXT5;
    EXPECT_DEATH(filter.setupPixelFormat(blocks), "Pixel format not supported by this operation: DXT5");
    PixelFormat invalid = PixelFormat::DXT1A;
    EXPECT_DEATH(filter.setupPixelFormat(invalid), "Invalid pixel format: DXT1A0");
}

} // namespace
