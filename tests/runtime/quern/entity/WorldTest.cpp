#include "quern/entity/World.h"

#include "WorldTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace quern;
using namespace quern::entity;
using quern::entity::testing::Journal;
using quern::entity::testing::LogCapture;
using quern::entity::testing::RecordingSystem;

constexpr u16 kSizes[] = { 3, 8, 1 };

// A world with three component types, room for `capacity` entities and two
// journaling systems A and B.
struct Fixture {
    explicit Fixture(u64 capacity = 8)
    {
        world.addSystem(a = new RecordingSystem("A", journal));
        world.addSystem(b = new RecordingSystem("B", journal));
        world.allocateComponentStore(kSizes, 3, capacity, nullptr);
    }

    EntityHandle createWith(std::initializer_list<u32> types)
    {
        const EntityHandle h = world.createEntity();
        for (u32 t : types)
            world.getComponentMask(h.index()).set(t);
        return h;
    }

    Journal journal;
    World world;
    RecordingSystem* a = nullptr;
    RecordingSystem* b = nullptr;
};

TEST(World, ComponentArraysStartOnFourByteBoundaries)
{
    World world;
    world.allocateComponentStore(kSizes, 3, 5, nullptr);
    EXPECT_EQ(world.componentOffsets[0], 0u);
    EXPECT_EQ(world.componentOffsets[1], 16u); // 15 bytes rounded up
    EXPECT_EQ(world.componentOffsets[2], 56u);
    EXPECT_EQ(world.storeSize, 64u); // 61 bytes rounded up
    EXPECT_EQ(world.getCapacity(), 5u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(world.store) % 4, 0u);
    EXPECT_EQ(static_cast<u8*>(world.getComponent(2, 1)), world.store + 16 + 16);
    EXPECT_EQ(world.componentTypeCount, 3u);
}

TEST(World, LargeStoreLogsItsSizeInKilobytes)
{
    LogCapture info(3);
    const u16 sizes[] = { 1024 };
    World world;
    world.allocateComponentStore(sizes, 1, 1025, nullptr);
    EXPECT_NE(info.text().find("Allocating 1025k for component store"), std::string::npos) << info.text();

    LogCapture quiet(3);
    World small;
    small.allocateComponentStore(sizes, 1, 1024, nullptr); // exactly 1 MiB: not logged
    EXPECT_EQ(quiet.text().find("for component store"), std::string::npos);
}

TEST(WorldDeathTest, TooManyComponentTypesIsFatal)
{
    static u16 sizes[129] = {};
    EXPECT_DEATH(
        {
            World world;
            world.allocateComponentStore(sizes, 129, 4, nullptr);
        },
        "Too many component types");
}

TEST(World, DestroyedSlotIsReusedWithNextGeneration)
{
    Fixture f;
    const EntityHandle e0 = f.world.createEntity();
    const EntityHandle e1 = f.world.createEntity();
    const EntityHandle e2 = f.world.createEntity();
    EXPECT_EQ(e0, EntityHandle::make(0, 1));
    EXPECT_EQ(e2, EntityHandle::make(2, 1));
    EXPECT_EQ(f.world.liveEntityCount, 3u);

    f.world.destroyEntities(&e1, 1);
    EXPECT_FALSE(f.world.isValid(e1));
    EXPECT_EQ(f.world.liveEntityCount, 2u);
    const EntityHandle reused = f.world.createEntity();
    EXPECT_EQ(reused, EntityHandle::make(1, 2));
    EXPECT_TRUE(f.world.isValid(reused));
    EXPECT_FALSE(f.world.isValid(e1));
    EXPECT_EQ(f.world.getSlotCount(), 3u);
}

TEST(World, ValidityChecksEveryPartOfTheHandle)
{
    Fixture f;
    const EntityHandle e = f.world.createEntity();
    f.world.activateEntities(&e, 1);
    struct Case {
        EntityHandle handle;
        bool valid;
    };
    const Case cases[] = {
        { e, true },
        { EntityHandle {}, false },
        { EntityHandle::make(0, 0), false },
        { EntityHandle::make(0, 2), false },
        { EntityHandle::make(1, 1), false }, // beyond the slot count
        { EntityHandle::make(EntityHandle::kNoIndex, 1), false },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(f.world.isValid(c.handle), c.valid) << std::hex << c.handle.value;
        EXPECT_EQ(f.world.isActive(c.handle), c.valid) << std::hex << c.handle.value;
    }
}

