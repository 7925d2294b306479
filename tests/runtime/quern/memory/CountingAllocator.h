#pragma once
// A real allocator (the C library's, through CrtAllocator) that also counts the
// calls that reach it, for tests of allocators that hand work to a parent.

#include "quern/memory/CrtAllocator.h"

namespace quern::memory::testing {

class CountingAllocator final : public Allocator {
public:
    void* allocate(u64 size, u64 alignment) override
    {
        ++allocations;
        lastSize = size;
        return CrtAllocator::instance().allocate(size, alignment);
    }
    void free(void* pointer) override
    {
        if (pointer)
            ++frees;
        lastFreed = pointer;
        CrtAllocator::instance().free(pointer);
    }
    void* tryResize(void*, u64) override { return nullptr; }

    int allocations = 0;
    int frees = 0;
    u64 lastSize = 0;
    void* lastFreed = nullptr;
};

} // namespace quern::memory::testing
