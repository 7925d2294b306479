#include "harmonize/app/App.h"

#include "harmonize/Settings.h"
#include "harmonize/display/DisplaySettings.h"
#include "harmonize/frame/FrameStatistics.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/utils/CurrentWorld.h"
#include "quern/debug/Log.h"
#include "quern/debug/Logger.h"
#include "quern/entity/System.h"
#include "quern/graphics/DisplayWindow.h"
#include "quern/input/InputBackEnd.h"
#include "quern/input/InputManager.h"
#include "quern/input/KeyCodes.h"
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
    m_swapper.loadScript();
    m_dispatcher.start(Settings::Threading);

    m_display = createDisplay();
    openDisplay(*m_display);

    const auto& development = Settings::Development;
    simulateFailures(development.simulateAssert, development.simulateCrash, development.simulateError,
        development.simulateInvalidParameter, development.simulateBufferOverflow);

    m_inputBackEnd = m_display->createInputBackEnd();
    if (!m_inputBackEnd)
        QUERN_FATAL("The display has no input back end");
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
}

void App::startWorlds()
{
    m_swapper.createWorlds(nullptr);
    m_services.appEventQueue = &m_events.queue;
    m_services.graphicsBackEnd = m_display->backEnd();
    m_services.inputManager = m_inputManager;
    m_services.taskDispatcher = &m_dispatcher;
    for (i32 i = 0; i < 3; ++i) {
        quern::entity::World& world = m_swapper.getWorld(static_cast<u64>(i));
        world.clock.step = secondsToMicroseconds(Settings::Development.timestep);
        world.clock.forceAllTicks = Settings::Development.forceAllTicks;
        world.clock.maxDelta = secondsToMicroseconds(Settings::Development.maxDeltaTime);
        AppContext& context = m_contexts[i];
        context = AppContext {};
        context.services = m_services;
        context.app = this;
        context.frontEnd = i == kFrontEndWorld ? 1 : 0;
        context.levelIndex = -1;
        // The first system of every world; the world owns it from here.
        context.transformHierarchy = new TransformHierarchySystem();
        world.addSystem(context.transformHierarchy);
    }
}

void App::shutdown()
{
    if (m_dispatcher.threaded())
        m_dispatcher.stop();
    m_swapper.destroyWorlds();
    for (AppContext& context : m_contexts)
        context = AppContext {};
    if (m_display)
        m_display->removeListener(this);
    if (m_inputManager) {
        if (Settings::Development.enabled)
            m_inputManager->removeListener(&m_developmentKeys);
        if (m_inputBackEnd)
            m_inputBackEnd->close();
        delete m_inputManager;
        m_inputManager = nullptr;
    }
    delete m_inputBackEnd;
    m_inputBackEnd = nullptr;
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

void App::loadLevel(const LoadLevelEvent& request)
{
    QUERN_LOG(2) << "Level " << request.level << " not loaded: this build does not load levels" << std::endl;
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
    if (changeMode) {
        // Choosing a new video mode reloads device resources through the
        // loading worker's cache, which joins with level loading.
        QUERN_LOG(2) << "Display mode changes need the resource cache of level loading" << std::endl;
    } else {
        QUERN_LOG(3) << "Internal resolution changed: " << Settings::Renderer.frameWidth << "x"
                     << Settings::Renderer.frameHeight << std::endl;
    }
    m_display->setSwapInterval(Settings::Graphics.vsync ? 1 : 0);
    processDisplaySize() = { m_display->drawableWidth(), m_display->drawableHeight() };
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
    case DisplayEvent::Deactivated:
        // Muting the sound joins with the sound system.
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

    const i64 updateStart = counterNow();
    const bool levelTicked = tickWorld(m_currentLevelWorld, time);
    const bool menuTicked = m_menuShown && tickWorld(kFrontEndWorld, time);
    const bool rendering = levelTicked && displayOpen() && Settings::Renderer.enabled;
    if (rendering)
        m_display->present();

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

    if (m_inputBackEnd && m_inputManager)
        m_inputBackEnd->pollEvents(m_inputManager->getEventQueue());

    if (displayOpen()) {
        const i64 renderStart = counterNow();
        m_previousRenderStart = renderStart;
        statistics.timings[kRenderPreparationTiming].store(
            static_cast<u64>(ticksToMicroseconds(counterNow() - renderStart)));
    }
    parameters.update(frameSecondsFor(counterNow() - frameStart));
    if (profiler.isEnabled())
        profiler.endSample();
    m_dispatcher.flipFrame();
    finishFrameStatistics();
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
