#include "AnimationWorld.h"
#include "support/LogCapture.h"

#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/systems/MovingPlatformSystem.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace harmonize {
namespace {

using quern::math::Vector3;
using testing::AnimationWorld;

constexpr u64 kShuttle = 0x5101;

// Two stations ten units apart on x, a platform between them that plays its
// clip along x, and the setup entity that configures it.
struct PlatformWorld : AnimationWorld {
    PlatformWorld()
    {
        // Out to B and back to A in two seconds.
        clip(kShuttle, "duration 1\ntrack - m_LocalPosition.x\nkey 0 0\nkey 1 10\n");
        system = new MovingPlatformSystem(context);
        context.gizmoLines = gizmos.get();
        scene.addSystem(system);
        stationA = scene.add("stationA", { "Transform" });
        stationB = scene.add("stationB", { "Transform" });
        transform(stationB).position = { 10.0f, 0.0f, 0.0f };
        platform = scene.add(
            "platform", { "Transform", "Animation", "Collider", "MovingPlatform", "Race", "Platform", "SnapboxCluster" });
        scene.get<Animation>(platform).clips[0] = kShuttle;
        MovingPlatform& p = record();
        p.stationA = stationA;
        p.stationB = stationB;
        setup = scene.add("setup", { "MovingPlatformSetup" });
        MovingPlatformSetup& s = setupRecord();
        s.platform = platform;
        s.wrapMode = static_cast<i32>(UnityWrapMode::PingPong);
        s.autoplay = 0;
        s.clip = kShuttle;
        s.value = 7;
    }

    MovingPlatform& record() { return scene.get<MovingPlatform>(platform); }
    MovingPlatformSetup& setupRecord() { return scene.get<MovingPlatformSetup>(setup); }
    void place(f32 x) { transform(platform).position = { x, 0.0f, 0.0f }; }

