#include "AnimationWorld.h"
#include "QueuedSounds.h"

#include "harmonize/extensions/RaceLook.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/PlatformSystem.h"
#include "harmonize/systems/SoundSystem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace harmonize {
namespace {

using quern::entity::World;
using quern::math::Vector3;
using testing::AnimationWorld;

constexpr u64 kHideClip = 0x51;
constexpr u64 kShowClip = 0x52;
constexpr u64 kWarningClip = 0x53;
constexpr u64 kHideSound = 0xa1;
constexpr u64 kShowSound = 0xa2;

// A level world with the coroutine system, the platform system after it and a
// sound system whose requests stay queued.
struct PlatformWorld : AnimationWorld {
    PlatformWorld()
        : AnimationWorld(32)
    {
        clip(kHideClip, "name hide\nduration 1\ntrack nobody m_LocalPosition.x\nkey 0 0\n");
        clip(kShowClip, "name show\nduration 1\ntrack nobody m_LocalPosition.x\nkey 0 0\n");
        clip(kWarningClip, "duration 1\ntrack nobody m_LocalPosition.x\nkey 0 0\n");
        context.coroutine = coroutines;
        context.platform = platforms;
        context.sound = sound;
        scene.addSystem(coroutines);
        scene.addSystem(platforms);
        scene.addSystem(sound);
        world().getSystemInfo(world().getSystemCount() - 1).state = quern::entity::SystemInfo::kDisabled;
        spark = scene.add("spark", { "Transform" }, {}, true);
    }

