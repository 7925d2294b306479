#include "quern/platform/VirtualMemory.h"

#include <sys/mman.h>
#include <unistd.h>

namespace quern::platform {

u64 getPageSize()
{
    static const u64 pageSize = static_cast<u64>(sysconf(_SC_PAGESIZE));
    return pageSize;
}

// mmap places mappings at page granularity; the heap still rounds its segment
// sizes to this so they stay large and few.
u64 getAllocationGranularity()
{
    return 64 * 1024;
}

void* reserveVirtualMemory(u64 size)
{
    void* address = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return address == MAP_FAILED ? nullptr : address;
}

void* allocateVirtualMemory(u64 size, bool /*topDown*/)
{
    // Linux places anonymous mappings top-down already.
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return address == MAP_FAILED ? nullptr : address;
}

bool commitVirtualMemory(void* address, u64 size)
{
    return mprotect(address, size, PROT_READ | PROT_WRITE) == 0;
}

bool decommitVirtualMemory(void* address, u64 size)
{
    if (madvise(address, size, MADV_DONTNEED) != 0)
        return false;
    return mprotect(address, size, PROT_NONE) == 0;
}

bool protectVirtualMemoryNoAccess(void* address, u64 size)
{
    return mprotect(address, size, PROT_NONE) == 0;
}

bool releaseVirtualMemory(void* address, u64 size)
{
    return munmap(address, size) == 0;
}

} // namespace quern::platform
