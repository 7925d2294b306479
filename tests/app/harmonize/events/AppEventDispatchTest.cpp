#include "harmonize/events/AppEventDispatch.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/levels/NextLevel.h"
#include "harmonize/savegame/Savegame.h"

#include "quern/io/AsyncUserStorage.h"
#include "quern/platform/ErrorReporting.h"

#include "LevelListWriter.h"
#include "support/LogCapture.h"
#include "support/SoftAssertRecorder.h"
#include "support/harmonize/RecordingPlatformServices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harmonize {
namespace {

// Stands in for the App: keeps the state the dispatcher reads and writes, and
// writes down every request it receives.
class FakeApp final : public AppEventHost {
public:
    i32 appState() const override { return state; }
    void setState(i32 newState) override
    {
        if (newState == state)
            return;
        state = newState;
        calls.push_back("state " + std::to_string(newState));
    }
    bool testMode() const override { return test; }
    bool loggedIn() const override { return logged; }
    void setLoggedIn(bool value) override { logged = value; }
    void loadLevel(const LoadLevelEvent& request) override
    {
        calls.push_back("load " + std::to_string(request.level) + " " + std::to_string(request.world) + " "
            + std::to_string(request.switchWhenLoaded));
    }
    void switchToLoadedWorld() override { calls.push_back("switch"); }
    void makeFrontEndResourcesPersistent() override { calls.push_back("persist"); }
    bool frontEndHasLevel() const override { return frontEndReady; }
    bool menuShown() const override { return shown; }
    void setMenuShown(bool value) override { shown = value; }
    void setMenuMode(i32 mode) override { menuMode = mode; }
    void setLevelPaused(bool value) override { paused = value; }
    void setMouseMode(bool relative, bool cursor) override
    {
        calls.push_back(std::string("mouse ") + (relative ? "1" : "0") + (cursor ? "1" : "0"));
    }
    void changeDisplayResolution(bool changeMode) override
    {
        calls.push_back(std::string("resolution ") + (changeMode ? "1" : "0"));
    }
    quern::f32& musicVolume() override { return volume; }
    MusicVolumeLatch& musicVolumeLatch() override { return latch; }
    InputSwitcher& inputSwitcher() override { return switcher; }
    void inputDeviceChanged(quern::u8 device) override { devices.push_back(device); }
    void inputContextChanged(i32 switcherState) override { contexts.push_back(switcherState); }
    void keepLeaderboard(quern::u64 leaderboard) override { calls.push_back("leaderboard " + std::to_string(leaderboard)); }
    void showLeaderboardRank(i32 rank) override { calls.push_back("rank " + std::to_string(rank)); }
    PlatformServices& platformServices() override { return platform; }
    Savegame& savegame() override { return progress; }
    // Never started: nothing here may reach the files.
    quern::io::AsyncUserStorage& userStorage() override { return storage; }
    const LevelList& levelList() const override { return levels; }
    void finishLevel() override { calls.push_back("finish"); }
    void saveProgress() override { calls.push_back("save"); }
    void loadSaveGame() override { calls.push_back("restore"); }

    test::RecordingPlatformServices platform;
    Savegame progress;
    quern::io::AsyncUserStorage storage;
    LevelList levels;
    i32 state = kAppRunningLoggedIn;
    bool test = false;
    bool logged = true;
    bool frontEndReady = true;
    bool shown = false;
    bool paused = false;
    i32 menuMode = kMenuModePlaying;
    quern::f32 volume = 0.75f;
    InputSwitcher switcher;
    std::vector<quern::u8> devices;
    std::vector<i32> contexts;
    MusicVolumeLatch latch;
    std::vector<std::string> calls;
};

using quern::testing::SoftAssertRecorder;

class AppEventDispatchTest : public ::testing::Test {
protected:
    // The stored types left in the queue, oldest first, without taking them out for good.
    std::vector<AppEventType> pending()
    {
        std::vector<AppEventType> types;
        AppEventQueueStorage copy;
        for (i32 t = queue().frontStoredType(); t >= 0; t = queue().frontStoredType()) {
            u8 payload[24];
            queue().popByType(payload, sizeof payload, static_cast<u16>(t));
            types.push_back(appEventTypeOf(static_cast<u16>(t)));
            copy.queue.pushGrowing(
                appEventTypeOf(static_cast<u16>(t)), payload, appEventPayloadSize(appEventTypeOf(static_cast<u16>(t))));
        }
        for (i32 t = copy.queue.frontStoredType(); t >= 0; t = copy.queue.frontStoredType()) {
            u8 payload[24];
            copy.queue.popByType(payload, sizeof payload, static_cast<u16>(t));
            queue().pushGrowing(
                appEventTypeOf(static_cast<u16>(t)), payload, appEventPayloadSize(appEventTypeOf(static_cast<u16>(t))));
        }
        return types;
    }
    AppEventQueue& queue() { return storage.queue; }
    void drain() { drainAppEvents(queue(), app); }

