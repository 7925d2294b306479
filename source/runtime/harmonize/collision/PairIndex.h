#pragma once
// Where each contact pair sits in the pair array, by its two entities in
// either order: the per-tick manifold walk finds a pair in constant time
// instead of searching the whole array for every manifold. Open addressing,
// rebuilt every tick.

#include "quern/Types.h"
#include "quern/containers/Array.h"

#include <algorithm>
#include <bit>

namespace harmonize {

class PairIndex {
public:
    static constexpr quern::u64 kNone = ~quern::u64 { 0 };

    PairIndex() = default;
    explicit PairIndex(quern::memory::Allocator* allocator)
        : m_slots(sizeof(Slot), alignof(Slot), allocator)
    {
    }

    // Empties the index, sized for `count` entries.
    void reset(quern::u64 count)
    {
        const quern::u64 capacity = std::bit_ceil(std::max<quern::u64>(16, count * 2));
        m_slots.clear();
        Slot* slots = static_cast<Slot*>(m_slots.expand(capacity));
        std::fill(slots, slots + capacity, Slot { kEmpty, 0 });
        m_mask = capacity - 1;
    }
    // Keeps the first index given for the two entities.
    void insert(quern::u32 a, quern::u32 b, quern::u64 index)
    {
        const quern::u64 key = keyOf(a, b);
        Slot* slots = m_slots.dataAs<Slot>();
        for (quern::u64 i = hash(key);; i = (i + 1) & m_mask) {
            if (slots[i].key == key)
                return;
            if (slots[i].key == kEmpty) {
                slots[i] = Slot { key, index };
                return;
            }
        }
    }
    quern::u64 find(quern::u32 a, quern::u32 b) const
    {
        const quern::u64 key = keyOf(a, b);
        const Slot* slots = m_slots.dataAs<Slot>();
        for (quern::u64 i = hash(key);; i = (i + 1) & m_mask) {
            if (slots[i].key == key)
                return slots[i].index;
            if (slots[i].key == kEmpty)
                return kNone;
        }
    }
    void release() { m_slots.release(); }

private:
    struct Slot {
        quern::u64 key;
        quern::u64 index;
    };
    // Two particle handles (-1) never reach the index, so their key is free.
    static constexpr quern::u64 kEmpty = ~quern::u64 { 0 };

    static quern::u64 keyOf(quern::u32 a, quern::u32 b)
    {
        return quern::u64 { std::min(a, b) } << 32 | std::max(a, b);
    }
    quern::u64 hash(quern::u64 key) const { return (key * 0x9e3779b97f4a7c15ull >> 29) & m_mask; }

    quern::containers::Array m_slots;
    quern::u64 m_mask = 0;
};

} // namespace harmonize
