#include "harmonize/collision/BulletAllocation.h"

#include "quern/memory/GeneralHeap.h"
#include "quern/platform/ErrorReporting.h"

#include <LinearMath/btAlignedAllocator.h>

#include <mutex>

namespace harmonize {
namespace {

void* allocateBullet(size_t size)
{
    void* block = quern::memory::heapAlloc(size);
    if (!block)
        QUERN_OUT_OF_MEMORY();
    return block;
}

void* allocateBulletAligned(size_t size, int alignment)
{
    void* block = quern::memory::heapAllocAligned(
        quern::memory::getGeneralHeap(), static_cast<quern::u64>(alignment > 0 ? alignment : 16), size);
    if (!block)
        QUERN_OUT_OF_MEMORY();
    return block;
}

void freeBullet(void* block) { quern::memory::heapFree(block); }

} // namespace

void installBulletAllocation()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        btAlignedAllocSetCustom(allocateBullet, freeBullet);
        btAlignedAllocSetCustomAligned(allocateBulletAligned, freeBullet);
    });
}

} // namespace harmonize
