#include "harmonize/systems/MissileLauncherSystem.h"

#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/extensions/RaceLook.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/Settings.h"

#include "quern/containers/Array.h"
#include "quern/debug/Logger.h"
#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"

#include <cmath>
#include <limits>

namespace harmonize {

using quern::entity::World;
using quern::math::Quaternion;
using quern::math::Vector3;

namespace {

constexpr f32 kShootFade = 0.2f;
constexpr f32 kAxisTolerance = 0.000001f;

bool isLiveSlot(World& world, u64 index)
{
    return world.getGeneration(index) != 0 && world.getState(index) != quern::entity::EntityState::Free;
}

template <class Record> Record& recordAt(World& world, u64 index)
{
    return *static_cast<Record*>(world.getComponent(index, Record::kType));
}

// The races of two entities oppose; an entity without a Race opposes nothing.
bool opposes(World& world, EntityHandle a, EntityHandle b)
{
    const Race* raceA = componentOf<Race>(world, a);
    const Race* raceB = componentOf<Race>(world, b);
    return raceA && raceB && racesOppose(raceA->value, raceB->value);
}

// The turn that takes local -Z onto the unit vector `d`.
Quaternion lookRotation(const Vector3& d)
{
    const f32 h = dot(d, Vector3 { 0.0f, 0.0f, -1.0f });
    if (std::fabs(h + 1.0f) < kAxisTolerance)
        return Quaternion { 0.0f, 1.0f, 0.0f, 0.0f };
    if (std::fabs(h - 1.0f) < kAxisTolerance)
        return Quaternion::identity();
    const Vector3 axis = Vector3 { d.y, -d.x, 0.0f }.normalized();
    // Rounding may carry a unit vector's component just past 1.
    const f32 angle = std::acos(h > 1.0f ? 1.0f : (h < -1.0f ? -1.0f : h));
    const f32 s = std::sin(angle * 0.5f);
    return Quaternion { axis.x * s, axis.y * s, axis.z * s, std::cos(angle * 0.5f) };
}

// The homing range squared, as level data may hold any range: a range whose
// square would overflow counts as unbounded, one whose square would be too
// small for a normal float (or NaN) as none.
f32 squaredRange(f32 range)
{
    constexpr f32 kSmallest = 1e-18f;
    constexpr f32 kLargest = 1e18f;
    if (std::isnan(range))
        return 0.0f;
    const f32 size = std::fabs(range);
    if (size < kSmallest)
        return 0.0f;
    if (size > kLargest)
        return std::numeric_limits<f32>::max();
    return size * size;
}

} // namespace

MissileLauncherSystem::MissileLauncherSystem(AppContext& context)
    : m_context(&context)
{
}

void MissileLauncherSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_player = PlayerView {};
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (!isLiveSlot(world, i))
            continue;
        const ComponentMask& enabled = world.getEnabledMask(i);
        if (enabled.test(MissileLauncher::kType)) {
            auto& launcher = recordAt<MissileLauncher>(world, i);
            launcher.reloadCountdown = launcher.reloadInterval;
        }
        if (enabled.test(Missile::kType))
            QUERN_LOG(2) << "Missile already in scene without being spawned" << std::endl;
        if (enabled.test(FlyingEnemy::kType) && m_context->coroutine)
            FlyingEnemy::start(entityAt(world, i), world, *m_context->coroutine);
        if (enabled.test(AlarmMachine::kType))
            AlarmMachine::start(entityAt(world, i), world, m_context->lineRenderer);
        if (enabled.containsAll(kPlayerMask))
            m_player = playerViewAt(world, i);
    }
}

void MissileLauncherSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    if (m_context->paused)
        return;
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (!isLiveSlot(world, i))
            continue;
        const ComponentMask& enabled = world.getEnabledMask(i);
        if (enabled.test(Missile::kType))
            stepMissile(entityAt(world, i), world);
        if (enabled.test(FlyingEnemy::kType))
            stepFlyingEnemy(world, i);
        if (enabled.test(AlarmMachine::kType) && m_context->collision)
            AlarmMachine::step(entityAt(world, i), world, m_player, *m_context->collision, m_context->animation,
                m_context->lineRenderer);
        if (enabled.test(MissileLauncher::kType))
            stepLauncher(world, i);
    }
}

void MissileLauncherSystem::describe(quern::entity::SystemInfo* info)
{
    System::describe(info);
    info->name = "MissileLauncherSystem";
}

void MissileLauncherSystem::restoreSnapshot(World& world)
{
    // The restored coroutine lists already hold the heads that ran when the
    // snapshot was taken; only an enemy without one gets a new head.
    if (!m_context->coroutine)
        return;
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (isLiveSlot(world, i) && world.getEnabledMask(i).test(FlyingEnemy::kType))
            FlyingEnemy::startHead(entityAt(world, i), *m_context->coroutine);
    }
}

void MissileLauncherSystem::stepFlyingEnemy(World& world, u64 index)
{
    const EntityHandle enemy = entityAt(world, index);
    FlyingEnemy::followPath(enemy, world);
    GizmoLineSystem* gizmos = m_context->gizmoLines;
    const Transform* transform = componentOf<Transform>(world, enemy);
    if (!Settings::Development.gizmos || !gizmos || !transform)
        return;
    const Vector3 at = worldPositionOf(world, *transform);
    gizmos->drawCircle(at, recordAt<FlyingEnemy>(world, index).detectionRadius);
    gizmos->drawCross(at);
}

