#pragma once
// Ring of short-lived records inside one block taken from a parent allocator.
// Records are reclaimed in the order they were made: a record freed out of
// order waits until every older record is freed too. Requests the ring cannot
// hold go to the parent.

#include "quern/memory/Allocator.h"

namespace quern::memory {

class LinearAllocator final : public Allocator {
public:
    // Takes `blockSize` bytes (alignment 4) from the parent; without a block
    // every request goes to the parent.
    LinearAllocator(Allocator* parent, u64 blockSize);
    ~LinearAllocator() override;
    LinearAllocator(const LinearAllocator&) = delete;
    LinearAllocator& operator=(const LinearAllocator&) = delete;

    // Alignments below 4 count as 4.
    void* allocate(u64 size, u64 alignment) override;
    void free(void* pointer) override;
    void* tryResize(void* pointer, u64 newSize) override;

    bool ownsBlock(const void* pointer) const;
    u64 liveBytes() const { return m_liveBytes; }
    Allocator* parent() const { return m_parent; }

private:
    void* allocateInRing(u64 size, u64 alignment);
    bool overlapsLive(const unsigned char* begin, const unsigned char* end) const;
    void advanceOldest();

    Allocator* m_parent;
    unsigned char* m_blockStart = nullptr;
    unsigned char* m_blockEnd = nullptr;
    unsigned char* m_next = nullptr;
    unsigned char* m_oldest = nullptr;
    u64 m_liveBytes = 0;
};

// The temporary allocator of start-up: the object from `objectAllocator`, its
// block from `parent`. Null when the object cannot be made.
LinearAllocator* createLinearAllocator(Allocator& objectAllocator, Allocator* parent, u64 blockSize);

} // namespace quern::memory