TEST(WorldDeathTest, CreatingBeyondCapacityIsFatal)
{
    EXPECT_DEATH(
        {
            Fixture f(2);
            for (int i = 0; i < 3; ++i)
                f.world.createEntity();
        },
        "Component store exhausted, can't create Entity");
    EXPECT_DEATH(
        {
            World world;
            world.createEntity();
        },
        "Component store exhausted, can't create Entity");
}

TEST(World, ActivationTellsEachSystemCreatedThenActivatedBeforeTheNext)
{
    Fixture f;
    const EntityHandle fresh = f.createWith({ 0, 2 });
    const EntityHandle known = f.createWith({ 1 });
    f.world.activateEntities(&known, 1);
    f.world.deactivateEntity(known);
    f.journal.clear();

    const EntityHandle both[] = { known, fresh };
    f.world.activateEntities(both, 2);
    EXPECT_EQ(
        f.journal, (Journal { "A:created[0:1]", "A:activated[1:1,0:1]", "B:created[0:1]", "B:activated[1:1,0:1]" }));
    EXPECT_TRUE(f.world.isActive(fresh));
    EXPECT_EQ(f.world.getEnabledMask(fresh.index()), f.world.getComponentMask(fresh.index()));

    // Activating an active entity announces it again, with an empty created list.
    f.journal.clear();
    f.world.activateEntities(&fresh, 1);
    EXPECT_EQ(f.journal, (Journal { "A:created[]", "A:activated[0:1]", "B:created[]", "B:activated[0:1]" }));
}

TEST(World, DeactivationClearsTheEnabledMask)
{
    Fixture f;
    const EntityHandle e = f.createWith({ 1 });
    f.world.activateEntities(&e, 1);
    f.journal.clear();
    f.world.deactivateEntity(e);
    EXPECT_EQ(f.journal, (Journal { "A:deactivated[0:1]", "B:deactivated[0:1]" }));
    EXPECT_EQ(f.world.getState(0), EntityState::Inactive);
    EXPECT_TRUE(f.world.getEnabledMask(0).isEmpty());
    EXPECT_TRUE(f.world.getComponentMask(0).test(1));
}

TEST(World, DestroyingAnActiveEntityDeactivatesItFirst)
{
    Fixture f;
    const EntityHandle e = f.createWith({ 0 });
    f.world.activateEntities(&e, 1);
    f.journal.clear();
    f.world.destroyEntities(&e, 1);
    EXPECT_EQ(
        f.journal, (Journal { "A:deactivated[0:1]", "B:deactivated[0:1]", "A:destroyed[0:1]", "B:destroyed[0:1]" }));
    EXPECT_EQ(f.world.getState(0), EntityState::Free);
    EXPECT_EQ(f.world.getGeneration(0), 2);
    EXPECT_TRUE(f.world.getComponentMask(0).isEmpty());
}

TEST(World, StaleHandlesReachNoNewerEntity)
{
    Fixture f;
    const EntityHandle old = f.createWith({ 0 });
    f.world.destroyEntities(&old, 1);
    const EntityHandle current = f.createWith({ 0 });
    f.world.activateEntities(&current, 1);
    f.journal.clear();

    LogCapture warnings(2);
    f.world.destroyEntities(&old, 1);
    f.world.deactivateEntity(old);
    f.world.activateEntities(&old, 1);
    EXPECT_TRUE(f.world.isActive(current));
    EXPECT_EQ(f.world.liveEntityCount, 1u);
    // The activation still runs its (empty) notifications; nothing else reached the systems.
    EXPECT_EQ(f.journal, (Journal { "A:created[]", "A:activated[]", "B:created[]", "B:activated[]" }));
    EXPECT_EQ(warnings.count("invalid entity handle"), 3u);

    // The same handle twice outside a tick is destroyed once.
    const EntityHandle twice[] = { current, current };
    f.world.destroyEntities(twice, 2);
    EXPECT_EQ(f.world.liveEntityCount, 0u);
    EXPECT_EQ(f.world.getGeneration(0), 3);
}

TEST(World, GenerationSkipsZeroWhenItWraps)
{
    Fixture f;
    EntityHandle e = f.world.createEntity();
    f.world.generations.at<u16>(0) = 0xffff;
    e = EntityHandle::make(0, 0xffff);
    f.world.destroyEntities(&e, 1);
    const EntityHandle next = f.world.createEntity();
    EXPECT_EQ(next.generation(), 1);
    EXPECT_TRUE(f.world.isValid(next));
}

