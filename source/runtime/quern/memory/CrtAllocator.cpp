#include "quern/memory/CrtAllocator.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace quern::memory {

// Each block keeps the address of its C library block in the 8 bytes below it.
void* CrtAllocator::allocate(u64 size, u64 alignment)
{
    const u64 a = alignment == 0 ? 1 : alignment;
    const u64 extra = a + 7;
    if (size > ~u64{0} - extra)
        return nullptr;
    void* raw = std::malloc(size + extra);
    if (!raw)
        return nullptr;
    const u64 shifted = reinterpret_cast<u64>(raw) + extra;
    unsigned char* result = reinterpret_cast<unsigned char*>(shifted - shifted % a);
    std::memcpy(result - sizeof(void*), &raw, sizeof(void*));
    return result;
}

void CrtAllocator::free(void* pointer)
{
    if (!pointer)
        return;
    void* raw;
    std::memcpy(&raw, static_cast<unsigned char*>(pointer) - sizeof(void*), sizeof(void*));
    std::free(raw);
}

void* CrtAllocator::tryResize(void*, u64) { return nullptr; }

CrtAllocator& CrtAllocator::instance()
{
    alignas(CrtAllocator) static unsigned char storage[sizeof(CrtAllocator)];
    static CrtAllocator* const object = new (storage) CrtAllocator();
    return *object;
}

} // namespace quern::memory
