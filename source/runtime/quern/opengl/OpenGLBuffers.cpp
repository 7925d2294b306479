#include "quern/opengl/OpenGLBuffers.h"
#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLException.h"
#include "quern/opengl/OpenGLStateObjects.h"
#include "quern/platform/ErrorReporting.h"
#include <cstdio>
#include <cstring>

namespace quern::opengl {

namespace {

constexpr u64 kReportStep = 0xA00000; // 10 MB

u64 g_totalBytes = 0;
u64 g_lastReported = 0;
bool g_reportedOnce = false;
bool g_fallbackLogged = false;

void report()
{
    // The first report only notes where counting starts.
    if (!g_reportedOnce) {
        g_reportedOnce = true;
        g_lastReported = g_totalBytes;
        return;
    }
    const u64 difference
        = g_totalBytes > g_lastReported ? g_totalBytes - g_lastReported : g_lastReported - g_totalBytes;
    if (difference > kReportStep && g_totalBytes > kReportStep) {
        QUERN_LOG(3) << (g_totalBytes >> 20) << "MB VBO memory allocated overall" << std::endl;
        g_lastReported = g_totalBytes;
    }
}

std::string sizeText(u64 bytes)
{
    char text[32];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%uB", static_cast<unsigned>(bytes));
    else if (bytes <= 0xFFFFF)
        std::snprintf(text, sizeof text, "%.1fK", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.1fM", static_cast<double>(bytes) / 1048576.0);
    return text;
}

bool contextGone()
{
    const graphics::Display* display = graphics::Display::current();
    return display && !display->isOpen();
}

} // namespace

u32 glPrimitiveMode(graphics::PrimitiveType type)
{
    switch (type) {
    case graphics::PrimitiveType::TriangleList:
        return GL_TRIANGLES;
    case graphics::PrimitiveType::LineList:
        return GL_LINES;
    case graphics::PrimitiveType::PointList:
        return GL_POINTS;
    case graphics::PrimitiveType::TriangleStrip:
        return GL_TRIANGLE_STRIP;
    case graphics::PrimitiveType::LineStrip:
        return GL_LINE_STRIP;
    case graphics::PrimitiveType::TriangleFan:
        return GL_TRIANGLE_FAN;
    }
    QUERN_FATAL_INVALID_ENUM("PrimitiveType");
}

u32 glIndexType(u64 indexSize)
{
    switch (indexSize) {
    case 1:
        return GL_UNSIGNED_BYTE;
    case 2:
        return GL_UNSIGNED_SHORT;
    case 4:
        return GL_UNSIGNED_INT;
    default:
        QUERN_FATAL("Invalid index buffer stride");
    }
}

OpenGLDisplayBuffer::OpenGLDisplayBuffer(graphics::DisplayBufferKind kind, u32 usage, const graphics::DisplayCaps* caps)
    : m_kind(kind)
    , m_usage(usage)
    , m_caps(caps)
{
    (void)usageHint();
}

OpenGLDisplayBuffer::OpenGLDisplayBuffer(const OpenGLDisplayBuffer& other)
    : m_kind(other.m_kind)
    , m_usage(other.m_usage)
    , m_caps(other.m_caps)
{
}

u64 OpenGLDisplayBuffer::totalBytes() { return g_totalBytes; }

void OpenGLDisplayBuffer::resetStatistics()
{
    g_totalBytes = 0;
    g_lastReported = 0;
    g_reportedOnce = false;
    g_fallbackLogged = false;
}

u32 OpenGLDisplayBuffer::target() const
{
    return m_kind == graphics::DisplayBufferKind::Index ? GL_ELEMENT_ARRAY_BUFFER : GL_ARRAY_BUFFER;
}

u32 OpenGLDisplayBuffer::usageHint() const
{
    switch (m_usage) {
    case 1:
        return GL_STATIC_READ;
    case 2:
        return GL_DYNAMIC_READ;
    case 5:
        return GL_STATIC_DRAW;
    case 6:
        return GL_DYNAMIC_DRAW;
    case 10:
        return GL_STREAM_DRAW;
    default:
        QUERN_FATAL("Unsupported vertex buffer usage");
    }
}

void OpenGLDisplayBuffer::createDeviceObject(const u8* data, u64 bytes)
{
    m_systemCopy = reinterpret_cast<uintptr_t>(data);
    if (bytes == 0)
        return;
    if (m_storageMode == BufferObjectRequested)
        m_storageMode = m_caps && m_caps->vertexBuffersDisabled ? SystemMemory : BufferObject;
    if (m_storageMode != BufferObject)
        return;
    if (createVBO(bytes) == 0) {
        if (!g_fallbackLogged) {
            g_fallbackLogged = true;
            QUERN_LOG(2) << "Vertex buffer allocation failed, reverting to system memory" << std::endl;
        }
        m_storageMode = SystemMemory;
        return;
    }
    glBindBuffer(target(), m_vbo);
    void* mapping = glMapBuffer(target(), GL_WRITE_ONLY);
    if (!mapping) {
        if (const GLenum error = glGetError())
            checkGLError(error, __FILE__, __LINE__, "quern::opengl::OpenGLDisplayBuffer::lockVBO");
        QUERN_FATAL("glMapBufferARB failed!");
    }
    std::memcpy(mapping, data, bytes);
    glUnmapBuffer(target());
    glBindBuffer(target(), 0);
}

u32 OpenGLDisplayBuffer::createVBO(u64 bytes)
{
    if (m_kind != graphics::DisplayBufferKind::Index) {
        glGenVertexArrays(1, &m_vao);
        glBindVertexArray(m_vao);
    }
    glGenBuffers(1, &m_vbo);
    glBindBuffer(target(), m_vbo);
    glBufferData(target(), static_cast<GLsizeiptr>(bytes), nullptr, usageHint());
    GLint size = 0;
    glGetBufferParameteriv(target(), GL_BUFFER_SIZE, &size);
    glBindBuffer(target(), 0);
    if (size > 0) {
        g_totalBytes += static_cast<u64>(size);
        report();
        return m_vbo;
    }
    QUERN_LOG(2) << "Failed to allocate " << sizeText(bytes) << " VBO memory, switching to system memory!" << std::endl;
    m_storageMode = SystemMemory;
    glDeleteBuffers(1, &m_vbo);
    m_vbo = 0;
    if (m_vao) {
        glBindVertexArray(0);
        glDeleteVertexArrays(1, &m_vao);
        m_vao = 0;
    }
    glGetError();
    return 0;
}

void OpenGLDisplayBuffer::deleteVBO()
{
    glBindBuffer(target(), m_vbo);
    GLint size = 0;
    glGetBufferParameteriv(target(), GL_BUFFER_SIZE, &size);
    glBindBuffer(target(), 0);
    glDeleteBuffers(1, &m_vbo);
    m_vbo = 0;
    if (m_vao) {
        glBindVertexArray(0);
        glDeleteVertexArrays(1, &m_vao);
        m_vao = 0;
    }
    const u64 freed = size > 0 ? static_cast<u64>(size) : 0;
    g_totalBytes = freed < g_totalBytes ? g_totalBytes - freed : 0;
    report();
    if (g_totalBytes == 0)
        QUERN_LOG(3) << "All VBO memory freed" << std::endl;
}

void OpenGLDisplayBuffer::releaseDeviceObject()
{
    if (m_vbo != 0) {
        if (contextGone()) {
            m_vbo = 0;
            m_vao = 0;
        } else {
            deleteVBO();
        }
    }
    m_systemCopy = 0;
}

void OpenGLDisplayBuffer::bind()
{
    if (m_kind != graphics::DisplayBufferKind::Index) {
        glBindVertexArray(m_vao);
        if (m_storageMode == BufferObject)
            glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
    } else if (m_storageMode == BufferObject) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_vbo);
    }
}

