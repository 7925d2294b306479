#pragma once
// Start-up and shutdown of the process-wide allocators.

#include "quern/memory/Allocator.h"

namespace quern::memory {

enum class DefaultAllocatorType : i32 {
    Heap = 0,      // the general heap (HeapAllocator)
    Crt = 1,       // the C library's heap (CrtAllocator)
    DebugHeap = 2, // the guard-page debug heap
};

struct AllocatorConfig {
    u64 temporaryBlockSize = 4u << 20;
    u64 debugHeapSize = 0;
    DefaultAllocatorType defaultType = DefaultAllocatorType::Heap;
    DefaultAllocatorType temporaryType = DefaultAllocatorType::Heap;
    bool logAllocations = false;
};

void initDefaultAllocators(const AllocatorConfig& config);
void shutdownDefaultAllocators();

// Null before start-up and after shutdown.
Allocator* getDefaultAllocator();
Allocator* getTemporaryAllocator();
Allocator* getPageAllocator();
Allocator* getBootstrapAllocator();

} // namespace quern::memory