    AppEventQueueStorage storage;
    FakeApp app;
};

TEST_F(AppEventDispatchTest, QuitEndsTheDrainAndLeavesTheRestAlone)
{
    queue().post(AppEventType::Quit);
    queue().postLoadLevel({ 1, 0, 1, {} });
    drain();
    EXPECT_EQ(app.state, kAppQuitting);
    EXPECT_EQ(pending(), std::vector<AppEventType> { AppEventType::LoadLevel });
    drain(); // quitting: the queue is not touched again
    EXPECT_EQ(pending(), std::vector<AppEventType> { AppEventType::LoadLevel });
    EXPECT_EQ(app.calls, std::vector<std::string> { "state 4" });
}

TEST_F(AppEventDispatchTest, LoadDuringALoadWaitsBehindTheEventsQueuedAfterIt)
{
    app.state = kAppLoading;
    queue().postLoadLevel({ 5, -1, 1, {} });
    queue().postMouseModeChange({ 1, 0 });
    queue().postChangeDisplayResolution({ 0 });

    drain(); // frame 1: the load goes to the back, nothing else runs
    EXPECT_TRUE(app.calls.empty());
    EXPECT_EQ(pending(),
        (std::vector<AppEventType> {
            AppEventType::MouseModeChange, AppEventType::ChangeDisplayResolution, AppEventType::LoadLevel }));

    drain(); // frame 2: the events behind it first, then the load is tried again
    EXPECT_EQ(app.calls, (std::vector<std::string> { "mouse 10", "resolution 0" }));
    EXPECT_EQ(pending(), std::vector<AppEventType> { AppEventType::LoadLevel });

    app.state = kAppRunningLoggedIn; // the running load finished
    drain();
    EXPECT_EQ(app.calls.back(), "load 5 -1 1");
    EXPECT_TRUE(queue().isEmpty());
    EXPECT_EQ(storage.queue.postingCapacity(), 4096u);
}

TEST_F(AppEventDispatchTest, TestModeIgnoresLoadLevelButLoadsTestLevel)
{
    app.test = true;
    queue().postLoadLevel({ 1, -1, 1, {} });
    queue().postTestLevel({ 2, -1, 1, {} });
    drain();
    EXPECT_EQ(app.calls, std::vector<std::string> { "load 2 -1 1" });
    EXPECT_TRUE(queue().isEmpty());
}

TEST_F(AppEventDispatchTest, LevelReloadLoadsTheCurrentLevelIntoTheOtherWorld)
{
    queue().post(AppEventType::LevelReload);
    drain();
    EXPECT_EQ(app.calls, std::vector<std::string> { "load -2 -1 1" });
}

TEST_F(AppEventDispatchTest, ShowMenuWaitsForTheFrontEndWorld)
{
    app.frontEndReady = false;
    queue().postShowMenu({ 1, 1 });
    queue().post(AppEventType::SaveProgress);
    drain();
    EXPECT_FALSE(app.shown);
    EXPECT_EQ(pending(), (std::vector<AppEventType> { AppEventType::SaveProgress, AppEventType::ShowMenu }));

    app.frontEndReady = true;
    drain();
    EXPECT_TRUE(app.shown);
    EXPECT_TRUE(app.paused);
    EXPECT_EQ(app.menuMode, kMenuModeMenu);

    // Showing it again changes nothing; hiding it without the pause byte keeps the pause.
    queue().postShowMenu({ 1, 0 });
    queue().postShowMenu({ 0, 0 });
    drain();
    EXPECT_FALSE(app.shown);
    EXPECT_TRUE(app.paused);
    EXPECT_EQ(app.menuMode, kMenuModePlaying);
}

TEST_F(AppEventDispatchTest, TheMenuPushesItsInputStateAndPopsOnlyItsOwn)
{
    queue().postShowMenu({ 1, 0 });
    drain();
    EXPECT_EQ(app.switcher.topState(), kInputStateMenu);
    EXPECT_TRUE(app.switcher.context(kInputStateMenu).enabled);
    queue().postShowMenu({ 0, 0 });
    drain();
    EXPECT_EQ(app.switcher.topState(), kInputStateGame);

    // A state pushed over the menu is not the menu's to pop.
    queue().postShowMenu({ 1, 0 });
    drain();
    app.switcher.pushState(kInputStateMenuWaiting);
    queue().postShowMenu({ 0, 0 });
    drain();
    EXPECT_EQ(app.switcher.topState(), kInputStateMenuWaiting);
    EXPECT_EQ(app.switcher.stackDepth(), 3);
}

TEST_F(AppEventDispatchTest, ShowMenuWaitsWhileALevelLoads)
{
    app.state = kAppLoading;
    queue().postShowMenu({ 1, 0 });
    drain();
    EXPECT_FALSE(app.shown);
    EXPECT_EQ(pending(), std::vector<AppEventType> { AppEventType::ShowMenu });
}

TEST_F(AppEventDispatchTest, BadStoredTypeIsReportedAndDropped)
{
    SoftAssertRecorder asserts;
    queue().post(u16 { 31 });
    queue().post(u16 { 0xfffe });
    queue().post(AppEventType::Quit);
    drain();
    EXPECT_EQ(SoftAssertRecorder::messages,
        (std::vector<std::string> { "Invalid app event type", "Invalid app event type" }));
    EXPECT_EQ(app.state, kAppQuitting);
    EXPECT_TRUE(queue().isEmpty());
}

TEST_F(AppEventDispatchTest, EventsWithoutAHandlerHereAreTakenOutWithTheirPayload)
{
    const u8 payload[24] = {};
    for (AppEventType type : { AppEventType::LeaderboardScoresReceived, AppEventType::ShowLeaderboard,
             AppEventType::InputContextChanged, AppEventType::AchievementUnlocked, AppEventType::SwitchProfile })
        queue().postEvent(type, payload, appEventPayloadSize(type));
    queue().postMouseModeChange({ 0, 1 });
    drain();
    EXPECT_EQ(app.calls, std::vector<std::string> { "mouse 01" });
    EXPECT_TRUE(queue().isEmpty());
}

TEST_F(AppEventDispatchTest, LoadingFinishedChoosesTheStateByLogin)
{
    struct Case {
        i32 state;
        bool loggedIn;
        i32 expected;
    } cases[] = {
        { kAppLoading, true, kAppRunningLoggedIn },
        { kAppLoading, false, kAppRunningLoggedOut },
        { kAppStarting, false, kAppRunningLoggedOut },
    };
    for (const Case& c : cases) {
        app.state = c.state;
        app.logged = c.loggedIn;
        queue().postLoadingFinished({ 42, 1, 0, {} });
        drain();
        EXPECT_EQ(app.state, c.expected);
        EXPECT_TRUE(queue().isEmpty());
    }
}

TEST_F(AppEventDispatchTest, LoadingFinishedSwitchesWhenAskedAndKeepsTheFrontEndsResources)
{
    struct Case {
        i32 world;
        u8 switchWhenLoaded;
        std::vector<std::string> calls;
    } cases[] = {
        { 1, 1, { "switch", "state 1" } },
        { 0, 0, { "state 1" } },
        { 2, 0, { "persist", "state 1" } },
        { 2, 1, { "persist", "switch", "state 1" } },
    };
    for (const Case& c : cases) {
        app.state = kAppLoading;
        app.calls.clear();
        queue().postLoadingFinished({ 42, c.world, c.switchWhenLoaded, {} });
        drain();
        EXPECT_EQ(app.calls, c.calls) << c.world << " " << int { c.switchWhenLoaded };
    }
}

TEST_F(AppEventDispatchTest, SwitchWorldSwitchesExceptInTestMode)
{
    queue().post(AppEventType::SwitchWorld);
    drain();
    EXPECT_EQ(app.calls, std::vector<std::string> { "switch" });
    app.calls.clear();
    app.test = true;
    queue().post(AppEventType::SwitchWorld);
    drain();
    EXPECT_TRUE(app.calls.empty());
    EXPECT_TRUE(queue().isEmpty());
}

TEST_F(AppEventDispatchTest, OnlyAFoundLeaderboardAndASucceededSubmissionReachTheLevel)
{
    for (const u8 found : { 0, 1 }) {
        LeaderboardFoundEvent event {};
        event.leaderboard = 0x1122334455667788ull;
        event.found = found;
        queue().postEvent(AppEventType::LeaderboardFound, &event, sizeof event);
    }
    for (const u8 succeeded : { 0, 1 }) {
        LeaderboardScoreSubmittedEvent event {};
        event.rank = 7 + succeeded;
        event.succeeded = succeeded;
        queue().postEvent(AppEventType::LeaderboardScoreSubmitted, &event, sizeof event);
    }
    drain();
    EXPECT_EQ(app.calls, (std::vector<std::string> { "leaderboard 1234605616436508552", "rank 8" }));
    EXPECT_TRUE(queue().isEmpty());
}

TEST_F(AppEventDispatchTest, PlayerAuthLogsInAndOut)
{
    struct Case {
        i32 state;
        bool loggedIn;
        u8 result;
        i32 expectedState;
        bool expectedLoggedIn;
    } cases[] = {
        { kAppStarting, false, 0, kAppRunningLoggedIn, true },
        { kAppRunningLoggedOut, false, 0, kAppRunningLoggedIn, true },
        { kAppLoading, false, 0, kAppLoading, true },
        { kAppRunningLoggedIn, true, 1, kAppRunningLoggedOut, false },
        { kAppRunningLoggedIn, true, 3, kAppRunningLoggedOut, false },
        { kAppStarting, true, 2, kAppStarting, false },
        // Results outside the known ones change neither.
        { kAppRunningLoggedIn, true, 5, kAppRunningLoggedIn, true },
        { kAppRunningLoggedOut, false, 5, kAppRunningLoggedOut, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " result " << int { c.result });
        app.state = c.state;
        app.logged = c.loggedIn;
        PlayerAuthEvent auth {};
        auth.userId = 77;
        auth.result = c.result;
        queue().postEvent(AppEventType::PlayerAuth, &auth, sizeof auth);
        drain();
        EXPECT_EQ(app.state, c.expectedState);
        EXPECT_EQ(app.logged, c.expectedLoggedIn);
    }
}

TEST_F(AppEventDispatchTest, MusicPlaybackKeepsThePlayersVolumeAside)
{
    auto post = [this](bool playing) {
        MusicPlaybackChangedEvent music {};
        music.playing = playing ? 1 : 0;
        queue().postEvent(AppEventType::MusicPlaybackChanged, &music, sizeof music);
    };
    post(true);
    post(true); // a second report must not keep the silenced zero
    drain();
    EXPECT_EQ(app.volume, 0.0f);
    EXPECT_EQ(app.latch.volumeToSave(app.volume), 0.75f);
    post(false);
    drain();
    EXPECT_EQ(app.volume, 0.75f);
    EXPECT_EQ(app.latch.volumeToSave(app.volume), 0.75f);
    post(false); // stopping twice leaves a changed volume alone
    app.volume = 0.5f;
    drain();
    EXPECT_EQ(app.volume, 0.5f);
}

// Three levels in two worlds; the second level's id is 12.
void buildLevels(LevelList& levels)
{
    const char* source = "world 0 0\nworld 0 1\nworld 0 2\n"
                         "level 0 id 11 chapter 0 name One\n"
                         "level 1 id 12 chapter 0 name Two\n"
                         "level 2 id 13 chapter 1 name Three\n";
    std::vector<u8> image;
    std::string error;
    ASSERT_TRUE(quern::assetbuild::buildLevelList(source, {}, image, error)) << error;
    ASSERT_TRUE(levels.parse(image.data(), image.size(), &error)) << error;
}

class ProgressDispatchTest : public AppEventDispatchTest {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        PlayerProfile::clear();
        buildLevels(app.levels);
    }
    void TearDown() override
    {
        Settings::resetToDefaults();
        PlayerProfile::clear();
    }
    void postSavegame(AppEventType type, bool succeeded, const char* error = nullptr)
    {
        const SavegameResultEvent result { error, static_cast<u8>(succeeded ? 1 : 0), {} };
        queue().postEvent(type, &result, sizeof result);
    }
};

