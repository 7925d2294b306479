#pragma once
// Vertices in one vertex format, in memory and (through the back end's
// subclass) on the device, with the primitive type they are drawn as without
// indices and a cached bounding box and sphere of their positions.

#include "quern/Types.h"
#include "quern/graphics/DisplayBuffer.h"
#include "quern/graphics/PrimitiveType.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/language/RefCounted.h"

#include <ostream>

namespace quern::graphics {

class IndexBuffer;

class VertexBuffer : public DisplayBuffer, public RefCounted {
public:
    // Empty, with an empty format (element size 1) drawn as a triangle list.
    explicit VertexBuffer(u32 usage);
    // A deep copy of the vertices, format, primitive type and bounds; no device
    // object, its own display listener, no change listeners.
    VertexBuffer(const VertexBuffer& other);
    ~VertexBuffer() override;

    virtual VertexBuffer* clone() const;
    // Draws with the back end's device object; the in-memory buffer has none.
    virtual void draw(IndexBuffer* indices, u32 firstIndex, u32 indexCount);

    // Releases the device object first; new memory; the bounds go stale.
    void setSize(u64 bytes) override;
    // After a write lock the bounds go stale and the change listeners hear of it.
    void unlock() override;
    // Base step, then the bounds unless the usage is Dynamic.
    void createDeviceObject() override;
    void bind() override { }
    void unbind() override { }
    void discard() override { releaseDeviceObject(); }

    // Locks with the lock word kept: a write lock sets it to the mode, a read
    // lock adds 4; unlockVertices unlocks and then clears what the lock added.
    u8* lockVertices(Lock mode, u64 firstVertex, u64 vertexCount);
    void unlockVertices();

    // Nothing for a format of the same layout. Otherwise the buffer takes the
    // format; its vertices are converted: attributes present in both formats
    // keep their bytes (no type conversion), new attributes are undefined.
    void setVertexFormat(const VertexFormat& format);
    const VertexFormat& format() const { return m_format; }
    u64 vertexCount() const { return elementCount(); }

    PrimitiveType primitiveType() const { return m_primitiveType; }
    void setPrimitiveType(PrimitiveType type) { m_primitiveType = type; }

    // Recompute the bounds when stale. Vertices without a readable position
    // (three floats of the position attribute) count as an empty buffer.
    void updateBoundingBox();
    void updateBoundingSphere();
    // Bounds as last computed; callers update them first.
    f32 radius() const { return m_radius; }
    const f32* centre() const { return m_centre; }
    const f32* boxMin() const { return m_boxMin; }
    const f32* boxMax() const { return m_boxMax; }
    bool isSphereStale() const { return m_sphereStale != 0; }
    bool isBoxStale() const { return m_boxStale != 0; }
    // Bounds stored with the vertices (a loaded mesh's), taken as current.
    void setStoredBounds(const f32 centre[3], f32 radius, const f32 boxMin[3], const f32 boxMax[3]);

private:
    void markBoundsStale();
    bool hasReadablePositions() const;
    void convertVertices(const VertexFormat& format);

    VertexFormat m_format;
    PrimitiveType m_primitiveType = PrimitiveType::TriangleList;
    f32 m_radius = 0;
    f32 m_centre[4] = { 0, 0, 0, 1 };
    f32 m_boxMin[4] = { 0, 0, 0, 1 };
    f32 m_boxMax[4] = { 0, 0, 0, 1 };
    u8 m_sphereStale = 0;
    u8 m_boxStale = 0;
};

// The bounds (brought up to date), the vertex count, format and stride, then
// every attribute of every vertex, one line each.
std::ostream& operator<<(std::ostream& stream, VertexBuffer& buffer);

} // namespace quern::graphics
