#include "SDL2TestSupport.h"
#include "runtime/quern/graphics/DisplayTestSupport.h"

#include "quern/graphics/NullPixelBuffer.h"
#include "quern/sdl/SDL2Display.h"
#include "quern/sdl/SDL2Library.h"
#include "quern/sdl/SDL2PixelSurface.h"
#include "quern/sdl/SDL2ProcAddressLoader.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace quern::test {
namespace {

using graphics::DisplayConfiguration;
using graphics::DisplayMode;
using graphics::DisplayWindow;
using graphics::PixelFormat;

// Windows and GL run on the test command's X server; these tests are skipped
// where there is none.
bool haveXServer() { return std::getenv("DISPLAY") != nullptr; }

DisplayConfiguration glConfiguration(const char* caption, i32 profile, u32 major, u32 minor)
{
    DisplayConfiguration configuration;
    configuration.caption = caption;
    configuration.openGL = 1;
    configuration.doubleBuffer = 1;
    configuration.depthBits = 24;
    configuration.contextProfile = profile;
    configuration.contextMajorVersion = major;
    configuration.contextMinorVersion = minor;
    return configuration;
}

struct ContextVersion {
    int major = 0;
    int minor = 0;
    int profileMask = 0;
};

// What the current context really is.
ContextVersion currentContextVersion()
{
    ContextVersion context;
    sdl::sdl2.SDL_GL_GetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, &context.major);
    sdl::sdl2.SDL_GL_GetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, &context.minor);
    sdl::sdl2.SDL_GL_GetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, &context.profileMask);
    return context;
}

class SDL2DisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("SDL_VIDEODRIVER");
        if (!haveXServer())
            GTEST_SKIP() << "no X server";
    }
    void TearDown() override { sdl::shutdownSDL(); }

    RecordingBackEnd device;
};

struct ContextCase {
    const char* name;
    i32 profile;
    u32 major;
    u32 minor;
    i32 profileMask;
};

TEST_F(SDL2DisplayTest, OpensTitledWindowWithTheRequestedContextThatClearsAndSwaps)
{
    const ContextCase cases[] = {
        { "compatibility 3.2", 1, 3, 2, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY },
        { "core 3.1", DisplayConfiguration::Core, 3, 1, SDL_GL_CONTEXT_PROFILE_CORE },
    };
    for (const ContextCase& c : cases) {
        SCOPED_TRACE(c.name);
        sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
        display.openWithVideoMode(
            makeMode(320, 200), glConfiguration("Quern test window", c.profile, c.major, c.minor));
        ASSERT_TRUE(display.isOpen());
        ASSERT_NE(display.glContext(), nullptr);
        EXPECT_STREQ(
            sdlSymbol<const char* (*)(SDL_Window*)>("SDL_GetWindowTitle")(display.sdlWindow()), "Quern test window");
        EXPECT_EQ(display.currentMode().width, 320);
        EXPECT_EQ(display.currentMode().drawableHeight, 200);
        EXPECT_GE(display.currentMode().depthBits, 24);

        const ContextVersion context = currentContextVersion();
        EXPECT_GE(100 * context.major + context.minor, 100 * static_cast<int>(c.major) + static_cast<int>(c.minor));
        EXPECT_EQ(context.profileMask, c.profileMask);

        sdl::SDL2ProcAddressLoader loader;
        auto getString = reinterpret_cast<const GLubyte* (*)(GLenum)>(loader.getProcAddress("glGetString"));
        auto clearColor
            = reinterpret_cast<void (*)(GLfloat, GLfloat, GLfloat, GLfloat)>(loader.getProcAddress("glClearColor"));
        auto clear = reinterpret_cast<void (*)(GLbitfield)>(loader.getProcAddress("glClear"));
        auto readPixels = reinterpret_cast<void (*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*)>(
            loader.getProcAddress("glReadPixels"));
        auto readBuffer = reinterpret_cast<void (*)(GLenum)>(loader.getProcAddress("glReadBuffer"));
        ASSERT_TRUE(getString && clearColor && clear && readPixels && readBuffer);
        const char* version = reinterpret_cast<const char*>(getString(GL_VERSION));
        ASSERT_NE(version, nullptr);
        EXPECT_NE(std::strstr(version, "Mesa"), nullptr) << version;

        clearColor(0.0f, 1.0f, 0.0f, 1.0f);
        clear(GL_COLOR_BUFFER_BIT);
        readBuffer(GL_BACK);
        u8 pixel[4] = {};
        readPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
        EXPECT_EQ(pixel[0], 0);
        EXPECT_EQ(pixel[1], 255);
        display.getWindow()->swapBuffers();
        display.close();
    }
}