TEST_F(ProgressDispatchTest, ALoginStartsAFreshProfileAndAsksForItsStatistics)
{
    struct Case {
        bool resetProgress;
        const char* expected;
    } cases[] = { { false, "requestStatistics" }, { true, "storeStatistics" } };
    for (const Case& c : cases) {
        Settings::Development.resetProgress = c.resetProgress;
        app.platform.calls.clear();
        *PlayerProfile::statCounter(kStatJumps) = 40;
        PlayerProfile::statsReceived = true;
        const PlayerAuthEvent success {};
        queue().postEvent(AppEventType::PlayerAuth, &success, sizeof success);
        drain();
        EXPECT_EQ(*PlayerProfile::statCounter(kStatJumps), 0u);
        EXPECT_FALSE(PlayerProfile::statsReceived);
        ASSERT_EQ(app.platform.calls.size(), 1u);
        EXPECT_EQ(app.platform.calls[0].operation, c.expected);
    }
    // A failed login leaves the profile alone.
    *PlayerProfile::statCounter(kStatJumps) = 40;
    PlayerAuthEvent failed {};
    failed.result = 2;
    queue().postEvent(AppEventType::PlayerAuth, &failed, sizeof failed);
    drain();
    EXPECT_EQ(*PlayerProfile::statCounter(kStatJumps), 40u);
}

