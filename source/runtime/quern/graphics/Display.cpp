#include "quern/graphics/Display.h"

#include "quern/assets/Resource.h"
#include "quern/assets/ResourceCache.h"
#include "quern/debug/Log.h"
#include "quern/graphics/DisplayObjects.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/parameter/Parameter.h"
#include "quern/platform/Clock.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ostream>

namespace quern::graphics {

namespace {

constexpr u64 kMaxStateObjects = 4096;
constexpr u64 kResourceBatch = 256;

// Loaders on worker threads ask for the display; the main thread sets it.
std::atomic<Display*> g_display { nullptr };
std::atomic<bool> g_exitHandlerRegistered { false };
std::atomic<bool> g_capabilitiesLogged { false };

debug::MutexImpl& globalDisplayLock()
{
    static debug::MutexImpl lock;
    return lock;
}

void destroyGlobalDisplayAtExit() { Display::set(nullptr); }

void installGlobal(Display* display)
{
    g_display.store(display, std::memory_order_release);
    if (!g_exitHandlerRegistered.exchange(true))
        std::atexit(destroyGlobalDisplayAtExit);
}

// The pixel size of the current mode's drawable surface: the window size
// when the system reported none.
void drawableSize(const DisplayMode& mode, i32& width, i32& height)
{
    width = mode.drawableWidth > 0 ? mode.drawableWidth : mode.width;
    height = mode.drawableHeight > 0 ? mode.drawableHeight : mode.height;
}

assets::Resource* asResource(void* cached) { return static_cast<assets::Resource*>(static_cast<RefCounted*>(cached)); }

} // namespace

Display::Display(GraphicsBackEnd* backEnd, GraphicsBackEndVersion version)
    : m_backEnd(backEnd)
    , m_context(new DisplayContext(backEnd))
    , m_version(version)
{
    m_defaultConfiguration.caption = "Quern Engine";
    m_defaultConfiguration.depthBits = -1;
    m_defaultConfiguration.stencilBits = -1;
}

Display::~Display()
{
    Display::close();
    m_window = nullptr;
    delete m_context;
    m_context = nullptr;
}

Display* Display::get()
{
    if (Display* display = g_display.load(std::memory_order_acquire))
        return display;
    debug::MutexLock lock(globalDisplayLock());
    if (Display* display = g_display.load(std::memory_order_acquire))
        return display;
    QUERN_LOG(2) << "Display requested, but not initialized: using Null display!" << std::endl;
    Display* display = new NullDisplay();
    installGlobal(display);
    return display;
}

Display* Display::current() { return g_display.load(std::memory_order_acquire); }

Display* Display::set(Display* display)
{
    debug::MutexLock lock(globalDisplayLock());
    Display* previous = g_display.load(std::memory_order_acquire);
    if (previous == display)
        return display;
    // The new display is in place before the old one goes, so nothing that
    // runs during the destruction can reach the old one through the slot.
    installGlobal(display);
    delete previous;
    return display;
}

i32 Display::openWithVideoMode(const DisplayMode& mode, const DisplayConfiguration& configuration)
{
    std::ostream& log = QUERN_LOG(3);
    log << "Requested video mode: ";
    writeDisplayMode(log, mode);
    log << std::endl;

    m_context->currentMode = mode;
    implOpen(m_context->currentMode, configuration);
    m_open = true;
    m_context->active = 1;
    m_window = getWindow();

    BackEndInitParams params;
    params.maxStateObjects = kMaxStateObjects;
    params.stateObjectCache = m_context->stateObjectCache;
    params.allocator = memory::getDefaultAllocator();
    params.window = m_window;
    params.mode = &mode;
    params.configuration = &configuration;
    m_backEnd->init(params);
    getCapabilities();

    // The viewport is in pixels: a high-density screen's drawable is larger
    // than the window size that was asked for.
    i32 width = 0;
    i32 height = 0;
    drawableSize(m_context->currentMode, width, height);
    setViewportOnBackEnd(0, 0, width, height);
    setSwapInterval(configuration.swapInterval);

    m_context->notifyListeners(DisplayEvent { DisplayEvent::Opened, mode.width, mode.height });
    return 0;
}

void Display::close()
{
    if (!m_open)
        return;
    QUERN_LOG(3) << "Closing display" << std::endl;
    m_context->notifyListeners(DisplayEvent { DisplayEvent::Closing, 1, 0 });
    setViewportOnBackEnd(0, 0, 0, 0);
    resize(0, 0);
    m_open = false;
    // The device's own state went with the viewport and buffers: whatever
    // was built for the default Shader must be built again.
    StateObjectCache* cache = m_context->stateObjectCache;
    cache->markShaderDirty(cache->defaultShader());
    destroyRenderTarget(m_context->windowRenderTarget);
    m_context->windowRenderTarget = nullptr;
    m_context->currentMode = DisplayMode {};
    m_context->caps = nullptr;
    m_backEnd->shutdown();
    // Its page texture is a device image of this display.
    Font::releaseDefault();
}

bool Display::getDesktopMode(DisplayMode&) { return false; }

bool Display::applyVideoMode(const DisplayMode& mode)
{
    if (m_open)
        return false;
    openWithVideoMode(mode, m_defaultConfiguration);
    return true;
}

void Display::clear(u32 flags, const f32 colour[4]) { m_backEnd->clear(flags, colour); }

void Display::resize(i32 width, i32 height)
{
    DisplayMode& mode = m_context->currentMode;
    if (!m_open || (width == mode.width && height == mode.height))
        return;
    if (width != 0 && height != 0) {
        m_context->notifyListeners(DisplayEvent { DisplayEvent::Resized, width, height });
        mode.width = width;
        mode.drawableWidth = width;
        mode.height = height;
        mode.drawableHeight = height;
    } else {
        mode = DisplayMode {};
    }
    const i32 viewport[4] = { 0, 0, width, height };
    std::copy(viewport, viewport + 4, m_context->viewport);
}

void Display::setActive(bool active)
{
    m_context->notifyListeners(DisplayEvent { active ? DisplayEvent::Activated : DisplayEvent::Deactivated, 0, 0 });
    m_context->active = active ? 1 : 0;
}

void Display::present()
{
    if (!m_open)
        return;
    m_backEnd->present();
    static f64 s_previousSeconds = -1.0;
    const f64 now
        = static_cast<f64>(platform::getPerformanceCounter()) / static_cast<f64>(platform::getPerformanceFrequency());
    const f64 interval = s_previousSeconds < 0.0 ? 0.0 : now - s_previousSeconds;
    s_previousSeconds = now;
    m_context->statistic(DisplayStatistic::FramesPerSecond)
        ->setValue(interval > 0.0 ? static_cast<f32>(1.0 / interval) : 0.0f);
}

void Display::setViewport(const i32 rect[4])
{
    m_backEnd->setViewport(rect);
    std::copy(rect, rect + 4, m_context->viewport);
}

void Display::setViewportOnBackEnd(i32 x, i32 y, i32 width, i32 height)
{
    const i32 rect[4] = { x, y, width, height };
    setViewport(rect);
}

void Display::addListener(DisplayListener* listener)
{
    if (!listener)
        QUERN_FATAL("Display listener is null");
    debug::MutexLock lock(m_context->listenerLock);
    containers::Array& list = m_context->listeners;
    for (u64 i = 0; i < list.count(); ++i)
        if (list.at<DisplayListener*>(i) == listener)
            return;
    list.append(listener);
}

void Display::removeListener(DisplayListener* listener)
{
    if (!listener)
        return;
    debug::MutexLock lock(m_context->listenerLock);
    listener->detach();
    containers::Array& list = m_context->listeners;
    DisplayListener** entries = list.dataAs<DisplayListener*>();
    DisplayListener** kept = std::remove(entries, entries + list.count(), listener);
    list.expand(static_cast<u64>(kept - entries));
}

bool Display::hasListener(DisplayListener* listener)
{
    debug::MutexLock lock(m_context->listenerLock);
    const containers::Array& list = m_context->listeners;
    for (u64 i = 0; i < list.count(); ++i)
        if (list.at<DisplayListener*>(i) == listener)
            return true;
    return false;
}

const containers::Array& Display::getDisplayModes()
{
    containers::Array& modes = m_context->modes;
    if (modes.isEmpty()) {
        enumerateModes(modes);
        DisplayMode* first = modes.dataAs<DisplayMode>();
        std::sort(first, first + modes.count());
    }
    return modes;
}

DisplayCaps* Display::getCapabilities()
{
    if (m_context->caps)
        return m_context->caps;
    DisplayCaps* caps = m_backEnd->getCapabilities();
    caps->queried = 1;
    m_context->caps = caps;
    if (!g_capabilitiesLogged.exchange(true)) {
        QUERN_LOG(4) << "Texture units: " << caps->textureUnits << std::endl;
        QUERN_LOG(4) << "Max texture size: " << caps->maxTextureSize << std::endl;
        if (caps->vramMegabytes != 0)
            QUERN_LOG(4) << "VRAM: " << caps->vramMegabytes << " MB" << std::endl;
    }
    return caps;
}

bool Display::changeVideoMode(
    const DisplayMode& mode, const DisplayConfiguration& configuration, assets::ResourceCache& cache)
{
    if (!m_open) {
        openWithVideoMode(mode, configuration);
        return true;
    }
    const DisplayMode& current = m_context->currentMode;
    if (!(current < mode) && !(mode < current))
        return false;

    if (applyVideoMode(mode)) {
        std::ostream& log = QUERN_LOG(3);
        log << "Changed video mode: ";
        writeDisplayMode(log, mode);
        log << std::endl;
        resize(mode.width, mode.height);
        m_context->currentMode = mode;
        m_context->active = 1;
        i32 width = 0;
        i32 height = 0;
        drawableSize(m_context->currentMode, width, height);
        setViewportOnBackEnd(0, 0, width, height);
        const f32 black[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
        clear(0x7fffffff, black);
    } else {
        suspendResources(cache, assets::ResourceType::ShaderProgram);
        suspendResources(cache, assets::ResourceType::Texture);
        close();
        openWithVideoMode(mode, configuration);
        resumeResources(cache, assets::ResourceType::ShaderProgram);
        resumeResources(cache, assets::ResourceType::Texture);
    }
    i32 width = 0;
    i32 height = 0;
    drawableSize(m_context->currentMode, width, height);
    setViewportOnBackEnd(0, 0, width, height);
    return true;
}

void Display::suspendResources(assets::ResourceCache& cache, u64 typeId)
{
    void* batch[kResourceBatch];
    u64 cursor = 0;
    while (u64 count = cache.enumerate(typeId, cursor, batch, kResourceBatch))
        for (u64 i = 0; i < count; ++i)
            asResource(batch[i])->suspend();
}

void Display::resumeResources(assets::ResourceCache& cache, u64 typeId)
{
    void* batch[kResourceBatch];
    u64 cursor = 0;
    while (u64 count = cache.enumerate(typeId, cursor, batch, kResourceBatch))
        for (u64 i = 0; i < count; ++i)
            asResource(batch[i])->resume();
}

DisplayMode Display::getDesktopDisplayMode()
{
    DisplayMode mode;
    if (getDesktopMode(mode))
        return mode;
    const containers::Array& modes = getDisplayModes();
    if (modes.isEmpty())
        return DisplayMode {};
    return modes.at<DisplayMode>(0);
}

} // namespace quern::graphics
