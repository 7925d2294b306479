#pragma once
// Aligned blocks straight from the C library, counted so leaks show up.

#include "quern/memory/Allocator.h"

#include <atomic>

namespace quern::memory {

// The C library's aligned allocation (alignment 0 means 16); running out of
// memory is fatal. The level heaps' block comes from here too.
void* pageAlloc(u64 size, u64 alignment);
void pageFree(void* pointer);

class PageAllocator final : public Allocator {
public:
    void* allocate(u64 size, u64 alignment) override;
    void free(void* pointer) override;
    void* tryResize(void* pointer, u64 newSize) override;

    i32 liveAllocations() const { return m_liveAllocations.load(std::memory_order_relaxed); }
    u64 totalAllocations() const { return m_totalAllocations.load(std::memory_order_relaxed); }

private:
    std::atomic<i32> m_liveAllocations{0};
    std::atomic<u64> m_totalAllocations{0};
};

} // namespace quern::memory
