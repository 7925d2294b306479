#pragma once
// Allocator objects: every container, string, buffer and resource keeps the
// allocator it was built with and gives its memory back to that same allocator.

#include "quern/Types.h"

namespace quern::memory {

class Allocator {
public:
    virtual ~Allocator() = default;
    // A block of at least `size` bytes aligned to `alignment` (0: the allocator's
    // default), or null when the allocator cannot serve the request.
    virtual void* allocate(u64 size, u64 alignment) = 0;
    // Gives a block back; null is ignored.
    virtual void free(void* pointer) = 0;
    // Resizes in place: the same pointer on success, null when the block must move.
    virtual void* tryResize(void* pointer, u64 newSize) = 0;
};

// Size 0 frees, null allocates, otherwise resize in place first, else
// allocate, copy min(old, new) bytes and free the old block.
void* reallocate(void* pointer, u64 oldSize, u64 alignment, u64 newSize, Allocator& allocator);

} // namespace quern::memory
