// The frame's size and the letterboxed rectangle that shows it, for the
// settings and display shapes that decide where the bars go.

#include "harmonize/display/FrameLayout.h"

#include "harmonize/Settings.h"
#include "harmonize/display/DisplaySettings.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

struct SizeCase {
    FrameSettings settings;
    i32 displayWidth, displayHeight;
    i32 width, height;
};

TEST(FrameLayout, FrameSizeFollowsTheWidthSettingOrTheWidestFrameOfTheAspect)
{
    const SizeCase cases[] = {
        { { 1280, 0, 16, 9 }, 800, 600, 1280, 720 }, // whatever the display
        { { 1280, 999, 16, 9 }, 800, 600, 1280, 720 }, // the height setting does not count
        { { 0, 0, 16, 9 }, 1920, 1200, 1920, 1080 }, // taller display: bars above and below
        { { 0, 0, 16, 9 }, 2560, 1080, 1920, 1080 }, // wider display: the width shrinks
        { { 0, 0, 4, 3 }, 1001, 1000, 1001, 750 }, // truncating division
        { { 0, 0, 16, 9 }, 0, 0, 0, 0 }, // closed display
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.displayWidth << "x" << c.displayHeight);
        const FrameSize size = frameSizeFor(c.settings, c.displayWidth, c.displayHeight);
        EXPECT_EQ(size.width, c.width);
        EXPECT_EQ(size.height, c.height);
    }
}

struct ViewportCase {
    FrameSettings settings;
    i32 displayWidth, displayHeight;
    ViewportRect expected;
};

TEST(FrameLayout, OutputViewportLetterboxesTheFrameInTheDisplay)
{
    const ViewportCase cases[] = {
        { { 0, 0, 16, 9 }, 1920, 1200, { 0, 60, 1920, 1080 } },
        { { 0, 0, 16, 9 }, 1920, 1080, { 0, 0, 1920, 1080 } },
        { { 0, 0, 16, 9 }, 1000, 1000, { 0, 219, 1000, 562 } },
        { { 0, 0, 4, 3 }, 1600, 900, { 200, 0, 1200, 900 } },
        // A frame setting of another shape is first fitted to the display.
        { { 1280, 1024, 16, 9 }, 1920, 1080, { 285, 161, 1350, 759 } },
    };
    for (const ViewportCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.displayWidth << "x" << c.displayHeight << " frame "
                                          << c.settings.frameWidth << "x" << c.settings.frameHeight);
        const ViewportRect rect = outputViewportFor(c.settings, c.displayWidth, c.displayHeight);
        EXPECT_EQ(rect.x, c.expected.x);
        EXPECT_EQ(rect.y, c.expected.y);
        EXPECT_EQ(rect.width, c.expected.width);
        EXPECT_EQ(rect.height, c.expected.height);
    }
}

TEST(FrameLayout, ADisplayOrFrameOfNoSizeHasNoViewportInsteadOfDividingByZero)
{
    for (const auto& [settings, width, height] : { std::tuple { FrameSettings { 0, 0, 16, 9 }, 0, 0 },
             std::tuple { FrameSettings { -5, 3, 16, 9 }, 800, 600 },
             std::tuple { FrameSettings { 0, 0, 16, 9 }, 1, 0 } }) {
        const ViewportRect rect = outputViewportFor(settings, width, height);
        EXPECT_EQ(rect.width * rect.height, 0);
    }
}

TEST(FrameLayout, SettingsOfNoAspectMeanSixteenByNineAndTheTargetSizeIsNeverZeroHigh)
{
    Settings::Renderer.aspectNumerator = 0;
    Settings::Renderer.aspectDenominator = -3;
    processDisplaySize() = { 1920, 1200 };
    const FrameSizeF frame = computeFrameSize();
    EXPECT_EQ(frame.width, 1920.0f);
    EXPECT_EQ(frame.height, 1080.0f);

    Settings::Renderer.aspectNumerator = 16;
    Settings::Renderer.aspectDenominator = 9;
    Settings::Renderer.frameWidth = 1;
    const FrameSize target = computeFrameTargetSize();
    EXPECT_EQ(target.width, 1);
    EXPECT_EQ(target.height, 1);
    Settings::resetToDefaults();
    processDisplaySize() = {};
}

} // namespace
} // namespace harmonize
