#include "harmonize/app/App.h"
#include "PlaygroundGame.h"
#include "support/BuiltContent.h"
#include "support/FileContents.h"

#include "ContentBuilder.h"
#include "harmonize/Settings.h"
#include "harmonize/display/DisplaySettings.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/graphics/DisplayWindow.h"
#include "quern/input/InputManager.h"
#include "quern/input/KeyCodes.h"
#include "quern/io/FilePath.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/io/StringSource.h"
#include "quern/parameter/ParameterRegistry.h"
#include "quern/profile/Profiler.h"
#include "quern/sdl/SDL2Display.h"
#include "quern/sdl/SDL2Library.h"
#include "quern/serialize/BinaryPODToken.h"
#include "support/harmonize/TemporaryUserFolder.h"
#include "support/LogCapture.h"
#include "support/TextOrder.h"

#include "quern/platform/Thread.h"

#include "support/harmonize/SmallWindowSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace harmonize {
namespace {

namespace fs = std::filesystem;

using quern::testing::readFile;

// A content folder with the demo level, its level list and the world script
// naming both, built by the content tool; the App runs on it with the null back
// end in a dummy window.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::useSmallDummyWindow();
        files.setDirectory(userFolder.path().c_str());
        files.setQuiet(true);

        testing::buildPlaygroundGame(content, "app-");
    }
    void TearDown() override
    {
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
    }

    // init, warm-up, a Quit in the queue, the main loop, shutdown.
    void runUntilQuit(App& app)
    {
        app.init();
        ASSERT_TRUE(app.displayOpen());
        app.appEventQueue().post(AppEventType::Quit);
        app.warmUp();
        app.runMainLoop();
        EXPECT_EQ(app.appState(), kAppQuitting);
        app.shutdown();
        EXPECT_EQ(quern::graphics::Display::current(), nullptr);
    }

    testing::TemporaryUserFolder userFolder;
    quern::io::HomeFileSystem files;
    testing::GameAssetHandlers handlers;
    quern::testing::BuiltContent content;
};

using quern::testing::expectInOrder;

TEST_F(AppTest, StartsRunsAndQuitsWithoutThreading)
{
    Settings::Threading.enabled = false;
    quern::testing::LogCapture log(3);
    {
        App app(&content.database, content.depot.get(), {});
        runUntilQuit(app);
        EXPECT_FALSE(app.taskDispatcher().threaded());
        EXPECT_EQ(processDisplaySize().width, 320);
    }
    expectInOrder(log.text(), { "Build 4090", "Threading disabled", "Creating display device: SDLDisplay" });
    EXPECT_FALSE(log.contains("Running in test mode"));
}

TEST_F(AppTest, StartsRunsAndQuitsWithThreading)
{
    Settings::Threading.enabled = true;
    Settings::Threading.workers = 3;
    quern::testing::LogCapture log(3);
    App app(&content.database, content.depot.get(), {});
    runUntilQuit(app);
    expectInOrder(log.text(),
        { "Build 4090", "Starting task dispatcher", "Starting task scheduler with 3 threads",
            "Creating display device: SDLDisplay" });
    EXPECT_FALSE(app.taskDispatcher().threaded()); // stopped at shutdown
}

TEST_F(AppTest, OneWorkerRunsAsWithoutThreading)
{
    struct Case {
        i32 workers;
        bool threaded;
    } cases[] = { { 1, false }, { 2, true } };
    for (const Case& c : cases) {
        Settings::Threading.enabled = true;
        Settings::Threading.workers = c.workers;
        quern::profile::getProfiler().setEnabled(true);
        quern::ParameterRegistry::instance().setDeferNotifications(false);
        App app(&content.database, content.depot.get(), {});
        app.init();
        EXPECT_EQ(app.taskDispatcher().threaded(), c.threaded) << c.workers;
        // Threaded frames keep the profiler off and the parameter notifications for the frame's end.
        EXPECT_EQ(quern::profile::getProfiler().isEnabled(), !c.threaded) << c.workers;
        EXPECT_EQ(quern::ParameterRegistry::instance().defersNotifications(), c.threaded) << c.workers;
        app.shutdown();
    }
    quern::profile::getProfiler().setEnabled(false);
    quern::ParameterRegistry::instance().setDeferNotifications(false);
}

