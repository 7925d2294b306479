#include "quern/opengl/OpenGLBackEnd.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/DisplayMode.h"
#include "quern/graphics/DisplayWindow.h"
#include "quern/opengl/GLDebugOutput.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLBuffers.h"
#include "quern/opengl/OpenGLDisplayCaps.h"
#include "quern/opengl/OpenGLFrameBufferObject.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/opengl/OpenGLWindowRenderTarget.h"

namespace quern::opengl {

OpenGLBackEnd::OpenGLBackEnd()
    : m_stateObjects(m_caps)
{
}

OpenGLBackEnd::~OpenGLBackEnd() = default;

OpenGLBackEnd& OpenGLBackEnd::instance()
{
    static OpenGLBackEnd backEnd;
    return backEnd;
}

void OpenGLBackEnd::init(const graphics::BackEndInitParams& params)
{
    m_initialised = true;
    m_window = params.window;
    m_stateObjectCache = params.stateObjectCache;
    m_allocator = params.allocator;
    m_caps = graphics::DisplayCaps {};
    m_stateObjects.init(params.maxStateObjects);
    if (params.configuration && params.configuration->debugContext)
        installDebugOutput();
}

void OpenGLBackEnd::shutdown()
{
    m_initialised = false;
    m_stateObjects.shutdown();
    m_allocator = nullptr;
    m_stateObjectCache = nullptr;
    m_window = nullptr;
}

graphics::VertexBuffer* OpenGLBackEnd::createVertexBuffer(u32 usage)
{
    return new OpenGLVertexBuffer(usage, &m_caps, &m_stateObjects);
}

graphics::IndexBuffer* OpenGLBackEnd::createIndexBuffer(u32 usage) { return new OpenGLIndexBuffer(usage, &m_caps); }

graphics::PixelBuffer* OpenGLBackEnd::createPixelBuffer(u32 usage) { return new OpenGLPixelBuffer(usage, &m_caps); }

graphics::TextureRenderTarget* OpenGLBackEnd::createRenderTarget()
{
    if (m_caps.ARB_framebuffer_object || m_caps.EXT_framebuffer_object)
        return new OpenGLFrameBufferObject(&m_caps, m_stateObjectCache);
    return new OpenGLTextureRenderTarget(m_stateObjectCache);
}

graphics::OcclusionQuery* OpenGLBackEnd::createQuery() { return new OpenGLOcclusionQuery(); }

void OpenGLBackEnd::setViewport(const i32 rect[4])
{
    if (rect[2] > 0 && rect[3] > 0)
        glViewport(rect[0], rect[1], rect[2], rect[3]);
}

void OpenGLBackEnd::clear(u32 flags, const f32 colour[4]) { clearFrameBuffer(flags, colour, 1.0f, m_stateObjectCache); }

void OpenGLBackEnd::present()
{
    if (!m_window)
        return;
    m_window->swapBuffers();
    m_window->afterSwap();
}

graphics::DisplayCaps* OpenGLBackEnd::getCapabilities()
{
    // The game's switch for vertex buffer objects lives in the record too.
    const u8 vertexBuffersDisabled = m_caps.vertexBuffersDisabled;
    scanCapabilities(m_caps);
    m_caps.vertexBuffersDisabled |= vertexBuffersDisabled;
    return &m_caps;
}

graphics::TextureRenderTarget* OpenGLBackEnd::createWindowRenderTarget()
{
    return new OpenGLWindowRenderTarget(&m_caps, m_stateObjectCache);
}

void OpenGLBackEnd::bindTextures(u32, graphics::PixelBuffer* const images[kMaxTextureBindings], u32 count)
{
    m_stateObjects.bindTextures(images, count);
}

} // namespace quern::opengl