TEST(World, StartAnnouncesLoadedEntitiesAndActivatesThoseWithEnabledComponents)
{
    Fixture f;
    const EntityHandle quiet = f.createWith({ 0 });
    const EntityHandle loud = f.createWith({ 0, 1 });
    f.world.getEnabledMask(loud.index()).set(1); // as a level file stores it
    f.world.start();
    EXPECT_TRUE(f.world.started);
    EXPECT_EQ(f.journal,
        (Journal { "A:started", "A:created[0:1,1:1]", "A:activated[1:1]", "B:started", "B:created[0:1,1:1]",
            "B:activated[1:1]" }));
    EXPECT_EQ(f.world.getState(quiet.index()), EntityState::Inactive);
    EXPECT_TRUE(f.world.isActive(loud));
    ComponentMask onlyOne;
    onlyOne.set(1);
    EXPECT_EQ(f.world.getEnabledMask(loud.index()), onlyOne); // kept, not widened to the component mask
}

TEST(World, StartWithNothingEnabledStillAnnouncesAnEmptyActivation)
{
    Fixture f;
    f.createWith({ 2 });
    f.world.start();
    EXPECT_EQ(f.journal,
        (Journal { "A:started", "A:created[0:1]", "A:activated[]", "B:started", "B:created[0:1]", "B:activated[]" }));
}

TEST(World, StopDestroysEveryLiveEntityForTheSystemsThenStopsThem)
{
    Fixture f;
    const EntityHandle inactive = f.createWith({ 0 });
    const EntityHandle active = f.createWith({ 1 });
    f.world.start();
    f.world.activateEntities(&active, 1);
    f.journal.clear();
    f.world.stop();
    EXPECT_EQ(f.journal,
        (Journal { "A:deactivated[1:1]", "A:destroyed[0:1,1:1]", "B:deactivated[1:1]", "B:destroyed[0:1,1:1]",
            "A:stopped", "B:stopped" }));
    EXPECT_FALSE(f.world.started);
    EXPECT_FALSE(f.world.isValid(inactive));
    EXPECT_EQ(f.world.getState(active.index()), EntityState::Free);
    EXPECT_EQ(f.world.liveEntityCount, 0u);
}

// A handle kept across a stop must not reach the entity made next in its slot.
TEST(World, HandlesKeptAcrossAStopAreStaleForTheEntitiesMadeAfterIt)
{
    Fixture f;
    const EntityHandle kept[] = { f.createWith({ 0 }), f.createWith({ 1 }) };
    f.world.start();
    f.world.activateEntities(&kept[1], 1);
    f.world.stop();
    EXPECT_EQ(f.world.liveEntityCount, 0u);

    const EntityHandle fresh[] = { f.world.createEntity(), f.world.createEntity() };
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(fresh[i].index(), kept[i].index()) << i; // the slots are reused
        EXPECT_NE(fresh[i].generation(), kept[i].generation()) << i;
        EXPECT_TRUE(f.world.isValid(fresh[i])) << i;
        EXPECT_FALSE(f.world.isValid(kept[i])) << i;
        EXPECT_FALSE(f.world.isActive(kept[i])) << i;
    }
    EXPECT_EQ(f.world.liveEntityCount, 2u);
}

TEST(World, ClearDetachesAttachedSystemsAndFreesTheStoreButKeepsThem)
{
    Fixture f;
    f.world.attachSystems(f.world.allocator);
    f.createWith({ 0 });
    f.world.start();
    f.journal.clear();
    f.world.clear();
    EXPECT_EQ(f.journal,
        (Journal { "A:deactivated[]", "A:destroyed[0:1]", "B:deactivated[]", "B:destroyed[0:1]", "A:stopped",
            "B:stopped", "A:detach", "B:detach" }));
    EXPECT_FALSE(f.world.hasComponentStore());
    EXPECT_EQ(f.world.allocator, nullptr);
    EXPECT_EQ(f.world.getSlotCount(), 0u);
    EXPECT_EQ(f.world.getSystemCount(), 2u);

    // The next level attaches them again.
    f.journal.clear();
    f.world.attachSystems(nullptr);
    f.world.allocateComponentStore(kSizes, 3, 4, nullptr);
    EXPECT_EQ(f.journal, (Journal { "A:attach", "B:attach" }));
    EXPECT_EQ(f.world.createEntity(), EntityHandle::make(0, 1));
}

