#include "harmonize/systems/MovingPlatformSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/GizmoLineSystem.h"

#include "quern/debug/Logger.h"
#include "quern/entity/World.h"

namespace harmonize {

using quern::entity::World;
using quern::math::Vector3;

namespace {

constexpr quern::i32 kTargetGizmoColour = 3;
constexpr quern::f32 kTargetGizmoHeight = 10.0f;

// The world position of a station; false when the handle names no slot of
// the world with a Transform (level data may hold any handle).
bool stationPosition(World& world, EntityHandle station, Vector3& position)
{
    const Transform* transform = componentOf<Transform>(world, station);
    if (!transform || !isSomeEntity(station))
        return false;
    position = worldPositionOf(world, *transform);
    return true;
}

// The platform heads for the nearer station; from exactly between them, for B.
void chooseTarget(World& world, MovingPlatform& platform, const Transform& transform)
{
    Vector3 a;
    Vector3 b;
    if (!isSomeEntity(platform.stationA) || !stationPosition(world, platform.stationA, a)
        || !stationPosition(world, platform.stationB, b))
        return;
    const Vector3 p = worldPositionOf(world, transform);
    const bool towardsB = (a - p).lengthSquared() >= (b - p).lengthSquared();
    platform.targetIndex = towardsB ? 1 : 0;
    platform.targetStation = towardsB ? platform.stationB : platform.stationA;
    platform.state = InStation;
    platform.previousState = InStation;
    platform.changed = 0;
}

void setUpPlatform(World& world, AnimationSystem* animation, const MovingPlatformSetup& setup)
{
    const EntityHandle entity = currentHandleOf(world, setup.platform);
    if (!isSomeEntity(entity))
        return;
    Animation* clips = componentOf<Animation>(world, entity);
    const u64 clip = setup.clip;
    if (clips) {
        clips->defaultClip = clip;
        clips->wrapMode = setup.wrapMode;
    }
    MovingPlatform* platform = componentOf<MovingPlatform>(world, entity);
    if (!platform)
        return;
    platform->autoplay = setup.autoplay;
    platform->setupValue = setup.value;
    if (setup.autoplay == 1 && clips && animation)
        animation->play(entity, clip, 0.0f);
    if (const Transform* transform = componentOf<Transform>(world, entity))
        chooseTarget(world, *platform, *transform);
}

// Only the two states move; any other value a level holds stays as it is.
void changeState(MovingPlatform& platform, MovingPlatformState from, MovingPlatformState to)
{
    if (platform.state != from)
        return;
    platform.previousState = from;
    platform.state = to;
    platform.changed = 1;
}

// Arrived: the other station becomes the target.
void switchTarget(MovingPlatform& platform)
{
    const bool atA = platform.targetStation == platform.stationA;
    platform.targetIndex = atA ? 1 : 0;
    platform.targetStation = atA ? platform.stationB : platform.stationA;
}

void stepPlatform(World& world, MovingPlatform& platform, const Transform& transform)
{
    Vector3 station;
    if (!stationPosition(world, platform.targetStation, station))
        return;
    const quern::f32 distance = (worldPositionOf(world, transform) - station).length();
    if (distance >= kStationReach)
        changeState(platform, InStation, OutStation);
    else
        changeState(platform, OutStation, InStation);
    if (platform.changed == 0)
        return;
    platform.changed = 0;
    QUERN_LOG(3) << movingPlatformStateName(platform.previousState) << " -> "
                 << movingPlatformStateName(platform.state) << std::endl;
    if (platform.state == InStation) {
        switchTarget(platform);
        QUERN_LOG(3) << "toggle " << std::endl;
    }
}

// Platforms of live slots with the whole moving-platform mask.
template <class Visit> void forEachPlatform(World& world, Visit&& visit)
{
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (world.getGeneration(i) == 0 || !world.getComponentMask(i).containsAll(kMovingPlatformMask))
            continue;
        auto& platform = *static_cast<MovingPlatform*>(world.getComponent(i, MovingPlatform::kType));
        if (isSomeEntity(platform.targetStation))
            visit(platform, *static_cast<const Transform*>(world.getComponent(i, Transform::kType)));
    }
}

} // namespace

const char* movingPlatformStateName(quern::i32 state)
{
    switch (state) {
    case InStation:
        return "InStation";
    case OutStation:
        return "OutStation";
    default:
        return "<Invalid MovingPlatformState>";
    }
}

MovingPlatformSystem::MovingPlatformSystem(AppContext& context)
    : m_context(&context)
{
}

void MovingPlatformSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    for (u64 i = 0; i < world.getSlotCount(); ++i)
        if (world.getState(i) != quern::entity::EntityState::Free && world.getEnabledMask(i).test(MovingPlatformSetup::kType))
            setUpPlatform(world, m_context->animation,
                *static_cast<const MovingPlatformSetup*>(world.getComponent(i, MovingPlatformSetup::kType)));
}

void MovingPlatformSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    forEachPlatform(world, [&](MovingPlatform& platform, const Transform& transform) {
        stepPlatform(world, platform, transform);
    });
}

void MovingPlatformSystem::update(quern::entity::UpdateContext*, World& world)
{
    GizmoLineSystem* gizmos = m_context->gizmoLines;
    if (!gizmos || !Settings::Development.gizmos)
        return;
    forEachPlatform(world, [&](MovingPlatform& platform, const Transform&) {
        Vector3 station;
        if (stationPosition(world, platform.targetStation, station))
            gizmos->addLine(station, station + Vector3 { 0.0f, kTargetGizmoHeight, 0.0f }, kTargetGizmoColour);
    });
}

void MovingPlatformSystem::describe(quern::entity::SystemInfo* info) { info->name = "MovingPlatformSystem"; }

} // namespace harmonize
