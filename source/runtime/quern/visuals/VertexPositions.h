#pragma once
// Reads vertex positions out of a vertex buffer by vertex number, holding a
// read lock while it lives. A buffer without a readable three-float position
// reads as empty.

#include "quern/Types.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/math/Vector3.h"

#include <cstring>

namespace quern::visuals {

class VertexPositions {
public:
    explicit VertexPositions(graphics::VertexBuffer& buffer)
        : m_buffer(buffer)
    {
        const graphics::VertexFormat& format = buffer.format();
        const graphics::VertexAttribute* position = format.findAttribute(graphics::VertexAttribute::kPositionID);
        if (!position || position->type != graphics::VertexAttribute::Float || position->count < 3 || format.stride == 0
            || buffer.vertexCount() == 0)
            return;
        m_count = buffer.vertexCount();
        m_offset = position->offset;
        m_stride = format.stride;
        m_data = buffer.lockVertices(containers::BufferBase::Lock::Read, 0, m_count);
    }
    ~VertexPositions()
    {
        if (m_data)
            m_buffer.unlockVertices();
    }
    VertexPositions(const VertexPositions&) = delete;
    VertexPositions& operator=(const VertexPositions&) = delete;

    u64 count() const { return m_count; }
    // False for a vertex number past the end.
    bool read(u64 index, math::Vector3& out) const
    {
        if (index >= m_count)
            return false;
        f32 xyz[3];
        std::memcpy(xyz, m_data + index * m_stride + m_offset, sizeof xyz);
        out = { xyz[0], xyz[1], xyz[2] };
        return true;
    }

private:
    graphics::VertexBuffer& m_buffer;
    const u8* m_data = nullptr;
    u64 m_count = 0;
    u64 m_offset = 0;
    u64 m_stride = 0;
};

} // namespace quern::visuals
