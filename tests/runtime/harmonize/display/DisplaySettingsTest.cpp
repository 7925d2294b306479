#include "harmonize/display/DisplaySettings.h"

#include "harmonize/Settings.h"
#include "quern/graphics/DisplayMode.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/NullGraphicsBackEnd.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/sdl/SDL2Display.h"
#include "runtime/quern/platform/TemporaryDirectory.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace harmonize {
namespace {

using quern::graphics::DisplayConfiguration;
using quern::graphics::GraphicsBackEndVersion;

class DisplaySettingsTest : public ::testing::Test {
protected:
    void SetUp() override { Settings::resetToDefaults(); }
    void TearDown() override { Settings::resetToDefaults(); }
};

TEST_F(DisplaySettingsTest, SizeFromTheSettingsAndTheDesktop)
{
    // The null display offers one mode, 1024 x 768, which is also its desktop.
    quern::graphics::NullDisplay display;
    struct Case {
        const char* name;
        bool fullscreen;
        DisplaySizeSettings settings;
        DisplaySize expected;
    } cases[] = {
        { "offered full-screen mode", true, { 1024, 768, 0, 0, 16, 9 }, { 1024, 768 } },
        { "mode not offered: desktop", true, { 800, 600, 0, 0, 16, 9 }, { 1024, 768 } },
        { "half a full-screen size: desktop", true, { 1024, 0, 0, 0, 16, 9 }, { 1024, 768 } },
        { "window size given", false, { 0, 0, 640, 360, 16, 9 }, { 640, 360 } },
        { "window from desktop height", false, { 0, 0, 0, 0, 16, 9 }, { 910, 512 } },
        { "half a window size: from desktop", false, { 0, 0, 640, 0, 4, 3 }, { 682, 512 } },
        { "too wide: from desktop width", false, { 0, 0, 0, 0, 4, 1 }, { 682, 170 } },
        { "zero aspect term means 16:9", false, { 0, 0, 0, 0, 16, 0 }, { 910, 512 } },
        { "negative aspect term means 16:9", false, { 0, 0, 0, 0, -4, 3 }, { 910, 512 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DisplaySize size = chooseDisplaySize(c.fullscreen, c.settings, display);
        EXPECT_EQ(size.width, c.expected.width);
        EXPECT_EQ(size.height, c.expected.height);
    }
}

TEST_F(DisplaySettingsTest, ConfigurationFollowsTheGraphicsSettings)
{
    // Never opened: only its kind is read.
    quern::sdl::SDL2Display nullDisplay(
        &quern::graphics::NullGraphicsBackEnd::instance(), GraphicsBackEndVersion::Null);
    struct Case {
        bool fullscreen;
        bool maximized;
        bool vsync;
        i32 windowMode;
    } cases[] = {
        { false, false, false, DisplayConfiguration::Windowed },
        { false, true, true, DisplayConfiguration::Maximized },
        { true, true, true, DisplayConfiguration::Fullscreen },
        { true, false, false, DisplayConfiguration::Fullscreen },
    };
    for (const Case& c : cases) {
        Settings::Graphics.fullscreen = c.fullscreen;
        Settings::Graphics.windowMaximized = c.maximized;
        Settings::Graphics.vsync = c.vsync;
        Settings::Graphics.highDPI = c.vsync;
        DisplayConfiguration configuration;
        configuration.openGL = 1; // cleared: the null display asks for no context
        makeDisplayConfiguration(configuration, nullDisplay);
        EXPECT_STREQ(configuration.caption, "Tin Lantern Run");
        EXPECT_EQ(configuration.windowMode, c.windowMode);
        EXPECT_EQ(configuration.swapInterval, c.vsync ? 1 : 0);
        EXPECT_EQ(configuration.allowHighDpi, c.vsync ? 1 : 0);
        EXPECT_EQ(configuration.depthBits, 24);
        EXPECT_EQ(configuration.stencilBits, 0);
        EXPECT_EQ(configuration.resizable, 1);
        EXPECT_EQ(configuration.doubleBuffer, 1);
        EXPECT_EQ(configuration.openGL, 0);
        EXPECT_EQ(configuration.contextMajorVersion, 0u);
    }
}

TEST_F(DisplaySettingsTest, OpenGLDisplaysAskForACompatibilityContext)
{
    // Never opened: only its kind is read.
    quern::sdl::SDL2Display display(&quern::graphics::NullGraphicsBackEnd::instance(), GraphicsBackEndVersion::OpenGL);
    struct Case {
        const char* version;
        quern::u32 major;
        quern::u32 minor;
    } cases[] = {
        { "", 3, 2 }, { "3", 3, 2 }, { "3.3", 3, 3 }, { "4.5", 4, 5 }, { "45", 3, 2 }, { "4.x", 3, 2 },
        { "10.0", 3, 2 }, // single digits only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        Settings::Graphics.openGLVersion = c.version;
        Settings::Graphics.debug = true;
        Settings::Graphics.validate = false;
        quern::testing::LogCapture log(3);
        DisplayConfiguration configuration;
        makeDisplayConfiguration(configuration, display);
        EXPECT_EQ(configuration.openGL, 1);
        EXPECT_NE(configuration.contextProfile, DisplayConfiguration::Core);
        EXPECT_NE(configuration.contextProfile, DisplayConfiguration::Embedded);
        EXPECT_EQ(configuration.contextMajorVersion, c.major);
        EXPECT_EQ(configuration.contextMinorVersion, c.minor);
        EXPECT_EQ(configuration.debugContext, 1);
        EXPECT_EQ(configuration.forwardCompatible, 0);
        EXPECT_TRUE(
            log.contains("Requested OpenGL version " + std::to_string(c.major) + "." + std::to_string(c.minor)));
    }
}

using DisplaySettingsDeathTest = DisplaySettingsTest;

TEST_F(DisplaySettingsDeathTest, BackEndsThisBuildCannotServeAreFatal)
{
    Settings::Graphics.backEnd = "vulkan";
    EXPECT_DEATH(createDisplay(), "Failed to create display");
    Settings::Graphics.backEnd = "nul";
    EXPECT_DEATH(createDisplay(), "Failed to create display");
}

TEST_F(DisplaySettingsTest, NullBackEndOpensARealWindowAtTheChosenSize)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    Settings::Graphics.backEnd = "NULL";
    Settings::Graphics.fullscreen = false;
    Settings::Graphics.windowWidth = 640;
    Settings::Graphics.windowHeight = 360;
    quern::testing::LogCapture log(3);
    quern::graphics::Display* display = createDisplay();
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(quern::graphics::Display::current(), display);
    EXPECT_EQ(display->version(), GraphicsBackEndVersion::Null);
    EXPECT_TRUE(log.contains("Creating display device: SDLDisplay"));
    EXPECT_FALSE(log.contains("Requested OpenGL version"));

    openDisplay(*display);
    EXPECT_TRUE(display->isOpen());
    EXPECT_EQ(processDisplaySize().width, 640);
    EXPECT_EQ(processDisplaySize().height, 360);

    // A second display replaces the first.
    quern::graphics::Display* second = createDisplay();
    EXPECT_NE(second, display);
    EXPECT_EQ(quern::graphics::Display::current(), second);
    quern::graphics::Display::set(nullptr);
    unsetenv("SDL_VIDEODRIVER");
}

TEST_F(DisplaySettingsTest, OpenGLBackEndOpensACompatibilityContextThatTheDeviceDrawsWith)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X server";
    unsetenv("SDL_VIDEODRIVER");
    Settings::Graphics.backEnd = "OpenGL";
    Settings::Graphics.fullscreen = false;
    Settings::Graphics.windowWidth = 320;
    Settings::Graphics.windowHeight = 180;
    quern::testing::LogCapture log(3);
    quern::graphics::Display* display = createDisplay();
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->version(), GraphicsBackEndVersion::OpenGL);
    EXPECT_TRUE(log.contains("Creating display device: SDLDisplay"));

