#include "PlayerAnimationWorld.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/extensions/PlatformReactionExt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::entity::World;
using testing::PlayerAnimationWorld;

constexpr u64 kBoom = 0x7001;

class PlatformReactionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlayerProfile::clear();
        scene.clip(kBoom, "duration 1\ntrack nobody m_LocalPosition.x\nkey 0 0\n");
        scene.addPlayer(0);
        platform = scene.scene.add("platform", { "Transform", "Collider", "Race", "Platform", "SnapboxCluster" });
        mesh = scene.scene.add("platform-mesh", { "Transform", "Renderer" }, platform);
        animated = scene.addAnimated("animated", { kBoom }, false, platform);
        shards = scene.scene.add("shards", { "Transform" }, {}, true);
        smoke = scene.scene.add("smoke", { "Transform" }, {}, true);
        Platform& p = record();
        p.breakPrefab = shards;
        p.effectPrefab = smoke;
        p.animated = animated;
        p.standProof = 0;
        p.hiddenByStanding = 0;
        p.pending = 0;
        setPlatformRace(0);
        collider().trigger = 0;
    }

    void start()
    {
        scene.startPlayer();
        resetMachine(scene.movement().movementState, WAITING, WAITING);
        scene.movement().cluster = platform;
    }

    Platform& record() { return scene.scene.get<Platform>(platform); }
    Collider& collider() { return scene.scene.get<Collider>(platform); }
    void setPlatformRace(i32 race) { scene.scene.get<Race>(platform).value = race; }
    i32 movementState() { return scene.movement().movementState[kMachineState]; }
    bool colliderEnabled() { return scene.world().getEnabledMask(platform.index()).test(Collider::kType); }
    u64 coroutineCount() { return scene.coroutines->fixedTickList().count(); }
    // Hide/show sequences of the platform: the coroutines that work on its record.
    u64 hideShowCount()
    {
        const quern::containers::Array& list = scene.coroutines->fixedTickList();
        u64 count = 0;
        for (u64 i = 0; i < list.count(); ++i)
            count += list.at<Coroutine>(i).userData == &record() ? 1 : 0;
        return count;
    }
    void react(EntityHandle cluster)
    {
        reactToPlatformUnderPlayer(scene.world(), scene.context, scene.view(), cluster);
    }
    void react() { react(platform); }

    Detonator& addDetonator(f32 delay, EntityHandle target)
    {
        scene.scene.set(platform, "Detonator", "delay", { delay });
        Detonator& d = scene.scene.get<Detonator>(platform);
        d.clip = kBoom;
        d.target = target;
        d.running = 0;
        return d;
    }

    // Live entities named `name`.
    i32 countNamed(const char* name)
    {
        World& w = scene.world();
        i32 count = 0;
        for (u64 i = 0; i < w.getSlotCount(); ++i) {
            const EntityHandle e = EntityHandle::make(static_cast<u16>(i), w.getGeneration(i));
            if (w.isValid(e) && std::strcmp(w.getEntityName(e), name) == 0)
                ++count;
        }
        return count;
    }

    PlayerAnimationWorld scene { 48 };
    EntityHandle platform, mesh, animated, shards, smoke;
};

TEST_F(PlatformReactionTest, StandingHidesAndDropsByRace)
{
    struct Case {
        const char* name;
        i32 platformRace, playerRace;
        u8 standProof, hiddenByStanding, trigger;
        bool hides; // the hide/show sequence is started
        u8 hiddenAfter;
        bool falls;
    };
    const Case cases[] = {
        { "opposite race", 2, 0, 0, 0, 0, true, 1, true },
        { "opposite race, other way", 0, 2, 0, 0, 0, true, 1, true },
        { "own race", 0, 0, 0, 0, 0, false, 0, false },
        { "neutral platform", 1, 0, 0, 0, 0, true, 1, false },
        { "neutral player", 2, 1, 0, 0, 0, true, 1, false },
        { "stand-proof", 2, 0, 1, 0, 0, false, 0, true },
        { "already hidden by standing", 2, 0, 0, 1, 0, false, 1, true },
        { "hidden by the sensor (trigger)", 2, 0, 0, 0, 1, false, 0, true },
    };
    start();
    for (const Case& c : cases) {
        scene.coroutines->fixedTickList().clear();
        record().running = 0;
        setPlatformRace(c.platformRace);
        scene.scene.get<Race>(scene.player).value = c.playerRace;
        record().standProof = c.standProof;
        record().hiddenByStanding = c.hiddenByStanding;
        collider().trigger = c.trigger;
        resetMachine(scene.movement().movementState, WALKING, WAITING);
        react();
        EXPECT_EQ(hideShowCount(), c.hides ? 1u : 0u) << c.name;
        EXPECT_EQ(record().hiddenByStanding, c.hiddenAfter) << c.name;
        EXPECT_EQ(movementState(), c.falls ? FALLING : WALKING) << c.name;
        EXPECT_EQ(coroutineCount(), c.hides ? 1u : 0u) << c.name;
    }
}

