#pragma once
// A graphics device that records what the state-object cache asks of it,
// and a listener that records render-state changes.

#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/renderstate/RenderState.h"
#include "support/LogCapture.h"

#include <sstream>
#include <string>
#include <vector>

namespace quern::test {

class StateRecordingBackEnd final : public graphics::GraphicsBackEnd {
public:
    struct Creation {
        u32 handle;
        graphics::Shader* shader;
        const graphics::VertexFormat* format;
    };

    void init(const graphics::BackEndInitParams&) override { }
    void shutdown() override { }
    graphics::VertexBuffer* createVertexBuffer(u32) override { return nullptr; }
    graphics::IndexBuffer* createIndexBuffer(u32) override { return nullptr; }
    graphics::PixelBuffer* createPixelBuffer(u32) override { return nullptr; }
    graphics::TextureRenderTarget* createRenderTarget() override { return nullptr; }
    graphics::OcclusionQuery* createQuery() override { return nullptr; }
    void setViewport(const i32[4]) override { }
    void clear(u32, const f32[4]) override { }
    void present() override { }
    graphics::DisplayCaps* getCapabilities() override { return &caps; }
    graphics::TextureRenderTarget* createWindowRenderTarget() override { return nullptr; }
    u32 allocateStateObject() override { return nextHandle++; }
    void destroyStateObject(u32 handle) override { destroyed.push_back(handle); }
    void createStateObject(u32 handle, graphics::Shader* shader, const graphics::VertexFormat* format) override
    {
        created.push_back({ handle, shader, format });
    }
    void bindStateObject(u32) override { }
    void unbindStateObject() override { }
    void bindTextures(u32 stage, graphics::PixelBuffer* const images[kMaxTextureBindings], u32 count) override
    {
        boundStage = stage;
        boundCount = count;
        for (u32 i = 0; i < kMaxTextureBindings; ++i)
            bound[i] = images[i];
    }
    void setUniforms(const graphics::ShaderProgramState*, const void*) override { }

    u64 creationsOf(u32 handle) const
    {
        u64 n = 0;
        for (const Creation& c : created)
            n += c.handle == handle;
        return n;
    }

    u32 nextHandle = 1;
    std::vector<Creation> created;
    std::vector<u32> destroyed;
    u32 boundStage = 0;
    u32 boundCount = ~0u;
    graphics::PixelBuffer* bound[kMaxTextureBindings] = {};
    graphics::DisplayCaps caps;
};

class ChangeRecorder final : public graphics::RenderStateListener {
public:
    void onChanged(graphics::RenderState* state) override { changes.push_back(state); }
    std::vector<graphics::RenderState*> changes;
};

// Holds one reference on a counted object for a test's scope.
template <class T> class Held {
public:
    explicit Held(T* object)
        : m_object(object)
    {
        RefCounted::retain(static_cast<RefCounted*>(m_object));
    }
    ~Held() { RefCounted::release(static_cast<RefCounted*>(m_object)); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }

private:
    T* m_object;
};

} // namespace quern::test
