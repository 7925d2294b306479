#include "harmonize/app/App.h"

#include "harmonize/Settings.h"
#include "harmonize/display/DisplaySettings.h"
#include "harmonize/utils/FrameStatistics.h"
#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputReplayFiles.h"
#include "harmonize/levels/NextLevel.h"
#include "harmonize/render/RenderPipeline.h"
#include "harmonize/render/RenderTargetPool.h"
#include "harmonize/systems/ParticleSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/InputSystem.h"
#include "harmonize/systems/LevelStatisticsSystem.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/systems/SystemRegistration.h"
#include "harmonize/systems/TextRendererSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/utils/CurrentWorld.h"
#include "harmonize/utils/DebugLog.h"
#include "harmonize/utils/TextVariables.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/ResourceCache.h"
#include "quern/memory/GeneralHeap.h"
#include "quern/platform/Clock.h"
#include "quern/debug/Log.h"
#include "quern/debug/Logger.h"
#include "quern/entity/InputRecordingSystem.h"
#include "quern/entity/System.h"
#include "quern/fx/shadows/ShadowMaterial.h"
#include "quern/graphics/DefaultTextures.h"
#include "quern/graphics/DisplayWindow.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/materials/BlitMaterial.h"
#include "quern/graphics/materials/BrightnessMaterial.h"
#include "quern/graphics/materials/ParticleMaterial.h"
#include "quern/graphics/materials/SpriteMaterial.h"
#include "quern/graphics/materials/UnlitMaterial.h"
#include "quern/graphics/materials/YuvToRgbMaterial.h"
#include "quern/input/InputBackEnd.h"
#include "quern/input/InputManager.h"
#include "quern/input/KeyCodes.h"
#include "quern/io/AsyncUserStorage.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/parameter/Parameter.h"
#include "quern/parameter/ParameterRegistry.h"
#include "quern/platform/Clock.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/SystemInfo.h"
#include "quern/profile/Profiler.h"

#include <cmath>
#include <cstdint>
#include <sstream>