    openDisplay(*display);
    ASSERT_TRUE(display->isOpen());
    EXPECT_TRUE(log.contains("Requested OpenGL version 3.2"));
    // The open step loaded the entry points the OpenGL device draws with.
    ASSERT_NE(quern::opengl::glGetString, nullptr);
    const char* version = reinterpret_cast<const char*>(quern::opengl::glGetString(quern::opengl::GL_VERSION));
    ASSERT_NE(version, nullptr);
    EXPECT_NE(std::string(version).find("Compatibility Profile"), std::string::npos) << version;
    quern::graphics::Display::set(nullptr);
}

// Saves into a folder of its own, from a window of 800 x 450.
class SavedWindowSettingsTest : public DisplaySettingsTest {
protected:
    void SetUp() override
    {
        DisplaySettingsTest::SetUp();
        files.setDirectory(directory.path().c_str());
        files.setQuiet(true);
        mode.width = 800;
        mode.height = 450;
    }
    std::string savedText() const
    {
        std::ifstream file(directory.path() / "settings.ini", std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    quern::testing::TemporaryDirectory directory;
    quern::io::HomeFileSystem files;
    quern::graphics::DisplayMode mode;
};

TEST_F(SavedWindowSettingsTest, SizeAndStateAreKept)
{
    struct Case {
        i32 state;
        i32 width;
        i32 height;
        bool fullscreen;
        bool maximized;
    } cases[] = {
        { kWindowNormal, 800, 450, false, false },
        { kWindowMaximized, 1, 2, false, true }, // keeps the size it returns to
        { kWindowFullscreen, 800, 450, true, false },
    };
    for (const Case& c : cases) {
        Settings::Graphics.windowWidth = 1;
        Settings::Graphics.windowHeight = 2;
        storeWindowSettings(mode, c.state, files);
        EXPECT_EQ(Settings::Graphics.windowWidth, c.width);
        EXPECT_EQ(Settings::Graphics.windowHeight, c.height);
        EXPECT_EQ(Settings::Graphics.fullscreen, c.fullscreen);
        EXPECT_EQ(Settings::Graphics.windowMaximized, c.maximized);

        const std::string saved = savedText();
        EXPECT_NE(saved.find("WindowWidth = " + std::to_string(c.width)), std::string::npos) << saved;
    }
}

TEST_F(SavedWindowSettingsTest, SilencedMusicIsNeverSavedAsZero)
{
    Settings::Audio.musicVolume = 80.0f;
    MusicVolumeLatch latch;
    latch.onPlaybackChanged(true, Settings::Audio.musicVolume);
    ASSERT_EQ(Settings::Audio.musicVolume, 0.0f);
    storeWindowSettings(mode, kWindowNormal, files, &latch);
    EXPECT_EQ(Settings::Audio.musicVolume, 0.0f); // still silenced while the outside music plays

    const std::string saved = savedText();
    EXPECT_NE(saved.find("MusicVolume = 80"), std::string::npos) << saved;
}

} // namespace
} // namespace harmonize
