#pragma once
// Where the frame is drawn: its size from the Renderer settings and the
// display, and the letterboxed rectangle of the display that shows it. All
// arithmetic is 32-bit integer with truncating division, so every user of the
// layout (render targets, the present pass, the HUD, picking) lands on the
// same pixels.

#include "quern/Types.h"

namespace harmonize {

using quern::f32;
using quern::i32;

struct FrameSettings {
    i32 frameWidth = 0; // 0: follow the display
    i32 frameHeight = 0;
    i32 aspectNumerator = 16;
    i32 aspectDenominator = 9;

    // The Renderer section's values.
    static FrameSettings fromSettings();
};

struct AspectRatio {
    i32 numerator;
    i32 denominator;
};

// The aspect the terms give; unless both are above 0, 16:9.
AspectRatio validAspect(i32 numerator, i32 denominator);

struct FrameSize {
    i32 width;
    i32 height;
};

struct FrameSizeF {
    f32 width;
    f32 height;
};

struct ViewportRect {
    i32 x;
    i32 y;
    i32 width;
    i32 height;
};

// The frame size for a display of `displayWidth` x `displayHeight`: the
// frame width with the aspect's height, or the widest frame of the aspect
// that fits the display. The frame height setting does not count here.
FrameSize frameSizeFor(const FrameSettings& settings, i32 displayWidth, i32 displayHeight);

// The frame in pixels the settings ask for: the frame width and height when
// both are set, else the display's size.
FrameSize requestedFrameSize(const FrameSettings& settings, i32 displayWidth, i32 displayHeight);

// The frame size from the settings and the process's display size, as floats.
FrameSizeF computeFrameSize();
// The same in integers, at least one pixel high: the size of the frame's
// render targets.
FrameSize computeFrameTargetSize();

// The rectangle of the display (y up from the bottom, as viewports go) in
// which the frame is shown, bars left and right or above and below. A display
// or frame of no size gives an empty rectangle.
ViewportRect outputViewportFor(const FrameSettings& settings, i32 displayWidth, i32 displayHeight);
ViewportRect computeOutputViewport();

} // namespace harmonize
