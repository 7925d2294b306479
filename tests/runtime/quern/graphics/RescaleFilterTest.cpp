#include "quern/graphics/filters/RescaleFilter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using quern::u32;
using quern::u8;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;
using quern::graphics::filters::RescaleFilter;
using Bytes = std::vector<u8>;
using Type = PixelBufferFormat::Type;

// Grey levels that name their position: 10 x row + column.
Bytes positions(u32 width, u32 height)
{
    Bytes pixels;
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < width; ++x)
            pixels.push_back(static_cast<u8>(10 * y + x));
    return pixels;
}

Bytes rescale(const PixelBufferFormat& source, const Bytes& pixels, u32 width, u32 height)
{
    RescaleFilter filter(width, height);
    PixelFormat format = source.pixelFormat;
    PixelBufferFormat result;
    filter.prepare(source, format, result);
    Bytes out(result.dataSize, 0xEE);
    filter.process(pixels.data(), source, out.data(), result);
    return out;
}

struct ScaleCase {
    const char* name;
    u32 fromWidth, fromHeight, toWidth, toHeight;
    Bytes expected;
};

TEST(RescaleFilter, NearestNeighbourPicksRoundedPositions)
{
    const ScaleCase cases[] = {
        {"4x4 to 2x2", 4, 4, 2, 2, {0, 2, 20, 22}},
        {"3x1 to 2x1, 1.5 rounds to 2", 3, 1, 2, 1, {0, 2}},
        {"5x1 to 2x1, 2.5 rounds to 2", 5, 1, 2, 1, {0, 2}},
        {"2x2 to 3x3", 2, 2, 3, 3, {0, 1, 1, 10, 11, 11, 10, 11, 11}},
        // Doubling reaches past the last column and row; reads stay inside.
        {"2x2 to 4x4", 2, 2, 4, 4, {0, 0, 1, 1, 0, 0, 1, 1, 10, 10, 11, 11, 10, 10, 11, 11}},
        {"1x1 to 3x1", 1, 1, 3, 1, {0, 0, 0}},
    };
    for (const ScaleCase& c : cases) {
        SCOPED_TRACE(c.name);
        const PixelBufferFormat source = PixelBufferFormat::create2D(c.fromWidth, c.fromHeight, PixelFormat::L8);
        EXPECT_EQ(rescale(source, positions(c.fromWidth, c.fromHeight), c.toWidth, c.toHeight), c.expected);
    }
}

TEST(RescaleFilter, CopiesWholePixelsAndHonoursTheSourcePitch)
{
    // Two rows of three B8G8R8 pixels with two bytes of padding per row.
    const PixelBufferFormat source = PixelBufferFormat::create(Type::Image2D, 3, 2, 1, PixelFormat::B8G8R8, 11, 22, 0, 0, 1);
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xAA, 0xAA, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xAA, 0xAA};
    EXPECT_EQ(rescale(source, pixels, 2, 2), (Bytes{1, 2, 3, 7, 8, 9, 11, 12, 13, 17, 18, 19}));
}

TEST(RescaleFilter, PrepareDescribesTheTargetLayout)
{
    const PixelBufferFormat source = PixelBufferFormat::create2D(300, 200, PixelFormat::B8G8R8, 0, -1, 1);
    PixelFormat format = source.pixelFormat;
    PixelBufferFormat result;
    EXPECT_TRUE(RescaleFilter(128, 64).prepare(source, format, result));
    EXPECT_EQ(result.width, 128u);
    EXPECT_EQ(result.height, 64u);
    EXPECT_EQ(result.mipCount, 0u);
    EXPECT_EQ(result.origin, 1u);
    EXPECT_EQ(result.dataSize, 128u * 64u * 3u);

    RescaleFilter toPowerOfTwo;
    toPowerOfTwo.toPowerOfTwo = true;
    EXPECT_TRUE(toPowerOfTwo.prepare(source, format, result));
    EXPECT_EQ(result.width, 256u);
    EXPECT_EQ(result.height, 256u);
    EXPECT_EQ(result.pixelFormat, PixelFormat::B8G8R8);

    EXPECT_FALSE(RescaleFilter(300, 200).prepare(source, format, result));
}

TEST(RescaleFilter, BlockImagesAreRescaledAsColour)
{
    const PixelBufferFormat source = PixelBufferFormat::create2D(64, 64, PixelFormat::DXT5);
    PixelFormat format = source.pixelFormat;
    PixelBufferFormat result;
    EXPECT_TRUE(RescaleFilter(32, 32).prepare(source, format, result));
    EXPECT_EQ(format, PixelFormat::A8B8G8R8);
    EXPECT_EQ(result.pixelFormat, PixelFormat::A8B8G8R8);
    EXPECT_EQ(result.rowPitch, 128u);

    // To a power of two: the colour layout is sized for colour pixels.
    const PixelBufferFormat odd = PixelBufferFormat::create2D(100, 64, PixelFormat::DXT1);
    format = odd.pixelFormat;
    RescaleFilter toPowerOfTwo;
    toPowerOfTwo.toPowerOfTwo = true;
    EXPECT_TRUE(toPowerOfTwo.prepare(odd, format, result));
    EXPECT_EQ(result.width, 128u);
    EXPECT_EQ(result.rowPitch, 512u);
    EXPECT_EQ(result.dataSize, 128u * 64u * 4u);
}

} // namespace
