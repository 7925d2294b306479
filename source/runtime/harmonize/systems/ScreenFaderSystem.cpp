#include "harmonize/systems/ScreenFaderSystem.h"

#include "harmonize/extensions/PlayerView.h"
#include "harmonize/hud/OverlayBatch.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <cstring>

namespace harmonize {

using quern::containers::Array;
using quern::entity::World;

namespace {

// A completed fade moves this many seconds' worth at once, which carries any
// fade that moves at a usable speed to one end of the range.
constexpr f64 kCompletionSeconds = 999999.0;

Array makeList(quern::memory::Allocator* allocator = nullptr)
{
    return Array(sizeof(EntityHandle), alignof(EntityHandle), allocator);
}

// A value from level data as the fade's arithmetic may take it: false for an
// infinity or NaN, and a denormal reads as 0. Decided from the bits: the
// game's floating-point traps stop on NaN and denormal operands as well.
bool ordinaryValue(f32 value, f32& out)
{
    u32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    const u32 exponent = (bits >> 23) & 0xffu;
    if (exponent == 0xffu)
        return false;
    out = exponent == 0 ? 0.0f : value;
    return true;
}

// The opacity after `seconds`, held within 0..1. The step is taken in double
// precision, where no product of single-precision values overflows; an
// opacity too small to be stored as an ordinary float counts as clear.
f32 movedOpacity(const ScreenFade& fade, f64 seconds)
{
    constexpr f64 kClear = 1e-30;
    f32 opacity = 0.0f;
    f32 speed = 0.0f;
    f32 direction = 0.0f;
    if (!ordinaryValue(fade.opacity, opacity))
        opacity = 0.0f;
    f64 moved = opacity;
    if (ordinaryValue(fade.speed, speed) && ordinaryValue(fade.direction, direction))
        moved += f64 { speed } * f64 { direction } * seconds;
    if (moved < kClear)
        return 0.0f;
    return moved >= 1.0 ? 1.0f : static_cast<f32>(moved);
}

ScreenFade* liveFade(World& world, EntityHandle entity)
{
    return world.isValid(entity) ? enabledComponentOf<ScreenFade>(world, entity) : nullptr;
}

} // namespace

ScreenFaderSystem::ScreenFaderSystem(OverlayBatch* overlay)
    : m_overlay(overlay)
    , m_fades(makeList())
{
}

ScreenFaderSystem::~ScreenFaderSystem() = default;

void ScreenFaderSystem::entitiesCreated(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    for (u64 i = 0; i < count; ++i) {
        ScreenFade* fade = componentOf<ScreenFade>(world, handles[i]);
        if (!fade)
            continue;
        fade->opacity = 0.0f;
        if (fade->startDark) {
            fade->opacity = 1.0f;
            fade->direction = -1.0f;
        }
        m_fades.append(handles[i]);
    }
}

void ScreenFaderSystem::entitiesDestroyed(
    const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    // The whole world going takes every fade with it; its slots' next
    // entities must not find their handles still listed.
    if (count == world.liveEntityCount) {
        m_fades.clear();
        return;
    }
    for (u64 i = 0; i < count; ++i) {
        if (!componentOf<ScreenFade>(world, handles[i]))
            continue;
        EntityHandle* listed = m_fades.dataAs<EntityHandle>();
        for (u64 at = 0; at < m_fades.count(); ++at) {
            if (listed[at] != handles[i])
                continue;
            std::memmove(listed + at, listed + at + 1, (m_fades.count() - at - 1) * sizeof(EntityHandle));
            m_fades.expand(m_fades.count() - 1);
            break;
        }
    }
}

void ScreenFaderSystem::attach(quern::memory::Allocator* allocator)
{
    if (!allocator)
        allocator = quern::memory::getDefaultAllocator();
    if (m_fades.allocator() != allocator) {
        m_fades.release();
        m_fades = makeList(allocator);
    }
    m_fades.clear();
    m_fades.reserve(kReservedFades);
}

void ScreenFaderSystem::detach(quern::memory::Allocator*) { m_fades.release(); }

void ScreenFaderSystem::update(quern::entity::UpdateContext*, World& world)
{
    static constexpr OverlayRect kScreen { 0.0f, 0.0f, OverlayBatch::kScreenWidth, OverlayBatch::kScreenHeight };
    const EntityHandle* listed = m_fades.dataAs<EntityHandle>();
    for (u64 i = 0; i < m_fades.count(); ++i) {
        ScreenFade* fade = liveFade(world, listed[i]);
        if (!fade)
            continue;
        fade->opacity = movedOpacity(*fade, world.deltaTime);
        if (fade->opacity > 0.0f && m_overlay) {
            const f32 black[4] = { 0.0f, 0.0f, 0.0f, fade->opacity };
            m_overlay->addRectangle(kScreen, m_overlay->whiteTexture(), black);
        }
    }
}

void ScreenFaderSystem::completeFades(World& world)
{
    const EntityHandle* listed = m_fades.dataAs<EntityHandle>();
    for (u64 i = 0; i < m_fades.count(); ++i)
        if (ScreenFade* fade = liveFade(world, listed[i]))
            fade->opacity = movedOpacity(*fade, kCompletionSeconds);
}

} // namespace harmonize
