#include "quern/memory/DefaultAllocator.h"

#include <cstdlib>

// Interim: the C library serves every allocator until the general heap lands.
namespace quern::memory {
namespace {

class MallocAllocator final : public Allocator {
public:
    void* allocate(u64 size, u64 alignment) override
    {
        if (alignment < 16)
            alignment = 16;
        return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    }
    void free(void* pointer) override { std::free(pointer); }
    void* tryResize(void*, u64) override { return nullptr; }
};

MallocAllocator g_malloc;
Allocator* g_default = nullptr;

} // namespace

void initDefaultAllocators(const AllocatorConfig&) { g_default = &g_malloc; }
void shutdownDefaultAllocators() { g_default = nullptr; }
Allocator* getDefaultAllocator() { return g_default; }
Allocator* getTemporaryAllocator() { return g_default; }
Allocator* getPageAllocator() { return g_default; }
Allocator* getBootstrapAllocator() { return g_default; }

} // namespace quern::memory