TEST_F(SDL2DisplayTest, CloseTellsListenersThenDeletesTheContextThenTheWindow)
{
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
    display.openWithVideoMode(makeMode(160, 120), glConfiguration("close order", 1, 3, 2));
    RecordingListener listener;
    display.addListener(&listener);
    LogCatcher information(3);
    display.close();
    const std::string text = information.text();
    const auto closing = text.find("Closing display");
    const auto context = text.find("Deleting OpenGL context");
    const auto window = text.find("Closing SDL window");
    ASSERT_NE(closing, std::string::npos);
    ASSERT_NE(context, std::string::npos);
    ASSERT_NE(window, std::string::npos);
    EXPECT_LT(closing, context);
    EXPECT_LT(context, window);
    ASSERT_FALSE(listener.events.empty());
    EXPECT_EQ(listener.events.front().type, graphics::DisplayEvent::Closing);
    EXPECT_EQ(display.sdlWindow(), nullptr);
    EXPECT_EQ(display.glContext(), nullptr);
    EXPECT_EQ(sdl::sdl2.SDL_WasInit(SDL_INIT_VIDEO), 0u);
    display.removeListener(&listener);
}

TEST_F(SDL2DisplayTest, CloseDeletesItsOwnContextNotTheCurrentOne)
{
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
    display.openWithVideoMode(makeMode(160, 120), glConfiguration("own context", 1, 3, 2));
    // Another window's context, made current after the display's.
    SDL_Window* other = sdl::sdl2.SDL_CreateWindow("other", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    ASSERT_NE(other, nullptr);
    // Keeps SDL's video alive after the display quits its share of it.
    ASSERT_EQ(sdl::sdl2.SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
    SDL_GLContext otherContext = sdl::sdl2.SDL_GL_CreateContext(other);
    ASSERT_NE(otherContext, nullptr);
    ASSERT_EQ(sdl::sdl2.SDL_GL_GetCurrentContext(), otherContext);
    ASSERT_NE(display.glContext(), otherContext);

    display.close();
    EXPECT_EQ(sdl::sdl2.SDL_GL_GetCurrentContext(), otherContext);
    sdl::SDL2ProcAddressLoader loader;
    auto getString = reinterpret_cast<const GLubyte* (*)(GLenum)>(loader.getProcAddress("glGetString"));
    EXPECT_NE(getString(GL_VERSION), nullptr);
    sdl::sdl2.SDL_GL_DeleteContext(otherContext);
    sdl::sdl2.SDL_DestroyWindow(other);
    sdl::sdl2.SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

TEST_F(SDL2DisplayTest, ModesOfTheVirtualScreenReportAnUnknownRefreshRate)
{
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
    const containers::Array& modes = display.getDisplayModes();
    ASSERT_GE(modes.count(), 1u);
    for (u64 i = 0; i < modes.count(); ++i) {
        const DisplayMode& mode = modes.at<DisplayMode>(i);
        EXPECT_GT(mode.width, 0);
        EXPECT_EQ(mode.drawableWidth, mode.width);
        EXPECT_NE(mode.refreshRate, 0);
        EXPECT_EQ(mode.depthBits, -1);
        EXPECT_EQ(mode.fromSystem, 1);
        EXPECT_TRUE(mode.format.hasRGB());
    }
    DisplayMode desktop;
    ASSERT_TRUE(display.getDesktopMode(desktop));
    EXPECT_EQ(desktop.width, modes.at<DisplayMode>(0).width);
    EXPECT_EQ(desktop.height, modes.at<DisplayMode>(0).height);
}

TEST_F(SDL2DisplayTest, ExclusiveFullScreenTakesTheClosestSystemMode)
{
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
    DisplayMode desktop;
    ASSERT_TRUE(display.getDesktopMode(desktop));
    DisplayConfiguration configuration = glConfiguration("full screen", 1, 3, 2);
    configuration.windowMode = DisplayConfiguration::Fullscreen;
    display.openWithVideoMode(
        makeMode(desktop.width - 1, desktop.height - 1, -1, PixelFormat::A8B8G8R8), configuration);
    const DisplayMode& mode = display.currentMode();
    EXPECT_EQ(mode.width, desktop.width);
    EXPECT_EQ(mode.height, desktop.height);
    EXPECT_EQ(mode.refreshRate, desktop.refreshRate);
    EXPECT_EQ(mode.fromSystem, 1);
    EXPECT_EQ(display.getWindow()->getWindowState(), DisplayWindow::FullScreen);
}

TEST_F(SDL2DisplayTest, WindowStatesZeroToThreeReadBack)
{
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
    DisplayConfiguration configuration;
    configuration.caption = "states";
    display.openWithVideoMode(makeMode(200, 150), configuration);
    DisplayWindow* window = display.getWindow();
    ASSERT_EQ(window->getWindowState(), DisplayWindow::Windowed);
    for (const i32 state : { DisplayWindow::FullScreen, DisplayWindow::Windowed, DisplayWindow::FullScreenDesktop,
             DisplayWindow::Windowed, DisplayWindow::Maximized }) {
        window->setWindowState(state);
        EXPECT_EQ(window->getWindowState(), state) << "state " << state;
    }
    // Leaving full screen is all that state 0 does: a maximized window stays so.
    window->setWindowState(DisplayWindow::Windowed);
    EXPECT_EQ(window->getWindowState(), DisplayWindow::Maximized);
}

TEST(SDL2WindowState, FlagsMapToStates)
{
    struct Case {
        u32 flags;
        i32 state;
    };
    const Case cases[] = {
        { 0, DisplayWindow::Windowed },
        { SDL_WINDOW_SHOWN | SDL_WINDOW_OPENGL, DisplayWindow::Windowed },
        { SDL_WINDOW_FULLSCREEN, DisplayWindow::FullScreen },
        { SDL_WINDOW_FULLSCREEN_DESKTOP, DisplayWindow::FullScreenDesktop },
        { SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_MAXIMIZED, DisplayWindow::FullScreenDesktop },
        { SDL_WINDOW_FULLSCREEN | SDL_WINDOW_MINIMIZED, DisplayWindow::FullScreen },
        { SDL_WINDOW_MAXIMIZED, DisplayWindow::Maximized },
        { SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED, DisplayWindow::Maximized },
        { SDL_WINDOW_MINIMIZED, DisplayWindow::Minimized },
    };
    for (const Case& c : cases)
        EXPECT_EQ(sdl::windowStateFromFlags(c.flags), c.state) << std::hex << c.flags;
    for (i32 state = DisplayWindow::Windowed; state <= DisplayWindow::Minimized; ++state)
        EXPECT_EQ(sdl::windowStateFromFlags(sdl::windowFlagsForState(state)), state);
}

TEST_F(SDL2DisplayTest, UnknownWindowStateIsFatal)
{
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
    EXPECT_DEATH(display.getWindow()->setWindowState(5), "Invalid enum value for type WindowState");
}

TEST(SDL2ContextVersion, OlderContextsThanRequestedAreRefused)
{
    struct Case {
        u32 requestedMajor;
        u32 requestedMinor;
        i32 major;
        i32 minor;
        bool sufficient;
    };
    const Case cases[] = {
        { 3, 1, 0, 0, true }, // no version reported
        { 3, 1, 3, 0, false }, { 3, 1, 3, 1, true }, { 3, 1, 4, 0, true }, { 3, 2, 4, 5, true }, { 3, 2, 3, 1, false },
        { 3, 2, 2, 1, false }, { 4, 5, 4, 4, false }, { 0, 0, 2, 1, true }, // nothing requested
    };
    for (const Case& c : cases)
        EXPECT_EQ(sdl::isContextVersionSufficient(c.requestedMajor, c.requestedMinor, c.major, c.minor), c.sufficient)
            << c.requestedMajor << "." << c.requestedMinor << " against " << c.major << "." << c.minor;
    EXPECT_DEATH(sdl::checkContextVersion(3, 1, 3, 0),
        "OpenGL 3.1 required, but only 3.0 is available on the system. Please update your graphics driver \\(");
}

TEST_F(SDL2DisplayTest, SwapIntervalRefusedByTheServerWarns)
{
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
    display.openWithVideoMode(makeMode(64, 64), glConfiguration("swap", 1, 3, 2));
    LogCatcher warnings(2);
    display.setSwapInterval(1);
    EXPECT_EQ(warnings.count("SDL_GL_SetSwapInterval not supported!"), 1u);
}

TEST_F(SDL2DisplayTest, NativeHandleIsTheX11Window)
{
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
    DisplayConfiguration configuration;
    display.openWithVideoMode(makeMode(64, 64), configuration);
    EXPECT_NE(display.getWindow()->getNativeHandle(), nullptr);
}

TEST_F(SDL2DisplayTest, CursorImageSetBeforeOpeningIsAppliedWhenTheWindowOpens)
{
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
    graphics::NullPixelBuffer image;
    std::vector<u32> pixels(16 * 16, 0xff0000ffu);
    image.setImage2D(pixels.data(), 16, 16);
    display.getWindow()->setCursorImage(&image, 3, 4);

    DisplayConfiguration configuration;
    display.openWithVideoMode(makeMode(64, 64), configuration);
    auto getCursor = sdlSymbol<SDL_Cursor* (*)()>("SDL_GetCursor");
    auto getDefaultCursor = sdlSymbol<SDL_Cursor* (*)()>("SDL_GetDefaultCursor");
    EXPECT_NE(getCursor(), getDefaultCursor());
    display.getWindow()->setCursorImage(nullptr, 0, 0);
    EXPECT_EQ(getCursor(), getDefaultCursor());
    display.getWindow()->setIcon(image);
}

// The null graphics back end's display: a window without any GL.
TEST(SDL2DisplayWithoutGL, OpensUnderTheDummyDriverWithoutANativeHandle)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    RecordingBackEnd device;
    {
        sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::Null);
        LogCatcher information(3);
        DisplayConfiguration configuration;
        configuration.caption = "null";
        display.openWithVideoMode(makeMode(640, 480), configuration);
        EXPECT_TRUE(display.isOpen());
        EXPECT_EQ(display.glContext(), nullptr);
        EXPECT_EQ(information.count("Video driver: dummy"), 1u);
        EXPECT_EQ(information.count("Number of displays: 1"), 1u);
        LogCatcher warnings(2);
        EXPECT_EQ(display.getWindow()->getNativeHandle(), nullptr);
        EXPECT_NE(warnings.text(), "");
        display.getWindow()->swapBuffers(); // no GL window: nothing to swap
    }
    EXPECT_FALSE(sdl::isSDLLoaded());
    unsetenv("SDL_VIDEODRIVER");
}

TEST(SDL2DisplayWithoutGL, CreateInstallsTheProcessDisplay)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    RecordingBackEnd device;
    sdl::SDL2Display* display = sdl::SDL2Display::create(&device, graphics::GraphicsBackEndVersion::Null);
    EXPECT_EQ(graphics::Display::current(), display);
    graphics::Display::set(nullptr);
    EXPECT_FALSE(sdl::isSDLLoaded());
    unsetenv("SDL_VIDEODRIVER");
}

