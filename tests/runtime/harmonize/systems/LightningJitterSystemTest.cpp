#include "harmonize/systems/LightningJitterSystem.h"

#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/LineRendererSystem.h"

#include <gtest/gtest.h>

#include <vector>

namespace harmonize {
namespace {

using quern::math::Vector3;
using quern::visuals::PolylinePoint;
using testing::Scenario;

// A bolt from (0, 0, 0) to a target at (10, 0, 4), with the line renderer
// registered before the bolts as the game registers it.
struct BoltWorld {
    explicit BoltWorld(i32 pointCount = 5, f32 jitter = 0.5f)
    {
        Settings::resetToDefaults();
        lines = new LineRendererSystem(context);
        context.lineRenderer = lines;
        bolts = new LightningJitterSystem(context);
        scene.addSystem(lines);
        scene.addSystem(bolts);
        target = scene.add("target", { "Transform" });
        scene.get<Transform>(target).position = { 10.0f, 0.0f, 4.0f };
        bolt = addBolt(pointCount, jitter);
    }
    ~BoltWorld() { Settings::resetToDefaults(); }

    EntityHandle addBolt(i32 pointCount, f32 jitter)
    {
        const EntityHandle e = scene.add("bolt", { "Transform", "LightningBolt" });
        LightningBolt& record = scene.get<LightningBolt>(e);
        record.target = target;
        record.pointCount = pointCount;
        record.jitter = jitter;
        return e;
    }
    void update() { bolts->update(nullptr, scene.world()); }
    std::vector<PolylinePoint> points(EntityHandle e)
    {
        quern::visuals::PolylineStore& store = lines->store();
        const PolylinePoint* first = store.pointsA(e.index());
        return { first, first + store.record(e.index()).count };
    }

