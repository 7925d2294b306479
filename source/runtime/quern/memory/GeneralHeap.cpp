// The general heap: one static heap behind the global new/delete and the
// default heap allocator, taken under its spin lock. In builds for memory
// checkers (QUERN_SYSTEM_ALLOCATOR) it hands every request to the C library
// so that the tools see each block.

#include "quern/memory/HeapChunks.h"

#if QUERN_SYSTEM_ALLOCATOR
#include <cstdlib>
#include <malloc.h>
#endif

namespace quern::memory {
namespace {

constinit Heap g_generalHeap{.flags = heap::kUseLock | heap::kUseMmap | heap::kNonContiguous};

// The general heap, or a private heap whose state passes the magic check.
Heap& checkedHeap(Heap* h)
{
    heap::parameters();
    if (!h)
        heap::heapAbort();
    if (h != &g_generalHeap && h->magic != heap::g_parameters.magic)
        heap::heapAbort();
    return *h;
}

} // namespace

void ensureHeapParameters()
{
    heap::parameters();
}

Heap* getGeneralHeap()
{
    return &g_generalHeap;
}

#if !QUERN_SYSTEM_ALLOCATOR

void* heapAlloc(u64 size)
{
    heap::parameters();
    heap::HeapLock lock(g_generalHeap);
    return heap::heapMalloc(g_generalHeap, size);
}

void heapFree(void* pointer)
{
    if (!pointer)
        return;
    heap::HeapLock lock(g_generalHeap);
    heap::heapFreeChunk(g_generalHeap, pointer);
}

void* heapResizeInPlace(void* pointer, u64 size)
{
    if (!pointer)
        return nullptr;
    if (size >= heap::kMaxRequest)
        heap::heapAbort();
    heap::HeapLock lock(g_generalHeap);
    return heap::heapResize(g_generalHeap, pointer, size);
}

void* heapAllocAligned(Heap* h, u64 alignment, u64 size)
{
    Heap& m = checkedHeap(h);
    heap::HeapLock lock(m);
    return heap::heapMemalign(m, alignment, size);
}

u64 heapUsableSize(Heap*, const void* pointer)
{
    return heap::usableSize(pointer);
}

#else

void* heapAlloc(u64 size)
{
    if (size >= heap::kMaxRequest)
        return nullptr;
    void* pointer = std::malloc(size);
    if (!pointer)
        heap::heapAbort();
    return pointer;
}

void heapFree(void* pointer)
{
    std::free(pointer);
}

void* heapResizeInPlace(void* pointer, u64 size)
{
    if (size >= heap::kMaxRequest)
        heap::heapAbort();
    (void)pointer;
    return nullptr;
}

void* heapAllocAligned(Heap* h, u64 alignment, u64 size)
{
    Heap& m = checkedHeap(h);
    if (&m != &g_generalHeap) {
        heap::HeapLock lock(m);
        return heap::heapMemalign(m, alignment, size);
    }
    if (alignment < heap::kMinChunkSize)
        alignment = heap::kMinChunkSize;
    if (alignment > (u64(1) << 63))
        heap::heapAbort();
    alignment = std::bit_ceil(alignment);
    if (size >= heap::kMaxRequest - alignment)
        heap::heapAbort();
    void* pointer = nullptr;
    if (posix_memalign(&pointer, alignment, size) != 0)
        heap::heapAbort();
    return pointer;
}

u64 heapUsableSize(Heap* h, const void* pointer)
{
    if (h == &g_generalHeap)
        return pointer ? malloc_usable_size(const_cast<void*>(pointer)) : 0;
    return heap::usableSize(pointer);
}

#endif

u64 heapFootprint(Heap* h)
{
    Heap& m = checkedHeap(h);
    heap::HeapLock lock(m);
    return m.footprint;
}

u64 heapMaxFootprint(Heap* h)
{
    Heap& m = checkedHeap(h);
    heap::HeapLock lock(m);
    return m.maxFootprint;
}

} // namespace quern::memory