TEST(World, DestructorClearsThenDeletesSystemsInRegistrationOrder)
{
    Journal journal;
    {
        World world;
        world.addSystem(new RecordingSystem("A", journal));
        world.addSystem(new RecordingSystem("B", journal));
        world.allocateComponentStore(kSizes, 3, 2, nullptr);
        world.createEntity();
        world.start();
        journal.clear();
    }
    EXPECT_EQ(journal,
        (Journal { "A:deactivated[]", "A:destroyed[0:1]", "B:deactivated[]", "B:destroyed[0:1]", "A:stopped",
            "B:stopped", "A:deleted", "B:deleted" }));
}

TEST(World, CloneCopiesComponentsAndNameIntoNewCreatedEntities)
{
    Fixture f;
    const EntityHandle source = f.createWith({ 0, 2 });
    std::memcpy(f.world.getComponent(source.index(), 0), "abc", 3);
    *static_cast<u8*>(f.world.getComponent(source.index(), 2)) = 0x5a;
    std::memset(f.world.getComponent(1, 1), 0xee, 8); // stale bytes where the clone lands
    f.world.setEntityName(source, "crate");
    f.world.activateEntities(&source, 1);

    EntityHandle handles[] = { source, source };
    f.world.cloneEntities(handles, 2);
    EXPECT_EQ(handles[0], EntityHandle::make(1, 1));
    EXPECT_EQ(handles[1], EntityHandle::make(2, 1));
    for (const EntityHandle clone : handles) {
        EXPECT_EQ(f.world.getState(clone.index()), EntityState::Created);
        EXPECT_EQ(f.world.getComponentMask(clone.index()), f.world.getComponentMask(source.index()));
        EXPECT_TRUE(f.world.getEnabledMask(clone.index()).isEmpty());
        EXPECT_EQ(std::memcmp(f.world.getComponent(clone.index(), 0), "abc", 3), 0);
        EXPECT_EQ(*static_cast<u8*>(f.world.getComponent(clone.index(), 2)), 0x5a);
        EXPECT_STREQ(f.world.getEntityName(clone), "crate");
    }
    EXPECT_EQ(f.world.liveEntityCount, 3u);
}

TEST(World, NamesAreInternedAndGrowTheTableWithEmptyNames)
{
    Fixture f;
    EntityHandle e[4];
    for (EntityHandle& h : e)
        h = f.world.createEntity();
    f.world.setEntityName(e[3], "door");
    f.world.setEntityName(e[1], "door");
    EXPECT_EQ(f.world.names.count(), 4u);
    EXPECT_STREQ(f.world.getEntityName(e[0]), "");
    EXPECT_STREQ(f.world.getEntityName(e[2]), "");
    EXPECT_EQ(f.world.getEntityName(e[1]), f.world.getEntityName(e[3])); // one interned copy

    // A new entity in a reused slot does not inherit the old name.
    f.world.destroyEntities(&e[3], 1);
    const EntityHandle reused = f.world.createEntity();
    EXPECT_EQ(reused.index(), 3);
    EXPECT_STREQ(f.world.getEntityName(reused), "");
}

TEST(World, GetComponentsListsPresentTypesInOrderAndEnabledBitsToggle)
{
    Fixture f;
    const EntityHandle e = f.createWith({ 2, 0 });
    containers::Array parts(sizeof(ComponentPointer), alignof(ComponentPointer));
    f.world.getComponents(e, parts);
    ASSERT_EQ(parts.count(), 2u);
    EXPECT_EQ(parts.at<ComponentPointer>(0).type, 0);
    EXPECT_EQ(parts.at<ComponentPointer>(0).data, f.world.getComponent(e.index(), 0));
    EXPECT_EQ(parts.at<ComponentPointer>(1).type, 2);

    EXPECT_FALSE(f.world.setComponentEnabled(e, 2, true));
    EXPECT_TRUE(f.world.setComponentEnabled(e, 2, true));
    EXPECT_TRUE(f.world.setComponentEnabled(e, 2, false));
    EXPECT_TRUE(f.world.getEnabledMask(e.index()).isEmpty());
}

} // namespace
