#pragma once
// An allocator that gives every block exactly the alignment it was asked for
// and never more (an address that is an odd multiple of it), so code that
// reads records wider than the alignment it asked for misreads under the
// sanitizer build instead of working by luck.

#include "quern/memory/Allocator.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace quern::testing {

class ExactAlignmentAllocator final : public memory::Allocator {
public:
    void* allocate(u64 size, u64 alignment) override
    {
        if (alignment == 0)
            alignment = 1;
        // Room for the C library's block address in front, then one step of
        // `alignment` to land on an odd multiple of it.
        const u64 front = sizeof(void*) + 3 * alignment;
        unsigned char* raw = static_cast<unsigned char*>(std::malloc(front + size));
        if (!raw)
            return nullptr;
        std::uintptr_t address = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
        address = (address + 2 * alignment - 1) / (2 * alignment) * (2 * alignment) + alignment;
        unsigned char* block = reinterpret_cast<unsigned char*>(address);
        std::memcpy(block - sizeof(void*), &raw, sizeof raw);
        ++live;
        return block;
    }
    void free(void* pointer) override
    {
        if (!pointer)
            return;
        void* raw = nullptr;
        std::memcpy(&raw, static_cast<unsigned char*>(pointer) - sizeof(void*), sizeof raw);
        std::free(raw);
        --live;
    }
    void* tryResize(void*, u64) override { return nullptr; }

    int live = 0;
};

} // namespace quern::testing
