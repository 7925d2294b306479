#pragma once
// The default allocator over the general heap: 16-byte alignment by default,
// the heap's aligned path above that, in-place resizing through the heap.

#include "quern/memory/Allocator.h"

namespace quern::memory {

class HeapAllocator final : public Allocator {
public:
    void* allocate(u64 size, u64 alignment) override;
    void free(void* pointer) override;
    void* tryResize(void* pointer, u64 newSize) override;
};

} // namespace quern::memory
