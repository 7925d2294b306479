#include "quern/memory/DefaultAllocator.h"

#include "quern/debug/MutexImpl.h"
#include "quern/memory/AllocationLogger.h"
#include "quern/memory/CrtAllocator.h"
#include "quern/memory/DebugHeap.h"
#include "quern/memory/HeapAllocator.h"
#include "quern/memory/LinearAllocator.h"
#include "quern/memory/PageAllocator.h"
#include "quern/memory/StackAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstdlib>
#include <new>
#include <utility>

namespace quern::memory {
namespace {

// Storage for an object that must outlive every static object of the process:
// it is never destroyed, so memory handed out through it can be given back
// from any destructor that runs at exit.
template <class T>
class Persistent {
public:
    template <class... Args>
    T* make(Args&&... args)
    {
        if (m_object)
            m_object->~T();
        m_object = new (m_storage) T(std::forward<Args>(args)...);
        return m_object;
    }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
    T* m_object = nullptr;
};

// Holds the temporary allocator and the process mutex.
constexpr u64 kBootstrapBufferSize = 312;
alignas(16) unsigned char g_bootstrapBuffer[kBootstrapBufferSize];

Persistent<StackAllocator> g_bootstrapSlot;
Persistent<PageAllocator> g_pageSlot;
Persistent<HeapAllocator> g_heapSlot;
Persistent<AllocationLogger> g_loggerSlot;

StackAllocator* g_bootstrap = nullptr;
PageAllocator* g_page = nullptr;
Allocator* g_default = nullptr;
Allocator* g_temporary = nullptr;
AllocationLogger* g_logger = nullptr;
debug::MutexImpl* g_processMutex = nullptr;
bool g_exitHandlerRegistered = false;

Allocator* makeDefault(const AllocatorConfig& config)
{
    switch (config.defaultType) {
    case DefaultAllocatorType::Heap:
        return g_heapSlot.make();
    case DefaultAllocatorType::Crt:
        return &CrtAllocator::instance();
    case DefaultAllocatorType::DebugHeap: {
        // A region kept from an earlier run of start-up still has live blocks: keep serving it.
        DebugHeap& heap = DebugHeap::instance();
        if (!heap.hasRegion() && !heap.init(config.debugHeapSize))
            QUERN_FATAL("DebugHeap: can't reserve its address space");
        return &heap;
    }
    }
    QUERN_FATAL_INVALID_ENUM("DefaultAllocatorType");
}

Allocator* makeTemporary(const AllocatorConfig& config)
{
    switch (config.temporaryType) {
    case DefaultAllocatorType::Heap:
        return createLinearAllocator(*g_bootstrap, g_default, config.temporaryBlockSize);
    case DefaultAllocatorType::Crt:
        return &CrtAllocator::instance();
    case DefaultAllocatorType::DebugHeap:
        if (config.defaultType != DefaultAllocatorType::DebugHeap)
            QUERN_FATAL("The temporary allocator can be the DebugHeap only when the default allocator is the DebugHeap");
        return &DebugHeap::instance();
    }
    QUERN_FATAL_INVALID_ENUM("DefaultAllocatorType");
}

debug::MutexImpl* makeProcessMutex()
{
    void* storage = g_bootstrap->allocate(sizeof(debug::MutexImpl), alignof(debug::MutexImpl));
    return storage ? new (storage) debug::MutexImpl() : nullptr;
}

template <class T>
void destroyInBootstrap(T* object)
{
    object->~T();
    g_bootstrap->free(object);
}

} // namespace

void initDefaultAllocators(const AllocatorConfig& config)
{
    if (g_bootstrap)
        return;
    g_bootstrap = g_bootstrapSlot.make(g_bootstrapBuffer, kBootstrapBufferSize);
    g_page = g_pageSlot.make();
    g_default = makeDefault(config);
    g_temporary = makeTemporary(config);
    if (config.logAllocations) {
        g_logger = g_loggerSlot.make(g_default, kAllocationLogFileName, AllocationLogger::kTextMode);
        g_default = g_logger;
    }
    g_processMutex = makeProcessMutex();
    if (!g_exitHandlerRegistered) {
        g_exitHandlerRegistered = true;
        std::atexit(shutdownDefaultAllocators);
    }
}

void shutdownDefaultAllocators()
{
    if (!g_bootstrap)
        return;
    if (g_processMutex) {
        destroyInBootstrap(g_processMutex);
        g_processMutex = nullptr;
    }
    if (g_temporary && g_bootstrap->contains(g_temporary))
        destroyInBootstrap(static_cast<LinearAllocator*>(g_temporary));
    g_temporary = nullptr;
    // Blocks still out of the debug heap belong to objects not destroyed yet;
    // its region goes back to the system with the process then.
    DebugHeap& debugHeap = DebugHeap::instance();
    if (debugHeap.hasRegion() && debugHeap.liveBlocks() == 0)
        debugHeap.release();
    g_logger = nullptr;
    g_default = nullptr;
    g_page = nullptr;
    g_bootstrap = nullptr;
}

Allocator* getDefaultAllocator() { return g_default; }
Allocator* getTemporaryAllocator() { return g_temporary; }
Allocator* getPageAllocator() { return g_page; }
Allocator* getBootstrapAllocator() { return g_bootstrap; }
AllocationLogger* getAllocationLogger() { return g_logger; }
debug::MutexImpl* getProcessMutex() { return g_processMutex; }

} // namespace quern::memory
