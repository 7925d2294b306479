#include "quern/graphics/iterators/PrimitiveIterator.h"

#include "quern/platform/ErrorReporting.h"

namespace quern::graphics {

namespace {

// Checks the type; false (with a soft assertion) for the line and point types.
bool drawsTriangles(PrimitiveType type)
{
    switch (type) {
    case PrimitiveType::TriangleList:
    case PrimitiveType::TriangleStrip:
    case PrimitiveType::TriangleFan:
        return true;
    case PrimitiveType::LineList:
    case PrimitiveType::PointList:
    case PrimitiveType::LineStrip:
        debug::softAssert("Primitive type not supported", "", __FILE__, __LINE__);
        return false;
    }
    QUERN_FATAL_INVALID_ENUM("PrimitiveType");
}

bool pairwiseDifferent(const u32 t[3]) { return t[0] != t[1] && t[1] != t[2] && t[0] != t[2]; }

} // namespace

u32 verticesPerPrimitive(PrimitiveType type)
{
    switch (type) {
    case PrimitiveType::TriangleList:
        return 3;
    case PrimitiveType::LineList:
        return 2;
    case PrimitiveType::PointList:
    case PrimitiveType::TriangleStrip:
    case PrimitiveType::LineStrip:
    case PrimitiveType::TriangleFan:
        return 1;
    }
    QUERN_FATAL_INVALID_ENUM("PrimitiveType");
}

IndexedTriangleIterator::IndexedTriangleIterator(const u8* begin, const u8* end, u64 indexSize, PrimitiveType type)
    : m_begin(begin)
    , m_end(end)
    , m_current(begin)
    , m_indexSize(indexSize)
    , m_type(type)
    , m_supported(drawsTriangles(type))
{
    m_step = verticesPerPrimitive(type) * indexSize;
    if (m_indexSize == 0)
        m_supported = false;
}

u32 IndexedTriangleIterator::indexAt(const u8* position) const
{
    switch (m_indexSize) {
    case 1:
        return position[0];
    case 2:
        return static_cast<u32>(position[0]) | (static_cast<u32>(position[1]) << 8);
    case 4:
        return static_cast<u32>(position[0]) | (static_cast<u32>(position[1]) << 8)
            | (static_cast<u32>(position[2]) << 16) | (static_cast<u32>(position[3]) << 24);
    default:
        return 0;
    }
}

bool IndexedTriangleIterator::read(u32 triangle[3]) const
{
    const u64 available = static_cast<u64>(m_end - m_current) / m_indexSize;
    if (!m_started || m_type == PrimitiveType::TriangleList) {
        // A whole triple from the current position.
        if (available < 3)
            return false;
        for (u64 i = 0; i < 3; ++i)
            triangle[i] = indexAt(m_current + i * m_indexSize);
        return true;
    }
    if (available < 1)
        return false;
    const u32 k = indexAt(m_current);
    if (m_type == PrimitiveType::TriangleStrip) {
        const u32 before = indexAt(m_current - m_indexSize);
        const u32 twoBefore = indexAt(m_current - 2 * m_indexSize);
        triangle[0] = m_odd ? k : twoBefore;
        triangle[1] = before;
        triangle[2] = m_odd ? twoBefore : k;
        return true;
    }
    triangle[0] = indexAt(m_begin);
    triangle[1] = indexAt(m_current - m_indexSize);
    triangle[2] = k;
    return true;
}

void IndexedTriangleIterator::advance()
{
    m_current += m_started ? m_step : 3 * m_indexSize;
    m_started = true;
    m_odd = !m_odd;
}

bool IndexedTriangleIterator::next(u32 triangle[3])
{
    if (!m_supported)
        return false;
    while (m_current < m_end) {
        const bool found = read(triangle);
        if (!found) {
            m_current = m_end;
            return false;
        }
        const bool proper = pairwiseDifferent(triangle);
        advance();
        if (proper)
            return true;
    }
    return false;
}

VertexTriangleIterator::VertexTriangleIterator(PrimitiveType type, u64 vertexCount)
    : m_type(type)
{
    if (!drawsTriangles(type))
        return;
    if (type == PrimitiveType::TriangleList)
        m_triangleCount = vertexCount / 3;
    else
        m_triangleCount = vertexCount >= 3 ? vertexCount - 2 : 0;
}

bool VertexTriangleIterator::next(u32 triangle[3])
{
    if (m_index >= m_triangleCount)
        return false;
    const u32 i = static_cast<u32>(m_index);
    switch (m_type) {
    case PrimitiveType::TriangleList:
        triangle[0] = 3 * i;
        triangle[1] = 3 * i + 1;
        triangle[2] = 3 * i + 2;
        break;
    case PrimitiveType::TriangleStrip: {
        const bool odd = (m_index & 1) != 0;
        triangle[0] = odd ? i + 2 : i;
        triangle[1] = i + 1;
        triangle[2] = odd ? i : i + 2;
        break;
    }
    default:
        triangle[0] = 0;
        triangle[1] = i + 1;
        triangle[2] = i + 2;
        break;
    }
    ++m_index;
    return true;
}

} // namespace quern::graphics
