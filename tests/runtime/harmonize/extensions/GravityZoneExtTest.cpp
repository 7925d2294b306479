#include "ContactWorld.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

using testing::ContactWorld;

// The player falls down at 0.7 while its own weight is 0.5.
struct GravityWorld : ContactWorld {
    GravityWorld()
    {
        PlayerMovement& m = movement();
        m.gravityDirection = { 0.0f, -1.0f };
        m.gravityScale = 0.7f;
        m.baseGravity = 0.5f;
        start();
    }
    EntityHandle addZone(Vec2f direction, f32 scale)
    {
        const EntityHandle zone = scene.add("zone", { "Transform", "Collider", "GravityZone" });
        get<GravityZone>(zone).direction = direction;
        get<GravityZone>(zone).gravityScale = scale;
        return zone;
    }
    void enter(EntityHandle zone) { onGravityZoneEnter(pair(zone, player), world()); }
    void exit(EntityHandle zone) { onGravityZoneExit(pair(player, zone), world()); }
};

TEST(GravityZoneExt, EnteringSwapsInTheZonesGravityAndLeavingRestoresThePlayersOwnWeight)
{
    GravityWorld w;
    const EntityHandle zone = w.addZone({ 1.0f, 0.0f }, 2.0f);
    w.enter(zone);
    const GravityZone& z = w.get<GravityZone>(zone);
    EXPECT_EQ(z.savedDirection.x, 0.0f);
    EXPECT_EQ(z.savedDirection.y, -1.0f);
    EXPECT_EQ(z.savedScale, 0.5f); // the base weight, not the 0.7 the player had
    EXPECT_EQ(w.movement().gravityDirection.x, 1.0f);
    EXPECT_EQ(w.movement().gravityScale, 2.0f);

    // The player's weight changes inside; leaving still restores the weight it
    // had on entering.
    w.movement().baseGravity = 0.9f;
    w.exit(zone);
    EXPECT_EQ(w.movement().gravityDirection.y, -1.0f);
    EXPECT_EQ(w.movement().gravityScale, 0.5f);
}

TEST(GravityZoneExt, AZoneWithThePlayersOwnSettingsSavesNothingAndRestoresOnlyWhatItSavedBefore)
{
    GravityWorld w;
    const EntityHandle same = w.addZone({ 0.0f, -1.0f }, 0.7f);
    w.enter(same);
    EXPECT_EQ(w.get<GravityZone>(same).savedScale, 0.0f);
    EXPECT_EQ(w.get<GravityZone>(same).savedDirection.y, 0.0f);
    w.movement().gravityScale = 3.0f;
    w.exit(same);
    EXPECT_EQ(w.movement().gravityScale, 3.0f);
    EXPECT_EQ(w.movement().gravityDirection.y, -1.0f);

    // A zone that saved on an earlier visit gives that back, even when this
    // visit found nothing to change.
    const EntityHandle earlier = w.addZone({ 0.0f, -1.0f }, 3.0f);
    w.get<GravityZone>(earlier).savedDirection = { -1.0f, 0.0f };
    w.get<GravityZone>(earlier).savedScale = 0.25f;
    w.enter(earlier);
    w.exit(earlier);
    EXPECT_EQ(w.movement().gravityDirection.x, -1.0f);
    EXPECT_EQ(w.movement().gravityScale, 0.25f);
}

TEST(GravityZoneExt, OnlyAPlayerAndACompleteZoneMatch)
{
    GravityWorld w;
    const EntityHandle zone = w.addZone({ 1.0f, 0.0f }, 2.0f);
    const EntityHandle crate = w.scene.add("crate", { "Transform", "Collider" });
    onGravityZoneEnter(ContactWorld::pair(crate, zone), w.world());
    const EntityHandle noCollider = w.scene.add("flat zone", { "Transform", "GravityZone" });
    w.get<GravityZone>(noCollider).gravityScale = 5.0f;
    w.enter(noCollider);
    EXPECT_EQ(w.movement().gravityScale, 0.7f);
    EXPECT_EQ(w.get<GravityZone>(zone).savedScale, 0.0f);

    PlayerView player;
    ZoneView view;
    ASSERT_TRUE(matchPlayerAndGravityZone(ContactWorld::pair(zone, w.player), w.world(), player, view));
    EXPECT_EQ(view.zone, &w.get<GravityZone>(zone));
    EXPECT_EQ(player.movement, &w.movement());
}

} // namespace
} // namespace harmonize
