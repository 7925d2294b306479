#pragma once
// Shared helpers of the heap tests: a consistency check taken under the heap's
// lock, and blocks stamped with a pattern derived from their address.

#include "quern/memory/GeneralHeap.h"
#include "quern/memory/HeapChunks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quern::memory::test {

inline void expectHeapConsistent(Heap* heap)
{
    const char* problem = nullptr;
    {
        // The report below allocates: take the lock only for the walk.
        heap::HeapLock lock(*heap);
        problem = heap::verifyHeap(*heap);
    }
    EXPECT_EQ(std::string(problem ? problem : "consistent"), "consistent");
}

inline u8 stampByte(const void* block, u64 size, u64 salt)
{
    return static_cast<u8>((reinterpret_cast<std::uintptr_t>(block) >> 4) ^ size ^ salt);
}

inline void stamp(void* block, u64 size, u64 salt = 0) { std::memset(block, stampByte(block, size, salt), size); }

inline bool allBytesAre(const void* block, u64 count, u8 expected)
{
    const u8* bytes = static_cast<const u8*>(block);
    for (u64 i = 0; i < count; ++i) {
        if (bytes[i] != expected)
            return false;
    }
    return true;
}

// True when every byte still carries the block's stamp.
inline bool stampIntact(const void* block, u64 size, u64 salt = 0)
{
    return allBytesAre(block, size, stampByte(block, size, salt));
}

// A request of at least `minimum` bytes that is larger than all the heap holds
// from the system, so neither its top nor a free chunk that earlier work left
// can serve it: only a new direct mapping can. Whole 64 KiB units.
inline u64 sizeBeyondFootprint(Heap* heap, u64 minimum)
{
    const u64 beyond = (heapFootprint(heap) + 2 * 64 * 1024) & ~u64(64 * 1024 - 1);
    return beyond > minimum ? beyond : minimum;
}

inline bool isAligned(const void* pointer, u64 alignment)
{
    return (reinterpret_cast<std::uintptr_t>(pointer) & (alignment - 1)) == 0;
}

} // namespace quern::memory::test
