#include "harmonize/display/DisplaySettings.h"

#include "harmonize/Settings.h"
#include "harmonize/display/FrameLayout.h"
#include "quern/containers/Array.h"
#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/DisplayMode.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/NullGraphicsBackEnd.h"
#include "quern/opengl/OpenGLBackEnd.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/sdl/SDL2Display.h"

namespace harmonize {
namespace {

using quern::graphics::Display;
using quern::graphics::DisplayConfiguration;
using quern::graphics::DisplayMode;
using quern::graphics::GraphicsBackEndVersion;

bool sameLetters(const char* text, const char* lowerCase)
{
    for (; *text && *lowerCase; ++text, ++lowerCase) {
        const char c = (*text >= 'A' && *text <= 'Z') ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (c != *lowerCase)
            return false;
    }
    return *text == '\0' && *lowerCase == '\0';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

DisplaySizeSettings displaySizeSettings()
{
    DisplaySizeSettings settings;
    settings.fullscreenWidth = Settings::Graphics.width;
    settings.fullscreenHeight = Settings::Graphics.height;
    settings.windowWidth = Settings::Graphics.windowWidth;
    settings.windowHeight = Settings::Graphics.windowHeight;
    settings.aspectNumerator = Settings::Renderer.aspectNumerator;
    settings.aspectDenominator = Settings::Renderer.aspectDenominator;
    return settings;
}

DisplaySize chooseDisplaySize(bool fullscreen, const DisplaySizeSettings& settings, quern::graphics::Display& display)
{
    DisplaySize size;
    if (fullscreen) {
        if (settings.fullscreenWidth != 0 && settings.fullscreenHeight != 0) {
            const quern::containers::Array& modes = display.getDisplayModes();
            for (u64 i = 0; i < modes.count(); ++i) {
                const auto& mode = modes.at<quern::graphics::DisplayMode>(i);
                if (mode.width == settings.fullscreenWidth && mode.height == settings.fullscreenHeight) {
                    size = { mode.width, mode.height };
                    break;
                }
            }
        }
    } else {
        size = { settings.windowWidth, settings.windowHeight };
    }
    if (size.width != 0 && size.height != 0)
        return size;

    const quern::graphics::DisplayMode desktop = display.getDesktopDisplayMode();
    if (fullscreen)
        return { desktop.width, desktop.height };

    const auto [numerator, denominator] = validAspect(settings.aspectNumerator, settings.aspectDenominator);
    constexpr quern::f32 kTwoThirds = 0.6666667f;
    size.height = static_cast<i32>(static_cast<quern::f32>(desktop.height) * kTwoThirds);
    size.width = size.height * numerator / denominator;
    if (size.width > desktop.width - 16) {
        size.width = static_cast<i32>(static_cast<quern::f32>(desktop.width) * kTwoThirds);
        size.height = size.width * denominator / numerator;
    }
    return size;
}

DisplaySize& processDisplaySize()
{
    static DisplaySize size;
    return size;
}

Display* createDisplay()
{
    const char* name = Settings::Graphics.backEnd ? Settings::Graphics.backEnd : "";
    if (sameLetters(name, "null")) {
        QUERN_LOG(3) << "Creating display device: SDLDisplay" << std::endl;
        return quern::sdl::SDL2Display::create(
            &quern::graphics::NullGraphicsBackEnd::instance(), GraphicsBackEndVersion::Null);
    }
    if (sameLetters(name, "opengl")) {
        QUERN_LOG(3) << "Creating display device: SDLDisplay" << std::endl;
        return quern::sdl::SDL2Display::create(
            &quern::opengl::OpenGLBackEnd::instance(), GraphicsBackEndVersion::OpenGL);
    }
    QUERN_FATAL("Failed to create display");
}

void makeDisplayConfiguration(DisplayConfiguration& configuration, const Display& display)
{
    configuration = DisplayConfiguration {};
    configuration.caption = kProductTitle;
    configuration.windowMode = Settings::Graphics.fullscreen ? DisplayConfiguration::Fullscreen
        : Settings::Graphics.windowMaximized                 ? DisplayConfiguration::Maximized
                                                             : DisplayConfiguration::Windowed;
    configuration.swapInterval = Settings::Graphics.vsync ? 1 : 0;
    configuration.depthBits = 24;
    configuration.stencilBits = 0;
    configuration.resizable = 1;
    configuration.allowHighDpi = Settings::Graphics.highDPI ? 1 : 0;
    configuration.doubleBuffer = 1;
    if (!quern::graphics::isOpenGLVersion(display.version()))
        return;

    configuration.openGL = 1;
    // Any profile value other than core (0) and embedded (2) asks for compatibility.
    configuration.contextProfile = 1;
    configuration.contextMajorVersion = 3;
    configuration.contextMinorVersion = 2;
    configuration.debugContext = Settings::Graphics.debug ? 1 : 0;
    configuration.forwardCompatible = Settings::Graphics.validate ? 1 : 0;
    const char* version = Settings::Graphics.openGLVersion ? Settings::Graphics.openGLVersion : "";
    if (isDigit(version[0]) && version[1] == '.' && isDigit(version[2])) {
        configuration.contextMajorVersion = static_cast<quern::u32>(version[0] - '0');
        configuration.contextMinorVersion = static_cast<quern::u32>(version[2] - '0');
    }
    QUERN_LOG(3) << "Requested OpenGL version " << configuration.contextMajorVersion << "."
                 << configuration.contextMinorVersion << std::endl;
}

DisplayMode displayModeOfSize(DisplaySize size)
{
    DisplayMode mode;
    mode.format = quern::graphics::PixelFormat::A8B8G8R8;
    mode.width = mode.drawableWidth = size.width;
    mode.height = mode.drawableHeight = size.height;
    mode.refreshRate = -1;
    mode.depthBits = -1;
    mode.stencilBits = 8;
    return mode;
}

void openDisplay(Display& display)
{
    const DisplaySize size = chooseDisplaySize(Settings::Graphics.fullscreen, displaySizeSettings(), display);
    const DisplayMode mode = displayModeOfSize(size);
    DisplayConfiguration configuration;
    makeDisplayConfiguration(configuration, display);
    display.openWithVideoMode(mode, configuration);
    display.setSwapInterval(Settings::Graphics.vsync ? 1 : 0);
    const quern::f32 black[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    display.clear(0x7fffffff, black);
    processDisplaySize() = { display.drawableWidth(), display.drawableHeight() };
    // Windows here take their icon from the desktop entry, not from the program.
}

void storeWindowSettings(const DisplayMode& currentMode, i32 windowState, quern::io::HomeFileSystem& files,
    const MusicVolumeLatch* musicVolume)
{
    if (windowState != kWindowMaximized) {
        Settings::Graphics.windowWidth = currentMode.width;
        Settings::Graphics.windowHeight = currentMode.height;
    }
    Settings::Graphics.fullscreen = windowState == kWindowFullscreen;
    Settings::Graphics.windowMaximized = windowState == kWindowMaximized;
    const quern::f32 playing = Settings::Audio.musicVolume;
    if (musicVolume)
        Settings::Audio.musicVolume = musicVolume->volumeToSave(playing);
    Settings::save(files);
    Settings::Audio.musicVolume = playing;
}

} // namespace harmonize
