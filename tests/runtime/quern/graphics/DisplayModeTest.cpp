#include "quern/graphics/DisplayMode.h"

#include "DisplayTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quern::test {
namespace {

using graphics::Channel;
using graphics::ChannelContent;
using graphics::ChannelType;
using graphics::DisplayMode;
using graphics::PixelFormat;

std::string textOf(const DisplayMode& mode)
{
    std::ostringstream stream;
    graphics::writeDisplayMode(stream, mode);
    return stream.str();
}

TEST(DisplayMode, EmptyModeHasUnknownRefreshAndBufferBits)
{
    const DisplayMode mode;
    EXPECT_EQ(mode.width, 0);
    EXPECT_EQ(mode.drawableHeight, 0);
    EXPECT_EQ(mode.refreshRate, -1);
    EXPECT_EQ(mode.depthBits, -1);
    EXPECT_EQ(mode.stencilBits, -1);
    EXPECT_EQ(mode.multisampleSamples, 0);
    EXPECT_EQ(mode.fromSystem, 0);
    EXPECT_EQ(mode.format.channelCount, 0);
}

TEST(DisplayMode, OrderComparesSizeThenRefreshOrFormat)
{
    const struct {
        const char* name;
        DisplayMode a;
        DisplayMode b;
        bool aBeforeB;
        bool bBeforeA;
    } cases[] = {
        { "narrower first", makeMode(800, 1200), makeMode(1024, 768), true, false },
        { "same width, lower first", makeMode(1024, 600), makeMode(1024, 768), true, false },
        { "same format, lower refresh first", makeMode(1024, 768, 60), makeMode(1024, 768, 75), true, false },
        { "equal", makeMode(1024, 768, 60), makeMode(1024, 768, 60), false, false },
        { "fewer bits first, refresh ignored", makeMode(1024, 768, 144, PixelFormat::B5G6R5),
            makeMode(1024, 768, 60, PixelFormat::B8G8R8A8), true, false },
        { "same bits, fewer channels first", makeMode(1024, 768, 60, PixelFormat::D24S8),
            makeMode(1024, 768, 60, PixelFormat::B8G8R8A8), true, false },
        { "same bits and channels: first differing channel", makeMode(640, 480, 60, PixelFormat::R8G8B8A8),
            makeMode(640, 480, 60, PixelFormat::B8G8R8A8), true, false },
        { "two empty formats are not ordered", makeMode(640, 480, 60, PixelFormat {}),
            makeMode(640, 480, 75, PixelFormat {}), true, false },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(test.a < test.b, test.aBeforeB);
        EXPECT_EQ(test.b < test.a, test.bBeforeA);
    }
}

TEST(DisplayMode, WrittenWithChannelsAndRefreshWhenKnown)
{
    PixelFormat unprintable = PixelFormat::B8G8R8A8;
    unprintable.channels[1].type = ChannelType::None;
    const struct {
        DisplayMode mode;
        const char* text;
    } cases[] = {
        { makeMode(1920, 1080, 60), "1920x1080, 32bpp (B8G8R8A8), 60Hz" },
        { makeMode(800, 600, -1, PixelFormat::B5G6R5), "800x600, 16bpp (B5G6R5)" },
        { makeMode(800, 600, 0, PixelFormat::X8R8G8B8), "800x600, 32bpp (X8R8G8B8)" },
        { makeMode(640, 480, 75, unprintable), "640x480, 32bpp, 75Hz" },
        { makeMode(640, 480, 60, PixelFormat {}), "640x480, 0bpp, 60Hz" },
    };
    for (const auto& test : cases)
        EXPECT_EQ(textOf(test.mode), test.text);
}

} // namespace
} // namespace quern::test
