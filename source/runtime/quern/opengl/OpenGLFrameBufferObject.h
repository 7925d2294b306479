#pragma once
// Off-screen drawing into textures. A frame-buffer object draws straight into
// its attached textures; it is built at the first bind after its attachments
// changed and dropped when the display closes. Without frame-buffer objects a
// copy target draws into the window's frame buffer and copies the result into
// its textures when it is unbound. Occlusion queries count passing samples.

#include "quern/Types.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/TextureRenderTarget.h"
#include <string>
#include <vector>

namespace quern::graphics {
class StateObjectCache;
}

namespace quern::opengl {

class OpenGLPixelBuffer;

class OpenGLFrameBufferObject final : public graphics::TextureRenderTarget {
public:
    static constexpr u32 kMaxColourAttachments = 16;

    OpenGLFrameBufferObject(const graphics::DisplayCaps* caps, graphics::StateObjectCache* cache);
    ~OpenGLFrameBufferObject() override;

    // Builds the frame buffer when it has none; an incomplete one is fatal.
    void bind() override;
    void unbind() override;
    void clear(u32 flags, const f32 colour[4]) override;
    void addTexture(graphics::Texture* texture) override;
    void removeTexture(graphics::Texture* texture) override;
    // Whether the driver accepts the attachments; reports problems only as false.
    bool isComplete() override;

    u32 frameBufferName() const { return m_frameBuffer; }
    u32 depthRenderBufferName() const { return m_depthRenderBuffer; }
    // The multisample depth texture that stands in for the render buffer
    // under a multisample colour image.
    u32 depthTextureName() const { return m_depthTexture; }
    bool multisample() const { return m_multisample; }
    // The attachment point of the i-th attached texture (0 when none).
    u32 attachment(u64 index) const { return index < m_attachments.size() ? m_attachments[index] : 0; }
    // The frame-buffer object bound now, or null.
    static OpenGLFrameBufferObject* current();

private:
    class Listener;

    // False, with the GL error logged, when building raised one.
    bool create();
    void destroyObjects();
    void forgetObjects();
    void attachAll();
    u32 attachTexture(OpenGLPixelBuffer& image);
    std::string errorText(u32 code);

    const graphics::DisplayCaps* m_caps;
    graphics::StateObjectCache* m_cache;
    Listener* m_listener;
    bool m_registered = false;
    u32 m_frameBuffer = 0;
    u32 m_depthRenderBuffer = 0;
    u32 m_depthTexture = 0;
    bool m_multisample = false;
    std::vector<u32> m_attachments;
};

class OpenGLTextureRenderTarget final : public graphics::TextureRenderTarget {
public:
    explicit OpenGLTextureRenderTarget(graphics::StateObjectCache* cache);
    ~OpenGLTextureRenderTarget() override;

    // Unbinds the copy target bound before (its copies happen first).
    void bind() override;
    // Copies the frame buffer into every attached texture: colour images from
    // the colour buffer, depth images from the depth buffer in their own format.
    void unbind() override;
    void clear(u32 flags, const f32 colour[4]) override;
    void readPixels(graphics::PixelBuffer& destination) override;

    static OpenGLTextureRenderTarget* current();

private:
    graphics::StateObjectCache* m_cache;
};

class OpenGLOcclusionQuery final : public graphics::OcclusionQuery {
public:
    ~OpenGLOcclusionQuery() override;
    void begin() override;
    void end() override;
    // False, leaving `samples` alone, before the first begin or while pending.
    bool getResult(u32& samples) override;
    u32 name() const { return m_name; }

private:
    u32 m_name = 0;
};

} // namespace quern::opengl
