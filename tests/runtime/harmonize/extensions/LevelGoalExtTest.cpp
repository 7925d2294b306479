#include "ContactWorld.h"

#include "harmonize/systems/LevelStatisticsSystem.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

using testing::clipAsset;
using testing::ContactWorld;

// A goal of race `goalRace` whose bounce and reach effects are prefabs of one
// entity each, a player of race `playerRace` falling down at it, and the
// level statistics with their board.
struct GoalWorld : ContactWorld {
    GoalWorld(i32 goalRace, i32 playerRace)
        : ContactWorld(playerRace)
    {
        statistics = new LevelStatisticsSystem(context);
        context.levelStatistics = statistics;
        scene.addSystem(statistics);
        scene.add("board", { "Transform", "LevelStatisticsDisplay" });
        goal = scene.add("goal", { "Transform", "Collider", "Race", "LevelGoal" });
        get<Race>(goal).value = goalRace;
        LevelGoal& g = get<LevelGoal>(goal);
        g.bounceEffect = scene.add("bounce", { "Transform" }, {}, true);
        g.reachEffect = scene.add("reach", { "Transform" }, {}, true);
        g.bounceEffectRace2 = scene.add("bounce 2", { "Transform" }, {}, true);
        g.reachEffectRace2 = scene.add("reach 2", { "Transform" }, {}, true);
        scene.set(player, "CapsuleShape", "radius", { 0.5 });
        scene.set(player, "Renderer", "castsShadows", { 1 });
        get<RigidBody>(player).velocity = { 1.0f, 2.0f, 3.0f };
        movement().velocity = { 4.0f, 5.0f };
        movement().pushCountdown = 3;
        startPlayer();
    }
    void enter() { onLevelGoalEnter(pair(goal, player), world(), context); }
    void stay() { onLevelGoalStay(pair(player, goal), world(), context); }
    LevelGoal& record() { return get<LevelGoal>(goal); }

    LevelStatisticsSystem* statistics;
    EntityHandle goal;
};

TEST(LevelGoalExt, APlayerOfTheOpposingRaceBouncesBackAgainstItsGravity)
{
    for (const Vec2f gravity : { Vec2f { 0.0f, -1.0f }, Vec2f { 1.0f, 0.0f } }) {
        GoalWorld w(2, 0);
        w.movement().gravityDirection = gravity;
        const u64 before = w.liveEntityCount();
        w.enter();
        const PlayerMovement& m = w.movement();
        EXPECT_EQ(m.pushVelocity.x, gravity.x * -190.0f);
        EXPECT_EQ(m.pushVelocity.y, gravity.y * -190.0f);
        EXPECT_EQ(m.pushDecay, 1.01f);
        EXPECT_EQ(m.pushCountdown, 0);
        EXPECT_EQ(m.velocity.x, 0.0f);
        EXPECT_EQ(w.liveEntityCount(), before + 1);
        EXPECT_EQ(w.record().reached, 0);
        EXPECT_EQ(w.get<Race>(w.player).value, 0);
        EXPECT_FALSE(w.statistics->captured());
    }
    // Staying inside does not bounce again.
    GoalWorld w(2, 0);
    w.stay();
    EXPECT_EQ(w.movement().pushVelocity.y, 0.0f);
}

TEST(LevelGoalExt, AnyOtherPlayerReachesTheGoalOnce)
{
    const struct {
        i32 goalRace, playerRace;
        bool stay; // reached while staying inside rather than on entering
    } cases[] = { { 2, 1, false }, { 2, 2, false }, { 0, 0, false }, { 0, 1, true }, { 1, 0, false } };
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.goalRace) + " " + std::to_string(c.playerRace);
        GoalWorld w(c.goalRace, c.playerRace);
        // Only the effect for the goal's race exists.
        LevelGoal& g = w.record();
        (c.goalRace == 2 ? g.reachEffect : g.reachEffectRace2) = EntityHandle {};
        const u64 before = w.liveEntityCount();
        c.stay ? w.stay() : w.enter();

        EXPECT_EQ(w.liveEntityCount(), before + 1) << what;
        EXPECT_EQ(g.reached, 1) << what;
        EXPECT_EQ(g.reachedAgain, 1) << what;
        EXPECT_EQ(w.get<Race>(w.player).value, 1) << what;
        const RigidBody& body = w.get<RigidBody>(w.player);
        EXPECT_TRUE(body.velocity.x == 0.0f && body.velocity.y == 0.0f && body.velocity.z == 0.0f) << what;
        EXPECT_TRUE(w.statistics->captured()) << what;
        // The player's own rules are off; the rest of it stays as it was.
        for (u32 type : { CapsuleShape::kType, Collider::kType, PlayerState::kType, PlayerMovement::kType })
            EXPECT_FALSE(w.enabled(w.player, type)) << what << " type " << type;
        for (u32 type : { Transform::kType, RigidBody::kType, Race::kType, Renderer::kType })
            EXPECT_TRUE(w.enabled(w.player, type)) << what << " type " << type;
        EXPECT_TRUE(w.modelsPlay(clipAsset(1, 1))) << what;

        // Once: a second touch spawns nothing and changes nothing.
        w.get<Race>(w.player).value = c.playerRace;
        w.enter();
        w.stay();
        EXPECT_EQ(w.liveEntityCount(), before + 1) << what;
        EXPECT_EQ(w.get<Race>(w.player).value, c.playerRace) << what;
    }
}

TEST(LevelGoalExt, OnlyAPlayerTouchingAGoalCounts)
{
    GoalWorld w(2, 2);
    const EntityHandle crate = w.scene.add("crate", { "Transform", "Collider", "PlayerMovement" });
    onLevelGoalEnter(ContactWorld::pair(w.goal, crate), w.world(), w.context);
    onLevelGoalEnter(ContactWorld::pair(w.player, w.player), w.world(), w.context);
    EXPECT_EQ(w.record().reached, 0);
    EXPECT_EQ(w.get<Race>(w.player).value, 2);
    EXPECT_FALSE(w.statistics->captured());
}

} // namespace
} // namespace harmonize
