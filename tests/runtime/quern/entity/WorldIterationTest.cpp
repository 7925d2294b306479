#include "quern/entity/WorldIteration.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using namespace quern;
using namespace quern::entity;

using Runs = std::vector<std::pair<u64, u64>>;

// Slot s gets state states[s] and enabled mask masks[s]; the world itself is
// never asked, so the test can lay out any pattern a live world may show.
struct Slots {
    std::vector<EntityState> states;
    std::vector<ComponentMask> masks;

    Runs runs(const ComponentMask& required) const
    {
        UpdateContext context {};
        context.states = const_cast<EntityState*>(states.data());
        context.enabledMasks = const_cast<ComponentMask*>(masks.data());
        context.slotCount = states.size();
        Runs found;
        forEachActiveRun(context, required, [&](u64 first, u64 end) { found.emplace_back(first, end); });
        return found;
    }
};

struct Pair {
    u32 low, high;
};

ComponentMask maskOf(std::initializer_list<u32> types)
{
    ComponentMask mask;
    for (u32 t : types)
        mask.set(t);
    return mask;
}

TEST(WorldIteration, RunsCoverExactlyTheActiveSlotsWithEveryRequiredComponent)
{
    const ComponentMask required = maskOf({ 3, 70 }); // one bit in each word
    const ComponentMask full = maskOf({ 1, 3, 70, 127 });
    Slots slots;
    // 40 slots: long matching stretches that cross 8-slot boundaries, broken by
    // each kind of slot that must be skipped.
    for (u64 s = 0; s < 40; ++s) {
        slots.states.push_back(EntityState::Active);
        slots.masks.push_back(full);
    }
    slots.states[0] = EntityState::Free;
    slots.states[9] = EntityState::Inactive;
    slots.states[10] = EntityState::Created;
    slots.masks[17] = maskOf({ 3 }); // the high word's bit is missing
    slots.masks[26] = maskOf({ 70, 127 }); // the low word's bit is missing
    slots.states[39] = EntityState::Inactive;
    EXPECT_EQ(slots.runs(required), (Runs { { 1, 9 }, { 11, 17 }, { 18, 26 }, { 27, 39 } }));
    // Nothing required: every active slot, whatever its masks.
    EXPECT_EQ(slots.runs(ComponentMask {}), (Runs { { 1, 9 }, { 11, 39 } }));
}

TEST(WorldIteration, EdgesOfTheSlotRange)
{
    const ComponentMask required = maskOf({ 0 });
    struct Case {
        const char* name;
        u64 count;
        std::vector<u64> skipped;
        Runs runs;
    };
    const Case cases[] = {
        { "no slots", 0, {}, {} },
        { "one slot", 1, {}, { { 0, 1 } } },
        { "seven slots", 7, {}, { { 0, 7 } } },
        { "eight slots", 8, {}, { { 0, 8 } } },
        { "a run ending on the last slot", 17, { 3 }, { { 0, 3 }, { 4, 17 } } },
        { "a gap in the last eight", 16, { 15 }, { { 0, 15 } } },
        { "nothing matches", 9, { 0, 1, 2, 3, 4, 5, 6, 7, 8 }, {} },
    };
    for (const Case& c : cases) {
        Slots slots;
        slots.states.assign(c.count, EntityState::Active);
        slots.masks.assign(c.count, maskOf({ 0, 5 }));
        for (u64 s : c.skipped)
            slots.masks[s] = maskOf({ 5 });
        EXPECT_EQ(slots.runs(required), c.runs) << c.name;
    }
}

// Long stretches are handed over in pieces; together the pieces are exactly
// the matching slots, in order, each once.
TEST(WorldIteration, RunsOfAWholeWorldCoverEveryMatchingSlotOnce)
{
    Slots slots;
    slots.states.assign(5000, EntityState::Active);
    slots.masks.assign(5000, maskOf({ 2 }));
    slots.states[2047] = EntityState::Inactive;
    slots.states[4100] = EntityState::Free;
    std::vector<u64> seen;
    for (auto [first, end] : slots.runs(maskOf({ 2 }))) {
        ASSERT_LT(first, end);
        for (u64 s = first; s < end; ++s)
            seen.push_back(s);
    }
    std::vector<u64> expected;
    for (u64 s = 0; s < 5000; ++s)
        if (s != 2047 && s != 4100)
            expected.push_back(s);
    EXPECT_EQ(seen, expected);
}

TEST(WorldIteration, ForEachActiveHandsTheBodyEachMatchingSlotsComponents)
{
    const u16 sizes[] = { 4, 4, 4 };
    World world;
    world.allocateComponentStore(sizes, 3, 64, nullptr);
    std::vector<EntityHandle> handles;
    for (u32 e = 0; e < 40; ++e) {
        const EntityHandle h = world.createEntity();
        world.getComponentMask(h.index()).set(0);
        if (e % 5 != 0)
            world.getComponentMask(h.index()).set(1);
        *static_cast<u32*>(world.getComponent(h.index(), 0)) = e;
        *static_cast<u32*>(world.getComponent(h.index(), 1)) = 100 + e;
        *static_cast<u32*>(world.getComponent(h.index(), 2)) = 0;
        handles.push_back(h);
    }
    world.activateEntities(handles.data(), handles.size() - 1); // the last stays Created
    UpdateContext context = world.makeUpdateContext();
    u32* sum = componentArray<u32>(context, 2);
    forEachActive(
        context, maskOf({ 0, 1 }), [](const u32& a, const u32& b, u32& out) { out = a + b; },
        componentArray<u32>(context, 0), componentArray<u32>(context, 1), sum);
    for (u32 e = 0; e < 40; ++e)
        EXPECT_EQ(sum[e], e % 5 != 0 && e != 39 ? 100 + 2 * e : 0u) << "slot " << e;
}

TEST(WorldIteration, ComponentArraysAddressTheStoreBySlot)
{
    const u16 sizes[] = { 4, 12, 8 };
    World world;
    world.allocateComponentStore(sizes, 3, 10, nullptr);
    for (u64 s = 0; s < 3; ++s)
        world.createEntity();
    UpdateContext context = world.makeUpdateContext();
    struct Wide {
        u32 a, b, c;
    };
    Wide* wide = componentArray<Wide>(context, 1);
    Pair* eight = componentArray<Pair>(context, 2);
    for (u64 s = 0; s < 3; ++s) {
        EXPECT_EQ(static_cast<void*>(wide + s), world.getComponent(s, 1));
        EXPECT_EQ(static_cast<void*>(eight + s), world.getComponent(s, 2));
    }
}

TEST(WorldIterationDeathTest, AnArrayOfTheWrongElementSizeOrTypeIsFatal)
{
    const u16 sizes[] = { 4, 12 };
    World world;
    world.allocateComponentStore(sizes, 2, 4, nullptr);
    UpdateContext context = world.makeUpdateContext();
    EXPECT_DEATH(componentArray<Pair>(context, 0), "Component array asked for with the wrong element type");
    EXPECT_DEATH(componentArray<u32>(context, 2), "Component array asked for with the wrong element type");
    u32* first = componentArray<u32>(context, 0);
    EXPECT_DEATH(forEachActive(
                     context, ComponentMask {}, [](u32&, u32&) {}, first, first),
        "Component array passed twice to one walk");
}

} // namespace
