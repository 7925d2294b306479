#pragma once
// The render target that stands for the window's own frame buffer, and the
// clear that it, the device and the off-screen targets share.

#include "quern/Types.h"
#include "quern/graphics/TextureRenderTarget.h"

namespace quern::graphics {
class StateObjectCache;
struct DisplayCaps;
} // namespace quern::graphics

namespace quern::opengl {

// Clears the bound frame buffer: flag 1 colour, 2 depth (to `depth`; the depth
// mask is turned on, so the default Shader's cached state objects, which
// assume the mask they set, are marked for rebuilding), 4 stencil. The scissor
// test is always turned off first.
void clearFrameBuffer(u32 flags, const f32 colour[4], f32 depth, graphics::StateObjectCache* cache);

// Reads the bound frame buffer's lower-left width x height pixels into
// `destination`, made a B8G8R8 image of that size (bottom row first).
void readFrameBuffer(graphics::PixelBuffer& destination, u32 width, u32 height);

class OpenGLWindowRenderTarget final : public graphics::TextureRenderTarget {
public:
    OpenGLWindowRenderTarget(const graphics::DisplayCaps* caps, graphics::StateObjectCache* cache);

    // Frame buffer 0, with sRGB writes off; only a device with frame-buffer
    // objects can have another bound.
    void bind() override;
    void unbind() override { }
    void clear(u32 flags, const f32 colour[4]) override;
    // "OpenGL frame buffer (<width>x<height>, <pixel format>)" of the display mode.
    void printTextures(std::ostream& stream) override;
    // The whole window, at the display mode's size.
    void readPixels(graphics::PixelBuffer& destination) override;

private:
    const graphics::DisplayCaps* m_caps;
    graphics::StateObjectCache* m_cache;
    bool m_frameBufferObjects;
};

} // namespace quern::opengl
