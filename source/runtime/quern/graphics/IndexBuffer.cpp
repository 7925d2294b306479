#include "quern/graphics/IndexBuffer.h"

#include "quern/platform/ErrorReporting.h"

#include <vector>

namespace quern::graphics {
namespace {

constexpr u32 kLargestTwoByteIndex = 0xffff;

u32 readIndex(const u8* at, u64 size)
{
    switch (size) {
    case 1:
        return at[0];
    case 2:
        return static_cast<u32>(at[0]) | static_cast<u32>(at[1]) << 8;
    case 4:
        return static_cast<u32>(at[0]) | static_cast<u32>(at[1]) << 8 | static_cast<u32>(at[2]) << 16
            | static_cast<u32>(at[3]) << 24;
    default:
        return 0;
    }
}

void writeIndex(u8* at, u64 size, u32 value)
{
    if (size != 1 && size != 2 && size != 4)
        return;
    if ((size == 1 && value > 0xff) || (size == 2 && value > kLargestTwoByteIndex))
        QUERN_FATAL("Index does not fit the index size of the joined buffer");
    for (u64 i = 0; i < size; ++i)
        at[i] = static_cast<u8>(value >> (8 * i));
}

void appendIndices(IndexBuffer& buffer, std::vector<u32>& values)
{
    for (IndexIterator it(buffer); !it.atEnd(); ++it)
        values.push_back(*it);
}

} // namespace

IndexBuffer::IndexBuffer(u32 usage)
    : DisplayBuffer(DisplayBufferKind::Index, usage, 2)
{
}

IndexBuffer::IndexBuffer(const IndexBuffer& other)
    : DisplayBuffer(other)
    , RefCounted()
    , m_primitiveType(other.m_primitiveType)
    , m_start(other.m_start)
    , m_count(other.m_count)
    , m_minIndex(other.m_minIndex)
    , m_maxIndex(other.m_maxIndex)
{
}

IndexBuffer::~IndexBuffer() = default;

void IndexBuffer::setIndexSizeFor(u32 value) { setElementSize(value <= kLargestTwoByteIndex ? 2 : 4); }

IndexBuffer* IndexBuffer::clone() const { return new IndexBuffer(*this); }

void IndexBuffer::setSize(u64 bytes)
{
    if (hasDeviceObject())
        releaseDeviceObject();
    DisplayBuffer::setSize(bytes);
    notifyListeners();
}

void IndexBuffer::unlock()
{
    DisplayBuffer::unlock();
    if (lockWord() & 1)
        notifyListeners();
}

void IndexBuffer::createDeviceObject()
{
    DisplayBuffer::createDeviceObject();
    if (!(usage() & BufferUsage::Dynamic))
        computeIndexRange(m_minIndex, m_maxIndex);
}

void IndexBuffer::releaseDeviceObject()
{
    DisplayBuffer::releaseDeviceObject();
    m_minIndex = 0;
    m_maxIndex = 0;
}

u8* IndexBuffer::lockIndices(Lock mode, u64 firstIndex, u64 indexCount)
{
    checkLock(mode);
    if (firstIndex > elementCount() || indexCount > elementCount() - firstIndex)
        QUERN_FATAL("Index lock beyond the end of the buffer");
    if (isWriteLock(mode))
        setLockWord(static_cast<i32>(mode));
    else
        addLockWord(4);
    return lock(mode, firstIndex, indexCount);
}

void IndexBuffer::unlockIndices()
{
    unlock();
    resetLockWord();
}

void IndexBuffer::setDrawRange(u32 start, i32 count)
{
    m_start = start;
    m_count = count;
}

u64 IndexBuffer::countDegenerateTriangles()
{
    u64 degenerate = 0;
    IndexIterator it(*this);
    for (; it.remaining() >= 3; ++it) {
        const u32 i0 = it.at(0), i1 = it.at(1), i2 = it.at(2);
        if (i0 == i1 || i1 == i2 || i0 == i2)
            ++degenerate;
    }
    return degenerate;
}

u64 IndexBuffer::getPrimitiveCount(u64 n)
{
    if (n == 0)
        return 0;
    if (m_primitiveType != PrimitiveType::TriangleStrip)
        return primitiveCountForIndices(m_primitiveType, n);
    const u64 triangles = primitiveCountForIndices(m_primitiveType, n);
    const u64 degenerate = countDegenerateTriangles();
    return triangles > degenerate ? triangles - degenerate : 0;
}

void IndexBuffer::computeIndexRange(u32& min, u32& max)
{
    min = 0xffffffffu;
    max = 0;
    IndexIterator it(*this);
    for (u64 skipped = 0; skipped < m_start && !it.atEnd(); ++skipped)
        ++it;
    for (; !it.atEnd(); ++it) {
        const u32 value = *it;
        min = value < min ? value : min;
        max = value > max ? value : max;
    }
}

void IndexBuffer::concatenate(IndexBuffer& a, IndexBuffer& b, IndexBuffer& out)
{
    switch (a.primitiveType()) {
    case PrimitiveType::TriangleList:
    case PrimitiveType::TriangleStrip:
        break;
    case PrimitiveType::LineList:
    case PrimitiveType::PointList:
    case PrimitiveType::LineStrip:
    case PrimitiveType::TriangleFan:
        debug::softAssert("Unsupported primitive type", "", __FILE__, __LINE__);
        return;
    default:
        QUERN_FATAL_INVALID_ENUM("PrimitiveType");
    }

    // Gathered first, so that out may be a or b.
    std::vector<u32> joined;
    joined.reserve(a.indexCount() + b.indexCount() + 3);
    appendIndices(a, joined);
    const u64 countOfA = joined.size();
    std::vector<u32> second;
    appendIndices(b, second);
    if (a.primitiveType() == PrimitiveType::TriangleStrip && countOfA != 0 && !second.empty()) {
        // Degenerate triangles bridge the strips. A strip alternates its
        // winding, so b must start at an even position to keep its own:
        // after an odd a, the last index of a is repeated once more.
        const u32 last = joined.back();
        joined.push_back(last);
        if (countOfA % 2 != 0)
            joined.push_back(last);
        joined.push_back(second.front());
    }
    joined.insert(joined.end(), second.begin(), second.end());

    const PrimitiveType type = a.primitiveType();
    const u64 indexSize = a.indexSize();
    out.setPrimitiveType(type);
    out.setElementSize(indexSize);
    out.setSize(joined.size() * indexSize);
    if (joined.empty())
        return;
    u8* to = out.lockIndices(Lock::Write, 0, joined.size());
    for (u32 value : joined) {
        writeIndex(to, indexSize, value);
        to += indexSize;
    }
    out.unlockIndices();
}

IndexIterator::IndexIterator(const u8* begin, const u8* end, u64 indexSize)
    : m_current(begin)
    , m_end(end)
    , m_indexSize(indexSize)
{
}

IndexIterator::IndexIterator(IndexBuffer& buffer)
    : m_indexSize(buffer.indexSize())
    , m_buffer(&buffer)
{
    const u64 n = buffer.indexCount();
    m_current = buffer.lockIndices(containers::BufferBase::Lock::Read, 0, n);
    m_end = m_current + n * m_indexSize;
}

IndexIterator::~IndexIterator()
{
    if (m_buffer)
        m_buffer->unlockIndices();
    m_current = nullptr;
    m_end = nullptr;
}

u64 IndexIterator::remaining() const
{
    if (atEnd() || m_indexSize == 0)
        return 0;
    return static_cast<u64>(m_end - m_current) / m_indexSize;
}

u32 IndexIterator::at(u64 i) const
{
    if (i >= remaining())
        QUERN_FATAL("Index iterator read past its end");
    return readIndex(m_current + i * m_indexSize, m_indexSize);
}

IndexIterator& IndexIterator::operator++()
{
    m_current += m_indexSize ? m_indexSize : 1;
    return *this;
}

std::ostream& operator<<(std::ostream& stream, IndexBuffer& buffer)
{
    const u64 n = buffer.indexCount();
    stream << "type = " << primitiveTypeName(buffer.primitiveType()) << '\n';
    stream << "indices = " << n << '\n';
    stream << "stride = " << buffer.indexSize() << '\n';
    stream << "primitives = " << buffer.getPrimitiveCount(n) << '\n';
    u32 min = 0, max = 0;
    {
        IndexIterator it(buffer);
        if (!it.atEnd())
            min = *it;
        for (; !it.atEnd(); ++it) {
            min = *it < min ? *it : min;
            max = *it > max ? *it : max;
        }
    }
    stream << "minimum = " << min << '\n';
    stream << "maximum = " << max << '\n';
    stream << "start = " << buffer.start() << '\n';
    stream << "count = " << buffer.count() << '\n';
    IndexIterator it(buffer);
    for (u64 i = 0; !it.atEnd(); ++it, ++i)
        stream << i << ": " << *it << '\n';
    return stream;
}

} // namespace quern::graphics
