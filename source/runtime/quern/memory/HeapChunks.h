#pragma once
// Inside the heap: chunk layout, bins and the heap state shared by the general
// heap and private heaps. Only the heap's own sources include this.
//
// A chunk starts with two words: the size of the previous chunk (valid only
// while that chunk is free) and this chunk's size with two flag bits (previous
// chunk in use, this chunk in use; both clear for a directly mapped chunk).
// Free chunks hold list links after the header; free chunks of 256 bytes and
// more are nodes of a bitwise trie per size class.

#include "quern/memory/GeneralHeap.h"

#include <atomic>
#include <bit>
#include <cstdint>

namespace quern::memory {

namespace heap {

constexpr u64 kWord = 8;
constexpr u64 kAlignment = 16;
constexpr u64 kAlignMask = kAlignment - 1;
constexpr u64 kChunkOverhead = kWord;
constexpr u64 kMappedChunkOverhead = 2 * kWord;
constexpr u64 kMinChunkSize = 32;
constexpr u64 kMaxRequest = (0 - kMinChunkSize) << 2; // 2^64 - 128
constexpr u64 kMinRequest = kMinChunkSize - kChunkOverhead - 1;

constexpr u64 kPrevInUse = 1;
constexpr u64 kInUse = 2;
constexpr u64 kInUseBits = kPrevInUse | kInUse;
constexpr u64 kFlagBits = 7;
constexpr u64 kFencepostHead = kInUseBits | kWord;

constexpr u32 kSmallBinCount = 32;
constexpr u32 kTreeBinCount = 32;
constexpr u32 kSmallBinShift = 3;
constexpr u32 kTreeBinShift = 8;
constexpr u64 kMinLargeSize = u64(1) << kTreeBinShift;
constexpr u64 kMaxSmallSize = kMinLargeSize - 1;
constexpr u64 kMaxSmallRequest = kMaxSmallSize - kAlignMask - kChunkOverhead; // 232

constexpr u64 kMaxReleaseCheckRate = 4095;
constexpr u64 kDefaultMmapThreshold = 256 * 1024;
constexpr u64 kDefaultTrimThreshold = 2 * 1024 * 1024;

// Heap flags.
constexpr u32 kUseLock = 1;
constexpr u32 kUseMmap = 2;
constexpr u32 kNonContiguous = 4;

// Segment flags.
constexpr u32 kMappedSegment = 1;
constexpr u32 kExternSegment = 8;

struct Chunk {
    u64 prevFoot;
    u64 head;
    Chunk* fd;
    Chunk* bk;
};

struct TreeChunk {
    u64 prevFoot;
    u64 head;
    TreeChunk* fd;
    TreeChunk* bk;
    TreeChunk* child[2];
    TreeChunk* parent;
    u32 index;
};

// One contiguous stretch of memory the heap carves chunks from. The record
// of an older segment lives in a small in-use chunk at that segment's end.
struct Segment {
    u8* base;
    u64 size;
    Segment* next;
    u32 flags;
};

// Links at the start of every direct mapping, so that a private heap can give
// back the large blocks still alive when it is destroyed.
struct MappingLinks {
    MappingLinks* next;
    MappingLinks* prev;
};

constexpr u64 padRequest(u64 request)
{
    return (request + kChunkOverhead + kAlignMask) & ~kAlignMask;
}

constexpr u64 kSegmentRecordSize = padRequest(sizeof(Segment));
// Room kept past the top chunk for a segment record and fenceposts.
constexpr u64 kTopFootSize = kSegmentRecordSize + kMinChunkSize;
constexpr u64 kSysAllocPadding = kTopFootSize + kAlignment;
// Past the end of a direct mapping's chunk: two fencepost words and their feet.
constexpr u64 kMappedFootPad = 4 * kWord;
constexpr u64 kMappingHeader = sizeof(MappingLinks);
constexpr u64 kMappingPadding = 6 * kWord + kAlignMask + kMappingHeader;

} // namespace heap

struct Heap {
    u32 smallMap{};
    u32 treeMap{};
    u64 dvSize{};
    u64 topSize{};
    u8* leastAddress{};
    heap::Chunk* dv{}; // the designated victim: the last split remainder
    heap::Chunk* top{};
    u64 trimCheck{};
    u64 releaseChecks{};
    u64 magic{};
    // Small-bin heads overlap: bin i's links are words 2i+2 and 2i+3.
    heap::Chunk* smallBins[(heap::kSmallBinCount + 1) * 2]{};
    heap::TreeChunk* treeBins[heap::kTreeBinCount]{};
    u64 footprint{};
    u64 maxFootprint{};
    u32 flags{};
    std::atomic<u32> lock{};
    heap::Segment segment{};
    heap::MappingLinks* mappings{};
};

namespace heap {

// Smallest block a private heap is laid into: its state plus the top's footer.
constexpr u64 kPrivateHeapMinimum = 1024;
static_assert(padRequest(sizeof(Heap)) + kTopFootSize + kAlignMask <= kPrivateHeapMinimum);

struct Parameters {
    u64 pageSize;
    u64 granularity;
    u64 mmapThreshold;
    u64 trimThreshold;
    u32 defaultFlags;
    u64 magic;
};

extern Parameters g_parameters;
extern std::atomic<bool> g_parametersReady;
void initParameters();

inline const Parameters& parameters()
{
    if (!g_parametersReady.load(std::memory_order_acquire)) [[unlikely]]
        initParameters();
    return g_parameters;
}

// Every failure of the heap ends here: no message, no fatal hook.
[[noreturn]] void heapAbort();

void spinAcquire(std::atomic<u32>& word);

inline void acquireLock(std::atomic<u32>& word)
{
    if (word.exchange(1, std::memory_order_acquire) != 0) [[unlikely]]
        spinAcquire(word);
}

inline void releaseLock(std::atomic<u32>& word)
{
    word.store(0, std::memory_order_release);
}

class HeapLock {
public:
    explicit HeapLock(Heap& heap) : m_heap(heap)
    {
        if (m_heap.flags & kUseLock)
            acquireLock(m_heap.lock);
    }
    ~HeapLock()
    {
        if (m_heap.flags & kUseLock)
            releaseLock(m_heap.lock);
    }
    HeapLock(const HeapLock&) = delete;
    HeapLock& operator=(const HeapLock&) = delete;

private:
    Heap& m_heap;
};

// --- Chunk arithmetic ---

inline u8* bytes(void* p)
{
    return static_cast<u8*>(p);
}

inline void* chunkToMem(Chunk* p)
{
    return bytes(p) + 2 * kWord;
}

inline Chunk* memToChunk(const void* mem)
{
    return reinterpret_cast<Chunk*>(const_cast<u8*>(static_cast<const u8*>(mem)) - 2 * kWord);
}

inline u64 alignOffset(const void* address)
{
    return (0 - reinterpret_cast<std::uintptr_t>(address)) & kAlignMask;
}

inline Chunk* alignAsChunk(u8* address)
{
    return reinterpret_cast<Chunk*>(address + alignOffset(address + 2 * kWord));
}

inline u64 requestToSize(u64 request)
{
    return request < kMinRequest ? kMinChunkSize : padRequest(request);
}

inline u64 granularityAlign(u64 size)
{
    const u64 unit = g_parameters.granularity;
    return (size + unit - 1) & ~(unit - 1);
}

inline bool isInUse(const Chunk* p) { return (p->head & kInUseBits) != kPrevInUse; }
inline bool isMapped(const Chunk* p) { return (p->head & kInUseBits) == 0; }
inline bool chunkInUse(const Chunk* p) { return (p->head & kInUse) != 0; }
inline bool prevInUse(const Chunk* p) { return (p->head & kPrevInUse) != 0; }
inline u64 chunkSize(const Chunk* p) { return p->head & ~kFlagBits; }
inline u64 overheadFor(const Chunk* p) { return isMapped(p) ? kMappedChunkOverhead : kChunkOverhead; }

inline Chunk* chunkPlus(void* p, u64 offset) { return reinterpret_cast<Chunk*>(bytes(p) + offset); }
inline Chunk* chunkMinus(void* p, u64 offset) { return reinterpret_cast<Chunk*>(bytes(p) - offset); }
inline TreeChunk* asTree(Chunk* p) { return reinterpret_cast<TreeChunk*>(p); }
inline Chunk* asChunk(TreeChunk* p) { return reinterpret_cast<Chunk*>(p); }

inline void setFoot(Chunk* p, u64 size) { chunkPlus(p, size)->prevFoot = size; }

inline void setSizeAndPrevInUseOfFreeChunk(Chunk* p, u64 size)
{
    p->head = size | kPrevInUse;
    setFoot(p, size);
}

inline void setFreeWithPrevInUse(Chunk* p, u64 size, Chunk* next)
{
    next->head &= ~kPrevInUse;
    setSizeAndPrevInUseOfFreeChunk(p, size);
}

inline void setInUse(Chunk* p, u64 size)
{
    p->head = (p->head & kPrevInUse) | size | kInUse;
    chunkPlus(p, size)->head |= kPrevInUse;
}

inline void setInUseAndPrevInUse(Chunk* p, u64 size)
{
    p->head = size | kPrevInUse | kInUse;
    chunkPlus(p, size)->head |= kPrevInUse;
}

inline void setSizeAndPrevInUseOfInUseChunk(Chunk* p, u64 size)
{
    p->head = size | kPrevInUse | kInUse;
}

inline bool okAddress(const Heap& m, const void* address)
{
    return static_cast<const u8*>(address) >= m.leastAddress;
}

inline bool okNext(const Chunk* p, const Chunk* next) { return p < next; }

// --- Bin indexing ---

inline bool isSmall(u64 size) { return (size >> kSmallBinShift) < kSmallBinCount; }
inline u32 smallIndex(u64 size) { return static_cast<u32>(size >> kSmallBinShift); }
inline u64 smallIndexToSize(u32 index) { return u64(index) << kSmallBinShift; }
inline u32 indexToBit(u32 index) { return 1u << index; }
inline u32 leftBits(u32 x) { return (x << 1) | (0u - (x << 1)); }
inline u32 leastBit(u32 x) { return x & (0u - x); }
inline u32 bitToIndex(u32 x) { return static_cast<u32>(std::countr_zero(x)); }

inline u32 treeIndex(u64 size)
{
    const u64 x = size >> kTreeBinShift;
    if (x == 0)
        return 0;
    if (x > 0xFFFF)
        return kTreeBinCount - 1;
    const u32 k = 63 - static_cast<u32>(std::countl_zero(x));
    return (k << 1) + static_cast<u32>((size >> (k + (kTreeBinShift - 1))) & 1);
}

// Shift that brings the first size bit below the class's leading bit to the top.
inline u32 leftShiftForTreeIndex(u32 index)
{
    return index == kTreeBinCount - 1 ? 0 : 63 - ((index >> 1) + kTreeBinShift - 2);
}

inline Chunk* smallBinAt(Heap& m, u32 index)
{
    return reinterpret_cast<Chunk*>(&m.smallBins[index << 1]);
}

// --- Entry points shared by the general heap and private heaps (no locking) ---

void* heapMalloc(Heap& m, u64 bytes);
void heapFreeChunk(Heap& m, void* mem);
void* heapMemalign(Heap& m, u64 alignment, u64 bytes);
void* heapResize(Heap& m, void* mem, u64 bytes);
u64 usableSize(const void* mem);

// Bins (HeapCore.cpp).
void insertChunk(Heap& m, Chunk* p, u64 size);
void unlinkFreeChunk(Heap& m, Chunk* p, u64 size);
void unlinkLargeChunk(Heap& m, TreeChunk* x);
void insertLargeChunk(Heap& m, TreeChunk* x, u64 size);
void disposeChunk(Heap& m, Chunk* p, u64 size);

// Memory from the system (HeapSystem.cpp).
void initBins(Heap& m);
void initTop(Heap& m, Chunk* p, u64 size);
void* sysAlloc(Heap& m, u64 nb);
bool sysTrim(Heap& m, u64 pad);
u64 releaseUnusedSegments(Heap& m);
void unmapChunk(Heap& m, Chunk* p);
void initPrivateState(Heap& m, u8* base, u64 size);
u64 releaseAllMappings(Heap& m);

// Null when the heap is consistent, else what is wrong (HeapCheck.cpp).
const char* verifyHeap(Heap& m);

} // namespace heap
} // namespace quern::memory
