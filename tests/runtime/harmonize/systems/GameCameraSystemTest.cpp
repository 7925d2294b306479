#include "harmonize/systems/GameCameraSystem.h"

#include "CameraWorld.h"
#include "harmonize/PreloadedClip.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "support/LogCapture.h"

#include "quern/entity/World.h"

#include <gtest/gtest.h>

#include <cmath>

namespace harmonize {
namespace {

using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Vector3;
using testing::CameraWorld;

constexpr f32 kNear = 1e-4f;

void expectNear(const Vector3& actual, const Vector3& expected, f32 tolerance = kNear)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

class GameCameraTest : public ::testing::Test {
protected:
    Vector3 worldPosition(EntityHandle e) { return worldPositionOf(level.world(), level.get<Transform>(e)); }
    CameraLens& lens(EntityHandle e) { return level.get<CameraLens>(e); }
    FuzzyPair pair(u32 zone) { return { zone, level.player.value }; }
    // The usual level, started and settled on the player.
    void startLevel(const Vector3& at = { 0.0f, 0.0f, 0.0f })
    {
        level.buildLevel(at);
        level.start();
        level.tick(3);
    }

    CameraWorld level;
};

// Zones --------------------------------------------------------------------------

TEST_F(GameCameraTest, ZoneCamerasTakeTheStrongestWeightSharedByWeight)
{
    const struct {
        f32 weights[2];
        f32 keep; // the follow camera's share
        f32 shares[2];
    } cases[] = {
        { { 0.5f, 0.25f }, 0.5f, { 1.0f / 3.0f, 1.0f / 6.0f } },
        { { 1.0f, 0.0f }, 0.0f, { 1.0f, 0.0f } },
        { { 0.2f, 0.2f }, 0.8f, { 0.1f, 0.1f } },
        { { 0.0f, 0.0f }, 1.0f, { 0.0f, 0.0f } },
    };
    for (const auto& c : cases) {
        CameraWorld world;
        world.buildLevel();
        const EntityHandle near = world.addCamera("near", { 10.0f, 0.0f, -20.0f }, 30.0f);
        const EntityHandle high = world.addCamera("high", { 0.0f, 20.0f, -20.0f }, 90.0f);
        const Quaternion turn = Quaternion::fromAxisAngle(0.2f, { 0.0f, 0.0f, 1.0f });
        world.get<Transform>(near).rotation = turn;
        world.start();
        ASSERT_TRUE(world.camera().addZone({ 100, world.player.value }, near.value));
        ASSERT_TRUE(world.camera().addZone({ 101, world.player.value }, high.value));
        world.camera().setZoneWeight({ 100, world.player.value }, c.weights[0]);
        world.camera().setZoneWeight({ 101, world.player.value }, c.weights[1]);
        world.tick();

        SCOPED_TRACE(::testing::Message() << "weights " << c.weights[0] << ", " << c.weights[1]);
        const Vector3 follow = worldPositionOf(world.world(), world.get<Transform>(world.follow));
        const Vector3 expected = follow * c.keep + Vector3 { 10.0f, 0.0f, -20.0f } * c.shares[0]
            + Vector3 { 0.0f, 20.0f, -20.0f } * c.shares[1];
        expectNear(worldPositionOf(world.world(), world.get<Transform>(world.game)), expected);
        EXPECT_NEAR(world.get<CameraLens>(world.game).fieldOfView,
            60.0f * c.keep + 30.0f * c.shares[0] + 90.0f * c.shares[1], kNear);
        const bool mixed = c.keep < 1.0f;
        EXPECT_EQ(world.get<Transform>(world.game).rotation, mixed ? turn : Quaternion {});
    }
}

TEST_F(GameCameraTest, ZonesCountOnlyWhileTheInputIsInTheGameState)
{
    const struct {
        i32 state;
        bool mixed;
    } cases[] = {
        { kInputStateGame, true },
        { kInputStateCutscene, false },
        { kInputStateMenu, false },
        { kInputStateDebugCamera, false },
    };
    for (const auto& c : cases) {
        CameraWorld world;
        world.buildLevel();
        const EntityHandle zoneCamera = world.addCamera("zone", { 40.0f, 0.0f, -20.0f }, 60.0f);
        world.start();
        world.tick(3);
        if (c.state != kInputStateGame)
            world.switcher.pushState(c.state);
        world.camera().addZone({ 7, world.player.value }, zoneCamera.value);
        world.camera().setZoneWeight({ 7, world.player.value }, 1.0f);
        world.tick();
        const f32 x = worldPositionOf(world.world(), world.get<Transform>(world.game)).x;
        EXPECT_NEAR(x, c.mixed ? 40.0f : 0.0f, kNear) << "state " << c.state;
    }
}

TEST_F(GameCameraTest, AFullZoneListRefusesAFurtherZoneWithAWarning)
{
    startLevel();
    const EntityHandle far = level.addCamera("far", { 500.0f, 0.0f, -20.0f }, 60.0f);
    for (u32 zone = 0; zone < GameCameraSystem::kZoneCapacity; ++zone)
        ASSERT_TRUE(level.camera().addZone(pair(zone), far.value));
    {
        quern::testing::LogCapture warnings(2);
        EXPECT_FALSE(level.camera().addZone(pair(8), far.value));
        EXPECT_TRUE(warnings.contains("Camera zone list full"));
    }
    // The refused zone has no entry to weigh: the others stay at 0.
    level.camera().setZoneWeight(pair(8), 1.0f);
    level.tick();
    EXPECT_NEAR(worldPosition(level.game).x, 0.0f, kNear);
    level.camera().removeZone(pair(8), level.world());
    level.camera().removeZone(pair(0), level.world());
    EXPECT_TRUE(level.camera().addZone(pair(8), far.value));
    EXPECT_FALSE(level.camera().addZone(pair(9), far.value));
}

TEST_F(GameCameraTest, RemovingAZoneTakesEveryEntryOfItsPairAndKeepsTheOthersInOrder)
{
    level.buildLevel();
    const EntityHandle a = level.addCamera("a", { 30.0f, 0.0f, -20.0f }, 60.0f);
    const EntityHandle b = level.addCamera("b", { 0.0f, 30.0f, -20.0f }, 60.0f);
    const EntityHandle c = level.addCamera("c", { 0.0f, -30.0f, -20.0f }, 60.0f);
    const Quaternion turnB = Quaternion::fromAxisAngle(0.3f, { 0.0f, 0.0f, 1.0f });
    level.get<Transform>(b).rotation = turnB;
    // The zone's camera component is switched off while the player is inside:
    // its entries still go when the player leaves.
    const EntityHandle zoneA = level.scene.add("zone a", { "Transform", "FuzzyCameraZone" });
    level.get<FuzzyCameraZone>(zoneA).camera = a;
    level.start();
    level.tick(3);
    level.camera().addZone(pair(zoneA.value), a.value);
    level.camera().addZone(pair(2), b.value);
    level.camera().addZone(pair(zoneA.value), a.value);
    level.camera().addZone(pair(3), c.value);
    for (u32 zone : { zoneA.value, 2u, 3u })
        level.camera().setZoneWeight(pair(zone), 1.0f);
    level.world().setComponentEnabled(zoneA, FuzzyCameraZone::kType, false);

    level.camera().removeZone(pair(zoneA.value), level.world());
    level.tick();
    // b and c share the mix equally; the first of them gives the rotation.
    expectNear(worldPosition(level.game), { 0.0f, 0.0f, -20.0f });
    EXPECT_EQ(level.get<Transform>(level.game).rotation, turnB);
}

TEST_F(GameCameraTest, CameraZonesAndAxisFollowersTrackTheFollowCamera)
{
    level.buildLevel({ 12.0f, 7.0f, 0.0f });
    const EntityHandle zoneCamera = level.addCamera("zone camera", { 0.0f, 0.0f, -5.0f }, 60.0f);
    const EntityHandle zone = level.scene.add("zone", { "Transform", "CameraZone" });
    level.get<CameraZone>(zone).camera = zoneCamera;
    level.get<CameraZone>(zone).cameraFollows = 1;
    const struct {
        u8 x, y, z;
        Vector3 expected;
    } followers[] = {
        { 1, 0, 0, { 12.0f, 1.0f, 2.0f } },
        { 0, 1, 1, { 1.0f, 7.0f, -20.0f } },
        { 0, 0, 0, { 1.0f, 1.0f, 2.0f } },
    };
    std::vector<EntityHandle> cameras;
    for (const auto& f : followers) {
        const EntityHandle camera = level.addCamera("follower", { 1.0f, 1.0f, 2.0f }, 60.0f);
        const EntityHandle fuzzy = level.scene.add("fuzzy", { "Transform", "FuzzyCameraZone" });
        FuzzyCameraZone& record = level.get<FuzzyCameraZone>(fuzzy);
        record.camera = camera;
        record.followX = f.x;
        record.followY = f.y;
        record.followZ = f.z;
        cameras.push_back(camera);
    }
    level.start();
    level.tick(3);
    expectNear(worldPosition(zoneCamera), { 12.0f, 7.0f, -5.0f });
    for (u64 i = 0; i < cameras.size(); ++i)
        expectNear(worldPosition(cameras[i]), followers[i].expected);
}

// Blends -------------------------------------------------------------------------

TEST_F(GameCameraTest, ABlendOfNoDurationReachesItsCameraAtOnceAndKeepsTrackingIt)
{
    startLevel();
    const EntityHandle target = level.addCamera("target", { 20.0f, 10.0f, -30.0f }, 40.0f);
    level.get<Transform>(target).rotation = Quaternion::fromAxisAngle(0.5f, { 0.0f, 1.0f, 0.0f });
    level.camera().switchToCamera(level.world(), target, 0.0f, Linear);
    expectNear(worldPosition(level.game), { 20.0f, 10.0f, -30.0f });
    EXPECT_NEAR(lens(level.game).fieldOfView, 40.0f, kNear);

    level.get<Transform>(target).position = { -5.0f, 0.0f, -30.0f };
    level.tick(50);
    expectNear(worldPosition(level.game), { -5.0f, 0.0f, -30.0f });
}

TEST_F(GameCameraTest, ABlendTowardsAnEntityWithoutALensLeavesTheGameCameraWhereItIs)
{
    startLevel({ 5.0f, 0.0f, 0.0f });
    const EntityHandle notACamera = level.scene.add("marker", { "Transform" });
    level.get<Transform>(notACamera).position = { 90.0f, 0.0f, 0.0f };
    const Vector3 before = worldPosition(level.game);
    level.camera().switchToCamera(level.world(), notACamera, 0.0f, Linear);
    level.tick(3);
    EXPECT_EQ(worldPosition(level.game), before);
    level.camera().switchToMainCamera(level.world(), 0.0f, Linear);
    expectNear(worldPosition(level.game), worldPosition(level.follow));
}

TEST_F(GameCameraTest, ABlendEasesItsProgressByItsCurve)
{
    const struct {
        u32 curve;
        f32 fractions[4]; // after the switch and after each of three ticks
    } cases[] = {
        { Linear, { 0.25f, 0.5f, 0.75f, 1.0f } },
        { SmoothStep, { 0.15625f, 0.5f, 0.84375f, 1.0f } },
        { Quadratic, { 0.0625f, 0.25f, 0.5625f, 1.0f } },
    };
    for (const auto& c : cases) {
        CameraWorld world;
        world.buildLevel();
        const EntityHandle target = world.addCamera("target", { 40.0f, 0.0f, -20.0f }, 60.0f);
        world.start();
        world.tick(3);
        const f32 from = worldPositionOf(world.world(), world.get<Transform>(world.game)).x;
        world.camera().switchToCamera(world.world(), target, 0.04f, c.curve);
        for (f32 fraction : c.fractions) {
            const f32 x = worldPositionOf(world.world(), world.get<Transform>(world.game)).x;
            EXPECT_NEAR(x, from + (40.0f - from) * fraction, 1e-3f) << "curve " << c.curve;
            world.tick();
        }
    }
}

TEST_F(GameCameraTest, ACurveClipReshapesTheProgressOfABlend)
{
    LoadingWorker worker { nullptr, nullptr };
    level.context.services.loadingWorker = &worker;
    // A clip that holds at 0.75 (whatever the progress) and one above 1,
    // which is taken as 1.
    testing::preloadClip(worker, 0x77, "duration 1\nwrap once\ntrack - curve\nkey 0 0.75\n");
    testing::preloadClip(worker, 0x78, "duration 1\nwrap once\ntrack - curve\nkey 0 3\n");
    startLevel();
    const EntityHandle held = level.scene.add("held", { "Transform", "CameraLens", "CameraCurve" });
    level.get<Transform>(held).position = { 40.0f, 0.0f, -20.0f };
    level.get<CameraCurve>(held).animation = 0x77;
    const EntityHandle over = level.scene.add("over", { "Transform", "CameraLens", "CameraCurve" });
    level.get<Transform>(over).position = { 0.0f, 40.0f, -20.0f };
    level.get<CameraCurve>(over).animation = 0x78;

    level.camera().switchToCamera(level.world(), held, 1.0f, Linear);
    EXPECT_NEAR(worldPosition(level.game).x, 30.0f, 1e-3f);
    level.camera().switchToCamera(level.world(), over, 1.0f, Linear);
    EXPECT_NEAR(worldPosition(level.game).y, 40.0f, 1e-3f);
    // beginBlend keeps the clip: from `over` back to `held` at once.
    level.camera().beginBlend(level.world(), held, 1.0f);
    expectNear(worldPosition(level.game), { 40.0f, 0.0f, -20.0f }, 1e-3f);
}

TEST_F(GameCameraTest, AReturnToTheFollowCameraEndsTheTickAfterItsTimeIsUp)
{
    // Blended poses are written as they come, the follow pose as a world
    // position: under a parent the two differ, which shows when the blend ends.
    const struct {
        f32 duration;
        int blendingTicks;
    } cases[] = { { 0.0f, 0 }, { 0.02f, 2 } };
    for (const auto& c : cases) {
        CameraWorld world;
        world.buildLevel();
        const EntityHandle rigParent = world.scene.add("rig parent", { "Transform" });
        world.get<Transform>(rigParent).position = { 0.0f, 100.0f, 0.0f };
        world.get<Transform>(world.game).parent = rigParent;
        const EntityHandle target = world.addCamera("target", { 30.0f, 0.0f, -20.0f }, 60.0f);
        world.start();
        world.tick(3);
        world.camera().switchToCamera(world.world(), target, 0.0f, Linear);
        world.camera().switchToMainCamera(world.world(), c.duration, Linear);
        for (int tick = 0; tick <= c.blendingTicks; ++tick) {
            const f32 y = worldPositionOf(world.world(), world.get<Transform>(world.game)).y;
            EXPECT_NEAR(y, tick < c.blendingTicks ? 100.0f : 0.0f, kNear)
                << "duration " << c.duration << ", tick " << tick;
            world.tick();
        }
        EXPECT_NEAR(worldPositionOf(world.world(), world.get<Transform>(world.game)).x, 0.0f, kNear);
    }
}

// Clamp ----------------------------------------------------------------------------

TEST_F(GameCameraTest, TheClampRangeKeepsTheViewInsideTheLevel)
{
    // A camera 10 in front of the ground with a 90 degree view sees 10 up and
    // down and 10 / 0.5625 left and right.
    constexpr f32 kHalfHeight = 10.0f;
    constexpr f32 kHalfWidth = 10.0f / 0.5625f;
    const struct {
        f32 left, bottom, right, top, offsetX, offsetY;
        f32 minX, minY, maxX, maxY;
    } cases[] = {
        { -100, -50, 100, 50, 0, 0, -100 + kHalfWidth, -50 + kHalfHeight, 100 - kHalfWidth, 50 - kHalfHeight },
        { -100, -50, 100, 50, 3, -2, -97 + kHalfWidth, -52 + kHalfHeight, 103 - kHalfWidth, 48 - kHalfHeight },
        // Narrower and lower than the view: the limits cross and swap.
        { -5, -4, 5, 4, 0, 0, 5 - kHalfWidth, 4 - kHalfHeight, kHalfWidth - 5, kHalfHeight - 4 },
    };
    level.buildLevel();
    level.get<Transform>(level.game).position = { 7.0f, 3.0f, -10.0f };
    level.get<CameraLens>(level.game).fieldOfView = 90.0f;
    GameCameraRig& rig = level.get<GameCameraRig>(level.game);
    for (const auto& c : cases) {
        rig.boundsLeft = c.left;
        rig.boundsBottom = c.bottom;
        rig.boundsRight = c.right;
        rig.boundsTop = c.top;
        rig.offsetX = c.offsetX;
        rig.offsetY = c.offsetY;
        GameCameraSystem::computeBounds(rig, level.world(), { 1920.0f, 1080.0f }, { 0, 0, 1920, 1080 });
        SCOPED_TRACE(::testing::Message() << "bounds " << c.left << ".." << c.right);
        EXPECT_NEAR(rig.clampMinX, c.minX, 1e-3f);
        EXPECT_NEAR(rig.clampMinY, c.minY, 1e-3f);
        EXPECT_NEAR(rig.clampMaxX, c.maxX, 1e-3f);
        EXPECT_NEAR(rig.clampMaxY, c.maxY, 1e-3f);
    }
    // A viewport of no area has no view to keep inside.
    rig.clampMinX = 1234.0f;
    GameCameraSystem::computeBounds(rig, level.world(), { 1920.0f, 1080.0f }, { 0, 0, 0, 1080 });
    EXPECT_EQ(rig.clampMinX, 1234.0f);
}

TEST_F(GameCameraTest, TheFollowCameraStopsAtTheLevelEdge)
{
    level.buildLevel({ 100.0f, -100.0f, 0.0f });
    GameCameraRig& rig = level.get<GameCameraRig>(level.game);
    rig.boundsLeft = -30.0f;
    rig.boundsBottom = -20.0f;
    rig.boundsRight = 30.0f;
    rig.boundsTop = 20.0f;
    level.start();
    level.tick(5);
    // The frame follows the settings: 1920 x 1080.
    const f32 halfHeight = 20.0f * std::tan(30.0f * 3.1415927f / 180.0f);
    const f32 halfWidth = halfHeight / 0.5625f;
    expectNear(worldPosition(level.follow), { 30.0f - halfWidth, -20.0f + halfHeight, -20.0f }, 1e-3f);
    expectNear(worldPosition(level.game), worldPosition(level.follow));
    EXPECT_NEAR(rig.clampMaxX, 30.0f - halfWidth, 1e-3f);
}

TEST_F(GameCameraTest, ViewAndProjectionOfACamera)
{
    level.buildLevel();
    const EntityHandle parent = level.scene.add("parent", { "Transform" });
    level.get<Transform>(parent).position = { 5.0f, 0.0f, 0.0f };
    CameraLens& l = level.get<CameraLens>(level.game);
    l.fieldOfView = 90.0f;
    l.nearPlane = 1.0f;
    l.farPlane = 3.0f;
    Transform& t = level.get<Transform>(level.game);
    t.position = { 0.0f, 0.0f, 10.0f };
    Matrix4 view;
    Matrix4 projection;
    GameCameraSystem::computeViewProjection(view, projection, &level.get<GameCameraRig>(level.game), level.world());
    for (int i = 0; i < 16; ++i) {
        const f32 expected = i == 0 ? 0.5625f : i == 5 ? 1.0f : i == 10 ? 2.0f : i == 11 ? -1.0f : i == 14 ? 3.0f : 0.0f;
        EXPECT_NEAR(projection.m[i], expected, 1e-6f) << "element " << i;
    }
    expectNear(view.transformPoint({ 0.0f, 0.0f, 10.0f }), { 0.0f, 0.0f, 0.0f });
    expectNear(view.transformPoint({ 1.0f, 2.0f, 11.0f }), { 1.0f, 2.0f, -1.0f });

    t.parent = parent;
    GameCameraSystem::computeViewProjection(view, projection, &level.get<GameCameraRig>(level.game), level.world());
    expectNear(view.transformPoint({ 5.0f, 0.0f, 10.0f }), { 0.0f, 0.0f, 0.0f });
}

// Shake ----------------------------------------------------------------------------

TEST_F(GameCameraTest, AShakeOfNoDurationMovesTheCameraForOneTick)
{
    startLevel();
    level.camera().startShake({ 2.0f, 1.0f, 0.0f, 0.0f });
    level.tick();
    const Vector3 shaken = worldPosition(level.game);
    const Vector3 follow = worldPosition(level.follow);
    EXPECT_NE(shaken.x, follow.x);
    EXPECT_LE(std::fabs(shaken.x - follow.x), 1.0f);
    EXPECT_EQ(shaken.y, follow.y);
    level.tick();
    EXPECT_EQ(worldPosition(level.game), worldPosition(level.follow));

    // The parameters seed the generator: the same shake moves alike.
    level.camera().startShake({ 2.0f, 1.0f, 0.0f, 0.0f });
    level.tick();
    EXPECT_EQ(worldPosition(level.game).x - worldPosition(level.follow).x, shaken.x - follow.x);
}

TEST_F(GameCameraTest, AShakeFadesOutOverItsDuration)
{
    startLevel();
    level.camera().startShake({ 2.0f, 1.0f, 1.0f, 0.02f });
    const bool moved[] = { true, true, false, false };
    for (bool expected : moved) {
        level.tick();
        const Vector3 d = worldPosition(level.game) - worldPosition(level.follow);
        EXPECT_EQ(d.x != 0.0f && d.y != 0.0f, expected);
        EXPECT_LE(std::fabs(d.x), 1.0f);
        EXPECT_LE(std::fabs(d.y), 1.0f);
    }
}

// Lifecycle -------------------------------------------------------------------------

TEST_F(GameCameraTest, TheLastFollowCameraOfTheLevelIsTheOneThatFollows)
{
    level.buildLevel({ 4.0f, 5.0f, 0.0f });
    const EntityHandle second = level.addFollowCamera();
    level.get<Transform>(level.follow).position = { -9.0f, -9.0f, -9.0f };
    level.start();
    expectNear(level.get<Transform>(second).position, { 4.0f, 5.0f, 0.0f });
    expectNear(level.get<Transform>(level.follow).position, { -9.0f, -9.0f, -9.0f });
    expectNear(worldPosition(level.game), { 4.0f, 5.0f, 0.0f });
    level.tick(3);
    expectNear(level.get<Transform>(level.follow).position, { -9.0f, -9.0f, -9.0f });
}

TEST_F(GameCameraTest, NothingMovesWhilePausedOrWithoutAnActivePlayer)
{
    const struct {
        bool paused, playerInactive, stopped;
    } cases[] = { { true, false, false }, { false, true, false }, { false, false, true } };
    for (const auto& c : cases) {
        CameraWorld world;
        world.buildLevel();
        world.start();
        world.tick(3);
        world.context.paused = c.paused ? 1 : 0;
        if (c.playerInactive)
            world.world().deactivateEntity(world.player);
        world.camera().setStarted(!c.stopped);
        world.get<Transform>(world.player).position = { 50.0f, 0.0f, 0.0f };
        world.tick(3);
        EXPECT_NEAR(worldPositionOf(world.world(), world.get<Transform>(world.follow)).x, 0.0f, kNear);
    }
}

TEST_F(GameCameraTest, TheRestorePutsBackTheSavedStateAndSettlesTheCameras)
{
    startLevel();
    level.get<CameraFollow>(level.follow).smoothTime = 0.2f;
    const EntityHandle target = level.addCamera("target", { 30.0f, 30.0f, -20.0f }, 60.0f);
    level.camera().saveSnapshot();
    level.camera().switchToCamera(level.world(), target, 10.0f, Linear);
    for (u32 zone = 0; zone < GameCameraSystem::kZoneCapacity; ++zone)
        level.camera().addZone(pair(zone), target.value);
    level.tick();

    // The player moved on while the camera's state is put back.
    level.get<Transform>(level.player).position = { 50.0f, 0.0f, 0.0f };
    level.camera().restoreSnapshot(level.world());
    expectNear(worldPosition(level.follow), { 50.0f, 0.0f, -20.0f }, 1e-3f);
    expectNear(worldPosition(level.game), worldPosition(level.follow));
    EXPECT_TRUE(level.camera().addZone(pair(9), target.value));
}

TEST_F(GameCameraTest, ARestoreEndsAReturnToFollowThatWasUnderWay)
{
    startLevel();
    const EntityHandle target = level.addCamera("target", { 30.0f, 30.0f, -20.0f }, 60.0f);
    level.camera().switchToCamera(level.world(), target, 0.0f, Linear);
    level.camera().switchToMainCamera(level.world(), 5.0f, Linear);
    level.tick();
    level.camera().saveSnapshot();
    level.camera().restoreSnapshot(level.world());
    expectNear(worldPosition(level.game), worldPosition(level.follow));
}

} // namespace
} // namespace harmonize
