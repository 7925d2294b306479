#pragma once
// Start-up and shutdown of the process-wide allocators.

#include "quern/memory/Allocator.h"

namespace quern::debug {
class MutexImpl;
}

namespace quern::memory {

class AllocationLogger;

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

// The allocation log written when AllocatorConfig::logAllocations is set, in
// the current directory.
inline constexpr const char* kAllocationLogFileName = "memorylog.txt";

// Builds the process allocators; does nothing when they exist already. The
// first call also registers shutdownDefaultAllocators to run at exit.
void initDefaultAllocators(const AllocatorConfig& config);
// Forgets the process allocators; a second call does nothing. Allocator
// objects that blocks may still come back to (the default allocator, the
// logger, the page allocator, and the debug heap while blocks are out) stay
// usable until the process ends, so static objects destroyed after this can
// still free their memory.
void shutdownDefaultAllocators();

// Null before start-up and after shutdown.
Allocator* getDefaultAllocator();
Allocator* getTemporaryAllocator();
Allocator* getPageAllocator();
Allocator* getBootstrapAllocator();
// Null unless allocations are logged.
AllocationLogger* getAllocationLogger();
// The process-wide lock made at start-up.
debug::MutexImpl* getProcessMutex();

} // namespace quern::memory
