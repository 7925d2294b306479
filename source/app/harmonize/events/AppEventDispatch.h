#pragma once
// How the main thread answers app events: once per frame it takes them out of
// the queue oldest first and acts on each through the App. A load or a menu
// that cannot happen yet goes back to the tail of the queue and ends the drain
// for this frame, so the events behind it are handled first next frame.

#include "harmonize/utils/AppEventQueue.h"
#include "harmonize/utils/MusicVolume.h"

namespace quern::io {
class AsyncUserStorage;
}

namespace harmonize {

class InputSwitcher;
class LevelList;
class PlatformServices;
class Savegame;

// App states.
enum : i32 {
    kAppStarting = 0,
    kAppRunningLoggedIn = 1,
    kAppLoading = 2,
    kAppQuitting = 4,
    kAppRunningLoggedOut = 5,
};

// The front-end (menu) world; worlds 0 and 1 take turns holding levels.
inline constexpr i32 kFrontEndWorldIndex = 2;

// Menu modes.
enum : i32 {
    kMenuModePlaying = 0,
    kMenuModeMenu = 1,
    kMenuModeLeaderboard = 2,
};

// What the dispatcher asks of the App.
class AppEventHost {
public:
    virtual ~AppEventHost() = default;

    virtual i32 appState() const = 0;
    // Changes the state and mirrors it into the menu; the same state changes nothing.
    virtual void setState(i32 state) = 0;
    virtual bool testMode() const = 0;
    virtual bool loggedIn() const = 0;
    virtual void setLoggedIn(bool loggedIn) = 0;

    // Starts loading the level the request names (level -1 next, -2 current;
    // world -1 the inactive level world); a request that names no level that
    // can be loaded is dropped with a warning.
    virtual void loadLevel(const LoadLevelEvent& request) = 0;

    // Makes the loaded level world current and starts its level.
    virtual void switchToLoadedWorld() = 0;
    // The front end's resources stay loaded for good once its level loaded.
    virtual void makeFrontEndResourcesPersistent() = 0;

    // Whether the front-end world holds its level, so the menu can show.
    virtual bool frontEndHasLevel() const = 0;
    virtual bool menuShown() const = 0;
    virtual void setMenuShown(bool shown) = 0;
    virtual void setMenuMode(i32 mode) = 0;
    virtual void setLevelPaused(bool paused) = 0;

    // Main thread only: the window library is never called from a world task.
    virtual void setMouseMode(bool relative, bool cursorShown) = 0;
    // Rebuilds what depends on the display's size; changeMode also picks and
    // applies a new video mode.
    virtual void changeDisplayResolution(bool changeMode) = 0;

    virtual quern::f32& musicVolume() = 0;
    virtual MusicVolumeLatch& musicVolumeLatch() = 0;
    virtual InputSwitcher& inputSwitcher() = 0;
    // The player moved to another device (255: none), or another input state
    // came on top: prompts follow.
    virtual void inputDeviceChanged(quern::u8 device) = 0;
    virtual void inputContextChanged(i32 switcherState) = 0;
    // The platform found a leaderboard: the current level world's statistics
    // submit to it.
    virtual void keepLeaderboard(quern::u64 leaderboard) = 0;
    // The platform ranked the current level's time.
    virtual void showLeaderboardRank(i32 rank) = 0;

    virtual PlatformServices& platformServices() = 0;
    virtual Savegame& savegame() = 0;
    virtual quern::io::AsyncUserStorage& userStorage() = 0;
    virtual const LevelList& levelList() const = 0;
    // The current level's result and the level after it go to the savegame.
    virtual void finishLevel() = 0;
    // The current level world's quick save: taken, or put back when it holds one.
    virtual void saveProgress() = 0;
    virtual void loadSaveGame() = 0;
};

// Handles the oldest event, whose stored type the caller read from the queue.
// False ends the drain for this frame.
bool dispatchAppEvent(u16 storedType, AppEventQueue& queue, AppEventHost& app);

// Dispatches oldest first until the queue is empty or an event ends the drain.
void drainAppEvents(AppEventQueue& queue, AppEventHost& app);

} // namespace harmonize
