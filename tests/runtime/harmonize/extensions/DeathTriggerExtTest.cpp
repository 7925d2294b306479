#include "harmonize/extensions/DeathTriggerExt.h"

#include "runtime/harmonize/systems/SaveGameLevel.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/InputSystem.h"
#include "harmonize/systems/MovementSystem.h"
#include "quern/entity/World.h"
#include "quern/platform/FloatingPointTraps.h"
#include "support/LogCapture.h"
#include "support/harmonize/RecordingPlatformServices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace harmonize {
namespace {

using quern::entity::World;
using quern::math::Vector3;

constexpr u64 kStep = 10'000; // microseconds: a fixed step of 0.01 s
// With a death delay of 0.5 s and a respawn delay of 0.25 s the respawn is
// asked for about 76 ticks after the death (the first pass runs the death).
constexpr f32 kDeathDelay = 0.5f;
constexpr f32 kRespawnDelay = 0.25f;
constexpr u32 kBeforeRespawn = 70;
constexpr u32 kAfterRespawn = 80;

// A level world with the systems the death sequence talks to: the save game
// (with its app event queue), the coroutines, and input and movement systems
// that only hold their flags. The player stands at (3, 4) with race 0 and has
// a dormant death effect prefab with a ScreenFade.
struct DeathLevel {
    explicit DeathLevel(u64 eventCapacity = AppEventQueueStorage::kInitialCapacity)
        : level(nullptr, eventCapacity)
        , input(level.context)
        , movement(level.context)
    {
        AppContext& context = level.context;
        context.services.platformServices = &platform;
        coroutines = new CoroutineSystem(context);
        context.coroutine = coroutines;
        level.scene.addSystem(coroutines);
        context.input = &input;
        context.movement = &movement;
        input.movementEnabled = true;
        world().clock.step = kStep;

        player = level.scene.add(
            "player", { "Collider", "RigidBody", "Transform", "PlayerState", "PlayerMovement", "Race" });
        level.transform(player).position = { 3.0f, 4.0f, 0.0f };
        deathEffect = level.scene.add("deathEffect", { "Transform", "ScreenFade" }, {}, true);
        PlayerMovement& m = movementOf(player);
        m.deathEffectPrefab = deathEffect;
        m.deathDelay = kDeathDelay;
        m.respawnDelay = kRespawnDelay;
        trigger = addDeathTrigger(2);
    }

    EntityHandle addDeathTrigger(i32 race)
    {
        const EntityHandle entity
            = level.scene.add("deathTrigger", { "Collider", "Transform", "DeathTrigger", "Race" });
        level.scene.get<Collider>(entity).trigger = 1;
        level.scene.get<Race>(entity).value = race;
        return entity;
    }

    void start() { level.scene.start(); }
    // Starts the level and keeps a quick save for the respawn.
    void startWithQuickSave()
    {
        start();
        level.system->createQuickSave(world());
        ASSERT_TRUE(level.system->holdsQuickSave());
    }
    void tick(u32 count = 1) { level.scene.tick(count); }
    void touch(EntityHandle a, EntityHandle b)
    {
        onDeathTriggerContact(world(), level.context, PairEvent { a.value, b.value });
    }

    // Takes every event out of the queue; how many were LoadSaveGame.
    int takeRespawnRequests()
    {
        int loads = 0;
        for (i32 type; (type = level.events.queue.frontStoredType()) >= 0; level.events.queue.drop())
            loads += type == storedTypeOf(AppEventType::LoadSaveGame);
        return loads;
    }
    // Live clones of the death effect prefab.
    int deathEffects()
    {
        int count = 0;
        for (u64 slot = 0; slot < world().getSlotCount(); ++slot)
            count += slot != deathEffect.index() && world().getState(slot) == quern::entity::EntityState::Active
                && world().getComponentMask(slot).test(ScreenFade::kType);
        return count;
    }
    bool playerAlive() { return isActiveEntity(world(), player); }
    PlayerMovement& movementOf(EntityHandle entity) { return level.scene.get<PlayerMovement>(entity); }
    World& world() { return level.scene.world(); }

