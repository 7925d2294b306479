#pragma once
// Moves the level's cameras once per fixed tick. The follow camera tracks the
// player (dead zone, look-ahead, speed-dependent smoothing) and is clamped so
// that the rendered game camera's view stays inside the level bounds; the
// game camera takes the follow camera's pose, mixed with the cameras of the
// fuzzy camera zones the player stands in, or blends from a saved pose to
// another camera; a cutscene may shake it.
#include "harmonize/components/Components.h"
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

    // The free camera stops the game camera while it runs.
    bool started() const;
    void setStarted(bool started);

    // View and projection of the camera entity that owns `rig`.
    static void computeViewProjection(quern::math::Matrix4& view, quern::math::Matrix4& projection,
        const GameCameraRig* rig, quern::entity::World& world);

    f32 timeScale = 1.0f;
};

} // namespace harmonize