void OpenGLDisplayBuffer::unbind()
{
    if (m_kind != graphics::DisplayBufferKind::Index) {
        if (m_storageMode == BufferObject)
            glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindVertexArray(0);
    } else if (m_storageMode == BufferObject) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }
}

void OpenGLDisplayBuffer::lock(containers::Buffer::Lock mode)
{
    ++m_lockCount;
    if (containers::Buffer::isWriteLock(mode))
        m_written = true;
}

void OpenGLDisplayBuffer::unlock(const u8* data, u64 bytes)
{
    if (m_lockCount)
        --m_lockCount;
    if (!m_written)
        return;
    m_written = false;
    if (m_vbo == 0)
        return;
    glBindBuffer(target(), m_vbo);
    glBufferData(target(), static_cast<GLsizeiptr>(bytes), data, usageHint());
    glBindBuffer(target(), 0);
}

OpenGLVertexBuffer::OpenGLVertexBuffer(u32 usage, const graphics::DisplayCaps* caps, OpenGLStateObjects* stateObjects)
    : VertexBuffer(usage)
    , m_device(graphics::DisplayBufferKind::Vertex, usage, caps)
    , m_stateObjects(stateObjects)
{
}

OpenGLVertexBuffer::OpenGLVertexBuffer(const OpenGLVertexBuffer& other)
    : VertexBuffer(other)
    , m_device(other.m_device)
    , m_stateObjects(other.m_stateObjects)
{
}

OpenGLVertexBuffer::~OpenGLVertexBuffer()
{
    if (hasDeviceObject())
        m_device.releaseDeviceObject();
}

