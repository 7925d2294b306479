#pragma once
// The game application: its worlds and their contexts, the app event queue,
// the task dispatcher, the display and input, and the frame loop that drives
// them. The game program builds one, runs init, warmUp, runMainLoop and
// shutdown on the main thread, then destroys it.

#include "harmonize/events/AppEventDispatch.h"
#include "harmonize/frame/MainLoop.h"
#include "harmonize/frame/WorldUpdateTask.h"
#include "harmonize/hud/OverlayBatch.h"
#include "harmonize/input/InputPrompter.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/platform/AppEventMapper.h"
#include "harmonize/savegame/Savegame.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/SoakTestSystem.h"
#include "harmonize/tasks/LevelLoader.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "harmonize/utils/AppEventQueue.h"
#include "quern/entity/WorldSwapper.h"
#include "quern/graphics/Display.h"
#include "quern/input/InputListener.h"
#include "quern/render/PassList.h"

#include <memory>

namespace quern::audio {
class AudioDevice;
}
namespace quern::graphics {
class GraphicsBackEnd;
}
namespace quern::input {
class InputBackEnd;
class InputManager;
} // namespace quern::input
namespace quern::io {
class HomeFileSystem;
}
namespace quern::serialize {
class StringTable;
}

namespace harmonize {

class App;
class RenderTargetPool;

// Development keys, heard only with Development.enabled.
class DevelopmentKeyListener final : public quern::input::InputListener {
public:
    void onInputEvent(const quern::input::InputEvent& event, quern::input::InputManager& manager) override;

    App* app = nullptr;
    AppEventQueue* queue = nullptr;
    bool leftAltHeld = false;
    bool shiftHeld = false;
};

class App final : public AppEventHost, public MainLoopHost, public quern::graphics::DisplayListener {
public:
    static constexpr i32 kFrontEndWorld = 2;

    App(quern::assets::AssetDatabase* database, quern::assets::Depot* depot, const AppServices& services);
    ~App() override;
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    void init();
    void warmUp() { m_loop.warmUp(*this); }
    void runMainLoop() { m_loop.run(*this); }
    void shutdown();

    // Where "settings.ini" is saved after a window change; null saves nothing.
    void setUserFiles(quern::io::HomeFileSystem* files) { m_userFiles = files; }

    // One frame at the accumulated counter time.
    void runFrame(i64 accumulatedTicks) override;
    // False when the world holds no level; else updates it, on a worker when threaded.
    bool tickWorld(i32 worldIndex, i64 timeMicroseconds);
    // The main thread's work for one world before drawing; it also gives the
    // loading worker its millisecond of main-thread stages.
    void prepareRender(i32 worldIndex);

    // Starts loading level `level` into `world` (-1: the inactive level
    // world), clearing the inactive level world first; returns the world.
    i32 loadLevel(i32 level, i32 world);
    // Makes the loaded level world current: starts it, ends the old level and
    // starts the new one.
    void switchToLoadedWorld() override;
    void startLevel(AppContext& context);
    // The level's sound library (and the menu's), then its reverb, music and ambience.
    void startLevelAudio(AppContext& context);
    // The level a LoadLevel or TestLevel request names, or -1 when it names
    // none that can be loaded (logged).
    i32 resolveLevel(i32 requested) const;
    // Levels in the world script (its last entry is the level list).
    i32 levelCount() const;

    // AppEventHost
    i32 appState() const override { return m_state; }
    void setState(i32 state) override;
    bool testMode() const override { return m_testMode; }
    bool loggedIn() const override { return m_loggedIn; }
    void setLoggedIn(bool loggedIn) override { m_loggedIn = loggedIn; }
    void loadLevel(const LoadLevelEvent& request) override;
    bool frontEndHasLevel() const override;
    void makeFrontEndResourcesPersistent() override { m_loadingWorker.makeCurrentListPersistent(); }
    bool menuShown() const override { return m_menuShown; }
    void setMenuShown(bool shown) override { m_menuShown = shown; }
    void setMenuMode(i32 mode) override { m_menuMode = mode; }
    void setLevelPaused(bool paused) override { m_contexts[m_currentLevelWorld].paused = paused; }
    void setMouseMode(bool relative, bool cursorShown) override;
    void changeDisplayResolution(bool changeMode) override;
    quern::f32& musicVolume() override;
    MusicVolumeLatch& musicVolumeLatch() override { return m_musicLatch; }
    InputSwitcher& inputSwitcher() override { return m_inputSwitcher; }
    void inputDeviceChanged(quern::u8 device) override;
    void inputContextChanged(i32 switcherState) override;
    void keepLeaderboard(quern::u64 leaderboard) override;
    void showLeaderboardRank(i32 rank) override;
    OverlayBatch& overlay() { return m_overlay; }
    InputPrompter& prompter() { return m_prompter; }
    PlatformServices& platformServices() override { return m_platform; }
    Savegame& savegame() override { return m_savegame; }
    quern::io::AsyncUserStorage& userStorage() override;
    const LevelList& levelList() const override { return m_levelList; }
    void finishLevel() override;
    void saveProgress() override;
    void loadSaveGame() override;

