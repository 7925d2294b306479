#include "harmonize/systems/WaterFlowSystem.h"

#include "../collision/CollisionWorld.h"

#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/tasks/TaskDispatcher.h"

#include "quern/entity/World.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numbers>
#include <vector>

namespace harmonize {
namespace {

using quern::math::Quaternion;
using quern::math::Vector3;
using testing::CollisionWorld;

constexpr u32 kBlockLayer = 3;

// Jets pour down from y = 0; walls are unit-thick boxes whose top face lies
// `depth` below a jet at x.
struct WaterWorld : CollisionWorld {
    explicit WaterWorld(TaskDispatcher* dispatcher = nullptr)
        : CollisionWorld(128)
    {
        context.services.taskDispatcher = dispatcher;
        coroutines = new CoroutineSystem(context);
        context.coroutine = coroutines;
        scene.addSystem(coroutines);
        water = new WaterFlowSystem(context);
        scene.addSystem(water);
        bodyPrefab = scene.add("body", { "Transform", "TextureScroll", "Collider", "BoxShape" }, {}, true);
        splashPrefab = scene.add("splash", { "Transform" }, {}, true);
    }

    EntityHandle jet(f32 x, f32 maxLength = 20.0f, i32 race = 0)
    {
        const EntityHandle e = scene.add("jet", { "Transform", "WaterFlow", "Race" });
        scene.get<Transform>(e).position = { x, 0, 0 };
        WaterFlow& flow = scene.get<WaterFlow>(e);
        flow.blockingLayers = 1u << kBlockLayer;
        flow.bodyPrefab = bodyPrefab;
        flow.maxLength = maxLength;
        flow.tip = scene.add("tip", { "Transform" });
        flow.splashPrefab = splashPrefab;
        flow.growthSpeed = 100.0f;
        flow.width = 0.5f;
        scene.get<Race>(e).value = race;
        return e;
    }
    EntityHandle wall(f32 x, f32 depth, u32 layer = kBlockLayer)
    {
        const EntityHandle e = box("wall", { x, -depth - 0.5f, 0 }, { 1, 1, 1 });
        setLayer(e, layer);
        return e;
    }
    EntityHandle player(f32 x, f32 depth, i32 race)
    {
        const EntityHandle e = scene.add(
            "player", { "Transform", "Collider", "SphereShape", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        scene.get<Transform>(e).position = { x, -depth, 0 };
        scene.get<SphereShape>(e).radius = 0.5f;
        scene.get<Race>(e).value = race;
        setLayer(e, 8);
        return e;
    }
    // Moves a static wall, in the record and in the physics world alike.
    void move(EntityHandle e, const Vector3& position)
    {
        scene.get<Transform>(e).position = position;
        teleport(e, position);
    }

    // A jet at x = 2 poured full length over the first tick, then, in the
    // second, cut from 20 to 5 by a wall moved into it.
    EntityHandle cutJetDeeply()
    {
        const EntityHandle cut = jet(2.0f);
        const EntityHandle block = wall(50.0f, 5.0f);
        start();
        tick();
        EXPECT_NEAR(length(cut), 20.0f, 1e-4f);
        move(block, { 2.0f, -5.5f, 0 });
        tick();
        EXPECT_NEAR(length(cut), 5.0f, 1e-4f);
        return cut;
    }

    WaterFlow& flow(EntityHandle jet) { return scene.get<WaterFlow>(jet); }
    f32 length(EntityHandle jet) { return flow(jet).length; }
    Vector3 worldPosition(EntityHandle e) { return worldPositionOf(world(), scene.get<Transform>(e)); }
    std::vector<EntityHandle> clonesOf(const char* name, EntityHandle prefab)
    {
        std::vector<EntityHandle> found;
        for (u64 i = 0; i < world().getSlotCount(); ++i) {
            const EntityHandle e = entityAt(world(), i);
            if (e != prefab && world().isValid(e) && std::strcmp(world().getEntityName(e), name) == 0)
                found.push_back(e);
        }
        return found;
    }
    u64 deaths() { return coroutines->fixedTickList().count(); }

    CoroutineSystem* coroutines = nullptr;
    WaterFlowSystem* water = nullptr;
    EntityHandle bodyPrefab;
    EntityHandle splashPrefab;
};

TEST(WaterFlowSystem, OnlyBlockingSolidsStopTheJet)
{
    enum Blocker { None, Plain, OtherLayer, Goal, Save, Type82 };
    const struct {
        Blocker blocker;
        f32 length;
    } cases[] = {
        { None, 20.0f },
        { Plain, 6.0f },
        { OtherLayer, 20.0f },
        { Goal, 20.0f },
        { Save, 20.0f },
        { Type82, 20.0f },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.blocker));
        WaterWorld w;
        const EntityHandle jet = w.jet(0.0f);
        if (c.blocker != None) {
            const EntityHandle wall = w.wall(0.0f, 6.0f, c.blocker == OtherLayer ? kBlockLayer + 1 : kBlockLayer);
            const u32 type = c.blocker == Goal ? LevelGoal::kType : c.blocker == Save ? SavePointTrigger::kType : 82;
            if (c.blocker >= Goal) {
                w.world().getComponentMask(wall.index()).set(type);
                w.world().getEnabledMask(wall.index()).set(type);
            }
        }
        w.start();
        w.tick();
        EXPECT_NEAR(w.length(jet), c.length, 1e-4f);
    }
}

TEST(WaterFlowSystem, TheJetPoursAlongItsTurnedDownAxis)
{
    WaterWorld w;
    const EntityHandle jet = w.jet(0.0f);
    // A quarter turn about +Z takes -Y to +X: the wall to the right stops it.
    w.scene.get<Transform>(jet).rotation = Quaternion::fromAxisAngle(std::numbers::pi_v<f32> / 2.0f, { 0, 0, 1 });
    const EntityHandle wall = w.box("wall", { 4.5f, 0, 0 }, { 1, 1, 1 });
    w.setLayer(wall, kBlockLayer);
    w.start();
    w.tick();
    EXPECT_NEAR(w.length(jet), 4.0f, 1e-4f);
    const Vector3 tip = w.worldPosition(w.flow(jet).tip);
    EXPECT_NEAR(tip.x, 4.0f, 1e-4f);
    EXPECT_NEAR(tip.y, 0.0f, 1e-4f);
}

TEST(WaterFlowSystem, SetUpHangsAPictureBodyUnderEachJet)
{
    WaterWorld w;
    const EntityHandle jet = w.jet(0.0f);
    w.scene.get<Transform>(jet).scale = { 1, 2, 1 };
    w.wall(0.0f, 8.0f);
    w.start();
    w.tick();

    const EntityHandle body = w.flow(jet).body;
    ASSERT_TRUE(isValidEntity(w.world(), body));
    EXPECT_EQ(w.scene.get<Transform>(body).parent, jet);
    // The body sits halfway and is stretched over the jet's own scale.
    const Vector3 middle = w.worldPosition(body);
    EXPECT_NEAR(middle.y, -4.0f, 1e-4f);
    const Vector3 scale = w.scene.get<Transform>(body).scale;
    EXPECT_FLOAT_EQ(scale.x, 0.5f);
    EXPECT_NEAR(scale.y, 4.0f, 1e-4f);
    EXPECT_FLOAT_EQ(scale.z, 3.0f);
    EXPECT_NEAR(w.worldPosition(w.flow(jet).tip).y, -8.0f, 1e-4f);
    EXPECT_FALSE(w.world().getEnabledMask(body.index()).test(Collider::kType));
    EXPECT_EQ(w.collision->findBody(body), nullptr);

    // The first phase of the seeded sequence, in [-1, 1).
    const u64 state = WaterFlowSystem::kSetUpRandomSeed * 4561u + 51349u;
    const f32 phase = static_cast<f32>(static_cast<double>(state >> 11) * 0x1p-53 * 2.0 - 1.0);
    EXPECT_FLOAT_EQ(w.scene.get<TextureScroll>(body).timeOffset, phase);

    // Set-up runs once: later ticks make no more bodies.
    w.tick(3);
    EXPECT_EQ(w.clonesOf("body", w.bodyPrefab).size(), 1u);
}

TEST(WaterFlowSystem, AJetWithoutABodyPlacesOnlyItsTip)
{
    WaterWorld w;
    const EntityHandle first = w.scene.add("first", { "Transform", "TextureScroll", "Collider", "BoxShape" });
    const Vector3 firstPosition { 3, 3, 0 };
    w.scene.get<Transform>(first).position = firstPosition;
    const EntityHandle jet = w.jet(0.0f);
    w.flow(jet).bodyPrefab = EntityHandle::make(0xffff, 1);
    w.start();
    const f32 phaseBefore = w.scene.get<TextureScroll>(first).timeOffset;
    w.tick(2);

    EXPECT_TRUE(w.flow(jet).body.isNull());
    EXPECT_NEAR(w.worldPosition(w.flow(jet).tip).y, -20.0f, 1e-4f);
    // Nothing else stands in for the missing body.
    EXPECT_EQ(w.scene.get<Transform>(first).position.y, firstPosition.y);
    EXPECT_EQ(w.scene.get<TextureScroll>(first).timeOffset, phaseBefore);
    EXPECT_TRUE(w.world().getEnabledMask(first.index()).test(Collider::kType));
}

TEST(WaterFlowSystem, ACutIsAtOnceAndGrowthIsAtTheGrowthSpeed)
{
    WaterWorld w;
    const EntityHandle jet = w.jet(0.0f);
    const EntityHandle wall = w.wall(0.0f, 15.0f);
    w.start();
    w.tick();
    EXPECT_NEAR(w.length(jet), 15.0f, 1e-4f);

    // Cut by 7: at once, and too little to splash.
    w.move(wall, { 0, -8.5f, 0 });
    w.tick();
    EXPECT_NEAR(w.length(jet), 8.0f, 1e-4f);
    EXPECT_TRUE(w.clonesOf("splash", w.splashPrefab).empty());

    // Cleared: grows by growth speed x step each tick up to the full length.
    w.move(wall, { 50, -8.5f, 0 });
    w.tick();
    const f32 step = w.world().deltaTime * w.flow(jet).growthSpeed;
    EXPECT_NEAR(w.length(jet), 8.0f + step, 1e-4f);
    w.tick(100);
    EXPECT_NEAR(w.length(jet), 20.0f, 1e-4f);
}

TEST(WaterFlowSystem, ASuddenDeepCutSplashesFacingTheFlow)
{
    WaterWorld w;
    w.cutJetDeeply();
    const std::vector<EntityHandle> splashes = w.clonesOf("splash", w.splashPrefab);
    ASSERT_EQ(splashes.size(), 1u);
    const Transform& splash = w.scene.get<Transform>(splashes[0]);
    EXPECT_NEAR(splash.position.x, 2.0f, 1e-4f);
    EXPECT_NEAR(splash.position.y, -5.0f, 1e-4f);
    // Its Y axis points along the jet, straight down.
    const Vector3 up = splash.rotation.toMatrix3() * Vector3 { 0, 1, 0 };
    EXPECT_NEAR(up.x, 0.0f, 1e-5f);
    EXPECT_NEAR(up.y, -1.0f, 1e-5f);

    // The jet stays cut: no further splash.
    w.tick();
    EXPECT_EQ(w.clonesOf("splash", w.splashPrefab).size(), 1u);
}

TEST(WaterFlowSystem, WithGizmosOnADeepCutDrawsTheCutLine)
{
    for (const bool gizmos : { false, true }) {
        SCOPED_TRACE(gizmos);
        WaterWorld w;
        auto* lines = new GizmoLineSystem(w.context);
        w.context.gizmoLines = lines;
        w.scene.addSystem(lines);
        Settings::Development.gizmos = gizmos;
        w.cutJetDeeply();
        ASSERT_EQ(lines->lines.count(), gizmos ? 1u : 0u);
        if (!gizmos)
            continue;
        const GizmoLineRecord& line = lines->lines.at<GizmoLineRecord>(0);
        EXPECT_NEAR(line.from.y, -5.0f, 1e-4f);
        EXPECT_NEAR(line.to.y, -15.0f, 1e-4f);
        EXPECT_NEAR(line.to.x, 2.0f, 1e-4f);
        EXPECT_EQ(line.colour, 3);
    }
}

TEST(WaterFlowSystem, AJetStartingInsideSomethingKeepsItsLength)
{
    WaterWorld w;
    const EntityHandle jet = w.jet(0.0f);
    const EntityHandle wall = w.wall(50.0f, 5.0f);
    w.start();
    w.tick();
    // The wall's hit point lies at the jet's own x and y: distance 0.
    w.move(wall, { 0, 0, 0 });
    w.tick();
    EXPECT_NEAR(w.length(jet), 20.0f, 1e-4f);
    EXPECT_TRUE(w.clonesOf("splash", w.splashPrefab).empty());
}

TEST(WaterFlowSystem, OneJetsHitsNeverShortenAnother)
{
    WaterWorld w;
    const EntityHandle blocked = w.jet(0.0f);
    const EntityHandle free = w.jet(10.0f);
    w.wall(0.0f, 3.0f);
    w.start();
    w.tick(5);
    EXPECT_NEAR(w.length(blocked), 3.0f, 1e-4f);
    EXPECT_NEAR(w.length(free), 20.0f, 1e-4f);
    // The list holds the last ray's hits, not every tick's.
    ASSERT_EQ(w.water->hitListCount(), 1u);
    EXPECT_EQ(w.water->hitList(0).count(), 0u);
}

TEST(WaterFlowSystem, OnlyAPlayerOfTheOpposingRaceDiesInTheJet)
{
    const struct {
        i32 jetRace;
        i32 playerRace;
        bool dies;
    } cases[] = {
        { 0, 2, true },
        { 2, 0, true },
        { 0, 0, false },
        { 0, 1, false },
        { 1, 1, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.jetRace << " " << c.playerRace);
        WaterWorld w;
        w.jet(0.0f, 20.0f, c.jetRace);
        const EntityHandle player = w.player(0.0f, 6.0f, c.playerRace);
        w.start();
        w.tick();
        EXPECT_EQ(w.water->playerToKill() == player, c.dies);
        EXPECT_EQ(w.deaths(), c.dies ? 1u : 0u);
    }
}

TEST(WaterFlowSystem, APlayerBeyondTheJetsEndLives)
{
    WaterWorld w;
    w.jet(0.0f, 20.0f, 0);
    w.wall(0.0f, 4.0f);
    w.player(0.0f, 12.0f, 2);
    w.start();
    w.tick();
    EXPECT_TRUE(w.water->playerToKill().isNull());
    EXPECT_EQ(w.deaths(), 0u);
}

// Many jets over walls at varied depths, opposing players under two of them.
struct JetRow {
    std::vector<f32> lengths;
    u32 killed;
    u64 splashes;
};

JetRow runRow(TaskDispatcher* dispatcher)
{
    WaterWorld w(dispatcher);
    std::vector<EntityHandle> jets;
    std::vector<EntityHandle> walls;
    for (int i = 0; i < 24; ++i) {
        jets.push_back(w.jet(static_cast<f32>(i) * 3.0f, 20.0f, 0));
        walls.push_back(w.wall(static_cast<f32>(i) * 3.0f, 2.0f + static_cast<f32>(i % 7) * 2.5f));
    }
    // Two players in two jets: the later jet in slot order names the one to kill.
    w.player(9.0f, 1.0f, 2);
    const EntityHandle later = w.player(21.0f, 1.0f, 2);
    w.start();
    w.tick();
    for (int i = 0; i < 24; i += 2)
        w.move(walls[i], { 500.0f, 0, 0 });
    w.tick(3);
    for (int i = 0; i < 24; i += 4)
        w.move(walls[i], { static_cast<f32>(i) * 3.0f, -1.5f, 0 });
    w.tick();
    JetRow row { {}, w.water->playerToKill().value, w.clonesOf("splash", w.splashPrefab).size() };
    EXPECT_EQ(row.killed, later.value);
    for (EntityHandle jet : jets)
        row.lengths.push_back(w.length(jet));
    EXPECT_EQ(w.water->hitListCount(), dispatcher && dispatcher->threaded() ? dispatcher->workerCount() : 1u);
    return row;
}

TEST(WaterFlowSystem, WorkersChangeNothing)
{
    const JetRow inline_ = runRow(nullptr);
    TaskDispatcher dispatcher;
    ThreadingSettings threading;
    threading.workers = 4;
    dispatcher.start(threading, 4);
    ASSERT_TRUE(dispatcher.threaded());
    const JetRow threaded = runRow(&dispatcher);
    dispatcher.stop();

    EXPECT_EQ(threaded.lengths, inline_.lengths);
    EXPECT_EQ(threaded.killed, inline_.killed);
    EXPECT_NE(inline_.killed, 0u);
    EXPECT_EQ(threaded.splashes, inline_.splashes);
    EXPECT_GT(inline_.splashes, 0u);
}

TEST(WaterFlowSystem, DescribesItselfByName)
{
    WaterWorld w;
    quern::entity::SystemInfo info {};
    w.water->describe(&info);
    EXPECT_STREQ(info.name, "WaterFlowSystem");
}

} // namespace
} // namespace harmonize