// A device image whose memory is only valid while locked, as a mapped
// staging buffer would be.
class UnmappedWhenUnlocked final : public graphics::NullPixelBuffer {
public:
    u8* lock(Lock mode, u64 first, u64 count) override
    {
        depth += armed;
        return NullPixelBuffer::lock(mode, first, count);
    }
    void unlock() override
    {
        NullPixelBuffer::unlock();
        if (armed && --depth == 0)
            std::memset(data(), 0xcd, byteSize());
    }
    int depth = 0;
    int armed = 0;
};

TEST(SDL2PixelSurface, KeepsTheImageLockedUntilSDLIsDoneWithIt)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    FakeSDL2Access access;
    access.answers["libSDL2-2.0.so.0"] = FakeSDL2Access::Answer::Real;
    sdl::initSDL2(sdl::kVideoSubsystem);
    UnmappedWhenUnlocked image;
    const u32 pixels[4] = { 0xff0000ffu, 0xff00ff00u, 0xffff0000u, 0x80808080u };
    image.setImage2D(pixels, 2, 2);
    image.armed = 1;
    {
        sdl::SDL2PixelSurface surface(image);
        ASSERT_NE(surface.surface(), nullptr);
        EXPECT_EQ(image.depth, 1);
        EXPECT_EQ(std::memcmp(surface.surface()->pixels, pixels, sizeof pixels), 0);
        // What SDL makes of the first pixel: R8G8B8A8 reads red from the top byte.
        u8 r = 0, g = 0, b = 0, a = 0;
        const u32 first = *static_cast<const u32*>(surface.surface()->pixels);
        sdlSymbol<void (*)(Uint32, const SDL_PixelFormat*, Uint8*, Uint8*, Uint8*, Uint8*)>("SDL_GetRGBA")(
            first, surface.surface()->format, &r, &g, &b, &a);
        const graphics::Pixel expected = PixelFormat::R8G8B8A8.convertToPixel(pixels);
        EXPECT_EQ((graphics::Pixel { r, g, b, a }), expected);
    }
    EXPECT_EQ(image.depth, 0);
    unsetenv("SDL_VIDEODRIVER");
}

