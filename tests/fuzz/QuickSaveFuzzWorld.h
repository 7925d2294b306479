#pragma once
// The small world that the quick-save fuzz target reads its inputs against.
// Its seeds (seeds/QuickSaveFileFuzz) are quick saves of this world; the
// systems tests write them afresh whenever they no longer match.

#include "quern/entity/World.h"

#include <cstring>
#include <initializer_list>

namespace quern::fuzz {

inline constexpr u16 kQuickSaveSizes[] = { 4, 12, 1, 8 };
inline constexpr u64 kQuickSaveCapacity = 6;
inline constexpr u64 kQuickSaveLevel = 0x51c0ffee5eedull;

// Two active entities, an inactive one and a slot freed again; the world is
// started without systems.
inline void buildQuickSaveWorld(entity::World& world)
{
    world.allocateComponentStore(kQuickSaveSizes, 4, kQuickSaveCapacity, nullptr);
    // Records no entity has are left as the allocator gave them: cleared, so
    // every build of the world saves the same bytes.
    std::memset(world.store, 0, world.storeSize);
    auto make = [&world](std::initializer_list<u32> types, u8 fill) {
        const entity::EntityHandle entity = world.createEntity();
        for (const u32 type : types) {
            world.getComponentMask(entity.index()).set(type);
            world.getEnabledMask(entity.index()).set(type);
            std::memset(world.getComponent(entity.index(), type), fill, kQuickSaveSizes[type]);
        }
        return entity;
    };
    make({ 0, 1 }, 0x11);
    const entity::EntityHandle freed = make({ 2 }, 0x22);
    const entity::EntityHandle inactive = make({ 1, 3 }, 0x33);
    make({ 0, 2, 3 }, 0x44);
    world.start();
    world.deactivateEntity(inactive);
    world.destroyEntities(&freed, 1);
}

} // namespace quern::fuzz
