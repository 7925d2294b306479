#include "quern/graphics/PixelBufferFormat.h"

#include <gtest/gtest.h>

namespace {

using quern::u32;
using quern::u64;
using quern::graphics::Channel;
using quern::graphics::ChannelContent;
using quern::graphics::ChannelType;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;
using Type = PixelBufferFormat::Type;

struct SizeCase {
    const char* name;
    Type type;
    u32 width, height, depth, mips, elementSize;
    bool blocks;
    u64 bytes;
};

TEST(PixelBufferFormat, DataSizeSumsEveryLevelAndFace)
{
    const SizeCase cases[] = {
        {"4x4, 2 mips, 4 bytes", Type::Image2D, 4, 4, 1, 2, 4, false, 64 + 16 + 4},
        {"same as a cube map", Type::CubeMap, 4, 4, 1, 2, 4, false, 504},
        {"DXT1 5x5", Type::Image2D, 5, 5, 1, 0, 8, true, 32},
        {"DXT1 8x8 full chain", Type::Image2D, 8, 8, 1, 3, 8, true, 32 + 8 + 8 + 8},
        {"3x3 halves to 1x1", Type::Image2D, 3, 3, 1, 1, 1, false, 9 + 1},
        {"volume 4x4x4, 1 mip", Type::Volume, 4, 4, 4, 1, 2, false, 128 + 16},
        // A level of 2^34 bytes must not wrap around.
        {"65536 squared RGBA", Type::Image2D, 65536, 65536, 1, 0, 4, false, u64{1} << 34},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PixelBufferFormat::computeDataSize(c.type, c.width, c.height, c.depth, c.mips, c.elementSize, c.blocks),
                  c.bytes);
    }
}

TEST(PixelBufferFormat, Create2DComputesPitchSizeAndFullChain)
{
    const PixelBufferFormat f = PixelBufferFormat::create2D(256, 64, PixelFormat::A8B8G8R8, 0, -1, 1);
    EXPECT_EQ(f.type, Type::Image2D);
    EXPECT_EQ(f.mipCount, 8u);
    EXPECT_EQ(f.rowPitch, 1024u);
    EXPECT_EQ(f.pixelCount, 256u * 64u);
    EXPECT_EQ(f.depth, 1u);
    EXPECT_EQ(f.origin, 1u);
    EXPECT_EQ(f.layerCount, 1);
    EXPECT_EQ(f.dataSize, PixelBufferFormat::computeDataSize(Type::Image2D, 256, 64, 1, 8, 4, false));

    const PixelBufferFormat dxt = PixelBufferFormat::create2D(5, 5, PixelFormat::DXT1);
    EXPECT_EQ(dxt.rowPitch, 16u);
    EXPECT_EQ(dxt.dataSize, 32u);
    // A given size is kept as it is.
    EXPECT_EQ(PixelBufferFormat::create2D(4, 4, PixelFormat::L8, 1000).dataSize, 1000u);
    // No pixel bytes, no size.
    EXPECT_EQ(PixelBufferFormat::create2D(4, 4, PixelFormat{}).dataSize, 0u);
}

TEST(PixelBufferFormat, OtherConstructors)
{
    const PixelBufferFormat line = PixelBufferFormat::create1D(10, PixelFormat::B8G8R8);
    EXPECT_EQ(line.type, Type::Image1D);
    EXPECT_EQ(line.height, 1u);
    EXPECT_EQ(line.rowPitch, 30u);
    EXPECT_EQ(line.dataSize, 30u);

    const PixelBufferFormat volume = PixelBufferFormat::create3D(4, 4, 2, PixelFormat::L8);
    EXPECT_EQ(volume.pixelCount, 32u);
    EXPECT_EQ(volume.dataSize, 32u);
    EXPECT_EQ(volume.mipCount, 0u);

    const PixelBufferFormat cube =
        PixelBufferFormat::create(Type::CubeMap, 8, 8, 0, PixelFormat::A8B8G8R8, 0, 0, -1, 0, 1);
    EXPECT_EQ(cube.depth, 1u);
    EXPECT_EQ(cube.pixelCount, 8u * 8u * 6u);
    EXPECT_EQ(cube.mipCount, 3u);
    EXPECT_EQ(cube.dataSize, 6u * 4u * (64 + 16 + 4 + 1));

    // A padded row pitch from a file: the size follows the pitch's width.
    const PixelBufferFormat padded = PixelBufferFormat::create(Type::Image2D, 3, 2, 1, PixelFormat::B8G8R8, 12, 0, 0, 0, 1);
    EXPECT_EQ(padded.rowPitch, 12u);
    EXPECT_EQ(padded.dataSize, 24u);
}

