#include "quern/sdl/SDL2Display.h"

#include "quern/debug/Log.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/opengl/GLExtensions.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/FloatingPointTraps.h"
#include "quern/platform/SystemInfo.h"
#include "quern/sdl/SDL2InputBackEnd.h"
#include "quern/sdl/SDL2Library.h"
#include "quern/sdl/SDL2PixelSurface.h"
#include "quern/sdl/SDL2ProcAddressLoader.h"

#include <cstdio>
#include <sstream>
#include <string>

namespace quern::sdl {

namespace {

// "<message>: <the mode>": a mode the windowing library cannot take.
class DisplayModeException : public Exception {
public:
    DisplayModeException(
        const char* message, const graphics::DisplayMode& mode, const char* file, i32 line, const char* function)
        : Exception(describe(message, mode).c_str(), file, line, function)
    {
    }

private:
    static std::string describe(const char* message, const graphics::DisplayMode& mode)
    {
        std::ostringstream text;
        text << message << ": ";
        graphics::writeDisplayMode(text, mode);
        return text.str();
    }
};

void setAttribute(SDL_GLattr attribute, const char* name, i32 value)
{
    if (sdl2.SDL_GL_SetAttribute(attribute, value) != 0)
        QUERN_LOG(2) << "Error setting SDL OpenGL attribute '" << name << "'!" << std::endl;
}

i32 channelBits(const graphics::PixelFormat& format, graphics::ChannelContent content)
{
    const graphics::Channel* channel = format.findChannel(content);
    return channel ? static_cast<i32>(channel->bits) : 0;
}

i32 readAttribute(SDL_GLattr attribute)
{
    int value = 0;
    sdl2.SDL_GL_GetAttribute(attribute, &value);
    return value;
}

// The engine mode of an SDL mode; false when its pixel format has no masks.
bool fromSDLMode(const SDL_DisplayMode& sdlMode, graphics::DisplayMode& out)
{
    graphics::DisplayMode mode;
    if (!fromSDLPixelFormat(sdlMode.format, mode.format))
        return false;
    mode.width = sdlMode.w;
    mode.height = sdlMode.h;
    mode.drawableWidth = sdlMode.w;
    mode.drawableHeight = sdlMode.h;
    mode.refreshRate = sdlMode.refresh_rate == 0 ? -1 : sdlMode.refresh_rate;
    mode.depthBits = -1;
    mode.stencilBits = -1;
    mode.fromSystem = 1;
    out = mode;
    return true;
}

bool toSDLMode(const graphics::DisplayMode& mode, SDL_DisplayMode& out)
{
    out = SDL_DisplayMode {};
    out.format = toSDLPixelFormat(mode.format);
    out.w = mode.width;
    out.h = mode.height;
    out.refresh_rate = mode.refreshRate < 0 ? 0 : mode.refreshRate;
    return out.format != 0;
}

} // namespace

i32 windowStateFromFlags(u32 flags)
{
    using graphics::DisplayWindow;
    if ((flags & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP)
        return DisplayWindow::FullScreenDesktop;
    if (flags & SDL_WINDOW_FULLSCREEN)
        return DisplayWindow::FullScreen;
    if (flags & SDL_WINDOW_MAXIMIZED)
        return DisplayWindow::Maximized;
    if (flags & SDL_WINDOW_MINIMIZED)
        return DisplayWindow::Minimized;
    return DisplayWindow::Windowed;
}

u32 windowFlagsForState(i32 state)
{
    using graphics::DisplayWindow;
    switch (state) {
    case DisplayWindow::FullScreen:
        return SDL_WINDOW_FULLSCREEN;
    case DisplayWindow::FullScreenDesktop:
        return SDL_WINDOW_FULLSCREEN_DESKTOP;
    case DisplayWindow::Maximized:
        return SDL_WINDOW_MAXIMIZED;
    case DisplayWindow::Minimized:
        return SDL_WINDOW_MINIMIZED;
    default:
        return 0;
    }
}

bool isContextVersionSufficient(u32 requestedMajor, u32 requestedMinor, i32 major, i32 minor)
{
    const i64 obtained = 100 * static_cast<i64>(major) + minor;
    const i64 requested = 100 * static_cast<i64>(requestedMajor) + requestedMinor;
    return obtained <= 0 || obtained >= requested;
}

void checkContextVersion(u32 requestedMajor, u32 requestedMinor, i32 major, i32 minor)
{
    if (isContextVersionSufficient(requestedMajor, requestedMinor, major, minor))
        return;
    char text[128];
    std::snprintf(text, sizeof text,
        "OpenGL %d.%d required, but only %d.%d is available on the system. Please update your graphics driver",
        static_cast<int>(requestedMajor), static_cast<int>(requestedMinor), major, minor);
    QUERN_RAISE(SDLException, text);
}

SDL2Display* SDL2Display::create(graphics::GraphicsBackEnd* backEnd, graphics::GraphicsBackEndVersion version)
{
    SDL2Display* display = new SDL2Display(backEnd, version);
    graphics::Display::set(display);
    return display;
}

SDL2Display::SDL2Display(graphics::GraphicsBackEnd* backEnd, graphics::GraphicsBackEndVersion version)
    : Display(backEnd, version)
    , m_window(*this)
{
}

SDL2Display::~SDL2Display()
{
    close();
    m_cursorImage.reset();
    shutdownSDL();
}

void SDL2Display::implOpen(graphics::DisplayMode& mode, const graphics::DisplayConfiguration& configuration)
{
    // The GL driver's set-up (Mesa's included) raises floating-point
    // exceptions of its own, and the threads it starts keep the mask they
    // are started with.
    platform::UntrappedFloatingPointScope untrapped;
    initSDL2(kVideoSubsystem);
    platform::setProcessDPIAware();
    if (isOpen())
        close();

    if (const char* driver = sdl2.SDL_GetCurrentVideoDriver())
        QUERN_LOG(3) << "Video driver: " << driver << std::endl;
    QUERN_LOG(3) << "Number of displays: " << sdl2.SDL_GetNumVideoDisplays() << std::endl;

    u32 flags = 0;
    if (configuration.openGL) {
        flags |= SDL_WINDOW_OPENGL;
        setContextAttributes(mode, configuration);
    }
    if (configuration.hidden)
        flags |= SDL_WINDOW_HIDDEN;
    if (configuration.resizable)
        flags |= SDL_WINDOW_RESIZABLE;
    if (configuration.allowHighDpi)
        flags |= SDL_WINDOW_ALLOW_HIGHDPI;
    flags |= windowFlagsForState(configuration.windowMode);

    m_sdlWindow = sdl2.SDL_CreateWindow(configuration.caption ? configuration.caption : "", SDL_WINDOWPOS_CENTERED,
        SDL_WINDOWPOS_CENTERED, mode.width, mode.height, flags);
    if (!m_sdlWindow)
        QUERN_RAISE(SDLException, "SDL_CreateWindow failed");
    m_displayIndex = sdl2.SDL_GetWindowDisplayIndex(m_sdlWindow);

    if (configuration.windowMode == graphics::DisplayConfiguration::Fullscreen) {
        enterExclusiveFullscreen(mode);
    } else {
        sdl2.SDL_GetWindowSize(m_sdlWindow, &mode.width, &mode.height);
    }
    sdl2.SDL_DisableScreenSaver();

    if (configuration.openGL)
        createContext(mode, configuration);
    if (m_cursorImage)
        createCursor();
}

void SDL2Display::setContextAttributes(
    const graphics::DisplayMode& mode, const graphics::DisplayConfiguration& configuration)
{
    using graphics::ChannelContent;
    setAttribute(SDL_GL_RED_SIZE, "SDL_GL_RED_SIZE", channelBits(mode.format, ChannelContent::R));
    setAttribute(SDL_GL_GREEN_SIZE, "SDL_GL_GREEN_SIZE", channelBits(mode.format, ChannelContent::G));
    setAttribute(SDL_GL_BLUE_SIZE, "SDL_GL_BLUE_SIZE", channelBits(mode.format, ChannelContent::B));
    setAttribute(SDL_GL_ALPHA_SIZE, "SDL_GL_ALPHA_SIZE", channelBits(mode.format, ChannelContent::A));
    if (configuration.depthBits > 0)
        setAttribute(SDL_GL_DEPTH_SIZE, "SDL_GL_DEPTH_SIZE", configuration.depthBits);
    if (configuration.stencilBits > 0)
        setAttribute(SDL_GL_STENCIL_SIZE, "SDL_GL_STENCIL_SIZE", configuration.stencilBits);
    setAttribute(SDL_GL_DOUBLEBUFFER, "SDL_GL_DOUBLEBUFFER", configuration.doubleBuffer ? 1 : 0);
    if (configuration.multisampleBuffers != 0) {
        setAttribute(
            SDL_GL_MULTISAMPLEBUFFERS, "SDL_GL_MULTISAMPLEBUFFERS", static_cast<i32>(configuration.multisampleBuffers));
        setAttribute(
            SDL_GL_MULTISAMPLESAMPLES, "SDL_GL_MULTISAMPLESAMPLES", static_cast<i32>(configuration.multisampleSamples));
    }
    const i32 profile = configuration.contextProfile == graphics::DisplayConfiguration::Core
        ? SDL_GL_CONTEXT_PROFILE_CORE
        : configuration.contextProfile == graphics::DisplayConfiguration::Embedded
        ? SDL_GL_CONTEXT_PROFILE_ES
        : SDL_GL_CONTEXT_PROFILE_COMPATIBILITY;
    setAttribute(SDL_GL_CONTEXT_PROFILE_MASK, "SDL_GL_CONTEXT_PROFILE_MASK", profile);
    if (configuration.contextMajorVersion != 0) {
        setAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, "SDL_GL_CONTEXT_MAJOR_VERSION",
            static_cast<i32>(configuration.contextMajorVersion));
        setAttribute(SDL_GL_CONTEXT_MINOR_VERSION, "SDL_GL_CONTEXT_MINOR_VERSION",
            static_cast<i32>(configuration.contextMinorVersion));
    }
    i32 contextFlags = 0;
    if (configuration.debugContext && profile != SDL_GL_CONTEXT_PROFILE_ES)
        contextFlags |= SDL_GL_CONTEXT_DEBUG_FLAG;
    if (configuration.forwardCompatible)
        contextFlags |= SDL_GL_CONTEXT_FORWARD_COMPATIBLE_FLAG;
    setAttribute(SDL_GL_CONTEXT_FLAGS, "SDL_GL_CONTEXT_FLAGS", contextFlags);
}

void SDL2Display::enterExclusiveFullscreen(graphics::DisplayMode& mode)
{
    SDL_DisplayMode wanted;
    if (!toSDLMode(mode, wanted))
        QUERN_RAISE(DisplayModeException, "Can't convert display mode to SDL mode", mode);
    SDL_DisplayMode chosen {};
    if (!sdl2.SDL_GetClosestDisplayMode(m_displayIndex, &wanted, &chosen))
        QUERN_RAISE(DisplayModeException, "Can't find matching display mode", mode);
    if (sdl2.SDL_SetWindowDisplayMode(m_sdlWindow, &chosen) != 0)
        QUERN_RAISE(SDLException, "SDL_SetWindowDisplayMode failed");
    fromSDLPixelFormat(chosen.format, mode.format);
    mode.width = chosen.w;
    mode.height = chosen.h;
    mode.drawableWidth = chosen.w;
    mode.drawableHeight = chosen.h;
    mode.refreshRate = chosen.refresh_rate == 0 ? -1 : chosen.refresh_rate;
    mode.fromSystem = 1;
}

void SDL2Display::createContext(graphics::DisplayMode& mode, const graphics::DisplayConfiguration& configuration)
{
    m_glContext = sdl2.SDL_GL_CreateContext(m_sdlWindow);
    if (!m_glContext)
        QUERN_RAISE(SDLException, "SDL_GL_CreateContext failed");
    checkContextVersion(configuration.contextMajorVersion, configuration.contextMinorVersion,
        readAttribute(SDL_GL_CONTEXT_MAJOR_VERSION), readAttribute(SDL_GL_CONTEXT_MINOR_VERSION));
    SDL2ProcAddressLoader loader;
    opengl::initExtensions(loader);
    mode.depthBits = readAttribute(SDL_GL_DEPTH_SIZE);
    mode.stencilBits = readAttribute(SDL_GL_STENCIL_SIZE);
    mode.multisampleBuffers = readAttribute(SDL_GL_MULTISAMPLEBUFFERS);
    mode.multisampleSamples = readAttribute(SDL_GL_MULTISAMPLESAMPLES);
    sdl2.SDL_GL_GetDrawableSize(m_sdlWindow, &mode.drawableWidth, &mode.drawableHeight);
}

void SDL2Display::createCursor()
{
    const graphics::PixelBuffer& image = *m_cursorImage.get<graphics::PixelBuffer>();
    SDL2PixelSurface surface(image);
    if (!surface.surface()) {
        QUERN_LOG(2) << sdlErrorText() << std::endl;
        return;
    }
    SDL_Cursor* cursor = sdl2.SDL_CreateColorCursor(surface.surface(), m_cursorHotspotX, m_cursorHotspotY);
    if (!cursor) {
        QUERN_LOG(2) << sdlErrorText() << std::endl;
        return;
    }
    if (m_cursor)
        sdl2.SDL_FreeCursor(m_cursor);
    m_cursor = cursor;
    sdl2.SDL_SetCursor(cursor);
}

void SDL2Display::close()
{
    if (!isOpen())
        return;
    Display::close();
    if (m_cursor) {
        sdl2.SDL_FreeCursor(m_cursor);
        m_cursor = nullptr;
    }
    if (m_glContext) {
        QUERN_LOG(3) << "Deleting OpenGL context" << std::endl;
        // This display's own context: whatever another window made current
        // is not ours to delete.
        sdl2.SDL_GL_DeleteContext(m_glContext);
        m_glContext = nullptr;
    }
    QUERN_LOG(3) << "Closing SDL window" << std::endl;
    sdl2.SDL_DestroyWindow(m_sdlWindow);
    m_sdlWindow = nullptr;
    m_displayIndex = 0;
    sdl2.SDL_QuitSubSystem(kVideoSubsystem);
}

bool SDL2Display::applyVideoMode(const graphics::DisplayMode& mode)
{
    if (mode.fromSystem) {
        SDL_DisplayMode sdlMode;
        if (!toSDLMode(mode, sdlMode)) {
            debug::softAssert("convertDisplayMode failed", "false", __FILE__, __LINE__);
            return false;
        }
        if (sdl2.SDL_SetWindowDisplayMode(m_sdlWindow, &sdlMode) != 0) {
            debug::softAssert("SDL_SetWindowDisplayMode failed", "false", __FILE__, __LINE__);
            return false;
        }
        if (sdl2.SDL_SetWindowFullscreen(m_sdlWindow, SDL_WINDOW_FULLSCREEN) != 0) {
            debug::softAssert("SDL_SetWindowFullscreen failed", "false", __FILE__, __LINE__);
            return false;
        }
        return true;
    }
    if ((sdl2.SDL_GetWindowFlags(m_sdlWindow) & SDL_WINDOW_FULLSCREEN)
        && sdl2.SDL_SetWindowFullscreen(m_sdlWindow, 0) != 0) {
        debug::softAssert("SDL_SetWindowFullscreen failed", "false", __FILE__, __LINE__);
        return false;
    }
    sdl2.SDL_SetWindowSize(m_sdlWindow, mode.width, mode.height);
    sdl2.SDL_SetWindowPosition(m_sdlWindow, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    return true;
}

void SDL2Display::enumerateModes(containers::Array& out)
{
    initSDL2(kVideoSubsystem);
    const i32 count = sdl2.SDL_GetNumDisplayModes(m_displayIndex);
    if (count > 0)
        out.reserve(out.count() + static_cast<u64>(count));
    for (i32 i = 0; i < count; ++i) {
        SDL_DisplayMode sdlMode {};
        graphics::DisplayMode mode;
        if (sdl2.SDL_GetDisplayMode(m_displayIndex, i, &sdlMode) == 0 && fromSDLMode(sdlMode, mode))
            out.append(mode);
    }
}

bool SDL2Display::getDesktopMode(graphics::DisplayMode& out)
{
    initSDL2(kVideoSubsystem);
    SDL_DisplayMode sdlMode {};
    if (sdl2.SDL_GetDesktopDisplayMode(m_displayIndex, &sdlMode) != 0) {
        QUERN_LOG(2) << sdlErrorText() << std::endl;
        return false;
    }
    return fromSDLMode(sdlMode, out);
}

void SDL2Display::setSwapInterval(i32 interval)
{
    if (sdl2.SDL_GL_SetSwapInterval(interval == 1 ? 1 : 0) != 0)
        QUERN_LOG(2) << "SDL_GL_SetSwapInterval not supported!" << std::endl;
}

input::InputBackEnd* SDL2Display::createInputBackEnd() { return new SDL2InputBackEnd(this); }

} // namespace quern::sdl
