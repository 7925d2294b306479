#pragma once
// A C-library allocator that counts live blocks, so tests see that every block
// an object took is given back.

#include "quern/memory/Allocator.h"

#include <cstdlib>

namespace quern::testing {

class CountingAllocator final : public memory::Allocator {
public:
    void* allocate(u64 size, u64 alignment) override
    {
        ++allocations;
        ++live;
        if (alignment < 16)
            alignment = 16;
        return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    }
    void free(void* pointer) override
    {
        if (pointer)
            --live;
        std::free(pointer);
    }
    void* tryResize(void*, u64) override { return nullptr; }

    int allocations = 0;
    int live = 0;
};

} // namespace quern::testing