namespace harmonize {
namespace {

using quern::graphics::DisplayEvent;
using quern::input::InputEvent;

constexpr i32 kBuildNumber = 4090;

// Main-thread time the loading worker gets per prepared world and frame: one millisecond.
constexpr i64 kMainThreadLoadBudget = static_cast<i64>(quern::platform::kPerformanceFrequency / 1000);

i64 counterNow() { return static_cast<i64>(quern::platform::getPerformanceCounter()); }

// The first page is never mapped: a write there reaches the crash handler.
// The address comes through a volatile so the compiler cannot see it.
void writeToUnmappedAddress(std::uintptr_t address)
{
    volatile std::uintptr_t where = address;
    *reinterpret_cast<volatile int*>(where) = 1;
}

u64 secondsToMicroseconds(quern::f32 seconds) { return static_cast<u64>(seconds * 1'000'000.0f); }

} // namespace

void logBuildInformation()
{
    QUERN_LOG(3) << "Build " << kBuildNumber << std::endl;
    const quern::platform::SystemInfo& system = quern::platform::querySystemInfo();
    quern::debug::logStartupBanner(system.cpuBrand, quern::platform::OSInfo::query());
}

App::App(quern::assets::AssetDatabase* database, quern::assets::Depot* depot, const AppServices& services)
    : m_swapper(database, depot)
    , m_loadingWorker(depot, database)
    , m_services(services)
    , m_loop(FramePacer(Settings::Renderer.maxFrameRate))
{
}

App::~App()
{
    // Stopping a stopped dispatcher does nothing.
    m_dispatcher.stop();
}

void App::init()
{
    logBuildInformation();
    m_testMode = Settings::Test.test;
    mapGameEvents(m_platform);
    m_swapper.loadScript();
    loadLevelList();
    m_savegame.refreshLevelTable(m_levelList);
    m_dispatcher.start(Settings::Threading);

    m_display = createDisplay();
    openDisplay(*m_display);
    m_targetPool = std::make_unique<RenderTargetPool>(*m_display);

    const auto& development = Settings::Development;
    simulateFailures(development.simulateAssert, development.simulateCrash, development.simulateError,
        development.simulateInvalidParameter, development.simulateBufferOverflow);

    m_inputBackEnd = m_display->createInputBackEnd();
    if (!m_inputBackEnd)
        QUERN_FATAL("The display has no input back end");
    parseBindings(Settings::Input);
    m_inputSwitcher.bindContexts();
    quern::input::InputBackEndStatus status;
    m_inputBackEnd->open(status);
    if (status.code != 0)
        QUERN_FATAL(m_inputBackEnd->getStatusText());
    if (development.enabled || !development.retail || development.log) {
        std::ostringstream devices;
        quern::input::InputManager::writeDeviceList(devices, *m_inputBackEnd);
        QUERN_LOG(3) << "Input devices: " << devices.str() << std::endl;
    }
    m_inputManager = new quern::input::InputManager(m_inputBackEnd);
    m_inputBackEnd->showCursor(false);
    if (m_testMode) {
        QUERN_LOG(3) << "Running in test mode" << std::endl;
        m_inputManager->setEvaluateBindings(false);
    }
    if (development.enabled) {
        m_developmentKeys.app = this;
        m_developmentKeys.queue = &m_events.queue;
        m_inputManager->addListener(&m_developmentKeys);
    }
    m_display->addListener(this);
    m_inputSwitcher.attach(*m_inputManager);

    // A step that is not a positive number would stop or flood the fixed ticks.
    if (!(development.timestep > 0.0f) || !std::isfinite(development.timestep))
        QUERN_FATAL("Development.timestep must be above 0");
    quern::entity::setTickInterval(development.timestep);
    quern::entity::setTimeScale(development.timeScale);

    startWorlds();

    if (m_dispatcher.threaded()) {
        // Samples and parameter notifications are not made for several threads at once.
        quern::profile::getProfiler().setEnabled(false);
        quern::ParameterRegistry::instance().setDeferNotifications(true);
    }

    // The first level; the soak test drives loads in test mode.
    const LoadLevelEvent first { -1, -1, 1, {} };
    m_events.queue.pushGrowing(m_testMode ? AppEventType::TestLevel : AppEventType::LoadLevel, &first, sizeof first);
    // The menu's level goes into the front-end world, where it stays.
    if (const u8* menu = m_levelList.menuLevel()) {
        const LoadLevelEvent menuLoad { LevelList::referenceLevelIndex(menu), kFrontEndWorld, 0, {} };
        m_events.queue.pushGrowing(AppEventType::LoadLevel, &menuLoad, sizeof menuLoad);
    }
    setDefaultPromptVariables();
    loadOverlayFont();
    m_overlay.createResources(m_levelList.globalAssetId(LevelList::kOverlayFontOffset));
}

void App::inputDeviceChanged(u8 device)
{
    if (m_inputManager)
        m_prompter.onInputDeviceChanged(device, *m_inputManager);
    refreshTextPrompts();
}

void App::inputContextChanged(i32 switcherState)
{
    m_prompter.setPromptState(switcherState);
    refreshTextPrompts();
}

void App::keepLeaderboard(quern::u64 leaderboard)
{
    if (LevelStatisticsSystem* statistics = m_contexts[m_currentLevelWorld].levelStatistics)
        statistics->setLeaderboard(leaderboard);
}

void App::showLeaderboardRank(i32 rank)
{
    if (LevelStatisticsSystem* statistics = m_contexts[m_currentLevelWorld].levelStatistics)
        statistics->showLeaderboardRank(rank, m_swapper.getWorld(static_cast<u64>(m_currentLevelWorld)));
}

void App::refreshTextPrompts()
{
    // The labels on screen: the current level's and the front end's.
    for (const i32 world : { m_currentLevelWorld, kFrontEndWorld })
        if (TextRendererSystem* text = m_contexts[world].textRenderer)
            text->requestRefresh();
}

void App::setDefaultPromptVariables()
{
    // Controller names until the player's first input picks the device.
    using quern::input::InputOrigin;
    constexpr InputOrigin kOrigins[kPromptVariableCount] = { InputOrigin::Xbox360ButtonX, InputOrigin::Xbox360ButtonB,
        InputOrigin::Xbox360ButtonA, InputOrigin::Xbox360Back, InputOrigin::Xbox360Back, InputOrigin::Xbox360ButtonY,
        InputOrigin::Xbox360ButtonX, InputOrigin::Xbox360ButtonY };
    TextVariables::reserve(kPromptVariableCount);
    for (i32 i = 0; i < kPromptVariableCount; ++i)
        TextVariables::set(kPromptVariables[i].name, quern::input::toString(kOrigins[i]));
}

void App::loadLevelList()
{
    // The world script's last entry is the level list; the entries before it
    // are the levels, one per world entry of the list.
    const u64 scriptCount = m_swapper.getLevelCount();
    m_levelList.load(m_swapper.getLevelId(scriptCount - 1), *m_swapper.depot);
    if (static_cast<u64>(m_levelList.worldEntryCount()) != scriptCount - 1) {
        const std::string message = "The level list has " + std::to_string(m_levelList.worldEntryCount())
            + " world entries but the world script lists " + std::to_string(scriptCount - 1) + " levels";
        QUERN_FATAL(message.c_str());
    }
}

void App::loadOverlayFont()
{
    // Only a global record names the overlay's font; an empty slot means none.
    const u64 id = m_levelList.globalAssetId(LevelList::kOverlayFontOffset);
    if (id == 0 || !m_swapper.depot)
        return;
    quern::assets::ResourceCache& cache = m_loadingWorker.cache();
    const u64 key = quern::assets::loadAsset(id, quern::assets::ResourceType::Font, *m_swapper.depot, cache);
    m_overlayFont = key != 0 ? cache.acquire(key) : 0;
}

i32 App::levelCount() const { return static_cast<i32>(m_swapper.getLevelCount()) - 1; }

void App::startWorlds()
{
    m_swapper.createWorlds(nullptr);
    m_services.appEventQueue = &m_events.queue;
    m_services.levelList = &m_levelList;
    m_services.platformServices = &m_platform;
    m_services.loadingWorker = &m_loadingWorker;
    m_services.graphicsBackEnd = m_display->backEnd();
    m_services.inputManager = m_inputManager;
    m_services.inputSwitcher = &m_inputSwitcher;
    m_services.prompter = &m_prompter;
    m_services.taskDispatcher = &m_dispatcher;
    SystemSetup setup;
    setup.testMode = m_testMode;
    setup.sanity = Settings::Development.sanity;
    if (m_testMode) {
        m_soakTest.setUp(
            m_levelList.worldEntryCount(), Settings::Test.testStart, Settings::Test.testLevels, &m_events.queue);
        setup.soakTest = &m_soakTest;
        setup.seed = quern::platform::getCalendarSeconds();
    }
    for (i32 i = 0; i < 3; ++i) {
        quern::entity::World& world = m_swapper.getWorld(static_cast<u64>(i));
        world.clock.step = secondsToMicroseconds(Settings::Development.timestep);
        world.clock.forceAllTicks = Settings::Development.forceAllTicks;
        world.clock.maxDelta = secondsToMicroseconds(Settings::Development.maxDeltaTime);
        AppContext& context = m_contexts[i];
        context = AppContext {};
        context.services = m_services;
        context.app = this;
        context.overlay = &m_overlay;
        context.frontEnd = i == kFrontEndWorld ? 1 : 0;
        context.levelIndex = -1;
        context.createSystems(world, setup);
    }
    registerBuiltInResources();
}

void App::registerBuiltInResources()
{
    using namespace quern::graphics;
    quern::assets::ResourceCache& cache = m_loadingWorker.cache();
    registerDefaultTextures(cache);
    const ShaderLanguage language = shadingLanguageForVersion(m_display->version());
    UnlitMaterial::registerShaders(language, cache);
    SpriteMaterial::registerShaders(language, cache);
    TextMaterial::registerShaders(language, cache);
    UnlitMaterial::registerVertexColorShaders(language, cache);
    ParticleMaterial::registerShaders(language, cache);
    BlitMaterial::registerShaders(language, cache);
    BrightnessMaterial::registerShaders(language, cache);
    YuvToRgbMaterial::registerShaders(language, cache);
    quern::fx::ShadowMaterial::registerShaders(language, cache);
}

void App::shutdown()
{
    // Storage completions post into the event queue and write the savegame:
    // none may arrive once those are gone.
    quern::io::getUserStorage().waitUntilIdle();
    // A running load stops after the dependency it is queuing; one waiting for
    // the main thread is let go.
    m_loadingWorker.cancel();
    if (m_dispatcher.threaded()) {
        m_dispatcher.wait(m_loadingWorker.task());
        m_dispatcher.stop();
    }
    // The recording is saved while its world still holds it.
    shutdownReplay();
    destroyRenderPipeline();
    m_swapper.destroyWorlds();
    m_overlay.releaseResources();
    m_levelList.clear();
    if (m_overlayFont != 0)
        m_loadingWorker.cache().release(m_overlayFont);
    m_overlayFont = 0;
    for (AppContext& context : m_contexts)
        context = AppContext {};
    m_targetPool.reset();
    if (m_display)
        m_display->removeListener(this);
    if (m_inputManager) {
        if (Settings::Development.enabled)
            m_inputManager->removeListener(&m_developmentKeys);
        m_inputSwitcher.detach(*m_inputManager);
        if (m_inputBackEnd)
            m_inputBackEnd->close();
        delete m_inputManager;
        m_inputManager = nullptr;
    }
    delete m_inputBackEnd;
    m_inputBackEnd = nullptr;
    TextVariables::clear();
    if (m_display)
        m_display->close();
    quern::graphics::Display::set(nullptr);
    m_display = nullptr;
}

void App::setState(i32 state)
{
    // The menu, which mirrors the state, joins with the front end's systems.
    m_state = state;
}

i32 App::resolveLevel(i32 requested) const
{
    const i32 current = m_swapper.currentLevel;
    i32 level = requested;
    if (requested == -1) {
        level = getNextLevelIndex(current, m_swapper, m_levelList);
        // The soak test's first level: a start past the end plays the last level.
        if (m_testMode && current < 0 && level >= levelCount())
            level = levelCount() - 1;
    } else if (requested == -2) {
        level = current;
    }
    if (level == -1) {
        // Past the final level: back to the title when there is one.
        if (const u8* title = m_levelList.titleLevel())
            level = LevelList::referenceLevelIndex(title);
        else {
            QUERN_LOG(2) << "No level follows level " << current << " and there is no title level" << std::endl;
            return -1;
        }
    }
    if (level < 0 || level >= levelCount()) {
        QUERN_LOG(2) << "Level " << level << " is not one of the " << levelCount() << " levels of the world script"
                     << std::endl;
        return -1;
    }
    return level;
}

void App::loadLevel(const LoadLevelEvent& request)
{
    const i32 level = resolveLevel(request.level);
    if (level < 0)
        return;
    m_levelLoader.switchWhenLoaded = request.switchWhenLoaded != 0;
    loadLevel(level, request.world);
    // The loading screen shows from here.
    QUERN_LOG(3) << "Loading started" << std::endl;
}

i32 App::loadLevel(i32 level, i32 world)
{
    if (world == -1)
        world = 1 - m_currentLevelWorld;
    if (world < 0 || world > kFrontEndWorld) {
        QUERN_LOG(2) << "Level " << level << " not loaded: there is no world " << world << std::endl;
        return world;
    }
    quern::entity::World& inactive = m_swapper.getWorld(static_cast<u64>(1 - m_currentLevelWorld));
    if (inactive.store)
        inactive.clear();
    setState(kAppLoading);
    m_levelLoader.targetWorld = world;
    m_swapper.loadLevel(level, m_levelLoader, &m_loadingWorker.cache(), world);
    m_contexts[world].levelIndex = level;
    m_contexts[world].levelAssetId = m_swapper.getLevelId(static_cast<u64>(level));
    return world;
}

void App::switchToLoadedWorld()
{
    LoadWorldTask& load = m_loadingWorker.task();
    if (m_dispatcher.threaded()) {
        // The load may still want main-thread stages: pump them while waiting.
        while (!load.isComplete()) {
            m_loadingWorker.pumpMainThreadJobs(kMainThreadLoadBudget);
            m_dispatcher.runUntilIdle();
        }
        m_dispatcher.wait(load);
        m_dispatcher.runUntilIdle();
    }
    const i32 loaded = 1 - m_currentLevelWorld;
    quern::entity::World& next = m_swapper.getWorld(static_cast<u64>(loaded));
    if (!next.store) {
        QUERN_LOG(2) << "No loaded level to switch to" << std::endl;
        return;
    }
    QUERN_LOG(3) << "Loading complete - memory footprint "
                 << quern::memory::heapFootprint(quern::memory::getGeneralHeap()) / 1024 << "kb" << std::endl;

    // The passes hold the old level's nodes and cameras.
    destroyRenderPipeline();
    setCurrentWorld(&next);
    next.start();
    quern::entity::World& previous = m_swapper.getWorld(static_cast<u64>(m_currentLevelWorld));
    // The old level's recording is saved before its world lets it go.
    shutdownReplay();
    previous.clear();
    m_currentLevelWorld = loaded;
    m_swapper.currentLevel = m_swapper.lastLoadedLevel;
    next.restartClock();
    next.clock.remainder = 0;
    next.clock.tickCount = 0;

    m_loadingWorker.releaseUnusedResources();
    startLevel(m_contexts[loaded]);

    if (!m_testMode) {
        const u8* title = m_levelList.titleLevel();
        const bool show = m_levelList.menuLevel() && title
            && m_swapper.currentLevel == LevelList::referenceLevelIndex(title);
        m_events.queue.postShowMenu({ static_cast<u8>(show ? 1 : 0), 0 });
    }
    clearDebugLine();
}

void App::startLevel(AppContext& context)
{
    // Nothing is presented for two frames: the first images of a level are
    // not drawn yet.
    buildRenderPipeline();
    m_skipPresent = 2;
    context.paused = 0;
    if (m_swapper.currentLevel >= 0) {
        const u64 asset = m_swapper.getLevelId(static_cast<u64>(m_swapper.currentLevel));
        const quern::assets::AssetRecord* record = m_swapper.database ? m_swapper.database->findAsset(asset) : nullptr;
        if (context.levelStatistics && record)
            context.levelStatistics->setLevelValue(static_cast<i32>(record->gameValue));
        if (context.inputRecording)
            setUpReplay(*context.inputRecording, m_swapper.database ? m_swapper.database->getAssetName(asset) : "");
    }
    startLevelAudio(context);
}

void App::startLevelAudio(AppContext& context)
{
    const i32 level = m_swapper.currentLevel;
    if (!context.sound || !m_levelList.loaded())
        return;
    if (const u64 library = m_levelList.soundLibraryOfLevel(level); library != 0 && m_swapper.depot)
        context.sound->loadSoundLibrary(library, *m_swapper.depot);
    const u8* menu = m_levelList.menuLevel();
    SoundSystem* frontEnd = m_contexts[kFrontEndWorld].sound;
    if (menu && !m_testMode && frontEnd && m_swapper.depot && LevelList::referenceSoundLibrary(menu) != 0)
        frontEnd->loadSoundLibrary(LevelList::referenceSoundLibrary(menu), *m_swapper.depot);
    context.sound->applyLevelAudio(level, m_levelList);
}

bool App::frontEndHasLevel() const { return m_swapper.worlds && m_swapper.worlds[kFrontEndWorld].store != nullptr; }

void App::setMouseMode(bool relative, bool cursorShown)
{
    if (!m_inputBackEnd)
        return;
    m_inputBackEnd->setRelativeMouseMode(relative);
    m_inputBackEnd->showCursor(cursorShown);
}

void App::changeDisplayResolution(bool changeMode)
{
    // The targets are made for the old frame size: built again below.
    const bool pipelineWasBuilt = m_pipelineBuilt;
    destroyRenderPipeline();
    if (changeMode) {
        quern::graphics::DisplayWindow* window = m_display->window();
        const i32 state = window ? window->getWindowState() : kWindowNormal;
        const bool fullscreen = window ? state == kWindowFullscreen || state == kWindowFullscreenDesktop
                                       : Settings::Graphics.fullscreen;
        const DisplaySize size = chooseDisplaySize(fullscreen, displaySizeSettings(), *m_display);
        quern::graphics::DisplayConfiguration configuration;
        makeDisplayConfiguration(configuration, *m_display);
        configuration.windowMode = fullscreen ? quern::graphics::DisplayConfiguration::Fullscreen
                                              : quern::graphics::DisplayConfiguration::Windowed;
        // Textures and shader programs of the loading worker's cache are
        // suspended and resumed when the display has to reopen.
        m_display->changeVideoMode(displayModeOfSize(size), configuration, m_loadingWorker.cache());
        QUERN_LOG(3) << "Display resolution changed: " << size.width << "x" << size.height << std::endl;
    } else {
        QUERN_LOG(3) << "Internal resolution changed: " << Settings::Renderer.frameWidth << "x"
                     << Settings::Renderer.frameHeight << std::endl;
    }
    m_display->setSwapInterval(Settings::Graphics.vsync ? 1 : 0);
    processDisplaySize() = { m_display->drawableWidth(), m_display->drawableHeight() };
    if (pipelineWasBuilt)
        buildRenderPipeline();
    if (!Settings::Graphics.fullscreen && m_userFiles) {
        quern::graphics::DisplayWindow* window = m_display->window();
        storeWindowSettings(
            m_display->currentMode(), window ? window->getWindowState() : kWindowNormal, *m_userFiles, &m_musicLatch);
    }
}

quern::f32& App::musicVolume() { return Settings::Audio.musicVolume; }

void App::onDisplayEvent(const DisplayEvent& event)
{
    switch (event.type) {
    case DisplayEvent::Resized:
        if (!Settings::Graphics.fullscreen) {
            QUERN_LOG(3) << "Resized display to " << event.a << "x" << event.b << std::endl;
            m_events.queue.postChangeDisplayResolution({ 0 });
        }
        if (m_inputManager)
            m_inputManager->resetHeldStates();
        break;
    case DisplayEvent::Activated:
        if (m_contexts[m_currentLevelWorld].sound)
            m_contexts[m_currentLevelWorld].sound->setMuted(false);
        break;
    case DisplayEvent::Deactivated:
        if (m_contexts[m_currentLevelWorld].sound)
            m_contexts[m_currentLevelWorld].sound->setMuted(true);
        if (m_inputManager)
            m_inputManager->resetHeldStates();
        break;
    default:
        break;
    }
}

void App::toggleDebugOverlay()
{
    m_showDebugOverlay = !m_showDebugOverlay;
    // The window library is called on the main thread only: the cursor follows
    // through the event queue, not from the world task that hears the key.
    m_events.queue.postMouseModeChange({ 0, static_cast<quern::u8>(m_showDebugOverlay ? 1 : 0) });
    Settings::Development.showDebugGUI = !Settings::Development.showDebugGUI;
}

bool App::tickWorld(i32 worldIndex, i64 timeMicroseconds)
{
    quern::entity::World& world = m_swapper.getWorld(static_cast<u64>(worldIndex));
    if (!world.store)
        return false;
    WorldUpdateTask& task = m_updateTasks[worldIndex];
    task.prepare(world, m_contexts[worldIndex].transformHierarchy, static_cast<u64>(timeMicroseconds));
    m_dispatcher.run(task);
    return true;
}

void App::buildRenderPipeline()
{
    AppContext& level = m_contexts[m_currentLevelWorld];
    quern::entity::World& world = m_swapper.getWorld(static_cast<u64>(m_currentLevelWorld));
    if (!m_display || !m_targetPool || !level.render || !world.store)
        return;
    AppContext* frontEnd = m_levelList.menuLevel() && !m_testMode && frontEndHasLevel() ? &m_contexts[kFrontEndWorld]
                                                                                          : nullptr;
    buildRenderPasses(m_passes, *m_targetPool, level, frontEnd, *m_display, world, m_loadingWorker);
    m_pipelineBuilt = true;
}

void App::destroyRenderPipeline()
{
    if (!m_pipelineBuilt)
        return;
    destroyRenderPasses(m_passes);
    for (AppContext& context : m_contexts)
        context.shadowPass = nullptr;
    m_pipelineBuilt = false;
}

void App::prepareRender(i32 worldIndex)
{
    setCurrentWorld(&m_swapper.getWorld(static_cast<u64>(worldIndex)));
    if (ParticleSystem* particles = m_contexts[worldIndex].particles)
        particles->uploadParticles(m_swapper.getWorld(static_cast<u64>(worldIndex)));
    if (RenderSystem* render = m_contexts[worldIndex].render) {
        render->commitDynamicVisuals();
        render->releaseFrameResources();
    }
    if (TextRendererSystem* text = m_contexts[worldIndex].textRenderer)
        text->render(m_swapper.getWorld(static_cast<u64>(worldIndex)));
    m_loadingWorker.pumpMainThreadJobs(kMainThreadLoadBudget);
}

f32 frameSecondsFor(i64 ticks)
{
    const f32 seconds = static_cast<f32>(ticks) / static_cast<f32>(quern::platform::getPerformanceFrequency());
    return seconds < 0.0f ? 0.0f : seconds > 1.0f ? 1.0f : seconds;
}

void App::runFrame(i64 accumulatedTicks)
{
    quern::ParameterRegistry& parameters = quern::ParameterRegistry::instance();
    quern::profile::Profiler& profiler = quern::profile::getProfiler();
    if (profiler.isEnabled())
        profiler.nextFrame();
    parameters.forEach([](quern::Parameter& parameter) { parameter.beginFrame(); });

    const i64 frameStart = counterNow();
    const i64 time = ticksToMicroseconds(accumulatedTicks);

    activateInputSystems();
    const i64 updateStart = counterNow();
    const bool levelTicked = tickWorld(m_currentLevelWorld, time);
    const bool menuTicked = m_menuShown && tickWorld(kFrontEndWorld, time);
    const bool rendering = levelTicked && displayOpen() && Settings::Renderer.enabled;
    if (rendering) {
        if (m_skipPresent == 0)
            m_display->present();
        else
            --m_skipPresent;
    }

    FrameStatistics& statistics = currentFrameStatistics();
    const i64 now = counterNow();
    if (m_previousRenderStart < 0)
        m_previousRenderStart = now;
    statistics.timings[kFramePeriodTiming].store(static_cast<u64>(ticksToMicroseconds(now - m_previousRenderStart)));
    statistics.timings[kUpdateAndPresentTiming].store(static_cast<u64>(ticksToMicroseconds(now - updateStart)));

    if (levelTicked)
        m_dispatcher.wait(m_updateTasks[m_currentLevelWorld]);
    if (menuTicked)
        m_dispatcher.wait(m_updateTasks[kFrontEndWorld]);
    setCurrentWorld(nullptr);
    postInputSwitcherNotifications();

    if (m_inputBackEnd && m_inputManager)
        m_inputBackEnd->pollEvents(m_inputManager->getEventQueue());

    bool overlayFrameEnded = false;
    if (displayOpen()) {
        const i64 renderStart = counterNow();
        m_previousRenderStart = renderStart;
        prepareRender(m_currentLevelWorld);
        if (m_menuShown)
            prepareRender(kFrontEndWorld);
        statistics.timings[kRenderPreparationTiming].store(
            static_cast<u64>(ticksToMicroseconds(counterNow() - renderStart)));
        if (levelTicked && Settings::Renderer.enabled && m_pipelineBuilt) {
            renderFrame(m_passes, *m_display, m_menuMode == kMenuModeMenu);
            overlayFrameEnded = true;
        }
    }
    // Items and their texts must not pile up in frames that draw nothing.
    if (!overlayFrameEnded)
        m_overlay.endFrame();
    // Buffers the particles retired this frame were drawn for the last time.
    for (AppContext& context : m_contexts)
        if (context.particles)
            context.particles->releaseFrameResources();
    m_platform.update();
    requestSavegame();
    parameters.update(frameSecondsFor(counterNow() - frameStart));
    if (profiler.isEnabled())
        profiler.endSample();
    m_dispatcher.flipFrame();
    finishFrameStatistics();
}

quern::io::AsyncUserStorage& App::userStorage() { return quern::io::getUserStorage(); }

void App::requestSavegame()
{
    if (m_savegame.status != SavegameStatus::NotRequested || !m_loggedIn || Settings::Development.ignoreSavegame)
        return;
    m_savegame.load(userStorage(), m_events.queue);
    if (Settings::Development.resetProgress)
        m_savegame.refreshLevelTable(m_levelList);
}

void App::finishLevel()
{
    // The level's counts are not handed on yet: the result is empty.
    const LevelResult result {};
    const i32 finished = m_swapper.currentLevel;
    const i32 next = getNextLevelIndex(finished, m_swapper, m_levelList);
    m_savegame.onLevelFinished(finished, next, result, m_levelList, m_platform, userStorage(), m_events.queue);
}

void App::saveProgress()
{
    quern::entity::World& world = m_swapper.getWorld(static_cast<u64>(m_currentLevelWorld));
    if (SaveGameSystem* system = m_contexts[m_currentLevelWorld].saveGame; system && world.store)
        system->createQuickSave(world);
}

void App::loadSaveGame()
{
    quern::entity::World& world = m_swapper.getWorld(static_cast<u64>(m_currentLevelWorld));
    if (SaveGameSystem* system = m_contexts[m_currentLevelWorld].saveGame; system && world.store && system->holdsQuickSave())
        system->restoreQuickSave(world);
}

void App::activateInputSystems()
{
    // One world a frame drains the input manager and reads the switcher.
    if (InputSystem* level = m_contexts[m_currentLevelWorld].input)
        level->active = !m_menuShown;
    if (InputSystem* menu = m_contexts[kFrontEndWorld].input)
        menu->active = m_menuShown;
}

void App::postInputSwitcherNotifications()
{
    // The switcher's listener runs in a world task; the prompt texts are
    // main-thread state, so they are refreshed here.
    if (m_inputSwitcher.takeDeviceChanged()) {
        const u8 device = m_inputSwitcher.lastDevice();
        if (device != InputSwitcher::kNoDevice && m_inputManager)
            updatePromptVariables(device, *m_inputManager, m_inputSwitcher.context(kInputStateCutscene));
        m_events.queue.postInputDeviceChanged({ device });
    }
    if (m_inputSwitcher.takeContextChanged())
        m_events.queue.postInputContextChanged({ m_inputSwitcher.topState() });
}

void DevelopmentKeyListener::onInputEvent(const InputEvent& event, quern::input::InputManager&)
{
    using namespace quern::input;
    const bool down = event.type == KeyDown;
    const bool up = event.type == KeyUp;
    if (!down && !up)
        return;
    switch (event.code) {
    case kKeyLeftAlt:
        leftAltHeld = down;
        return;
    case kKeyLeftShift:
    case kKeyRightShift:
        shiftHeld = down;
        return;
    case kKeyA + ('b' - 'a'):
        if (down)
            quern::entity::setTimeScale(leftAltHeld ? 0.01f : shiftHeld ? 10.0f : 0.1f);
        else
            quern::entity::setTimeScale(Settings::Development.timeScale);
        return;
    default:
        break;
    }
    if (!down)
        return;
    switch (event.code) {
    case kKeyA + ('n' - 'a'):
        queue->post(AppEventType::LevelFinished);
        queue->postLoadLevel({ -1, -1, 1, {} });
        break;
    case kKeyA + ('r' - 'a'):
        queue->post(AppEventType::LevelReload);
        break;
    case kKeyA + ('i' - 'a'):
        Settings::Development.showInfo = !Settings::Development.showInfo;
        break;
    case kKeyF1 + 1: // F2
        if (leftAltHeld)
            Settings::Physics.enabled = !Settings::Physics.enabled;
        else
            Settings::Renderer.renderPhysics = !Settings::Renderer.renderPhysics;
        break;
    case kKeyF1 + 2: // F3
        Settings::Development.gizmos = !Settings::Development.gizmos;
        break;
    case kKeyF1 + 3: // F4
        app->toggleDebugOverlay();
        break;
    case kKeyF1 + 5: // F6
        saveReplay();
        break;
    case kKeyF1 + 8: // F9
        if (quern::entity::InputRecordingSystem* recording = app->context(app->currentLevelWorld()).inputRecording) {
            recording->mode = leftAltHeld ? quern::entity::InputRecordingSystem::Off
                                          : quern::entity::InputRecordingSystem::Play;
            if (!leftAltHeld)
                recording->player.reset();
        }
        break;
    case kKeyA + ('f' - 'a'):
        if (InputSystem* input = app->context(app->currentLevelWorld()).input)
            input->toggleFreeCamera();
        break;
    case kKeyF1 + 9: // F10
        Settings::Renderer.renderBloom = !Settings::Renderer.renderBloom;
        Settings::Renderer.renderOverlay = !Settings::Renderer.renderOverlay;
        break;
    case kKeyEscape:
        if (Settings::Development.quitOnEsc)
            queue->post(AppEventType::Quit);
        break;
    default:
        break;
    }
}

void simulateFailures(bool assert, bool crash, bool error, bool invalidParameter, bool bufferOverflow)
{
    if (!assert && !crash && !error && !invalidParameter && !bufferOverflow)
        return;
    quern::platform::announceSimulatedErrors();
    if (crash) {
        QUERN_LOG(3) << "Simulating crash" << std::endl;
        writeToUnmappedAddress(16);
    }
    if (error)
        QUERN_FATAL("Simulated error");
    if (invalidParameter) {
        QUERN_LOG(3) << "Simulating invalid parameter" << std::endl;
        writeToUnmappedAddress(32);
    }
    if (bufferOverflow) {
        QUERN_LOG(3) << "Simulating buffer overflow" << std::endl;
        quern::memory::Allocator* allocator = quern::memory::getDefaultAllocator();
        auto* block = static_cast<volatile quern::u8*>(allocator->allocate(15, 1));
        block[15] = 1;
        allocator->free(const_cast<quern::u8*>(block));
    }
}

} // namespace harmonize
