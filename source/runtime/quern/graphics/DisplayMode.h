#pragma once
// A video mode (colour format, window and drawable size, refresh rate and the
// buffer bits a context really got) and the request for opening a window.
// Both are plain values, copied whole.

#include "quern/Types.h"
#include "quern/graphics/PixelFormat.h"

#include <iosfwd>

namespace quern::graphics {

struct DisplayMode {
    PixelFormat format;
    i32 width = 0;
    i32 height = 0;
    // Pixel size of the drawable surface; differs from the window size on
    // high-density screens.
    i32 drawableWidth = 0;
    i32 drawableHeight = 0;
    i32 refreshRate = -1; // Hz, -1 not reported
    i32 depthBits = -1; // -1 not reported
    i32 stencilBits = -1; // -1 not reported
    i32 multisampleBuffers = 0;
    i32 multisampleSamples = 0;
    // 1 when the windowing system reported this mode.
    u8 fromSystem = 0;

    // Width, then height; equal sizes with equal formats by refresh rate,
    // otherwise by pixel-format order.
    bool operator<(const DisplayMode& other) const;
    bool operator==(const DisplayMode& other) const = default;
};

// "1024x768, 32bpp (B8G8R8A8), 60Hz": the channel list only when every
// channel can be printed, the refresh rate only when it is known.
void writeDisplayMode(std::ostream& stream, const DisplayMode& mode);

// What the caller of Display::openWithVideoMode asks of the window and its context.
struct DisplayConfiguration {
    enum WindowMode : i32 {
        Windowed = 0,
        Fullscreen = 1,
        FullscreenDesktop = 2,
        Maximized = 3,
        Minimized = 4,
    };
    enum ContextProfile : i32 {
        Core = 0,
        Embedded = 2, // any other value asks for compatibility
    };

    const char* caption = nullptr;
    i32 windowMode = Windowed;
    // 0: no vertical sync; the null device paces to 60 Hz when non-zero.
    i32 swapInterval = 0;
    i32 depthBits = 0; // -1 leaves the system default
    i32 stencilBits = 0; // -1 leaves the system default
    u32 multisampleBuffers = 0; // 0: no multisampling
    u32 multisampleSamples = 0;
    u8 resizable = 0;
    u8 hidden = 0;
    u8 allowHighDpi = 0;
    u8 doubleBuffer = 0;
    u8 spare0 = 0;
    u8 openGL = 0;
    i32 contextProfile = Core;
    u32 contextMajorVersion = 0; // 0: no version requested
    u32 contextMinorVersion = 0;
    u8 debugContext = 0;
    u8 spare1 = 0;
    u8 forwardCompatible = 0;
    u8 spare2 = 0;
    u16 spare3 = 0;
    u8 spare4 = 0;
    u32 spare5 = 0;
};

} // namespace quern::graphics
