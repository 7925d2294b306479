#pragma once
// The window behind a display, as the window layer implements it: the display
// stores it when it opens and hands it to its graphics device, which swaps its
// buffers when it presents.

#include "quern/Types.h"

namespace quern::graphics {

class PixelBuffer;

class DisplayWindow {
public:
    // Window states, numbered as DisplayConfiguration's window modes.
    enum WindowState : i32 {
        Windowed = 0,
        FullScreen = 1,
        FullScreenDesktop = 2,
        Maximized = 3,
        Minimized = 4,
    };

    virtual ~DisplayWindow() = default;
    virtual void setWindowState(i32 state) = 0;
    virtual i32 getWindowState() = 0;
    virtual void setTitle(const char* title) = 0;
    virtual void setIcon(const PixelBuffer& image) = 0;
    // Null restores the system cursor.
    virtual void setCursorImage(const PixelBuffer* image, i32 hotspotX, i32 hotspotY) = 0;
    virtual void swapBuffers() = 0;
    // Runs right after every buffer swap.
    virtual void afterSwap() = 0;
    // The system's handle of the window, or null.
    virtual void* getNativeHandle() = 0;
};

} // namespace quern::graphics
