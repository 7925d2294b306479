#pragma once
// The OpenGL graphics device: creates the GPU objects (buffers, images, render
// targets, queries), clears, sets the viewport, presents through the display's
// window, reports the capabilities, and keeps the state objects the render
// queue binds. One static instance serves the process; a GL context is current
// on the calling (main) thread from init to shutdown.

#include "quern/Types.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/opengl/OpenGLStateObjects.h"

namespace quern::opengl {

class OpenGLBackEnd final : public graphics::GraphicsBackEnd {
public:
    OpenGLBackEnd();
    ~OpenGLBackEnd() override;

    // The process's device for the "opengl" setting.
    static OpenGLBackEnd& instance();

    void init(const graphics::BackEndInitParams& params) override;
    void shutdown() override;
    graphics::VertexBuffer* createVertexBuffer(u32 usage) override;
    graphics::IndexBuffer* createIndexBuffer(u32 usage) override;
    graphics::PixelBuffer* createPixelBuffer(u32 usage) override;
    graphics::TextureRenderTarget* createRenderTarget() override;
    graphics::OcclusionQuery* createQuery() override;
    void setViewport(const i32 rect[4]) override;
    void clear(u32 flags, const f32 colour[4]) override;
    void present() override;
    // Scans the context again on every call.
    graphics::DisplayCaps* getCapabilities() override;
    graphics::TextureRenderTarget* createWindowRenderTarget() override;
    u32 allocateStateObject() override { return m_stateObjects.allocate(); }
    void destroyStateObject(u32 handle) override { m_stateObjects.destroy(handle); }
    void createStateObject(u32 handle, graphics::Shader* shader, const graphics::VertexFormat* format) override
    {
        m_stateObjects.create(handle, shader, format);
    }
    void bindStateObject(u32 handle) override { m_stateObjects.bind(handle); }
    void unbindStateObject() override { m_stateObjects.unbind(); }
    // Unit 7 is left active.
    void bindTextures(u32 stage, graphics::PixelBuffer* const images[kMaxTextureBindings], u32 count) override;
    void setUniforms(const graphics::ShaderProgramState* state, const void* context) override
    {
        m_stateObjects.setUniforms(state, context);
    }

    OpenGLStateObjects& stateObjects() { return m_stateObjects; }
    const graphics::DisplayCaps& caps() const { return m_caps; }
    graphics::DisplayCaps& mutableCaps() { return m_caps; }
    bool initialised() const { return m_initialised; }

private:
    graphics::StateObjectCache* m_stateObjectCache = nullptr;
    graphics::DisplayCaps m_caps;
    OpenGLStateObjects m_stateObjects;
    memory::Allocator* m_allocator = nullptr;
    graphics::DisplayWindow* m_window = nullptr;
    bool m_initialised = false;
};

} // namespace quern::opengl