TEST(PixelBufferFormat, MipLevelsAndTheirCount)
{
    const PixelBufferFormat small = PixelBufferFormat::create2D(3, 2, PixelFormat::L8, 0, 1);
    const PixelBufferFormat next = small.nextMipLevel();
    EXPECT_EQ(next.width, 1u);
    EXPECT_EQ(next.height, 1u);
    EXPECT_EQ(next.mipCount, 1u);
    EXPECT_EQ(next.rowPitch, 1u);

    const PixelBufferFormat big = PixelBufferFormat::create2D(16, 8, PixelFormat::DXT5);
    const PixelBufferFormat half = big.nextMipLevel();
    EXPECT_EQ(half.width, 8u);
    EXPECT_EQ(half.height, 4u);
    EXPECT_EQ(half.rowPitch, 32u);
    EXPECT_EQ(half.dataSize, 32u);

    EXPECT_EQ(PixelBufferFormat::computeFullMipCount(256, 64, 1), 8u);
    EXPECT_EQ(PixelBufferFormat::computeFullMipCount(1, 1, 1), 0u);
    EXPECT_EQ(PixelBufferFormat::computeFullMipCount(5, 1, 1), 2u);

    PixelBufferFormat f = PixelBufferFormat::create2D(4, 4, PixelFormat::A8B8G8R8);
    f.setMipmapCount(2);
    EXPECT_EQ(f.dataSize, 84u);
    f.setMipmapCount(0);
    EXPECT_EQ(f.dataSize, 64u);
}

TEST(PixelBufferFormat, CopyWithPixelFormatScalesSizesByBytesPerPixel)
{
    const PixelBufferFormat source = PixelBufferFormat::create2D(4, 4, PixelFormat::B8G8R8, 0, 2, 1);
    const PixelBufferFormat copy = PixelBufferFormat::copyWithPixelFormat(source, PixelFormat::A8B8G8R8);
    EXPECT_EQ(copy.pixelFormat, PixelFormat::A8B8G8R8);
    EXPECT_EQ(copy.rowPitch, 16u);
    EXPECT_EQ(copy.dataSize, 84u);
    EXPECT_EQ(copy.mipCount, 2u);
    EXPECT_EQ(copy.origin, 1u);
    // From a format without bytes the sizes are computed anew.
    PixelBufferFormat empty = source;
    empty.pixelFormat = PixelFormat{};
    const PixelBufferFormat computed = PixelBufferFormat::copyWithPixelFormat(empty, PixelFormat::L8);
    EXPECT_EQ(computed.rowPitch, 4u);
    EXPECT_EQ(computed.dataSize, 21u);
    // Block layouts are counted anew in both directions, not scaled.
    const PixelBufferFormat blocks = PixelBufferFormat::create2D(8, 8, PixelFormat::DXT1, 0, -1);
    const PixelBufferFormat colour = PixelBufferFormat::copyWithPixelFormat(blocks, PixelFormat::A8B8G8R8);
    EXPECT_EQ(colour.rowPitch, 32u);
    EXPECT_EQ(colour.dataSize, 4u * (64 + 16 + 4 + 1));
    const PixelBufferFormat back = PixelBufferFormat::copyWithPixelFormat(colour, PixelFormat::DXT1);
    EXPECT_EQ(back.rowPitch, blocks.rowPitch);
    EXPECT_EQ(back.dataSize, blocks.dataSize);
    EXPECT_EQ(PixelBufferFormat::copyWithPixelFormat(blocks, PixelFormat::DXT1).dataSize, blocks.dataSize);
}

TEST(PixelBufferFormat, LayoutEqualityIgnoresDepthChannelTypeAndMipCount)
{
    const PixelFormat depthInt = PixelFormat::fromOneChannel(Channel{ChannelContent::D, ChannelType::Unsigned, 24, 0, 0}, 0);
    const PixelFormat depthFloat = PixelFormat::fromOneChannel(Channel{ChannelContent::D, ChannelType::Float, 24, 0, 0}, 0);
    const PixelBufferFormat a = PixelBufferFormat::create2D(64, 64, depthInt);
    const PixelBufferFormat b = PixelBufferFormat::create2D(64, 64, depthFloat);
    EXPECT_TRUE(a.sameLayout(b));
    EXPECT_TRUE(a == b);
    const PixelBufferFormat c = PixelBufferFormat::create2D(64, 64, PixelFormat::D24S8);
    EXPECT_FALSE(a.sameLayout(c));

    PixelBufferFormat oneMip = PixelBufferFormat::create2D(8, 8, PixelFormat::L8, 100, 1);
    const PixelBufferFormat noMips = PixelBufferFormat::create2D(8, 8, PixelFormat::L8, 100, 0);
    EXPECT_TRUE(oneMip == noMips);
    oneMip.origin = 1;
    EXPECT_FALSE(oneMip == noMips);
    EXPECT_FALSE(PixelBufferFormat::create2D(8, 8, PixelFormat::L8) == PixelBufferFormat::create2D(8, 8, PixelFormat::P8));
}

