#pragma once
// Vertex indices of 1, 2 or 4 bytes, in memory and (through the back end's
// subclass) on the device, with their primitive type, the range to draw and a
// cached range of the index values.

#include "quern/Types.h"
#include "quern/graphics/DisplayBuffer.h"
#include "quern/graphics/PrimitiveType.h"
#include "quern/language/RefCounted.h"

#include <ostream>

namespace quern::graphics {

class IndexBuffer : public DisplayBuffer, public RefCounted {
public:
    // Empty, 2-byte indices, a triangle list drawn whole.
    explicit IndexBuffer(u32 usage);
    // A deep copy of the indices, primitive type, draw range and index range;
    // no device object, its own display listener, no change listeners.
    IndexBuffer(const IndexBuffer& other);
    ~IndexBuffer() override;

    // 2-byte indices for vertex numbers below 65536, else 4-byte ones.
    virtual void setIndexSizeFor(u32 value);
    virtual IndexBuffer* clone() const;

    // Releases the device object first; new memory; listeners hear of it.
    void setSize(u64 bytes) override;
    // After a write lock the change listeners hear of it.
    void unlock() override;
    // Base step, then the index range unless the usage is Dynamic.
    void createDeviceObject() override;
    // Base step; the cached index range reads 0 and 0.
    void releaseDeviceObject() override;
    void bind() override { }
    void unbind() override { }
    void discard() override { releaseDeviceObject(); }

    // Locks with the lock word kept: a write lock sets it to the mode, a read
    // lock adds 4; unlockIndices unlocks and then clears what the lock added.
    u8* lockIndices(Lock mode, u64 firstIndex, u64 indexCount);
    void unlockIndices();

    u64 indexSize() const { return elementSize(); }
    u64 indexCount() const { return elementCount(); }

    PrimitiveType primitiveType() const { return m_primitiveType; }
    void setPrimitiveType(PrimitiveType type) { m_primitiveType = type; }
    // First index to draw and how many (-1: to the end).
    u32 start() const { return m_start; }
    i32 count() const { return m_count; }
    void setDrawRange(u32 start, i32 count);
    // Cached by createDeviceObject; 0 and 0 without a device object.
    u32 minIndex() const { return m_minIndex; }
    u32 maxIndex() const { return m_maxIndex; }

    // Primitives drawn from n indices: 0 for none; for triangle strips n - 2
    // less the degenerate triangles of the whole buffer (never below 0); else
    // primitiveCountForIndices.
    u64 getPrimitiveCount(u64 n);
    // Windows of three consecutive indices of the whole buffer with two equal.
    u64 countDegenerateTriangles();
    // The smallest and largest index from start() to the end; UINT32_MAX and
    // 0 when there is none.
    void computeIndexRange(u32& min, u32& max);

    // Joins a and b into out (which may be either of them), in a's primitive
    // type and index size. Lists are appended; strips are joined through
    // repeated indices that keep b's winding. b's values are written in out's
    // index size (fatal when one does not fit). Other valid types only raise
    // a soft assertion and leave out as it was; invalid types are fatal.
    static void concatenate(IndexBuffer& a, IndexBuffer& b, IndexBuffer& out);

private:
    PrimitiveType m_primitiveType = PrimitiveType::TriangleList;
    u32 m_start = 0;
    i32 m_count = -1;
    u32 m_minIndex = 0;
    u32 m_maxIndex = 0;
};

// Reads raw indices of 1, 2 or 4 bytes (little-endian; other sizes read 0).
// Made over a buffer it holds that buffer's read lock until destroyed.
class IndexIterator {
public:
    IndexIterator(const u8* begin, const u8* end, u64 indexSize);
    // Over every index of the buffer, read-locked.
    explicit IndexIterator(IndexBuffer& buffer);
    IndexIterator(const IndexIterator&) = delete;
    IndexIterator& operator=(const IndexIterator&) = delete;
    virtual ~IndexIterator();

    u32 operator*() const { return at(0); }
    // The i-th index from the current one; fatal past the end.
    u32 at(u64 i) const;
    IndexIterator& operator++();
    bool atEnd() const { return m_current >= m_end; }
    u64 remaining() const;

private:
    const u8* m_current;
    const u8* m_end;
    u64 m_indexSize;
    IndexBuffer* m_buffer = nullptr;
};

// Type, index count, index size, primitive count, smallest and largest index
// of the whole buffer, draw range, then every index as "<position>: <value>".
std::ostream& operator<<(std::ostream& stream, IndexBuffer& buffer);

} // namespace quern::graphics
