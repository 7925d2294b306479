#pragma once
// The world being updated or prepared for drawing on the calling thread. Each
// world-update task sets it on the worker that runs it, render preparation on
// the main thread; worlds update in parallel, so the slot is per thread. Work a
// system hands to other workers carries its world explicitly.

namespace quern::entity {
class World;
}

namespace harmonize {

quern::entity::World* currentWorld();
void setCurrentWorld(quern::entity::World* world);

// Sets the slot for a scope and puts the previous world back.
class ScopedCurrentWorld {
public:
    explicit ScopedCurrentWorld(quern::entity::World* world)
        : m_previous(currentWorld())
    {
        setCurrentWorld(world);
    }
    ~ScopedCurrentWorld() { setCurrentWorld(m_previous); }
    ScopedCurrentWorld(const ScopedCurrentWorld&) = delete;
    ScopedCurrentWorld& operator=(const ScopedCurrentWorld&) = delete;

private:
    quern::entity::World* m_previous;
};

} // namespace harmonize
