#include "quern/containers/HandleTable.h"

#include "quern/platform/ErrorReporting.h"

#include <atomic>

namespace quern::containers {
namespace {
// Shared by every table on every thread.
std::atomic<u32> g_generationCounter{0};
} // namespace

u32 HandleTable::nextGeneration()
{
    u32 current = g_generationCounter.load(std::memory_order_relaxed);
    u32 next;
    do {
        next = current + 1 > 0xffff ? 1 : current + 1;
    } while (!g_generationCounter.compare_exchange_weak(current, next, std::memory_order_relaxed));
    return next;
}

HandleTable::HandleTable(u64 entrySize, u64 alignment, memory::Allocator* allocator)
    : m_entries(entrySize, alignment, allocator), m_generations(sizeof(u32), alignof(u32), allocator),
      m_freeIndices(sizeof(u32), alignof(u32), allocator)
{
}

void* HandleTable::allocate(u32& handle)
{
    u32 index;
    if (!m_freeIndices.isEmpty()) {
        index = m_freeIndices.at<u32>(m_freeIndices.count() - 1);
        m_freeIndices.expand(m_freeIndices.count() - 1);
    } else {
        if (slotCount() >= kMaxSlots)
            QUERN_FATAL("HandleTable is full: all 65535 slots are in use");
        index = static_cast<u32>(slotCount());
        m_entries.expand(index + 1);
        m_generations.expand(index + 1);
    }
    const u32 generation = nextGeneration();
    m_generations.at<u32>(index) = generation;
    handle = makeHandle(index, generation);
    return m_entries.at(index);
}

bool HandleTable::isValid(u32 handle) const
{
    const u32 index = indexOf(handle);
    const u32 generation = generationOf(handle);
    return generation != 0 && index < slotCount() && m_generations.at<u32>(index) == generation;
}

void* HandleTable::lookup(u32 handle) { return isValid(handle) ? m_entries.at(indexOf(handle)) : nullptr; }

bool HandleTable::release(u32 handle)
{
    if (!isValid(handle))
        return false;
    const u32 index = indexOf(handle);
    m_generations.at<u32>(index) = 0;
    m_freeIndices.append(index);
    return true;
}

} // namespace quern::containers
