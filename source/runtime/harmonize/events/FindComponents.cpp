#include "harmonize/events/GameEvents.h"

#include "quern/entity/EntityHandle.h"
#include "quern/entity/World.h"

namespace harmonize {

bool findComponents(
    u8 typeA, u8 typeB, quern::entity::World& world, u32 entityA, u32 entityB, void** componentA, void** componentB)
{
    // Events may name entities destroyed earlier in the tick, whose records
    // still sit in the store; but an index past the world's slots, or a type
    // the world does not have, has no mask to test.
    const quern::u64 slotCount = world.getSlotCount();
    const quern::entity::EntityHandle a { entityA };
    const quern::entity::EntityHandle b { entityB };
    if (a.index() >= slotCount || b.index() >= slotCount || typeA >= world.componentTypeCount
        || typeB >= world.componentTypeCount)
        return false;
    if (!world.getComponentMask(a.index()).test(typeA) || !world.getComponentMask(b.index()).test(typeB))
        return false;
    *componentA = world.getComponent(a.index(), typeA);
    *componentB = world.getComponent(b.index(), typeB);
    return true;
}

} // namespace harmonize
