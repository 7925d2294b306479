#pragma once
// One particle emitter per entity with the particle components (spawner,
// appearance, renderer, transform). Each emitter owns a pool and a spawning
// shape, emits at a rate or in one burst, and is simulated every frame as a
// task of its own on the task dispatcher. Visible emitters are drawn as one
// camera-facing quad per particle from two dynamic vertex buffers that swap
// every frame: the main thread fills one while the other is drawn. One-shot
// emitters destroy their entity's subtree once their last particle died.
// Nothing is created, simulated or drawn while "renderParticles" is off.
//
// Every task draws its motion jitter from a random state of its own, taken
// from the system's state in emitter order when the frame's tasks are set
// up, so the particles are the same whatever the number of workers. All
// tasks are done before the world update ends, so the collision system's
// next tick and the main thread's upload never meet a running simulation.

#include "harmonize/collision/ParticlePoolView.h"
#include "harmonize/components/Components.h"

#include "quern/entity/System.h"
#include "quern/physics/particles/ParticleEmitter.h"
#include "quern/physics/particles/ParticlePool.h"

#include <vector>

namespace quern::graphics {
class VertexBuffer;
}
namespace quern {
class RefCounted;
}
namespace quern::visuals {
class Visual;
}

namespace harmonize {

struct AppContext;
class TaskDispatcher;
class ParticleTask;

struct ParticleEmitterRecord {
    quern::visuals::Visual* visual = nullptr; // one reference
    quern::graphics::VertexBuffer* frontBuffer = nullptr; // the visual's, one reference of ours
    quern::graphics::VertexBuffer* backBuffer = nullptr; // one reference
    quern::particles::ParticleEmitter* shape = nullptr; // null: no emitter
    ParticleTask* task = nullptr;
    quern::particles::ParticlePool pool;
    quern::particles::EmissionSettings spawn;
    ParticlePoolView view; // what the collision system sees of the pool
    f32 accumulator = 0.0f; // particles carried to the next frame
    u8 needsBuffers = 0;
    u8 firstSimulation = 0;
    u8 emitted = 0;
    u8 finished = 0;
    u8 visible = 0;
    u8 colliding = 0; // the pool is registered with the collision system
    u8 pointShape = 0; // the shape is the plain point emitter
};

class ParticleSystem final : public quern::entity::System {
public:
    static constexpr quern::u64 kRandomSeed = 1234567;
    // Pools this small may collide; larger ones would cost too many bodies.
    static constexpr quern::u64 kMaxCollidingParticles = 100;

    explicit ParticleSystem(AppContext& context);
    ~ParticleSystem() override;
    ParticleSystem(const ParticleSystem&) = delete;
    ParticleSystem& operator=(const ParticleSystem&) = delete;

    void entitiesCreated(const EntityHandle* handles, quern::u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void entitiesActivated(const EntityHandle* handles, quern::u64 count, quern::entity::World& world) override;
    void entitiesDeactivated(const EntityHandle* handles, quern::u64 count, quern::entity::World& world) override;
    void entitiesDestroyed(const EntityHandle* handles, quern::u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void lateUpdate(quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // Particles the spawner's pool holds: its mean rate once for a burst,
    // else the mean rate times the mean lifetime, rounded up.
    static quern::u64 poolCapacity(const ParticleSpawner& spawner);

    // Main thread, after the world update: fills the back buffers of the
    // frame's visible emitters and swaps them in.
    void uploadParticles(quern::entity::World& world);
    // Main thread, after rendering: lets go what the frame retired.
    void releaseFrameResources();

    // One emitter's frame; the emitter tasks call it.
    void simulateEmitter(quern::entity::World& world, quern::u64 index, f32 dt, quern::u64 jitter);

    const ParticleEmitterRecord* emitter(quern::u64 index) const
    {
        return index < m_emitters.size() && m_emitters[index].shape ? &m_emitters[index] : nullptr;
    }
    quern::u64 random() const { return m_random; }
    // No emitter's simulation is pending.
    bool tasksComplete() const;
    const std::vector<quern::u32>& frameList() const { return m_frameList; }
    quern::u64 releaseListSize() const { return m_releaseList.size(); }

    f32 timeScale = 1.0f;

private:
    friend class ParticleFrameTask;

    void createEmitter(EntityHandle entity, quern::entity::World& world);
    void createVisual(EntityHandle entity, ParticleEmitterRecord& record, quern::entity::World& world);
    void destroyEmitter(ParticleEmitterRecord& record);
    void setColliding(const EntityHandle* handles, quern::u64 count, quern::entity::World& world, bool on);
    void emit(ParticleEmitterRecord& record, const ParticleSpawner& spawner, f32 dt);
    void emitInto(ParticleEmitterRecord& record, quern::u64 n);
    void sizeEmitters(quern::entity::World& world);
    void drawBounds(quern::entity::World& world);
    void collectFrame(quern::entity::World& world);
    void runTasks(quern::entity::World& world);
    void startTask(quern::entity::World& world, quern::u64 index, f32 dt);
    void waitForTask(ParticleEmitterRecord& record);
    void waitForAllTasks();
    void fillBuffers(ParticleEmitterRecord& record);
    void retire(quern::RefCounted* resource);
    bool threaded() const;

    AppContext* m_context;
    TaskDispatcher* m_dispatcher;
    std::vector<ParticleEmitterRecord> m_emitters; // per entity index
    std::vector<quern::u32> m_frameList; // handles of the emitters visible this frame
    std::vector<quern::RefCounted*> m_releaseList; // one reference each
    std::vector<quern::u64> m_jitters; // per entity index, this frame's
    quern::u64 m_random = kRandomSeed;
};

} // namespace harmonize
