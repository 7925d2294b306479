#pragma once
// Advances one world by a frame on whichever worker runs it: the world's ticks
// and updates, then the world matrices of its transform hierarchy.

#include "quern/threads/Task.h"

namespace quern::entity {
class World;
}

namespace harmonize {

class TransformHierarchySystem;

class WorldUpdateTask final : public quern::threads::Task {
public:
    WorldUpdateTask()
        : Task(1)
    {
    }

    // hierarchy may be null for a world without one.
    void prepare(quern::entity::World& world, TransformHierarchySystem* hierarchy, quern::u64 timeMicroseconds)
    {
        m_world = &world;
        m_hierarchy = hierarchy;
        m_time = timeMicroseconds;
    }

    // Sets the calling thread's current world, updates, and stores the time it
    // took as the frame's world-update time.
    void run(quern::threads::TaskRange range) override;

    quern::entity::World* world() const { return m_world; }

private:
    quern::entity::World* m_world = nullptr;
    TransformHierarchySystem* m_hierarchy = nullptr;
    quern::u64 m_time = 0;
};

} // namespace harmonize