void OpenGLVertexBuffer::createDeviceObject()
{
    VertexBuffer::createDeviceObject();
    m_device.createDeviceObject(data(), byteSize());
}

void OpenGLVertexBuffer::releaseDeviceObject()
{
    m_bindings.valid = false;
    m_device.releaseDeviceObject();
    VertexBuffer::releaseDeviceObject();
}

bool OpenGLVertexBuffer::arrayHoldsBindings() const
{
    if (!m_bindings.valid || m_device.vaoName() == 0 || !m_stateObjects->current())
        return false;
    const OpenGLStateObject& object = m_stateObjects->record(m_stateObjects->current());
    return m_bindings.count == object.attributeCount && m_bindings.formatHash == format().hash
        && std::memcmp(m_bindings.locations, object.attributeLocations, sizeof(i32) * object.attributeCount) == 0;
}

void OpenGLVertexBuffer::bind()
{
    if (!hasDeviceObject())
        createDeviceObject();
    m_device.bind();
    if (!m_stateObjects->current() || arrayHoldsBindings())
        return;
    if (m_device.vaoName() != 0) {
        // The array's old bindings go before the new ones are set.
        if (m_bindings.valid) {
            for (u64 i = 0; i < m_bindings.count; ++i) {
                if (m_bindings.locations[i] >= 0)
                    glDisableVertexAttribArray(static_cast<GLuint>(m_bindings.locations[i]));
            }
        }
        const OpenGLStateObject& object = m_stateObjects->record(m_stateObjects->current());
        m_bindings.valid = true;
        m_bindings.count = object.attributeCount;
        std::memcpy(m_bindings.locations, object.attributeLocations, sizeof m_bindings.locations);
        m_bindings.formatHash = format().hash;
    }
    m_stateObjects->bindVertexAttributes(format(), m_device.base());
}

void OpenGLVertexBuffer::unbind()
{
    // A buffer's own vertex array keeps its arrays enabled for the next bind;
    // the shared default array must be left clean.
    if (m_device.vaoName() == 0)
        m_stateObjects->disableVertexAttributes();
    m_device.unbind();
}

u8* OpenGLVertexBuffer::lock(Lock mode, u64 firstElement, u64 elementCount)
{
    checkLock(mode);
    m_device.lock(mode);
    return VertexBuffer::lock(mode, firstElement, elementCount);
}

void OpenGLVertexBuffer::unlock()
{
    VertexBuffer::unlock();
    m_device.unlock(data(), byteSize());
}

void OpenGLVertexBuffer::draw(graphics::IndexBuffer* indices, u32 first, u32 count)
{
    const u32 mode = glPrimitiveMode(indices ? indices->primitiveType() : primitiveType());
    if (!indices || indices->byteSize() == 0) {
        glDrawArrays(mode, static_cast<GLint>(first), static_cast<GLsizei>(count));
        return;
    }
    auto& glIndices = static_cast<OpenGLIndexBuffer&>(*indices);
    const u32 type = glIndexType(glIndices.indexSize());
    if (!glIndices.hasDeviceObject())
        glIndices.createDeviceObject();
    glIndices.bind();
    const uintptr_t offset = glIndices.device().base() + static_cast<uintptr_t>(first) * glIndices.indexSize();
    glDrawElements(mode, static_cast<GLsizei>(count), type, reinterpret_cast<const void*>(offset));
    glIndices.unbind();
}

OpenGLIndexBuffer::OpenGLIndexBuffer(u32 usage, const graphics::DisplayCaps* caps)
    : IndexBuffer(usage)
    , m_device(graphics::DisplayBufferKind::Index, usage, caps)
{
}

OpenGLIndexBuffer::OpenGLIndexBuffer(const OpenGLIndexBuffer& other)
    : IndexBuffer(other)
    , m_device(other.m_device)
{
}

OpenGLIndexBuffer::~OpenGLIndexBuffer()
{
    if (hasDeviceObject())
        m_device.releaseDeviceObject();
}

void OpenGLIndexBuffer::createDeviceObject()
{
    IndexBuffer::createDeviceObject();
    m_device.createDeviceObject(data(), byteSize());
}

void OpenGLIndexBuffer::releaseDeviceObject()
{
    m_device.releaseDeviceObject();
    IndexBuffer::releaseDeviceObject();
}

void OpenGLIndexBuffer::bind() { m_device.bind(); }

void OpenGLIndexBuffer::unbind() { m_device.unbind(); }

u8* OpenGLIndexBuffer::lock(Lock mode, u64 firstElement, u64 elementCount)
{
    checkLock(mode);
    m_device.lock(mode);
    return IndexBuffer::lock(mode, firstElement, elementCount);
}

void OpenGLIndexBuffer::unlock()
{
    IndexBuffer::unlock();
    m_device.unlock(data(), byteSize());
}

} // namespace quern::opengl