TEST_F(AppTest, TestModePostsATestLevelFirstAndTurnsBindingsOff)
{
    Settings::Test.test = true;
    Settings::Threading.enabled = false;
    quern::testing::LogCapture log(3);
    App app(&content.database, content.depot.get(), {});
    app.init();
    EXPECT_TRUE(log.contains("Running in test mode"));
    EXPECT_FALSE(app.inputManager()->evaluateBindings());
    EXPECT_EQ(app.appEventQueue().frontStoredType(), storedTypeOf(AppEventType::TestLevel));
    app.shutdown();
}

TEST_F(AppTest, ClosedDisplayEndsTheLoop)
{
    Settings::Threading.enabled = false;
    quern::testing::LogCapture log(3);
    App app(&content.database, content.depot.get(), {});
    app.init();
    app.warmUp();
    app.display()->close();
    app.runMainLoop();
    EXPECT_TRUE(log.contains("Exiting main loop because display was closed"));
    EXPECT_NE(app.appState(), kAppQuitting);
    app.shutdown();
}

TEST_F(AppTest, AResolutionChangeWithANewModeResizesTheWindow)
{
    Settings::Threading.enabled = false;
    App app(&content.database, content.depot.get(), {});
    app.init();
    ASSERT_EQ(app.display()->currentMode().width, 320);
    Settings::Graphics.windowWidth = 400;
    Settings::Graphics.windowHeight = 240;
    quern::testing::LogCapture log(3);
    app.appEventQueue().postChangeDisplayResolution({ 1 });
    app.drainAppEvents();
    EXPECT_TRUE(log.contains("Display resolution changed: 400x240"));
    EXPECT_EQ(app.display()->currentMode().width, 400);
    EXPECT_EQ(app.display()->currentMode().height, 240);
    EXPECT_EQ(processDisplaySize().width, app.display()->drawableWidth());
    app.shutdown();
}

TEST_F(AppTest, WindowResizeChangesTheResolutionAndSavesTheWindow)
{
    Settings::Threading.enabled = false;
    App app(&content.database, content.depot.get(), {});
    app.setUserFiles(&files);
    app.init();
    quern::testing::LogCapture log(3);
    app.onDisplayEvent({ quern::graphics::DisplayEvent::Resized, 400, 300 });
    EXPECT_TRUE(log.contains("Resized display to 400x300"));
    app.drainAppEvents();
    EXPECT_TRUE(log.contains("Internal resolution changed: "));
    const std::string saved = readFile(userFolder.path() / "settings.ini");
    // The window's own state decides the saved flags: a normal window keeps
    // the default full-screen flag off in the file.
    const i32 state = app.display()->window()->getWindowState();
    EXPECT_EQ(Settings::Graphics.fullscreen, state == kWindowFullscreen) << state;
    EXPECT_EQ(Settings::Graphics.windowMaximized, state == kWindowMaximized) << state;
    EXPECT_NE(saved.find("WindowWidth = 320"), std::string::npos) << saved;

    // In full screen a resize is not the user's: nothing is logged or posted.
    Settings::Graphics.fullscreen = true;
    quern::testing::LogCapture quiet(3);
    app.onDisplayEvent({ quern::graphics::DisplayEvent::Resized, 640, 480 });
    EXPECT_FALSE(quiet.contains("Resized display"));
    EXPECT_TRUE(app.appEventQueue().frontStoredType() != storedTypeOf(AppEventType::ChangeDisplayResolution));
    app.shutdown();
}

