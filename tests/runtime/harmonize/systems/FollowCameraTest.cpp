#include "harmonize/systems/GameCameraSystem.h"

#include "CameraWorld.h"
#include "harmonize/statemachines/MovementStateMachine.h"

#include "quern/entity/World.h"

#include <gtest/gtest.h>

#include <cmath>

namespace harmonize {
namespace {

using quern::math::Quaternion;
using quern::math::Vector3;
using testing::CameraWorld;

class FollowCameraWorld : public CameraWorld {
public:
    FollowCameraWorld() { buildLevel(); }

    CameraFollow& record() { return get<CameraFollow>(follow); }
    PlayerMovement& movement() { return get<PlayerMovement>(player); }
    Vector3 followPosition() { return worldPositionOf(world(), get<Transform>(follow)); }
    void movePlayer(f32 x, f32 y) { get<Transform>(player).position = { x, y, 0.0f }; }
};

TEST(FollowCamera, TheFocusMovesOnlyWhenThePlayerLeavesTheDeadZone)
{
    const struct {
        f32 x, y;
        f32 focusX, focusY;
        bool moved;
        f32 offsetX, offsetY; // the look offset after the tick, from (0.3, 0.2)
    } cases[] = {
        { 1.5f, 0.5f, 0.0f, 0.0f, false, 0.3f, 0.2f },
        { 3.0f, -2.0f, 1.0f, -1.0f, true, 0.31f, 0.19f },
        { -2.5f, 0.0f, -0.5f, 0.0f, true, 0.31f, 0.19f },
    };
    for (const auto& c : cases) {
        FollowCameraWorld level;
        CameraFollow& r = level.record();
        r.deadZone = { 2.0f, 1.0f };
        r.lookOffsetSpeed = 1.0f;
        r.maxLookOffset = { 5.0f, 5.0f };
        level.start();
        r.lookOffset = { 0.3f, 0.2f };
        level.movePlayer(c.x, c.y);
        level.tick();
        SCOPED_TRACE(::testing::Message() << "player at " << c.x << ", " << c.y);
        EXPECT_FLOAT_EQ(r.focus.x, c.focusX);
        EXPECT_FLOAT_EQ(r.focus.y, c.focusY);
        EXPECT_EQ(r.focusMoved, c.moved ? 1 : 0);
        // Still looking right, as the camera starts.
        EXPECT_FLOAT_EQ(r.lookOffset.x, c.offsetX);
        EXPECT_FLOAT_EQ(r.lookOffset.y, c.offsetY);
        EXPECT_FLOAT_EQ(r.targetPoint.x, c.focusX + c.offsetX);
        EXPECT_FLOAT_EQ(r.targetPoint.y, c.focusY + c.offsetY);
    }
}

TEST(FollowCamera, WalkingWidensTheDeadZoneAndTheAirNarrowsItFromTheNextTick)
{
    const struct {
        i32 state;
        f32 before, after;
    } cases[] = {
        { WALKING, 1.0f, 1.1f },
        { FALLING, 1.0f, 0.9f },
        { JUMPING, 1.0f, 0.9f },
        { WAITING, 1.0f, 1.0f },
        { WALKING, 1.95f, 2.0f },
        { FALLING, 0.55f, 0.5f },
    };
    for (const auto& c : cases) {
        FollowCameraWorld level;
        CameraFollow& r = level.record();
        r.deadZone = { 1.0f, 1.0f };
        r.deadZoneMin = 0.5f;
        r.deadZoneMax = 2.0f;
        r.deadZoneGrowth = 10.0f;
        r.deadZoneShrink = 10.0f;
        level.start();
        r.deadZoneFactor = c.before;
        level.movement().movementState[0] = c.state;
        level.movePlayer(3.0f, 0.0f);
        level.tick();
        SCOPED_TRACE(::testing::Message() << "state " << c.state << " from " << c.before);
        EXPECT_NEAR(r.deadZoneFactor, c.after, 1e-5f);
        EXPECT_FLOAT_EQ(r.focus.x, 3.0f - c.before);
    }
}

TEST(FollowCamera, TheLookOffsetGrowsTowardsItsMaximumWhileTheOtherAxisDecaysToZero)
{
    FollowCameraWorld level;
    CameraFollow& r = level.record();
    r.lookOffsetSpeed = 2.0f; // 0.02 a tick
    r.maxLookOffset = { 0.05f, 1.0f };
    level.start();
    r.lookOffset = { 0.0f, 0.05f };
    const struct {
        f32 x, y;
    } expected[] = { { 0.02f, 0.03f }, { 0.04f, 0.01f }, { 0.06f, 0.0f }, { 0.06f, 0.0f } };
    f32 playerX = 0.0f;
    for (const auto& e : expected) {
        playerX += 1.0f;
        level.movePlayer(playerX, 0.0f);
        level.tick();
        EXPECT_EQ(r.lookDirection, 2);
        EXPECT_NEAR(r.lookOffset.x, e.x, 1e-6f);
        EXPECT_NEAR(r.lookOffset.y, e.y, 1e-6f);
        EXPECT_GE(r.lookOffset.y, 0.0f);
    }
}

TEST(FollowCamera, NoStepLeavesTheCameraInPlaceButStillSetsItsDepthAndView)
{
    for (const bool noScale : { true, false }) {
        FollowCameraWorld level;
        level.start();
        level.tick(3);
        const Vector3 before = level.followPosition();
        if (noScale)
            level.camera().timeScale = 0.0f;
        else
            level.world().clock.step = 0;
        level.record().cameraZ = -30.0f;
        level.record().fieldOfView = 45.0f;
        level.movePlayer(10.0f, 4.0f);
        level.tick();
        const Vector3 after = level.followPosition();
        EXPECT_EQ(after.x, before.x);
        EXPECT_EQ(after.y, before.y);
        EXPECT_EQ(level.get<Transform>(level.follow).position.z, -30.0f);
        EXPECT_EQ(level.get<CameraLens>(level.follow).fieldOfView, 45.0f);
    }
}

TEST(FollowCamera, ACarrierThatClearlyMovesChoosesTheLookDirection)
{
    const struct {
        f32 vx, vy;
        f32 carryTime;
        bool enabled;
        i32 expected;
    } cases[] = {
        { 0.0f, 3.0f, 0.5f, true, 3 },
        { -3.0f, 0.0f, 0.5f, true, 1 },
        { 0.0f, -3.0f, 0.5f, true, 4 },
        { 3.0f, 0.0f, 0.5f, true, 2 },
        { 2.0f, 3.0f, 0.5f, true, 3 },
        // Too slow, a carrier that is no moving platform, a carry of no
        // length: the player's own motion (to the left) decides.
        { 0.005f, 0.0f, 0.5f, true, 1 },
        { 3.0f, 0.0f, 0.5f, false, 1 },
        { 3.0f, 0.0f, 0.0f, true, 1 },
    };
    for (const auto& c : cases) {
        FollowCameraWorld level;
        const EntityHandle platform = level.scene.add("platform", { "Transform", "MovingPlatform" });
        level.start();
        level.world().setComponentEnabled(platform, MovingPlatform::kType, c.enabled);
        PlayerMovement& m = level.movement();
        m.cluster = platform;
        m.carrierVelocity = { c.vx, c.vy };
        m.carryTime = c.carryTime;
        m.carryRemaining = 0.5f;
        m.facingState[0] = 0;
        m.velocity = { -1.0f, 0.0f };
        level.tick();
        EXPECT_EQ(level.record().lookDirection, c.expected) << "carrier " << c.vx << ", " << c.vy;
        EXPECT_TRUE(std::isfinite(level.followPosition().x));
    }
}

TEST(FollowCamera, TheFacingStateAndTheMovementAxesChooseTheLookDirection)
{
    constexpr i32 kNoKey = 0;
    constexpr i32 kLeft = 'a';
    constexpr i32 kRight = 'd';
    constexpr i32 kUp = 'w';
    constexpr i32 kDown = 's';
    const struct {
        i32 facing;
        f32 vx, vy;
        i32 key;
        i32 previous;
        i32 expected;
    } cases[] = {
        { 0, 1.0f, 0.0f, kNoKey, 4, 2 },
        { 0, 0.0f, 1.0f, kNoKey, 4, 3 },
        { 0, -0.2f, -1.0f, kNoKey, 1, 4 },
        { 0, 1.0f, 1.0f, kNoKey, 4, 4 },
        { 12, 0.0f, 0.0f, kUp, 2, 3 },
        { 76, 0.0f, 0.0f, kDown, 2, 4 },
        { 140, 0.0f, 0.0f, kNoKey, 1, 1 },
        { 17, 0.0f, 0.0f, kLeft, 2, 1 },
        { 18, 0.0f, 0.0f, kRight, 3, 3 },
        { 33, 0.0f, 0.0f, kRight, 1, 2 },
        { 34, 0.0f, 0.0f, kLeft, 4, 4 },
        { 5, 0.0f, 0.0f, kNoKey, 0, 2 },
        { 5, 0.0f, 0.0f, kNoKey, 4, 4 },
    };
    for (const auto& c : cases) {
        FollowCameraWorld level;
        level.record().lookThreshold = 0.5f;
        level.start();
        PlayerMovement& m = level.movement();
        m.facingState[0] = c.facing;
        m.velocity = { c.vx, c.vy };
        level.record().lookDirection = c.previous;
        if (c.key != kNoKey)
            level.key(c.key, true);
        level.tick();
        EXPECT_EQ(level.record().lookDirection, c.expected) << "facing " << c.facing << ", key " << c.key;
    }
}

TEST(FollowCamera, FastMotionAlongGravityTightensTheSmoothing)
{
    const struct {
        f32 vx, vy;
        f32 rangeStart, rangeEnd;
        bool close; // on the target point after a tenth of a second
    } cases[] = {
        { 0.0f, -8.0f, 2.0f, 6.0f, true },
        { 0.0f, -6.0f, 2.0f, 6.0f, true },
        { 0.0f, 0.0f, 2.0f, 6.0f, false },
        { 0.0f, -2.0f, 2.0f, 6.0f, false },
        // Motion across gravity does not count.
        { 8.0f, 0.0f, 2.0f, 6.0f, false },
        // A range of no width is a step at its start.
        { 0.0f, -3.0f, 2.0f, 2.0f, true },
        { 0.0f, -1.0f, 2.0f, 2.0f, false },
    };
    for (const auto& c : cases) {
        FollowCameraWorld level;
        CameraFollow& r = level.record();
        r.smoothTime = 1.0f;
        r.smoothTimeApproach = 0.001f;
        r.speedRangeStart = c.rangeStart;
        r.speedRangeEnd = c.rangeEnd;
        level.start();
        level.tick(10);
        level.movement().velocity = { c.vx, c.vy };
        level.movePlayer(10.0f, 0.0f);
        level.tick(10);
        const f32 x = level.followPosition().x;
        SCOPED_TRACE(::testing::Message() << "velocity " << c.vx << ", " << c.vy);
        ASSERT_TRUE(std::isfinite(x));
        if (c.close)
            EXPECT_NEAR(x, 10.0f, 0.01f);
        else
            EXPECT_LT(x, 1.0f);
    }
}

TEST(FollowCamera, ATurnedCameraIsRaisedByItsTiltTimesItsDepth)
{
    FollowCameraWorld level;
    level.get<Transform>(level.follow).rotation = Quaternion::fromAxisAngle(0.5f, { 0.0f, 1.0f, 0.0f });
    level.start();
    level.tick(3);
    // The first angle of the turn, -0.5, is scaled like degrees before the
    // arc tangent.
    const f32 tilt = std::atan(-0.5f * 3.1415927f / 180.0f);
    EXPECT_NEAR(level.followPosition().y, -tilt * -20.0f, 1e-4f);
    EXPECT_NEAR(level.followPosition().x, 0.0f, 1e-5f);
}

} // namespace
} // namespace harmonize
