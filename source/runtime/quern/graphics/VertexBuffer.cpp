#include "quern/graphics/VertexBuffer.h"

#include "quern/debug/Log.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/PackedName.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace quern::graphics {
namespace {

void readPosition(const u8* vertex, u8 offset, f32 (&position)[3])
{
    std::memcpy(position, vertex + offset, sizeof position);
}

template <typename T> T readComponent(const u8* at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// The components of one attribute, each read as its own type.
void printComponents(std::ostream& stream, const VertexAttribute& attribute, const u8* vertex)
{
    const u8* at = vertex + attribute.offset;
    const u32 size = vertexComponentSize(attribute.type);
    for (u32 i = 0; i < attribute.count; ++i, at += size) {
        if (i != 0)
            stream << ", ";
        switch (attribute.type) {
        case VertexAttribute::Float:
            stream << readComponent<f32>(at);
            break;
        case VertexAttribute::Double:
            stream << readComponent<f64>(at);
            break;
        case VertexAttribute::Byte:
            stream << static_cast<i32>(readComponent<i8>(at));
            break;
        case VertexAttribute::Short:
            stream << readComponent<i16>(at);
            break;
        case VertexAttribute::Int:
            stream << readComponent<i32>(at);
            break;
        case VertexAttribute::UnsignedByte:
            stream << static_cast<u32>(readComponent<u8>(at));
            break;
        case VertexAttribute::UnsignedShort:
            stream << readComponent<u16>(at);
            break;
        case VertexAttribute::UnsignedInt:
            stream << readComponent<u32>(at);
            break;
        default:
            stream << 0;
            break;
        }
    }
}

} // namespace

VertexBuffer::VertexBuffer(u32 usage)
    : DisplayBuffer(DisplayBufferKind::Vertex, usage, 1)
{
}

VertexBuffer::VertexBuffer(const VertexBuffer& other)
    : DisplayBuffer(other)
    , RefCounted()
    , m_format(other.m_format)
    , m_primitiveType(other.m_primitiveType)
    , m_radius(other.m_radius)
    , m_sphereStale(other.m_sphereStale)
    , m_boxStale(other.m_boxStale)
{
    std::copy(other.m_centre, other.m_centre + 4, m_centre);
    std::copy(other.m_boxMin, other.m_boxMin + 4, m_boxMin);
    std::copy(other.m_boxMax, other.m_boxMax + 4, m_boxMax);
}

VertexBuffer::~VertexBuffer() = default;

VertexBuffer* VertexBuffer::clone() const { return new VertexBuffer(*this); }

void VertexBuffer::draw(IndexBuffer*, u32, u32) { }

void VertexBuffer::setSize(u64 bytes)
{
    if (hasDeviceObject())
        releaseDeviceObject();
    DisplayBuffer::setSize(bytes);
    markBoundsStale();
    notifyListeners();
}

void VertexBuffer::unlock()
{
    DisplayBuffer::unlock();
    if (lockWord() & 1) {
        markBoundsStale();
        notifyListeners();
    }
}

void VertexBuffer::createDeviceObject()
{
    DisplayBuffer::createDeviceObject();
    if (!(usage() & BufferUsage::Dynamic)) {
        updateBoundingSphere();
        updateBoundingBox();
    }
}

u8* VertexBuffer::lockVertices(Lock mode, u64 firstVertex, u64 vertexCount)
{
    checkLock(mode);
    if (firstVertex > elementCount() || vertexCount > elementCount() - firstVertex)
        QUERN_FATAL("Vertex lock beyond the end of the buffer");
    if (isWriteLock(mode))
        setLockWord(static_cast<i32>(mode));
    else
        addLockWord(4);
    return lock(mode, firstVertex, vertexCount);
}

void VertexBuffer::unlockVertices()
{
    unlock();
    resetLockWord();
}

void VertexBuffer::setStoredBounds(const f32 centre[3], f32 radius, const f32 boxMin[3], const f32 boxMax[3])
{
    for (int axis = 0; axis < 3; ++axis) {
        m_centre[axis] = centre[axis];
        m_boxMin[axis] = boxMin[axis];
        m_boxMax[axis] = boxMax[axis];
    }
    m_centre[3] = m_boxMin[3] = m_boxMax[3] = 1;
    m_radius = radius;
    m_sphereStale = 0;
    m_boxStale = 0;
}

void VertexBuffer::markBoundsStale()
{
    m_sphereStale = 1;
    m_boxStale = 1;
}

void VertexBuffer::setVertexFormat(const VertexFormat& requested)
{
    // Offsets and stride come from the attributes, whatever the caller left in them.
    VertexFormat format = requested;
    format.computeLayout();
    if (format.hasSameLayout(m_format))
        return;
    if (format.stride % 4 != 0)
        QUERN_LOG(2) << "Vertex size " << format.stride << " is not a multiple of 4!" << std::endl;
    const u64 newElementSize = format.stride ? format.stride : 1;
    if (byteSize() == 0) {
        m_format = format;
        setElementSize(newElementSize);
    } else if (m_format.stride == 0) {
        // Bytes written before any format was given are the vertices of this one.
        m_format = format;
        storeElementSize(newElementSize);
        markBoundsStale();
        notifyListeners();
    } else {
        convertVertices(format);
    }
}

void VertexBuffer::convertVertices(const VertexFormat& format)
{
    const VertexFormat old = m_format;
    const u64 n = byteSize() / old.stride;
    QUERN_LOG(4) << "Converting " << n << " vertices to new vertex format" << std::endl;
    const containers::ElementBuffer copy(static_cast<const Buffer&>(*this));

    m_format = format;
    storeElementSize(format.stride ? format.stride : 1);
    setSize(n * format.stride);
    if (n == 0 || format.stride == 0)
        return;

    u8* to = lockVertices(Lock::Write, 0, n);
    // Attributes that are new start as zeros rather than stale heap bytes.
    std::memset(to, 0, n * format.stride);
    const u8* from = copy.data();
    for (u64 a = 0; a < old.count; ++a) {
        const VertexAttribute& source = old.attributes[a];
        const VertexAttribute* target = format.findAttribute(source.id);
        if (!target)
            continue;
        // The smaller of the two sizes: a wider attribute in either format
        // must not reach into its neighbour or past the last vertex.
        const u32 bytes = std::min(source.getSize(), target->getSize());
        for (u64 v = 0; v < n; ++v)
            std::memcpy(to + v * format.stride + target->offset, from + v * old.stride + source.offset, bytes);
    }
    unlockVertices();
}

bool VertexBuffer::hasReadablePositions() const
{
    if (!(m_format.flags & VertexFormat::kHasPosition) || byteSize() < m_format.stride || m_format.stride == 0)
        return false;
    for (u64 i = 0; i < m_format.count; ++i) {
        const VertexAttribute& attribute = m_format.attributes[i];
        if (attribute.id == VertexAttribute::kPositionID && attribute.offset == m_format.positionOffset)
            return attribute.type == VertexAttribute::Float && attribute.count >= 3;
    }
    return false;
}

void VertexBuffer::updateBoundingBox()
{
    if (!m_boxStale)
        return;
    const u64 n = vertexCount();
    if (n != 0 && hasReadablePositions()) {
        for (int axis = 0; axis < 3; ++axis) {
            m_boxMin[axis] = FLT_MAX;
            m_boxMax[axis] = -FLT_MAX;
        }
        const u8* vertex = lockVertices(Lock::Read, 0, n);
        for (u64 v = 0; v < n; ++v, vertex += m_format.stride) {
            f32 position[3];
            readPosition(vertex, m_format.positionOffset, position);
            for (int axis = 0; axis < 3; ++axis) {
                m_boxMin[axis] = std::min(m_boxMin[axis], position[axis]);
                m_boxMax[axis] = std::max(m_boxMax[axis], position[axis]);
            }
        }
        unlockVertices();
    } else {
        for (int axis = 0; axis < 3; ++axis)
            m_boxMin[axis] = m_boxMax[axis] = 0;
    }
    m_boxMin[3] = m_boxMax[3] = 1;
    m_boxStale = 0;
}

void VertexBuffer::updateBoundingSphere()
{
    if (!m_sphereStale)
        return;
    m_radius = 0;
    const u64 n = vertexCount();
    if (n != 0 && hasReadablePositions()) {
        updateBoundingBox();
        for (int axis = 0; axis < 3; ++axis)
            m_centre[axis] = m_boxMin[axis] + (m_boxMax[axis] - m_boxMin[axis]) * 0.5f;
        m_centre[3] = 1;
        const f32 limit = std::sqrt(FLT_MAX);
        f32 largest = 0;
        const u8* vertex = lockVertices(Lock::Read, 0, n);
        for (u64 v = 0; v < n; ++v, vertex += m_format.stride) {
            f32 position[3];
            readPosition(vertex, m_format.positionOffset, position);
            f32 squared = 0;
            for (int axis = 0; axis < 3; ++axis) {
                const f32 difference = position[axis] - m_centre[axis];
                if (std::fabs(difference) >= limit) {
                    squared = FLT_MAX;
                    break;
                }
                squared += difference * difference;
            }
            largest = std::max(largest, std::min(squared, FLT_MAX));
        }
        unlockVertices();
        m_radius = std::sqrt(largest) + 1e-5f;
    }
    m_sphereStale = 0;
}

std::ostream& operator<<(std::ostream& stream, VertexBuffer& buffer)
{
    buffer.updateBoundingSphere();
    buffer.updateBoundingBox();
    const f32* centre = buffer.centre();
    const f32* boxMin = buffer.boxMin();
    const f32* boxMax = buffer.boxMax();
    const VertexFormat& format = buffer.format();
    stream << "Bounding sphere: center = " << centre[0] << ", " << centre[1] << ", " << centre[2]
           << ", radius = " << buffer.radius() << '\n';
    stream << "Bounding box: " << boxMin[0] << ", " << boxMin[1] << ", " << boxMin[2] << " --> " << boxMax[0] << ", "
           << boxMax[1] << ", " << boxMax[2] << '\n';
    const u64 n = format.stride ? buffer.byteSize() / format.stride : 0;
    stream << "vertices = " << n << '\n';
    stream << "format = " << format.toString() << '\n';
    stream << "stride = " << format.stride << '\n';
    if (format.count == 0 || n == 0)
        return stream;
    const u8* vertex = buffer.lockVertices(containers::BufferBase::Lock::Read, 0, n);
    for (u64 v = 0; v < n; ++v, vertex += format.stride) {
        for (u64 a = 0; a < format.count; ++a) {
            const VertexAttribute& attribute = format.attributes[a];
            if (attribute.id == VertexAttribute::kPositionID)
                stream << "pos: ";
            else if (attribute.id == VertexAttribute::kNormalID)
                stream << "nor: ";
            else
                stream << unpackName(attribute.id).c_str() << ": ";
            printComponents(stream, attribute, vertex);
            stream << '\n';
        }
    }
    buffer.unlockVertices();
    return stream;
}

} // namespace quern::graphics