    std::unique_ptr<GizmoLineSystem> gizmos = std::make_unique<GizmoLineSystem>(context);
    MovingPlatformSystem* system;
    EntityHandle stationA, stationB, platform, setup;
};

// The logged lines without the logger's source prefix, one per line.
std::string loggedLines(const quern::testing::LogCapture& log)
{
    std::string text = log.text();
    std::string out;
    for (u64 start = 0; start < text.size();) {
        u64 end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        if (line.rfind('[', 0) == 0 && line.find("] ") != std::string::npos)
            line = line.substr(line.find("] ") + 2);
        out += line;
        start = end;
    }
    return out;
}

TEST(MovingPlatformSystem, StateNames)
{
    EXPECT_STREQ(movingPlatformStateName(InStation), "InStation");
    EXPECT_STREQ(movingPlatformStateName(OutStation), "OutStation");
    EXPECT_STREQ(movingPlatformStateName(2), "<Invalid MovingPlatformState>");
    EXPECT_STREQ(movingPlatformStateName(-1), "<Invalid MovingPlatformState>");
}

TEST(MovingPlatformSystem, SetupHandsTheClipToThePlatformAndPlaysItOnlyForAutoplayOne)
{
    for (i32 autoplay : { 1, 0, 2, -1 }) {
        SCOPED_TRACE(autoplay);
        PlatformWorld w;
        w.scene.get<Animation>(w.platform).defaultClip = 0;
        w.setupRecord().autoplay = autoplay;
        w.start();
        const Animation& animation = w.scene.get<Animation>(w.platform);
        EXPECT_EQ(animation.defaultClip, kShuttle);
        EXPECT_EQ(animation.wrapMode, static_cast<i32>(UnityWrapMode::PingPong));
        EXPECT_EQ(w.record().autoplay, autoplay);
        EXPECT_EQ(w.record().setupValue, 7);
        w.tick();
        EXPECT_EQ(w.animation->isPlaying(w.platform, kShuttle), autoplay == 1);
    }
}

TEST(MovingPlatformSystem, ThePlatformHeadsForTheNearerStationAndTiesGoToB)
{
    const struct {
        f32 x;
        i32 index;
    } cases[] = { { 2.0f, 0 }, { 8.0f, 1 }, { 5.0f, 1 }, { -3.0f, 0 }, { 12.0f, 1 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        PlatformWorld w;
        w.place(c.x);
        MovingPlatform& p = w.record();
        p.state = OutStation;
        p.previousState = OutStation;
        p.changed = 1;
        w.start();
        EXPECT_EQ(p.targetIndex, c.index);
        EXPECT_EQ(p.targetStation, c.index == 1 ? w.stationB : w.stationA);
        EXPECT_EQ(p.state, InStation);
        EXPECT_EQ(p.previousState, InStation);
        EXPECT_EQ(p.changed, 0);
    }
}

TEST(MovingPlatformSystem, StationsMeasuredInWorldSpace)
{
    PlatformWorld w;
    // B sits under a parent that carries it next to the platform.
    const EntityHandle carrier = w.scene.add("carrier", { "Transform" });
    w.transform(carrier).position = { -9.0f, 0.0f, 0.0f };
    w.scene.setParent(w.stationB, carrier);
    w.place(2.0f);
    w.start();
    EXPECT_EQ(w.record().targetIndex, 1);
}

TEST(MovingPlatformSystem, WithoutAUsableStationATheStoredTargetStays)
{
    for (EntityHandle a : { EntityHandle {}, EntityHandle::make(0xffff, 1), EntityHandle::make(3, 0) }) {
        SCOPED_TRACE(a.value);
        PlatformWorld w;
        MovingPlatform& p = w.record();
        p.stationA = a;
        p.targetStation = w.stationB;
        p.targetIndex = 7;
        p.state = OutStation;
        w.place(0.0f);
        w.start();
        EXPECT_EQ(p.targetStation, w.stationB);
        EXPECT_EQ(p.targetIndex, 7);
        EXPECT_EQ(p.state, OutStation);
    }
}

TEST(MovingPlatformSystem, ATargetNamingNoEntityStopsTheMachine)
{
    for (EntityHandle target : { EntityHandle::make(0xffff, 1), EntityHandle::make(0, 0), EntityHandle {} }) {
        SCOPED_TRACE(target.value);
        PlatformWorld w;
        w.place(0.0f);
        w.start();
        MovingPlatform& p = w.record();
        p.targetStation = target;
        quern::testing::LogCapture log(3);
        w.place(5.0f);
        w.tick(3);
        EXPECT_EQ(p.state, InStation);
        EXPECT_EQ(p.changed, 0);
        EXPECT_FALSE(log.contains("->"));
    }
}

TEST(MovingPlatformSystem, ArrivalLogsTheChangeTogglesTheTargetAndLeavesAgainNextTick)
{
    PlatformWorld w;
    w.place(0.0f);
    w.start();
    MovingPlatform& p = w.record();
    ASSERT_EQ(p.targetStation, w.stationA);

    quern::testing::LogCapture log(3);
    w.place(5.0f);
    w.tick();
    EXPECT_EQ(p.state, OutStation);
    EXPECT_EQ(p.previousState, InStation);
    EXPECT_EQ(p.changed, 0);
    // Passing B while heading for A changes nothing.
    w.place(10.0f);
    w.tick();
    EXPECT_EQ(p.state, OutStation);
    EXPECT_EQ(p.targetStation, w.stationA);
    EXPECT_EQ(loggedLines(log), "InStation -> OutStation\n");

    w.place(0.49f);
    w.tick();
    EXPECT_EQ(p.state, InStation);
    EXPECT_EQ(p.previousState, OutStation);
    EXPECT_EQ(p.targetStation, w.stationB);
    EXPECT_EQ(p.targetIndex, 1);
    EXPECT_EQ(loggedLines(log), "InStation -> OutStation\nOutStation -> InStation\ntoggle \n");

    // Still at A, which is no longer the target.
    w.tick();
    EXPECT_EQ(p.state, OutStation);
    EXPECT_EQ(loggedLines(log), "InStation -> OutStation\nOutStation -> InStation\ntoggle \nInStation -> OutStation\n");

    // Arriving at B sends it back to A.
    w.place(10.0f);
    w.tick();
    EXPECT_EQ(p.targetStation, w.stationA);
    EXPECT_EQ(p.targetIndex, 0);
}

TEST(MovingPlatformSystem, HalfAUnitAwayCountsAsOut)
{
    PlatformWorld w;
    w.place(0.0f);
    w.start();
    w.place(0.5f);
    w.tick();
    EXPECT_EQ(w.record().state, OutStation);
}

TEST(MovingPlatformSystem, APingPongClipArrivesAtEachStationInTurn)
{
    PlatformWorld w;
    w.setupRecord().autoplay = 1;
    w.place(0.0f);
    w.start();
    quern::testing::LogCapture log(3);
    w.tick(350); // out to B, back to A, out to B and halfway back
    // Leaves A (its target), passes B, arrives back at A, then at B.
    EXPECT_EQ(log.count("InStation -> OutStation"), 3u) << log.text();
    EXPECT_EQ(log.count("OutStation -> InStation"), 2u) << log.text();
    EXPECT_EQ(log.count("toggle "), 2u);
    EXPECT_EQ(w.record().targetStation, w.stationA);
}

TEST(MovingPlatformSystem, GizmosMarkTheTargetStation)
{
    PlatformWorld w;
    w.place(8.0f);
    w.start();
    Settings::Development.gizmos = false;
    w.system->update(nullptr, w.world());
    EXPECT_EQ(w.gizmos->lines.count(), 0u);

    Settings::Development.gizmos = true;
    w.system->update(nullptr, w.world());
    ASSERT_EQ(w.gizmos->lines.count(), 1u);
    const GizmoLineRecord& line = w.gizmos->lines.at<GizmoLineRecord>(0);
    EXPECT_EQ(line.from, (Vector3 { 10.0f, 0.0f, 0.0f }));
    EXPECT_EQ(line.to, (Vector3 { 10.0f, 10.0f, 0.0f }));
    EXPECT_EQ(line.colour, 3);
    Settings::Development.gizmos = false;
}

} // namespace
} // namespace harmonize
