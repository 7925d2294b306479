// Alarm machines: a machine that sees the player within its range (measured
// in the plane) warms up while a beam grows from it towards the player, fires
// missiles at a fixed interval while it still sees the player, and cools
// down, its beam shrinking, once it loses sight.
#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/LineRendererSystem.h"
#include "harmonize/systems/MissileLauncherSystem.h"
#include "harmonize/utils/MathUtils.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"

#include <cmath>
#include <ostream>

namespace harmonize {
namespace {

using quern::entity::World;
using quern::math::Vector3;

enum AlarmState : i32 {
    AlarmIdle = 0,
    AlarmWarmingUp = 1,
    AlarmFiring = 2,
    AlarmCoolingDown = 3,
};

constexpr u64 kBeamPoints = 2;

void playClip(World& world, AnimationSystem* animation, const AlarmMachine& machine, u64 clip)
{
    if (animation)
        animation->play(currentHandleOf(world, machine.animated), clip, 0.0f);
}

// The sweep runs `range` times the distance to the player, from the machine
// on the plane.
bool seesPlayer(World& world, const AlarmMachine& machine, const Vector3& self, const Vector3& player,
    EntityHandle target, CollisionSystem& collision)
{
    const Vector3 origin { self.x, self.y, 0.0f };
    return isTargetVisible(origin, target, player - self, machine.range, world, collision);
}

void shoot(World& world, const AlarmMachine& machine, const Transform& at, const Vector3& self, const Vector3& player,
    EntityHandle target, AnimationSystem* animation)
{
    QUERN_LOG(3) << "Shoot" << std::endl;
    const Vector3 d = player - self;
    const f32 length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    // A player exactly on the machine gives no direction; the missile then
    // flies along its own Y axis.
    const Vector3 direction = length > 0.0f ? d * (1.0f / length) : Vector3 {};
    if (Transform* clone = instantiatePrefabAt(currentHandleOf(world, machine.missilePrefab), at, world)) {
        clone->position.z = 0.0f;
        const EntityHandle missile = entityOfTransform(world, *clone);
        if (Missile* record = componentOf<Missile>(world, missile)) {
            record->direction = direction;
            record->target = target;
            aimMissile(missile, world);
        }
    }
    playClip(world, animation, machine, machine.shootClip);
}

void enableLine(World& world, EntityHandle entity)
{
    if (componentOf<Line>(world, entity))
        world.getEnabledMask(entity.index()).set(Line::kType);
}

void drawBeam(World& world, EntityHandle entity, const Vector3& start, const Vector3& end, LineRendererSystem* lines)
{
    enableLine(world, entity);
    if (Line* line = componentOf<Line>(world, entity)) {
        line->start = start;
        line->end = end;
    }
    if (!lines || entity.index() >= lines->store().lineCount())
        return;
    quern::visuals::PolylineStore& store = lines->store();
    // Whatever resized the line since start, it holds the beam's two points.
    store.setPointCount(entity.index(), kBeamPoints);
    store.pointsA(entity.index())[0] = { start.x, start.y, start.z };
    store.pointsA(entity.index())[1] = { end.x, end.y, end.z };
    store.markChanged(entity.index());
}

} // namespace

void AlarmMachine::start(EntityHandle machine, World& world, LineRendererSystem* lines)
{
    AlarmMachine* record = componentOf<AlarmMachine>(world, machine);
    if (!record)
        return;
    enableLine(world, machine);
    if (lines && machine.index() < lines->store().lineCount())
        lines->store().setPointCount(machine.index(), kBeamPoints);
    record->warmUpTimer = record->warmUpTime;
    record->beamBlend = 0.0f;
    record->coolDownTimer = record->coolDownTime;
    record->shotTimer = record->shotInterval;
}

void AlarmMachine::step(EntityHandle machine, World& world, const PlayerView& player, CollisionSystem& collision,
    AnimationSystem* animation, LineRendererSystem* lines)
{
    AlarmMachine* record = componentOf<AlarmMachine>(world, machine);
    const Transform* own = componentOf<Transform>(world, machine);
    const Transform* target = validComponentOf<Transform>(world, player.entity);
    if (!record || !own || !target)
        return;
    AlarmMachine& m = *record;
    const f32 dt = world.deltaTime;
    const Vector3 self = worldPositionOf(world, *own);
    const Vector3 p = worldPositionOf(world, *target);

    const f32 dx = p.x - self.x;
    const f32 dy = p.y - self.y;
    const f32 distance = std::sqrt(dx * dx + dy * dy);
    if (distance >= m.range) {
        if (m.state == AlarmWarmingUp) {
            m.state = AlarmCoolingDown;
            m.warmUpTimer = m.warmUpTime;
            m.coolDownTimer = m.coolDownTime;
            m.shotTimer = m.shotInterval;
        }
    } else if (distance < m.range && m.state != AlarmWarmingUp && m.state != AlarmFiring
        && seesPlayer(world, m, self, p, player.entity, collision)) {
        m.state = AlarmWarmingUp;
    }

    if (m.state == AlarmWarmingUp) {
        m.warmUpTimer -= dt;
        if (!(m.warmUpTimer > 0.0f)) {
            m.state = AlarmFiring;
            m.shotTimer = 0.0f;
            m.warmUpTimer = m.warmUpTime;
        }
    }
    if (m.state == AlarmCoolingDown) {
        m.coolDownTimer -= dt;
        if (!(m.coolDownTimer > 0.0f)) {
            m.state = AlarmIdle;
            m.coolDownTimer = m.coolDownTime;
        }
    }
    if (m.state == AlarmCoolingDown) {
        m.beamBlend = clampUnit(m.beamBlend - dt * m.beamSpeed);
        playClip(world, animation, m, m.coolDownClip);
    }
    if (m.state == AlarmIdle)
        playClip(world, animation, m, m.idleClip);
    if (m.state == AlarmWarmingUp) {
        m.beamBlend = clampUnit(m.beamBlend + dt * m.beamSpeed);
        playClip(world, animation, m, m.alertClip);
    }
    // Read before a shot: the clone must not be taken to leave the records
    // where they were.
    const f32 b = m.beamBlend;
    if (m.state == AlarmFiring) {
        m.shotTimer -= dt;
        if (!(m.shotTimer > 0.0f)) {
            m.shotTimer = m.shotInterval;
            if (seesPlayer(world, m, self, p, player.entity, collision))
                shoot(world, m, *own, self, p, player.entity, animation);
            else
                m.state = AlarmCoolingDown;
        }
    }

    drawBeam(world, machine, Vector3 { self.x, self.y, 0.0f },
        Vector3 { self.x * (1.0f - b) + p.x * b, self.y * (1.0f - b) + p.y * b, 0.0f }, lines);
}

} // namespace harmonize
