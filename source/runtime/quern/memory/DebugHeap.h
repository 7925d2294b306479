#pragma once
// Guard-page heap for finding memory errors. Every block gets its own run of
// pages that ends at a page that is never committed, and the block is placed
// to end as close to that page as its alignment allows, so writing past it
// faults at once. Freed pages are decommitted and not reused until the heap
// runs short, so touching freed memory faults too. Slow by design.

#include "quern/debug/MutexImpl.h"
#include "quern/memory/Allocator.h"

namespace quern::memory {

class DebugHeap final : public Allocator {
public:
    static constexpr u64 kPageSize = 4096;
    // Bytes below a block that are not part of it carry this value.
    static constexpr u8 kSlackFill = 0xFC;

    DebugHeap() = default;
    ~DebugHeap() override;
    DebugHeap(const DebugHeap&) = delete;
    DebugHeap& operator=(const DebugHeap&) = delete;

    // Reserves address space for size / 4096 data pages plus the control
    // area. False (and no region) when the reservation fails.
    bool init(u64 size);
    // Gives the whole region back; blocks still out become invalid.
    void release();

    // Alignment 0: the block starts at its page boundary.
    void* allocate(u64 size, u64 alignment) override;
    // Freeing a pointer that is not a live block of this heap is fatal.
    void free(void* pointer) override;
    void* tryResize(void* pointer, u64 newSize) override;

    bool hasRegion() const { return m_region != nullptr; }
    u64 liveBlocks() const;
    u64 dataPageCount() const;

    // The process's one instance, used when the debug heap is the default
    // allocator. Never destroyed, so late frees at process exit still work.
    static DebugHeap& instance();

private:
    struct Run;
    struct Region;

    Run* findBestFit(u32 pages, u32* index) const;
    void mergePendingRuns();
    void removeFreeRun(u32 index);
    void retire(Run* run, u64 blockPage);

    Region* m_region = nullptr;
    debug::MutexImpl* m_mutex = nullptr;
    alignas(debug::MutexImpl) unsigned char m_mutexStorage[sizeof(debug::MutexImpl)];
};

} // namespace quern::memory