void MissileLauncherSystem::stepLauncher(World& world, u64 index)
{
    auto& launcher = recordAt<MissileLauncher>(world, index);
    launcher.reloadCountdown -= world.deltaTime;
    if (!seesPlayer(world, index, launcher) || !(launcher.reloadCountdown < 0.0f))
        return;
    launcher.reloadCountdown = launcher.reloadInterval;
    shoot(world, launcher);
}

bool MissileLauncherSystem::seesPlayer(World& world, u64 index, const MissileLauncher& launcher)
{
    // The player may have gone since world start; without one nothing aims.
    if (!isAliveEntity(world, m_player.entity) || !m_context->collision)
        return false;
    const EntityHandle self = entityAt(world, index);
    const Transform* transform = componentOf<Transform>(world, self);
    const Transform* muzzle = validComponentOf<Transform>(world, launcher.muzzle);
    if (!transform || !muzzle || !opposes(world, m_player.entity, self))
        return false;
    Vector3 origin = worldPositionOf(world, *transform);
    origin.z = 0.0f;
    return isTargetVisible(origin, m_player.entity, worldUpAxisOf(world, *muzzle), launcher.sightLength, world,
        *m_context->collision);
}

void MissileLauncherSystem::shoot(World& world, const MissileLauncher& launcher)
{
    const Transform* muzzle = validComponentOf<Transform>(world, launcher.muzzle);
    Transform* clone = muzzle ? instantiatePrefabAt(launcher.missilePrefab, *muzzle, world) : nullptr;
    if (clone) {
        clone->position.z = 0.0f;
        const EntityHandle missile = entityOfTransform(world, *clone);
        if (Missile* record = componentOf<Missile>(world, missile)) {
            record->direction = worldUpAxisOf(world, *muzzle);
            record->target = m_player.entity;
            aimMissile(missile, world);
        }
    }
    if (AnimationSystem* animation = m_context->animation)
        animation->playByName(launcher.animated, worldTextKey(world, "shoot"), kShootFade);
}

void aimMissile(EntityHandle missile, World& world)
{
    const Missile* record = componentOf<Missile>(world, missile);
    Transform* transform = componentOf<Transform>(world, missile);
    if (!record || !transform || !isActiveEntity(world, record->target))
        return;
    const Transform* target = componentOf<Transform>(world, record->target);
    if (!target)
        return;
    const Vector3 d = worldPositionOf(world, *target) - worldPositionOf(world, *transform);
    // A target on the missile gives no direction to look along.
    if (d.lengthSquared() == 0.0f)
        return;
    transform->rotation = lookRotation(d.normalized());
}

void stepMissile(EntityHandle entity, World& world)
{
    Missile* missile = componentOf<Missile>(world, entity);
    Transform* transform = componentOf<Transform>(world, entity);
    if (!missile || !transform)
        return;
    if (isAliveEntity(world, missile->target)) {
        switch (missile->mode) {
        case MissileAimOnce:
            aimMissile(entity, world);
            missile->target = EntityHandle {};
            break;
        case MissileHoming: {
            const Transform* target = componentOf<Transform>(world, missile->target);
            if (!target || !opposes(world, missile->target, entity))
                break;
            const Vector3 towards = worldPositionOf(world, *target) - worldPositionOf(world, *transform);
            if (towards.lengthSquared() < squaredRange(missile->homingRange)) {
                missile->direction = towards.normalized();
                aimMissile(entity, world);
            }
            break;
        }
        default:
            QUERN_FATAL("Unreachable code hit");
        }
    }
    if (missile->direction.x == 0.0f && missile->direction.y == 0.0f && missile->direction.z == 0.0f)
        missile->direction = transform->rotation.toMatrix3() * Vector3 { 0.0f, 1.0f, 0.0f };
    transform->position += missile->direction * (missile->speed * world.deltaTime);
}

bool isTargetVisible(const Vector3& origin, EntityHandle target, const Vector3& direction, f32 length, World& world,
    CollisionSystem& collision)
{
    quern::containers::Array hits(sizeof(CollisionHit), alignof(CollisionHit));
    collision.sphereCastAll(origin, kSightSweepRadius, direction, hits, length);
    return isTargetNearest(hits.dataAs<CollisionHit>(), hits.count(), origin, target, world);
}

bool isTargetNearest(const CollisionHit* hits, u64 count, const Vector3& origin, EntityHandle target, World& world)
{
    f32 nearest = std::numeric_limits<f32>::max();
    bool visible = false;
    for (u64 i = 0; i < count; ++i) {
        const f32 distance = (hits[i].point - origin).lengthSquared();
        const EntityHandle hit = EntityHandle { hits[i].entity };
        if (hit == target) {
            if (distance > nearest)
                return false;
            visible = true;
            nearest = distance;
            continue;
        }
        const Collider* collider = componentOf<Collider>(world, hit);
        if ((collider && collider->trigger) || distance > nearest)
            continue;
        if (visible)
            return false;
        nearest = distance;
    }
    return visible;
}

} // namespace harmonize
