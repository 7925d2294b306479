#include "quern/memory/DebugHeap.h"

#include "quern/platform/ErrorReporting.h"
#include "quern/platform/VirtualMemory.h"

#include <bit>
#include <cstring>
#include <new>

namespace quern::memory {

// A run of whole data pages. Sizes and first pages are stored doubled so the
// low bit can carry a flag: in use on the size, pending on the first page
// (freed but not merged yet; spare records carry it too).
struct DebugHeap::Run {
    u32 sizeAndInUse;
    u32 firstAndPending;
    Run* lower;
    Run* higher;

    u32 size() const { return sizeAndInUse >> 1; }
    u32 first() const { return firstAndPending >> 1; }
    bool inUse() const { return sizeAndInUse & 1; }
    bool pending() const { return firstAndPending & 1; }
    void setSize(u32 pages) { sizeAndInUse = (pages << 1) | (sizeAndInUse & 1); }
    void setFirst(u32 page) { firstAndPending = (page << 1) | (firstAndPending & 1); }
    void setInUse(bool on) { sizeAndInUse = (sizeAndInUse & ~1u) | (on ? 1u : 0u); }
    void setPending(bool on) { firstAndPending = (firstAndPending & ~1u) | (on ? 1u : 0u); }
};

// Lies at the start of the region, followed by its lists and records. There
// is one record per data page: every run holds at least one page, so a split
// always finds a spare record.
struct DebugHeap::Region {
    u32 recordCapacity;
    u32 pageCount;
    unsigned char* dataStart;
    u32 freeRunCount;
    u32 pendingCount;
    Run** freeRuns;
    Run** pending;
    Run** pageMap;
    Run* spareHead;
    Run* records;
    u64 liveBlocks;
    u64 regionSize;
};

namespace {

constexpr u64 kPage = DebugHeap::kPageSize;
constexpr u64 kControlBytesPerPage = 48;
constexpr u64 kMaxPages = 0x7FFFFFFF;

static_assert(sizeof(void*) == 8);

} // namespace

DebugHeap::~DebugHeap() { release(); }

bool DebugHeap::init(u64 size)
{
    release();
    if (platform::getPageSize() != kPage)
        return false;
    const u64 pages = size / kPage < kMaxPages ? size / kPage : kMaxPages;
    const u64 controlPages = (kControlBytesPerPage * pages + 4175) / kPage;
    static_assert(sizeof(Region) <= 4175 - (kPage - 1));
    static_assert(3 * sizeof(Run*) + sizeof(Run) <= kControlBytesPerPage);
    const u64 regionSize = (controlPages + pages) * kPage;

    unsigned char* base = static_cast<unsigned char*>(platform::reserveVirtualMemory(regionSize));
    if (!base)
        return false;
    if (!platform::commitVirtualMemory(base, controlPages * kPage)) {
        platform::releaseVirtualMemory(base, regionSize);
        return false;
    }

    Region* region = new (base) Region{};
    region->recordCapacity = static_cast<u32>(pages);
    region->pageCount = static_cast<u32>(pages);
    region->dataStart = base + controlPages * kPage;
    region->regionSize = regionSize;
    unsigned char* cursor = base + sizeof(Region);
    region->freeRuns = reinterpret_cast<Run**>(cursor);
    cursor += pages * sizeof(Run*);
    region->pending = reinterpret_cast<Run**>(cursor);
    cursor += pages * sizeof(Run*);
    region->pageMap = reinterpret_cast<Run**>(cursor); // zero: committed pages start cleared
    cursor += pages * sizeof(Run*);
    region->records = reinterpret_cast<Run*>(cursor);

    if (pages > 0) {
        Run& whole = region->records[0];
        whole = Run{static_cast<u32>(pages) << 1, 0, nullptr, nullptr};
        region->freeRuns[region->freeRunCount++] = &whole;
        for (u64 i = 1; i < pages; ++i) {
            Run& spare = region->records[i];
            spare = Run{0, 1, nullptr, i + 1 < pages ? &region->records[i + 1] : nullptr};
        }
        region->spareHead = pages > 1 ? &region->records[1] : nullptr;
    }

    m_mutex = new (m_mutexStorage) debug::MutexImpl();
    m_region = region;
    return true;
}

void DebugHeap::release()
{
    if (!m_region)
        return;
    m_mutex->~MutexImpl();
    m_mutex = nullptr;
    platform::releaseVirtualMemory(m_region, m_region->regionSize);
    m_region = nullptr;
}

void* DebugHeap::allocate(u64 size, u64 alignment)
{
    if (!m_region)
        return nullptr;
    debug::MutexLock lock(*m_mutex);
    Region& region = *m_region;
    if (size > region.pageCount * kPage || alignment > (u64{1} << 40))
        return nullptr;
    u64 a = alignment == 0 ? 0 : std::bit_ceil(alignment);
    const u64 dataPages = (size + kPage - 1) / kPage;
    const u64 pages = dataPages + 1;
    // Blocks aligned beyond a page need a run with room to slide to an aligned page.
    const u64 maxLead = a > kPage ? a / kPage - 1 : 0;
    if (pages + maxLead > region.pageCount)
        return nullptr;

    u32 index;
    Run* run = findBestFit(static_cast<u32>(pages + maxLead), &index);
    if (!run) {
        mergePendingRuns();
        run = findBestFit(static_cast<u32>(pages + maxLead), &index);
        if (!run)
            return nullptr;
    }
    removeFreeRun(index);

    u64 lead = 0;
    if (a > kPage) {
        const u64 start = reinterpret_cast<u64>(region.dataStart) + u64{run->first()} * kPage;
        lead = ((a - start % a) % a) / kPage;
    }
    const u32 used = static_cast<u32>(lead + pages);
    if (run->size() > used) {
        Run* rest = region.spareHead;
        region.spareHead = rest->higher;
        rest->sizeAndInUse = (run->size() - used) << 1;
        rest->firstAndPending = (run->first() + used) << 1;
        rest->lower = run;
        rest->higher = run->higher;
        if (run->higher)
            run->higher->lower = rest;
        run->higher = rest;
        region.freeRuns[region.freeRunCount++] = rest;
        run->setSize(used);
    }
    run->setInUse(true);
    const u64 blockPage = run->first() + lead;
    region.pageMap[blockPage] = run;

    unsigned char* page = region.dataStart + blockPage * kPage;
    const bool committed = dataPages == 0 || platform::commitVirtualMemory(page, dataPages * kPage);
    if (!committed || !platform::decommitVirtualMemory(page + dataPages * kPage, kPage)) {
        // Out of mappings: hand the run back rather than a block without its guard.
        retire(run, blockPage);
        return nullptr;
    }

    u64 slack = 0;
    if (a != 0) {
        slack = (kPage - size % kPage) % kPage;
        slack -= slack % a;
    }
    std::memset(page, kSlackFill, slack);
    ++region.liveBlocks;
    return page + slack;
}

void DebugHeap::free(void* pointer)
{
    if (!pointer)
        return;
    if (!m_region)
        QUERN_FATAL("DebugHeap: freed pointer does not belong to the heap");
    debug::MutexLock lock(*m_mutex);
    Region& region = *m_region;
    const u64 address = reinterpret_cast<u64>(pointer);
    const u64 dataStart = reinterpret_cast<u64>(region.dataStart);
    const u64 page = (address - dataStart) / kPage;
    if (address < dataStart || page >= region.pageCount || !region.pageMap[page])
        QUERN_FATAL("DebugHeap: freed pointer does not belong to the heap");
    retire(region.pageMap[page], page);
    --region.liveBlocks;
}

void DebugHeap::retire(Run* run, u64 blockPage)
{
    Region& region = *m_region;
    run->setInUse(false);
    run->setPending(true);
    region.pageMap[blockPage] = nullptr;
    region.pending[region.pendingCount++] = run;
    if (run->size() > 1)
        platform::decommitVirtualMemory(region.dataStart + u64{run->first()} * kPage, u64{run->size() - 1} * kPage);
}

void* DebugHeap::tryResize(void*, u64) { return nullptr; }

DebugHeap::Run* DebugHeap::findBestFit(u32 pages, u32* index) const
{
    Run* best = nullptr;
    for (u32 i = 0; i < m_region->freeRunCount; ++i) {
        Run* run = m_region->freeRuns[i];
        if (run->size() >= pages && (!best || run->size() < best->size())) {
            best = run;
            *index = i;
        }
    }
    return best;
}

void DebugHeap::removeFreeRun(u32 index)
{
    m_region->freeRuns[index] = m_region->freeRuns[--m_region->freeRunCount];
}

// Freed runs join their free neighbours only here, when the heap runs short,
// so freed pages stay out of use (and faulting) as long as possible.
void DebugHeap::mergePendingRuns()
{
    Region& region = *m_region;
    auto toSpare = [&](Run* run) {
        run->sizeAndInUse = 0;
        run->firstAndPending = 1;
        run->lower = nullptr;
        run->higher = region.spareHead;
        region.spareHead = run;
    };
    for (u32 i = 0; i < region.pendingCount; ++i) {
        Run* run = region.pending[i];
        bool absorbed = false;
        Run* lower = run->lower;
        if (lower && !lower->inUse() && !lower->pending() && lower->first() + lower->size() == run->first()) {
            lower->setSize(lower->size() + run->size());
            lower->higher = run->higher;
            if (run->higher)
                run->higher->lower = lower;
            toSpare(run);
            run = lower;
            absorbed = true;
        }
        Run* higher = run->higher;
        if (higher && !higher->inUse() && !higher->pending() && run->first() + run->size() == higher->first()) {
            run->setSize(run->size() + higher->size());
            run->higher = higher->higher;
            if (higher->higher)
                higher->higher->lower = run;
            for (u32 j = 0; j < region.freeRunCount; ++j) {
                if (region.freeRuns[j] == higher) {
                    removeFreeRun(j);
                    break;
                }
            }
            toSpare(higher);
        }
        if (!absorbed) {
            run->setPending(false);
            region.freeRuns[region.freeRunCount++] = run;
        }
    }
    region.pendingCount = 0;
}

u64 DebugHeap::liveBlocks() const { return m_region ? m_region->liveBlocks : 0; }

u64 DebugHeap::dataPageCount() const { return m_region ? m_region->pageCount : 0; }

DebugHeap& DebugHeap::instance()
{
    alignas(DebugHeap) static unsigned char storage[sizeof(DebugHeap)];
    static DebugHeap* const object = new (storage) DebugHeap();
    return *object;
}

} // namespace quern::memory