    testing::SaveGameLevel level;
    test::RecordingPlatformServices platform;
    InputSystem input;
    MovementSystem movement;
    CoroutineSystem* coroutines = nullptr; // owned by the world
    EntityHandle player;
    EntityHandle deathEffect;
    EntityHandle trigger;
};

u32 deaths() { return *PlayerProfile::statCounter(kStatDeaths); }

class DeathTriggerExtTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        PlayerProfile::clear();
    }
    void TearDown() override
    {
        Settings::resetToDefaults();
        PlayerProfile::clear();
    }
};

TEST_F(DeathTriggerExtTest, ATriggerKillsAPlayerOfAnotherRaceInEitherOrder)
{
    struct Case {
        i32 playerRace, triggerRace;
        bool playerFirst;
        bool dies;
    };
    const Case cases[] = {
        { 0, 0, true, false }, { 2, 2, false, false }, { 1, 1, true, false }, { 0, 2, true, true },
        { 2, 0, false, true }, { 1, 0, false, true }, // a differing race kills even where races do not oppose
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.playerRace << " in " << c.triggerRace);
        PlayerProfile::clear();
        DeathLevel d;
        d.level.scene.get<Race>(d.player).value = c.playerRace;
        d.level.scene.get<Race>(d.trigger).value = c.triggerRace;
        d.start();
        if (c.playerFirst)
            d.touch(d.player, d.trigger);
        else
            d.touch(d.trigger, d.player);
        d.tick();
        EXPECT_EQ(d.playerAlive(), !c.dies);
        EXPECT_EQ(deaths(), c.dies ? 1u : 0u);
    }
}

TEST_F(DeathTriggerExtTest, GodModeBlocksTriggersAndEveryOtherDeath)
{
    Settings::Development.godMode = true;
    DeathLevel d;
    d.start();
    d.touch(d.player, d.trigger);
    killPlayer(d.world(), d.player, *d.coroutines);
    EXPECT_EQ(d.coroutines->fixedTickList().count(), 0u);
    d.tick();
    EXPECT_TRUE(d.playerAlive());
    EXPECT_EQ(deaths(), 0u);
}

TEST_F(DeathTriggerExtTest, TheDeathCountsSpawnsItsFadeRemovesThePlayerAndAsksForTheRespawnAfterBothDelays)
{
    DeathLevel d;
    const EntityHandle child = d.level.scene.add("suit", { "Transform" }, d.player);
    d.startWithQuickSave();
    d.world().currentTime = 1'500'000;

    quern::testing::LogCapture info(3);
    killPlayer(d.world(), d.player, *d.coroutines);
    EXPECT_TRUE(info.contains("Player died after 1.5s")) << info.text();
    d.tick();
    EXPECT_FALSE(d.playerAlive());
    EXPECT_FALSE(isAliveEntity(d.world(), child));
    EXPECT_EQ(deaths(), 1u);
    ASSERT_EQ(d.deathEffects(), 1);
    for (u64 slot = 0; slot < d.world().getSlotCount(); ++slot) {
        if (slot == d.deathEffect.index() || !d.world().getComponentMask(slot).test(ScreenFade::kType)
            || d.world().getState(slot) != quern::entity::EntityState::Active)
            continue;
        const auto& fade = *static_cast<const ScreenFade*>(d.world().getComponent(slot, ScreenFade::kType));
        EXPECT_EQ(fade.direction, 1.0f);
        EXPECT_EQ(fade.speed, 1.0f / kDeathDelay);
        EXPECT_TRUE(d.world().getEnabledMask(slot).test(ScreenFade::kType));
        const auto& at = *static_cast<const Transform*>(d.world().getComponent(slot, Transform::kType));
        EXPECT_EQ(at.position.x, 3.0f);
        EXPECT_EQ(at.position.y, 4.0f);
    }

    d.tick(kBeforeRespawn - 1);
    EXPECT_EQ(d.takeRespawnRequests(), 0);
    d.tick(kAfterRespawn - kBeforeRespawn);
    EXPECT_EQ(d.takeRespawnRequests(), 1);
    EXPECT_EQ(d.coroutines->fixedTickList().count(), 0u);
}

