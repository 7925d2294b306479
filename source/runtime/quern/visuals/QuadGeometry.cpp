#include "quern/visuals/QuadGeometry.h"

#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/VertexBuffer.h"

#include <cstring>
#include <initializer_list>

namespace quern::visuals {

using Lock = containers::BufferBase::Lock;

void buildUnitQuad(graphics::VertexBuffer& vb)
{
    vb.setSize(0);
    vb.setVertexFormat(graphics::VertexFormat::fromFlags(0x1 | 0x2 | (1u << 8)));
    vb.setPrimitiveType(graphics::PrimitiveType::TriangleStrip);
    vb.resizeElements(4);
    const f32 vertices[4][8] = {
        { -1, -1, 0, 0, 0, -1, 0, 0 },
        { 1, -1, 0, 0, 0, -1, 1, 0 },
        { -1, 1, 0, 0, 0, -1, 0, 1 },
        { 1, 1, 0, 0, 0, -1, 1, 1 },
    };
    std::memcpy(vb.lockVertices(Lock::Write, 0, 4), vertices, sizeof vertices);
    vb.unlockVertices();
}

void fillQuadIndices(graphics::IndexBuffer& ib, u64 quads, u32 firstVertex)
{
    const u64 wanted = quads * 6;
    if (ib.indexCount() >= wanted)
        return;
    const u64 size = ib.indexSize();
    ib.setSize(0);
    ib.setPrimitiveType(graphics::PrimitiveType::TriangleList);
    ib.resizeElements(wanted);
    u8* out = ib.lockIndices(Lock::Write, 0, wanted);
    for (u64 q = 0; q < quads; ++q) {
        const u32 v = firstVertex + static_cast<u32>(q * 4);
        for (u32 index : { v, v + 1, v + 2, v, v + 2, v + 3 })
            for (u64 b = 0; b < size; ++b)
                *out++ = static_cast<u8>(index >> (8 * b));
    }
    ib.unlockIndices();
}

} // namespace quern::visuals