TEST_F(ProgressDispatchTest, ReceivedStatisticsAreLoadedIntoTheProfile)
{
    app.platform.statisticAnswers.assign(kStatCount, 0);
    app.platform.statisticAnswers[kStatDeaths] = 9;
    queue().post(AppEventType::PlayerStatsReceived);
    drain();
    EXPECT_TRUE(PlayerProfile::statsReceived);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatDeaths), 9u);
}

TEST_F(ProgressDispatchTest, SavegameEventsSettleTheStatusAndGiveEveryLevelItsSlot)
{
    struct Case {
        AppEventType type;
        bool succeeded;
        const char* error;
        SavegameStatus expected;
        bool logged;
    } cases[] = {
        { AppEventType::SavegameMissing, true, "Path not found", SavegameStatus::None, false },
        { AppEventType::SavegameMissing, false, "Read error", SavegameStatus::None, true },
        { AppEventType::SavegameLoaded, false, "Invalid savegame", SavegameStatus::None, true },
        { AppEventType::SavegameStored, true, nullptr, SavegameStatus::Loaded, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toString(c.type));
        app.progress.reset();
        app.progress.status = SavegameStatus::Reading;
        quern::testing::LogCapture errors(1);
        postSavegame(c.type, c.succeeded, c.error);
        drain();
        EXPECT_EQ(app.progress.status, c.expected);
        EXPECT_GE(app.progress.findSlot(13), 0);
        EXPECT_EQ(errors.contains(c.error ? c.error : "?"), c.logged);
    }
}

