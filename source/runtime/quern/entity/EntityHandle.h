#pragma once
// A reference to one entity of a World: the slot index in the low 16 bits and
// the slot's generation at creation in the high 16 bits. A handle outlives its
// entity safely: once the slot is freed its generation moves on and the old
// handle stops being valid.

#include "quern/Types.h"

namespace quern::entity {

struct EntityHandle {
    static constexpr u16 kNoIndex = 0xffff;

    u32 value = 0; // 0: the null handle (generation 0 is never valid)

    static constexpr EntityHandle make(u16 index, u16 generation)
    {
        return { static_cast<u32>(generation) << 16 | index };
    }

    constexpr u16 index() const { return static_cast<u16>(value & 0xffff); }
    constexpr u16 generation() const { return static_cast<u16>(value >> 16); }
    constexpr bool isNull() const { return value == 0; }

    friend constexpr bool operator==(EntityHandle a, EntityHandle b) { return a.value == b.value; }
};

static_assert(sizeof(EntityHandle) == 4);

// What a slot holds. Systems hear about an entity from Inactive on.
enum class EntityState : u8 {
    Free = 0, // no entity
    Created = 1, // exists, systems not told yet
    Inactive = 2, // systems know it; not processed
    Active = 3, // systems process it
};

} // namespace quern::entity