TEST_F(DeathTriggerExtTest, ADeathDuringACutsceneEndsWithoutCountingOrRemovingThePlayer)
{
    struct Case {
        u8 playerControl;
        bool movementEnabled;
    };
    for (const Case c : { Case { 0, true }, Case { 1, false }, Case { 0, false } }) {
        SCOPED_TRACE(::testing::Message() << int(c.playerControl) << " " << c.movementEnabled);
        PlayerProfile::clear();
        DeathLevel d;
        d.startWithQuickSave();
        d.movement.playerControl = c.playerControl;
        d.input.movementEnabled = c.movementEnabled;
        d.touch(d.player, d.trigger);
        d.tick(kAfterRespawn);
        EXPECT_TRUE(d.playerAlive());
        EXPECT_EQ(deaths(), 0u);
        EXPECT_EQ(d.deathEffects(), 0);
        EXPECT_EQ(d.takeRespawnRequests(), 0);
        EXPECT_EQ(d.coroutines->fixedTickList().count(), 0u);
    }
}

TEST_F(DeathTriggerExtTest, TheSequenceWaitsTheDelaysCopiedAtDeathAfterThePlayerSlotIsReused)
{
    DeathLevel d;
    d.startWithQuickSave();
    killPlayer(d.world(), d.player, *d.coroutines);
    d.tick();
    ASSERT_FALSE(d.playerAlive());
    // The lowest free slot is the player's: its new owner has other delays,
    // and a prefab handle of its own.
    const EntityHandle squatter = d.level.scene.add("squatter", { "PlayerMovement" });
    ASSERT_EQ(squatter.index(), d.player.index());
    d.movementOf(squatter).deathDelay = 3.0f;
    d.movementOf(squatter).respawnDelay = 3.0f;
    d.world().activateEntities(&squatter, 1);

    d.tick(kBeforeRespawn - 1);
    EXPECT_EQ(d.takeRespawnRequests(), 0);
    d.tick(kAfterRespawn - kBeforeRespawn);
    EXPECT_EQ(d.takeRespawnRequests(), 1);
    EXPECT_TRUE(isActiveEntity(d.world(), squatter));
    EXPECT_EQ(deaths(), 1u);
}

TEST_F(DeathTriggerExtTest, TwoDeathsInOneTickCountAndRespawnOnce)
{
    DeathLevel d;
    const EntityHandle second = d.addDeathTrigger(2);
    d.startWithQuickSave();
    d.touch(d.player, d.trigger);
    d.touch(second, d.player);
    d.tick(kAfterRespawn);
    EXPECT_EQ(deaths(), 1u);
    EXPECT_EQ(d.deathEffects(), 1);
    EXPECT_EQ(d.takeRespawnRequests(), 1);
}

TEST_F(DeathTriggerExtTest, AFullAppEventRingStillTakesTheRespawnRequest)
{
    DeathLevel d(64);
    d.startWithQuickSave();
    killPlayer(d.world(), d.player, *d.coroutines);
    d.tick(kBeforeRespawn);
    d.takeRespawnRequests();
    while (d.level.events.queue.post(AppEventType::SaveProgress)) { }
    d.tick(kAfterRespawn - kBeforeRespawn);
    EXPECT_EQ(d.takeRespawnRequests(), 1);
}

TEST_F(DeathTriggerExtTest, WithoutAQuickSaveNoRespawnIsAskedFor)
{
    DeathLevel d;
    d.start();
    killPlayer(d.world(), d.player, *d.coroutines);
    d.tick(kAfterRespawn);
    EXPECT_FALSE(d.playerAlive());
    EXPECT_EQ(d.takeRespawnRequests(), 0);
    EXPECT_EQ(d.coroutines->fixedTickList().count(), 0u);
}

