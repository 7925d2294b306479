#include "harmonize/events/AppEventDispatch.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/levels/NextLevel.h"
#include "harmonize/platform/PlatformServices.h"
#include "harmonize/savegame/Savegame.h"

#include "quern/debug/Log.h"
#include "quern/platform/ErrorReporting.h"

namespace harmonize {
namespace {

template <typename Payload> Payload pop(AppEventQueue& queue, u16 storedType)
{
    Payload payload {};
    queue.popByType(payload, storedType);
    return payload;
}

// LoadLevel and TestLevel.
bool dispatchLoad(AppEventType type, u16 storedType, AppEventQueue& queue, AppEventHost& app, i32 state)
{
    const LoadLevelEvent request = pop<LoadLevelEvent>(queue, storedType);
    // The soak test drives loads in test mode; nothing else may.
    if (type == AppEventType::LoadLevel && app.testMode())
        return true;
    if (state == kAppLoading) {
        queue.pushGrowing(type, &request, sizeof request);
        return false;
    }
    app.loadLevel(request);
    return true;
}

bool dispatchShowMenu(u16 storedType, AppEventQueue& queue, AppEventHost& app, i32 state)
{
    const ShowMenuEvent request = pop<ShowMenuEvent>(queue, storedType);
    const bool show = request.show != 0;
    if (show == app.menuShown())
        return true;
    if (show) {
        if (!app.frontEndHasLevel() || state == kAppLoading) {
            queue.pushGrowing(AppEventType::ShowMenu, &request, sizeof request);
            return false;
        }
        app.setMenuMode(kMenuModeMenu);
    }
    app.setMenuShown(show);
    // The menu's bindings are live while it shows; hiding it pops only its own state.
    InputSwitcher& switcher = app.inputSwitcher();
    if (show)
        switcher.pushState(kInputStateMenu);
    else if (switcher.topState() == kInputStateMenu)
        switcher.popState();
    if (request.pauseLevel)
        app.setLevelPaused(show);
    if (!show)
        app.setMenuMode(kMenuModePlaying);
    return true;
}

void dispatchPlayerAuth(u16 storedType, AppEventQueue& queue, AppEventHost& app, i32 state)
{
    const PlayerAuthEvent auth = pop<PlayerAuthEvent>(queue, storedType);
    if (auth.result == 0) {
        app.setLoggedIn(true);
        if (state == kAppStarting || state == kAppRunningLoggedOut)
            app.setState(kAppRunningLoggedIn);
        // A new player: nothing of the last one's statistics may be stored for them.
        PlayerProfile::clear();
        PlatformServices& platform = app.platformServices();
        if (Settings::Development.resetProgress)
            platform.storeStatistics();
        else
            platform.requestStatistics();
    } else if (auth.result <= 3) {
        app.setLoggedIn(false);
        if (state == kAppRunningLoggedIn)
            app.setState(kAppRunningLoggedOut);
    }
}

void dispatchSavegameEvent(AppEventType type, u16 storedType, AppEventQueue& queue, AppEventHost& app)
{
    const SavegameResultEvent result = pop<SavegameResultEvent>(queue, storedType);
    app.savegame().handleStorageResult(type, result, app.userStorage(), queue, app.levelList());
}

// Continues after the last level finished, or from the first level.
void dispatchResume(AppEventQueue& queue, AppEventHost& app)
{
    queue.drop();
    const LevelList& levels = app.levelList();
    i32 level = 0;
    if (const u8* last = app.savegame().findLastLevel(levels)) {
        QUERN_LOG(3) << "Resuming from level '" << LevelList::recordName(last) << "'" << std::endl;
        level = nextLevelAfter(LevelList::recordWorldEntryIndex(last), levels);
    } else if (const u8* first = levels.levelRecord(0)) {
        QUERN_LOG(3) << "Resume not possible, starting from level 0" << std::endl;
        level = LevelList::recordWorldEntryIndex(first);
    }
    const LoadLevelEvent load { level, -1, 1, {} };
    queue.pushGrowing(AppEventType::LoadLevel, &load, sizeof load);
}

} // namespace

bool dispatchAppEvent(u16 storedType, AppEventQueue& queue, AppEventHost& app)
{
    const i32 state = app.appState();
    if (state == kAppQuitting)
        return false;
    if (storedType > kMaxStoredAppEventType) {
        quern::debug::softAssert("Invalid app event type", "", __FILE__, __LINE__);
        queue.drop();
        return true;
    }

    const AppEventType type = appEventTypeOf(storedType);
    switch (type) {
    case AppEventType::LoadLevel:
    case AppEventType::TestLevel:
        return dispatchLoad(type, storedType, queue, app, state);
    case AppEventType::LevelReload: {
        queue.drop();
        const LoadLevelEvent reload { -2, -1, 1, {} };
        queue.pushGrowing(AppEventType::LoadLevel, &reload, sizeof reload);
        return true;
    }
    case AppEventType::LoadingFinished: {
        const auto finished = pop<LoadingFinishedEvent>(queue, storedType);
        QUERN_LOG(3) << "Loading complete" << std::endl;
        if (finished.targetWorld == kFrontEndWorldIndex)
            app.makeFrontEndResourcesPersistent();
        if (finished.switchWhenLoaded)
            app.switchToLoadedWorld();
        app.setState(app.loggedIn() ? kAppRunningLoggedIn : kAppRunningLoggedOut);
        return true;
    }
    case AppEventType::SwitchWorld:
        queue.drop();
        // Test loads switch as soon as they finish; nothing else may switch.
        if (!app.testMode())
            app.switchToLoadedWorld();
        return true;
    case AppEventType::Quit:
        app.setState(kAppQuitting);
        queue.drop();
        return true;
    case AppEventType::MouseModeChange: {
        const MouseModeChangeEvent mode = pop<MouseModeChangeEvent>(queue, storedType);
        app.setMouseMode(mode.relative != 0, mode.cursorShown != 0);
        return true;
    }
    case AppEventType::ShowMenu:
        return dispatchShowMenu(storedType, queue, app, state);
    case AppEventType::ChangeDisplayResolution: {
        const auto change = pop<ChangeDisplayResolutionEvent>(queue, storedType);
        app.changeDisplayResolution(change.changeMode != 0);
        return true;
    }
    case AppEventType::MusicPlaybackChanged: {
        const auto music = pop<MusicPlaybackChangedEvent>(queue, storedType);
        app.musicVolumeLatch().onPlaybackChanged(music.playing != 0, app.musicVolume());
        return true;
    }
    case AppEventType::PlayerAuth:
        dispatchPlayerAuth(storedType, queue, app, state);
        return true;
    case AppEventType::PlayerStatsReceived:
        queue.drop();
        PlayerProfile::load(app.platformServices());
        return true;
    case AppEventType::SavegameFound:
    case AppEventType::SavegameMissing:
    case AppEventType::SavegameLoaded:
    case AppEventType::SavegameStored:
        dispatchSavegameEvent(type, storedType, queue, app);
        return true;
    case AppEventType::LevelFinished:
        queue.drop();
        app.finishLevel();
        return true;
    case AppEventType::SaveProgress:
        queue.drop();
        app.saveProgress();
        return true;
    case AppEventType::LoadSaveGame:
        queue.drop();
        app.loadSaveGame();
        return true;
    case AppEventType::Resume:
        dispatchResume(queue, app);
        return true;
    case AppEventType::InputDeviceChanged:
        app.inputDeviceChanged(pop<InputDeviceChangedEvent>(queue, storedType).activeController);
        return true;
    case AppEventType::LeaderboardFound: {
        const auto found = pop<LeaderboardFoundEvent>(queue, storedType);
        if (found.found)
            app.keepLeaderboard(found.leaderboard);
        return true;
    }
    case AppEventType::LeaderboardScoreSubmitted: {
        const auto submitted = pop<LeaderboardScoreSubmittedEvent>(queue, storedType);
        if (submitted.succeeded)
            app.showLeaderboardRank(submitted.rank);
        return true;
    }
    case AppEventType::InputContextChanged:
        app.inputContextChanged(pop<InputContextChangedEvent>(queue, storedType).switcherState);
        return true;
    default:
        // Events whose handlers belong to objects the shell does not hold are
        // taken out whole, payload and all.
        queue.drop();
        return true;
    }
}

void drainAppEvents(AppEventQueue& queue, AppEventHost& app)
{
    for (i32 storedType = queue.frontStoredType(); storedType >= 0; storedType = queue.frontStoredType()) {
        if (!dispatchAppEvent(static_cast<u16>(storedType), queue, app))
            return;
    }
}

} // namespace harmonize
