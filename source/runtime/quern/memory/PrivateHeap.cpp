// Private heaps: a heap laid into a block its caller owns, used by one thread
// at a time. The block is the heap's first segment and is never released by
// the heap; further segments and large blocks are mapped from the system.

#include "quern/memory/HeapChunks.h"

#include <new>

namespace quern::memory {
namespace {

Heap& checkedPrivateHeap(Heap* h)
{
    const heap::Parameters& parameters = heap::parameters();
    if (!h || h == getGeneralHeap() || h->magic != parameters.magic)
        heap::heapAbort();
    return *h;
}

} // namespace

Heap* createPrivateHeap(void* block, u64 size)
{
    using namespace heap;
    const Parameters& parameters = heap::parameters();
    if (!block || size <= kPrivateHeapMinimum || size >= 0 - (kPrivateHeapMinimum + parameters.pageSize))
        return nullptr;
    u8* base = static_cast<u8*>(block);
    // Chunks are 16-aligned: a ragged end of the block stays unused.
    u8* end = reinterpret_cast<u8*>(reinterpret_cast<std::uintptr_t>(base + size) & ~kAlignMask);
    Chunk* stateChunk = alignAsChunk(base);
    const u64 stateSize = padRequest(sizeof(Heap));
    Chunk* first = chunkPlus(stateChunk, stateSize);
    if (bytes(first) + kTopFootSize >= end)
        return nullptr;

    Heap* m = new (chunkToMem(stateChunk)) Heap{};
    stateChunk->head = stateSize | kInUseBits;
    initPrivateState(*m, base, static_cast<u64>(end - base));
    m->flags &= ~kUseLock;
    initTop(*m, first, static_cast<u64>(end - bytes(first)) - kTopFootSize);
    return m;
}

u64 destroyPrivateHeap(Heap* h)
{
    Heap& m = checkedPrivateHeap(h);
    const u64 released = heap::releaseAllMappings(m);
    m.magic = 0; // later use of the state aborts instead of touching released memory
    return released;
}

void* privateHeapAlloc(Heap* h, u64 size)
{
    Heap& m = checkedPrivateHeap(h);
    heap::HeapLock lock(m);
    return heap::heapMalloc(m, size);
}

void privateHeapFree(Heap* h, void* pointer)
{
    Heap& m = checkedPrivateHeap(h);
    if (!pointer)
        return;
    heap::HeapLock lock(m);
    heap::heapFreeChunk(m, pointer);
}

void* privateHeapResizeInPlace(Heap* h, void* pointer, u64 size)
{
    Heap& m = checkedPrivateHeap(h);
    if (!pointer)
        return nullptr;
    if (size >= heap::kMaxRequest)
        heap::heapAbort();
    heap::HeapLock lock(m);
    return heap::heapResize(m, pointer, size);
}

} // namespace quern::memory
