#pragma once
// The one walk up a transform chain that every chain operation uses.

#include "harmonize/components/Transform.h"

#include "quern/entity/World.h"

namespace harmonize {

// Fatal: the chain from `start` is longer than the world has slots.
[[noreturn]] void failTransformCycle(quern::entity::World& world, const Transform& start);

// Calls visit(record) for `start` and then for each ancestor, child first.
// Stops after a record whose parent equals `ancestor` (32-bit compare) or names
// no entity of the world, or when visit returns false.
template <class Visit>
void walkTransformChain(
    quern::entity::World& world, const Transform& start, quern::entity::EntityHandle ancestor, Visit&& visit)
{
    const quern::u64 limit = world.getSlotCount();
    const Transform* current = &start;
    for (quern::u64 visited = 1;; ++visited) {
        if (visited > limit + 1)
            failTransformCycle(world, start);
        if (!visit(*current) || current->parent == ancestor)
            return;
        const quern::i64 parent = parentIndexOf(*current, world);
        if (parent < 0)
            return;
        current = &transformAt(world, static_cast<quern::u64>(parent));
    }
}

} // namespace harmonize
