#pragma once
// A recording graphics device, a display over it whose window-layer answers
// the test chooses, a recording display listener and a log catcher.

#include "quern/debug/Logger.h"
#include "quern/graphics/Display.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

namespace quern::test {

using graphics::BackEndInitParams;
using graphics::DisplayCaps;
using graphics::DisplayEvent;

// What a device call received, in call order.
struct DeviceCall {
    std::string name;
    std::array<i32, 4> rect {};
    u32 flags = 0;
};

class RecordingBackEnd final : public graphics::GraphicsBackEnd {
public:
    void init(const BackEndInitParams& params) override
    {
        lastInit = params;
        calls.push_back({ "init" });
    }
    void shutdown() override { calls.push_back({ "shutdown" }); }
    graphics::VertexBuffer* createVertexBuffer(u32) override { return nullptr; }
    graphics::IndexBuffer* createIndexBuffer(u32) override { return nullptr; }
    graphics::PixelBuffer* createPixelBuffer(u32) override { return nullptr; }
    graphics::TextureRenderTarget* createRenderTarget() override { return nullptr; }
    graphics::OcclusionQuery* createQuery() override { return nullptr; }
    void setViewport(const i32 rect[4]) override
    {
        calls.push_back({ "setViewport", { rect[0], rect[1], rect[2], rect[3] } });
    }
    void clear(u32 flags, const f32[4]) override { calls.push_back({ "clear", {}, flags }); }
    void present() override { calls.push_back({ "present" }); }
    DisplayCaps* getCapabilities() override
    {
        calls.push_back({ "getCapabilities" });
        return &caps;
    }
    graphics::TextureRenderTarget* createWindowRenderTarget() override { return nullptr; }
    u32 allocateStateObject() override { return 0; }
    void destroyStateObject(u32) override { }
    void createStateObject(u32, graphics::Shader*, const graphics::VertexFormat*) override { }
    void bindStateObject(u32) override { }
    void unbindStateObject() override { }
    void bindTextures(u32, graphics::PixelBuffer* const[kMaxTextureBindings], u32) override { }
    void setUniforms(const graphics::ShaderProgramState*, const void*) override { }

    u64 count(const std::string& name) const
    {
        u64 n = 0;
        for (const DeviceCall& call : calls)
            n += call.name == name;
        return n;
    }
    std::vector<std::array<i32, 4>> viewports() const
    {
        std::vector<std::array<i32, 4>> rects;
        for (const DeviceCall& call : calls)
            if (call.name == "setViewport")
                rects.push_back(call.rect);
        return rects;
    }

    std::vector<DeviceCall> calls;
    BackEndInitParams lastInit;
    DisplayCaps caps;
};

// A display whose window layer does what the test sets up.
class TestDisplay final : public graphics::Display {
public:
    explicit TestDisplay(RecordingBackEnd& device, bool* destroyed = nullptr)
        : Display(&device, graphics::GraphicsBackEndVersion::OpenGL)
        , m_destroyed(destroyed)
    {
    }
    ~TestDisplay() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }

    void setSwapInterval(i32 interval) override { swapIntervals.push_back(interval); }
    input::InputBackEnd* createInputBackEnd() override { return nullptr; }
    bool applyVideoMode(const graphics::DisplayMode& mode) override
    {
        ++applyCalls;
        return inPlace ? true : Display::applyVideoMode(mode);
    }
    void implOpen(graphics::DisplayMode& mode, const graphics::DisplayConfiguration& configuration) override
    {
        ++openCalls;
        lastCaption = configuration.caption ? configuration.caption : "";
        if (reportedDrawableWidth > 0) {
            mode.drawableWidth = reportedDrawableWidth;
            mode.drawableHeight = reportedDrawableHeight;
        }
    }
    void enumerateModes(containers::Array& out) override
    {
        ++enumerateCalls;
        for (const graphics::DisplayMode& mode : supportedModes)
            out.append(mode);
    }
    bool getDesktopMode(graphics::DisplayMode& out) override
    {
        if (!hasDesktopMode)
            return false;
        out = desktopMode;
        return true;
    }
    graphics::DisplayWindow* getWindow() override { return window; }

    std::vector<i32> swapIntervals;
    std::vector<graphics::DisplayMode> supportedModes;
    graphics::DisplayMode desktopMode;
    bool hasDesktopMode = false;
    bool inPlace = false;
    i32 reportedDrawableWidth = 0;
    i32 reportedDrawableHeight = 0;
    graphics::DisplayWindow* window = nullptr;
    std::string lastCaption;
    int applyCalls = 0;
    int openCalls = 0;
    int enumerateCalls = 0;

private:
    bool* m_destroyed;
};

class RecordingListener final : public graphics::DisplayListener {
public:
    void onDisplayEvent(const DisplayEvent& event) override
    {
        events.push_back(event);
        if (log)
            log->push_back(name);
    }
    void detach() override { ++detachCount; }

    std::vector<DisplayEvent> events;
    int detachCount = 0;
    // Listeners sharing a log show the order in which they were told.
    std::vector<std::string>* log = nullptr;
    std::string name;
};

inline graphics::DisplayMode makeMode(
    i32 width, i32 height, i32 refresh = -1, const graphics::PixelFormat& format = graphics::PixelFormat::B8G8R8A8)
{
    graphics::DisplayMode mode;
    mode.format = format;
    mode.width = width;
    mode.height = height;
    mode.drawableWidth = width;
    mode.drawableHeight = height;
    mode.refreshRate = refresh;
    return mode;
}

// Collects the log lines of one level while it lives.
class LogCatcher {
public:
    explicit LogCatcher(i32 level)
        : m_level(level)
    {
        debug::getLogger()->buffer().addSink(&m_text, level);
    }
    ~LogCatcher() { debug::getLogger()->buffer().removeSink(&m_text, m_level); }
    LogCatcher(const LogCatcher&) = delete;
    LogCatcher& operator=(const LogCatcher&) = delete;

    std::string text() const { return m_text.str(); }
    u64 count(const std::string& needle) const
    {
        const std::string all = m_text.str();
        u64 n = 0;
        for (auto at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1))
            ++n;
        return n;
    }

private:
    i32 m_level;
    std::stringbuf m_text;
};

// Leaves no global display behind, so no test sees another's.
class DisplayFixture : public ::testing::Test {
protected:
    void SetUp() override { graphics::Display::set(nullptr); }
    void TearDown() override { graphics::Display::set(nullptr); }
};

} // namespace quern::test