TEST(SDL2PixelFormats, EngineFormatsCrossToSDLAndBack)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    FakeSDL2Access access;
    access.answers["libSDL2-2.0.so.0"] = FakeSDL2Access::Answer::Real;
    sdl::initSDL2(sdl::kVideoSubsystem);
    struct Case {
        const PixelFormat* format;
        u32 sdlFormat;
    };
    const Case cases[] = {
        { &PixelFormat::A8B8G8R8, SDL_PIXELFORMAT_RGBA32 },
        { &PixelFormat::B8G8R8A8, SDL_PIXELFORMAT_BGRA8888 },
        { &PixelFormat::R8G8B8A8, SDL_PIXELFORMAT_RGBA8888 },
        { &PixelFormat::X8R8G8B8, SDL_PIXELFORMAT_XRGB8888 },
        { &PixelFormat::R8G8B8, SDL_PIXELFORMAT_BGR24 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format->toString());
        EXPECT_EQ(sdl::toSDLPixelFormat(*c.format), c.sdlFormat);
        PixelFormat back;
        ASSERT_TRUE(sdl::fromSDLPixelFormat(c.sdlFormat, back));
        EXPECT_EQ(sdl::toSDLPixelFormat(back), c.sdlFormat);
        EXPECT_EQ(back.totalBits, c.format->totalBits);
    }
    PixelFormat none;
    EXPECT_FALSE(sdl::fromSDLPixelFormat(SDL_PIXELFORMAT_INDEX8, none));
    unsetenv("SDL_VIDEODRIVER");
}

} // namespace
} // namespace quern::test

