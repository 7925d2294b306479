#pragma once
// Limited lives: an entity created with an enabled Timer is destroyed, with
// its transform subtree, a fixed number of ticks after its creation, and may
// leave a prefab behind where it was. Each timer becomes one or two entries
// counted down every fixed tick: the prefab's spawn, then the destruction, so
// that the prefab is placed from the entity before the entity goes.

#include "harmonize/components/Components.h"

#include "quern/containers/Array.h"
#include "quern/entity/System.h"

namespace harmonize {

struct TimerEntry {
    enum Action : i32 { Spawn = 0, Destroy = 1 };

    i32 ticksLeft; // fires when the count reaches exactly 0
    i32 action;
    EntityHandle subject; // Spawn: the prefab; Destroy: the timer's entity
    EntityHandle place; // Spawn: the timer's entity, whose transform places the prefab
};

class TimerSystem final : public quern::entity::System {
public:
    static constexpr u64 kReservedEntries = 16;

    TimerSystem();
    ~TimerSystem() override;

    void entitiesCreated(const EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // The quick save's copy of the pending entries, exactly as they are.
    void saveSnapshot();
    void restoreSnapshot();

    // TimerEntry, in scheduling order.
    const quern::containers::Array& entries() const { return m_pending; }
    const quern::containers::Array& savedEntries() const { return m_saved; }
    f32 ticksPerSecond() const { return m_ticksPerSecond; }

private:
    void fire(const TimerEntry& entry, quern::entity::World& world);

    quern::containers::Array m_saved;
    quern::containers::Array m_pending;
    f32 m_ticksPerSecond = 0.0f;
};

} // namespace harmonize
