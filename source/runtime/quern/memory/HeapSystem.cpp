// The heap's traffic with the system: new segments, direct mappings for large
// requests, trimming the top and releasing wholly free segments.

#include "quern/memory/HeapChunks.h"
#include "quern/platform/VirtualMemory.h"

#include <new>

namespace quern::memory::heap {
namespace {

void addFootprint(Heap& m, u64 size)
{
    m.footprint += size;
    if (m.footprint > m.maxFootprint)
        m.maxFootprint = m.footprint;
}

bool segmentHolds(const Segment* segment, const void* address)
{
    const u8* a = static_cast<const u8*>(address);
    return a >= segment->base && a < segment->base + segment->size;
}

Segment* segmentHolding(Heap& m, const void* address)
{
    for (Segment* sp = &m.segment; sp; sp = sp->next) {
        if (segmentHolds(sp, address))
            return sp;
    }
    return nullptr;
}

// True when some segment record lives inside `segment`.
bool hasSegmentLink(Heap& m, const Segment* segment)
{
    for (Segment* sp = &m.segment; sp; sp = sp->next) {
        if (segmentHolds(segment, sp))
            return true;
    }
    return false;
}

bool isGrowableSegment(const Segment* segment)
{
    return (segment->flags & kMappedSegment) && !(segment->flags & kExternSegment);
}

void linkMapping(Heap& m, MappingLinks* links)
{
    links->prev = nullptr;
    links->next = m.mappings;
    if (m.mappings)
        m.mappings->prev = links;
    m.mappings = links;
}

void unlinkMapping(Heap& m, MappingLinks* links)
{
    if (links->prev)
        links->prev->next = links->next;
    else
        m.mappings = links->next;
    if (links->next)
        links->next->prev = links->prev;
}

// A request at or above the mapping threshold gets a mapping of its own.
void* mapChunk(Heap& m, u64 nb)
{
    const u64 mapSize = granularityAlign(nb + kMappingPadding);
    if (mapSize <= nb)
        return nullptr;
    u8* base = static_cast<u8*>(platform::allocateVirtualMemory(mapSize, true));
    if (!base)
        return nullptr;
    linkMapping(m, reinterpret_cast<MappingLinks*>(base));
    Chunk* p = reinterpret_cast<Chunk*>(base + kMappingHeader);
    const u64 size = mapSize - kMappingHeader - kMappedFootPad;
    p->prevFoot = kMappingHeader;
    p->head = size;
    chunkPlus(p, size)->head = kFencepostHead;
    chunkPlus(p, size + kWord)->head = 0;
    if (!m.leastAddress || base < m.leastAddress)
        m.leastAddress = base;
    addFootprint(m, mapSize);
    return chunkToMem(p);
}

// New memory directly below an existing segment: serve nb from its start and
// merge the rest with the segment's first chunk.
void* prependAlloc(Heap& m, u8* newBase, u8* oldBase, u64 nb)
{
    Chunk* p = alignAsChunk(newBase);
    Chunk* oldFirst = alignAsChunk(oldBase);
    u64 size = static_cast<u64>(bytes(oldFirst) - bytes(p));
    Chunk* q = chunkPlus(p, nb);
    u64 rest = size - nb;
    setSizeAndPrevInUseOfInUseChunk(p, nb);
    if (oldFirst == m.top) {
        const u64 topSize = m.topSize += rest;
        m.top = q;
        q->head = topSize | kPrevInUse;
    } else if (oldFirst == m.dv) {
        const u64 dvSize = m.dvSize += rest;
        m.dv = q;
        setSizeAndPrevInUseOfFreeChunk(q, dvSize);
    } else {
        if (!isInUse(oldFirst)) {
            const u64 firstSize = chunkSize(oldFirst);
            unlinkFreeChunk(m, oldFirst, firstSize);
            oldFirst = chunkPlus(oldFirst, firstSize);
            rest += firstSize;
        }
        setFreeWithPrevInUse(q, rest, oldFirst);
        insertChunk(m, q, rest);
    }
    return chunkToMem(p);
}

// Makes [base, base + size) the segment of the top; the old top becomes a
// free chunk and the old segment's record moves to the old segment's end.
void addSegment(Heap& m, u8* base, u64 size, u32 flags)
{
    u8* oldTop = bytes(m.top);
    Segment* oldSegment = segmentHolding(m, oldTop);
    if (!oldSegment)
        heapAbort();
    u8* oldEnd = oldSegment->base + oldSegment->size;
    u8* raw = oldEnd - (kSegmentRecordSize + 4 * kWord + kAlignMask);
    u8* aligned = raw + alignOffset(raw + 2 * kWord);
    u8* recordChunkAddress = aligned < oldTop + kMinChunkSize ? oldTop : aligned;
    Chunk* recordChunk = reinterpret_cast<Chunk*>(recordChunkAddress);
    Segment* record = static_cast<Segment*>(chunkToMem(recordChunk));
    Chunk* fence = chunkPlus(recordChunk, kSegmentRecordSize);

    initTop(m, reinterpret_cast<Chunk*>(base), size - kTopFootSize);

    setSizeAndPrevInUseOfInUseChunk(recordChunk, kSegmentRecordSize);
    *record = m.segment;
    m.segment = Segment{base, size, record, flags};

    for (;;) {
        Chunk* nextFence = chunkPlus(fence, kWord);
        fence->head = kFencepostHead;
        if (bytes(&nextFence->head) < oldEnd)
            fence = nextFence;
        else
            break;
    }

    if (recordChunkAddress != oldTop) {
        Chunk* q = reinterpret_cast<Chunk*>(oldTop);
        const u64 freeSize = static_cast<u64>(recordChunkAddress - oldTop);
        setFreeWithPrevInUse(q, freeSize, chunkPlus(q, freeSize));
        insertChunk(m, q, freeSize);
    }
}

} // namespace

void initBins(Heap& m)
{
    for (u32 i = 0; i < kSmallBinCount; ++i) {
        Chunk* bin = smallBinAt(m, i);
        bin->fd = bin->bk = bin;
    }
}

void initTop(Heap& m, Chunk* p, u64 size)
{
    const u64 offset = alignOffset(chunkToMem(p));
    p = chunkPlus(p, offset);
    size -= offset;
    m.top = p;
    m.topSize = size;
    p->head = size | kPrevInUse;
    chunkPlus(p, size)->head = kTopFootSize; // the footer, read only when segments join
    m.trimCheck = g_parameters.trimThreshold;
}

void* sysAlloc(Heap& m, u64 nb)
{
    if ((m.flags & kUseMmap) && nb >= g_parameters.mmapThreshold && m.topSize != 0) {
        if (void* mem = mapChunk(m, nb))
            return mem;
    }
    const u64 size = granularityAlign(nb + kSysAllocPadding);
    if (size <= nb)
        return nullptr; // the size arithmetic wrapped
    u8* base = static_cast<u8*>(platform::allocateVirtualMemory(size, false));
    if (!base)
        heapAbort();
    addFootprint(m, size);

    if (!m.top) {
        // The general heap's first segment.
        m.segment = Segment{base, size, nullptr, kMappedSegment};
        m.leastAddress = base;
        m.magic = g_parameters.magic;
        m.releaseChecks = kMaxReleaseCheckRate;
        initBins(m);
        initTop(m, reinterpret_cast<Chunk*>(base), size - kTopFootSize);
    } else {
        Segment* sp = &m.segment;
        while (sp && base != sp->base + sp->size)
            sp = sp->next;
        if (sp && isGrowableSegment(sp) && segmentHolds(sp, m.top)) {
            sp->size += size;
            initTop(m, m.top, m.topSize + size);
        } else {
            if (base < m.leastAddress)
                m.leastAddress = base;
            sp = &m.segment;
            while (sp && sp->base != base + size)
                sp = sp->next;
            if (sp && isGrowableSegment(sp)) {
                u8* oldBase = sp->base;
                sp->base = base;
                sp->size += size;
                return prependAlloc(m, base, oldBase, nb);
            }
            addSegment(m, base, size, kMappedSegment);
        }
    }

    if (nb < m.topSize) {
        const u64 remainder = m.topSize -= nb;
        Chunk* p = m.top;
        Chunk* rest = m.top = chunkPlus(p, nb);
        rest->head = remainder | kPrevInUse;
        setSizeAndPrevInUseOfInUseChunk(p, nb);
        return chunkToMem(p);
    }
    heapAbort();
}

u64 releaseUnusedSegments(Heap& m)
{
    u64 released = 0;
    u64 segmentCount = 0;
    Segment* pred = &m.segment;
    Segment* sp = pred->next;
    while (sp) {
        u8* base = sp->base;
        const u64 size = sp->size;
        Segment* next = sp->next;
        ++segmentCount;
        if (isGrowableSegment(sp)) {
            Chunk* p = alignAsChunk(base);
            const u64 chunk = chunkSize(p);
            if (!isInUse(p) && bytes(p) + chunk >= base + size - kTopFootSize) {
                TreeChunk* tp = asTree(p);
                if (p == m.dv) {
                    m.dv = nullptr;
                    m.dvSize = 0;
                } else {
                    unlinkLargeChunk(m, tp);
                }
                if (platform::releaseVirtualMemory(base, size)) {
                    released += size;
                    m.footprint -= size;
                    sp = pred; // the record went with the segment
                    sp->next = next;
                } else {
                    insertLargeChunk(m, tp, chunk);
                }
            }
        }
        pred = sp;
        sp = next;
    }
    m.releaseChecks = segmentCount > kMaxReleaseCheckRate ? segmentCount : kMaxReleaseCheckRate;
    return released;
}

bool sysTrim(Heap& m, u64 pad)
{
    u64 released = 0;
    if (pad >= kMaxRequest || !m.top)
        return false;
    pad += kTopFootSize;
    if (m.topSize > pad) {
        const u64 unit = g_parameters.granularity;
        const u64 extra = ((m.topSize - pad + (unit - 1)) / unit - 1) * unit;
        Segment* sp = segmentHolding(m, m.top);
        if (sp && extra != 0 && isGrowableSegment(sp) && sp->size >= extra && !hasSegmentLink(m, sp)) {
            const u64 newSize = sp->size - extra;
            if (platform::releaseVirtualMemory(sp->base + newSize, extra))
                released = extra;
        }
        if (released != 0) {
            sp->size -= released;
            m.footprint -= released;
            initTop(m, m.top, m.topSize - released);
        }
    }
    released += releaseUnusedSegments(m);
    if (released == 0 && m.topSize > m.trimCheck)
        m.trimCheck = ~u64(0); // nothing to give back: stop trying on every free
    return released != 0;
}

void unmapChunk(Heap& m, Chunk* p)
{
    const u64 offset = p->prevFoot;
    const u64 mapSize = chunkSize(p) + offset + kMappedFootPad;
    u8* base = bytes(p) - offset;
    unlinkMapping(m, reinterpret_cast<MappingLinks*>(base));
    if (!platform::releaseVirtualMemory(base, mapSize))
        heapAbort();
    m.footprint -= mapSize;
}

void initPrivateState(Heap& m, u8* base, u64 size)
{
    m.segment = Segment{base, size, nullptr, kExternSegment};
    m.leastAddress = base;
    m.footprint = m.maxFootprint = size;
    m.magic = g_parameters.magic;
    m.releaseChecks = kMaxReleaseCheckRate;
    m.flags = g_parameters.defaultFlags | kNonContiguous;
    initBins(m);
}

u64 releaseAllMappings(Heap& m)
{
    u64 released = 0;
    for (MappingLinks* links = m.mappings; links;) {
        MappingLinks* next = links->next;
        const Chunk* p = reinterpret_cast<const Chunk*>(bytes(links) + kMappingHeader);
        // An aligned block moved its header; the original one still tells the size.
        const u64 mapSize = chunkSize(p) + kMappingHeader + kMappedFootPad;
        if (platform::releaseVirtualMemory(links, mapSize))
            released += mapSize;
        links = next;
    }
    m.mappings = nullptr;
    Segment* sp = &m.segment;
    while (sp) {
        u8* base = sp->base;
        const u64 size = sp->size;
        const u32 flags = sp->flags;
        sp = sp->next; // read before the record goes with its segment
        if ((flags & kMappedSegment) && !(flags & kExternSegment) && platform::releaseVirtualMemory(base, size))
            released += size;
    }
    m.footprint -= released;
    return released;
}

} // namespace quern::memory::heap
