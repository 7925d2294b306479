#pragma once
// A slot table addressed by 32-bit handles: the slot index in the low 16 bits,
// a generation in the high 16 bits. A slot's generation changes each time it is
// handed out, so a handle kept after its slot was released and reused is
// recognised as stale. Not thread-safe; owners lock around it.

#include "quern/Types.h"
#include "quern/containers/Array.h"

namespace quern::containers {

class HandleTable {
public:
    // Index 0xffff means "no object" to every owner.
    static constexpr u32 kNoIndex = 0xffff;
    static constexpr u32 kInvalidHandle = 0xffffffff;
    // Slots 0 to 0xfffe; the last index value is the "no object" mark.
    static constexpr u64 kMaxSlots = kNoIndex;

    static constexpr u32 indexOf(u32 handle) { return handle & 0xffff; }
    static constexpr u32 generationOf(u32 handle) { return handle >> 16; }
    static constexpr u32 makeHandle(u32 index, u32 generation) { return (generation << 16) | (index & 0xffff); }

    // Entries of `entrySize` bytes; a null allocator is the default allocator.
    HandleTable(u64 entrySize, u64 alignment, memory::Allocator* allocator = nullptr);
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // A slot for a new object: the most recently released one, else a new one.
    // Writes its handle; the entry's contents are the caller's to fill. Fatal
    // when all slots are in use.
    void* allocate(u32& handle);
    template <class T>
    T* allocate(u32& handle)
    {
        return static_cast<T*>(allocate(handle));
    }

    // True when the handle names a live slot of this table: its index is inside
    // the table and its generation is the slot's current (non-zero) one.
    bool isValid(u32 handle) const;
    // The entry of a valid handle; null for a stale or foreign one.
    void* lookup(u32 handle);
    template <class T>
    T* lookup(u32 handle)
    {
        return static_cast<T*>(lookup(handle));
    }
    // Frees the slot of a valid handle. A stale handle changes nothing (false),
    // so a double release never puts one slot on the free list twice.
    bool release(u32 handle);

    u64 slotCount() const { return m_generations.count(); }
    u64 freeCount() const { return m_freeIndices.count(); }
    // The generation of a slot (0 = free).
    u32 generationAt(u64 index) const { return m_generations.at<u32>(index); }
    void* entryAt(u64 index) { return m_entries.at(index); }

    // The next generation from the counter shared by all tables: 1 to 65535,
    // wrapping from 65535 to 1, never 0.
    static u32 nextGeneration();

private:
    // Declared so that destruction frees the free indices, then the
    // generations, then the entries.
    Array m_entries;
    Array m_generations;
    Array m_freeIndices;
};

} // namespace quern::containers
