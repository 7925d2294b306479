#pragma once
// Hostile devices that fire at the player. A launcher shoots a clone of its
// missile prefab along its muzzle's world Y axis whenever its reload countdown
// has run out and it sees a player of the opposite race straight down that
// axis; a launcher that cannot see the player keeps counting down, so it fires
// on the first tick it sees the player again. Missiles fly along their
// direction: homing ones turn towards an opposing target in range every tick,
// aim-once ones turn once at launch. Missile models look along their local -Z.
// Flying enemies (which patrol a path and turn their head, and any launcher
// on it, at the player) and alarm machines are started and stepped here too,
// each tick between the missiles and the launchers.
//
// Launchers aim only at the player found at world start; a world without one
// (the front end) has launchers that count down and never fire.

#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"

#include "quern/entity/System.h"

namespace harmonize {

struct AppContext;
class CollisionSystem;
struct CollisionHit;

enum MissileMode : i32 {
    MissileHoming = 0,
    MissileAimOnce = 1,
};

// Radius of the sphere swept to test a line of sight.
inline constexpr f32 kSightSweepRadius = 0.2f;

class MissileLauncherSystem final : public quern::entity::System {
public:
    explicit MissileLauncherSystem(AppContext& context);

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // After the quick save put the world back. Launchers, missiles and alarm
    // machines keep their whole state in their components, which the snapshot
    // carries; a flying enemy whose head is not among the restored coroutines
    // gets its head started again.
    void restoreSnapshot(quern::entity::World& world);

    // The player found at world start; no entity when the world has none.
    const PlayerView& player() const { return m_player; }

private:
    void stepLauncher(quern::entity::World& world, u64 index);
    void stepFlyingEnemy(quern::entity::World& world, u64 index);
    bool seesPlayer(quern::entity::World& world, u64 index, const MissileLauncher& launcher);
    void shoot(quern::entity::World& world, const MissileLauncher& launcher);

    AppContext* m_context;
    PlayerView m_player;
};

// Turns the missile entity's transform so that its local -Z points from its
// world position at its target's; nothing when the target is not an active
// entity or sits exactly on the missile.
void aimMissile(EntityHandle missile, quern::entity::World& world);

// The missile step of one tick: homing, the aim-once turn, and the move along
// the direction (its local Y when the direction is zero).
void stepMissile(EntityHandle missile, quern::entity::World& world);

// Whether the target is the nearest solid thing a sphere swept from `origin`
// along `direction` for `length` meets; triggers are seen through. The hits
// are walked in the order the sweep returns them.
bool isTargetVisible(const quern::math::Vector3& origin, EntityHandle target, const quern::math::Vector3& direction,
    f32 length, quern::entity::World& world, CollisionSystem& collision);

// The walk of isTargetVisible over hits already collected.
bool isTargetNearest(const CollisionHit* hits, u64 count, const quern::math::Vector3& origin, EntityHandle target,
    quern::entity::World& world);

} // namespace harmonize
