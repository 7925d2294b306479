#include "harmonize/systems/FuzzyCollisionSystem.h"

#include "harmonize/components/Transform.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/utils/MathUtils.h"

#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"

#include <cmath>

namespace harmonize {
namespace {

using quern::containers::Array;
using quern::entity::EntityState;
using quern::entity::World;
using quern::math::Vector3;

constexpr i32 kSphere = 0;
constexpr i32 kBox = 1;
// Trigger boxes reach this far in z: zones are drawn in the plane and the
// player may stand at any depth.
constexpr f32 kTriggerDepth = 100.0f;

Array makeList(quern::memory::Allocator* allocator = nullptr)
{
    return Array(sizeof(FuzzyPair), alignof(FuzzyPair), allocator);
}

void copyList(Array& target, const Array& source)
{
    const auto* begin = static_cast<const u8*>(source.data());
    target.assign(begin, begin + source.usedBytes());
}

// How far into a band of `width` a point lies that is `excess` beyond the
// core: 0 in the core, 1 at the band's outer edge and beyond. The quiet
// comparisons keep a NaN from raising the invalid-operation trap, and the
// division runs only inside the band, where it cannot overflow.
f32 bandDepth(f32 excess, f32 width)
{
    if (std::isnan(excess))
        return excess;
    if (!std::isgreater(excess, 0.0f))
        return 0.0f;
    return std::isless(excess, width) ? excess / width : 1.0f;
}

f32 sphereFalloff(const FuzzyZone& zone, const Vector3& d)
{
    // Two two-argument steps: the three-argument form compares its inputs
    // and faults on a NaN.
    const f32 excess = std::hypot(std::hypot(d.x, d.y), d.z) - zone.coreRadius;
    // Without a band the edge is hard: dividing by the width would fault.
    if (!std::isgreater(zone.falloffWidth, 0.0f))
        return std::isnan(excess) ? excess : (std::isgreater(excess, 0.0f) ? 0.0f : 1.0f);
    return 1.0f - bandDepth(excess, zone.falloffWidth);
}

// Measured from the core's edge on each side by |d|, so no point can be
// beyond both sides of an axis at once. An axis without falloff stays in the
// core: the trigger alone bounds the zone there.
f32 boxFalloff(const FuzzyZone& zone, const Vector3& d)
{
    const bool bandX = std::isgreater(zone.falloff.x, 0.0f);
    const bool bandY = std::isgreater(zone.falloff.y, 0.0f);
    const f32 x = bandX ? bandDepth(std::fabs(d.x) - zone.coreSize.x * 0.5f, zone.falloff.x * 0.5f) : 0.0f;
    const f32 y = bandY ? bandDepth(std::fabs(d.y) - zone.coreSize.y * 0.5f, zone.falloff.y * 0.5f) : 0.0f;
    if (std::isnan(x) || std::isnan(y))
        return std::isnan(x) ? x : y;
    if (x > 0.0f && y > 0.0f)
        return std::fmax(0.0f, 1.0f - std::hypot(x, y)); // a corner: radial
    return 1.0f - (x > 0.0f ? x : y);
}

bool isZone(World& world, u32 handle) { return enabledComponentOf<FuzzyZone>(world, EntityHandle { handle }); }
bool isPlayer(World& world, u32 handle) { return enabledComponentOf<PlayerMovement>(world, EntityHandle { handle }); }

// The pair as {zone, player}, whichever order the event gives them in.
bool zoneAndPlayer(const PairEvent& event, World& world, FuzzyPair& pair)
{
    if (isZone(world, event.entityA) && isPlayer(world, event.entityB)) {
        pair = { event.entityA, event.entityB };
        return true;
    }
    if (isZone(world, event.entityB) && isPlayer(world, event.entityA)) {
        pair = { event.entityB, event.entityA };
        return true;
    }
    return false;
}

void checkShape(const FuzzyZone& zone)
{
    if (zone.shape != kSphere && zone.shape != kBox)
        QUERN_FATAL("Unreachable code hit");
}

Vector3 worldOrigin(World& world, u32 handle)
{
    return worldPositionOf(world, transformAt(world, EntityHandle { handle }.index()));
}

} // namespace

f32 fuzzyFalloff(const FuzzyZone& zone, const Vector3& zonePosition, const Vector3& playerPosition)
{
    checkShape(zone);
    const Vector3 d = playerPosition - zonePosition;
    return zone.shape == kSphere ? sphereFalloff(zone, d) : boxFalloff(zone, d);
}

f32 fuzzyWeight(const FuzzyZone& zone, const Vector3& zonePosition, const Vector3& playerPosition)
{
    // The falloff stays in [0, 1] before easing: the curves turn back outside
    // it, so a player deep in a sphere's core would otherwise fade out.
    const f32 f = fuzzyFalloff(zone, zonePosition, playerPosition);
    if (std::isnan(f))
        return 0.0f;
    return clampUnit(ease(f, zone.easing));
}

FuzzyCollisionSystem::FuzzyCollisionSystem(AppContext& context)
    : m_context(&context)
    , m_overlaps(makeList())
    , m_savedOverlaps(makeList())
{
}

FuzzyCollisionSystem::~FuzzyCollisionSystem()
{
    m_overlaps.release();
    m_savedOverlaps.release();
}

void FuzzyCollisionSystem::describe(quern::entity::SystemInfo* info)
{
    *info = quern::entity::makeDefaultSystemInfo("FuzzyCollisionSystem");
}

void FuzzyCollisionSystem::attach(quern::memory::Allocator* allocator)
{
    m_overlaps.release();
    m_savedOverlaps.release();
    m_overlaps = makeList(allocator);
    m_savedOverlaps = makeList(allocator);
}

void FuzzyCollisionSystem::detach(quern::memory::Allocator*)
{
    m_overlaps.release();
    m_savedOverlaps.release();
}

void FuzzyCollisionSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_overlaps.clear();
    m_savedOverlaps.clear();
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (world.getState(i) == EntityState::Free || !world.getEnabledMask(i).test(FuzzyZone::kType))
            continue;
        convertToTrigger(EntityHandle::make(static_cast<u16>(i), world.getGeneration(i)), world);
    }
}