    // MainLoopHost
    bool displayOpen() override { return m_display && m_display->isOpen(); }
    void drainAppEvents() override { harmonize::drainAppEvents(m_events.queue, *this); }
    i32 appState() override { return m_state; }

    // DisplayListener
    void onDisplayEvent(const quern::graphics::DisplayEvent& event) override;

    AppEventQueue& appEventQueue() { return m_events.queue; }
    quern::graphics::Display* display() const { return m_display; }
    quern::input::InputManager* inputManager() const { return m_inputManager; }
    TaskDispatcher& taskDispatcher() { return m_dispatcher; }
    AppContext& context(i32 world) { return m_contexts[world]; }
    quern::entity::WorldSwapper& worldSwapper() { return m_swapper; }
    LoadingWorker& loadingWorker() { return m_loadingWorker; }
    i32 currentLevelWorld() const { return m_currentLevelWorld; }
    i32 currentLevelIndex() const { return m_swapper.currentLevel; }
    // The overlay's font, from the level list's global record; 0 when none.
    u32 overlayFont() const { return m_overlayFont; }
    i32 skipPresentCount() const { return m_skipPresent; }
    i32 menuMode() const { return m_menuMode; }
    bool debugOverlayShown() const { return m_showDebugOverlay; }
    void toggleDebugOverlay();

private:
    void startWorlds();
    // The default textures and the built-in materials' programs in the
    // loading worker's cache.
    void registerBuiltInResources();
    void setDefaultPromptVariables();
    // The prompts in labels follow the player's device and input context.
    void refreshTextPrompts();
    void activateInputSystems();
    void postInputSwitcherNotifications();
    void loadLevelList();
    void loadOverlayFont();
    // Asks for the savegame once the player is logged in.
    void requestSavegame();
    // The render pipeline for the current level world, and the front end
    // when it holds the menu's level.
    void buildRenderPipeline();
    void destroyRenderPipeline();

    quern::entity::WorldSwapper m_swapper;
    i32 m_currentLevelWorld = 0;
    AppContext m_contexts[3];
    WorldUpdateTask m_updateTasks[3];
    quern::input::InputManager* m_inputManager = nullptr;
    quern::input::InputBackEnd* m_inputBackEnd = nullptr;
    InputSwitcher m_inputSwitcher;
    AppEventQueueStorage m_events;
    AppEventMapper m_platform { m_events.queue };
    Savegame m_savegame;
    TaskDispatcher m_dispatcher;
    LoadingWorker m_loadingWorker;
    AppServices m_services;
    LevelLoader m_levelLoader { &m_services };
    LevelList m_levelList;
    InputPrompter m_prompter { m_levelList, m_inputSwitcher };
    OverlayBatch m_overlay { m_loadingWorker, m_levelList, m_prompter };
    SoakTestDriver m_soakTest;
    u32 m_overlayFont = 0;
    i32 m_skipPresent = 0;
    quern::graphics::Display* m_display = nullptr;
    quern::render::PassList m_passes;
    std::unique_ptr<RenderTargetPool> m_targetPool;
    MainLoop m_loop;
    DevelopmentKeyListener m_developmentKeys;
    MusicVolumeLatch m_musicLatch;
    quern::io::HomeFileSystem* m_userFiles = nullptr;
    i64 m_previousRenderStart = -1;
    i32 m_state = kAppStarting;
    i32 m_menuMode = kMenuModePlaying;
    bool m_testMode = false;
    bool m_loggedIn = false;
    bool m_menuShown = false;
    bool m_showDebugOverlay = false;
    bool m_pipelineBuilt = false;
};

// Provokes the failures the Development settings ask for, after telling the
// user: a crash and an invalid parameter as writes to two different unmapped
// addresses, an error through the fatal path, a write past a 15-byte block
// for the guard-page heap to catch. The assert flag only announces.
void simulateFailures(bool assert, bool crash, bool error, bool invalidParameter, bool bufferOverflow);

void logBuildInformation();

// A frame's length in counter ticks as seconds for the parameters: never
// below 0, at most 1.
quern::f32 frameSecondsFor(i64 ticks);

} // namespace harmonize