// Exits with 0 when a death with a zero death delay under floating-point
// traps leaves the fade whole and still asks for the respawn.
[[noreturn]] void dieWithoutDeathDelayUnderTraps()
{
    DeathLevel d;
    d.movementOf(d.player).deathDelay = 0.0f;
    d.startWithQuickSave();
    quern::platform::enableFloatingPointTraps();
    killPlayer(d.world(), d.player, *d.coroutines);
    d.tick(30);
    quern::platform::maskFloatingPointTraps();
    bool faded = false;
    for (u64 slot = 0; slot < d.world().getSlotCount(); ++slot) {
        if (slot != d.deathEffect.index() && d.world().getComponentMask(slot).test(ScreenFade::kType))
            faded = static_cast<const ScreenFade*>(d.world().getComponent(slot, ScreenFade::kType))->speed == 0.0f;
    }
    std::exit(faded && d.takeRespawnRequests() == 1 ? 0 : 1);
}

TEST_F(DeathTriggerExtTest, AZeroDeathDelayRaisesNoFloatingPointTrap)
{
    EXPECT_EXIT(dieWithoutDeathDelayUnderTraps(), ::testing::ExitedWithCode(0), "");
}

// An object with BreakOnContact and what touches it.
struct Breakable {
    explicit Breakable(bool triggerCollider, bool ignoreTriggers)
    {
        object = d.level.scene.add("crate", { "Collider", "Transform", "BreakOnContact" });
        d.level.transform(object).position = { -2.0f, 1.0f, 0.0f };
        piece = d.level.scene.add("plank", { "Transform" }, object);
        effect = d.level.scene.add("splinters", { "Transform", "Timer" }, {}, true);
        d.level.scene.get<BreakOnContact>(object).effectPrefab = effect;
        d.level.scene.get<BreakOnContact>(object).ignoreTriggers = ignoreTriggers ? 1 : 0;
        other = d.level.scene.add("rock", { "Collider", "Transform" });
        d.level.scene.get<Collider>(other).trigger = triggerCollider ? 1 : 0;
        d.start();
    }
    // Live clones of the effect prefab.
    int effects()
    {
        int count = 0;
        for (u64 slot = 0; slot < d.world().getSlotCount(); ++slot)
            count += slot != effect.index() && d.world().getState(slot) == quern::entity::EntityState::Active
                && d.world().getComponentMask(slot).test(Timer::kType);
        return count;
    }

    const Transform* effectClone()
    {
        for (u64 slot = 0; slot < d.world().getSlotCount(); ++slot) {
            if (slot != effect.index() && d.world().getComponentMask(slot).test(Timer::kType))
                return static_cast<const Transform*>(d.world().getComponent(slot, Transform::kType));
        }
        return nullptr;
    }

    DeathLevel d;
    EntityHandle object, piece, effect, other;
};

TEST_F(DeathTriggerExtTest, BreakOnContactBreaksUnlessATriggerTouchesAnObjectThatIgnoresTriggers)
{
    struct Case {
        bool triggerCollider, ignoreTriggers, objectFirst;
        bool breaks;
    };
    const Case cases[] = {
        { false, false, true, true },
        { false, true, false, true },
        { true, false, true, true },
        { true, true, true, false },
        { true, true, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.triggerCollider << c.ignoreTriggers << c.objectFirst);
        Breakable b(c.triggerCollider, c.ignoreTriggers);
        if (c.objectFirst)
            b.d.touch(b.object, b.other);
        else
            b.d.touch(b.other, b.object);
        EXPECT_EQ(isAliveEntity(b.d.world(), b.object), !c.breaks);
        EXPECT_EQ(isAliveEntity(b.d.world(), b.piece), !c.breaks);
        EXPECT_TRUE(isAliveEntity(b.d.world(), b.other));
        ASSERT_EQ(b.effects(), c.breaks ? 1 : 0);
        if (c.breaks) {
            EXPECT_EQ(b.effectClone()->position, (Vector3 { -2.0f, 1.0f, 0.0f }));
        }
    }
}

