#include "quern/memory/PrivateHeapAllocator.h"

#include "quern/memory/GeneralHeap.h"
#include "quern/platform/VirtualMemory.h"

namespace quern::memory {

PrivateHeapAllocator::~PrivateHeapAllocator()
{
    if (m_heap)
        destroyPrivateHeap(m_heap);
    if (m_owner && m_block)
        m_owner->free(m_block);
}

void PrivateHeapAllocator::init(void* block, u64 size, Allocator* owner)
{
    ensureHeapParameters();
    m_owner = owner;
    m_block = block;
    m_blockSize = size;
    m_heap = nullptr;
    const u64 limit = ~u64{0} - platform::getPageSize() - 1024;
    if (block && size > 1024 && size < limit)
        m_heap = createPrivateHeap(block, size);
}

void* PrivateHeapAllocator::allocate(u64 size, u64 alignment)
{
    m_allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (!m_heap)
        return nullptr;
    void* block = alignment > 16 ? heapAllocAligned(m_heap, alignment, size) : privateHeapAlloc(m_heap, size);
    if (block)
        m_bytesInUse += heapUsableSize(m_heap, block);
    return block;
}

void PrivateHeapAllocator::free(void* pointer)
{
    if (!pointer || !m_heap)
        return;
    m_bytesInUse -= heapUsableSize(m_heap, pointer);
    m_allocationCount.fetch_sub(1, std::memory_order_relaxed);
    privateHeapFree(m_heap, pointer);
}

void* PrivateHeapAllocator::tryResize(void* pointer, u64 newSize)
{
    if (!pointer || !m_heap)
        return nullptr;
    const u64 oldUsable = heapUsableSize(m_heap, pointer);
    void* resized = privateHeapResizeInPlace(m_heap, pointer, newSize);
    if (resized)
        m_bytesInUse = m_bytesInUse - oldUsable + heapUsableSize(m_heap, resized);
    return resized;
}

} // namespace quern::memory
