// A level file of the game on arbitrary bytes: loaded as the game loads one,
// then, when its model is the game's, started with the transform hierarchy and
// walked by every chain and subtree operation. Parents may name anything; a
// parent cycle may only end in the engine's fatal path.

#include "FuzzSupport.h"

#include "harmonize/components/Components.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "quern/containers/Array.h"
#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/PODUtility.h"

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    using namespace harmonize;
    fuzz::initialize();
    fuzz::runGuarded([&] {
        entity::World world;
        auto* hierarchy = new TransformHierarchySystem;
        world.addSystem(hierarchy);
        StringSource source(data, size);
        entity::loadWorld(source, serialize::selectPODToken(source), world, 8, nullptr, "fuzz");
        if (!matchesComponentSizeTable(world))
            return; // the game refuses such a level before anything runs
        world.start();
        world.fixedTick(1);
        hierarchy->updateWorldMatrices(world);
        const u64 slots = world.getSlotCount();
        for (u64 i = 0; i < slots; ++i) {
            Transform& t = transformAt(world, i);
            (void)Transform::localToWorld(t, { 1, 2, 3 }, world);
            (void)Transform::vectorToLocal(t, { 0, 1, 0 }, world);
            (void)Transform::isDescendantOf(t, transformAt(world, 0), world);
            (void)Transform::findByPath(t, "a/b", world, *hierarchy);
            (void)Transform::matchesPath("x/y/z", 5, EntityHandle::make(static_cast<u16>(i), 1), world);
            containers::Array below(sizeof(EntityHandle), alignof(EntityHandle));
            Transform::collectDescendants(t, below, ComponentMask {}, world);
        }
        if (slots > 0) {
            const EntityHandle clone = Transform::cloneSubtree(transformAt(world, 0), world, EntityHandle {});
            hierarchy->rebuildChildLists(world);
            if (isSomeEntity(clone))
                Transform::destroySubtree(transformAt(world, clone.index()), world);
            hierarchy->setSubtreeActive(EntityHandle::make(0, world.getGeneration(0)), false, world);
        }
    });
    return 0;
}
