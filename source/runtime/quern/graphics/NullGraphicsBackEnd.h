#pragma once
// The graphics device without a device: buffers and images stay in memory,
// the capabilities are fixed, and presenting paces frames to 60 Hz when the
// display asks for vertical sync. Everything runs on it without drawing.

#include "quern/Types.h"
#include "quern/graphics/GraphicsBackEnd.h"

namespace quern::graphics {

class NullGraphicsBackEnd final : public GraphicsBackEnd {
public:
    // How present waits: called with the counter ticks it may sleep, or 0
    // to yield once when the deadline is too close to sleep.
    using WaitFunction = void (*)(u64 ticks);
    // Presenting wakes this many ticks (1 ms) before the deadline and spins
    // the rest, since sleeps overshoot.
    static constexpr i64 kWakeMargin = 10'000;

    NullGraphicsBackEnd() = default;

    // The device of NullDisplay, and the one the game's "null" setting uses;
    // both live for the process.
    static NullGraphicsBackEnd& displayInstance();
    static NullGraphicsBackEnd& instance();

    void init(const BackEndInitParams& params) override;
    void shutdown() override { }
    VertexBuffer* createVertexBuffer(u32 usage) override;
    IndexBuffer* createIndexBuffer(u32 usage) override;
    PixelBuffer* createPixelBuffer(u32 usage) override;
    TextureRenderTarget* createRenderTarget() override;
    OcclusionQuery* createQuery() override;
    void setViewport(const i32[4]) override { }
    void clear(u32, const f32[4]) override { }
    // Waits for the frame deadline when the swap interval is non-zero.
    void present() override;
    DisplayCaps* getCapabilities() override;
    TextureRenderTarget* createWindowRenderTarget() override { return createRenderTarget(); }
    u32 allocateStateObject() override { return 0; }
    void destroyStateObject(u32) override { }
    void createStateObject(u32, Shader*, const VertexFormat*) override { }
    void bindStateObject(u32) override { }
    void unbindStateObject() override { }
    void bindTextures(u32, PixelBuffer* const[kMaxTextureBindings], u32) override { }
    void setUniforms(const ShaderProgramState*, const void*) override { }

    Display* display() const { return m_display; }
    void setDisplay(Display* display) { m_display = display; }
    u32 swapInterval() const { return m_swapInterval; }
    void setSwapInterval(u32 interval) { m_swapInterval = interval; }
    i64 nextDeadline() const { return m_nextDeadline; }
    i64 period() const { return m_period; }
    // Null restores the default (a real sleep, or a yield for 0).
    void setWaitFunction(WaitFunction wait);

private:
    Display* m_display = nullptr;
    u32 m_swapInterval = 0;
    i64 m_nextDeadline = 0;
    i64 m_period = 0;
    WaitFunction m_wait = nullptr;
    DisplayCaps m_caps;
};

} // namespace quern::graphics
