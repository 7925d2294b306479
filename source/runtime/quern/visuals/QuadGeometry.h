#pragma once
// Geometry shared by quad passes, the HUD and particles.

#include "quern/Types.h"

namespace quern::graphics {
class IndexBuffer;
class VertexBuffer;
} // namespace quern::graphics

namespace quern::visuals {

// The full-screen quad: a four-vertex triangle strip from (-1, -1) to (1, 1)
// with normals (0, 0, -1) and texture coordinates from 0 to 1.
void buildUnitQuad(graphics::VertexBuffer& vb);
// Two triangles per quad over vertices first + 4i .. first + 4i + 3, in the
// buffer's index size. A buffer that holds 6n indices already is kept.
void fillQuadIndices(graphics::IndexBuffer& ib, u64 quads, u32 firstVertex);

} // namespace quern::visuals
