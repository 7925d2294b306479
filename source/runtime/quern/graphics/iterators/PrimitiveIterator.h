#pragma once
// Walks the triangles of indexed and non-indexed geometry one at a time as
// index triples, for every primitive type: strips alternate their winding,
// fans turn around their first vertex. Line and point types hold no
// triangles (a soft assertion says so); invalid types are fatal.

#include "quern/Types.h"
#include "quern/graphics/PrimitiveType.h"

namespace quern::graphics {

// Indices a primitive step advances by: 3 for triangle lists, 2 for line
// lists, 1 for the rest. Fatal for an invalid type.
u32 verticesPerPrimitive(PrimitiveType type);

// Over raw index data of 1, 2 or 4 bytes per index (other widths read 0).
// Triples whose three indices are not pairwise different are skipped.
class IndexedTriangleIterator {
public:
    IndexedTriangleIterator(const u8* begin, const u8* end, u64 indexSize, PrimitiveType type);

    // The next proper triangle; false once there is none.
    bool next(u32 triangle[3]);

private:
    u32 indexAt(const u8* position) const;
    bool read(u32 triangle[3]) const;
    void advance();

    const u8* m_begin;
    const u8* m_end;
    const u8* m_current;
    u64 m_indexSize;
    u64 m_step;
    PrimitiveType m_type;
    bool m_started = false;
    bool m_odd = false;
    bool m_supported;
};

// Over a range of vertices drawn without indices.
class VertexTriangleIterator {
public:
    VertexTriangleIterator(PrimitiveType type, u64 vertexCount);

    bool next(u32 triangle[3]);

private:
    PrimitiveType m_type;
    u64 m_triangleCount = 0;
    u64 m_index = 0;
};

} // namespace quern::graphics