TEST_F(PlatformReactionTest, CrumbleStartsOnEveryRunAndGivesWayAfterTheDelay)
{
    scene.scene.set(platform, "PlatformWarning", "delay", { 0.05 });
    start();
    react();
    scene.tick();
    react();
    scene.tick();
    EXPECT_EQ(coroutineCount(), 2u);
    EXPECT_TRUE(colliderEnabled());
    EXPECT_EQ(collider().trigger, 0);
    EXPECT_EQ(movementState(), WAITING);
    scene.tick(10);
    EXPECT_EQ(coroutineCount(), 0u);
    EXPECT_FALSE(colliderEnabled());
    EXPECT_EQ(collider().trigger, 1);
    EXPECT_EQ(movementState(), FALLING);
    EXPECT_EQ(record().running, 0); // own race: nothing hides it
}

TEST_F(PlatformReactionTest, CrumbleUnderAPlayerStandingElsewhereOnlyOpensThePlatform)
{
    scene.scene.set(platform, "PlatformWarning", "delay", { 0.0 });
    start();
    react();
    scene.movement().cluster = EntityHandle {};
    scene.tick(3);
    EXPECT_FALSE(colliderEnabled());
    EXPECT_EQ(collider().trigger, 1);
    EXPECT_EQ(movementState(), WAITING);
}

// The platform may be destroyed during the warning and its slot reused: the
// crumble must leave the newcomer alone.
TEST_F(PlatformReactionTest, CrumbleOfAVanishedPlatformTouchesNothing)
{
    scene.scene.set(platform, "PlatformWarning", "delay", { 0.05 });
    start();
    react();
    scene.tick();
    World& w = scene.world();
    w.destroyEntities(&platform, 1);
    const EntityHandle newcomer = scene.scene.add("newcomer", { "Transform", "Collider" });
    ASSERT_EQ(newcomer.index(), platform.index());
    scene.scene.get<Collider>(newcomer).trigger = 0;
    scene.movement().cluster = newcomer;
    scene.tick(10);
    EXPECT_EQ(coroutineCount(), 0u);
    EXPECT_TRUE(w.getEnabledMask(newcomer.index()).test(Collider::kType));
    EXPECT_EQ(scene.scene.get<Collider>(newcomer).trigger, 0);
    EXPECT_EQ(movementState(), WAITING);
}

TEST_F(PlatformReactionTest, DetonatorOfThePlayersRaceDoesNothing)
{
    const EntityHandle target = scene.scene.add("target", { "Transform" });
    Detonator& d = addDetonator(0.02f, target);
    start();
    for (i32 t = 0; t < 10; ++t) {
        react();
        scene.tick();
    }
    EXPECT_EQ(d.running, 0);
    EXPECT_TRUE(scene.world().isValid(target));
    EXPECT_EQ(record().running, 0);
    EXPECT_EQ(record().hiddenByStanding, 0);
    EXPECT_EQ(movementState(), WAITING);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatBombs), 0u);
}

TEST_F(PlatformReactionTest, DetonatorOfTheOppositeRaceBlowsOnceAndDestroysItsTarget)
{
    const EntityHandle target = scene.scene.add("target", { "Transform" });
    Detonator& d = addDetonator(0.05f, target);
    setPlatformRace(2);
    start();
    // The rule runs several times a tick; only one detonation may start.
    react();
    react();
    EXPECT_EQ(coroutineCount(), 1u);
    EXPECT_EQ(d.running, 1);
    scene.tick();
    // The clip is asked for at once, without a fade.
    ASSERT_EQ(scene.animation->tasks().count(), 1u);
    EXPECT_EQ(scene.animation->tasks().at<AnimationTask>(0).entity, animated.value);
    EXPECT_EQ(scene.animation->tasks().at<AnimationTask>(0).clip, kBoom);
    EXPECT_EQ(scene.animation->tasks().at<AnimationTask>(0).duration, 0.0f);
    // Nothing else happens for a detonator platform: no hiding, no fall.
    EXPECT_EQ(hideShowCount(), 0u);
    EXPECT_EQ(movementState(), WAITING);
    for (i32 t = 0; t < 3; ++t) {
        react();
        scene.tick();
    }
    EXPECT_EQ(coroutineCount(), 1u);
    EXPECT_TRUE(scene.animation->isPlaying(animated, kBoom));
    EXPECT_TRUE(scene.world().getEnabledMask(mesh.index()).test(Renderer::kType));

    while (d.running != 0)
        scene.tick();
    // Broken: no rendering in its subtree, both prefabs placed, hidden by the
    // stand-hide of the race opposite to the platform's (whose hiding places
    // the effect prefab once more).
    EXPECT_FALSE(scene.world().getEnabledMask(mesh.index()).test(Renderer::kType));
    EXPECT_EQ(countNamed("shards"), 2);
    EXPECT_EQ(countNamed("smoke"), 3);
    EXPECT_EQ(hideShowCount(), 1u);
    EXPECT_EQ(record().running, 1);
    EXPECT_EQ(collider().trigger, 1);
    EXPECT_EQ(record().hiddenByStanding, 1);
    EXPECT_EQ(record().pending, 1);
    EXPECT_TRUE(scene.world().isValid(target));
    scene.tick();
    EXPECT_FALSE(scene.world().isValid(target));
    EXPECT_EQ(*PlayerProfile::statCounter(kStatBombs), 1u);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatKills), 0u);
    // The broken platform stays hidden while it is asked to hide.
    EXPECT_EQ(coroutineCount(), 1u);
    EXPECT_EQ(hideShowCount(), 1u);
    scene.tick(10);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatBombs), 1u);
}

