// The game's input on the real path: events pushed into SDL and SDL's own
// virtual game controllers, pumped by the App's frames into the level world's
// input system.
#include "harmonize/app/App.h"
#include "PlaygroundGame.h"
#include "SdlInput.h"

#include "harmonize/Settings.h"
#include "harmonize/systems/InputSystem.h"
#include "harmonize/utils/TextVariables.h"
#include "quern/entity/InputRecordingSystem.h"
#include "quern/input/InputBackEnd.h"
#include "quern/input/InputManager.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/platform/DynamicLibrary.h"
#include "quern/sdl/SDL2Library.h"
#include "support/harmonize/TemporaryUserFolder.h"
#include "support/LogCapture.h"
#include "support/harmonize/SmallWindowSettings.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace harmonize {
namespace {

namespace fs = std::filesystem;

using testing::pushKey;
using testing::sdlSymbol;

// The playground level of the demo content, built by the content tool; the
// App runs it with the null back end in a dummy window, its user files in a
// temporary folder.
class AppInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::useSmallDummyWindow();
        Settings::Threading.enabled = false;

        testing::buildPlaygroundGame(content, "input-");
    }
    void TearDown() override
    {
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
    }

    std::unique_ptr<App> startLevel()
    {
        auto app = std::make_unique<App>(&content.database, content.depot.get(), AppServices {});
        app->init();
        for (i32 i = 0; i < 200 && app->currentLevelIndex() < 0; ++i)
            frame(*app);
        EXPECT_GE(app->currentLevelIndex(), 0);
        return app;
    }
    // One frame and its app events; the events it took are kept in `posted`.
    void frame(App& app)
    {
        m_time += 166'666;
        app.runFrame(m_time);
        AppEventQueue& queue = app.appEventQueue();
        for (i32 t = queue.frontStoredType(); t >= 0; t = queue.frontStoredType()) {
            const AppEventType type = appEventTypeOf(static_cast<u16>(t));
            posted.push_back(type);
            // A menu request waits for the menu level, which this game lacks.
            if (type == AppEventType::ShowMenu)
                queue.drop();
            else if (!dispatchAppEvent(static_cast<u16>(t), queue, app))
                break;
        }
    }
    // SDL's events reach the ring at the end of a frame and the level's
    // fixed ticks in the next one.
    void frames(App& app, i32 count = 2)
    {
        for (i32 i = 0; i < count; ++i)
            frame(app);
    }
    bool wasPosted(AppEventType type) const
    {
        return std::find(posted.begin(), posted.end(), type) != posted.end();
    }
    InputSystem& levelInput(App& app) { return *app.context(app.currentLevelWorld()).input; }
    std::vector<fs::path> replayFiles() const
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(userFolder.path()))
            if (entry.path().extension() == ".replay")
                found.push_back(entry.path());
        return found;
    }

    testing::TemporaryUserFolder userFolder;
    testing::GameAssetHandlers handlers;
    quern::testing::BuiltContent content;
    std::vector<AppEventType> posted;
    i64 m_time = 0;
};

TEST_F(AppInputTest, AKeyMovesThePlayerAndMakesTheKeyboardTheActiveDevice)
{
    auto app = startLevel();
    EXPECT_TRUE(wasPosted(AppEventType::InputContextChanged));
    EXPECT_TRUE(wasPosted(AppEventType::InputDeviceChanged));
    EXPECT_STREQ(TextVariables::find("skip"), "Xbox360ButtonB");
    posted.clear();

    pushKey(SDL_SCANCODE_A, true);
    frames(*app);
    EXPECT_EQ(levelInput(*app).move().x, -1.0f);
    EXPECT_EQ(app->inputSwitcher().lastDevice(), 0);
    EXPECT_TRUE(wasPosted(AppEventType::InputDeviceChanged));
    EXPECT_STREQ(TextVariables::find("skip"), "KeyboardTab");
    EXPECT_STREQ(TextVariables::find("retry"), "KeyboardBackspace");

    pushKey(SDL_SCANCODE_A, false);
    pushKey(SDL_SCANCODE_UP, true);
    posted.clear();
    frames(*app);
    EXPECT_EQ(levelInput(*app).move().x, 0.0f);
    EXPECT_EQ(levelInput(*app).move().y, 1.0f);
    EXPECT_FALSE(wasPosted(AppEventType::InputDeviceChanged)) << "the same keyboard";
    app->shutdown();
}

