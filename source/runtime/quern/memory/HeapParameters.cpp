// Process-wide heap parameters, the heap's spin lock and its failure path.

#include "quern/memory/HeapChunks.h"
#include "quern/platform/VirtualMemory.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace quern::memory::heap {

Parameters g_parameters{};
std::atomic<bool> g_parametersReady{false};

namespace {

std::atomic<u32> g_parametersLock{0};

bool isPowerOfTwo(u64 value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

// Differs from run to run so that a stale or foreign state is not taken for a heap.
u64 makeMagic()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const u64 milliseconds = static_cast<u64>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    return ((milliseconds & ~u64(7)) ^ u64(0x55555550)) | u64(8);
}

} // namespace

void heapAbort()
{
    std::abort();
}

void spinAcquire(std::atomic<u32>& word)
{
    u32 spins = 0;
    for (;;) {
        if (word.load(std::memory_order_relaxed) == 0 && word.exchange(1, std::memory_order_acquire) == 0)
            return;
        if ((++spins & 63) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } else {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
    }
}

void initParameters()
{
    acquireLock(g_parametersLock);
    if (!g_parametersReady.load(std::memory_order_relaxed)) {
        const u64 pageSize = platform::getPageSize();
        const u64 granularity = platform::getAllocationGranularity();
        if (!isPowerOfTwo(pageSize) || !isPowerOfTwo(granularity))
            heapAbort();
        g_parameters.pageSize = pageSize;
        g_parameters.granularity = granularity;
        g_parameters.mmapThreshold = kDefaultMmapThreshold;
        g_parameters.trimThreshold = kDefaultTrimThreshold;
        g_parameters.defaultFlags = kUseLock | kUseMmap | kNonContiguous;
        g_parameters.magic = makeMagic();
        g_parametersReady.store(true, std::memory_order_release);
    }
    releaseLock(g_parametersLock);
}

} // namespace quern::memory::heap
