#include "quern/graphics/PrimitiveType.h"

#include "quern/platform/ErrorReporting.h"

namespace quern::graphics {
namespace {

// n - k, or 0 when there are too few indices for one primitive.
u64 countAfter(u64 n, u64 k) { return n > k ? n - k : 0; }

} // namespace

const char* primitiveTypeName(PrimitiveType type)
{
    switch (type) {
    case PrimitiveType::TriangleList:
        return "trianglelist";
    case PrimitiveType::LineList:
        return "linelist";
    case PrimitiveType::PointList:
        return "pointlist";
    case PrimitiveType::TriangleStrip:
        return "trianglestrip";
    case PrimitiveType::LineStrip:
        return "linestrip";
    case PrimitiveType::TriangleFan:
        return "trianglefan";
    }
    return "";
}

u64 primitiveCountForIndices(PrimitiveType type, u64 n)
{
    switch (type) {
    case PrimitiveType::TriangleList:
        return n / 3;
    case PrimitiveType::LineList:
        return n / 2;
    case PrimitiveType::PointList:
        return n;
    case PrimitiveType::TriangleStrip:
        return countAfter(n, 2);
    case PrimitiveType::LineStrip:
        return countAfter(n, 1);
    case PrimitiveType::TriangleFan:
        return countAfter(n, 2);
    }
    QUERN_FATAL_INVALID_ENUM("PrimitiveType");
}

} // namespace quern::graphics
