#pragma once
// How vertices or indices group into points, lines and triangles: a shape bit
// (1 triangle, 2 line, 4 point) combined with a topology bit (8 list, 16
// strip, 32 fan). Only the six combinations below are valid.

#include "quern/Types.h"

namespace quern::graphics {

enum class PrimitiveType : u32 {
    TriangleList = 9,
    LineList = 10,
    PointList = 12,
    TriangleStrip = 17,
    LineStrip = 18,
    TriangleFan = 33,
};

// "trianglelist", "linelist", ...; the empty text for an invalid value.
const char* primitiveTypeName(PrimitiveType type);

// Primitives drawn from n indices (or vertices): n / 3 for triangle lists,
// n / 2 for line lists, n for point lists, n - 2 for triangle strips and fans,
// n - 1 for line strips, never below 0. An invalid type is fatal.
u64 primitiveCountForIndices(PrimitiveType type, u64 n);

} // namespace quern::graphics
