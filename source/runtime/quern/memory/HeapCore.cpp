// The heap's chunk management: bins, allocation, freeing, in-place resizing
// and aligned allocation. Callers hold the heap's lock where it has one.

#include "quern/memory/HeapChunks.h"

namespace quern::memory::heap {
namespace {

void unlinkLarge(Heap& m, TreeChunk* x);
void insertLarge(Heap& m, TreeChunk* x, u64 size);
void insertAny(Heap& m, Chunk* p, u64 size);

// --- Small bins: doubly linked lists of chunks of one exact size ---

inline void insertSmallChunk(Heap& m, Chunk* p, u64 size)
{
    const u32 index = smallIndex(size);
    Chunk* bin = smallBinAt(m, index);
    Chunk* forward = bin;
    if (!(m.smallMap & indexToBit(index)))
        m.smallMap |= indexToBit(index);
    else if (okAddress(m, bin->fd))
        forward = bin->fd;
    else
        heapAbort();
    bin->fd = p;
    forward->bk = p;
    p->fd = forward;
    p->bk = bin;
}

inline void unlinkSmallChunk(Heap& m, Chunk* p, u64 size)
{
    Chunk* forward = p->fd;
    Chunk* back = p->bk;
    const u32 index = smallIndex(size);
    Chunk* bin = smallBinAt(m, index);
    if (forward != bin && !(okAddress(m, forward) && forward->bk == p))
        heapAbort();
    if (back == forward) {
        m.smallMap &= ~indexToBit(index);
    } else if (back == bin || (okAddress(m, back) && back->fd == p)) {
        forward->bk = back;
        back->fd = forward;
    } else {
        heapAbort();
    }
}

inline void unlinkFirstSmallChunk(Heap& m, Chunk* bin, Chunk* p, u32 index)
{
    Chunk* forward = p->fd;
    if (bin == forward) {
        m.smallMap &= ~indexToBit(index);
    } else if (okAddress(m, forward) && forward->bk == p) {
        forward->bk = bin;
        bin->fd = forward;
    } else {
        heapAbort();
    }
}

// Makes p the designated victim, binning the previous one.
inline void replaceDv(Heap& m, Chunk* p, u64 size)
{
    if (m.dvSize != 0)
        insertAny(m, m.dv, m.dvSize);
    m.dvSize = size;
    m.dv = p;
}

inline void unlinkChunk(Heap& m, Chunk* p, u64 size)
{
    if (isSmall(size))
        unlinkSmallChunk(m, p, size);
    else
        unlinkLarge(m, asTree(p));
}

inline TreeChunk* leftmostChild(TreeChunk* t)
{
    return t->child[0] ? t->child[0] : t->child[1];
}

// Splits the chosen tree chunk v: nb bytes in use, the rest free.
inline void* carveTreeChunk(Heap& m, TreeChunk* v, u64 nb, u64 remainder, bool remainderAsDv)
{
    Chunk* chunk = asChunk(v);
    Chunk* rest = chunkPlus(chunk, nb);
    if (!okAddress(m, v) || !okNext(chunk, rest))
        heapAbort();
    unlinkLarge(m, v);
    if (remainder < kMinChunkSize) {
        setInUseAndPrevInUse(chunk, remainder + nb);
    } else {
        setSizeAndPrevInUseOfInUseChunk(chunk, nb);
        setSizeAndPrevInUseOfFreeChunk(rest, remainder);
        if (remainderAsDv)
            replaceDv(m, rest, remainder);
        else
            insertAny(m, rest, remainder);
    }
    return chunkToMem(chunk);
}

// A small request served from the smallest tree chunk.
void* tmallocSmall(Heap& m, u64 nb)
{
    const u32 index = bitToIndex(leastBit(m.treeMap));
    TreeChunk* t = m.treeBins[index];
    TreeChunk* v = t;
    u64 remainder = chunkSize(asChunk(t)) - nb;
    while ((t = leftmostChild(t)) != nullptr) {
        const u64 candidate = chunkSize(asChunk(t)) - nb;
        if (candidate < remainder) {
            remainder = candidate;
            v = t;
        }
    }
    return carveTreeChunk(m, v, nb, remainder, true);
}

// A large request: best fit in its own tree, else the smallest chunk of the
// next non-empty tree; null when the designated victim fits better.
void* tmallocLarge(Heap& m, u64 nb)
{
    TreeChunk* v = nullptr;
    u64 remainder = 0 - nb;
    const u32 index = treeIndex(nb);
    TreeChunk* t = m.treeBins[index];
    if (t) {
        u64 sizeBits = nb << leftShiftForTreeIndex(index);
        TreeChunk* deepestRight = nullptr;
        for (;;) {
            const u64 candidate = chunkSize(asChunk(t)) - nb;
            if (candidate < remainder) {
                v = t;
                remainder = candidate;
                if (remainder == 0)
                    break;
            }
            TreeChunk* right = t->child[1];
            t = t->child[(sizeBits >> 63) & 1];
            if (right && right != t)
                deepestRight = right;
            if (!t) {
                t = deepestRight;
                break;
            }
            sizeBits <<= 1;
        }
    }
    if (!t && !v) {
        const u32 larger = leftBits(indexToBit(index)) & m.treeMap;
        if (larger)
            t = m.treeBins[bitToIndex(leastBit(larger))];
    }
    while (t) {
        const u64 candidate = chunkSize(asChunk(t)) - nb;
        if (candidate < remainder) {
            remainder = candidate;
            v = t;
        }
        t = leftmostChild(t);
    }
    if (v && remainder < m.dvSize - nb)
        return carveTreeChunk(m, v, nb, remainder, false);
    return nullptr;
}

void* takeFromDv(Heap& m, u64 nb)
{
    Chunk* p = m.dv;
    const u64 remainder = m.dvSize - nb;
    if (remainder >= kMinChunkSize) {
        Chunk* rest = m.dv = chunkPlus(p, nb);
        m.dvSize = remainder;
        setSizeAndPrevInUseOfFreeChunk(rest, remainder);
        setSizeAndPrevInUseOfInUseChunk(p, nb);
    } else {
        const u64 whole = m.dvSize;
        m.dvSize = 0;
        m.dv = nullptr;
        setInUseAndPrevInUse(p, whole);
    }
    return chunkToMem(p);
}

void* takeFromTop(Heap& m, u64 nb)
{
    const u64 remainder = m.topSize -= nb;
    Chunk* p = m.top;
    Chunk* rest = m.top = chunkPlus(p, nb);
    rest->head = remainder | kPrevInUse;
    setSizeAndPrevInUseOfInUseChunk(p, nb);
    return chunkToMem(p);
}

void* smallRequest(Heap& m, u64 nb)
{
    u32 index = smallIndex(nb);
    const u32 smallBits = m.smallMap >> index;
    if (smallBits & 3) {
        // Remainderless fit in this bin or the next.
        index += ~smallBits & 1;
        Chunk* bin = smallBinAt(m, index);
        Chunk* p = bin->fd;
        unlinkFirstSmallChunk(m, bin, p, index);
        setInUseAndPrevInUse(p, smallIndexToSize(index));
        return chunkToMem(p);
    }
    if (nb <= m.dvSize)
        return nullptr;
    if (smallBits != 0) {
        const u32 larger = (smallBits << index) & leftBits(indexToBit(index));
        const u32 i = bitToIndex(leastBit(larger));
        Chunk* bin = smallBinAt(m, i);
        Chunk* p = bin->fd;
        unlinkFirstSmallChunk(m, bin, p, i);
        const u64 remainder = smallIndexToSize(i) - nb;
        if (remainder < kMinChunkSize) {
            setInUseAndPrevInUse(p, smallIndexToSize(i));
        } else {
            setSizeAndPrevInUseOfInUseChunk(p, nb);
            Chunk* rest = chunkPlus(p, nb);
            setSizeAndPrevInUseOfFreeChunk(rest, remainder);
            replaceDv(m, rest, remainder);
        }
        return chunkToMem(p);
    }
    if (m.treeMap != 0)
        return tmallocSmall(m, nb);
    return nullptr;
}

// --- Tree bins: per size class a bitwise trie keyed on the size's bits below
// the class's leading bit; chunks of equal size hang in a list off one node ---

void unlinkLarge(Heap& m, TreeChunk* x)
{
    TreeChunk* parent = x->parent;
    TreeChunk* replacement;
    if (x->bk != x) {
        TreeChunk* forward = x->fd;
        replacement = x->bk;
        if (!(okAddress(m, forward) && forward->bk == x && replacement->fd == x))
            heapAbort();
        forward->bk = replacement;
        replacement->fd = forward;
    } else {
        TreeChunk** replacementSlot = &x->child[1];
        replacement = *replacementSlot;
        if (!replacement) {
            replacementSlot = &x->child[0];
            replacement = *replacementSlot;
        }
        if (replacement) {
            // Replace x by its rightmost-deepest leaf.
            for (;;) {
                TreeChunk** childSlot = &replacement->child[1];
                if (!*childSlot)
                    childSlot = &replacement->child[0];
                if (!*childSlot)
                    break;
                replacementSlot = childSlot;
                replacement = *childSlot;
            }
            if (!okAddress(m, replacementSlot))
                heapAbort();
            *replacementSlot = nullptr;
        }
    }
    if (!parent)
        return; // x was a list member, not the tree node
    TreeChunk** bin = &m.treeBins[x->index];
    if (x == *bin) {
        if ((*bin = replacement) == nullptr)
            m.treeMap &= ~indexToBit(x->index);
    } else if (okAddress(m, parent)) {
        if (parent->child[0] == x)
            parent->child[0] = replacement;
        else
            parent->child[1] = replacement;
    } else {
        heapAbort();
    }
    if (!replacement)
        return;
    if (!okAddress(m, replacement))
        heapAbort();
    replacement->parent = parent;
    for (int side = 0; side < 2; ++side) {
        if (TreeChunk* child = x->child[side]) {
            if (!okAddress(m, child))
                heapAbort();
            replacement->child[side] = child;
            child->parent = replacement;
        }
    }
}

void insertLarge(Heap& m, TreeChunk* x, u64 size)
{
    const u32 index = treeIndex(size);
    TreeChunk** bin = &m.treeBins[index];
    x->index = index;
    x->child[0] = x->child[1] = nullptr;
    if (!(m.treeMap & indexToBit(index))) {
        m.treeMap |= indexToBit(index);
        *bin = x;
        // The root's parent points at its bin slot; only "non-null" matters.
        x->parent = reinterpret_cast<TreeChunk*>(bin);
        x->fd = x->bk = x;
        return;
    }
    TreeChunk* t = *bin;
    u64 sizeBits = size << leftShiftForTreeIndex(index);
    for (;;) {
        if (chunkSize(asChunk(t)) != size) {
            TreeChunk** slot = &t->child[(sizeBits >> 63) & 1];
            sizeBits <<= 1;
            if (*slot) {
                t = *slot;
            } else if (okAddress(m, slot)) {
                *slot = x;
                x->parent = t;
                x->fd = x->bk = x;
                return;
            } else {
                heapAbort();
            }
        } else {
            // Same size: join the node's list; list members have no parent.
            TreeChunk* forward = t->fd;
            if (!(okAddress(m, t) && okAddress(m, forward)))
                heapAbort();
            t->fd = forward->bk = x;
            x->fd = forward;
            x->bk = t;
            x->parent = nullptr;
            return;
        }
    }
}

void insertAny(Heap& m, Chunk* p, u64 size)
{
    if (isSmall(size))
        insertSmallChunk(m, p, size);
    else
        insertLarge(m, asTree(p), size);
}

} // namespace

void unlinkLargeChunk(Heap& m, TreeChunk* x)
{
    unlinkLarge(m, x);
}

void insertLargeChunk(Heap& m, TreeChunk* x, u64 size)
{
    insertLarge(m, x, size);
}

void unlinkFreeChunk(Heap& m, Chunk* p, u64 size)
{
    unlinkChunk(m, p, size);
}

void insertChunk(Heap& m, Chunk* p, u64 size)
{
    insertAny(m, p, size);
}

// Where a chunk being freed ended up after merging with its free neighbours.
enum class Merged {
    Placed,  // unmapped, or absorbed by the designated victim: nothing more to do
    IntoTop, // became part of the top chunk
    ToBin,   // a free chunk (p, size) that still has to be put into a bin
};

// Merges the chunk p of `size` bytes with the free chunks before and after it.
// `checkNext` validates the following chunk once the backward merge is done.
template <typename CheckNext>
Merged mergeWithNeighbours(Heap& m, Chunk*& p, u64& size, CheckNext checkNext)
{
    Chunk* next = chunkPlus(p, size);
    if (!prevInUse(p)) {
        const u64 prevSize = p->prevFoot;
        if (isMapped(p)) {
            unmapChunk(m, p);
            return Merged::Placed;
        }
        Chunk* prev = chunkMinus(p, prevSize);
        size += prevSize;
        p = prev;
        if (!okAddress(m, prev))
            heapAbort();
        if (p != m.dv) {
            unlinkChunk(m, p, prevSize);
        } else if ((next->head & kInUseBits) == kInUseBits) {
            m.dvSize = size;
            setFreeWithPrevInUse(p, size, next);
            return Merged::Placed;
        }
    }
    if (!checkNext(p, next))
        heapAbort();
    if (chunkInUse(next)) {
        setFreeWithPrevInUse(p, size, next);
        return Merged::ToBin;
    }
    if (next == m.top) {
        const u64 topSize = m.topSize += size;
        m.top = p;
        p->head = topSize | kPrevInUse;
        if (p == m.dv) {
            m.dv = nullptr;
            m.dvSize = 0;
        }
        return Merged::IntoTop;
    }
    if (next == m.dv) {
        const u64 dvSize = m.dvSize += size;
        m.dv = p;
        setSizeAndPrevInUseOfFreeChunk(p, dvSize);
        return Merged::Placed;
    }
    const u64 nextSize = chunkSize(next);
    size += nextSize;
    unlinkChunk(m, next, nextSize);
    setSizeAndPrevInUseOfFreeChunk(p, size);
    if (p == m.dv) {
        m.dvSize = size;
        return Merged::Placed;
    }
    return Merged::ToBin;
}

// Frees a chunk that was never handed out whole (a split remainder), merging
// with its free neighbours. Returns without trimming.
void disposeChunk(Heap& m, Chunk* p, u64 size)
{
    const auto checkNext = [&m](Chunk*, Chunk* next) { return okAddress(m, next); };
    if (mergeWithNeighbours(m, p, size, checkNext) == Merged::ToBin)
        insertAny(m, p, size);
}

void* heapMalloc(Heap& m, u64 request)
{
    u64 nb;
    if (request <= kMaxSmallRequest) {
        nb = requestToSize(request);
        if (void* mem = smallRequest(m, nb))
            return mem;
    } else if (request >= kMaxRequest) {
        nb = ~u64(0); // fails in sysAlloc without touching the system
    } else {
        nb = padRequest(request);
        if (m.treeMap != 0) {
            if (void* mem = tmallocLarge(m, nb))
                return mem;
        }
    }
    if (nb <= m.dvSize)
        return takeFromDv(m, nb);
    if (nb < m.topSize)
        return takeFromTop(m, nb);
    return sysAlloc(m, nb);
}

void heapFreeChunk(Heap& m, void* mem)
{
    if (reinterpret_cast<std::uintptr_t>(mem) & kAlignMask)
        heapAbort();
    Chunk* p = memToChunk(mem);
    if (!okAddress(m, p) || !isInUse(p))
        heapAbort();
    u64 size = chunkSize(p);
    const auto checkNext = [](Chunk* chunk, Chunk* next) { return okNext(chunk, next) && prevInUse(next); };
    switch (mergeWithNeighbours(m, p, size, checkNext)) {
    case Merged::Placed:
        return;
    case Merged::IntoTop:
        if (m.topSize > m.trimCheck)
            sysTrim(m, 0);
        return;
    case Merged::ToBin:
        break;
    }
    if (isSmall(size)) {
        insertSmallChunk(m, p, size);
    } else {
        insertLarge(m, asTree(p), size);
        if (--m.releaseChecks == 0)
            releaseUnusedSegments(m);
    }
}

void* heapResize(Heap& m, void* mem, u64 request)
{
    if (request >= kMaxRequest)
        heapAbort();
    const u64 nb = requestToSize(request);
    Chunk* p = memToChunk(mem);
    const u64 oldSize = chunkSize(p);
    Chunk* next = chunkPlus(p, oldSize);
    if (!(okAddress(m, p) && isInUse(p) && okNext(p, next) && prevInUse(next)))
        heapAbort();

    if (isMapped(p)) {
        // A mapping is never moved or remapped in place; it may keep slack.
        if (isSmall(nb))
            return nullptr;
        if (oldSize >= nb + kWord && oldSize - nb <= (g_parameters.granularity << 1))
            return mem;
        return nullptr;
    }
    if (oldSize >= nb) {
        const u64 remainder = oldSize - nb;
        if (remainder >= kMinChunkSize) {
            Chunk* rest = chunkPlus(p, nb);
            setInUse(p, nb);
            setInUse(rest, remainder);
            disposeChunk(m, rest, remainder);
        }
        return mem;
    }
    if (next == m.top) {
        if (oldSize + m.topSize <= nb)
            return nullptr;
        const u64 newTopSize = oldSize + m.topSize - nb;
        Chunk* newTop = chunkPlus(p, nb);
        setInUse(p, nb);
        newTop->head = newTopSize | kPrevInUse;
        m.top = newTop;
        m.topSize = newTopSize;
        return mem;
    }
    if (next == m.dv) {
        if (oldSize + m.dvSize < nb)
            return nullptr;
        const u64 remainder = oldSize + m.dvSize - nb;
        if (remainder >= kMinChunkSize) {
            Chunk* rest = chunkPlus(p, nb);
            Chunk* after = chunkPlus(rest, remainder);
            setInUse(p, nb);
            setSizeAndPrevInUseOfFreeChunk(rest, remainder);
            after->head &= ~kPrevInUse;
            m.dvSize = remainder;
            m.dv = rest;
        } else {
            setInUse(p, oldSize + m.dvSize);
            m.dvSize = 0;
            m.dv = nullptr;
        }
        return mem;
    }
    if (!chunkInUse(next)) {
        const u64 nextSize = chunkSize(next);
        if (oldSize + nextSize < nb)
            return nullptr;
        const u64 remainder = oldSize + nextSize - nb;
        unlinkChunk(m, next, nextSize);
        if (remainder < kMinChunkSize) {
            setInUse(p, oldSize + nextSize);
        } else {
            Chunk* rest = chunkPlus(p, nb);
            setInUse(p, nb);
            setInUse(rest, remainder);
            disposeChunk(m, rest, remainder);
        }
        return mem;
    }
    return nullptr;
}

void* heapMemalign(Heap& m, u64 alignment, u64 request)
{
    if (alignment < kMinChunkSize)
        alignment = kMinChunkSize;
    if (alignment > (u64(1) << 63))
        heapAbort();
    if (alignment & (alignment - 1)) {
        u64 a = kAlignment << 1;
        while (a < alignment)
            a <<= 1;
        alignment = a;
    }
    if (request >= kMaxRequest - alignment)
        heapAbort();
    const u64 nb = requestToSize(request);
    u8* mem = static_cast<u8*>(heapMalloc(m, nb + alignment + kMinChunkSize - kChunkOverhead));
    if (!mem)
        return nullptr;
    Chunk* p = memToChunk(mem);
    if (reinterpret_cast<std::uintptr_t>(mem) & (alignment - 1)) {
        // First aligned spot that leaves a whole chunk in front of it.
        u8* aligned = reinterpret_cast<u8*>((reinterpret_cast<std::uintptr_t>(mem) + alignment - 1) & (0 - alignment));
        Chunk* spot = memToChunk(aligned);
        if (bytes(spot) - bytes(p) < static_cast<std::ptrdiff_t>(kMinChunkSize))
            spot = chunkPlus(spot, alignment);
        const u64 leadSize = static_cast<u64>(bytes(spot) - bytes(p));
        const u64 newSize = chunkSize(p) - leadSize;
        if (isMapped(p)) {
            spot->prevFoot = p->prevFoot + leadSize;
            spot->head = newSize;
        } else {
            setInUse(spot, newSize);
            setInUse(p, leadSize);
            disposeChunk(m, p, leadSize);
        }
        p = spot;
    }
    if (!isMapped(p)) {
        const u64 size = chunkSize(p);
        if (size > nb + kMinChunkSize) {
            const u64 remainder = size - nb;
            Chunk* rest = chunkPlus(p, nb);
            setInUse(p, nb);
            setInUse(rest, remainder);
            disposeChunk(m, rest, remainder);
        }
    }
    return chunkToMem(p);
}

u64 usableSize(const void* mem)
{
    if (!mem)
        return 0;
    const Chunk* p = memToChunk(mem);
    if (!isInUse(p))
        return 0;
    return chunkSize(p) - overheadFor(p);
}

} // namespace quern::memory::heap
