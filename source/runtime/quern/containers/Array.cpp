#include "quern/containers/Array.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace quern::containers {
namespace {

memory::Allocator& resolveAllocator(memory::Allocator*& allocator)
{
    if (!allocator)
        allocator = memory::getDefaultAllocator();
    if (!allocator)
        QUERN_FATAL("Array grown before the default allocator exists");
    return *allocator;
}

u64 byteSize(u64 count, u64 elementSize)
{
    u64 bytes = 0;
    if (__builtin_mul_overflow(count, elementSize, &bytes))
        QUERN_OUT_OF_MEMORY();
    return bytes;
}

} // namespace

Array::Array(u64 elementSize, u64 alignment, memory::Allocator* allocator)
    : m_allocator(allocator), m_elementSize(elementSize), m_alignment(alignment)
{
}

Array::Array(u64 count, u64 elementSize, u64 alignment, memory::Allocator* allocator)
    : m_allocator(allocator), m_elementSize(elementSize), m_alignment(alignment)
{
    if (count == 0)
        return;
    const u64 bytes = byteSize(count, elementSize);
    m_data = resolveAllocator(m_allocator).allocate(bytes, alignment);
    if (!m_data && bytes != 0)
        QUERN_OUT_OF_MEMORY();
    m_count = count;
    m_capacity = count;
}

Array::~Array() { release(); }

Array::Array(Array&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_allocator(other.m_allocator),
      m_count(std::exchange(other.m_count, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)),
      m_elementSize(other.m_elementSize),
      m_alignment(other.m_alignment)
{
}

Array& Array::operator=(Array&& other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_allocator = other.m_allocator;
        m_count = std::exchange(other.m_count, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_elementSize = other.m_elementSize;
        m_alignment = other.m_alignment;
    }
    return *this;
}

u64 Array::growCapacity(u64 wanted) const
{
    const u64 c = m_capacity;
    const u64 s = m_elementSize;
    if (c == 0) {
        if (s == 0)
            return std::max<u64>(wanted, 1);
        return s <= 64 ? std::max(wanted, 64 / s) : std::max<u64>(wanted, 1);
    }
    const u64 bytes = byteSize(c, s);
    if (bytes >= 4096 && bytes <= 131072)
        return std::max(wanted, (3 * c + 1) / 2);
    return std::max(wanted, 2 * c);
}

void Array::grow(u64 n)
{
    const u64 newCapacity = growCapacity(n);
    if (newCapacity > m_capacity)
        resizeBlock(newCapacity);
}

void Array::resizeBlock(u64 newCapacity)
{
    memory::Allocator& allocator = resolveAllocator(m_allocator);
    const u64 bytes = byteSize(newCapacity, m_elementSize);
    void* block = memory::reallocate(m_data, usedBytes(), m_alignment, bytes, allocator);
    if (!block && bytes != 0)
        QUERN_OUT_OF_MEMORY();
    m_data = block;
    m_capacity = newCapacity;
}

void* Array::pushGrowing(const void* element)
{
    const auto* source = static_cast<const u8*>(element);
    const auto* begin = static_cast<const u8*>(m_data);
    const bool inside = m_data && source >= begin && source < begin + usedBytes();
    const u64 offset = inside ? static_cast<u64>(source - begin) : 0;
    void* place = expand(m_count + 1);
    std::memcpy(place, inside ? static_cast<const u8*>(m_data) + offset : source, m_elementSize);
    return place;
}

void Array::failElementSize() { QUERN_FATAL("Array element size does not match the pushed type"); }

void Array::reserve(u64 n)
{
    if (m_capacity < n)
        resizeBlock(n);
}

void Array::assign(const void* begin, const void* end)
{
    const auto bytes = static_cast<u64>(static_cast<const u8*>(end) - static_cast<const u8*>(begin));
    const u64 count = m_elementSize ? bytes / m_elementSize : 0;
    if (count > m_capacity) {
        // A source this large cannot lie inside the block, and the old contents are replaced.
        m_count = 0;
        resizeBlock(count);
    }
    if (count != 0)
        std::memmove(m_data, begin, count * m_elementSize);
    m_count = count;
}

void* Array::erase(void* first, void* last)
{
    auto* f = static_cast<u8*>(first);
    auto* l = static_cast<u8*>(last);
    auto* e = static_cast<u8*>(end());
    if (f == l)
        return first;
    if (f < static_cast<u8*>(m_data) || l < f || l > e)
        QUERN_FATAL("Array::erase range lies outside the array");
    const auto gap = static_cast<u64>(l - f);
    const auto tail = static_cast<u64>(e - l);
    if (tail >= gap)
        std::memcpy(f, e - gap, gap);
    else if (tail != 0)
        std::memmove(f, l, tail);
    m_count -= gap / m_elementSize;
    return first;
}

void Array::removeValue(const void* value)
{
    if (m_elementSize != 8)
        QUERN_FATAL("Array::removeValue needs 8-byte elements");
    const auto wanted = reinterpret_cast<std::uintptr_t>(value);
    auto* elements = static_cast<u8*>(m_data);
    for (u64 i = 0; i < m_count; ++i) {
        u64 element = 0;
        std::memcpy(&element, elements + i * 8, 8);
        if (element == wanted) {
            std::memmove(elements + i * 8, elements + (i + 1) * 8, (m_count - i - 1) * 8);
            --m_count;
            break;
        }
    }
    if (!m_data)
        return;
    const u64 bytes = m_count * 8;
    void* block = memory::reallocate(m_data, bytes, m_alignment, bytes, *m_allocator);
    if (!block && bytes != 0)
        return; // no smaller block to be had: keep the current one
    m_data = block;
    m_capacity = m_count;
}

void Array::release()
{
    if (m_data)
        m_allocator->free(m_data);
    m_data = nullptr;
    m_count = 0;
    m_capacity = 0;
}

} // namespace quern::containers
