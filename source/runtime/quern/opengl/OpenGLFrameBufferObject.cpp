#include "quern/opengl/OpenGLFrameBufferObject.h"
#include "quern/debug/Log.h"
#include "quern/graphics/Texture.h"
#include "quern/language/Exception.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLException.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/opengl/OpenGLWindowRenderTarget.h"
#include "quern/platform/ErrorReporting.h"
#include <algorithm>
#include <cstdio>

namespace quern::opengl {

namespace {

OpenGLFrameBufferObject* g_currentFrameBuffer = nullptr;
OpenGLTextureRenderTarget* g_currentCopyTarget = nullptr;

OpenGLPixelBuffer* imageOf(graphics::Texture* texture)
{
    if (!texture)
        return nullptr;
    return static_cast<OpenGLPixelBuffer*>(texture->pixelBuffer());
}

bool hasDepth(const OpenGLPixelBuffer& image) { return image.pixelFormat().hasChannel(graphics::ChannelContent::D); }

i32 sampleCount(const OpenGLPixelBuffer& image) { return image.format().layerCount; }

const char* layoutName(graphics::PixelBufferFormat::Type type)
{
    switch (type) {
    case graphics::PixelBufferFormat::Type::Image1D:
        return "1D";
    case graphics::PixelBufferFormat::Type::Image2D:
        return "2D";
    case graphics::PixelBufferFormat::Type::Volume:
        return "3D";
    case graphics::PixelBufferFormat::Type::CubeMap:
        return "cube";
    default:
        return "none";
    }
}

} // namespace

class OpenGLFrameBufferObject::Listener final : public graphics::DisplayListener {
public:
    explicit Listener(OpenGLFrameBufferObject* owner)
        : m_owner(owner)
    {
    }
    void onDisplayEvent(const graphics::DisplayEvent& event) override
    {
        if (event.type != graphics::DisplayEvent::Closing || !m_owner)
            return;
        if (g_currentFrameBuffer == m_owner) {
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            g_currentFrameBuffer = nullptr;
        }
        m_owner->destroyObjects();
        m_owner->forgetObjects();
    }
    void detach() override { m_owner = nullptr; }
    bool attached() const { return m_owner != nullptr; }

private:
    OpenGLFrameBufferObject* m_owner;
};

OpenGLFrameBufferObject* OpenGLFrameBufferObject::current() { return g_currentFrameBuffer; }

OpenGLFrameBufferObject::OpenGLFrameBufferObject(const graphics::DisplayCaps* caps, graphics::StateObjectCache* cache)
    : m_caps(caps)
    , m_cache(cache)
    , m_listener(new Listener(this))
{
}

OpenGLFrameBufferObject::~OpenGLFrameBufferObject()
{
    if (g_currentFrameBuffer == this)
        unbind();
    if (m_registered && m_listener->attached()) {
        if (graphics::Display* display = graphics::Display::current()) {
            if (display->isOpen())
                destroyObjects();
            display->removeListener(m_listener);
        }
    }
    delete m_listener;
}

void OpenGLFrameBufferObject::forgetObjects()
{
    std::fill(m_attachments.begin(), m_attachments.end(), 0u);
    m_multisample = false;
}

void OpenGLFrameBufferObject::destroyObjects()
{
    if (m_depthRenderBuffer) {
        if (m_frameBuffer) {
            glBindFramebuffer(GL_FRAMEBUFFER, m_frameBuffer);
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, 0);
        }
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
        glDeleteRenderbuffers(1, &m_depthRenderBuffer);
        m_depthRenderBuffer = 0;
    }
    if (m_depthTexture) {
        if (m_frameBuffer) {
            glBindFramebuffer(GL_FRAMEBUFFER, m_frameBuffer);
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D_MULTISAMPLE, 0, 0);
        }
        deleteTexture(m_depthTexture);
        m_depthTexture = 0;
    }
    if (m_frameBuffer) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &m_frameBuffer);
        m_frameBuffer = 0;
    }
}

std::string OpenGLFrameBufferObject::errorText(u32 code)
{
    std::string text;
    if (const char* name = glErrorName(code)) {
        text = name;
    } else if (code == GL_INVALID_FRAMEBUFFER_OPERATION) {
        text = "Invalid framebuffer operation";
    } else {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "Unknown error: 0x%X", code);
        text = buffer;
    }
    return text + " (" + describe() + ")";
}

bool OpenGLFrameBufferObject::create()
{
    destroyObjects();
    forgetObjects();
    glGenFramebuffers(1, &m_frameBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_frameBuffer);
    attachAll();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (const GLenum error = glGetError()) {
        QUERN_LOG(1) << "OpenGL FBO error: " << errorText(error) << std::endl;
        return false;
    }
    if (!m_registered) {
        if (graphics::Display* display = graphics::Display::current()) {
            display->addListener(m_listener);
            m_registered = true;
        }
    }
    return true;
}