    AppContext context;
    Scenario scene;
    LineRendererSystem* lines;
    LightningJitterSystem* bolts;
    EntityHandle target, bolt;
};

void expectPoint(const PolylinePoint& p, Vector3 expected)
{
    EXPECT_FLOAT_EQ(p.x, expected.x);
    EXPECT_FLOAT_EQ(p.y, expected.y);
    EXPECT_FLOAT_EQ(p.z, expected.z);
}

TEST(LineRendererSystem, HoldsOneLinePerSlotFromWorldStartUntilDetach)
{
    BoltWorld w;
    quern::entity::SystemInfo info {};
    w.lines->describe(&info);
    EXPECT_STREQ(info.name, "LineRendererSystem");
    EXPECT_EQ(w.lines->store().lineCount(), 0u);
    w.scene.start();
    EXPECT_EQ(w.lines->store().lineCount(), w.scene.world().getCapacity());
    w.lines->saveSnapshot();
    w.lines->detach(nullptr);
    EXPECT_EQ(w.lines->store().lineCount(), 0u);
    EXPECT_EQ(w.lines->snapshot().points.capacity(), 0u);
}

TEST(LineRendererSystem, TheQuickSaveCopyPutsTheLinesBack)
{
    BoltWorld w(3, 0.0f);
    w.scene.start();
    w.update();
    const std::vector<PolylinePoint> saved = w.points(w.bolt);
    w.lines->saveSnapshot();
    w.lines->store().setPointCount(w.bolt.index(), 0);
    w.lines->store().setPointCount(w.target.index(), 4);
    w.lines->restoreSnapshot();
    EXPECT_EQ(w.lines->store().record(w.target.index()).count, 0u);
    ASSERT_EQ(w.points(w.bolt).size(), 3u);
    for (u64 i = 0; i < 3; ++i)
        expectPoint(w.points(w.bolt)[i], { saved[i].x, saved[i].y, saved[i].z });
}

TEST(LightningJitterSystem, ABoltGetsItsPointsWhenAnnouncedAndLosesThemWhenDestroyed)
{
    BoltWorld w(6);
    const EntityHandle off = w.addBolt(4, 0.5f);
    w.scene.world().getEnabledMask(off.index()).reset(LightningBolt::kType);
    w.scene.start();
    EXPECT_EQ(w.lines->store().record(w.bolt.index()).count, 6u);
    EXPECT_EQ(w.lines->store().record(off.index()).count, 0u);
    w.scene.world().destroyEntities(&w.bolt, 1);
    EXPECT_EQ(w.lines->store().record(w.bolt.index()).count, 0u);
    // Its slot keeps the enabled bits, but no bolt lives there any more.
    w.update();
    EXPECT_EQ(w.lines->store().record(w.bolt.index()).count, 0u);
}

TEST(LightningJitterSystem, TwoPointsAreTheStraightSegmentWhateverTheAmplitude)
{
    BoltWorld w(2, 3.0f);
    w.scene.get<Transform>(w.bolt).position = { 1.0f, 2.0f, 0.0f };
    w.scene.start();
    w.update();
    const auto p = w.points(w.bolt);
    ASSERT_EQ(p.size(), 2u);
    expectPoint(p[0], { 1.0f, 2.0f, 0.0f });
    expectPoint(p[1], { 10.0f, 0.0f, 4.0f });
}

TEST(LightningJitterSystem, AmplitudeZeroIsAStraightLineOfEvenSteps)
{
    BoltWorld w(5, 0.0f);
    w.scene.start();
    w.update();
    const auto p = w.points(w.bolt);
    ASSERT_EQ(p.size(), 5u);
    for (u64 i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const f32 f = static_cast<f32>(i) / (i == 4 ? 4.0f : 5.0f);
        expectPoint(p[i], { 10.0f * f, 0.0f, 4.0f * f });
    }
}

TEST(LightningJitterSystem, InnerPointsJumpWithinTheAmplitudeAndTheEndsStay)
{
    BoltWorld w(40, 0.5f);
    w.scene.start();
    bool movedLeft = false;
    bool movedRight = false;
    for (int frame = 0; frame < 3; ++frame) {
        w.update();
        const auto p = w.points(w.bolt);
        ASSERT_EQ(p.size(), 40u);
        expectPoint(p[0], { 0.0f, 0.0f, 0.0f });
        expectPoint(p[39], { 10.0f, 0.0f, 4.0f });
        for (u64 i = 1; i < 39; ++i) {
            const f32 f = static_cast<f32>(i) / 40.0f;
            EXPECT_GE(p[i].x - 10.0f * f, -0.5f - 1e-5f);
            EXPECT_LT(p[i].x - 10.0f * f, 0.5f + 1e-5f);
            EXPECT_GE(p[i].y, -0.5f);
            EXPECT_LT(p[i].y, 0.5f);
            EXPECT_FLOAT_EQ(p[i].z, 4.0f * f); // depth is never jittered
            movedLeft |= p[i].y < -0.1f;
            movedRight |= p[i].y > 0.1f;
        }
    }
    EXPECT_TRUE(movedLeft && movedRight);
}

TEST(LightningJitterSystem, TheSequenceStartsAt42ForEverySystem)
{
    BoltWorld a(12, 1.0f);
    BoltWorld b(12, 1.0f);
    EXPECT_EQ(a.bolts->randomState(), 42u);
    a.scene.start();
    b.scene.start();
    for (int frame = 0; frame < 2; ++frame) {
        a.update();
        b.update();
    }
    const auto pa = a.points(a.bolt);
    const auto pb = b.points(b.bolt);
    for (u64 i = 0; i < pa.size(); ++i)
        expectPoint(pa[i], { pb[i].x, pb[i].y, pb[i].z });
    EXPECT_NE(a.bolts->randomState(), 42u);
}

TEST(LightningJitterSystem, ABoltOfFewerThanOnePointIsItsEndPoint)
{
    for (i32 n : { 1, 0, -1, -2147483647 - 1 }) {
        SCOPED_TRACE(n);
        BoltWorld w(n, 0.5f);
        w.scene.start();
        w.update();
        const auto p = w.points(w.bolt);
        ASSERT_EQ(p.size(), 1u);
        expectPoint(p[0], { 10.0f, 0.0f, 4.0f });
    }
}

TEST(LightningJitterSystem, WithTheRendererOffBoltsKeepTheirLastShape)
{
    BoltWorld w(8, 0.5f);
    w.scene.start();
    w.update();
    const auto before = w.points(w.bolt);
    const quern::u64 random = w.bolts->randomState();
    Settings::Renderer.enabled = false;
    w.scene.get<Transform>(w.target).position = { -10.0f, 0.0f, 0.0f };
    w.update();
    w.update();
    const auto after = w.points(w.bolt);
    for (u64 i = 0; i < before.size(); ++i)
        expectPoint(after[i], { before[i].x, before[i].y, before[i].z });
    EXPECT_EQ(w.bolts->randomState(), random);
    Settings::Renderer.enabled = true;
    w.update();
    expectPoint(w.points(w.bolt)[7], { -10.0f, 0.0f, 0.0f });
}

TEST(LightningJitterSystem, ATargetOutsideTheWorldLeavesTheBoltAlone)
{
    BoltWorld w(3, 0.5f);
    w.scene.get<LightningBolt>(w.bolt).target = EntityHandle::make(0xffff, 1);
    w.scene.start();
    w.update();
    for (const PolylinePoint& p : w.points(w.bolt))
        expectPoint(p, { 0.0f, 0.0f, 0.0f });
}

TEST(LightningJitterSystem, BoltsWriteOnlyIntoTheirOwnLines)
{
    // The lines were emptied after the bolts were announced (a quick-save
    // restore of a copy taken before them), and one bolt grew meanwhile: each
    // still gets exactly its own points, without touching its neighbour's.
    BoltWorld w(3, 0.0f);
    const EntityHandle second = w.addBolt(2, 0.0f);
    w.scene.get<Transform>(second).position = { 5.0f, 5.0f, 0.0f };
    w.lines->saveSnapshot();
    w.scene.start();
    w.update();
    w.lines->restoreSnapshot();
    ASSERT_EQ(w.lines->store().record(w.bolt.index()).count, 0u);
    w.scene.get<LightningBolt>(w.bolt).pointCount = 6;
    w.update();
    ASSERT_EQ(w.points(w.bolt).size(), 6u);
    ASSERT_EQ(w.points(second).size(), 2u);
    expectPoint(w.points(w.bolt)[0], { 0.0f, 0.0f, 0.0f });
    expectPoint(w.points(w.bolt)[5], { 10.0f, 0.0f, 4.0f });
    expectPoint(w.points(second)[0], { 5.0f, 5.0f, 0.0f });
    expectPoint(w.points(second)[1], { 10.0f, 0.0f, 4.0f });
    EXPECT_EQ(w.lines->store().record(w.bolt.index()).active, 1u);
}

} // namespace
} // namespace harmonize
