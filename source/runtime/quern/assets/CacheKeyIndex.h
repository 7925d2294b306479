#pragma once
// The resource cache's lookup by key: an open-addressing table of entry
// pointers beside the ordered entry map, which still gives key order for
// enumeration and purging. Loading workers and the main thread look keys up
// under the cache's one lock; a probe of one or two adjacent slots keeps that
// lock held for far less time than a walk down the ordered map.

#include "quern/Types.h"
#include "quern/assets/ResourceCache.h"

#include <vector>

namespace quern::assets {

class CacheKeyIndex {
public:
    CacheEntry* find(u64 key) const
    {
        if (m_slots.empty())
            return nullptr;
        for (u64 i = home(key);; i = (i + 1) & mask()) {
            CacheEntry* entry = m_slots[i];
            if (!entry || entry->key == key)
                return entry;
        }
    }

    // The entry must stay where it is until erased (ordered-map nodes do).
    void add(CacheEntry* entry)
    {
        if ((m_count + 1) * 2 > m_slots.size())
            grow();
        u64 i = home(entry->key);
        while (m_slots[i])
            i = (i + 1) & mask();
        m_slots[i] = entry;
        ++m_count;
    }

    void erase(u64 key)
    {
        if (m_slots.empty())
            return;
        u64 i = home(key);
        while (m_slots[i] && m_slots[i]->key != key)
            i = (i + 1) & mask();
        if (!m_slots[i])
            return;
        // Backward-shift deletion: later entries of the probe run move up so
        // that no lookup stops early at the hole.
        for (u64 next = (i + 1) & mask(); m_slots[next]; next = (next + 1) & mask()) {
            const u64 want = home(m_slots[next]->key);
            // Move it when its home does not lie cyclically in (i, next].
            if (((next - want) & mask()) >= ((next - i) & mask())) {
                m_slots[i] = m_slots[next];
                i = next;
            }
        }
        m_slots[i] = nullptr;
        --m_count;
    }

    void clear()
    {
        m_slots.clear();
        m_count = 0;
    }

private:
    u64 mask() const { return m_slots.size() - 1; }
    // Keys of assets are hashes already, but nothing stops a caller from using
    // small counters: mix them so neighbours spread over the table.
    u64 home(u64 key) const { return ((key * 0x9E3779B97F4A7C15ull) >> 32) & mask(); }

    void grow()
    {
        std::vector<CacheEntry*> old(m_slots.empty() ? 64 : m_slots.size() * 2, nullptr);
        old.swap(m_slots);
        m_count = 0;
        for (CacheEntry* entry : old)
            if (entry)
                add(entry);
    }

    std::vector<CacheEntry*> m_slots;
    u64 m_count = 0;
};

} // namespace quern::assets
