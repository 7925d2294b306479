// The demo's hazards level through the App: the level built by the content
// tool, every registered system ticking, one fixed tick per frame. Its scripted
// replay walks the player past launchers, flying enemies, the alarm machine
// and the water jets into the jet that kills it; the test reads each device's
// work from the world on the way. Deaths and quick-save restores over and
// over keep one head per flying enemy; a live run fed through SDL records a
// replay with checksums that plays back without a mismatch, threading off
// and on.

#include "DemoLevelTest.h"
#include "ScriptedKeys.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/extensions/DeathTriggerExt.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/ParticleSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/WaterFlowSystem.h"
#include "quern/entity/World.h"
#include "quern/graphics/BatchVertex.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/visuals/Visual.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace harmonize {
namespace {

namespace fs = std::filesystem;
using quern::math::Vector3;
using testing::firstTick;

constexpr i32 kCourseTicks = 3600; // the script's length and a little more

// The level as one fixed tick left it.
struct Sample {
    i32 tick;
    bool alive;
    f32 x, y;
    i32 race;
    i32 aimMissiles, homingMissiles, alarmMissiles, splashes;
    Vector3 homing; // the newest homing missile, when there is one
    i32 alarmState;
    f32 beamBlend;
    f32 sourceJet, killJet; // lengths
    Vector3 loopEnemy, patrolEnemy;
    f32 loopHeading, patrolHeading;
    f32 reload; // the corridor launcher's countdown
};

class HazardsLevelTest : public testing::DemoLevelTest {
protected:
    HazardsLevelTest() : DemoLevelTest("hazards") {}

