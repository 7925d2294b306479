#include "harmonize/systems/TimerSystem.h"

#include "harmonize/extensions/PlayerView.h"
#include "harmonize/extensions/Prefabs.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace harmonize {

using quern::containers::Array;
using quern::entity::World;

namespace {

Array makeList(quern::memory::Allocator* allocator = nullptr)
{
    return Array(sizeof(TimerEntry), alignof(TimerEntry), allocator);
}

// Entries belong to one level: a list that still holds another allocator's
// block gives it back before taking the level's.
void takeAllocator(Array& list, quern::memory::Allocator* allocator)
{
    if (list.allocator() != allocator) {
        list.release();
        list = makeList(allocator);
    }
    list.reserve(TimerSystem::kReservedEntries);
}

void copyList(Array& target, const Array& source)
{
    if (!target.allocator())
        target = makeList(source.allocator());
    const auto* begin = static_cast<const u8*>(source.data());
    target.assign(begin, begin + source.usedBytes());
}

// Whole ticks in the lifetime, rounded down. Lifetimes that end before the
// first tick (zero, negative, shorter than a tick, NaN) give 0; lifetimes
// beyond the count's range never end. The lifetime's bits are tested first: a
// denormal or infinite operand would trap when the game runs with
// floating-point traps.
i32 ticksIn(f32 lifetime, f32 ticksPerSecond)
{
    constexpr i32 kNever = std::numeric_limits<i32>::max();
    u32 bits;
    std::memcpy(&bits, &lifetime, sizeof bits);
    const u32 exponent = (bits >> 23) & 0xffu;
    if ((bits >> 31) != 0 || exponent == 0 || !(ticksPerSecond > 0.0f))
        return 0;
    if (exponent == 0xffu)
        return (bits & 0x7fffffu) != 0 ? 0 : kNever;
    constexpr f32 kLastTick = 2147483520.0f; // the largest f32 below 2^31
    if (lifetime >= kLastTick / ticksPerSecond)
        return kNever;
    const f32 ticks = std::floor(lifetime * ticksPerSecond);
    return ticks >= kLastTick ? kNever : static_cast<i32>(ticks);
}

} // namespace

TimerSystem::TimerSystem()
    : m_saved(makeList())
    , m_pending(makeList())
{
}

TimerSystem::~TimerSystem() = default;

void TimerSystem::entitiesCreated(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    for (u64 i = 0; i < count; ++i) {
        const EntityHandle entity = handles[i];
        const Timer* timer = enabledComponentOf<Timer>(world, entity);
        if (!timer)
            continue;
        // An entry that starts at 0 would never reach 0 again: it could only
        // count on until the count wrapped, so it is not kept at all.
        const i32 ticks = ticksIn(timer->lifetime, m_ticksPerSecond);
        if (ticks <= 0)
            continue;
        if (isSomeEntity(timer->prefab))
            m_pending.append(TimerEntry { ticks, TimerEntry::Spawn, timer->prefab, entity });
        m_pending.append(TimerEntry { ticks, TimerEntry::Destroy, entity, EntityHandle {} });
    }
}

void TimerSystem::attach(quern::memory::Allocator* allocator)
{
    quern::entity::SystemInfo info {};
    describe(&info);
    m_ticksPerSecond = info.tickInterval > 0.0f ? 1.0f / info.tickInterval : 0.0f;
    if (!allocator)
        allocator = quern::memory::getDefaultAllocator();
    takeAllocator(m_pending, allocator);
    takeAllocator(m_saved, allocator);
}

void TimerSystem::detach(quern::memory::Allocator*)
{
    m_pending.release();
    m_saved.release();
}

void TimerSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    // Entries added by a firing (a prefab with a timer of its own) start
    // counting in the next tick.
    u64 count = m_pending.count();
    for (u64 i = 0; i < count;) {
        auto* entries = m_pending.dataAs<TimerEntry>();
        if (--entries[i].ticksLeft != 0) {
            ++i;
            continue;
        }
        const TimerEntry entry = entries[i];
        std::memmove(entries + i, entries + i + 1, (m_pending.count() - i - 1) * sizeof(TimerEntry));
        m_pending.expand(m_pending.count() - 1);
        --count;
        fire(entry, world);
    }
}

void TimerSystem::fire(const TimerEntry& entry, World& world)
{
    if (entry.action == TimerEntry::Spawn) {
        if (const Transform* place = validComponentOf<Transform>(world, entry.place))
            instantiatePrefabAt(entry.subject, *place, world);
        return;
    }
    if (!world.isValid(entry.subject))
        return;
    if (const Transform* transform = componentOf<Transform>(world, entry.subject))
        Transform::destroySubtree(*transform, world);
    else
        world.destroyEntities(&entry.subject, 1);
}

void TimerSystem::describe(quern::entity::SystemInfo* info)
{
    System::describe(info);
    info->name = "TimerSystem";
}

void TimerSystem::saveSnapshot() { copyList(m_saved, m_pending); }

void TimerSystem::restoreSnapshot() { copyList(m_pending, m_saved); }

} // namespace harmonize