    EntityHandle addPlayer(i32 race, Vector3 position)
    {
        player = scene.add("player", { "Transform", "Collider", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        scene.get<Race>(player).value = race;
        transform(player).position = position;
        return player;
    }

    EntityHandle addPlatform(i32 race, Vector3 position, f32 range, u8 hideWhenAway, EntityHandle parent = {})
    {
        const EntityHandle p = scene.add("platform",
            { "Transform", "Collider", "PlatformSensor", "Race", "Platform", "SnapboxCluster", "CollisionLayer" },
            parent);
        transform(p).position = position;
        scene.get<Race>(p).value = race;
        scene.get<PlatformSensor>(p).range = range;
        scene.get<PlatformSensor>(p).hideWhenAway = hideWhenAway;
        scene.get<Collider>(p).trigger = 0;
        scene.get<CollisionLayer>(p).layer = 14;
        const EntityHandle animated = addAnimated("platform-model", { kHideClip, kShowClip, kWarningClip }, false, p);
        Platform& record = scene.get<Platform>(p);
        record = Platform {};
        record.effectPrefab = spark;
        record.hideSound = kHideSound;
        record.showSound = kShowSound;
        record.hiddenTime = 1.0f;
        record.animated = animated;
        return p;
    }

    void addWarning(EntityHandle p, f32 delay)
    {
        scene.set(p, "PlatformWarning", "delay", { delay });
        scene.get<PlatformWarning>(p).clip = kWarningClip;
    }

    // Nothing but the sequences touch the platforms from here on.
    void stopPlatformTicks()
    {
        world().getSystemInfo(world().getSystemCount() - 2).state = quern::entity::SystemInfo::kDisabled;
    }
    Platform& record(EntityHandle p) { return scene.get<Platform>(p); }
    bool hidden(EntityHandle p)
    {
        return scene.get<Collider>(p).trigger == 1 && scene.get<CollisionLayer>(p).layer == 2;
    }
    bool solid(EntityHandle p)
    {
        return scene.get<Collider>(p).trigger == 0 && scene.get<CollisionLayer>(p).layer == 14;
    }
    // Ticks until the platform's hidden state is `wanted` (at most 100).
    i32 ticksUntilHidden(EntityHandle p, bool wanted)
    {
        i32 ticks = 0;
        while (hidden(p) != wanted && ticks < 100) {
            tick();
            ++ticks;
        }
        return ticks;
    }
    u64 sequences(EntityHandle p)
    {
        const quern::containers::Array& list = coroutines->fixedTickList();
        u64 count = 0;
        for (u64 i = 0; i < list.count(); ++i)
            count += list.at<Coroutine>(i).userData == &record(p) ? 1 : 0;
        return count;
    }
    std::vector<u64> sounds() { return testing::queuedSoundIds(*sound); }
    i32 sparks()
    {
        i32 count = 0;
        for (u64 i = 0; i < world().getSlotCount(); ++i) {
            const EntityHandle e = EntityHandle::make(static_cast<u16>(i), world().getGeneration(i));
            if (e != spark && world().isValid(e) && std::strcmp(world().getEntityName(e), "spark") == 0)
                ++count;
        }
        return count;
    }
    // The clip the animation system was last asked to play on the entity.
    const AnimationTask* request(EntityHandle entity)
    {
        const AnimationTask* found = nullptr;
        for (u64 i = 0; i < animation->tasks().count(); ++i)
            if (animation->tasks().at<AnimationTask>(i).entity == entity.value)
                found = &animation->tasks().at<AnimationTask>(i);
        return found;
    }

    CoroutineSystem* coroutines = new CoroutineSystem(context);
    PlatformSystem* platforms = new PlatformSystem(context);
    SoundSystem* sound = new SoundSystem(nullptr, nullptr, nullptr, nullptr);
    EntityHandle player, spark;
};

TEST(PlatformSystem, RangeRaceAndFlagDecideWhetherAPlatformHides)
{
    struct Case {
        const char* name;
        bool withPlayer;
        i32 playerRace, platformRace;
        Vector3 platformAt; // the player stands at the origin
        u8 hideWhenAway;
        bool triggered;
    };
    const Case cases[] = {
        { "in range, opposite races", true, 0, 2, { 3, 0, 0 }, 0, true },
        { "in range, opposite races the other way", true, 2, 0, { 0, 3, 0 }, 0, true },
        { "in range, same race", true, 0, 0, { 3, 0, 0 }, 0, false },
        { "in range, same race, flag: the races decide", true, 2, 2, { 3, 0, 0 }, 1, false },
        { "exactly at the range counts as away", true, 0, 2, { 3, 4, 0 }, 0, false },
        { "exactly at the range, flag", true, 0, 2, { 3, 4, 0 }, 1, true },
        { "depth counts in the distance", true, 0, 2, { 3, 0, 4.5f }, 0, false },
        { "out of range, flag", true, 0, 0, { 9, 0, 0 }, 1, true },
        { "neutral platform in range", true, 0, 1, { 1, 0, 0 }, 0, false },
        { "neutral player in range", true, 1, 2, { 1, 0, 0 }, 0, false },
        { "neutral player away, flag", true, 1, 2, { 9, 0, 0 }, 1, true },
        { "no player, flag", false, 0, 2, { 1, 0, 0 }, 1, true },
        { "no player, no flag", false, 0, 2, { 1, 0, 0 }, 0, false },
    };
    for (const Case& c : cases) {
        PlatformWorld w;
        if (c.withPlayer)
            w.addPlayer(c.playerRace, { 0, 0, 0 });
        const EntityHandle p = w.addPlatform(c.platformRace, c.platformAt, 5.0f, c.hideWhenAway);
        w.record(p).release = 0;
        w.record(p).pending = 1;
        w.start();
        w.tick();
        EXPECT_EQ(w.sequences(p), c.triggered ? 1u : 0u) << c.name;
        EXPECT_EQ(w.record(p).pending, 0) << c.name;
        EXPECT_EQ(w.record(p).release, c.triggered ? 0 : 1) << c.name;
        // The sequence's first step comes with the next coroutine pass.
        w.tick();
        EXPECT_EQ(w.hidden(p), c.triggered) << c.name;
    }
}

TEST(PlatformSystem, APlatformBelowAParentIsPlacedByItsWorldPosition)
{
    PlatformWorld w;
    w.addPlayer(0, { 20, 0, 0 });
    const EntityHandle base = w.scene.add("base", { "Transform" });
    w.transform(base).position = { 18, 0, 0 };
    const EntityHandle near = w.addPlatform(2, { 0, 0, 0 }, 5.0f, 0, base);
    const EntityHandle far = w.addPlatform(2, { 18, 0, 0 }, 5.0f, 0, base); // at 36 in the world
    w.start();
    w.tick(2);
    EXPECT_TRUE(w.hidden(near));
    EXPECT_FALSE(w.hidden(far));
}

TEST(PlatformSystem, TheLastPlayerInSlotOrderIsTheOneThatCounts)
{
    PlatformWorld w;
    w.addPlayer(0, { 0, 0, 0 });
    const EntityHandle last = w.addPlayer(0, { 100, 0, 0 });
    const EntityHandle p = w.addPlatform(2, { 1, 0, 0 }, 5.0f, 0);
    w.start();
    EXPECT_EQ(w.platforms->player(), last);
    w.tick(2);
    EXPECT_FALSE(w.hidden(p));
    EXPECT_EQ(w.record(p).release, 1);
}

TEST(PlatformSystem, HideAndShowWithTheirClipsSoundsAndEffects)
{
    PlatformWorld w;
    w.addPlayer(0, { 0, 0, 0 });
    const EntityHandle p = w.addPlatform(2, { 2, 1, 0 }, 5.0f, 0);
    w.record(p).hiddenTime = 0.05f;
    w.start();
    w.tick(2);
    ASSERT_TRUE(w.hidden(p));
    EXPECT_EQ(w.record(p).running, 1);
    EXPECT_EQ(w.sounds(), (std::vector<u64> { kHideSound }));
    EXPECT_EQ(w.sound->request(0).positional, 1);
    EXPECT_EQ(w.sound->request(0).position.x, 2.0f);
    EXPECT_EQ(w.sound->request(0).position.y, 1.0f);
    EXPECT_EQ(w.sparks(), 1);
    const AnimationTask* hide = w.request(w.record(p).animated);
    ASSERT_NE(hide, nullptr);
    EXPECT_EQ(hide->clip, kHideClip);
    EXPECT_EQ(hide->duration, 0.1f);

    // Still in range: asked to hide again every tick, it stays hidden long
    // after its hidden time.
    w.tick(20);
    EXPECT_TRUE(w.hidden(p));
    EXPECT_EQ(w.record(p).pending, 1);
    EXPECT_EQ(w.sequences(p), 1u);

    w.transform(w.player).position = { 50, 0, 0 };
    w.tick(2);
    EXPECT_TRUE(w.solid(p));
    EXPECT_EQ(w.record(p).running, 0);
    EXPECT_EQ(w.sounds(), (std::vector<u64> { kHideSound, kShowSound }));
    EXPECT_EQ(w.sparks(), 2);
    const AnimationTask* show = w.request(w.record(p).animated);
    ASSERT_NE(show, nullptr);
    EXPECT_EQ(show->clip, kShowClip);
    EXPECT_EQ(show->duration, 0.1f);
    EXPECT_EQ(w.sequences(p), 0u);
}

TEST(PlatformSystem, HiddenTimeRunsOutWhenNothingHoldsThePlatform)
{
    PlatformWorld w;
    const EntityHandle p = w.addPlatform(2, { 0, 0, 0 }, 5.0f, 1); // hides while no player exists
    w.record(p).hiddenTime = 0.05f;
    w.start();
    w.tick(2);
    ASSERT_TRUE(w.hidden(p));
    // The flag asks again every tick; without it the platform would show.
    w.scene.get<PlatformSensor>(p).hideWhenAway = 0;
    const i32 ticks = w.ticksUntilHidden(p, false);
    // Release ends the hidden time at once, on the first tick after it is set.
    EXPECT_EQ(ticks, 2);
}

TEST(PlatformSystem, HiddenTimeEndsTheHidingWithoutRelease)
{
    PlatformWorld w;
    const EntityHandle p = w.addPlatform(2, { 0, 0, 0 }, 5.0f, 0);
    w.record(p).hiddenTime = 0.05f;
    w.start();
    PlatformSystem::startHideShow(p, w.world(), *w.coroutines);
    // No fixed tick of the platform system: nothing sets release.
    w.stopPlatformTicks();
    w.tick();
    ASSERT_TRUE(w.hidden(p));
    const i32 ticks = w.ticksUntilHidden(p, false);
    EXPECT_GE(ticks, 4);
    EXPECT_LE(ticks, 6);
}

TEST(PlatformSystem, ZeroHiddenTimeHidesAndShowsInOneTick)
{
    PlatformWorld w;
    const EntityHandle p = w.addPlatform(2, { 0, 0, 0 }, 5.0f, 0);
    w.record(p).hiddenTime = 0.0f;
    w.start();
    PlatformSystem::startHideShow(p, w.world(), *w.coroutines);
    w.tick();
    EXPECT_TRUE(w.solid(p));
    EXPECT_EQ(w.record(p).running, 0);
    EXPECT_EQ(w.sounds(), (std::vector<u64> { kHideSound, kShowSound }));
    EXPECT_EQ(w.sparks(), 2);
    EXPECT_EQ(w.sequences(p), 0u);
}

// Standing on a platform starts its sequence before the platform system's
// own tick in the same tick: the platform still runs one sequence only.
TEST(PlatformSystem, ASequenceStartedByStandingIsTheOnlyOne)
{
    PlatformWorld w;
    w.addPlayer(0, { 0, 0, 0 });
    const EntityHandle p = w.addPlatform(2, { 0, 0, 0 }, 5.0f, 0);
    w.start();
    PlatformSystem::startHideShow(p, w.world(), *w.coroutines);
    PlatformSystem::startHideShow(p, w.world(), *w.coroutines);
    w.tick();
    EXPECT_EQ(w.sequences(p), 1u);
    EXPECT_TRUE(w.hidden(p));
    EXPECT_EQ(w.sounds(), std::vector<u64> { kHideSound });
}

TEST(PlatformSystem, OccupancyHoldsThePlatformHidden)
{
    PlatformWorld w;
    w.addPlayer(0, { 0, 0, 0 });
    const EntityHandle p = w.addPlatform(2, { 1, 0, 0 }, 5.0f, 0);
    w.record(p).hiddenTime = 0.02f;
    w.start();
    w.tick(2);
    ASSERT_TRUE(w.hidden(p));
    // The player walks into the hidden platform and out of its range.
    w.record(p).occupancy = 1;
    w.transform(w.player).position = { 50, 0, 0 };
    w.tick(10);
    EXPECT_TRUE(w.hidden(p));
    EXPECT_EQ(w.record(p).running, 1);
    w.record(p).occupancy = 0;
    w.tick();
    EXPECT_TRUE(w.solid(p));
    EXPECT_EQ(w.record(p).running, 0);
}

TEST(PlatformSystem, WarningPlaysItsClipAndDelaysTheHiding)
{
    struct Case {
        f32 delay;
        i32 ticksToHide; // after the sequence's first step
    };
    for (const Case c : { Case { 0.0f, 0 }, Case { 0.05f, 5 } }) {
        PlatformWorld w;
        w.addPlayer(0, { 0, 0, 0 });
        const EntityHandle p = w.addPlatform(2, { 1, 0, 0 }, 5.0f, 0);
        w.addWarning(p, c.delay);
        w.start();
        w.tick(2);
        EXPECT_EQ(w.record(p).running, 1) << c.delay;
        EXPECT_EQ(w.record(p).hideDelay, c.delay) << c.delay;
        const AnimationTask* warning = w.request(w.record(p).animated);
        ASSERT_NE(warning, nullptr);
        EXPECT_EQ(warning->clip, c.delay > 0.0f ? kWarningClip : kHideClip) << c.delay;
        EXPECT_EQ(warning->duration, c.delay > 0.0f ? 0.0f : 0.1f) << c.delay;
        EXPECT_EQ(w.ticksUntilHidden(p, true), c.ticksToHide) << c.delay;
    }
}

// The warning marks the platform as still asked to hide: it shows only once
// the player is gone.
TEST(PlatformSystem, WarnedPlatformWaitsForThePlayerToLeave)
{
    PlatformWorld w;
    const EntityHandle p = w.addPlatform(2, { 0, 0, 0 }, 5.0f, 0);
    w.addWarning(p, 0.0f);
    w.record(p).hiddenTime = 0.0f;
    w.stopPlatformTicks();
    w.start();
    PlatformSystem::startHideShow(p, w.world(), *w.coroutines);
    w.tick(5);
    EXPECT_TRUE(w.hidden(p));
    w.record(p).pending = 0;
    w.tick();
    EXPECT_TRUE(w.solid(p));
}

TEST(PlatformSystem, APlatformSwitchedOffEndsItsSequenceAndStartsNoOther)
{
    PlatformWorld w;
    w.addPlayer(0, { 0, 0, 0 });
    const EntityHandle p = w.addPlatform(2, { 1, 0, 0 }, 5.0f, 0);
    w.record(p).hiddenTime = 0.05f;
    w.start();
    w.tick(2);
    ASSERT_TRUE(w.hidden(p));
    w.world().deactivateEntity(p);
    w.tick();
    EXPECT_EQ(w.sequences(p), 0u);
    EXPECT_EQ(w.record(p).running, 1);
    // Back on, in range: the running flag keeps any new sequence away.
    w.world().activateEntities(&p, 1);
    w.tick(20);
    EXPECT_EQ(w.sequences(p), 0u);
    EXPECT_TRUE(w.hidden(p));
    // A restore frees it.
    w.platforms->restoreSnapshot(w.world());
    EXPECT_EQ(w.record(p).running, 0);
    w.tick(2);
    EXPECT_EQ(w.sequences(p), 1u);
}

TEST(PlatformSystem, RestoreResetsPlainPlatformsOnly)
{
    PlatformWorld w;
    const EntityHandle occupied = w.addPlatform(2, { 0, 0, 0 }, 5.0f, 0);
    const EntityHandle empty = w.addPlatform(2, { 10, 0, 0 }, 5.0f, 0);
    const EntityHandle warned = w.addPlatform(2, { 20, 0, 0 }, 5.0f, 0);
    w.addWarning(warned, 1.0f);
    const EntityHandle detonator = w.addPlatform(2, { 30, 0, 0 }, 5.0f, 0);
    w.scene.set(detonator, "Detonator", "delay", { 1.0 });
    w.start();
    for (const EntityHandle p : { occupied, empty, warned, detonator }) {
        w.record(p).running = 1;
        w.record(p).occupancy = 2;
        w.scene.get<Collider>(p).trigger = 1;
    }
    w.record(empty).occupancy = 0;
    w.platforms->restoreSnapshot(w.world());

    EXPECT_EQ(w.record(occupied).running, 0);
    EXPECT_EQ(w.scene.get<Collider>(occupied).trigger, 0);
    EXPECT_EQ(w.record(occupied).occupancy, 0);
    const AnimationTask* show = w.request(w.record(occupied).animated);
    ASSERT_NE(show, nullptr);
    EXPECT_EQ(show->clip, kShowClip);
    EXPECT_EQ(show->duration, 0.0f);

    EXPECT_EQ(w.record(empty).running, 0);
    EXPECT_EQ(w.scene.get<Collider>(empty).trigger, 0);
    EXPECT_EQ(w.request(w.record(empty).animated), nullptr);

    for (const EntityHandle p : { warned, detonator }) {
        EXPECT_EQ(w.record(p).running, 1);
        EXPECT_EQ(w.record(p).occupancy, 2);
        EXPECT_EQ(w.scene.get<Collider>(p).trigger, 1);
        EXPECT_EQ(w.request(w.record(p).animated), nullptr);
    }
}

TEST(PlatformSystem, WorldStartShowsEveryRaceLook)
{
    PlatformWorld w;
    const u64 spike = testing::nameIdOf("spike");
    const u64 hairy = testing::nameIdOf("hairy");
    struct Case {
        i32 race;
        f32 value;
        i32 frame;
    };
    const Case cases[] = { { 2, 2.0f, 0 }, { 0, 3.0f, 0 }, { 1, 7.0f, 4 } };
    std::vector<EntityHandle> looks;
    for (const Case& c : cases) {
        const EntityHandle look = w.scene.add("look", { "Transform", "FrameAnimation" });
        FrameAnimation& animation = w.scene.get<FrameAnimation>(look);
        animation = FrameAnimation {};
        animation.stateKeys[0] = spike;
        animation.stateKeys[1] = hairy;
        animation.stateValues[0] = 2.0f;
        animation.stateValues[1] = 3.0f;
        animation.currentValue = 7.0f;
        animation.currentFrame = 4;
        const EntityHandle owner = w.scene.add("owner", { "Transform", "Race", "RaceLook" });
        w.scene.get<Race>(owner).value = c.race;
        w.scene.get<RaceLook>(owner).frameAnimationEntity = look;
        looks.push_back(look);
    }
    w.start();
    for (u64 i = 0; i < looks.size(); ++i) {
        EXPECT_EQ(w.scene.get<FrameAnimation>(looks[i]).currentValue, cases[i].value) << cases[i].race;
        EXPECT_EQ(w.scene.get<FrameAnimation>(looks[i]).currentFrame, cases[i].frame) << cases[i].race;
    }
}

} // namespace
} // namespace harmonize