TEST_F(AppTest, WindowResizedThroughTheWindowingLibraryUnderX)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X server (the test command runs one)";
    unsetenv("SDL_VIDEODRIVER");
    Settings::Threading.enabled = false;
    App app(&content.database, content.depot.get(), {});
    app.setUserFiles(&files);
    app.init();
    quern::testing::LogCapture log(3);
    auto* display = static_cast<quern::sdl::SDL2Display*>(app.display());
    quern::sdl::sdl2.SDL_SetWindowSize(display->sdlWindow(), 480, 270);
    // The X server answers in its own time: frames poll until the change arrives.
    for (int frame = 0; frame < 200 && !log.contains("Resized display to 480x270"); ++frame) {
        app.runFrame(frame * 16'666);
        quern::platform::sleepMilliseconds(5);
    }
    ASSERT_TRUE(log.contains("Resized display to 480x270")) << log.text();
    app.drainAppEvents();
    EXPECT_TRUE(log.contains("Internal resolution changed: "));
    EXPECT_EQ(Settings::Graphics.windowWidth, 480);
    EXPECT_EQ(Settings::Graphics.windowHeight, 270);
    EXPECT_NE(readFile(userFolder.path() / "settings.ini").find("WindowWidth = 480"), std::string::npos);
    app.shutdown();
}

TEST_F(AppTest, F4TogglesTheOverlayThroughTheEventQueue)
{
    Settings::Threading.enabled = false;
    Settings::Development.enabled = true;
    App app(&content.database, content.depot.get(), {});
    app.init();
    while (app.appEventQueue().frontStoredType() >= 0)
        app.appEventQueue().drop();
    DevelopmentKeyListener keys;
    keys.app = &app;
    keys.queue = &app.appEventQueue();
    quern::input::InputEvent f4;
    f4.type = quern::input::KeyDown;
    f4.code = quern::input::kKeyF1 + 3;
    keys.onInputEvent(f4, *app.inputManager());
    EXPECT_TRUE(app.debugOverlayShown());
    EXPECT_TRUE(Settings::Development.showDebugGUI);
    MouseModeChangeEvent mode {};
    ASSERT_TRUE(app.appEventQueue().popByType(mode, storedTypeOf(AppEventType::MouseModeChange)));
    EXPECT_EQ(mode.cursorShown, 1);
    keys.onInputEvent(f4, *app.inputManager());
    EXPECT_FALSE(app.debugOverlayShown());
    EXPECT_FALSE(Settings::Development.showDebugGUI);
    app.shutdown();
}

TEST(FrameSecondsTest, ParametersSeeAtMostOneSecond)
{
    struct Case {
        i64 ticks;
        quern::f32 seconds;
    } cases[] = { { 0, 0.0f }, { 5'000'000, 0.5f }, { 10'000'000, 1.0f }, { 35'000'000, 1.0f }, { -20, 0.0f } };
    for (const Case& c : cases)
        EXPECT_EQ(frameSecondsFor(c.ticks), c.seconds) << c.ticks;
}

using AppDeathTest = AppTest;

TEST_F(AppDeathTest, StepThatIsNotAboveZeroIsFatal)
{
    for (float step :
        { 0.0f, -0.01f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN() }) {
        Settings::Development.timestep = step;
        EXPECT_DEATH(
            {
                App app(&content.database, content.depot.get(), {});
                app.init();
            },
            "Development.timestep must be above 0");
    }
}

TEST(SimulatedFailuresDeathTest, EachFailureEndsTheProcessItsOwnWay)
{
    simulateFailures(false, false, false, false, false); // nothing asked: nothing happens
    EXPECT_DEATH(simulateFailures(false, true, false, false, false), "");
    EXPECT_DEATH(simulateFailures(false, false, true, false, false), "Simulated error");
    EXPECT_DEATH(simulateFailures(false, false, false, true, false), "");
}

} // namespace
} // namespace harmonize