TEST_F(PlatformReactionTest, DetonatorTargetsCountKillsOrBombs)
{
    struct Case {
        const char* name;
        bool hasTarget, flyingEnemy, enemyEnabled;
        u32 kills, bombs;
        bool childDestroyed;
    };
    const Case cases[] = {
        { "plain target", true, false, false, 0, 1, false },
        { "flying enemy", true, true, true, 1, 0, true },
        { "switched-off flying enemy", true, true, false, 0, 1, false },
        { "no target", false, false, false, 0, 1, false },
    };
    for (const Case& c : cases) {
        PlayerAnimationWorld local { 48 };
        PlayerProfile::clear();
        local.addPlayer(0);
        const EntityHandle p
            = local.scene.add("platform", { "Transform", "Collider", "Race", "Platform", "SnapboxCluster" });
        local.scene.get<Race>(p).value = 2;
        EntityHandle target, child;
        if (c.hasTarget) {
            target = local.scene.add("target",
                c.flyingEnemy ? std::initializer_list<const char*> { "Transform", "FlyingEnemy" }
                              : std::initializer_list<const char*> { "Transform" });
            child = local.scene.add("target-child", { "Transform" }, target);
        }
        local.scene.set(p, "Detonator", "delay", { 0.0 });
        local.scene.get<Detonator>(p).target = target;
        local.scene.get<Detonator>(p).clip = 0;
        local.startPlayer();
        if (c.flyingEnemy && !c.enemyEnabled)
            local.world().setComponentEnabled(target, FlyingEnemy::kType, false);
        reactToPlatformUnderPlayer(local.world(), local.context, local.view(), p);
        local.tick(4);
        EXPECT_EQ(*PlayerProfile::statCounter(kStatKills), c.kills) << c.name;
        EXPECT_EQ(*PlayerProfile::statCounter(kStatBombs), c.bombs) << c.name;
        if (c.hasTarget) {
            EXPECT_FALSE(local.world().isValid(target)) << c.name;
            EXPECT_EQ(local.world().isValid(child), !c.childDestroyed) << c.name;
        }
    }
}

TEST_F(PlatformReactionTest, DetonatorOfAVanishedPlatformStops)
{
    const EntityHandle target = scene.scene.add("target", { "Transform" });
    addDetonator(0.05f, target);
    setPlatformRace(2);
    start();
    react();
    scene.tick();
    scene.world().destroyEntities(&platform, 1);
    scene.tick(10);
    EXPECT_EQ(coroutineCount(), 0u);
    EXPECT_TRUE(scene.world().isValid(target));
    EXPECT_EQ(countNamed("shards"), 1);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatBombs), 0u);
}

TEST_F(PlatformReactionTest, StandingOnAWaitingMovingPlatformStartsItsClipOnce)
{
    scene.scene.set(platform, "MovingPlatform", "autoplay", { 0 });
    scene.scene.set(platform, "Animation", "defaultClip", { static_cast<f64>(kBoom) });
    // Not a platform cluster, but moving: only the start rule applies.
    const EntityHandle bare = scene.scene.add("bare", { "MovingPlatform" });
    start();
    react();
    react(); // the rule runs several times a tick
    react(bare);
    react(EntityHandle::make(40000, 1)); // past the world's slots
    react(EntityHandle {});
    const auto& tasks = scene.animation->tasks();
    ASSERT_EQ(tasks.count(), 1u);
    EXPECT_EQ(tasks.at<AnimationTask>(0).entity, platform.value);
    EXPECT_EQ(tasks.at<AnimationTask>(0).clip, kBoom);
    EXPECT_EQ(scene.scene.get<MovingPlatform>(platform).started, 1);
    // Without an Animation there is nothing to play, but the platform counts as started.
    EXPECT_EQ(scene.scene.get<MovingPlatform>(bare).started, 1);
    EXPECT_EQ(hideShowCount(), 0u);
}

} // namespace
} // namespace harmonize
