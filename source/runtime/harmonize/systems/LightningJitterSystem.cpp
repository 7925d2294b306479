#include "harmonize/systems/LightningJitterSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/LineRendererSystem.h"

#include "quern/entity/World.h"

namespace harmonize {

using quern::entity::World;
using quern::math::Vector3;
using quern::visuals::PolylinePoint;
using quern::visuals::PolylineStore;

namespace {

// A bolt is at least its end point.
u64 pointCountOf(const LightningBolt& bolt) { return bolt.pointCount < 1 ? 1 : static_cast<u64>(bolt.pointCount); }

// The next number of the sequence in [0, 1): the state's top 53 bits, so the
// value never rounds up to 1.
f64 nextUnit(u64& state)
{
    state = state * 4561u + 51349u;
    return static_cast<f64>(state >> 11) * 0x1p-53;
}

// An offset in [-a, a); a negative amplitude gives the unit value itself.
f32 jitterOffset(u64& state, f32 amplitude)
{
    const f32 r = static_cast<f32>(nextUnit(state));
    return amplitude < -amplitude ? r : -amplitude + 2.0f * amplitude * r;
}

void setPoint(PolylineStore& store, u64 line, u64 i, const Vector3& p)
{
    store.pointsA(line)[i] = PolylinePoint { p.x, p.y, p.z };
}

void shapeBolt(PolylineStore& store, u64 line, u64 n, const Vector3& s, const Vector3& t, f32 amplitude, u64& random)
{
    // The line holds exactly the bolt's points, whatever cleared or resized it
    // since the bolt was announced: the points below are written into its block.
    store.setPointCount(line, n);
    setPoint(store, line, 0, s);
    for (u64 i = 1; i < n; ++i) {
        const f32 f = static_cast<f32>(i) / static_cast<f32>(n);
        Vector3 p = s + (t - s) * f;
        p.x += jitterOffset(random, amplitude);
        p.y += jitterOffset(random, amplitude);
        setPoint(store, line, i, p);
    }
    setPoint(store, line, n - 1, t);
    store.markChanged(line);
}

} // namespace

LightningJitterSystem::LightningJitterSystem(AppContext& context)
    : m_context(&context)
{
}

void LightningJitterSystem::entitiesCreated(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    setLineCounts(handles, count, [&](u64 index) -> quern::i64 {
        if (!world.getEnabledMask(index).test(LightningBolt::kType))
            return -1;
        return static_cast<quern::i64>(
            pointCountOf(*static_cast<const LightningBolt*>(world.getComponent(index, LightningBolt::kType))));
    });
}

void LightningJitterSystem::entitiesDestroyed(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    setLineCounts(handles, count,
        [&](u64 index) -> quern::i64 { return world.getComponentMask(index).test(LightningBolt::kType) ? 0 : -1; });
}

template <class CountOf> void LightningJitterSystem::setLineCounts(const EntityHandle* handles, u64 count, CountOf&& countOf)
{
    LineRendererSystem* lines = m_context->lineRenderer;
    if (!lines)
        return;
    PolylineStore& store = lines->store();
    for (u64 i = 0; i < count; ++i) {
        const u64 index = handles[i].index();
        if (index >= store.lineCount())
            continue;
        const quern::i64 points = countOf(index);
        if (points >= 0)
            store.setPointCount(index, static_cast<u64>(points));
    }
}

void LightningJitterSystem::update(quern::entity::UpdateContext*, World& world)
{
    LineRendererSystem* lines = m_context->lineRenderer;
    if (!lines || !Settings::Renderer.enabled)
        return;
    PolylineStore& store = lines->store();
    const u64 slots = world.getSlotCount() < store.lineCount() ? world.getSlotCount() : store.lineCount();
    for (u64 i = 0; i < slots; ++i) {
        // A freed slot keeps its enabled bits; its line is no bolt's any more.
        if (world.getState(i) == quern::entity::EntityState::Free || !world.getEnabledMask(i).test(LightningBolt::kType))
            continue;
        const auto& bolt = *static_cast<const LightningBolt*>(world.getComponent(i, LightningBolt::kType));
        const EntityHandle entity = entityAt(world, i);
        Vector3 s;
        Vector3 t;
        if (worldPositionOf(world, entity, s) && worldPositionOf(world, bolt.target, t))
            shapeBolt(store, i, pointCountOf(bolt), s, t, bolt.jitter, m_random);
    }
}

} // namespace harmonize
