#include "harmonize/events/AppEventDispatch.h"

#include "harmonize/input/InputSwitcher.h"

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
    } else if (auth.result <= 3) {
        app.setLoggedIn(false);
        if (state == kAppRunningLoggedIn)
            app.setState(kAppRunningLoggedOut);
    }
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
