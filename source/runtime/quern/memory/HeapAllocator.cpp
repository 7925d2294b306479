#include "quern/memory/HeapAllocator.h"

#include "quern/memory/GeneralHeap.h"

namespace quern::memory {

void* HeapAllocator::allocate(u64 size, u64 alignment)
{
    // The heap's blocks are 16-aligned already.
    if (alignment > 16)
        return heapAllocAligned(getGeneralHeap(), alignment, size);
    return heapAlloc(size);
}

void HeapAllocator::free(void* pointer)
{
    heapFree(pointer);
}

void* HeapAllocator::tryResize(void* pointer, u64 newSize)
{
    return heapResizeInPlace(pointer, newSize);
}

} // namespace quern::memory