    std::unique_ptr<App> startLevel()
    {
        auto app = startApp();
        quern::entity::World& w = world(*app);
        player = testing::entityNamed(w, "player");
        alarm = testing::entityNamed(w, "alarm");
        sourceJet = testing::entityNamed(w, "sourceJet");
        killJet = testing::entityNamed(w, "killJet");
        loopEnemy = testing::entityNamed(w, "loopEnemy");
        patrolEnemy = testing::entityNamed(w, "patrolEnemy");
        corridorLauncher = testing::entityNamed(w, "corridorLauncher");
        for (const char* prefab : { "aimMissile", "homingMissile", "alarmMissile", "splash", "dustEffect" })
            prefabs.push_back(testing::entityNamed(w, prefab));
        return app;
    }
    // The live clones of a prefab: entities of its name but the prefab.
    std::vector<EntityHandle> clonesOf(App& app, const char* name)
    {
        quern::entity::World& w = world(app);
        std::vector<EntityHandle> found;
        for (u64 i = 0; i < w.getSlotCount(); ++i) {
            const EntityHandle e = entityAt(w, i);
            if (w.isValid(e) && w.isActive(e) && std::strcmp(w.getEntityName(e), name) == 0
                && std::find(prefabs.begin(), prefabs.end(), e) == prefabs.end())
                found.push_back(e);
        }
        return found;
    }
    Vector3 positionOf(App& app, EntityHandle e) { return worldPositionOf(world(app), at<Transform>(app, e)); }
    // One frame of one fixed step; returns the level as the tick left it.
    Sample frame(App& app, i32 tick)
    {
        step(app);
        quern::entity::World& w = world(app);
        Sample s {};
        s.tick = tick;
        s.alive = w.isValid(player) && w.isActive(player);
        const Transform& t = at<Transform>(app, player);
        s.x = t.position.x;
        s.y = t.position.y;
        s.race = at<Race>(app, player).value;
        s.aimMissiles = static_cast<i32>(clonesOf(app, "aimMissile").size());
        const std::vector<EntityHandle> homing = clonesOf(app, "homingMissile");
        s.homingMissiles = static_cast<i32>(homing.size());
        if (!homing.empty())
            s.homing = positionOf(app, homing.back());
        s.alarmMissiles = static_cast<i32>(clonesOf(app, "alarmMissile").size());
        s.splashes = static_cast<i32>(clonesOf(app, "splash").size());
        const AlarmMachine& m = at<AlarmMachine>(app, alarm);
        s.alarmState = m.state;
        s.beamBlend = m.beamBlend;
        s.sourceJet = at<WaterFlow>(app, sourceJet).length;
        s.killJet = at<WaterFlow>(app, killJet).length;
        s.loopEnemy = positionOf(app, loopEnemy);
        s.patrolEnemy = positionOf(app, patrolEnemy);
        s.loopHeading = at<FlyingEnemy>(app, loopEnemy).heading;
        s.patrolHeading = at<FlyingEnemy>(app, patrolEnemy).heading;
        s.reload = at<MissileLauncher>(app, corridorLauncher).reloadCountdown;
        return s;
    }
    ParticleSystem& particles(App& app) { return *app.context(app.currentLevelWorld()).particles; }
    // The live particles of an entity's emitter; 0 when it has none.
    u64 liveParticles(App& app, EntityHandle e)
    {
        const ParticleEmitterRecord* record = particles(app).emitter(e.index());
        return record ? record->pool.count : 0;
    }
    CoroutineSystem& coroutines(App& app)
    {
        quern::entity::World& w = world(app);
        for (u64 i = 0; i < w.getSystemCount(); ++i)
            if (auto* found = dynamic_cast<CoroutineSystem*>(w.getSystem(i)))
                return *found;
        ADD_FAILURE() << "no coroutine system";
        std::abort();
    }
    EntityHandle player, alarm, sourceJet, killJet, loopEnemy, patrolEnemy, corridorLauncher;
    std::vector<EntityHandle> prefabs;
};

// Writes the run beside the test binary, one line a tick, for a person to read.
void saveTrace(const std::vector<Sample>& samples, const char* name)
{
    std::ofstream out(fs::path(QUERN_TEST_BINARY_DIR) / name);
    for (const Sample& s : samples)
        out << s.tick << " " << (s.alive ? "" : "dead ") << s.x << " " << s.y << " race " << s.race << " missiles "
            << s.aimMissiles << "/" << s.homingMissiles << "/" << s.alarmMissiles << " homing " << s.homing.x << ","
            << s.homing.y << " alarm " << s.alarmState << " " << s.beamBlend << " jets " << s.sourceJet << " "
            << s.killJet << " splashes " << s.splashes << " loop " << s.loopEnemy.x << "," << s.loopEnemy.y << " "
            << s.loopHeading << " patrol " << s.patrolEnemy.x << "," << s.patrolEnemy.y << " " << s.patrolHeading
            << " reload " << s.reload << "\n";
}

TEST_F(HazardsLevelTest, TheScriptedReplayMeetsEveryHazard)
{
    Settings::Replay.file = "hazards.replay";
    quern::testing::LogCapture log(3);
    auto app = startLevel();
    std::vector<Sample> samples;
    for (i32 tick = 0; tick < kCourseTicks; ++tick)
        samples.push_back(frame(*app, tick));
    app->shutdown();
    saveTrace(samples, "hazards-replay-trace.txt");
    std::ofstream(fs::path(QUERN_TEST_BINARY_DIR) / "hazards-replay-log.txt") << log.text();
    const auto at = [&](i32 tick) -> const Sample& { return samples[static_cast<size_t>(tick)]; };

    // Behind the low wall the player stands within the corridor launcher's
    // sight length, yet the wall hides it: nothing is fired until it jumps.
    const i32 behindWall = firstTick(samples, 0, [](const Sample& s) { return s.x > 10.5f; });
    const i32 jumped = firstTick(samples, behindWall, [](const Sample& s) { return s.y > 2.0f; });
    ASSERT_GE(behindWall, 0);
    ASSERT_GT(jumped - behindWall, 100);
    for (i32 tick = behindWall; tick < jumped; ++tick) {
        ASSERT_LT(at(tick).x, 12.3f) << "tick " << tick;
        ASSERT_EQ(at(tick).aimMissiles, 0) << "tick " << tick;
    }
    const i32 fired = firstTick(samples, jumped, [](const Sample& s) { return s.aimMissiles > 0; });
    ASSERT_GT(fired, jumped);
    EXPECT_LT(fired - jumped, 100);

    // The overhead launcher drops a homing missile that follows the player
    // right across the gap and onto the enemies' floor.
    const i32 homingOut = firstTick(samples, jumped, [](const Sample& s) { return s.homingMissiles > 0; });
    ASSERT_GE(homingOut, 0);
    EXPECT_NEAR(at(homingOut).homing.x, 28.0f, 0.5f);
    const Sample& later = at(homingOut + 400);
    EXPECT_EQ(later.homingMissiles, 1);
    EXPECT_GT(later.homing.x, at(homingOut).homing.x + 5.0f);
    // It closes on the player: nearer than the player is to where it started.
    EXPECT_LT(std::hypot(later.homing.x - later.x, later.homing.y - later.y),
        std::hypot(at(homingOut).homing.x - later.x, at(homingOut).homing.y - later.y) - 3.0f);

    // The looping enemy keeps to its circle; the patrol turns back at both
    // ends; standing under the patrol, the player draws its head's aim and
    // its launcher's missiles.
    f32 patrolLeft = 100.0f, patrolRight = -100.0f;
    for (const Sample& s : samples) {
        EXPECT_NEAR(std::hypot(s.loopEnemy.x - 38.0f, s.loopEnemy.y - 5.0f), 2.0f, 0.05f) << "tick " << s.tick;
        if (s.tick > 200) {
            patrolLeft = std::min(patrolLeft, s.patrolEnemy.x);
            patrolRight = std::max(patrolRight, s.patrolEnemy.x);
        }
    }
    EXPECT_NEAR(patrolLeft, 44.0f, 0.05f);
    EXPECT_NEAR(patrolRight, 54.0f, 0.05f);
    const i32 underPatrol = firstTick(samples, homingOut, [](const Sample& s) { return s.x > 44.5f; });
    ASSERT_GE(underPatrol, 0);
    EXPECT_GE(firstTick(samples, underPatrol, [](const Sample& s) {
        return std::fabs(s.patrolHeading - std::atan2(s.x - s.patrolEnemy.x, s.y - s.patrolEnemy.y)) < 0.02f;
    }), 0);
    EXPECT_GE(firstTick(samples, underPatrol, [&](const Sample& s) { return s.aimMissiles > 0 && s.x < 46.0f; }), 0);

    // The alarm machine warms up with its beam, fires, cools down once the
    // roof hides the player and rests: 0, 1, 2, 3, 0. (On the way in, the
    // player steps out of its range once while it warms up: it cools down
    // and warms up again.)
    const i32 died = firstTick(samples, 0, [](const Sample& s) { return !s.alive; });
    ASSERT_GT(died, 0);
    std::vector<i32> states { at(0).alarmState };
    for (i32 tick = 0; tick < died; ++tick)
        if (at(tick).alarmState != states.back())
            states.push_back(at(tick).alarmState);
    EXPECT_EQ(states, (std::vector<i32> { 0, 1, 3, 1, 2, 3, 0 }));
    const i32 firing = firstTick(samples, 0, [](const Sample& s) { return s.alarmState == 2; });
    i32 warming = firing;
    while (warming > 0 && at(warming - 1).alarmState == 1)
        --warming;
    const i32 cooling = firstTick(samples, firing, [](const Sample& s) { return s.alarmState == 3; });
    const i32 resting = firstTick(samples, cooling, [](const Sample& s) { return s.alarmState == 0; });
    EXPECT_NEAR(firing - warming, 100, 2); // the warm-up time
    EXPECT_EQ(at(firing).beamBlend, 1.0f);
    EXPECT_NEAR(resting - cooling, 100, 2); // the cool-down time
    EXPECT_EQ(at(resting).beamBlend, 0.0f);
    EXPECT_GT(at(cooling).x, 69.0f); // under the roof
    EXPECT_GE(firstTick(samples, firing, [](const Sample& s) { return s.alarmMissiles > 0; }), 0);
    const std::string text = log.text();
    size_t shots = 0;
    for (size_t found = text.find("Shoot"); found != std::string::npos; found = text.find("Shoot", found + 1))
        ++shots;
    EXPECT_GE(shots, 3u);

    // The sweeper cuts the first jet from its full 13 units to 2 at once,
    // which splashes; the jet grows back at its speed.
    const i32 cut = firstTick(samples, 1, [&](const Sample& s) { return s.sourceJet < 3.0f; });
    ASSERT_GT(cut, 0);
    EXPECT_NEAR(at(cut - 1).sourceJet, 13.0f, 1e-3f);
    EXPECT_NEAR(at(cut).sourceJet, 2.0f, 1e-3f);
    EXPECT_EQ(at(cut).splashes, 1);
    const i32 full = firstTick(samples, cut, [](const Sample& s) { return s.sourceJet == 13.0f; });
    EXPECT_GT(full - cut, 50);

    // The jet in the path kills the player; the quick save of the level's
    // start brings it back at the spawn point.
    EXPECT_NEAR(at(died).x, 82.5f, 1.0f);
    EXPECT_NEAR(at(died).killJet, 5.0f, 1e-3f);
    const size_t death = text.find("Player died after ");
    ASSERT_NE(death, std::string::npos);
    EXPECT_NE(text.find("Restoring quick save", death), std::string::npos);
    const i32 back = firstTick(samples, died, [](const Sample& s) { return s.alive; });
    ASSERT_GT(back, died);
    EXPECT_EQ(at(back).x, -10.0f);
    EXPECT_EQ(at(back).alarmState, 0);
    // The restored level has no splash: the entities that took the dead
    // player's slots went with the restore, and the player got its name back.
    EXPECT_EQ(at(back).splashes, 0);
}

// The coroutine records of the fixed-tick list by callback.
std::map<CoroutineCallback, i32> coroutinesByCallback(CoroutineSystem& coroutines)
{
    std::map<CoroutineCallback, i32> found;
    quern::containers::Array& list = coroutines.fixedTickList();
    for (u64 i = 0; i < list.count(); ++i) {
        const Coroutine& c = list.at<Coroutine>(i);
        if (c.status != CoroutineStatus::Finished)
            ++found[c.callback];
    }
    return found;
}

// Killed and brought back by the quick save ten times, the level keeps one
// head coroutine per flying enemy, and nothing else piles up in the list.
TEST_F(HazardsLevelTest, TenDeathsAndRestoresKeepOneHeadPerFlyingEnemy)
{
    auto app = startLevel();
    for (i32 tick = 0; tick < 20; ++tick)
        step(*app);
    const std::map<CoroutineCallback, i32> before = coroutinesByCallback(coroutines(*app));
    EXPECT_TRUE(FlyingEnemy::hasHead(loopEnemy, coroutines(*app)));
    EXPECT_TRUE(FlyingEnemy::hasHead(patrolEnemy, coroutines(*app)));
    for (int cycle = 0; cycle < 10; ++cycle) {
        SCOPED_TRACE(cycle);
        killPlayer(world(*app), player, coroutines(*app));
        step(*app);
        i32 ticks = 1;
        for (; ticks < 400 && !(world(*app).isValid(player) && world(*app).isActive(player)); ++ticks)
            step(*app);
        ASSERT_GT(ticks, 100); // the death and respawn delays
        ASSERT_LT(ticks, 400);
        for (i32 tick = 0; tick < 20; ++tick)
            step(*app);
        EXPECT_EQ(coroutinesByCallback(coroutines(*app)), before);
        EXPECT_TRUE(FlyingEnemy::hasHead(loopEnemy, coroutines(*app)));
        EXPECT_TRUE(FlyingEnemy::hasHead(patrolEnemy, coroutines(*app)));
    }
    app->shutdown();
}

// The player's landing at the start raises a dust puff: one burst from the
// feet, whose entity goes with its last particle, well before its timer.
// While it lives, the quads the frame uploaded into the null device's
// buffer are the puff's particles.
TEST_F(HazardsLevelTest, TheDustPuffOfALandingGoesWithItsLastParticle)
{
    auto app = startLevel();
    EntityHandle puff;
    i32 born = -1;
    for (i32 tick = 0; tick < 300 && born < 0; ++tick) {
        step(*app);
        const std::vector<EntityHandle> puffs = clonesOf(*app, "dustEffect");
        if (!puffs.empty()) {
            puff = puffs.front();
            born = tick;
        }
    }
    ASSERT_GE(born, 0) << "no dust puff";
    quern::entity::World& w = world(*app);
    EXPECT_EQ(liveParticles(*app, puff), 14u); // the whole burst at once
    const Vector3 feet = positionOf(*app, puff);
    EXPECT_NEAR(feet.x, at<Transform>(*app, player).position.x, 0.5f);

    quern::visuals::Visual* visual = app->context(app->currentLevelWorld()).render->visual(puff.index());
    ASSERT_NE(visual, nullptr);
    ASSERT_NE(visual->vertexBuffer(), nullptr);
    const quern::particles::ParticlePool& pool = particles(*app).emitter(puff.index())->pool;
    std::vector<quern::graphics::BatchVertex> expected(pool.count * 4);
    pool.buildQuads(expected.data());
    const u8* uploaded
        = visual->vertexBuffer()->lockVertices(quern::containers::BufferBase::Lock::Read, 0, expected.size());
    EXPECT_EQ(std::memcmp(uploaded, expected.data(), expected.size() * sizeof expected[0]), 0);
    visual->vertexBuffer()->unlockVertices();

    i32 gone = -1;
    u64 lastCount = 0;
    for (i32 tick = born + 1; tick < born + 200 && gone < 0; ++tick) {
        step(*app);
        if (!w.isValid(puff))
            gone = tick;
        else
            lastCount = liveParticles(*app, puff);
    }
    ASSERT_GE(gone, 0) << "the puff outlived its particles";
    EXPECT_EQ(lastCount, 0u);
    // Lifetimes are 0.5 to 0.8 s at one 10 ms frame a tick; the timer's 2 s
    // never came.
    EXPECT_GE(gone - born, 50);
    EXPECT_LE(gone - born, 85);
    app->shutdown();
}

// Where the sweeper cuts the jet behind the path, the splash's drops fall
// onto the floor (its top at y 0) and stay on it: they collide.
TEST_F(HazardsLevelTest, TheSplashDropsFallOntoTheFloorAndStayThere)
{
    auto app = startLevel();
    i32 splashes = 0;
    f32 lowest = 100.0f;
    i32 resting = 0; // drops seen on the floor, nearly still
    std::vector<EntityHandle> seen;
    for (i32 tick = 0; tick < kCourseTicks; ++tick) {
        step(*app);
        for (EntityHandle e : clonesOf(*app, "splash")) {
            if (std::find(seen.begin(), seen.end(), e) == seen.end()) {
                seen.push_back(e);
                ++splashes;
            }
            const ParticleEmitterRecord* record = particles(*app).emitter(e.index());
            ASSERT_NE(record, nullptr);
            EXPECT_TRUE(record->colliding) << "the splash's drops have no bodies";
            const quern::particles::ParticlePool& pool = record->pool;
            for (u64 i = 0; i < pool.count; ++i) {
                if (pool.x[i] < 66.0f || pool.x[i] > 96.0f)
                    continue; // off the alarm floor
                lowest = std::min(lowest, pool.y[i]);
                if (pool.y[i] < 0.3f && std::fabs(pool.vy[i]) < 1.0f)
                    ++resting;
            }
        }
        if (splashes >= 3 && tick % 100 == 0 && clonesOf(*app, "splash").empty())
            break;
    }
    ASSERT_GE(splashes, 1) << "the sweeper never cut the jet";
    EXPECT_GT(resting, 0) << "no drop came to rest on the floor";
    // Falling at 12 units/s/s for up to 2.2 s a drop would end far below the
    // floor's top without its body. At about 13 units/s it may sink a frame
    // or two of its fall (0.13 each) into it before its body is pushed out.
    EXPECT_GT(lowest, -0.4f);
    app->shutdown();
}

// A run driven by the script's keys through SDL, recorded with checksums,
// plays back into a freshly loaded level without a mismatch.
class HazardsLevelRecordingTest : public HazardsLevelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HazardsLevelRecordingTest, ALiveRunRecordedWithChecksumsPlaysBackWithoutAMismatch)
{
    Settings::Threading.enabled = GetParam();
    std::vector<Sample> live, replayed;
    std::string warnings;
    recordAndPlayBack(
        kCourseTicks, [&] { return startLevel(); }, [&](App& app, i32 tick) { return frame(app, tick); }, live, replayed, warnings);
    if (HasFatalFailure())
        return;
    // The live run went the whole way: it died in the jet and came back.
    EXPECT_GE(firstTick(live, 0, [](const Sample& s) { return !s.alive; }), 0);
    EXPECT_TRUE(live.back().alive);
    EXPECT_EQ(warnings.find("checksum differs"), std::string::npos) << warnings.substr(0, 2000);
    ASSERT_EQ(replayed.size(), live.size());
    for (size_t i = 0; i < live.size(); ++i) {
        ASSERT_EQ(replayed[i].x, live[i].x) << "tick " << i;
        ASSERT_EQ(replayed[i].y, live[i].y) << "tick " << i;
        ASSERT_EQ(replayed[i].alarmState, live[i].alarmState) << "tick " << i;
        ASSERT_EQ(replayed[i].sourceJet, live[i].sourceJet) << "tick " << i;
        ASSERT_EQ(replayed[i].homing.x, live[i].homing.x) << "tick " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Threading, HazardsLevelRecordingTest, ::testing::Values(false, true),
    [](const auto& info) { return info.param ? "ThreadingOn" : "ThreadingOff"; });

} // namespace
} // namespace harmonize
