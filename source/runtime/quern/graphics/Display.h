#pragma once
// The window-and-screen object. One global display owns the per-display state
// (current video mode, viewport, supported modes, capabilities, the listeners,
// the display statistics) and drives a graphics device through open, present,
// resize and close. Every graphics resource that owns device data listens to
// it, so that it can drop its device objects when the display closes and
// rebuild them after a change of video mode.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/debug/MutexImpl.h"
#include "quern/graphics/DisplayMode.h"
#include "quern/graphics/GraphicsBackEnd.h"

namespace quern {
class Parameter;
class ParameterRegistry;
} // namespace quern

namespace quern::assets {
class ResourceCache;
}

namespace quern::input {
class InputBackEnd;
}

namespace quern::graphics {

class DisplayWindow;
class StateObjectCache;
class TextureRenderTarget;

struct DisplayEvent {
    enum Type : u32 {
        Opened = 0, // a, b: width and height of the requested mode
        Closing = 1, // first byte of a: 1 when the device objects go for good
        Resized = 2, // a, b: new width and height
        Activated = 3,
        Deactivated = 4,
    };

    u32 type = Opened;
    i32 a = 0;
    i32 b = 0;
};

class DisplayListener {
public:
    virtual ~DisplayListener() = default;
    // Called with the display's listener lock held: do not add or remove
    // listeners from here.
    virtual void onDisplayEvent(const DisplayEvent& event) = 0;
    // Called when the listener is removed or the display goes away.
    virtual void detach() { }
};

// The statistics a display publishes in the parameter registry.
enum class DisplayStatistic : u32 {
    FramesPerSecond = 0,
    TextureMemoryUsed = 1,
    VertexMemoryUsed = 2,
    RenderTargetMemoryUsed = 3,
    FreeVram = 4,
};

// The per-display state, owned by its Display.
class DisplayContext {
public:
    static constexpr u64 kStatisticsGroup = 0x0a8316eb69efc616ull;
    static constexpr u32 kStatisticCount = 5;

    explicit DisplayContext(GraphicsBackEnd* backEnd);
    // Detaches every listener still registered.
    ~DisplayContext();
    DisplayContext(const DisplayContext&) = delete;
    DisplayContext& operator=(const DisplayContext&) = delete;

    // Calls onDisplayEvent of every listener in list order, under the lock.
    void notifyListeners(const DisplayEvent& event);

    Parameter* statistic(DisplayStatistic which) const { return statistics[static_cast<u32>(which)]; }

    i32 viewport[4] = { 0, 0, 0, 0 };
    DisplayMode currentMode;
    DisplayCaps* caps = nullptr; // owned by the device
    containers::Array modes; // DisplayMode, sorted
    // Owned; over the display's device.
    StateObjectCache* stateObjectCache = nullptr;
    containers::Array listeners; // DisplayListener*, not owned
    // The target of the window's own frame buffer, made on first request.
    TextureRenderTarget* windowRenderTarget = nullptr;
    ParameterRegistry* registry = nullptr;
    Parameter* statistics[kStatisticCount] = {};
    debug::MutexImpl listenerLock;
    u8 active = 1;
};

class Display {
public:
    Display(GraphicsBackEnd* backEnd, GraphicsBackEndVersion version);
    // Closes, forgets the window, destroys the context.
    virtual ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    // Tells the listeners, clears the viewport, drops the window's render
    // target and shuts the device down. Nothing when closed.
    virtual void close();
    virtual bool getDesktopMode(DisplayMode& out);
    // Around a frame's render commands.
    virtual void beginRendering() { }
    virtual void endRendering() { }
    virtual void setSwapInterval(i32 interval) = 0;
    virtual input::InputBackEnd* createInputBackEnd() = 0;
    // Changes the mode in place. Base: when closed, opens with the default
    // configuration and returns true; when open, false.
    virtual bool applyVideoMode(const DisplayMode& mode);
    // Makes the window and its context; may write back what it really made
    // (drawable size, refresh rate, buffer bits).
    virtual void implOpen(DisplayMode& mode, const DisplayConfiguration& configuration) = 0;
    virtual void clear(u32 flags, const f32 colour[4]);
    // Appends every supported DisplayMode.
    virtual void enumerateModes(containers::Array& out) = 0;
    virtual void resize(i32 width, i32 height);
    virtual void setActive(bool active);
    virtual DisplayWindow* getWindow() { return nullptr; }

    // The global display. Never null: with none set, a NullDisplay is made
    // (once, whatever the number of threads asking) and installed.
    static Display* get();
    // The global display, or null when none is set; never makes one.
    static Display* current();
    // Destroys the current global display and installs `display` (may be
    // null). Installing the display that is already current changes nothing.
    static Display* set(Display* display);

    i32 openWithVideoMode(const DisplayMode& mode, const DisplayConfiguration& configuration);
    void present();
    void setViewport(const i32 rect[4]);
    // A listener already in the list is not added again; null is fatal.
    void addListener(DisplayListener* listener);
    // Detaches the listener (even one not in the list) and removes it; null
    // is ignored.
    void removeListener(DisplayListener* listener);
    bool hasListener(DisplayListener* listener);

    // The supported modes, asked once and sorted.
    const containers::Array& getDisplayModes();
    DisplayCaps* getCapabilities();
    // False when `mode` is the current mode. Otherwise changes the mode in
    // place when the display can, else suspends the shader programs and
    // textures of `cache`, reopens, and resumes them.
    bool changeVideoMode(
        const DisplayMode& mode, const DisplayConfiguration& configuration, assets::ResourceCache& cache);
    // The desktop's mode; else the first supported mode; else the empty mode.
    DisplayMode getDesktopDisplayMode();

    GraphicsBackEnd* backEnd() const { return m_backEnd; }
    GraphicsBackEndVersion version() const { return m_version; }
    DisplayContext& context() { return *m_context; }
    const DisplayContext& context() const { return *m_context; }
    bool isOpen() const { return m_open; }
    DisplayWindow* window() const { return m_window; }
    const DisplayConfiguration& defaultConfiguration() const { return m_defaultConfiguration; }
    const DisplayMode& currentMode() const { return m_context->currentMode; }
    i32 drawableWidth() const { return m_context->currentMode.drawableWidth; }
    i32 drawableHeight() const { return m_context->currentMode.drawableHeight; }

protected:
    void setViewportOnBackEnd(i32 x, i32 y, i32 width, i32 height);
    DisplayConfiguration& defaultConfigurationForUpdate() { return m_defaultConfiguration; }

private:
    void suspendResources(assets::ResourceCache& cache, u64 typeId);
    void resumeResources(assets::ResourceCache& cache, u64 typeId);

    GraphicsBackEnd* m_backEnd;
    DisplayContext* m_context;
    GraphicsBackEndVersion m_version;
    DisplayWindow* m_window = nullptr;
    DisplayConfiguration m_defaultConfiguration;
    bool m_open = false;
};

} // namespace quern::graphics
