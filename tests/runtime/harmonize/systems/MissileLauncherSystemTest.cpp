#include "harmonize/systems/MissileLauncherSystem.h"

#include "AnimationWorld.h"

#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/extensions/PlayerView.h"
#include "runtime/harmonize/collision/CollisionWorld.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <numbers>
#include <vector>

namespace harmonize {
namespace {

using quern::math::Quaternion;
using quern::math::Vector3;
using testing::CollisionWorld;

Quaternion aboutZ(f32 degrees)
{
    return Quaternion::fromAxisAngle(degrees * std::numbers::pi_v<f32> / 180.0f, { 0, 0, 1 });
}

void expectNear(const Vector3& actual, const Vector3& expected, f32 tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// Where the missile model looks: its local -Z in the world.
Vector3 lookOf(const Transform& transform) { return transform.rotation.toMatrix3() * Vector3 { 0.0f, 0.0f, -1.0f }; }

// A collision world with the launcher system after the collision system, a
// launcher of race 2 at the origin whose muzzle sits one unit up its Y axis,
// and a dormant missile prefab. Stepped at 10 ms.
struct LauncherWorld : CollisionWorld {
    LauncherWorld()
    {
        launchers = new MissileLauncherSystem(context);
        scene.addSystem(launchers);
        prefab = scene.add("missile", { "Transform", "Missile", "Race" }, {}, true);
        scene.get<Missile>(prefab).speed = 5.0f;
        scene.get<Race>(prefab).value = 2;
    }

    EntityHandle launcher(f32 interval, i32 race = 2, f32 muzzleTurn = 0.0f)
    {
        const EntityHandle e = scene.add("launcher", { "Transform", "MissileLauncher", "Race" });
        const EntityHandle muzzle = scene.add("muzzle", { "Transform" }, e);
        scene.get<Transform>(muzzle).position = aboutZ(muzzleTurn).toMatrix3() * Vector3 { 0.0f, 1.0f, 0.0f };
        scene.get<Transform>(muzzle).rotation = aboutZ(muzzleTurn);
        MissileLauncher& l = scene.get<MissileLauncher>(e);
        l.reloadInterval = interval;
        l.reloadCountdown = 99.0f;
        l.missilePrefab = prefab;
        l.muzzle = muzzle;
        l.sightLength = 20.0f;
        scene.get<Race>(e).value = race;
        return e;
    }
    EntityHandle player(const Vector3& position, i32 race = 0)
    {
        const EntityHandle e = scene.add("player",
            { "Transform", "Collider", "BoxShape", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        scene.get<Transform>(e).position = position;
        scene.get<BoxShape>(e).size = { 1.0f, 1.0f, 1.0f };
        scene.get<Race>(e).value = race;
        return e;
    }
    MissileLauncher& record(EntityHandle launcher) { return scene.get<MissileLauncher>(launcher); }

    // The handles of the missiles in flight (the prefab is never active).
    std::vector<EntityHandle> missiles()
    {
        std::vector<EntityHandle> found;
        for (u64 i = 0; i < world().getSlotCount(); ++i)
            if (world().getState(i) == quern::entity::EntityState::Active
                && world().getEnabledMask(i).test(Missile::kType))
                found.push_back(entityAt(world(), i));
        return found;
    }

    MissileLauncherSystem* launchers = nullptr;
    EntityHandle prefab;
};

TEST(MissileLauncherSystem, WorldStartWindsEveryCountdownAndFindsThePlayer)
{
    LauncherWorld w;
    const EntityHandle a = w.launcher(0.5f);
    const EntityHandle b = w.launcher(1.5f);
    const EntityHandle player = w.player({ 0.0f, 10.0f, 0.0f });
    w.start();
    EXPECT_EQ(w.record(a).reloadCountdown, 0.5f);
    EXPECT_EQ(w.record(b).reloadCountdown, 1.5f);
    EXPECT_EQ(w.launchers->player().entity, entityAt(w.world(), player.index()));
}

TEST(MissileLauncherSystem, AMissileInTheLevelAtStartIsLoggedAndStillFlies)
{
    LauncherWorld w;
    const EntityHandle stray = w.scene.add("stray", { "Transform", "Missile" });
    w.scene.get<Missile>(stray).speed = 1.0f;
    w.scene.get<Missile>(stray).direction = { 1.0f, 0.0f, 0.0f };
    quern::testing::LogCapture log(2);
    w.start();
    EXPECT_TRUE(log.contains("Missile already in scene without being spawned"));
    w.tick();
    EXPECT_NEAR(w.scene.get<Transform>(stray).position.x, 0.01f, 1e-7f);
}

TEST(MissileLauncherSystem, FiresOnlyAtAPlayerOfTheOpposingRace)
{
    const struct {
        i32 playerRace;
        i32 launcherRace;
        bool fires;
    } cases[] = {
        { 0, 2, true },
        { 2, 0, true },
        { 1, 2, false },
        { 1, 0, false },
        { 0, 0, false },
        { 2, 2, false },
        { 0, 1, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.playerRace << " against " << c.launcherRace);
        LauncherWorld w;
        w.launcher(0.0f, c.launcherRace);
        w.player({ 0.0f, 10.0f, 0.0f }, c.playerRace);
        w.start();
        w.tick();
        EXPECT_EQ(w.missiles().size(), c.fires ? 1u : 0u);
    }
}

TEST(MissileLauncherSystem, ShootsAlongTheMuzzlesWorldYAxis)
{
    // A quarter turn about +Z takes +Y to -X.
    const struct {
        f32 turn;
        Vector3 player;
        Vector3 axis;
    } cases[] = {
        { 0.0f, { 0.0f, 10.0f, 0.0f }, { 0.0f, 1.0f, 0.0f } },
        { 90.0f, { -10.0f, 0.0f, 0.0f }, { -1.0f, 0.0f, 0.0f } },
        { -90.0f, { 10.0f, 0.0f, 0.0f }, { 1.0f, 0.0f, 0.0f } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.turn);
        LauncherWorld w;
        w.launcher(0.0f, 2, c.turn);
        const EntityHandle player = w.player(c.player);
        w.start();
        w.tick();
        const std::vector<EntityHandle> missiles = w.missiles();
        ASSERT_EQ(missiles.size(), 1u);
        const Missile& missile = w.scene.get<Missile>(missiles[0]);
        expectNear(missile.direction, c.axis);
        EXPECT_EQ(missile.target, entityAt(w.world(), player.index()));
        // Spawned at the muzzle in the plane of play, facing the player, and
        // already on its way: it is stepped in the tick that made it.
        expectNear(w.scene.get<Transform>(missiles[0]).position, c.axis * 1.05f);
        expectNear(lookOf(w.scene.get<Transform>(missiles[0])), c.axis);
    }
}

TEST(MissileLauncherSystem, SightAndShotLieInThePlaneOfPlay)
{
    // The launcher stands in front of the plane; it looks, and its missile
    // flies, at depth 0.
    LauncherWorld w;
    const EntityHandle launcher = w.launcher(0.0f);
    w.scene.get<Transform>(launcher).position = { 0.0f, 0.0f, 3.0f };
    w.player({ 0.0f, 10.0f, 0.0f });
    w.start();
    w.tick();
    const std::vector<EntityHandle> missiles = w.missiles();
    ASSERT_EQ(missiles.size(), 1u);
    expectNear(w.scene.get<Transform>(missiles[0]).position, { 0.0f, 1.05f, 0.0f });
}

// A launcher with an animated model beside the animation system: the shot
// plays the model's "shoot" clip.
TEST(MissileLauncherSystem, AShotPlaysTheShootClip)
{
    constexpr u64 kShootClip = 0x61;
    constexpr u64 kIdleClip = 0x62;
    testing::AnimationWorld w;
    w.clip(kShootClip, "name shoot\nduration 1\ntrack nobody m_LocalPosition.x\nkey 0 0\n");
    w.clip(kIdleClip, "name idle\nduration 1\ntrack nobody m_LocalPosition.x\nkey 0 0\n");
    auto* collision = new CollisionSystem(w.context);
    w.context.collision = collision;
    w.scene.addSystem(collision);
    w.scene.addSystem(new MissileLauncherSystem(w.context));
    const EntityHandle prefab = w.scene.add("missile", { "Transform", "Missile" }, {}, true);
    const EntityHandle launcher = w.scene.add("launcher", { "Transform", "MissileLauncher", "Race" });
    const EntityHandle muzzle = w.scene.add("muzzle", { "Transform" }, launcher);
    const EntityHandle model = w.addAnimated("model", { kIdleClip, kShootClip }, true, launcher);
    MissileLauncher& record = w.scene.get<MissileLauncher>(launcher);
    record.animated = model;
    record.reloadInterval = 10.0f;
    record.missilePrefab = prefab;
    record.muzzle = muzzle;
    record.sightLength = 20.0f;
    w.scene.get<Race>(launcher).value = 2;
    const EntityHandle player = w.scene.add(
        "player", { "Transform", "Collider", "BoxShape", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
    w.transform(player).position = { 0.0f, 10.0f, 0.0f };
    w.scene.get<BoxShape>(player).size = { 1.0f, 1.0f, 1.0f };
    w.start();
    w.tick(3);
    EXPECT_FALSE(w.animation->isPlaying(model, kShootClip));
    record.reloadCountdown = 0.0f;
    w.tick(2);
    EXPECT_TRUE(w.animation->isPlaying(model, kShootClip));
}

TEST(MissileLauncherSystem, ThePlayerOffTheMuzzleAxisOrBeyondSightIsNotSeen)
{
    for (const Vector3 position : { Vector3 { 5.0f, 10.0f, 0.0f }, Vector3 { 0.0f, 25.0f, 0.0f },
             Vector3 { 0.0f, -10.0f, 0.0f } }) {
        SCOPED_TRACE(::testing::Message() << position.x << ", " << position.y);
        LauncherWorld w;
        w.launcher(0.0f);
        w.player(position);
        w.start();
        w.tick(3);
        EXPECT_TRUE(w.missiles().empty());
    }
}

TEST(MissileLauncherSystem, AZeroIntervalFiresOnEveryTickItSeesThePlayer)
{
    LauncherWorld w;
    w.launcher(0.0f);
    w.player({ 0.0f, 10.0f, 0.0f });
    w.start();
    w.tick(3);
    EXPECT_EQ(w.missiles().size(), 3u);
}

TEST(MissileLauncherSystem, ReloadsForItsIntervalBetweenShots)
{
    LauncherWorld w;
    const EntityHandle launcher = w.launcher(0.035f);
    w.player({ 0.0f, 10.0f, 0.0f });
    w.start();
    w.tick(3);
    EXPECT_TRUE(w.missiles().empty());
    w.tick();
    EXPECT_EQ(w.missiles().size(), 1u);
    EXPECT_EQ(w.record(launcher).reloadCountdown, 0.035f);
    w.tick(3);
    EXPECT_EQ(w.missiles().size(), 1u);
    w.tick();
    EXPECT_EQ(w.missiles().size(), 2u);
}

TEST(MissileLauncherSystem, AHiddenPlayerIsShotTheFirstTickItShowsAgain)
{
    LauncherWorld w;
    const EntityHandle launcher = w.launcher(0.02f);
    w.player({ 0.0f, 10.0f, 0.0f });
    const EntityHandle wall = w.box("wall", { 0.0f, 5.0f, 0.0f }, { 4.0f, 1.0f, 4.0f });
    w.start();
    w.tick(10);
    EXPECT_TRUE(w.missiles().empty());
    // The countdown ran on below zero while the wall was in the way.
    EXPECT_NEAR(w.record(launcher).reloadCountdown, -0.08f, 1e-5f);
    w.world().destroyEntities(&wall, 1);
    w.tick();
    EXPECT_EQ(w.missiles().size(), 1u);
}

// The order the bodies were made in decides the order the sweep meets them.
TEST(MissileLauncherSystem, ATriggerInTheWayHidesNothing)
{
    for (const bool zoneFirst : { false, true }) {
        SCOPED_TRACE(zoneFirst ? "zone made first" : "player made first");
        LauncherWorld w;
        w.launcher(0.0f);
        const auto zone = [&w] { w.setTrigger(w.box("zone", { 0.0f, 5.0f, 0.0f }, { 4.0f, 1.0f, 4.0f })); };
        if (zoneFirst)
            zone();
        w.player({ 0.0f, 10.0f, 0.0f });
        if (!zoneFirst)
            zone();
        w.start();
        w.tick();
        EXPECT_EQ(w.missiles().size(), 1u);
    }
}

TEST(MissileLauncherSystem, WithoutAPlayerNothingAimsOrShoots)
{
    LauncherWorld w;
    const EntityHandle launcher = w.launcher(0.0f);
    // A body straight down the muzzle that is not a player.
    w.box("crate", { 0.0f, 10.0f, 0.0f }, { 1.0f, 1.0f, 1.0f });
    w.start();
    w.tick(3);
    EXPECT_TRUE(w.missiles().empty());
    EXPECT_FALSE(isSomeEntity(w.launchers->player().entity));
    EXPECT_NEAR(w.record(launcher).reloadCountdown, -0.03f, 1e-6f);
}

TEST(MissileLauncherSystem, APlayerGoneSinceWorldStartIsNotAimedAt)
{
    LauncherWorld w;
    w.launcher(0.0f);
    const EntityHandle player = w.player({ 0.0f, 10.0f, 0.0f });
    w.start();
    w.world().destroyEntities(&player, 1);
    w.tick(2);
    EXPECT_TRUE(w.missiles().empty());
}

TEST(MissileLauncherSystem, WhilePausedCountdownsAndMissilesStandStill)
{
    LauncherWorld w;
    const EntityHandle launcher = w.launcher(0.0f);
    w.player({ 0.0f, 10.0f, 0.0f });
    w.start();
    w.tick();
    const std::vector<EntityHandle> missiles = w.missiles();
    ASSERT_EQ(missiles.size(), 1u);
    const Vector3 before = w.scene.get<Transform>(missiles[0]).position;
    w.context.paused = 1;
    w.tick(5);
    EXPECT_EQ(w.missiles().size(), 1u);
    EXPECT_EQ(w.record(launcher).reloadCountdown, 0.0f);
    expectNear(w.scene.get<Transform>(missiles[0]).position, before, 0.0f);
    w.context.paused = 0;
    w.tick();
    EXPECT_EQ(w.missiles().size(), 2u);
}

// The visibility walk over hits in the order given: target, solid and
// trigger entities at distances along +X from the origin.
TEST(MissileLauncherSystem, TheTargetIsVisibleOnlyAsTheNearestSolidHit)
{
    testing::Scenario scene;
    const EntityHandle target = scene.add("target", { "Transform", "Collider" });
    const EntityHandle solid = scene.add("solid", { "Transform", "Collider" });
    const EntityHandle bare = scene.add("bare", { "Transform" });
    const EntityHandle trigger = scene.add("trigger", { "Transform", "Collider" });
    scene.get<Collider>(trigger).trigger = 1;
    scene.start();
    struct Hit {
        EntityHandle entity;
        f32 distance;
    };
    const struct {
        const char* name;
        std::vector<Hit> hits;
        bool visible;
    } cases[] = {
        { "no hits", {}, false },
        { "target alone", { { target, 5.0f } }, true },
        { "solid before, nearer", { { solid, 3.0f }, { target, 5.0f } }, false },
        { "solid after, nearer", { { target, 5.0f }, { solid, 3.0f } }, false },
        { "solid before, farther", { { solid, 7.0f }, { target, 5.0f } }, true },
        { "solid after, farther", { { target, 5.0f }, { solid, 7.0f } }, true },
        { "tie, solid first", { { solid, 5.0f }, { target, 5.0f } }, true },
        { "tie, solid after", { { target, 5.0f }, { solid, 5.0f } }, false },
        { "trigger nearer", { { trigger, 1.0f }, { target, 5.0f } }, true },
        { "trigger after, nearer", { { target, 5.0f }, { trigger, 1.0f } }, true },
        { "body without collider is solid", { { target, 5.0f }, { bare, 2.0f } }, false },
        { "solid alone", { { solid, 2.0f } }, false },
        { "target twice, farther second", { { target, 5.0f }, { target, 6.0f } }, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CollisionHit> hits;
        for (const Hit& h : c.hits)
            hits.push_back(CollisionHit { h.entity.value, { h.distance, 0.0f, 0.0f }, {} });
        EXPECT_EQ(isTargetNearest(hits.data(), hits.size(), { 0.0f, 0.0f, 0.0f }, target, scene.world()), c.visible);
    }
}

// Missiles without a launcher: a scene with the system alone.
struct MissileWorld {
    MissileWorld()
    {
        scene.addSystem(new MissileLauncherSystem(context));
        scene.world().clock.step = CollisionWorld::kStep;
        target = scene.add("target", { "Transform", "Race" });
        scene.get<Race>(target).value = 0;
    }
    EntityHandle missile(i32 mode, const Vector3& direction, f32 homingRange = 100.0f, i32 race = 2)
    {
        const EntityHandle e = scene.add("missile", { "Transform", "Missile", "Race" });
        Missile& m = scene.get<Missile>(e);
        m.mode = mode;
        m.speed = 10.0f;
        m.direction = direction;
        m.homingRange = homingRange;
        m.target = target;
        scene.get<Race>(e).value = race;
        return e;
    }
    void start()
    {
        scene.world().attachSystems(nullptr);
        scene.start();
    }
    Transform& transform(EntityHandle e) { return scene.get<Transform>(e); }

    testing::Scenario scene;
    AppContext context;
    EntityHandle target;
};

TEST(MissileLauncherSystem, AHomingMissileTurnsTowardsAnOpposingTargetInRange)
{
    MissileWorld w;
    w.transform(w.target).position = { 3.0f, 4.0f, 0.0f };
    const EntityHandle missile = w.missile(MissileHoming, { 0.0f, 1.0f, 0.0f });
    w.start();
    w.scene.tick();
    expectNear(w.scene.get<Missile>(missile).direction, { 0.6f, 0.8f, 0.0f });
    expectNear(lookOf(w.transform(missile)), { 0.6f, 0.8f, 0.0f });
    expectNear(w.transform(missile).position, { 0.06f, 0.08f, 0.0f });
    EXPECT_EQ(w.scene.get<Missile>(missile).target, w.target);
}

TEST(MissileLauncherSystem, AHomingMissileKeepsItsCourseWhenItMayNotHome)
{
    const struct {
        const char* name;
        f32 range;
        i32 race;
        Vector3 direction;
        Vector3 step;
    } cases[] = {
        { "out of range", 4.0f, 2, { 1.0f, 0.0f, 0.0f }, { 0.1f, 0.0f, 0.0f } },
        { "at the range", 5.0f, 2, { 1.0f, 0.0f, 0.0f }, { 0.1f, 0.0f, 0.0f } },
        { "same race", 100.0f, 0, { 1.0f, 0.0f, 0.0f }, { 0.1f, 0.0f, 0.0f } },
        { "neutral race", 100.0f, 1, { 1.0f, 0.0f, 0.0f }, { 0.1f, 0.0f, 0.0f } },
        // The direction is not normalised: its length scales the speed.
        { "long direction", 0.0f, 2, { 2.0f, 0.0f, 0.0f }, { 0.2f, 0.0f, 0.0f } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MissileWorld w;
        w.transform(w.target).position = { 3.0f, 4.0f, 0.0f };
        const EntityHandle missile = w.missile(MissileHoming, c.direction, c.range, c.race);
        w.start();
        w.scene.tick();
        expectNear(w.scene.get<Missile>(missile).direction, c.direction);
        expectNear(w.transform(missile).position, c.step);
    }
}

TEST(MissileLauncherSystem, AHomingMissileWithAHugeRangeStillHomes)
{
    MissileWorld w;
    w.transform(w.target).position = { 3.0f, 4.0f, 0.0f };
    const EntityHandle missile = w.missile(MissileHoming, { 1.0f, 0.0f, 0.0f }, 1e30f);
    w.start();
    w.scene.tick();
    expectNear(w.scene.get<Missile>(missile).direction, { 0.6f, 0.8f, 0.0f });
}

TEST(MissileLauncherSystem, AMissileWithoutADirectionFliesAlongItsLocalY)
{
    MissileWorld w;
    w.transform(w.target).position = { 300.0f, 0.0f, 0.0f };
    const EntityHandle missile = w.missile(MissileHoming, { 0.0f, 0.0f, 0.0f }, 10.0f);
    w.transform(missile).rotation = aboutZ(90.0f);
    w.start();
    w.scene.tick(2);
    expectNear(w.scene.get<Missile>(missile).direction, { -1.0f, 0.0f, 0.0f });
    expectNear(w.transform(missile).position, { -0.2f, 0.0f, 0.0f });
}

TEST(MissileLauncherSystem, AnAimOnceMissileTurnsOnceThenKeepsItsLaunchDirection)
{
    MissileWorld w;
    w.transform(w.target).position = { 3.0f, 4.0f, 0.0f };
    const EntityHandle missile = w.missile(MissileAimOnce, { 0.0f, 1.0f, 0.0f });
    w.start();
    w.scene.tick();
    EXPECT_FALSE(isSomeEntity(w.scene.get<Missile>(missile).target));
    expectNear(lookOf(w.transform(missile)), { 0.6f, 0.8f, 0.0f });
    expectNear(w.scene.get<Missile>(missile).direction, { 0.0f, 1.0f, 0.0f });
    w.transform(w.target).position = { -3.0f, 4.0f, 0.0f };
    w.scene.tick();
    expectNear(lookOf(w.transform(missile)), { 0.6f, 0.8f, 0.0f });
    expectNear(w.transform(missile).position, { 0.0f, 0.2f, 0.0f });
}

TEST(MissileLauncherSystem, AMissileWhoseTargetIsGoneFliesOn)
{
    MissileWorld w;
    const EntityHandle missile = w.missile(MissileHoming, { 1.0f, 0.0f, 0.0f });
    w.start();
    w.scene.world().destroyEntities(&w.target, 1);
    w.scene.tick();
    expectNear(w.transform(missile).position, { 0.1f, 0.0f, 0.0f });
}

TEST(MissileLauncherSystemDeathTest, AnUnknownMissileModeIsFatal)
{
    MissileWorld w;
    w.missile(2, { 1.0f, 0.0f, 0.0f });
    w.start();
    EXPECT_DEATH(w.scene.tick(), "Unreachable code hit");
}

TEST(MissileLauncherSystem, AimingPutsTheModelsMinusZOnTheTarget)
{
    const Vector3 cases[] = {
        { 1.0f, 0.0f, 0.0f },
        { 0.0f, -1.0f, 0.0f },
        { 0.0f, 0.0f, -1.0f }, // already looking at it
        { 0.0f, 0.0f, 1.0f }, // straight behind: the half turn about Y
        Vector3 { 1.0f, 2.0f, -2.0f }.normalized(),
        Vector3 { -3.0f, 0.0f, 4.0f }.normalized(),
    };
    for (const Vector3& d : cases) {
        SCOPED_TRACE(::testing::Message() << d.x << ", " << d.y << ", " << d.z);
        MissileWorld w;
        const EntityHandle missile = w.missile(MissileAimOnce, {});
        w.transform(missile).position = { 1.0f, 1.0f, 1.0f };
        w.transform(w.target).position = Vector3 { 1.0f, 1.0f, 1.0f } + d * 7.0f;
        w.scene.start();
        aimMissile(missile, w.scene.world());
        expectNear(lookOf(w.transform(missile)), d);
    }
}

TEST(MissileLauncherSystem, AimingAtNothingToLookAtLeavesTheMissileAsItIs)
{
    const struct {
        const char* name;
        bool dormantTarget;
        Vector3 targetPosition;
    } cases[] = {
        { "target on the missile", false, { 0.0f, 0.0f, 0.0f } },
        { "inactive target", true, { 5.0f, 0.0f, 0.0f } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MissileWorld w;
        if (c.dormantTarget)
            w.target = w.scene.add("asleep", { "Transform", "Race" }, {}, true);
        const EntityHandle missile = w.missile(MissileAimOnce, {});
        w.transform(missile).rotation = aboutZ(30.0f);
        w.transform(w.target).position = c.targetPosition;
        w.scene.start();
        aimMissile(missile, w.scene.world());
        EXPECT_EQ(w.transform(missile).rotation.z, aboutZ(30.0f).z);
        EXPECT_EQ(w.transform(missile).rotation.w, aboutZ(30.0f).w);
    }
}

} // namespace
} // namespace harmonize
