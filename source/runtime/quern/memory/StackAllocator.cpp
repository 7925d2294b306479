#include "quern/memory/StackAllocator.h"

#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace quern::memory {

StackAllocator::StackAllocator(void* buffer, u64 capacity)
    : m_buffer(static_cast<unsigned char*>(buffer))
    , m_capacity(capacity)
{
}

void* StackAllocator::allocate(u64 size, u64 alignment)
{
    if (alignment == 0)
        alignment = 16;
    if (alignment > kMaxAlignment)
        return nullptr;
    const u64 position = reinterpret_cast<u64>(m_buffer) + m_top;
    // At least two bytes below every block hold its padding count.
    // Allocations run on hot paths: a mask, not a division, for the usual power-of-two alignments.
    u64 padding = (alignment & (alignment - 1)) == 0 ? (0 - position) & (alignment - 1)
                                                     : (alignment - position % alignment) % alignment;
    while (padding < 2)
        padding += alignment;
    if (padding > m_capacity - m_top || size > m_capacity - m_top - padding)
        return nullptr;
    unsigned char* block = m_buffer + m_top + padding;
    const u16 stored = static_cast<u16>(padding);
    std::memcpy(block - 2, &stored, sizeof stored);
    m_top += padding + size;
    return block;
}

void StackAllocator::free(void* pointer)
{
    if (!pointer)
        return;
    unsigned char* block = static_cast<unsigned char*>(pointer);
    if (block < m_buffer + 2 || block > m_buffer + m_top)
        QUERN_FATAL("StackAllocator: freed pointer does not belong to this allocator");
    u16 padding;
    std::memcpy(&padding, block - 2, sizeof padding);
    if (padding < 2 || padding > static_cast<u64>(block - m_buffer))
        QUERN_FATAL("StackAllocator: freed pointer does not belong to this allocator");
    m_top = static_cast<u64>(block - m_buffer) - padding;
}

void* StackAllocator::tryResize(void*, u64) { return nullptr; }

bool StackAllocator::contains(const void* pointer) const
{
    const unsigned char* p = static_cast<const unsigned char*>(pointer);
    return p >= m_buffer && p < m_buffer + m_capacity;
}

} // namespace quern::memory
