#pragma once
// Moves the level's cameras once per fixed tick. The follow camera tracks the
// player (dead zone, look-ahead, speed-dependent smoothing) and is clamped so
// that the rendered game camera's view stays inside the level bounds; the
// game camera takes the follow camera's pose, mixed with the cameras of the
// fuzzy camera zones the player stands in, or blends from a saved pose to
// another camera; a cutscene may shake it.
#include "harmonize/components/Components.h"
#include "harmonize/display/FrameLayout.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/utils/MathUtils.h"

#include "quern/entity/System.h"

namespace quern::animate {
class KeyframeAnimation;
}

namespace harmonize {

struct AppContext;

// A (zone, player) overlap of a fuzzy zone.
struct FuzzyPair {
    u32 zone;
    u32 player;
};
constexpr bool operator==(FuzzyPair a, FuzzyPair b) { return a.zone == b.zone && a.player == b.player; }

struct ShakeParameters {
    f32 amplitude;
    f32 xAmount;
    f32 yAmount;
    f32 duration;
};

// Where a camera is and what its lens shows; the position is a world position.
struct CameraPose {
    quern::math::Vector3 position;
    quern::math::Quaternion rotation;
    quern::math::Vector3 scale;
    EntityHandle parent;
    CameraLens lens;
    bool valid;
};

class GameCameraSystem final : public quern::entity::System {
public:
    // The zone list's room; a further zone gets no camera entry.
    static constexpr quern::u64 kZoneCapacity = 8;

    explicit GameCameraSystem(AppContext& context);
    ~GameCameraSystem() override;

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    void step(quern::entity::World& world);

    void switchToCamera(quern::entity::World& world, EntityHandle camera, f32 duration, u32 curve);
    void switchToMainCamera(quern::entity::World& world, f32 duration, u32 curve);
    void beginBlend(quern::entity::World& world, EntityHandle camera, f32 duration);
    void startShake(const ShakeParameters& shake);

    // The fuzzy collision system's entries: appended with weight 0 (false,
    // with a warning, when the list is full), weighted every tick, removed
    // when the player leaves the zone.
    bool addZone(FuzzyPair pair, u32 camera);
    void setZoneWeight(FuzzyPair pair, f32 weight);
    void removeZone(FuzzyPair pair, quern::entity::World& world);

    // The quick save's copy of the state, and its restore.
    void saveSnapshot();
    void restoreSnapshot(quern::entity::World& world);

    // The rig of the rendered game camera; null when the level has none.
    const GameCameraRig* gameCameraRig() const { return hasGameCamera() ? m_state.rig : nullptr; }

    // The free camera stops the game camera while it runs.
    bool started() const;
    void setStarted(bool started);

    // View and projection of the camera entity that owns `rig`.
    static void computeViewProjection(quern::math::Matrix4& view, quern::math::Matrix4& projection,
        const GameCameraRig* rig, quern::entity::World& world);
    // Refreshes the rig's clamp rectangle: the range of camera positions over
    // which the view of a `frame` shown in `viewport` (y up from the bottom)
    // stays inside the level bounds, in the plane z = 0.
    static void computeBounds(
        GameCameraRig& rig, quern::entity::World& world, FrameSizeF frame, const ViewportRect& viewport);

    f32 timeScale = 1.0f;

private:
    struct FollowCamera {
        EntityHandle entity;
        Transform* transform = nullptr;
        CameraFollow* follow = nullptr;
        CameraLens* lens = nullptr;
    };

    // Everything the quick save copies, as one piece.
    struct State {
        PlayerView player;
        EntityHandle gameCamera;
        CameraLens* lens;
        Transform* transform;
        GameCameraRig* rig;
        CameraPose blendStart;
        ShakeParameters shake;
        u32 shakeRandom;
        u32 blendCurve;
        f32 blendTime;
        f32 blendDuration;
        f32 shakeTime;
        f32 shakeDuration;
        f32 smoothTime;
        f32 smoothVelocity;
        EntityHandle followCamera;
        EntityHandle blendTarget;
        quern::u64 zoneCount;
        FuzzyPair zonePairs[kZoneCapacity];
        f32 zoneWeights[kZoneCapacity];
        u32 zoneCameras[kZoneCapacity];
        u8 started;
        u8 shaking;
        u8 blending;
        u8 returning;
    };

    void findEntities(quern::entity::World& world);
    bool hasPlayer() const;
    bool hasGameCamera() const;
    bool findFollowCamera(quern::entity::World& world, FollowCamera& camera) const;
    f32 tickStep(const quern::entity::World& world) const;

    void moveZoneCameras(quern::entity::World& world, const quern::math::Vector3& followPosition);
    void clampFollowCamera(quern::entity::World& world, Transform& follow);
    void moveAxisFollowers(quern::entity::World& world, const quern::math::Vector3& clamped);
    void refreshBounds(quern::entity::World& world);

    CameraPose followPose(quern::entity::World& world);
    CameraPose blendPose(quern::entity::World& world);
    CameraPose currentPose(quern::entity::World& world);
    f32 curveProgress(f32 t) const;
    void applyPose(quern::entity::World& world);
    void startBlend(quern::entity::World& world, EntityHandle camera, f32 duration);
    void takeCurveOf(quern::entity::World& world, EntityHandle camera);
    void shakeStep(quern::entity::World& world);
    void drawDebug(quern::entity::World& world);

    // The follow camera's own steps.
    void initFollow(const FollowCamera& camera, quern::entity::World& world);
    void followStep(quern::entity::World& world, const FollowCamera& camera);
    i32 chooseDirection(quern::entity::World& world, const CameraFollow& follow) const;
    void moveFollowCamera(quern::entity::World& world, const FollowCamera& camera, f32 k);

    AppContext* m_context;
    quern::animate::KeyframeAnimation* m_curveAnimation = nullptr;
    State m_snapshot {};
    State m_state {};
};

} // namespace harmonize
