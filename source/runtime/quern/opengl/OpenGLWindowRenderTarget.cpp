#include "quern/opengl/OpenGLWindowRenderTarget.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/DisplayMode.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/opengl/GLFunctions.h"
#include <ostream>

namespace quern::opengl {

void clearFrameBuffer(u32 flags, const f32 colour[4], f32 depth, graphics::StateObjectCache* cache)
{
    GLbitfield mask = 0;
    if (flags & graphics::GraphicsBackEnd::ClearColour) {
        glClearColor(colour[0], colour[1], colour[2], colour[3]);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & graphics::GraphicsBackEnd::ClearDepth) {
        glDepthMask(GL_TRUE);
        mask |= GL_DEPTH_BUFFER_BIT;
        if (cache)
            cache->markShaderDirty(cache->defaultShader());
    }
    if (flags & graphics::GraphicsBackEnd::ClearStencil)
        mask |= GL_STENCIL_BUFFER_BIT;
    glDisable(GL_SCISSOR_TEST);
    glClearDepth(depth);
    glClear(mask);
}

void readFrameBuffer(graphics::PixelBuffer& destination, u32 width, u32 height)
{
    destination.create(graphics::PixelBufferFormat::create2D(width, height, graphics::PixelFormat::B8G8R8), 0);
    // A write lock: the read-back is the image's new contents, which a
    // device-backed buffer uploads at the unlock.
    u8* pixels = destination.lockPixelsForWrite();
    // Rows are packed tightly: with the default alignment of 4 a width whose
    // row is not a multiple of four bytes would be padded past the image.
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, static_cast<GLsizei>(destination.format().width),
        static_cast<GLsizei>(destination.format().height), GL_RGB, GL_UNSIGNED_BYTE, pixels);
    destination.unlockPixels();
}

OpenGLWindowRenderTarget::OpenGLWindowRenderTarget(const graphics::DisplayCaps* caps, graphics::StateObjectCache* cache)
    : m_caps(caps)
    , m_cache(cache)
    , m_frameBufferObjects(caps && (caps->ARB_framebuffer_object || caps->EXT_framebuffer_object))
{
}

void OpenGLWindowRenderTarget::bind()
{
    if (!m_frameBufferObjects)
        return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (m_caps->EXT_framebuffer_sRGB)
        glDisable(GL_FRAMEBUFFER_SRGB);
}

void OpenGLWindowRenderTarget::clear(u32 flags, const f32 colour[4]) { clearFrameBuffer(flags, colour, 1.0f, m_cache); }

void OpenGLWindowRenderTarget::printTextures(std::ostream& stream)
{
    const graphics::Display* display = graphics::Display::current();
    if (!display)
        return;
    const graphics::DisplayMode& mode = display->currentMode();
    stream << "OpenGL frame buffer (" << mode.width << "x" << mode.height << ", " << mode.format << ")";
}

void OpenGLWindowRenderTarget::readPixels(graphics::PixelBuffer& destination)
{
    const graphics::Display* display = graphics::Display::current();
    if (!display)
        return;
    const graphics::DisplayMode& mode = display->currentMode();
    readFrameBuffer(destination, static_cast<u32>(mode.width), static_cast<u32>(mode.height));
}

} // namespace quern::opengl
