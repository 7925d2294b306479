#include "harmonize/hud/OverlayStringPool.h"

#include "quern/platform/ErrorReporting.h"
#include "quern/memory/Allocator.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/Hashes.h"

#include <cstring>

namespace harmonize {

using quern::u32;
using quern::u64;

namespace {

constexpr u64 kFirstTableSize = 64;

u64 keyOf(const char* text, u64 length) { return quern::strings::murmurHash64A(text, length, quern::strings::kInternerSeed); }

} // namespace

OverlayStringPool::OverlayStringPool(quern::memory::Allocator* allocator)
    : m_allocator(allocator ? allocator : quern::memory::getDefaultAllocator())
{
}

OverlayStringPool::~OverlayStringPool() { destroy(); }

u64 OverlayStringPool::findPosition(const char* text, u64 length, u64 key) const
{
    const u64 mask = m_table.size() - 1;
    for (u64 position = key & mask;; position = (position + 1) & mask) {
        const u32 entry = m_table[position];
        if (entry == 0)
            return position;
        const Slot& slot = m_slots[entry - 1];
        if (slot.key == key && std::strncmp(slot.text, text, length + 1) == 0)
            return position;
    }
}

void OverlayStringPool::grow()
{
    std::vector<u32> old = std::move(m_table);
    m_table.assign(old.empty() ? kFirstTableSize : old.size() * 2, 0);
    const u64 mask = m_table.size() - 1;
    for (u32 entry : old) {
        if (entry == 0)
            continue;
        u64 position = m_slots[entry - 1].key & mask;
        while (m_table[position] != 0)
            position = (position + 1) & mask;
        m_table[position] = entry;
    }
}

const char* OverlayStringPool::acquire(const char* text)
{
    if (!text)
        return nullptr;
    if ((liveCount() + 1) * 2 > m_table.size())
        grow();
    const u64 length = std::strlen(text);
    const u64 key = keyOf(text, length);
    const u64 position = findPosition(text, length, key);
    if (m_table[position] != 0) {
        Slot& slot = m_slots[m_table[position] - 1];
        ++slot.count;
        return slot.text;
    }
    char* copy = static_cast<char*>(m_allocator->allocate(length + 1, 1));
    if (!copy)
        QUERN_OUT_OF_MEMORY();
    std::memcpy(copy, text, length + 1);
    u32 index;
    if (!m_freeSlots.empty()) {
        index = m_freeSlots.back();
        m_freeSlots.pop_back();
    } else {
        index = static_cast<u32>(m_slots.size());
        m_slots.emplace_back();
    }
    m_slots[index] = Slot { copy, key, 1 };
    m_table[position] = index + 1;
    return copy;
}

void OverlayStringPool::release(const char* text)
{
    if (!text || m_table.empty())
        return;
    const u64 length = std::strlen(text);
    const u64 position = findPosition(text, length, keyOf(text, length));
    const u32 entry = m_table[position];
    if (entry == 0)
        return;
    Slot& slot = m_slots[entry - 1];
    if (--slot.count != 0)
        return;
    m_allocator->free(slot.text);
    slot = Slot {};
    m_freeSlots.push_back(entry - 1);
    removePosition(position);
}

// Linear probing without tombstones: the entries after the hole that would
// have probed through it move back into it.
void OverlayStringPool::removePosition(u64 position)
{
    const u64 mask = m_table.size() - 1;
    u64 hole = position;
    for (u64 next = (hole + 1) & mask; m_table[next] != 0; next = (next + 1) & mask) {
        const u64 home = m_slots[m_table[next] - 1].key & mask;
        // Moves back unless its home lies cyclically in (hole, next].
        const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (stays)
            continue;
        m_table[hole] = m_table[next];
        hole = next;
    }
    m_table[hole] = 0;
}

u32 OverlayStringPool::useCount(const char* text) const
{
    if (!text || m_table.empty())
        return 0;
    const u64 length = std::strlen(text);
    const u32 entry = m_table[findPosition(text, length, keyOf(text, length))];
    return entry == 0 ? 0 : m_slots[entry - 1].count;
}

void OverlayStringPool::destroy()
{
    for (Slot& slot : m_slots)
        if (slot.text)
            m_allocator->free(slot.text);
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_freeSlots.clear();
    m_freeSlots.shrink_to_fit();
    m_table.clear();
    m_table.shrink_to_fit();
}

} // namespace harmonize
