#pragma once
// Moving platforms travel between two stations on an animation clip played on
// the platform. At world start each platform setup hands its platform the
// clip, the wrap mode and whether to play at once, and the platform heads for
// the nearer station. Every fixed tick notices when a platform leaves its
// station and when it arrives at its target, which then switches to the other
// station. The system never moves a platform itself.

#include "quern/entity/System.h"

namespace harmonize {

struct AppContext;

enum MovingPlatformState : quern::i32 {
    InStation = 0, // within reach of the target station
    OutStation = 1, // on the way
};

// "InStation", "OutStation", or "<Invalid MovingPlatformState>".
const char* movingPlatformStateName(quern::i32 state);

// A platform counts as at a station closer than this.
inline constexpr quern::f32 kStationReach = 0.5f;

class MovingPlatformSystem final : public quern::entity::System {
public:
    explicit MovingPlatformSystem(AppContext& context);

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    // With gizmos on: an upright line over each platform's target station.
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

private:
    AppContext* m_context;
};

} // namespace harmonize
