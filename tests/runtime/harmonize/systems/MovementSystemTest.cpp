#include "PlayerWorld.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/components/PlaneMath.h"
#include "harmonize/extensions/PlayerClusterExt.h"
#include "harmonize/statemachines/ButtonStateMachine.h"
#include "harmonize/statemachines/MovementStateMachine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace harmonize::testing {
namespace {

using quern::math::Vector3;

RaceChangedEvent raceEvent(const std::vector<u8>& payload)
{
    RaceChangedEvent event;
    std::memcpy(&event, payload.data(), sizeof event);
    return event;
}

class MovementSystemTest : public ::testing::Test {
protected:
    PlayerWorld game;
};

TEST_F(MovementSystemTest, WorldStartPostsOneRaceEventPerPlayerAndResetsItsMachines)
{
    const EntityHandle first = game.player({ 1, 2, 3 }, 0);
    const EntityHandle second = game.player({ 5, 2, 0 }, 2);
    game.scene.get<PlayerMovement>(first).movementState[0] = WALKING;
    game.start();

    const auto events = game.queued();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].first, GameEventType::RaceChanged);
    EXPECT_EQ(raceEvent(events[0].second).race, 0);
    EXPECT_EQ(raceEvent(events[0].second).player, first.value);
    EXPECT_EQ(raceEvent(events[1].second).race, 2);
    EXPECT_EQ(raceEvent(events[1].second).player, second.value);

    const PlayerMovement& m = game.scene.get<PlayerMovement>(first);
    EXPECT_EQ(m.movementState[0], FALLING);
    EXPECT_EQ(m.movementState[1], FALLING);
    EXPECT_EQ(m.jumpMode[0], 2);
    EXPECT_EQ(m.facingState[0], 1);
    EXPECT_EQ(m.gravityDirection.y, -1.0f);
    EXPECT_EQ(m.gravityScale, m.baseGravity);
    EXPECT_EQ(game.scene.get<Transform>(first).position.z, 0.0f);
    EXPECT_EQ(game.scene.get<Collider>(first).trigger, 1);
    // The view kept is the last player found.
    EXPECT_EQ(game.movement().player().entity, second);
}

TEST_F(MovementSystemTest, APausedWorldNeitherMovesThePlayerNorDrainsTheQueue)
{
    const EntityHandle player = game.player({ 0, 10, 0 });
    game.start();
    game.context.paused = 1;
    game.tick(5);
    EXPECT_EQ(game.scene.get<PlayerMovement>(player).velocity.y, 0.0f);
    EXPECT_FALSE(game.movement().eventQueue().isEmpty());
    game.context.paused = 0;
    game.tick();
    EXPECT_LT(game.scene.get<PlayerMovement>(player).velocity.y, 0.0f);
    EXPECT_TRUE(game.movement().eventQueue().isEmpty());
}

TEST_F(MovementSystemTest, FallingAddsGravityEveryTickAndHandsTheVelocityToTheBody)
{
    const EntityHandle player = game.player({ 0, 10, 0 });
    game.start();
    game.tick(3);
    const PlayerMovement& m = game.scene.get<PlayerMovement>(player);
    EXPECT_NEAR(m.velocity.y, -1.5f, 1e-5f);
    EXPECT_EQ(game.scene.get<RigidBody>(player).velocity.y, m.velocity.y);
    EXPECT_EQ(game.scene.get<RigidBody>(player).velocity.z, 0.0f);
}

TEST_F(MovementSystemTest, WithoutPlayerControlTheBodyKeepsItsVelocity)
{
    const EntityHandle player = game.player({ 0, 10, 0 });
    game.start();
    game.movement().playerControl = 0;
    game.tick(3);
    EXPECT_EQ(game.scene.get<RigidBody>(player).velocity.y, 0.0f);
}

struct HarmonizeCase {
    const char* name;
    i32 race;
    u8 enabled;
    i32 raceAfter;
    u32 counted;
};

class HarmonizeTest : public ::testing::TestWithParam<HarmonizeCase> {};

TEST_P(HarmonizeTest, APressTogglesTheOpposedRacesAndCountsWhenAllowed)
{
    const HarmonizeCase& c = GetParam();
    PlayerWorld game;
    PlayerProfile::clear();
    const EntityHandle player = game.player({ 0, 10, 0 }, c.race);
    game.scene.get<PlayerMovement>(player).harmonizeEnabled = c.enabled;
    game.start();
    game.queued();
    game.key(PlayerWorld::kHarmonizeKey, true);
    game.tick();
    EXPECT_EQ(game.scene.get<Race>(player).value, c.raceAfter);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatHarmonizations), c.counted);
}

