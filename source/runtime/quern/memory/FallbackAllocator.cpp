#include "quern/memory/FallbackAllocator.h"

#include "quern/memory/DefaultAllocator.h"

namespace quern::memory {

FallbackAllocator::FallbackAllocator(void* buffer, u64 capacity)
    : m_arena(buffer, capacity)
{
}

void* FallbackAllocator::allocate(u64 size, u64 alignment)
{
    if (void* block = m_arena.allocate(size, alignment))
        return block;
    Allocator* fallback = fallbackAllocator();
    return fallback ? fallback->allocate(size, alignment) : nullptr;
}

void FallbackAllocator::free(void* pointer)
{
    // Arena blocks stay taken: releasing one would release every later one too.
    if (!pointer || m_arena.contains(pointer))
        return;
    if (Allocator* fallback = fallbackAllocator())
        fallback->free(pointer);
}

void* FallbackAllocator::tryResize(void* pointer, u64 newSize)
{
    if (!pointer || m_arena.contains(pointer))
        return nullptr;
    Allocator* fallback = fallbackAllocator();
    return fallback ? fallback->tryResize(pointer, newSize) : nullptr;
}

Allocator* FallbackAllocator::fallbackAllocator()
{
    if (!m_fallback)
        m_fallback = getDefaultAllocator();
    return m_fallback;
}

} // namespace quern::memory
