#include "quern/memory/Allocator.h"

#include <algorithm>
#include <cstring>

namespace quern::memory {

void* reallocate(void* pointer, u64 oldSize, u64 alignment, u64 newSize, Allocator& allocator)
{
    if (newSize == 0) {
        allocator.free(pointer);
        return nullptr;
    }
    if (!pointer)
        return allocator.allocate(newSize, alignment);
    if (void* resized = allocator.tryResize(pointer, newSize))
        return resized;
    void* moved = allocator.allocate(newSize, alignment);
    if (!moved)
        return nullptr;
    std::memcpy(moved, pointer, std::min(oldSize, newSize));
    allocator.free(pointer);
    return moved;
}

} // namespace quern::memory