namespace quern::test {
namespace {

// Without an X server: SDL's offscreen driver makes the context over EGL.
TEST(SDL2DisplayOffscreen, CompatibilityContextOverEGL)
{
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    RecordingBackEnd device;
    {
        sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
        display.openWithVideoMode(makeMode(128, 128), glConfiguration("offscreen", 1, 3, 2));
        ASSERT_NE(display.glContext(), nullptr);
        const ContextVersion context = currentContextVersion();
        EXPECT_GE(100 * context.major + context.minor, 302);
        EXPECT_EQ(context.profileMask, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        sdl::SDL2ProcAddressLoader loader;
        auto getString = reinterpret_cast<const GLubyte* (*)(GLenum)>(loader.getProcAddress("glGetString"));
        const char* version = reinterpret_cast<const char*>(getString(GL_VERSION));
        ASSERT_NE(version, nullptr);
        EXPECT_NE(std::strstr(version, "Compatibility"), nullptr) << version;
    }
    unsetenv("SDL_VIDEODRIVER");
}

} // namespace
} // namespace quern::test

namespace quern::test {
namespace {

struct AttributeCall {
    SDL_GLattr attribute;
    int value;
    bool operator==(const AttributeCall&) const = default;
};

std::vector<AttributeCall> g_attributeCalls;
SDL_GLattr g_refusedAttribute = SDL_GL_ACCELERATED_VISUAL;

// Records the request, refuses one attribute, hands the rest to SDL.
int recordAttribute(SDL_GLattr attribute, int value)
{
    g_attributeCalls.push_back({ attribute, value });
    if (attribute == g_refusedAttribute)
        return -1;
    return sdlSymbol<int (*)(SDL_GLattr, int)>("SDL_GL_SetAttribute")(attribute, value);
}

struct AttributeCase {
    const char* name;
    DisplayConfiguration configuration;
    std::vector<AttributeCall> expected;
};

TEST(SDL2ContextAttributes, AreSetInOrderAndOnlyWhenConfigured)
{
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    DisplayConfiguration plain = glConfiguration("attributes", 1, 0, 0);
    plain.depthBits = 0;
    plain.doubleBuffer = 0;
    DisplayConfiguration full = glConfiguration("attributes", DisplayConfiguration::Core, 3, 1);
    full.stencilBits = 8;
    full.multisampleBuffers = 1;
    full.multisampleSamples = 4;
    full.debugContext = 1;
    full.forwardCompatible = 1;
    DisplayConfiguration embedded = glConfiguration("attributes", DisplayConfiguration::Embedded, 3, 0);
    embedded.depthBits = -1;
    embedded.debugContext = 1;
    const AttributeCase cases[] = {
        { "nothing optional", plain,
            { { SDL_GL_RED_SIZE, 8 }, { SDL_GL_GREEN_SIZE, 8 }, { SDL_GL_BLUE_SIZE, 8 }, { SDL_GL_ALPHA_SIZE, 8 },
                { SDL_GL_DOUBLEBUFFER, 0 }, { SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY },
                { SDL_GL_CONTEXT_FLAGS, 0 } } },
        { "everything", full,
            { { SDL_GL_RED_SIZE, 8 }, { SDL_GL_GREEN_SIZE, 8 }, { SDL_GL_BLUE_SIZE, 8 }, { SDL_GL_ALPHA_SIZE, 8 },
                { SDL_GL_DEPTH_SIZE, 24 }, { SDL_GL_STENCIL_SIZE, 8 }, { SDL_GL_DOUBLEBUFFER, 1 },
                { SDL_GL_MULTISAMPLEBUFFERS, 1 }, { SDL_GL_MULTISAMPLESAMPLES, 4 },
                { SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE }, { SDL_GL_CONTEXT_MAJOR_VERSION, 3 },
                { SDL_GL_CONTEXT_MINOR_VERSION, 1 },
                { SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_DEBUG_FLAG | SDL_GL_CONTEXT_FORWARD_COMPATIBLE_FLAG } } },
        { "embedded takes no debug flag", embedded,
            { { SDL_GL_RED_SIZE, 8 }, { SDL_GL_GREEN_SIZE, 8 }, { SDL_GL_BLUE_SIZE, 8 }, { SDL_GL_ALPHA_SIZE, 8 },
                { SDL_GL_DOUBLEBUFFER, 1 }, { SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES },
                { SDL_GL_CONTEXT_MAJOR_VERSION, 3 }, { SDL_GL_CONTEXT_MINOR_VERSION, 0 },
                { SDL_GL_CONTEXT_FLAGS, 0 } } },
    };
    for (const AttributeCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSDL2Access access;
        access.answers["libSDL2-2.0.so.0"] = FakeSDL2Access::Answer::Real;
        access.replaced["SDL_GL_SetAttribute"] = reinterpret_cast<void*>(&recordAttribute);
        g_attributeCalls.clear();
        g_refusedAttribute = SDL_GL_DOUBLEBUFFER;
        LogCatcher warnings(2);
        RecordingBackEnd device;
        sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
        display.openWithVideoMode(makeMode(64, 64, -1, PixelFormat::A8B8G8R8), c.configuration);
        EXPECT_EQ(g_attributeCalls, c.expected);
        // A refused attribute is a warning; the window and context still open.
        EXPECT_EQ(warnings.count("Error setting SDL OpenGL attribute 'SDL_GL_DOUBLEBUFFER'!"), 1u);
        EXPECT_NE(display.glContext(), nullptr);
        display.close();
    }
    unsetenv("SDL_VIDEODRIVER");
}

} // namespace
} // namespace quern::test
