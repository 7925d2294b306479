#pragma once
// The texts of overlay items, pooled and counted: adders pass temporary
// strings, the pool keeps one copy of each distinct text for as long as some
// item uses it. Texts are found by MurmurHash64A with the interner seed and
// compared in full, so two texts never share a copy by a hash collision.
// A text whose count falls to zero frees its copy and its slot, which the
// next new text takes: texts that change every frame (counters, timers)
// keep the pool at the size of one frame's texts.
//
// Not synchronised: the overlay batch calls it under its own lock.

#include "quern/Types.h"

#include <vector>

namespace quern::memory {
class Allocator;
}

namespace harmonize {

class OverlayStringPool {
public:
    // Copies come from `allocator` (null: the default allocator).
    explicit OverlayStringPool(quern::memory::Allocator* allocator = nullptr);
    ~OverlayStringPool();
    OverlayStringPool(const OverlayStringPool&) = delete;
    OverlayStringPool& operator=(const OverlayStringPool&) = delete;

    // The pool's copy of `text`, its count raised by one; null gives null.
    const char* acquire(const char* text);
    // Lowers the count of `text` by one, freeing the copy at zero; null or a
    // text the pool does not hold changes nothing.
    void release(const char* text);
    // Frees every copy and the tables.
    void destroy();

    // Slots made so far, in use or free for the next text.
    quern::u64 slotCount() const { return m_slots.size(); }
    // Texts held.
    quern::u64 liveCount() const { return m_slots.size() - m_freeSlots.size(); }
    // How many uses `text` has; 0 when the pool does not hold it.
    quern::u32 useCount(const char* text) const;

private:
    struct Slot {
        char* text = nullptr; // null: free
        quern::u64 key = 0;
        quern::u32 count = 0;
    };

    // The table position holding the slot of `text`, or of the empty
    // position where it would go.
    quern::u64 findPosition(const char* text, quern::u64 length, quern::u64 key) const;
    void grow();
    void removePosition(quern::u64 position);

    quern::memory::Allocator* m_allocator;
    std::vector<Slot> m_slots;
    std::vector<quern::u32> m_freeSlots;
    // Open addressing with linear probing: slot index + 1, 0 for empty; its
    // size a power of two, at most half full.
    std::vector<quern::u32> m_table;
};

} // namespace harmonize