// The zone leaves the world and comes back with a trigger of its core plus
// falloff, so the collision system rebuilds its body; a zone that was
// inactive is activated too.
void FuzzyCollisionSystem::convertToTrigger(EntityHandle zone, World& world)
{
    const u64 slot = zone.index();
    const FuzzyZone& fuzzy = *static_cast<FuzzyZone*>(world.getComponent(slot, FuzzyZone::kType));
    checkShape(fuzzy);
    const Vector3 position = worldOrigin(world, zone.value);
    if (world.isActive(zone))
        world.deactivateEntity(zone);

    quern::entity::ComponentMask& mask = world.getComponentMask(slot);
    mask.set(Collider::kType);
    Collider& collider = *static_cast<Collider*>(world.getComponent(slot, Collider::kType));
    collider = Collider {};
    collider.trigger = 1;
    collider.position = position;
    if (fuzzy.shape == kBox) {
        const Vector3 size { fuzzy.coreSize.x + fuzzy.falloff.x, fuzzy.coreSize.y + fuzzy.falloff.y, kTriggerDepth };
        collider.halfExtents = size * 0.5f;
        mask.set(BoxShape::kType);
        BoxShape& box = *static_cast<BoxShape*>(world.getComponent(slot, BoxShape::kType));
        box = BoxShape {};
        box.size = size;
    } else {
        const f32 radius = fuzzy.coreRadius + fuzzy.falloffWidth;
        collider.halfExtents = Vector3 { radius, radius, radius };
        mask.set(SphereShape::kType);
        SphereShape& sphere = *static_cast<SphereShape*>(world.getComponent(slot, SphereShape::kType));
        sphere = SphereShape {};
        sphere.radius = radius;
    }
    if (!world.isActive(zone))
        world.activateEntities(&zone, 1);
}

void FuzzyCollisionSystem::onEnter(const PairEvent& event, World& world)
{
    FuzzyPair pair;
    if (!zoneAndPlayer(event, world, pair))
        return;
    // Every overlap is kept, whether or not the camera has room for it.
    m_overlaps.append(pair);
    const FuzzyCameraZone* camera = enabledComponentOf<FuzzyCameraZone>(world, EntityHandle { pair.zone });
    if (camera && m_context->gameCamera)
        m_context->gameCamera->addZone(pair, camera->camera.value);
}

void FuzzyCollisionSystem::onExit(const PairEvent& event, World& world)
{
    FuzzyPair pair;
    if (zoneAndPlayer(event, world, pair))
        removeOverlaps([pair](const FuzzyPair& overlap) { return overlap == pair; }, world);
}

void FuzzyCollisionSystem::entitiesDeactivated(const EntityHandle* handles, u64 count, World& world)
{
    // Only the zone's leaving ends its overlaps: an inactive player keeps its
    // entries, which are not weighted until it is back.
    for (u64 i = 0; i < count; ++i) {
        const u32 zone = handles[i].value;
        removeOverlaps([zone](const FuzzyPair& overlap) { return overlap.zone == zone; }, world);
    }
}

template <class Match> void FuzzyCollisionSystem::removeOverlaps(Match matches, World& world)
{
    auto* overlaps = m_overlaps.dataAs<FuzzyPair>();
    u64 kept = 0;
    for (u64 i = 0; i < m_overlaps.count(); ++i) {
        const FuzzyPair overlap = overlaps[i];
        if (!matches(overlap)) {
            overlaps[kept++] = overlap;
            continue;
        }
        if (m_context->gameCamera)
            m_context->gameCamera->removeZone(overlap, world);
    }
    m_overlaps.expand(kept);
}

void FuzzyCollisionSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    const auto* overlaps = m_overlaps.dataAs<FuzzyPair>();
    for (u64 i = 0; i < m_overlaps.count(); ++i) {
        const FuzzyPair pair = overlaps[i];
        if (!world.isActive(EntityHandle { pair.zone }) || !world.isActive(EntityHandle { pair.player }))
            continue;
        const FuzzyZone& zone = *static_cast<FuzzyZone*>(world.getComponent(pair.zone & 0xffffu, FuzzyZone::kType));
        const f32 weight = fuzzyWeight(zone, worldOrigin(world, pair.zone), worldOrigin(world, pair.player));
        if (m_context->gameCamera && enabledComponentOf<FuzzyCameraZone>(world, EntityHandle { pair.zone }))
            m_context->gameCamera->setZoneWeight(pair, weight);
    }
}

void FuzzyCollisionSystem::saveSnapshot() { copyList(m_savedOverlaps, m_overlaps); }

void FuzzyCollisionSystem::restoreSnapshot() { copyList(m_overlaps, m_savedOverlaps); }

std::span<const FuzzyPair> FuzzyCollisionSystem::overlaps() const
{
    return { m_overlaps.dataAs<FuzzyPair>(), m_overlaps.count() };
}

std::span<const FuzzyPair> FuzzyCollisionSystem::savedOverlaps() const
{
    return { m_savedOverlaps.dataAs<FuzzyPair>(), m_savedOverlaps.count() };
}

} // namespace harmonize
