#include "quern/sdl/SDL2Window.h"

#include "quern/debug/Log.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/filters/FlipFilter.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/sdl/SDL2Display.h"
#include "quern/sdl/SDL2Library.h"
#include "quern/sdl/SDL2PixelSurface.h"

// Last: it brings in the X11 headers and their macros.
#include <SDL2/SDL_syswm.h>

namespace quern::sdl {

void SDL2Window::setWindowState(i32 state)
{
    SDL_Window* window = m_display.m_sdlWindow;
    switch (state) {
    case Windowed:
        sdl2.SDL_SetWindowFullscreen(window, 0);
        break;
    case FullScreen:
        sdl2.SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN);
        break;
    case FullScreenDesktop:
        sdl2.SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
        break;
    case Maximized:
        sdl2.SDL_MaximizeWindow(window);
        break;
    case Minimized:
        sdl2.SDL_MinimizeWindow(window);
        break;
    default:
        QUERN_FATAL_INVALID_ENUM("WindowState");
    }
}

i32 SDL2Window::getWindowState() { return windowStateFromFlags(sdl2.SDL_GetWindowFlags(m_display.m_sdlWindow)); }

void SDL2Window::setTitle(const char* title) { sdl2.SDL_SetWindowTitle(m_display.m_sdlWindow, title ? title : ""); }

void SDL2Window::setIcon(const graphics::PixelBuffer& image)
{
    SDL2PixelSurface surface(image);
    if (!surface.surface()) {
        QUERN_LOG(2) << sdlErrorText() << std::endl;
        return;
    }
    sdl2.SDL_SetWindowIcon(m_display.m_sdlWindow, surface.surface());
}

void SDL2Window::setCursorImage(const graphics::PixelBuffer* image, i32 hotspotX, i32 hotspotY)
{
    m_display.m_cursorImage.reset();
    if (!image) {
        // Freeing the current cursor brings the system's back.
        if (m_display.m_cursor) {
            sdl2.SDL_FreeCursor(m_display.m_cursor);
            m_display.m_cursor = nullptr;
        }
        return;
    }
    graphics::NullPixelBuffer* copy = new graphics::NullPixelBuffer;
    m_display.m_cursorImage = Ref(copy);
    copy->copyFrom(*image, 0);
    graphics::filters::FlipFilter(graphics::filters::FlipFilter::kVertical).apply(*copy);
    m_display.m_cursorHotspotX = hotspotX;
    m_display.m_cursorHotspotY = hotspotY;
    if (m_display.m_sdlWindow)
        m_display.createCursor();
}

void SDL2Window::swapBuffers()
{
    SDL_Window* window = m_display.m_sdlWindow;
    if (window && (sdl2.SDL_GetWindowFlags(window) & SDL_WINDOW_OPENGL))
        sdl2.SDL_GL_SwapWindow(window);
}

void* SDL2Window::getNativeHandle()
{
    SDL_SysWMinfo info {};
    // The oldest layout of the record that carries the X11 window.
    info.version = SDL_version { 2, 0, 7 };
    if (!sdl2.SDL_GetWindowWMInfo(m_display.m_sdlWindow, &info)) {
        QUERN_LOG(2) << sdlErrorText() << std::endl;
        return nullptr;
    }
    if (info.subsystem == SDL_SYSWM_X11)
        return reinterpret_cast<void*>(info.info.x11.window);
    return nullptr;
}

} // namespace quern::sdl
