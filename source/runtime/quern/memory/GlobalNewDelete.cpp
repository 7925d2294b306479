// The global new and delete operators live in the general heap, whatever the
// default allocator is. Builds for memory checkers leave them to the C++
// runtime (and so to the checker), which is why this file is empty there.

#include "quern/memory/GeneralHeap.h"
#include "quern/platform/ErrorReporting.h"

#include <new>

#if !QUERN_SYSTEM_ALLOCATOR

namespace {

void* allocateOrDie(std::size_t size)
{
    void* pointer = quern::memory::heapAlloc(size);
    // The heap aborts when memory runs out; null means a size no heap could hold,
    // and a throwing new must never hand that back.
    if (!pointer)
        QUERN_OUT_OF_MEMORY();
    return pointer;
}

void* allocateAlignedOrDie(std::size_t size, std::align_val_t alignment)
{
    const auto a = static_cast<quern::u64>(alignment);
    void* pointer = a > 16 ? quern::memory::heapAllocAligned(quern::memory::getGeneralHeap(), a, size)
                           : quern::memory::heapAlloc(size);
    if (!pointer)
        QUERN_OUT_OF_MEMORY();
    return pointer;
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) noexcept
{
    const auto a = static_cast<quern::u64>(alignment);
    return a > 16 ? quern::memory::heapAllocAligned(quern::memory::getGeneralHeap(), a, size)
                  : quern::memory::heapAlloc(size);
}

} // namespace

void* operator new(std::size_t size) { return allocateOrDie(size); }
void* operator new[](std::size_t size) { return allocateOrDie(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return quern::memory::heapAlloc(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return quern::memory::heapAlloc(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return allocateAlignedOrDie(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocateAlignedOrDie(size, alignment); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateAligned(size, alignment);
}

void operator delete(void* pointer) noexcept { quern::memory::heapFree(pointer); }
void operator delete[](void* pointer) noexcept { quern::memory::heapFree(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { quern::memory::heapFree(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { quern::memory::heapFree(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { quern::memory::heapFree(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { quern::memory::heapFree(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { quern::memory::heapFree(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { quern::memory::heapFree(pointer); }
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept { quern::memory::heapFree(pointer); }
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept { quern::memory::heapFree(pointer); }
void operator delete(void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { quern::memory::heapFree(pointer); }
void operator delete[](void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { quern::memory::heapFree(pointer); }

#endif
