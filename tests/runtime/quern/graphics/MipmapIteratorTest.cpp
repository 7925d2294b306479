#include "quern/graphics/iterators/MipmapIterator.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using quern::u32;
using quern::u64;
using quern::u8;
using quern::graphics::MipmapIterator;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;
using Type = PixelBufferFormat::Type;

struct Level {
    u32 width, height;
    u64 offset, size;
    bool operator==(const Level&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Level& l)
{
    return os << l.width << "x" << l.height << "@" << l.offset << "+" << l.size;
}

std::vector<Level> walk(u8* data, const PixelBufferFormat& layout, MipmapIterator* last = nullptr)
{
    std::vector<Level> levels;
    MipmapIterator it(data, layout);
    for (; it.current != it.end; it.next()) {
        EXPECT_EQ(it.level.mipCount, 0u);
        EXPECT_EQ(it.level.dataSize, it.levelSize);
        levels.push_back({it.level.width, it.level.height, static_cast<u64>(it.current - data), it.levelSize});
    }
    if (last)
        *last = it;
    return levels;
}

TEST(MipmapIterator, WalksEveryLevelOfAChain)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(16, 8, PixelFormat::B8G8R8, 0, 4);
    std::vector<u8> data(layout.dataSize);
    const std::vector<Level> expected = {
        {16, 8, 0, 384}, {8, 4, 384, 96}, {4, 2, 480, 24}, {2, 1, 504, 6}, {1, 1, 510, 3}};
    MipmapIterator last(data.data(), layout);
    EXPECT_EQ(walk(data.data(), layout, &last), expected);
    EXPECT_EQ(last.current, data.data() + data.size());
    EXPECT_EQ(last.levelIndex, 5u);
}

TEST(MipmapIterator, ABaseLevelAloneIsOneStep)
{
    const PixelBufferFormat layout = PixelBufferFormat::create1D(10, PixelFormat::L8);
    std::vector<u8> data(layout.dataSize);
    EXPECT_EQ(walk(data.data(), layout), (std::vector<Level>{{10, 1, 0, 10}}));
}

TEST(MipmapIterator, DXTLevelsTakeAtLeastOneBlock)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(8, 8, PixelFormat::DXT1, 0, 3);
    std::vector<u8> data(layout.dataSize);
    MipmapIterator it(data.data(), layout);
    EXPECT_TRUE(it.compressed);
    EXPECT_EQ(it.blockBytes, 8u);
    const std::vector<Level> expected = {{8, 8, 0, 32}, {4, 4, 32, 8}, {2, 2, 40, 8}, {1, 1, 48, 8}};
    EXPECT_EQ(walk(data.data(), layout), expected);
    EXPECT_EQ(MipmapIterator(data.data(), PixelBufferFormat::create2D(8, 8, PixelFormat::DXT5)).blockBytes, 16u);
}

TEST(MipmapIterator, ACubeFaceIsWalkedAsTwoDimensionalLevels)
{
    const PixelBufferFormat cube =
        PixelBufferFormat::create(Type::CubeMap, 32, 32, 1, PixelFormat::L8, 0, 0, 5, 0, 1);
    std::vector<u8> data(cube.dataSize);
    const u64 face = cube.dataSize / 6;
    MipmapIterator it(data.data() + 2 * face, cube);
    EXPECT_EQ(it.end, data.data() + 3 * face);
    u32 levels = 0;
    u32 width = 32;
    for (; it.current != it.end; it.next(), ++levels, width /= 2) {
        EXPECT_EQ(it.level.type, Type::Image2D);
        EXPECT_EQ(it.level.width, width);
    }
    EXPECT_EQ(levels, 6u);
}

TEST(MipmapIterator, VolumeLevelsHalveDepthToo)
{
    const PixelBufferFormat base = PixelBufferFormat::create3D(4, 4, 4, PixelFormat::L8);
    PixelBufferFormat layout = base;
    layout.setMipmapCount(2);
    std::vector<u8> data(layout.dataSize);
    MipmapIterator it(data.data(), layout);
    std::vector<u32> depths;
    for (; it.current != it.end; it.next())
        depths.push_back(it.level.depth);
    EXPECT_EQ(depths, (std::vector<u32>{4, 2, 1}));
}

// A layout whose stated size is shorter than its levels (as a damaged file may
// claim) stops before the level that does not fit.
TEST(MipmapIterator, StopsBeforeALevelThatOverrunsTheData)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(16, 8, PixelFormat::B8G8R8, 400, 4);
    std::vector<u8> data(layout.dataSize);
    EXPECT_EQ(walk(data.data(), layout), (std::vector<Level>{{16, 8, 0, 384}}));
    const PixelBufferFormat tooSmall = PixelBufferFormat::create2D(16, 8, PixelFormat::B8G8R8, 100, 0);
    EXPECT_TRUE(walk(data.data(), tooSmall).empty());
}

TEST(MipmapIteratorDeathTest, ALayoutWithoutTypeIsFatal)
{
    u8 byte = 0;
    EXPECT_DEATH(MipmapIterator(&byte, PixelBufferFormat{}), "Invalid format type");
}

} // namespace