TEST(PixelBufferFormat, NearestPowerOfTwoRoundsEachDimension)
{
    struct Case {
        u32 width, height, expectedWidth, expectedHeight;
    };
    const Case cases[] = {{300, 200, 256, 256}, {80, 90, 64, 128}, {5, 6, 4, 8}, {3, 1, 4, 1}, {100, 64, 128, 64}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        const PixelBufferFormat source = PixelBufferFormat::create2D(c.width, c.height, PixelFormat::B8G8R8, 0, -1, 1);
        const PixelBufferFormat result = source.toNearestPowerOfTwo();
        EXPECT_EQ(result.width, c.expectedWidth);
        EXPECT_EQ(result.height, c.expectedHeight);
        EXPECT_EQ(result.mipCount, 0u);
        EXPECT_EQ(result.origin, 1u);
        EXPECT_EQ(result.dataSize, u64{c.expectedWidth} * c.expectedHeight * 3);
    }
    const PixelBufferFormat square = PixelBufferFormat::create2D(64, 64, PixelFormat::B8G8R8, 0, -1);
    EXPECT_EQ(square.toNearestPowerOfTwo().mipCount, 6u);
    EXPECT_EQ(square.toNearestPowerOfTwo(), square);
    // Nothing to round: no type, no pixels, or an invalid pixel format.
    EXPECT_EQ(PixelBufferFormat{}.toNearestPowerOfTwo().width, 0u);
    EXPECT_EQ(PixelBufferFormat::create2D(300, 200, PixelFormat::DXT1A).toNearestPowerOfTwo().width, 300u);
}

TEST(PixelBufferFormat, PowerOfTwoTestsTheDimensionsOfItsType)
{
    EXPECT_TRUE(PixelBufferFormat::create1D(64, PixelFormat::L8).isPowerOfTwo());
    EXPECT_FALSE(PixelBufferFormat::create2D(64, 48, PixelFormat::L8).isPowerOfTwo());
    EXPECT_FALSE(PixelBufferFormat::create2D(0, 64, PixelFormat::L8).isPowerOfTwo());
    EXPECT_FALSE(PixelBufferFormat::create3D(64, 64, 3, PixelFormat::L8).isPowerOfTwo());
    EXPECT_TRUE(PixelBufferFormat::create(Type::CubeMap, 32, 32, 1, PixelFormat::L8, 0, 0, 0, 0, 1).isPowerOfTwo());
}

TEST(PixelBufferFormat, TextNamesSizeBitsAndChannels)
{
    EXPECT_EQ(PixelBufferFormat::create2D(256, 128, PixelFormat::A8B8G8R8).toString(), "256x128, 32bpp (A8B8G8R8)");
    EXPECT_EQ(PixelBufferFormat::create1D(7, PixelFormat::L8).toString(), "7, 8bpp (L8)");
    EXPECT_EQ(PixelBufferFormat::create3D(4, 4, 2, PixelFormat::D16).toString(), "4x4x2, 16bpp (D16)");
    EXPECT_EQ(PixelBufferFormat::create(Type::CubeMap, 16, 16, 1, PixelFormat::DXT5, 0, 0, 0, 0, 1).toString(),
              "16x16^3, 8bpp (DXT5)");
    // The channel list is left out when the format cannot be described.
    EXPECT_EQ(PixelBufferFormat::create2D(8, 8, PixelFormat::DXT1A).toString(), "8x8, 4bpp");
}

TEST(PixelBufferFormatDeathTest, UnknownTypesAreFatal)
{
    PixelBufferFormat f;
    EXPECT_DEATH(f.isPowerOfTwo(), "Invalid format type");
    EXPECT_DEATH(f.toString(), "Invalid pixel buffer type");
    f.type = static_cast<Type>(9);
    EXPECT_DEATH(f.isPowerOfTwo(), "Invalid format type");
}

} // namespace
