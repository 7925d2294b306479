// Filters applied to pixel buffers: into another buffer and in place, with
// the working format a filter asks for and destinations that adapt layouts.

#include "DeviceTestSupport.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/PixelFilter.h"
#include "quern/graphics/filters/FlipFilter.h"
#include "quern/graphics/filters/PremultiplyAlphaFilter.h"
#include "quern/graphics/filters/RescaleFilter.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quern::graphics {
namespace {

using namespace testing;
using filters::FlipFilter;
using filters::RescaleFilter;

// Grey levels that name their position: 10 x row + column.
Bytes grey(u32 width, u32 height)
{
    Bytes pixels;
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < width; ++x)
            pixels.push_back(static_cast<u8>(10 * y + x));
    return pixels;
}

void fill(PixelBuffer& buffer, const Bytes& pixels, const PixelBufferFormat& layout)
{
    buffer.setData(pixels.data(), layout, nullptr, 0);
}

// Works in R8G8B8A8 whatever it is given, and copies.
class WorksInRgba final : public PixelFilter {
public:
    bool setupPixelFormat(PixelFormat& format) override
    {
        seen = format;
        format = PixelFormat::R8G8B8A8;
        return true;
    }
    void filterImpl(const void* source, void* destination, const PixelBufferFormat& format) override
    {
        layout = format;
        std::memcpy(destination, source, format.dataSize);
    }
    PixelFormat seen;
    PixelBufferFormat layout;
};

class FilterApplyTest : public ::testing::Test {
protected:
    GlobalDisplay m_display{new NullDisplay};
};

TEST_F(FilterApplyTest, FlipIntoAnotherBufferLeavesTheSourceAlone)
{
    NullPixelBuffer source, destination;
    const PixelBufferFormat layout = PixelBufferFormat::create2D(3, 3, PixelFormat::L8, 0, 0, 1);
    fill(source, grey(3, 3), layout);
    FlipFilter().apply(source, destination);

    EXPECT_EQ(pixelsOf(destination), (Bytes{20, 21, 22, 10, 11, 12, 0, 1, 2}));
    EXPECT_EQ(destination.format(), layout);
    EXPECT_EQ(pixelsOf(source), grey(3, 3));
}

TEST_F(FilterApplyTest, FlipInPlaceKeepsTheCreateFlags)
{
    NullPixelBuffer buffer;
    buffer.setData(grey(2, 3).data(), PixelBufferFormat::create2D(2, 3, PixelFormat::L8), nullptr, 16);
    FlipFilter().apply(buffer);
    EXPECT_EQ(pixelsOf(buffer), (Bytes{20, 21, 10, 11, 0, 1}));
    EXPECT_EQ(buffer.createFlags(), 16u);
}

