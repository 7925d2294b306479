#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/LineRendererSystem.h"
#include "harmonize/systems/MissileLauncherSystem.h"
#include "runtime/harmonize/collision/CollisionWorld.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

using quern::math::Vector3;
using testing::CollisionWorld;



// A machine at (0, 0, 0) with range 10, warm-up 0.05 s, shots every 0.03 s,
// cool-down 0.04 s and a beam that grows at 10 per second; a dormant missile
// prefab; the player, a unit box, at `at`. The machine is stepped by hand.
struct AlarmWorld : CollisionWorld {
    explicit AlarmWorld(const Vector3& at, bool wall = false)
    {
        lines = new LineRendererSystem(context);
        context.lineRenderer = lines;
        scene.addSystem(lines);
        prefab = scene.add("missile", { "Transform", "Missile" }, {}, true);
        machine = scene.add("alarm", { "Transform", "AlarmMachine", "Line" });
        AlarmMachine& m = record();
        m.range = 10.0f;
        m.missilePrefab = prefab;
        m.warmUpTime = 0.05f;
        m.shotInterval = 0.03f;
        m.coolDownTime = 0.04f;
        m.beamSpeed = 10.0f;
        player = scene.add(
            "player", { "Transform", "Collider", "BoxShape", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        scene.get<Transform>(player).position = at;
        scene.get<BoxShape>(player).size = { 1.0f, 1.0f, 1.0f };
        if (wall)
            box("wall", { 6.0f, 0.0f, 0.0f }, { 1.0f, 4.0f, 4.0f });
        start();
        world().getEnabledMask(machine.index()).reset(Line::kType);
        tick();
        world().deltaTime = kStepSeconds;
        AlarmMachine::start(machine, world(), lines);
    }
    void step(u32 count = 1)
    {
        PlayerView view;
        findPlayerView(world(), entityAt(world(), player.index()), view);
        world().deltaTime = kStepSeconds;
        for (u32 i = 0; i < count; ++i)
            AlarmMachine::step(machine, world(), view, *collision, nullptr, lines);
    }
    void movePlayer(const Vector3& at)
    {
        scene.get<Transform>(player).position = at;
        tick();
        world().deltaTime = kStepSeconds;
    }
    u64 missiles()
    {
        u64 n = 0;
        for (u64 i = 0; i < world().getSlotCount(); ++i)
            n += world().getState(i) == quern::entity::EntityState::Active
                && world().getComponentMask(i).test(Missile::kType);
        return n;
    }
    AlarmMachine& record() { return scene.get<AlarmMachine>(machine); }
    const quern::visuals::PolylinePoint& point(u64 i) { return lines->store().pointsA(machine.index())[i]; }

    LineRendererSystem* lines;
    EntityHandle prefab, machine, player;
};

TEST(AlarmMachineExt, StartShowsTheLineAndWindsTheTimers)
{
    AlarmWorld w({ 50.0f, 0.0f, 0.0f });
    const AlarmMachine& m = w.record();
    EXPECT_TRUE(w.world().getEnabledMask(w.machine.index()).test(Line::kType));
    EXPECT_EQ(w.lines->store().record(w.machine.index()).count, 2u);
    EXPECT_EQ(m.warmUpTimer, 0.05f);
    EXPECT_EQ(m.coolDownTimer, 0.04f);
    EXPECT_EQ(m.shotTimer, 0.03f);
    EXPECT_EQ(m.beamBlend, 0.0f);
    EXPECT_EQ(m.state, 0);
}

TEST(AlarmMachineExt, WarmsUpFiresAtOnceThenEveryIntervalAndCoolsDownWhenSightIsLost)
{
    AlarmWorld w({ 5.0f, 0.0f, 0.0f });
    quern::testing::LogCapture info(3);
    w.step();
    EXPECT_EQ(w.record().state, 1);
    EXPECT_NEAR(w.record().beamBlend, 0.1f, 1e-6f);
    EXPECT_NEAR(w.point(1).x, 0.5f, 1e-5f); // the beam a tenth of the way to the player
    EXPECT_EQ(w.point(0).x, 0.0f);
    EXPECT_NEAR(w.scene.get<Line>(w.machine).end.x, 0.5f, 1e-5f);
    w.step(3);
    EXPECT_EQ(w.record().state, 1);
    EXPECT_EQ(w.missiles(), 0u);
    w.step(); // warm-up over: the first shot in the same tick
    EXPECT_EQ(w.record().state, 2);
    EXPECT_EQ(w.missiles(), 1u);
    EXPECT_EQ(info.count("Shoot"), 1u);
    w.step(3);
    EXPECT_EQ(w.missiles(), 2u);

    // A machine that fires goes on firing out of range while it still sees
    // the player at each shot.
    w.movePlayer({ 12.0f, 0.0f, 0.0f });
    w.step(3);
    EXPECT_EQ(w.record().state, 2);
    EXPECT_EQ(w.missiles(), 3u);
}

TEST(AlarmMachineExt, AFiringMachineThatLosesSightAtAShotCoolsDownToIdle)
{
    AlarmWorld w({ 12.0f, 0.0f, 0.0f }, true);
    w.record().state = 2;
    w.step(2);
    EXPECT_EQ(w.record().state, 2);
    w.step(); // the shot is due, but the wall hides the player
    EXPECT_EQ(w.record().state, 3);
    EXPECT_EQ(w.missiles(), 0u);
    w.step(3);
    EXPECT_EQ(w.record().state, 3);
    w.step(2);
    EXPECT_EQ(w.record().state, 0);
}

TEST(AlarmMachineExt, TheMissileFliesAtThePlayerFromTheMachineOnThePlane)
{
    AlarmWorld w({ 0.0f, 5.0f, 0.0f });
    w.scene.get<Transform>(w.machine).position.z = 0.2f;
    w.movePlayer({ 0.0f, 5.0f, 0.0f });
    w.step(5);
    ASSERT_EQ(w.missiles(), 1u);
    for (u64 i = 0; i < w.world().getSlotCount(); ++i) {
        if (i == w.prefab.index() || !w.world().getComponentMask(i).test(Missile::kType))
            continue;
        const Missile& m = *static_cast<const Missile*>(w.world().getComponent(i, Missile::kType));
        const Transform& t = *static_cast<const Transform*>(w.world().getComponent(i, Transform::kType));
        EXPECT_EQ(t.position.z, 0.0f);
        EXPECT_EQ(m.target, entityAt(w.world(), w.player.index()));
        const f32 n = std::sqrt(25.0f + 0.04f);
        EXPECT_NEAR(m.direction.y, 5.0f / n, 1e-5f);
        EXPECT_NEAR(m.direction.z, -0.2f / n, 1e-5f);
    }
}

TEST(AlarmMachineExt, RangeIgnoresDepth)
{
    // 9 away in the plane, more than the range of 10 in space; the sweep
    // from the plane along the unnormalised offset reaches the player.
    AlarmWorld w({ 9.0f, 0.0f, 5.0f });
    w.step();
    EXPECT_EQ(w.record().state, 1);
}

TEST(AlarmMachineExt, LeavingTheRangeWhileWarmingUpCoolsDownAndAShortCoolDownLeavesBeamStanding)
{
    AlarmWorld w({ 5.0f, 0.0f, 0.0f });
    w.step(3);
    EXPECT_EQ(w.record().state, 1);
    EXPECT_NEAR(w.record().beamBlend, 0.3f, 1e-6f);
    w.record().coolDownTime = 0.015f; // shorter than the beam takes to shrink
    w.movePlayer({ 20.0f, 0.0f, 0.0f });
    w.step();
    EXPECT_EQ(w.record().state, 3);
    EXPECT_EQ(w.record().warmUpTimer, 0.05f);
    EXPECT_EQ(w.record().shotTimer, 0.03f);
    EXPECT_NEAR(w.record().beamBlend, 0.2f, 1e-6f);
    w.step();
    EXPECT_EQ(w.record().state, 0);
    EXPECT_NEAR(w.record().beamBlend, 0.2f, 1e-6f); // cooled down before the beam was gone
    w.step(5);
    EXPECT_NEAR(w.record().beamBlend, 0.2f, 1e-6f);
    EXPECT_NEAR(w.point(1).x, 1.0f * 4.0f, 1e-4f); // a fifth of the way to the player at 20
}

TEST(AlarmMachineExt, NothingHappensWithoutAPlayer)
{
    AlarmWorld w({ 5.0f, 0.0f, 0.0f });
    PlayerView nobody;
    AlarmMachine::step(w.machine, w.world(), nobody, *w.collision, nullptr, w.lines);
    EXPECT_EQ(w.record().state, 0);
    EXPECT_EQ(w.record().beamBlend, 0.0f);
}

} // namespace
} // namespace harmonize