u32 OpenGLFrameBufferObject::attachTexture(OpenGLPixelBuffer& image)
{
    u32 attachment = 0;
    if (hasDepth(image)) {
        attachment = GL_DEPTH_ATTACHMENT;
    } else {
        for (u32 k = 0; k < kMaxColourAttachments; ++k) {
            if (std::find(m_attachments.begin(), m_attachments.end(), GL_COLOR_ATTACHMENT0 + k)
                == m_attachments.end()) {
                attachment = GL_COLOR_ATTACHMENT0 + k;
                break;
            }
        }
    }
    QUERN_LOG(4) << "Creating FBO texture " << layoutName(image.format().type) << " " << image.format().width << "x"
                 << image.format().height << " " << image.pixelFormat() << " at " << glEnumName(attachment)
                 << ", target " << glEnumName(image.target()) << std::endl;
    switch (image.format().type) {
    case graphics::PixelBufferFormat::Type::Image1D:
        glFramebufferTexture1D(GL_FRAMEBUFFER, attachment, image.target(), image.name(), 0);
        break;
    case graphics::PixelBufferFormat::Type::Image2D:
        glFramebufferTexture2D(GL_FRAMEBUFFER, attachment, image.target(), image.name(), 0);
        break;
    case graphics::PixelBufferFormat::Type::Volume:
        glFramebufferTexture3D(GL_FRAMEBUFFER, attachment, image.target(), image.name(), 0, 0);
        break;
    default:
        break;
    }
    return attachment;
}

void OpenGLFrameBufferObject::attachAll()
{
    m_attachments.assign(textureCount(), 0u);
    std::vector<GLenum> drawBuffers;
    bool depthAttached = false;
    u32 width = 0;
    u32 height = 0;
    i32 samples = 1;
    for (u64 i = 0; i < textureCount(); ++i) {
        OpenGLPixelBuffer* image = imageOf(texture(i));
        if (!image)
            continue;
        if (!image->hasDeviceObject())
            image->createDeviceObject();
        const u32 attachment = attachTexture(*image);
        m_attachments[i] = attachment;
        if (hasDepth(*image))
            depthAttached = true;
        if (image->pixelFormat().hasColorChannel() && attachment != 0)
            drawBuffers.push_back(attachment);
        if (image->format().type == graphics::PixelBufferFormat::Type::CubeMap)
            glFramebufferTexture2D(
                GL_FRAMEBUFFER, attachment, GL_TEXTURE_CUBE_MAP_POSITIVE_X + cubeFace(), image->name(), 0);
        samples = sampleCount(*image);
        m_multisample = samples > 1;
        width = image->format().width;
        height = image->format().height;
    }
    if (!depthAttached && m_multisample) {
        // A multisample colour image needs depth of the same sample count, and
        // GL only completes a mix of renderbuffers and textures whose sample
        // locations are fixed: the depth is a multisample texture made like
        // the colour image.
        GLint realSamples = samples;
        GLint fixedLocations = GL_FALSE;
        OpenGLPixelBuffer* last = imageOf(texture(textureCount() - 1));
        glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, last->name());
        glGetTexLevelParameteriv(GL_TEXTURE_2D_MULTISAMPLE, 0, GL_TEXTURE_SAMPLES, &realSamples);
        glGetTexLevelParameteriv(GL_TEXTURE_2D_MULTISAMPLE, 0, GL_TEXTURE_FIXED_SAMPLE_LOCATIONS, &fixedLocations);
        m_depthTexture = genTexture();
        glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, m_depthTexture);
        glTexImage2DMultisample(GL_TEXTURE_2D_MULTISAMPLE, realSamples, GL_DEPTH_COMPONENT24,
            static_cast<GLsizei>(width), static_cast<GLsizei>(height), static_cast<GLboolean>(fixedLocations));
        glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, 0);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D_MULTISAMPLE, m_depthTexture, 0);
    } else if (!depthAttached) {
        glGenRenderbuffers(1, &m_depthRenderBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, m_depthRenderBuffer);
        glRenderbufferStorage(
            GL_RENDERBUFFER, GL_DEPTH_COMPONENT, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_depthRenderBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
    }
    if (drawBuffers.empty()) {
        glDrawBuffer(GL_NONE);
        glReadBuffer(GL_NONE);
    } else if (m_caps && m_caps->ARB_draw_buffers) {
        glDrawBuffers(static_cast<GLsizei>(drawBuffers.size()), drawBuffers.data());
    }
}

void OpenGLFrameBufferObject::bind()
{
    if (m_frameBuffer) {
        glBindFramebuffer(GL_FRAMEBUFFER, m_frameBuffer);
    } else {
        create();
        glBindFramebuffer(GL_FRAMEBUFFER, m_frameBuffer);
        const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
        if (status != GL_FRAMEBUFFER_COMPLETE && status != 0) {
            const std::string message = "OpenGL FBO error: " + errorText(status);
            QUERN_RAISE(Exception, message.c_str());
        }
    }
    if (sRGB() && m_caps && m_caps->EXT_framebuffer_sRGB)
        glEnable(GL_FRAMEBUFFER_SRGB);
    // The face to draw may change between binds.
    for (u64 i = 0; i < textureCount(); ++i) {
        OpenGLPixelBuffer* image = imageOf(texture(i));
        if (image && image->format().type == graphics::PixelBufferFormat::Type::CubeMap)
            glFramebufferTexture2D(
                GL_FRAMEBUFFER, attachment(i), GL_TEXTURE_CUBE_MAP_POSITIVE_X + cubeFace(), image->name(), 0);
    }
    if (m_multisample)
        glEnable(GL_MULTISAMPLE);
    g_currentFrameBuffer = this;
}

