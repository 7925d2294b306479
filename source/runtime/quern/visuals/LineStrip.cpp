#include "quern/visuals/LineStrip.h"

#include "quern/graphics/BatchVertex.h"
#include "quern/graphics/VertexBuffer.h"

#include <algorithm>
#include <cmath>

namespace quern::visuals {

void buildLineStrip(graphics::VertexBuffer& vb, const PolylinePoint* points, u64 n, const f32 (*colours)[4],
    u64 colourCount, f32 startWidth, f32 endWidth, f32 boundsMin[3], f32 boundsMax[3])
{
    for (int a = 0; a < 3; ++a) {
        boundsMin[a] = 3.4028235e38f;
        boundsMax[a] = -3.4028235e38f;
    }
    if (n < 2 || colourCount == 0) {
        vb.setSize(0);
        return;
    }
    if (vb.byteSize() == 0)
        vb.setVertexFormat(graphics::VertexFormat::fromFlags(graphics::kBatchVertexFlags));
    else if (vb.vertexCount() != 2 * n)
        vb.setSize(0);
    vb.resizeElements(2 * n);
    vb.setPrimitiveType(graphics::PrimitiveType::TriangleStrip);
    auto* out
        = reinterpret_cast<graphics::BatchVertex*>(vb.lockVertices(containers::BufferBase::Lock::Write, 0, 2 * n));
    const f32* first = colours[0];
    const f32* last = colours[colourCount - 1];
    for (u64 j = 0; j < n; ++j) {
        const f32 t = static_cast<f32>(j) / static_cast<f32>(n - 1);
        const f32 w = startWidth + (endWidth - startWidth) * t;
        f32 colour[4];
        for (int c = 0; c < 4; ++c)
            colour[c] = first[c] + (last[c] - first[c]) * t;
        const PolylinePoint& p = points[j];
        const PolylinePoint& from = j + 1 < n ? p : points[n - 2];
        const PolylinePoint& to = j + 1 < n ? points[j + 1] : p;
        const f32 dx = to.x - from.x, dy = to.y - from.y, dz = to.z - from.z;
        const f32 length = std::sqrt(dx * dx + dy * dy + dz * dz);
        f32 ox = -dy * w * 0.5f, oy = dx * w * 0.5f;
        if (length != 0.0f) {
            ox = -dy / length * w * 0.5f;
            oy = dx / length * w * 0.5f;
        }
        graphics::BatchVertex v { p.x + ox, p.y + oy, p.z, {}, t, 0.0f };
        graphics::packColour(v.colour, colour[0], colour[1], colour[2], colour[3]);
        out[2 * j] = v;
        v.x = p.x - ox;
        v.y = p.y - oy;
        v.v = 1.0f;
        out[2 * j + 1] = v;
        const f32 half = w * 0.5f;
        boundsMin[0] = std::min(boundsMin[0], p.x - half);
        boundsMax[0] = std::max(boundsMax[0], p.x + half);
        boundsMin[1] = std::min(boundsMin[1], p.y - half);
        boundsMax[1] = std::max(boundsMax[1], p.y + half);
        boundsMin[2] = std::min(boundsMin[2], p.z);
        boundsMax[2] = std::max(boundsMax[2], p.z);
    }
    vb.unlockVertices();
}

} // namespace quern::visuals
