#pragma once
// Vertex and index buffers on the OpenGL device. The engine buffer keeps the
// data in memory; each one here adds a GL buffer object (and, for vertices, a
// vertex-array object) holding the device copy. When the driver refuses the
// buffer object, or buffer objects are switched off (a driver quirk or the
// game's "vbo" setting), the buffer draws from its memory copy instead. Every
// write lock re-specifies the whole buffer object from the memory copy at its
// unlock. A process-wide count of buffer-object bytes is logged in 10 MB steps.

#include "quern/Types.h"
#include "quern/graphics/DisplayBuffer.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/VertexBuffer.h"
#include <cstdint>

namespace quern::graphics {
struct DisplayCaps;
}

namespace quern::opengl {

class OpenGLStateObjects;

// The device side of one vertex or index buffer.
class OpenGLDisplayBuffer {
public:
    enum StorageMode : i32 {
        SystemMemory = 0,
        BufferObject = 1,
        BufferObjectRequested = 2,
    };

    OpenGLDisplayBuffer(graphics::DisplayBufferKind kind, u32 usage, const graphics::DisplayCaps* caps);
    // Same kind, usage and capabilities; no GL objects, buffer object requested again.
    OpenGLDisplayBuffer(const OpenGLDisplayBuffer& other);
    OpenGLDisplayBuffer& operator=(const OpenGLDisplayBuffer&) = delete;

    // Makes the buffer object and copies `bytes` of `data` into it; an empty
    // buffer gets none. A refused buffer object falls back to memory for good.
    void createDeviceObject(const u8* data, u64 bytes);
    // Deletes the GL objects unless a display exists and is closed (its
    // context went with it); the next creation makes new ones.
    void releaseDeviceObject();
    void bind();
    void unbind();
    void lock(containers::Buffer::Lock mode);
    // After a write lock the whole buffer object is specified again from `data`.
    void unlock(const u8* data, u64 bytes);

    // What attribute and index pointers are relative to: 0 with a buffer
    // object bound, else the memory copy.
    uintptr_t base() const { return m_storageMode == BufferObject ? 0 : m_systemCopy; }
    i32 storageMode() const { return m_storageMode; }
    u32 vboName() const { return m_vbo; }
    u32 vaoName() const { return m_vao; }
    u32 lockCount() const { return m_lockCount; }

    // Process-wide buffer-object bytes.
    static u64 totalBytes();
    // Forgets the counters and the once-only warning (tests).
    static void resetStatistics();

private:
    u32 target() const;
    u32 usageHint() const;
    // The buffer object's name, or 0 when the driver refused it.
    u32 createVBO(u64 bytes);
    void deleteVBO();

    graphics::DisplayBufferKind m_kind;
    u32 m_usage;
    const graphics::DisplayCaps* m_caps;
    i32 m_storageMode = BufferObjectRequested;
    uintptr_t m_systemCopy = 0;
    u32 m_lockCount = 0;
    bool m_written = false;
    u32 m_vbo = 0;
    u32 m_vao = 0;
};

class OpenGLVertexBuffer final : public graphics::VertexBuffer {
public:
    OpenGLVertexBuffer(u32 usage, const graphics::DisplayCaps* caps, OpenGLStateObjects* stateObjects);
    OpenGLVertexBuffer(const OpenGLVertexBuffer& other);
    ~OpenGLVertexBuffer() override;

    graphics::VertexBuffer* clone() const override { return new OpenGLVertexBuffer(*this); }
    // The caller binds the state object and this buffer first.
    void draw(graphics::IndexBuffer* indices, u32 first, u32 count) override;
    void createDeviceObject() override;
    void releaseDeviceObject() override;
    // Binds the arrays and points the bound state object's attributes at them.
    void bind() override;
    void unbind() override;
    u8* lock(Lock mode, u64 firstElement, u64 elementCount) override;
    void unlock() override;

    const OpenGLDisplayBuffer& device() const { return m_device; }

private:
    // The attribute bindings this buffer's vertex array holds: a vertex array
    // keeps them, so binding it again for the same program locations and
    // format needs no new pointers.
    struct ArrayBindings {
        bool valid = false;
        u64 count = 0;
        i32 locations[16] = {};
        u32 formatHash = 0;
    };
    bool arrayHoldsBindings() const;

    OpenGLDisplayBuffer m_device;
    OpenGLStateObjects* m_stateObjects;
    ArrayBindings m_bindings;
};

class OpenGLIndexBuffer final : public graphics::IndexBuffer {
public:
    OpenGLIndexBuffer(u32 usage, const graphics::DisplayCaps* caps);
    OpenGLIndexBuffer(const OpenGLIndexBuffer& other);
    ~OpenGLIndexBuffer() override;

    graphics::IndexBuffer* clone() const override { return new OpenGLIndexBuffer(*this); }
    void createDeviceObject() override;
    void releaseDeviceObject() override;
    void bind() override;
    void unbind() override;
    u8* lock(Lock mode, u64 firstElement, u64 elementCount) override;
    void unlock() override;

    OpenGLDisplayBuffer& device() { return m_device; }

private:
    OpenGLDisplayBuffer m_device;
};

// GL_TRIANGLES and the others; any other value is fatal.
u32 glPrimitiveMode(graphics::PrimitiveType type);
// GL_UNSIGNED_BYTE, _SHORT or _INT for 1, 2 or 4 bytes; any other size is fatal.
u32 glIndexType(u64 indexSize);

} // namespace quern::opengl
