#include "harmonize/Scenario.h"
#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/TimerSystem.h"

#include "quern/platform/FloatingPointTraps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace harmonize {
namespace {

using quern::math::Vector3;
using testing::Scenario;

// A world of timers at the game's 0.01 s step.
struct TimerWorld {
    TimerWorld()
    {
        quern::entity::setTickInterval(0.01f);
        scene.addSystem(timers);
        smoke = scene.add("smoke", { "Transform" }, {}, true);
    }
    ~TimerWorld() { quern::entity::setTickInterval(1.0f / 60.0f); }

    EntityHandle addTimed(const char* name, f32 lifetime, EntityHandle prefab = {})
    {
        const EntityHandle e = scene.add(name, { "Transform", "Timer" });
        scene.get<Timer>(e).lifetime = lifetime;
        scene.get<Timer>(e).prefab = prefab;
        return e;
    }
    void start()
    {
        scene.world().attachSystems(nullptr);
        scene.start();
    }
    bool alive(EntityHandle e) { return isAliveEntity(scene.world(), e); }
    u64 entryCount() { return timers->entries().count(); }
    const TimerEntry& entry(u64 i) { return timers->entries().at<TimerEntry>(i); }
    // The live clones of the smoke prefab.
    u64 smokeCount()
    {
        quern::entity::World& w = scene.world();
        u64 count = 0;
        for (u64 i = 0; i < w.getSlotCount(); ++i) {
            const EntityHandle e = EntityHandle::make(static_cast<u16>(i), w.getGeneration(i));
            if (e != smoke && w.isValid(e) && std::strcmp(w.getEntityName(e), "smoke") == 0)
                ++count;
        }
        return count;
    }