void OpenGLFrameBufferObject::unbind()
{
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (sRGB() && m_caps && m_caps->EXT_framebuffer_sRGB)
        glDisable(GL_FRAMEBUFFER_SRGB);
    if (m_multisample)
        glDisable(GL_MULTISAMPLE);
    if (g_currentFrameBuffer == this)
        g_currentFrameBuffer = nullptr;
}

void OpenGLFrameBufferObject::clear(u32 flags, const f32 colour[4]) { clearFrameBuffer(flags, colour, 1.0f, m_cache); }

void OpenGLFrameBufferObject::addTexture(graphics::Texture* texture)
{
    TextureRenderTarget::addTexture(texture);
    destroyObjects();
    m_attachments.assign(textureCount(), 0u);
    m_multisample = false;
}

void OpenGLFrameBufferObject::removeTexture(graphics::Texture* texture)
{
    if (m_frameBuffer) {
        destroyObjects();
        forgetObjects();
    }
    TextureRenderTarget::removeTexture(texture);
    m_attachments.assign(textureCount(), 0u);
}

bool OpenGLFrameBufferObject::isComplete()
{
    if (!m_frameBuffer)
        return create();
    glBindFramebuffer(GL_FRAMEBUFFER, m_frameBuffer);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    const GLenum error = glGetError();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return (status == GL_FRAMEBUFFER_COMPLETE || status == 0) && error == GL_NO_ERROR;
}

OpenGLTextureRenderTarget* OpenGLTextureRenderTarget::current() { return g_currentCopyTarget; }

OpenGLTextureRenderTarget::OpenGLTextureRenderTarget(graphics::StateObjectCache* cache)
    : m_cache(cache)
{
}

OpenGLTextureRenderTarget::~OpenGLTextureRenderTarget()
{
    if (g_currentCopyTarget == this)
        g_currentCopyTarget = nullptr;
}

void OpenGLTextureRenderTarget::bind()
{
    if (g_currentCopyTarget && g_currentCopyTarget != this)
        g_currentCopyTarget->unbind();
    g_currentCopyTarget = this;
}

void OpenGLTextureRenderTarget::unbind()
{
    for (u64 i = 0; i < textureCount(); ++i) {
        OpenGLPixelBuffer* image = imageOf(texture(i));
        if (!image)
            continue;
        if (!image->hasDeviceObject())
            image->createDeviceObject();
        image->bind();
        const u32 target = image->format().type == graphics::PixelBufferFormat::Type::CubeMap
            ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + cubeFace()
            : image->target();
        // A depth image (a shadow map) takes the depth buffer in its own
        // format; GL_RGB would fill it with the colour image.
        const u32 format = hasDepth(*image) ? image->internalFormat() : GL_RGB;
        glCopyTexImage2D(target, 0, format, 0, 0, static_cast<GLsizei>(image->format().width),
            static_cast<GLsizei>(image->format().height), 0);
        image->unbind();
    }
    if (g_currentCopyTarget == this)
        g_currentCopyTarget = nullptr;
}

void OpenGLTextureRenderTarget::clear(u32 flags, const f32 colour[4])
{
    clearFrameBuffer(flags, colour, 1.0f, m_cache);
}

void OpenGLTextureRenderTarget::readPixels(graphics::PixelBuffer& destination)
{
    const graphics::Display* display = graphics::Display::current();
    if (!display)
        return;
    readFrameBuffer(
        destination, static_cast<u32>(display->currentMode().width), static_cast<u32>(display->currentMode().height));
}

OpenGLOcclusionQuery::~OpenGLOcclusionQuery()
{
    if (m_name)
        glDeleteQueries(1, &m_name);
}

void OpenGLOcclusionQuery::begin()
{
    if (m_name == 0)
        glGenQueries(1, &m_name);
    glBeginQuery(GL_SAMPLES_PASSED, m_name);
}

void OpenGLOcclusionQuery::end()
{
    if (m_name)
        glEndQuery(GL_SAMPLES_PASSED);
}

bool OpenGLOcclusionQuery::getResult(u32& samples)
{
    if (m_name == 0)
        return false;
    GLuint available = 0;
    glGetQueryObjectuiv(m_name, GL_QUERY_RESULT_AVAILABLE, &available);
    if (available != 1)
        return false;
    glGetQueryObjectuiv(m_name, GL_QUERY_RESULT, &samples);
    return true;
}

} // namespace quern::opengl
