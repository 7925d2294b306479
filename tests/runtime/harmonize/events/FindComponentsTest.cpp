#include "harmonize/Scenario.h"
#include "harmonize/components/Components.h"
#include "harmonize/events/GameEvents.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

using testing::Scenario;

struct FindComponentsTest : ::testing::Test {
    // Distinct from every store address, so an output written by mistake shows.
    void* untouchedA = reinterpret_cast<void*>(0x1111);
    void* untouchedB = reinterpret_cast<void*>(0x2222);
    void* outA = untouchedA;
    void* outB = untouchedB;

    Scenario scene;
    EntityHandle platform = scene.add("platform", { "Platform", "Race" });
    EntityHandle player = scene.add("player", { "PlayerMovement", "Race" });

    bool find(u8 typeA, u8 typeB, u32 entityA, u32 entityB)
    {
        return findComponents(typeA, typeB, scene.world(), entityA, entityB, &outA, &outB);
    }
    void expectUntouched()
    {
        EXPECT_EQ(outA, untouchedA);
        EXPECT_EQ(outB, untouchedB);
    }
};

TEST_F(FindComponentsTest, GivesTheRecordsOfTheTypesInTheOrderAsked)
{
    ASSERT_TRUE(find(Platform::kType, PlayerMovement::kType, platform.value, player.value));
    EXPECT_EQ(outA, scene.bytes(platform, Platform::kType));
    EXPECT_EQ(outB, scene.bytes(player, PlayerMovement::kType));

    // Both entities have a race: each output is its own entity's record.
    ASSERT_TRUE(find(Race::kType, Race::kType, player.value, platform.value));
    EXPECT_EQ(outA, scene.bytes(player, Race::kType));
    EXPECT_EQ(outB, scene.bytes(platform, Race::kType));
}

TEST_F(FindComponentsTest, TheWrongOrderFindsNothingAndWritesNothing)
{
    EXPECT_FALSE(find(Platform::kType, PlayerMovement::kType, player.value, platform.value));
    expectUntouched();
    // Only one side matching is not enough.
    EXPECT_FALSE(find(Platform::kType, Platform::kType, platform.value, player.value));
    expectUntouched();
}

TEST_F(FindComponentsTest, LooksAtComponentMasksOnly)
{
    // A switched-off component and a handle of another generation still count:
    // an event may tell of an entity destroyed or disabled earlier in the tick.
    scene.world().setComponentEnabled(platform, Platform::kType, false);
    const EntityHandle otherGeneration = EntityHandle::make(player.index(), player.generation() + 7);
    ASSERT_TRUE(find(Platform::kType, PlayerMovement::kType, platform.value, otherGeneration.value));
    EXPECT_EQ(outA, scene.bytes(platform, Platform::kType));
    EXPECT_EQ(outB, scene.bytes(player, PlayerMovement::kType));
}

TEST_F(FindComponentsTest, HandlesAndTypesOutsideTheWorldFindNothing)
{
    const u32 pastTheSlots = EntityHandle::make(40, 1).value; // the store holds 64, two are in use
    const u32 noEntity = EntityHandle::make(EntityHandle::kNoIndex, 1).value;
    const struct {
        u8 typeA, typeB;
        u32 entityA, entityB;
    } cases[] = {
        { Platform::kType, PlayerMovement::kType, pastTheSlots, player.value },
        { Platform::kType, PlayerMovement::kType, platform.value, pastTheSlots },
        { Platform::kType, PlayerMovement::kType, noEntity, player.value },
        { Platform::kType, PlayerMovement::kType, platform.value, noEntity },
        { 200, PlayerMovement::kType, platform.value, player.value },
        { Platform::kType, static_cast<u8>(kComponentTypeCount), platform.value, player.value },
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(find(c.typeA, c.typeB, c.entityA, c.entityB)) << int { c.typeA } << " " << c.entityA;
        expectUntouched();
    }
}

} // namespace
} // namespace harmonize