INSTANTIATE_TEST_SUITE_P(Races, HarmonizeTest,
    ::testing::Values(HarmonizeCase { "zeroToTwo", 0, 1, 2, 1 }, HarmonizeCase { "twoToZero", 2, 1, 0, 1 },
        HarmonizeCase { "neutralStaysButCounts", 1, 1, 1, 1 }, HarmonizeCase { "disabledDoesNothing", 0, 0, 0, 0 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MovementSystemTest, LandingOnAClusterSnapsThePlayerOntoItsSurfaceAndSettles)
{
    const EntityHandle player = game.player({ 1.2f, 0.3f, 0 });
    const EntityHandle cluster = game.floor("floor", { 0, 0, 0 }, 4);
    game.start();
    onPlayerContact(game.world(), game.context, PairEvent { cluster.value, player.value }, kContactBegins);

    const PlayerMovement& m = game.scene.get<PlayerMovement>(player);
    EXPECT_EQ(m.cluster, cluster);
    EXPECT_EQ(m.clusterBoxCount, 4);
    EXPECT_EQ(m.movementState[0], WAITING);
    EXPECT_NEAR(m.clusterUp.x, 0.0f, 1e-5f);
    EXPECT_NEAR(m.clusterUp.y, 1.0f, 1e-5f);
    EXPECT_NEAR(m.snapPosition.y, 0.0f, 1e-5f);
}

TEST_F(MovementSystemTest, AHiddenPlatformIsNeitherJoinedNorLandedOn)
{
    const EntityHandle player = game.player({ 1.2f, 0.3f, 0 });
    const EntityHandle cluster = game.floor("floor", { 0, 0, 0 }, 3);
    game.scene.set(cluster, "Race", "value", { 1 });
    game.scene.set(cluster, "Platform", "hideDelay", { 0 });
    game.scene.get<Collider>(cluster).trigger = 1;
    game.start();
    onPlayerContact(game.world(), game.context, PairEvent { player.value, cluster.value }, kContactBegins);
    const PlayerMovement& m = game.scene.get<PlayerMovement>(player);
    EXPECT_FALSE(isSomeEntity(m.cluster));
    EXPECT_EQ(m.movementState[0], FALLING);
}

TEST_F(MovementSystemTest, ThePlayerPassesThroughPlatformsOfTheOppositeRace)
{
    const EntityHandle player = game.player({ 1.2f, 0.3f, 0 }, 0);
    const EntityHandle cluster = game.floor("floor", { 0, 0, 0 }, 3);
    game.scene.set(cluster, "Race", "value", { 2 });
    game.scene.set(cluster, "Platform", "hideDelay", { 0 });
    game.start();
    onPlayerContact(game.world(), game.context, PairEvent { player.value, cluster.value }, kContactBegins);
    EXPECT_FALSE(isSomeEntity(game.scene.get<PlayerMovement>(player).cluster));
}

TEST_F(MovementSystemTest, WalkingAlongTheFloorMovesRightAndReportsTheStates)
{
    const EntityHandle player = game.player({ 1.2f, 0.0f, 0 });
    const EntityHandle cluster = game.floor("floor", { 0, 0, 0 }, 6);
    game.start();
    onPlayerContact(game.world(), game.context, PairEvent { cluster.value, player.value }, kContactBegins);
    game.key(PlayerWorld::kRightKey, true);
    game.tick(10);
    const PlayerMovement& m = game.scene.get<PlayerMovement>(player);
    EXPECT_EQ(m.movementState[0], WALKING);
    // At the walking speed limit; the body got the speed of the tick before.
    EXPECT_NEAR(m.velocity.x, m.maxWalkSpeed, 1e-4f);
    EXPECT_NEAR(game.scene.get<RigidBody>(player).velocity.x, m.maxWalkSpeed, 1e-4f);
    EXPECT_EQ(m.facingState[0], 33);
    game.key(PlayerWorld::kRightKey, false);
    game.tick(2);
    EXPECT_EQ(m.movementState[0], WAITING);
    EXPECT_EQ(m.velocity.x, 0.0f);
}

TEST_F(MovementSystemTest, AJumpFromTheFloorLeavesTheClusterUpwards)
{
    const EntityHandle player = game.player({ 1.2f, 0.0f, 0 });
    const EntityHandle cluster = game.floor("floor", { 0, 0, 0 }, 4);
    game.start();
    onPlayerContact(game.world(), game.context, PairEvent { cluster.value, player.value }, kContactBegins);
    game.tick();
    game.key(PlayerWorld::kJumpKey, true);
    game.tick();
    const PlayerMovement& m = game.scene.get<PlayerMovement>(player);
    EXPECT_EQ(m.movementState[0], JUMPING);
    EXPECT_FALSE(isSomeEntity(m.cluster));
    EXPECT_GT(m.velocity.y, 0.0f);
    EXPECT_GT(game.scene.get<Transform>(player).position.y, 0.5f); // lifted off the surface
}

TEST_F(MovementSystemTest, AClusterThatStopsBeingActiveDropsThePlayer)
{
    const EntityHandle player = game.player({ 1.2f, 0.0f, 0 });
    const EntityHandle cluster = game.floor("floor", { 0, 0, 0 }, 3);
    game.start();
    onPlayerContact(game.world(), game.context, PairEvent { cluster.value, player.value }, kContactBegins);
    game.world().deactivateEntity(cluster);
    game.tick();
    EXPECT_EQ(game.scene.get<PlayerMovement>(player).movementState[0], FALLING);
}

TEST_F(MovementSystemTest, AMovingCarrierGivesThePlayerItsVelocity)
{
    const EntityHandle player = game.player({ 1.2f, 0.0f, 0 });
    const EntityHandle cluster = game.floor("carrier", { 0, 0, 0 }, 4);
    game.start();
    onPlayerContact(game.world(), game.context, PairEvent { cluster.value, player.value }, kContactBegins);
    game.tick(2);
    const PlayerMovement& m = game.scene.get<PlayerMovement>(player);
    EXPECT_EQ(m.carrierVelocity.x, 0.0f);
    EXPECT_EQ(m.recordedCarrier, cluster);

    game.scene.get<Transform>(cluster).position.x += 0.03f;
    game.tick();
    EXPECT_NEAR(m.carrierVelocity.x, 3.0f, 1e-3f);
    EXPECT_NEAR(m.carrierVelocity.y, 0.0f, 1e-4f);
    EXPECT_EQ(m.carryRemaining, m.carryTime);
    EXPECT_NEAR(game.scene.get<Transform>(player).position.x, 1.23f, 0.11f);
}

struct UpCase {
    const char* name;
    Vec2f up;
};

class BodyTurnTest : public ::testing::TestWithParam<UpCase> {};

TEST_P(BodyTurnTest, TheBodysYAxisEndsOnTheUpDirectionUnderATurnedParent)
{
    const Vec2f up = GetParam().up;
    PlayerWorld game;
    const EntityHandle parent = game.scene.add("parent", { "Transform" });
    game.scene.get<Transform>(parent).rotation = quern::math::Quaternion::fromAxisAngle(0.7f, { 0, 0, 1 });
    const EntityHandle player = game.player({ 0, 0, 0 });
    game.scene.setParent(player, parent);
    game.start();
    turnBodyUpTo(game.world(), game.view(player), up);
    const Vector3 axis = worldUpAxisOf(game.world(), game.scene.get<Transform>(player));
    EXPECT_NEAR(axis.x, up.x, 1e-5f);
    EXPECT_NEAR(axis.y, up.y, 1e-5f);
    EXPECT_NEAR(axis.z, 0.0f, 1e-5f);
}

INSTANTIATE_TEST_SUITE_P(Gravity, BodyTurnTest,
    ::testing::Values(UpCase { "down", { 0, 1 } }, UpCase { "left", { 1, 0 } }, UpCase { "up", { 0, -1 } },
        UpCase { "right", { -1, 0 } }, UpCase { "slope", { -0.6f, 0.8f } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MovementSystemTest, TheScriptedTargetDropsThePlayerAtRest)
{
    const EntityHandle player = game.player({ 1.2f, 0.0f, 0 });
    const EntityHandle cluster = game.floor("floor", { 0, 0, 0 }, 3);
    game.start();
    onPlayerContact(game.world(), game.context, PairEvent { cluster.value, player.value }, kContactBegins);
    game.movement().setScriptedTarget({ 7, 8, 0 });
    const PlayerMovement& m = game.scene.get<PlayerMovement>(player);
    EXPECT_EQ(game.scene.get<Transform>(player).position.x, 7.0f);
    EXPECT_FALSE(isSomeEntity(m.cluster));
    EXPECT_EQ(m.movementState[0], FALLING);
    EXPECT_EQ(m.gravityScale, m.baseGravity);
}

TEST_F(MovementSystemTest, AFullQueueGrowsInsteadOfLosingAnEvent)
{
    for (int i = 0; i < 60; ++i)
        game.player({ static_cast<f32>(i), 10, 0 });
    game.start();
    EXPECT_EQ(game.queued().size(), 60u);
}

} // namespace
} // namespace harmonize::testing