// Runs the pair's contact twice inside one fixed tick, as two contacts of
// the same object reach the dispatch.
bool touchTwice(void* userData, Coroutine& coroutine, World& world, AppContext& context)
{
    const auto& pair = *static_cast<const PairEvent*>(userData);
    onDeathTriggerContact(world, context, pair);
    onDeathTriggerContact(world, context, pair);
    coroutine.resumePoint = -1;
    return false;
}

TEST_F(DeathTriggerExtTest, AnObjectBreaksOnceWhenTouchedTwiceInOneTick)
{
    Breakable b(false, false);
    PairEvent pair { b.object.value, b.other.value };
    b.d.coroutines->start(&touchTwice, &pair);
    b.d.tick();
    EXPECT_FALSE(isAliveEntity(b.d.world(), b.object));
    EXPECT_EQ(b.effects(), 1);
}

TEST_F(DeathTriggerExtTest, AStaleHandleBreaksNothing)
{
    Breakable b(false, false);
    const EntityHandle stale = EntityHandle::make(b.object.index(), static_cast<u16>(b.object.generation() + 1));
    b.d.touch(stale, b.other);
    EXPECT_TRUE(isAliveEntity(b.d.world(), b.object));
    EXPECT_EQ(b.effects(), 0);
}

TEST_F(DeathTriggerExtTest, TheHarmonizeEffectHangsUnderThePlayerAtItsOrigin)
{
    DeathLevel d;
    const EntityHandle prefab = d.level.scene.add("sparkle", { "Transform" }, {}, true);
    Transform& prefabTransform = d.level.transform(prefab);
    prefabTransform.position = { 7.0f, 8.0f, 9.0f };
    prefabTransform.rotation = quern::math::Quaternion::fromYAxisRotation({ 1.0f, 0.0f, 0.0f });
    prefabTransform.scale = { 2.0f, 2.0f, 2.0f };
    d.level.scene.add("spark", { "Transform" }, prefab);
    d.movementOf(d.player).harmonizeEffectPrefab = prefab;
    d.start();
    PlayerView view;
    ASSERT_TRUE(findPlayerView(d.world(), d.player, view));
    const u64 before = d.world().liveEntityCount;
    spawnHarmonizeEffect(d.world(), view);
    ASSERT_EQ(d.world().liveEntityCount, before + 2);

    int roots = 0;
    for (u64 slot = 0; slot < d.world().getSlotCount(); ++slot) {
        const auto& t = *static_cast<const Transform*>(d.world().getComponent(slot, Transform::kType));
        if (slot == prefab.index() || t.parent != d.player
            || d.world().getState(slot) == quern::entity::EntityState::Free)
            continue;
        ++roots;
        EXPECT_EQ(t.position, (Vector3 {}));
        EXPECT_EQ(t.rotation, (quern::math::Quaternion {}));
        EXPECT_EQ(t.scale, (Vector3 { 1.0f, 1.0f, 1.0f }));
    }
    EXPECT_EQ(roots, 1);
}

TEST_F(DeathTriggerExtTest, NoHarmonizeEffectWithoutAValidPrefab)
{
    DeathLevel d;
    const EntityHandle noTransform = d.level.scene.add("sound", { "Race" }, {}, true);
    d.start();
    PlayerView view;
    ASSERT_TRUE(findPlayerView(d.world(), d.player, view));
    const u64 before = d.world().liveEntityCount;
    for (EntityHandle prefab : { EntityHandle {}, noTransform,
             EntityHandle::make(d.deathEffect.index(), static_cast<u16>(d.deathEffect.generation() + 1)) }) {
        d.movementOf(d.player).harmonizeEffectPrefab = prefab;
        spawnHarmonizeEffect(d.world(), view);
        EXPECT_EQ(d.world().liveEntityCount, before);
    }
}

} // namespace
} // namespace harmonize