TEST_F(ProgressDispatchTest, FinishesAndQuickSavesGoToTheAppInQueueOrder)
{
    queue().post(AppEventType::SaveProgress);
    queue().post(AppEventType::LevelFinished);
    queue().post(AppEventType::LoadSaveGame);
    drain();
    EXPECT_EQ(app.calls, (std::vector<std::string> { "save", "finish", "restore" }));
    EXPECT_TRUE(queue().isEmpty());
}

TEST_F(ProgressDispatchTest, ResumeContinuesAfterTheLastLevelFinished)
{
    struct Case {
        i32 lastLevelId;
        bool withLevels;
        i32 expectedLevel;
        const char* logged;
    } cases[] = {
        { 12, true, 2, "Resuming from level 'Two'" },
        { 99, true, 0, "Resume not possible, starting from level 0" },
        { 0, false, 0, nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastLevelId);
        if (!c.withLevels)
            app.levels.clear();
        app.progress.record.lastLevelId = c.lastLevelId;
        quern::testing::LogCapture info(3);
        queue().post(AppEventType::Resume);
        drain(); // the LoadLevel it pushes is handled in the same drain
        ASSERT_FALSE(app.calls.empty());
        EXPECT_EQ(app.calls.back(), "load " + std::to_string(c.expectedLevel) + " -1 1");
        if (c.logged) {
            EXPECT_TRUE(info.contains(c.logged)) << info.text();
        }
        app.calls.clear();
    }
}

} // namespace
} // namespace harmonize
