#pragma once
// Serves an owner's inline buffer first and the process default allocator once
// the buffer is used up. Buffer memory comes back only when the owner goes away.

#include "quern/memory/StackAllocator.h"

namespace quern::memory {

class FallbackAllocator final : public Allocator {
public:
    FallbackAllocator(void* buffer, u64 capacity);

    void* allocate(u64 size, u64 alignment) override;
    void free(void* pointer) override;
    void* tryResize(void* pointer, u64 newSize) override;

    // Makes the whole buffer free again; the owner guarantees that no block
    // inside it is still in use.
    void rewindArena() { m_arena.rewind(); }

    // Null until the buffer first runs out.
    Allocator* fallback() const { return m_fallback; }

private:
    Allocator* fallbackAllocator();

    Allocator* m_fallback = nullptr;
    StackAllocator m_arena;
};

} // namespace quern::memory