TEST_F(FilterApplyTest, DeclinedFormatLeavesTheDestinationUntouched)
{
    NullPixelBuffer source, destination;
    fill(source, Bytes{1, 2, 3, 4, 5, 6}, PixelBufferFormat::create2D(2, 1, PixelFormat::B8G8R8));
    fill(destination, Bytes{9}, PixelBufferFormat::create2D(1, 1, PixelFormat::L8));
    filters::PremultiplyAlphaFilter().apply(source, destination);
    EXPECT_EQ(pixelsOf(destination), Bytes{9});

    filters::PremultiplyAlphaFilter().apply(source);
    EXPECT_EQ(pixelsOf(source), (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST_F(FilterApplyTest, WorkingFormatIsReachedThroughAConvertedCopy)
{
    NullPixelBuffer source, destination;
    fill(source, Bytes{1, 2, 3, 4, 5, 6, 7, 8}, PixelBufferFormat::create2D(2, 1, PixelFormat::B8G8R8A8));
    WorksInRgba filter;
    filter.apply(source, destination);

    EXPECT_EQ(filter.seen, PixelFormat::B8G8R8A8);
    EXPECT_EQ(filter.layout, PixelBufferFormat::create2D(2, 1, PixelFormat::R8G8B8A8));
    // Memory order A, R, G, B becomes A, B, G, R.
    EXPECT_EQ(pixelsOf(destination), (Bytes{1, 4, 3, 2, 5, 8, 7, 6}));
    EXPECT_EQ(source.pixelFormat(), PixelFormat::B8G8R8A8);
}

// The filter writes the layout it asked for; a destination whose device
// stores another one receives the result through its own adaptation.
TEST_F(FilterApplyTest, AdaptingDestinationGetsTheResultInItsOwnLayout)
{
    NullPixelBuffer source;
    fill(source, grey(2, 2), PixelBufferFormat::create2D(2, 2, PixelFormat::L8));
    RecordingPixelBuffer destination(DeviceRules().rowsFromBottom());
    FlipFilter().apply(source, destination);

    ASSERT_FALSE(destination.uploads.empty());
    // Flipped by the filter, then once more for the device's row order.
    EXPECT_EQ(destination.uploads.back().pixels, grey(2, 2));
    EXPECT_EQ(destination.format().origin, 1u);
}

TEST_F(FilterApplyTest, RescaleIntoAnotherBufferOrCopyWhenTheSizeStays)
{
    NullPixelBuffer source, destination;
    fill(source, grey(4, 4), PixelBufferFormat::create2D(4, 4, PixelFormat::L8));
    RescaleFilter(2, 2).apply(source, destination);
    EXPECT_EQ(destination.format(), PixelBufferFormat::create2D(2, 2, PixelFormat::L8));
    EXPECT_EQ(pixelsOf(destination), (Bytes{0, 2, 20, 22}));

    NullPixelBuffer copy;
    RescaleFilter(4, 4).apply(source, copy);
    EXPECT_EQ(copy.format(), source.format());
    EXPECT_EQ(pixelsOf(copy), grey(4, 4));
}

TEST_F(FilterApplyTest, RescaleInPlaceDropsMipLevelsAndSameSizeDoesNothing)
{
    NullPixelBuffer buffer;
    const PixelBufferFormat layout = PixelBufferFormat::create2D(4, 4, PixelFormat::L8, 0, 2);
    Bytes pixels = grey(4, 4);
    pixels.resize(layout.dataSize, 0x77);
    buffer.setData(pixels.data(), layout, nullptr, 0);

    RescaleFilter(4, 4).apply(buffer);
    EXPECT_EQ(buffer.format(), layout);

    RescaleFilter(2, 4).apply(buffer);
    EXPECT_EQ(buffer.format(), PixelBufferFormat::create2D(2, 4, PixelFormat::L8));
    EXPECT_EQ(pixelsOf(buffer), (Bytes{0, 2, 10, 12, 20, 22, 30, 32}));
}

TEST_F(FilterApplyTest, PremultiplyInPlaceOnTheByteLayout)
{
    NullPixelBuffer buffer;
    fill(buffer, Bytes{255, 255, 255, 128, 128, 128, 128, 128},
         PixelBufferFormat::create2D(2, 1, PixelFormat::A8B8G8R8));
    filters::PremultiplyAlphaFilter().apply(buffer);
    EXPECT_EQ(pixelsOf(buffer), (Bytes{188, 188, 188, 128, 92, 92, 92, 128}));
}

using FilterApplyDeathTest = FilterApplyTest;

TEST_F(FilterApplyDeathTest, RescalingABlockCompressedImageIsFatal)
{
    NullPixelBuffer buffer;
    const Bytes blocks(8, 0);
    buffer.setData(blocks.data(), PixelBufferFormat::create2D(4, 4, PixelFormat::DXT1), nullptr, 0);
    EXPECT_DEATH(RescaleFilter(8, 8).apply(buffer), "Pixel format not supported by this operation: ");
}

} // namespace
} // namespace quern::graphics
