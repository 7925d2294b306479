#pragma once
// A polyline as a ribbon: a triangle strip of two vertices per point, offset
// sideways in the x-y plane by half the width, which runs from the start
// width to the end width while the colour blends from the first to the last.

#include "quern/Types.h"
#include "quern/visuals/PolylineStore.h"

namespace quern::graphics {
class VertexBuffer;
}

namespace quern::visuals {

// Writes 2 * count batch vertices; fewer than two points empty the buffer
// (a single point has no direction). The bounds take the ribbon's extent.
void buildLineStrip(graphics::VertexBuffer& vb, const PolylinePoint* points, u64 count, const f32 (*colours)[4],
    u64 colourCount, f32 startWidth, f32 endWidth, f32 boundsMin[3], f32 boundsMax[3]);

} // namespace quern::visuals
