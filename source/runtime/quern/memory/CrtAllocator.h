#pragma once
// Allocator over the C library's heap, so tools that watch malloc see every block.

#include "quern/memory/Allocator.h"

namespace quern::memory {

class CrtAllocator final : public Allocator {
public:
    // Alignment 0 counts as 1: the block is then 8 bytes past the C library's
    // block, so 8-aligned. Null when malloc fails.
    void* allocate(u64 size, u64 alignment) override;
    void free(void* pointer) override;
    void* tryResize(void* pointer, u64 newSize) override;

    // The process's one instance. It is never destroyed, so blocks may be
    // freed through it at any point of process exit.
    static CrtAllocator& instance();
};

} // namespace quern::memory