    Scenario scene { 32 };
    TimerSystem* timers = new TimerSystem;
    EntityHandle smoke;
};

TEST(TimerSystem, ATimerDestroysItsSubtreeOnItsLastTick)
{
    TimerWorld w;
    const EntityHandle timed = w.addTimed("timed", 0.5f);
    const EntityHandle child = w.scene.add("child", { "Transform" }, timed);
    w.start();
    EXPECT_EQ(w.timers->ticksPerSecond(), 100.0f);
    w.scene.tick(49);
    EXPECT_TRUE(w.alive(timed));
    EXPECT_EQ(w.entry(0).ticksLeft, 1);
    w.scene.tick();
    EXPECT_FALSE(w.alive(timed));
    EXPECT_FALSE(w.alive(child));
    EXPECT_EQ(w.entryCount(), 0u);
}

TEST(TimerSystem, LifetimesBecomeWholeTicksRoundedDown)
{
    struct Case {
        f32 lifetime;
        i32 ticks; // 0: not scheduled at all
    };
    const Case cases[] = {
        { 0.01f, 1 },
        { 0.029f, 2 },
        { 0.5f, 50 },
        // Ending before the first tick: such a timer would never reach 0 again.
        { 0.0f, 0 },
        { 0.00999f, 0 },
        { -0.5f, 0 },
        { -0.0f, 0 },
        { std::numeric_limits<f32>::quiet_NaN(), 0 },
        { std::numeric_limits<f32>::denorm_min(), 0 },
        { -std::numeric_limits<f32>::infinity(), 0 },
        // Beyond the count: never ends.
        { 1e30f, std::numeric_limits<i32>::max() },
        { std::numeric_limits<f32>::infinity(), std::numeric_limits<i32>::max() },
    };
    for (const Case& c : cases) {
        TimerWorld w;
        const EntityHandle timed = w.addTimed("timed", c.lifetime, w.smoke);
        w.scene.world().attachSystems(nullptr);
        // No lifetime from a level may trap the game.
        quern::platform::enableFloatingPointTraps();
        w.scene.start();
        quern::platform::maskFloatingPointTraps();
        if (c.ticks == 0) {
            EXPECT_EQ(w.entryCount(), 0u) << c.lifetime;
            w.scene.tick(3);
            EXPECT_TRUE(w.alive(timed)) << c.lifetime;
            continue;
        }
        ASSERT_EQ(w.entryCount(), 2u) << c.lifetime;
        EXPECT_EQ(w.entry(0).ticksLeft, c.ticks) << c.lifetime;
        EXPECT_EQ(w.entry(1).ticksLeft, c.ticks) << c.lifetime;
    }
}

TEST(TimerSystem, ThePrefabIsPlacedFromTheEntityBeforeItGoes)
{
    TimerWorld w;
    const EntityHandle first = w.addTimed("first", 0.03f, w.smoke);
    w.scene.get<Transform>(first).position = { 3, 4, 0 };
    const EntityHandle second = w.addTimed("second", 0.03f);
    const EntityHandle later = w.addTimed("later", 0.05f);
    w.start();
    ASSERT_EQ(w.entryCount(), 4u);
    EXPECT_EQ(w.entry(0).action, TimerEntry::Spawn);
    EXPECT_EQ(w.entry(0).subject, w.smoke);
    EXPECT_EQ(w.entry(0).place, first);
    EXPECT_EQ(w.entry(1).action, TimerEntry::Destroy);
    EXPECT_EQ(w.entry(1).subject, first);
    EXPECT_EQ(w.entry(2).subject, second);
    EXPECT_EQ(w.entry(3).subject, later);
    w.scene.tick(3);
    EXPECT_FALSE(w.alive(first));
    EXPECT_FALSE(w.alive(second));
    EXPECT_TRUE(w.alive(later));
    ASSERT_EQ(w.smokeCount(), 1u);
    ASSERT_EQ(w.entryCount(), 1u);
    EXPECT_EQ(w.entry(0).subject, later);
    for (u64 i = 0; i < w.scene.world().getSlotCount(); ++i) {
        const EntityHandle e = EntityHandle::make(static_cast<u16>(i), w.scene.world().getGeneration(i));
        if (e != w.smoke && w.alive(e) && std::strcmp(w.scene.world().getEntityName(e), "smoke") == 0) {
            const Vector3 at = worldPositionOf(w.scene.world(), w.scene.get<Transform>(e));
            EXPECT_EQ(at.x, 3.0f);
            EXPECT_EQ(at.y, 4.0f);
        }
    }
}

TEST(TimerSystem, APrefabHandleThatNamesNothingSchedulesOnlyTheDestruction)
{
    for (const EntityHandle prefab : { EntityHandle::make(5, 0), EntityHandle::make(0xffff, 3) }) {
        TimerWorld w;
        w.addTimed("timed", 0.02f, prefab);
        w.start();
        ASSERT_EQ(w.entryCount(), 1u);
        EXPECT_EQ(w.entry(0).action, TimerEntry::Destroy);
    }
}

TEST(TimerSystem, OnlyEnabledTimersOfCreatedEntitiesAreScheduled)
{
    TimerWorld w;
    const EntityHandle off = w.addTimed("off", 0.02f);
    w.scene.world().getEnabledMask(off.index()).reset(Timer::kType);
    w.start();
    EXPECT_EQ(w.entryCount(), 0u);
    // An entity made while the level runs is scheduled when it is created.
    const EntityHandle late = w.addTimed("late", 0.02f);
    w.scene.world().activateEntities(&late, 1);
    ASSERT_EQ(w.entryCount(), 1u);
    w.scene.tick(2);
    EXPECT_FALSE(w.alive(late));
    EXPECT_TRUE(w.alive(off));
}

// The timer's entity went by other means and its slot was taken: the entry
// fires on a stale handle and touches nothing.
TEST(TimerSystem, AnEntryOfAVanishedEntityFiresOnNothing)
{
    TimerWorld w;
    const EntityHandle timed = w.addTimed("timed", 0.03f, w.smoke);
    w.start();
    w.scene.world().destroyEntities(&timed, 1);
    const EntityHandle newcomer = w.scene.add("newcomer", { "Transform" });
    ASSERT_EQ(newcomer.index(), timed.index());
    w.scene.world().activateEntities(&newcomer, 1);
    w.scene.tick(3);
    EXPECT_TRUE(w.alive(newcomer));
    EXPECT_EQ(w.smokeCount(), 0u);
    EXPECT_EQ(w.entryCount(), 0u);
}

TEST(TimerSystem, TheSavedListBringsBackTheEntriesAsTheyWere)
{
    TimerWorld w;
    const EntityHandle timed = w.addTimed("timed", 0.1f, w.smoke);
    w.start();
    w.scene.tick(4);
    w.timers->saveSnapshot();
    ASSERT_EQ(w.timers->savedEntries().count(), 2u);
    w.scene.tick(6);
    EXPECT_FALSE(w.alive(timed));
    EXPECT_EQ(w.entryCount(), 0u);
    w.timers->restoreSnapshot();
    ASSERT_EQ(w.entryCount(), 2u);
    EXPECT_EQ(w.entry(0).ticksLeft, 6);
    EXPECT_EQ(w.entry(0).action, TimerEntry::Spawn);
    EXPECT_EQ(w.entry(1).ticksLeft, 6);
    EXPECT_EQ(w.entry(1).subject, timed);
}

TEST(TimerSystem, AttachReservesBothListsAndDetachDropsEverything)
{
    TimerWorld w;
    w.addTimed("timed", 0.1f);
    w.start();
    w.timers->saveSnapshot();
    EXPECT_GE(w.timers->entries().capacity(), TimerSystem::kReservedEntries);
    EXPECT_GE(w.timers->savedEntries().capacity(), TimerSystem::kReservedEntries);
    w.timers->detach(nullptr);
    EXPECT_EQ(w.entryCount(), 0u);
    EXPECT_EQ(w.timers->entries().capacity(), 0u);
    EXPECT_EQ(w.timers->savedEntries().count(), 0u);
    EXPECT_EQ(w.timers->savedEntries().capacity(), 0u);
    w.timers->attach(nullptr);
    EXPECT_EQ(w.timers->entries().capacity(), TimerSystem::kReservedEntries);
}

TEST(TimerSystem, DescribesItselfWithTheStandardDefaults)
{
    TimerWorld w;
    quern::entity::SystemInfo info {};
    w.timers->describe(&info);
    EXPECT_STREQ(info.name, "TimerSystem");
    EXPECT_EQ(info.kind, 2);
    EXPECT_EQ(info.tickInterval, 0.01f);
    EXPECT_EQ(info.timeLimit, 1'000'000);
    EXPECT_EQ(info.tickLimit, 0);
    EXPECT_EQ(info.timeScale, 1.0f);
}

} // namespace
} // namespace harmonize
