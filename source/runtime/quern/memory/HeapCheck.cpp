// Consistency walk over a heap: every chunk of every segment against the
// bins, the designated victim and the top. Slow; for tests and debugging.

#include "quern/memory/HeapChunks.h"

namespace quern::memory::heap {
namespace {

bool holds(const Segment& segment, const void* address)
{
    const u8* a = static_cast<const u8*>(address);
    return a >= segment.base && a < segment.base + segment.size;
}

// Counts the chunks of a tree, checking links, sizes and index on the way.
const char* walkTree(const TreeChunk* t, u32 index, u64& count)
{
    if (!t)
        return nullptr;
    const u64 size = t->head & ~kFlagBits;
    if (treeIndex(size) != index)
        return "tree chunk in the wrong bin";
    if ((t->head & kInUse) != 0)
        return "tree chunk marked in use";
    const TreeChunk* member = t;
    do {
        if ((member->head & ~kFlagBits) != size)
            return "tree list with mixed sizes";
        if (member->fd->bk != member || member->bk->fd != member)
            return "broken tree list links";
        if (member != t && member->parent)
            return "tree list member with a parent";
        ++count;
        member = member->fd;
    } while (member != t);
    for (const TreeChunk* child : t->child) {
        if (child && child->parent != t)
            return "tree child with the wrong parent";
        if (const char* problem = walkTree(child, index, count))
            return problem;
    }
    return nullptr;
}

const char* countBinned(Heap& m, u64& count)
{
    for (u32 i = 0; i < kSmallBinCount; ++i) {
        Chunk* bin = smallBinAt(m, i);
        // An unmarked bin may keep stale links; only marked bins are lists.
        if (!(m.smallMap & indexToBit(i)))
            continue;
        if (bin->fd == bin)
            return "small map marks an empty bin";
        for (Chunk* p = bin->fd; p != bin; p = p->fd) {
            if (chunkSize(p) != smallIndexToSize(i))
                return "small chunk in the wrong bin";
            if (chunkInUse(p))
                return "small binned chunk marked in use";
            if (p->fd->bk != p)
                return "broken small bin links";
            ++count;
        }
    }
    for (u32 i = 0; i < kTreeBinCount; ++i) {
        const bool marked = (m.treeMap & indexToBit(i)) != 0;
        if (marked != (m.treeBins[i] != nullptr))
            return "tree map disagrees with its bin";
        if (const char* problem = walkTree(m.treeBins[i], i, count))
            return problem;
    }
    return nullptr;
}

} // namespace

const char* verifyHeap(Heap& m)
{
    if (!m.top)
        return nullptr;
    if (chunkSize(m.top) != m.topSize || !prevInUse(m.top))
        return "top chunk header is wrong";
    if (m.dv && (chunkSize(m.dv) != m.dvSize || chunkInUse(m.dv)))
        return "designated victim header is wrong";
    u64 freeChunks = 0;
    bool sawTop = false;
    for (Segment* sp = &m.segment; sp; sp = sp->next) {
        Chunk* q = alignAsChunk(sp->base);
        bool prevFree = false;
        u64 prevSize = 0;
        while (holds(*sp, q) && q->head != kFencepostHead) {
            if (q == m.top) {
                if (prevFree)
                    return "free chunk before the top";
                sawTop = true;
                break;
            }
            const u64 size = chunkSize(q);
            if (size < kMinChunkSize || (size & kAlignMask) || (reinterpret_cast<std::uintptr_t>(q) & kAlignMask))
                return "chunk with a bad size or address";
            if (prevInUse(q) == prevFree)
                return "previous-in-use bit disagrees with the previous chunk";
            if (prevFree && q->prevFoot != prevSize)
                return "free chunk's foot is wrong";
            const bool isFree = !chunkInUse(q);
            if (isFree && prevFree)
                return "two adjacent free chunks";
            if (isFree && q != m.dv)
                ++freeChunks;
            prevFree = isFree;
            prevSize = size;
            q = chunkPlus(q, size);
        }
    }
    if (!sawTop)
        return "top chunk not inside any segment";
    u64 binned = 0;
    if (const char* problem = countBinned(m, binned))
        return problem;
    if (binned != freeChunks)
        return "free chunks and binned chunks differ";
    return nullptr;
}

} // namespace quern::memory::heap
