#pragma once
// The collision system: one Bullet rigid body per entity with an enabled
// Collider and a shape, stepped once per fixed tick without gravity. Bullet's
// contact manifolds become the game's contact and trigger events, dispatched
// at the end of the tick; particle pools get one small body per slot; rays and
// sphere sweeps answer queries against the same world.
//
// One lock guards the Bullet world: the tick's physics work, body changes,
// the world stop and every query take it, so queries from other threads (a
// menu world's task, workers) never overlap a step or each other.

#include "harmonize/collision/PairIndex.h"
#include "harmonize/collision/ParticlePoolView.h"
#include "harmonize/events/GameEvents.h"

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/debug/MutexImpl.h"
#include "quern/entity/System.h"
#include "quern/math/Vector3.h"

#include <span>

class btBroadphaseInterface;
class btCollisionConfiguration;
class btCollisionShape;
class btDiscreteDynamicsWorld;
class btDynamicsWorld;
class btRigidBody;
class btSequentialImpulseConstraintSolver;
class btTransform;

namespace harmonize {

using quern::f32;
using quern::u64;
using quern::entity::EntityHandle;

class CollisionDispatcher;
struct AppContext;

// One hit of a query; `entity` is the handle of the body hit.
#pragma pack(push, 4)
struct CollisionHit {
    u32 entity;
    quern::math::Vector3 point; // world space
    quern::math::Vector3 normal; // world space
};
#pragma pack(pop)
static_assert(sizeof(CollisionHit) == 28);

enum class ContactState : i32 {
    Started = 0,
    Continuing = 1,
    Ended = 2,
};

// Two entities whose bodies touch, in Bullet's body order.
struct ContactPair {
    u32 entityA;
    u32 entityB;
    ContactState state;
};
static_assert(sizeof(ContactPair) == 12);

// A handle a query reports: index at most 0xfffe and generation not 0. Whether
// the entity still lives is not asked.
constexpr bool isValidHitHandle(u32 handle) { return (handle & 0xffffu) <= 0xfffeu && (handle >> 16) != 0; }

class CollisionSystem final : public quern::entity::System {
public:
    explicit CollisionSystem(AppContext& context);
    ~CollisionSystem() override;
    CollisionSystem(const CollisionSystem&) = delete;
    CollisionSystem& operator=(const CollisionSystem&) = delete;

    // System slots ---------------------------------------------------------
    void entitiesActivated(const EntityHandle* handles, u64 count, quern::entity::World& world) override;
    void entitiesDeactivated(const EntityHandle* handles, u64 count, quern::entity::World& world) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void worldStopped(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // Bodies -----------------------------------------------------------------
    // Gives the entity its body when it has an enabled Collider and a shape.
    void addBody(EntityHandle entity, quern::entity::World& world);
    // Frees the entity's body and forgets its contact pairs without end events.
    void removeBody(EntityHandle entity);
    // One body per slot of the pool, entering the physics world as particles
    // live; `owner` names the pool for unregistering, `userData` rides along.
    void registerParticlePool(ParticlePoolView* pool, void* owner, void* userData);
    // Frees the bodies of the first pool registered with `owner`; nothing when none was.
    void unregisterParticlePool(void* owner);

    // Quick save ---------------------------------------------------------------
    // Keeps a copy of the contact pairs for restoreSnapshot.
    void saveContactPairs();
    // After the world's components were restored: the saved pairs come back,
    // then every active entity's body is rebuilt, which drops the pairs of
    // those bodies again, so every pair still touching begins anew. Forces and
    // velocities of all bodies are cleared.
    void restoreSnapshot(quern::entity::World& world);

    // Queries (the direction is not normalised: its length scales the distance)
    // Closest hit along from + direction * 2000.
    bool rayCast(const quern::math::Vector3& from, const quern::math::Vector3& direction, CollisionHit& hit);
    // Appends every hit with a valid handle in Bullet's order; true when
    // anything was hit at all, even if nothing was appended.
    bool rayCastAll(const quern::math::Vector3& from, const quern::math::Vector3& direction,
        quern::containers::Array& hits, f32 length);
    // The closest layer-8 body a sphere meets on its way.
    bool sphereCast(const quern::math::Vector3& from, f32 radius, const quern::math::Vector3& direction,
        CollisionHit& hit, f32 length);
    // Every body a sphere of radius 0.2 meets (`radius` is not used); true
    // when a hit was appended.
    bool sphereCastAll(const quern::math::Vector3& from, f32 radius, const quern::math::Vector3& direction,
        quern::containers::Array& hits, f32 length);

    // Read access ------------------------------------------------------------
    std::span<const ContactPair> contactPairs() const;
    std::span<const ContactPair> savedContactPairs() const;
    // Producers outside this system may push into it; drained every tick.
    GameEventQueue& gameEventQueue() { return m_events; }
    u64 bodyCount() const { return m_bodies.count(); }
    // The body of the entity, null when it has none.
    btRigidBody* findBody(EntityHandle entity) const;
    // Null outside attach and detach.
    btDiscreteDynamicsWorld* dynamicsWorld() const { return m_dynamicsWorld; }

private:
    struct CollisionBody {
        btRigidBody* body;
        u32 entity;
        u8 held;
    };
    struct ParticleBodies {
        ParticlePoolView* pool;
        void* owner;
        void* userData;
        btRigidBody** bodies; // one per slot
        btCollisionShape* shape; // shared by the pool's bodies
    };

    static void onInternalTick(btDynamicsWorld* world, f32 timeStep);
    void updateContactPairs();
    void pushTransforms(quern::entity::World& world);
    void pushVelocities(quern::entity::World& world);
    void syncParticlesIn();
    void syncParticlesOut();
    void freeBody(btRigidBody* body);
    void freeParticleBodies(ParticleBodies& set);
    void removeAllBodies();
    btCollisionShape* createShape(EntityHandle entity, quern::entity::World& world, btTransform& offset);
    quern::memory::Allocator& levelAllocator() const;

    quern::containers::Array m_bodies; // CollisionBody, in creation order
    // btCollisionObject* of the bodies in a group the closest sphere sweep
    // sees (layer 8: the player), so that it tests those few alone rather
    // than walking the whole broadphase.
    quern::containers::Array m_sweepTargets;
    quern::containers::Array m_particleBodies; // ParticleBodies
    quern::containers::Array m_pairs; // ContactPair
    quern::containers::Array m_savedPairs; // ContactPair, the quick save's copy
    PairIndex m_pairIndex; // of m_pairs, while the contacts are counted
    GameEventQueue m_events;
    AppContext* m_context;
    const u8* m_paused;
    quern::memory::Allocator* m_allocator = nullptr;
    btBroadphaseInterface* m_broadphase = nullptr;
    btDiscreteDynamicsWorld* m_dynamicsWorld = nullptr;
    btSequentialImpulseConstraintSolver* m_solver = nullptr;
    CollisionDispatcher* m_dispatcher = nullptr;
    btCollisionConfiguration* m_configuration = nullptr;
    quern::entity::World* m_world = nullptr; // the world the pairs' handles belong to
    mutable quern::debug::MutexImpl m_lock;
};

} // namespace harmonize
