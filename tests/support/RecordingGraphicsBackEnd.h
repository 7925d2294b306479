#pragma once
// A graphics device that draws nothing and writes down, in order, what the
// renderer asks of it: state-object binds, texture binds, uniform uploads
// (with the draw's matrices), draws with their index ranges, viewports,
// clears and render-target binds. A display over it opens headless, and a
// fixture installs that display as the global one for a test.

#include "quern/graphics/Display.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/math/Matrix4.h"
#include "quern/render/RenderJob.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace quern::test {

class RecordingGraphicsBackEnd;

// One draw as the device saw it: the buffers and range, the pass bound for
// it and the matrices of the uniform upload before it.
struct RecordedDraw {
    graphics::VertexBuffer* vertices = nullptr;
    graphics::IndexBuffer* indices = nullptr;
    u32 first = 0;
    u32 count = 0;
    graphics::Shader* shader = nullptr;
    math::Matrix4 world;
    math::Matrix4 worldViewProjection;
    graphics::PixelBuffer* textures[2] = { nullptr, nullptr };
};

class RecordingVertexBuffer final : public graphics::VertexBuffer {
public:
    RecordingVertexBuffer(RecordingGraphicsBackEnd& device, u32 usage)
        : VertexBuffer(usage)
        , m_device(device)
    {
    }
    void draw(graphics::IndexBuffer* indices, u32 firstIndex, u32 indexCount) override;

private:
    RecordingGraphicsBackEnd& m_device;
};

class RecordingTarget final : public graphics::TextureRenderTarget {
public:
    RecordingTarget(RecordingGraphicsBackEnd& device, std::string name)
        : m_device(device)
        , m_name(std::move(name))
    {
    }
    void bind() override;
    void unbind() override;
    void clear(u32 flags, const f32 colour[4]) override;
    std::string describe() override { return m_name; }
    void setSize(i32 width, i32 height) { setViewport(0, 0, width, height); }

private:
    RecordingGraphicsBackEnd& m_device;
    std::string m_name;
};

class RecordingGraphicsBackEnd final : public graphics::GraphicsBackEnd {
public:
    void init(const graphics::BackEndInitParams&) override { }
    void shutdown() override { }
    graphics::VertexBuffer* createVertexBuffer(u32 usage) override { return new RecordingVertexBuffer(*this, usage); }
    graphics::IndexBuffer* createIndexBuffer(u32 usage) override { return new graphics::IndexBuffer(usage); }
    graphics::PixelBuffer* createPixelBuffer(u32) override { return nullptr; }
    graphics::TextureRenderTarget* createRenderTarget() override { return new RecordingTarget(*this, "target"); }
    graphics::OcclusionQuery* createQuery() override { return nullptr; }
    void setViewport(const i32 rect[4]) override
    {
        std::ostringstream text;
        text << "viewport " << rect[0] << " " << rect[1] << " " << rect[2] << " " << rect[3];
        log.push_back(text.str());
    }
    void clear(u32 flags, const f32[4]) override { log.push_back("display clear " + std::to_string(flags)); }
    void present() override { }
    graphics::DisplayCaps* getCapabilities() override { return &caps; }
    graphics::TextureRenderTarget* createWindowRenderTarget() override
    {
        ++windowTargetsMade;
        return new RecordingTarget(*this, "window");
    }
    u32 allocateStateObject() override { return nextHandle++; }
    void destroyStateObject(u32) override { }
    void createStateObject(u32 handle, graphics::Shader* shader, const graphics::VertexFormat*) override
    {
        shaders[handle] = shader;
    }
    void bindStateObject(u32 handle) override
    {
        bound = shaders[handle];
        log.push_back("bind state " + std::to_string(handle));
    }
    void unbindStateObject() override { log.push_back("unbind state"); }
    void bindTextures(u32, graphics::PixelBuffer* const images[kMaxTextureBindings], u32 count) override
    {
        lastTextures[0] = images[0];
        lastTextures[1] = images[1];
        log.push_back("textures " + std::to_string(count));
    }
    void setUniforms(const graphics::ShaderProgramState*, const void* context) override
    {
        const auto* job = static_cast<const render::RenderJob*>(context);
        uploadedWorld = job->modelMatrix ? *job->modelMatrix : math::Matrix4();
        uploadedWorldViewProjection
            = job->modelViewProjectionMatrix ? *job->modelViewProjectionMatrix : math::Matrix4();
        log.push_back("uniforms");
    }

    void recordDraw(graphics::VertexBuffer* vertices, graphics::IndexBuffer* indices, u32 first, u32 count)
    {
        RecordedDraw draw { vertices, indices, first, count, bound, uploadedWorld, uploadedWorldViewProjection, {} };
        draw.textures[0] = lastTextures[0];
        draw.textures[1] = lastTextures[1];
        draws.push_back(draw);
        log.push_back("draw " + std::to_string(first) + " " + std::to_string(count));
    }

    u64 count(const std::string& prefix) const
    {
        u64 n = 0;
        for (const std::string& line : log)
            n += line.rfind(prefix, 0) == 0;
        return n;
    }
    void forget()
    {
        log.clear();
        draws.clear();
    }

    std::vector<std::string> log;
    std::vector<RecordedDraw> draws;
    std::map<u32, graphics::Shader*> shaders;
    graphics::Shader* bound = nullptr;
    graphics::PixelBuffer* lastTextures[2] = { nullptr, nullptr };
    math::Matrix4 uploadedWorld;
    math::Matrix4 uploadedWorldViewProjection;
    u32 nextHandle = 1;
    u32 windowTargetsMade = 0;
    graphics::DisplayCaps caps;
};

inline void RecordingVertexBuffer::draw(graphics::IndexBuffer* indices, u32 firstIndex, u32 indexCount)
{
    m_device.recordDraw(this, indices, firstIndex, indexCount);
}

inline void RecordingTarget::bind() { m_device.log.push_back("bind " + m_name); }
inline void RecordingTarget::unbind() { m_device.log.push_back("unbind " + m_name); }
inline void RecordingTarget::clear(u32 flags, const f32 colour[4])
{
    std::ostringstream text;
    text << "clear " << m_name << " " << flags << " " << colour[0] << " " << colour[1] << " " << colour[2] << " "
         << colour[3];
    m_device.log.push_back(text.str());
}

// A windowless display over the recording device, with frame hooks it counts.
class RecordingDisplay final : public graphics::Display {
public:
    explicit RecordingDisplay(RecordingGraphicsBackEnd& device)
        : Display(&device, graphics::GraphicsBackEndVersion::Null)
        , m_device(device)
    {
    }
    void beginRendering() override { m_device.log.push_back("begin frame"); }
    void endRendering() override { m_device.log.push_back("end frame"); }
    void setSwapInterval(i32) override { }
    input::InputBackEnd* createInputBackEnd() override { return nullptr; }
    void implOpen(graphics::DisplayMode&, const graphics::DisplayConfiguration&) override { }
    void enumerateModes(containers::Array&) override { }

private:
    RecordingGraphicsBackEnd& m_device;
};

// Installs an open 640 x 480 recording display as the global display for the
// test, with the device's log emptied.
class RecordingDisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        display = new RecordingDisplay(device);
        graphics::Display::set(display);
        graphics::DisplayMode mode;
        mode.width = mode.drawableWidth = 640;
        mode.height = mode.drawableHeight = 480;
        display->openWithVideoMode(mode, display->defaultConfiguration());
        device.forget();
    }
    void TearDown() override { graphics::Display::set(nullptr); }

    RecordingGraphicsBackEnd device;
    RecordingDisplay* display = nullptr;
};

} // namespace quern::test