TEST_F(AppInputTest, AVirtualControllerMovesThePlayerAndNamesItsButtons)
{
    // The dummy window never has the focus, and SDL drops the input of a
    // controller while no window of the program has it.
    setenv("SDL_JOYSTICK_ALLOW_BACKGROUND_EVENTS", "1", 1);
    auto app = startLevel();
    const int index = testing::attachVirtualPad();
    ASSERT_GE(index, 0);
    frames(*app);
    // The back end opened the pad when it arrived.
    SDL_Joystick* joystick = testing::openedVirtualPad(index);
    ASSERT_NE(joystick, nullptr);
    auto setButton = sdlSymbol<int (*)(SDL_Joystick*, int, Uint8)>("SDL_JoystickSetVirtualButton");
    auto setAxis = sdlSymbol<int (*)(SDL_Joystick*, int, Sint16)>("SDL_JoystickSetVirtualAxis");

    posted.clear();
    setButton(joystick, SDL_CONTROLLER_BUTTON_A, 1);
    frames(*app, 3);
    EXPECT_EQ(app->inputSwitcher().activeDeviceKind(), quern::input::kInputDeviceGameController);
    EXPECT_GE(app->inputSwitcher().lastDevice(), 2);
    EXPECT_TRUE(wasPosted(AppEventType::InputDeviceChanged));
    EXPECT_STREQ(TextVariables::find("retry"), "Xbox360Back");

    setAxis(joystick, SDL_CONTROLLER_AXIS_LEFTX, -30000);
    setAxis(joystick, SDL_CONTROLLER_AXIS_LEFTY, 30000);
    frames(*app, 3);
    EXPECT_EQ(levelInput(*app).move().x, -1.0f);
    EXPECT_EQ(levelInput(*app).move().y, -1.0f);
    sdlSymbol<int (*)(int)>("SDL_JoystickDetachVirtual")(index);
    app->shutdown();
    unsetenv("SDL_JOYSTICK_ALLOW_BACKGROUND_EVENTS");
}

TEST_F(AppInputTest, EscapeInALevelAsksForTheMenu)
{
    auto app = startLevel();
    posted.clear();
    pushKey(SDL_SCANCODE_ESCAPE, true);
    frames(*app);
    EXPECT_TRUE(wasPosted(AppEventType::ShowMenu));
    app->shutdown();
}

TEST_F(AppInputTest, AReplaySavedWithF6IsPlayedBackByATestRun)
{
    Settings::Development.enabled = true;
    {
        auto app = startLevel();
        frames(*app, 3);
        pushKey(SDL_SCANCODE_A, true);
        frames(*app, 3);
        pushKey(SDL_SCANCODE_A, false);
        frames(*app, 3);
        quern::testing::LogCapture log(3);
        pushKey(SDL_SCANCODE_F6, true);
        frames(*app);
        EXPECT_TRUE(log.contains("Save replay playground-"));
        app->shutdown();
    }
    const std::vector<fs::path> saved = replayFiles();
    ASSERT_EQ(saved.size(), 1u);
    // The whole recording up to F6: the press, the release and the F6 itself.
    quern::input::InputReplay replay;
    quern::io::HomeFileSystem files;
    files.setDirectory(userFolder.path().c_str());
    quern::entity::loadInputRecording(replay, saved[0].filename().c_str(), files);
    EXPECT_GE(replay.frameCount(), 2u);
    replay.release();

    fs::create_directories(userFolder.path() / "replays");
    fs::rename(saved[0], userFolder.path() / "replays/playground.replay");
    Settings::Development.enabled = false;
    Settings::Replay.runTests = true;
    Settings::Replay.directory = "replays";
    quern::testing::LogCapture log(3);
    auto app = startLevel();
    EXPECT_TRUE(log.contains("Using replay file replays/playground.replay"));
    bool movedLeft = false;
    for (i32 i = 0; i < 12 && !movedLeft; ++i) {
        frame(*app);
        movedLeft = levelInput(*app).move().x == -1.0f;
    }
    EXPECT_TRUE(movedLeft) << "no key was pressed: the replay moved the player";
    app->shutdown();
}

TEST_F(AppInputTest, AMissingTestReplayIsReportedAndTheLevelRuns)
{
    Settings::Replay.runTests = true;
    quern::testing::LogCapture log(2);
    auto app = startLevel();
    EXPECT_TRUE(log.contains("Replay file 'playground.replay' not found"));
    EXPECT_EQ(app->context(app->currentLevelWorld()).inputRecording->mode,
        quern::entity::InputRecordingSystem::Record);
    app->shutdown();
}

TEST_F(AppInputTest, APersistentRecordingIsSavedAtTheSwitchAndNeverReplaced)
{
    Settings::Replay.persistent = true;
    auto app = startLevel();
    const i32 first = app->currentLevelWorld();
    pushKey(SDL_SCANCODE_D, true);
    frames(*app, 3);
    app->appEventQueue().postLoadLevel({ -2, -1, 1, {} });
    for (i32 i = 0; i < 200 && app->currentLevelWorld() == first; ++i)
        frame(*app);
    ASSERT_NE(app->currentLevelWorld(), first);
    EXPECT_EQ(replayFiles().size(), 1u);
    pushKey(SDL_SCANCODE_D, false);
    frames(*app, 3);
    // Within the same second as the first save, most likely: a second file all the same.
    app->shutdown();
    EXPECT_EQ(replayFiles().size(), 2u);
}

TEST_F(AppInputTest, APersistentRecordingIsSavedAtShutdown)
{
    Settings::Replay.persistent = true;
    auto app = startLevel();
    pushKey(SDL_SCANCODE_D, true);
    frames(*app, 3);
    app->shutdown();
    EXPECT_EQ(replayFiles().size(), 1u);
}

} // namespace
} // namespace harmonize
