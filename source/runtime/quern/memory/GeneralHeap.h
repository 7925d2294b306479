#pragma once
// The general heap (behind the global new/delete and HeapAllocator) and private
// heaps laid into a caller's block. Boundary-tagged chunks with exact small bins,
// bitwise tree bins for larger chunks, a top chunk, segments mapped from the
// system and direct mappings for large requests. The heap aborts the process
// when the system refuses memory or it detects corruption; only requests whose
// size arithmetic would wrap return null.

#include "quern/Types.h"

namespace quern::memory {

// One heap's state. Opaque; the general heap's lives in static storage, a
// private heap's at the start of its caller's block.
struct Heap;

// Sets up the process-wide heap parameters (page size, granularity, magic).
// Idempotent and thread-safe; every heap entry point calls it as needed.
void ensureHeapParameters();

// --- General heap (locked: any thread may call) ---
void* heapAlloc(u64 size);
void heapFree(void* pointer);
// Resizes without moving: the same pointer, or null when the block cannot be
// resized where it is (the block is then unchanged). Null input gives null.
void* heapResizeInPlace(void* pointer, u64 size);
// The general heap, for heapAllocAligned and the statistics below.
Heap* getGeneralHeap();

// --- Either heap ---
// Alignments below 32 become 32; others not a power of two round up to one.
void* heapAllocAligned(Heap* heap, u64 alignment, u64 size);
// Bytes the caller may use in a block of `heap`: the chunk size less 8 (less 16
// for a directly mapped chunk); 0 for null or a block that is not in use.
u64 heapUsableSize(Heap* heap, const void* pointer);
// Bytes the heap holds from the system (its segments and direct mappings;
// a private heap's own block counts as its first segment).
u64 heapFootprint(Heap* heap);
u64 heapMaxFootprint(Heap* heap);

// --- Private heaps (not locked: one thread at a time per heap) ---
// Lays a heap into [block, block + size). The block becomes the heap's first
// segment, never released by the heap. Null when the block is too small (1,024
// bytes or less) or so large that its arithmetic would wrap.
Heap* createPrivateHeap(void* block, u64 size);
// Releases every segment the heap mapped from the system beyond the caller's
// block; returns the bytes released.
u64 destroyPrivateHeap(Heap* heap);
void* privateHeapAlloc(Heap* heap, u64 size);
void privateHeapFree(Heap* heap, void* pointer);
void* privateHeapResizeInPlace(Heap* heap, void* pointer, u64 size);

} // namespace quern::memory
