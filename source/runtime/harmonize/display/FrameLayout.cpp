#include "harmonize/display/FrameLayout.h"

#include "harmonize/Settings.h"
#include "harmonize/display/DisplaySettings.h"

namespace harmonize {

FrameSettings FrameSettings::fromSettings()
{
    FrameSettings settings;
    settings.frameWidth = Settings::Renderer.frameWidth;
    settings.frameHeight = Settings::Renderer.frameHeight;
    settings.aspectNumerator = Settings::Renderer.aspectNumerator;
    settings.aspectDenominator = Settings::Renderer.aspectDenominator;
    return settings;
}

AspectRatio validAspect(i32 numerator, i32 denominator)
{
    if (numerator > 0 && denominator > 0)
        return { numerator, denominator };
    return { 16, 9 };
}

FrameSize requestedFrameSize(const FrameSettings& settings, i32 displayWidth, i32 displayHeight)
{
    if (settings.frameWidth != 0 && settings.frameHeight != 0)
        return { settings.frameWidth, settings.frameHeight };
    return { displayWidth, displayHeight };
}

FrameSize frameSizeFor(const FrameSettings& settings, i32 displayWidth, i32 displayHeight)
{
    const auto [numerator, denominator] = validAspect(settings.aspectNumerator, settings.aspectDenominator);
    if (settings.frameWidth != 0)
        return { settings.frameWidth, settings.frameWidth * denominator / numerator };
    FrameSize size { displayWidth, denominator * displayWidth / numerator };
    if (size.height > displayHeight) {
        size.width = numerator * displayHeight / denominator;
        size.height = displayHeight;
    }
    return size;
}

FrameSizeF computeFrameSize()
{
    const DisplaySize& display = processDisplaySize();
    const FrameSize size = frameSizeFor(FrameSettings::fromSettings(), display.width, display.height);
    return { static_cast<f32>(size.width), static_cast<f32>(size.height) };
}

FrameSize computeFrameTargetSize()
{
    const DisplaySize& display = processDisplaySize();
    FrameSize size = frameSizeFor(FrameSettings::fromSettings(), display.width, display.height);
    if (size.height == 0)
        size.height = 1;
    return size;
}

ViewportRect outputViewportFor(const FrameSettings& settings, i32 displayWidth, i32 displayHeight)
{
    const i32 dw = displayWidth;
    const i32 dh = displayHeight;
    const auto [fw, fh] = requestedFrameSize(settings, dw, dh);
    const FrameSize aspect = frameSizeFor(settings, dw, dh);
    // A closed display or a degenerate frame has no area to show anything in;
    // dividing by its size would trap.
    if (dw <= 0 || dh <= 0 || fw <= 0 || fh <= 0 || aspect.width <= 0 || aspect.height <= 0)
        return { 0, 0, 0, 0 };

    i32 h1 = dw * fh / fw;
    i32 w1 = dw;
    if (h1 > dh) {
        w1 = dh * dw / h1;
        h1 = dh;
    }
    i32 width = w1;
    i32 height = w1 * aspect.height / aspect.width;
    if (height > h1) {
        width = w1 * h1 / height;
        height = h1;
    }
    return { (w1 / 2 - width / 2) + (dw - w1) / 2, (h1 / 2 - height / 2) + (dh - h1) / 2, width, height };
}

ViewportRect computeOutputViewport()
{
    const DisplaySize& display = processDisplaySize();
    return outputViewportFor(FrameSettings::fromSettings(), display.width, display.height);
}

} // namespace harmonize
