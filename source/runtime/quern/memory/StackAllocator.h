#pragma once
// Allocator over a fixed buffer that hands out blocks from the bottom up and
// releases them in reverse order: freeing a block releases it and everything
// allocated after it. Serves the bootstrap allocator and small inline arenas.

#include "quern/memory/Allocator.h"

namespace quern::memory {

class StackAllocator final : public Allocator {
public:
    // The largest alignment whose padding still fits the two-byte record below each block.
    static constexpr u64 kMaxAlignment = 32768;

    StackAllocator(void* buffer, u64 capacity);

    // Alignment 0 means 16. Null when the buffer cannot hold the block, or for
    // an alignment above kMaxAlignment.
    void* allocate(u64 size, u64 alignment) override;
    void free(void* pointer) override;
    void* tryResize(void* pointer, u64 newSize) override;

    bool contains(const void* pointer) const;
    // Releases every block at once.
    void rewind() { m_top = 0; }
    u64 capacity() const { return m_capacity; }
    u64 top() const { return m_top; }

private:
    unsigned char* m_buffer;
    u64 m_capacity;
    u64 m_top = 0;
};

} // namespace quern::memory
