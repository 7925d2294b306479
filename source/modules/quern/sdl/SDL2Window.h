#pragma once
// The window face of the SDL display: state, title, icon, cursor, buffer swap
// and the system's handle. It works on its display's window.

#include "quern/graphics/DisplayWindow.h"

namespace quern::sdl {

class SDL2Display;

class SDL2Window final : public graphics::DisplayWindow {
public:
    explicit SDL2Window(SDL2Display& display)
        : m_display(display)
    {
    }

    // Fatal for a state outside Windowed..Minimized. Leaving full screen does
    // not restore a maximized or minimized window.
    void setWindowState(i32 state) override;
    i32 getWindowState() override;
    void setTitle(const char* title) override;
    void setIcon(const graphics::PixelBuffer& image) override;
    // Kept as a flipped copy; a window that does not exist yet gets it when
    // it opens.
    void setCursorImage(const graphics::PixelBuffer* image, i32 hotspotX, i32 hotspotY) override;
    void swapBuffers() override;
    void afterSwap() override { }
    // The X11 window; null (with a warning) when the video driver has none.
    void* getNativeHandle() override;

private:
    SDL2Display& m_display;
};

} // namespace quern::sdl
