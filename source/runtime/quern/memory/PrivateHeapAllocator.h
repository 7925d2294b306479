#pragma once
// Allocator over a private heap laid into a caller's block (the level heaps,
// the profiler's arena). Not locked: one thread at a time per allocator.

#include "quern/memory/Allocator.h"

#include <atomic>

namespace quern::memory {

struct Heap;

class PrivateHeapAllocator final : public Allocator {
public:
    PrivateHeapAllocator() = default;
    // Destroys the heap (releasing what it mapped beyond the block) and gives
    // the block back to its owner when one was named.
    ~PrivateHeapAllocator() override;
    PrivateHeapAllocator(const PrivateHeapAllocator&) = delete;
    PrivateHeapAllocator& operator=(const PrivateHeapAllocator&) = delete;

    // Lays the heap into [block, block + size). A block of 1,024 bytes or less
    // gets no heap, and every allocation then fails. `owner`, when set, takes
    // the block back at destruction.
    void init(void* block, u64 size, Allocator* owner = nullptr);

    // Alignment 0 and up to 16: the heap's 16-byte blocks; above: its aligned path.
    void* allocate(u64 size, u64 alignment) override;
    void free(void* pointer) override;
    void* tryResize(void* pointer, u64 newSize) override;

    Heap* heap() const { return m_heap; }
    void* block() const { return m_block; }
    u64 blockSize() const { return m_blockSize; }
    // Sum of the usable sizes of the live blocks.
    u64 bytesInUse() const { return m_bytesInUse; }
    // Allocation requests less frees; a failed request counts too.
    i32 allocationCount() const { return m_allocationCount.load(std::memory_order_relaxed); }

private:
    Heap* m_heap = nullptr;
    Allocator* m_owner = nullptr;
    void* m_block = nullptr;
    u64 m_blockSize = 0;
    u64 m_bytesInUse = 0;
    std::atomic<i32> m_allocationCount{0};
};

} // namespace quern::memory
