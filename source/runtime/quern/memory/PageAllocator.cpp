#include "quern/memory/PageAllocator.h"

#include "quern/platform/ErrorReporting.h"

#include <bit>
#include <cstdlib>

namespace quern::memory {

void* pageAlloc(u64 size, u64 alignment)
{
    if (alignment == 0)
        alignment = 16;
    if (alignment > (u64{1} << 63))
        QUERN_OUT_OF_MEMORY();
    // posix_memalign wants a power of two no smaller than a pointer.
    alignment = std::bit_ceil(alignment < sizeof(void*) ? sizeof(void*) : alignment);
    void* block = nullptr;
    if (posix_memalign(&block, alignment, size) != 0 || !block)
        QUERN_OUT_OF_MEMORY();
    return block;
}

void pageFree(void* pointer) { std::free(pointer); }

void* PageAllocator::allocate(u64 size, u64 alignment)
{
    m_liveAllocations.fetch_add(1, std::memory_order_relaxed);
    m_totalAllocations.fetch_add(1, std::memory_order_relaxed);
    return pageAlloc(size, alignment);
}

void PageAllocator::free(void* pointer)
{
    if (pointer)
        m_liveAllocations.fetch_sub(1, std::memory_order_relaxed);
    pageFree(pointer);
}

void* PageAllocator::tryResize(void*, u64) { return nullptr; }

} // namespace quern::memory
