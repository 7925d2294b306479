#include "harmonize/collision/CollisionSystem.h"

#include "harmonize/collision/BulletAllocation.h"
#include "harmonize/collision/BulletObjects.h"
#include "harmonize/collision/CollisionDispatcher.h"
#include "harmonize/collision/CollisionLayers.h"
#include "harmonize/collision/TransformMotionState.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/utils/FrameStatistics.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/Clock.h"

#include <btBulletDynamicsCommon.h>

#include <cstring>

namespace harmonize {

using quern::u16;
using quern::containers::Array;
using quern::debug::MutexLock;
using quern::entity::EntityState;
using quern::entity::World;
using quern::math::Vector3;
using quern::memory::Allocator;

namespace {

constexpr u64 kEventRingBytes = 16384;

bool isLive(const World& world, u32 handle) { return world.isActive(EntityHandle { handle }); }

bool isEnabled(World& world, u64 slot, u8 type) { return world.getEnabledMask(slot).test(type); }

template <class Record> Record& component(World& world, u64 slot)
{
    return *static_cast<Record*>(world.getComponent(slot, Record::kType));
}


} // namespace

CollisionSystem::CollisionSystem(AppContext& context)
    : m_bodies(sizeof(CollisionBody), alignof(CollisionBody))
    , m_sweepTargets(sizeof(btCollisionObject*), alignof(btCollisionObject*))
    , m_particleBodies(sizeof(ParticleBodies), alignof(ParticleBodies))
    , m_pairs(sizeof(ContactPair), alignof(ContactPair))
    , m_savedPairs(sizeof(ContactPair), alignof(ContactPair))
    , m_context(&context)
    , m_paused(&context.paused)
{
    installBulletAllocation();
    m_events.reserve(kEventRingBytes);
}

CollisionSystem::~CollisionSystem()
{
    // A world destroyed without a stop still owns bodies here.
    if (m_dynamicsWorld) {
        removeAllBodies();
        detach(m_allocator);
    }
}

Allocator& CollisionSystem::levelAllocator() const
{
    return m_allocator ? *m_allocator : *quern::memory::getDefaultAllocator();
}

void CollisionSystem::describe(quern::entity::SystemInfo* info)
{
    *info = quern::entity::makeDefaultSystemInfo("CollisionSystem");
}

void CollisionSystem::attach(Allocator* allocator)
{
    MutexLock locked(m_lock);
    m_allocator = allocator;
    Allocator& a = levelAllocator();
    m_broadphase = makeIn<btDbvtBroadphase>(a);
    btDefaultCollisionConstructionInfo info;
    info.m_persistentManifoldPool = nullptr;
    info.m_collisionAlgorithmPool = nullptr;
    info.m_defaultMaxPersistentManifoldPoolSize = 4096;
    info.m_defaultMaxCollisionAlgorithmPoolSize = 4096;
    info.m_customCollisionAlgorithmMaxElementSize = 0;
    info.m_useEpaPenetrationAlgorithm = true;
    m_configuration = makeIn<btDefaultCollisionConfiguration>(a, info);
    m_dispatcher = makeIn<CollisionDispatcher>(a, m_configuration);
    m_solver = makeIn<btSequentialImpulseConstraintSolver>(a);
    m_dynamicsWorld = makeIn<btDiscreteDynamicsWorld>(a, m_dispatcher, m_broadphase, m_solver, m_configuration);
    m_dynamicsWorld->setInternalTickCallback(&CollisionSystem::onInternalTick, this, false);
    m_dynamicsWorld->setGravity(btVector3(0, 0, 0));
    m_bodies = Array(sizeof(CollisionBody), alignof(CollisionBody), allocator);
    m_sweepTargets = Array(sizeof(btCollisionObject*), alignof(btCollisionObject*), allocator);
    m_particleBodies = Array(sizeof(ParticleBodies), alignof(ParticleBodies), allocator);
    m_pairs = Array(sizeof(ContactPair), alignof(ContactPair), allocator);
    m_savedPairs = Array(sizeof(ContactPair), alignof(ContactPair), allocator);
    m_pairIndex = PairIndex(allocator);
}

void CollisionSystem::detach(Allocator*)
{
    MutexLock locked(m_lock);
    m_bodies.release();
    m_sweepTargets.release();
    m_particleBodies.release();
    m_pairs.release();
    m_savedPairs.release();
    m_pairIndex.release();
    Allocator& a = levelAllocator();
    destroyIn(a, m_dynamicsWorld);
    destroyIn(a, m_solver);
    destroyIn(a, m_dispatcher);
    destroyIn(a, m_configuration);
    destroyIn(a, m_broadphase);
    m_dynamicsWorld = nullptr;
    m_solver = nullptr;
    m_dispatcher = nullptr;
    m_configuration = nullptr;
    m_broadphase = nullptr;
}

void CollisionSystem::worldStarted(World& world, Allocator*)
{
    MutexLock locked(m_lock);
    m_world = &world;
    if (m_dispatcher)
        m_dispatcher->world = &world;
}

void CollisionSystem::worldStopped(World&, Allocator*)
{
    UntrappedWhileTesting untrapped;
    MutexLock locked(m_lock);
    removeAllBodies();
    m_pairs.clear();
    while (!m_events.isEmpty())
        m_events.pop();
}

void CollisionSystem::removeAllBodies()
{
    for (u64 i = 0; i < m_bodies.count(); ++i) {
        btRigidBody* body = m_bodies.at<CollisionBody>(i).body;
        m_dynamicsWorld->removeRigidBody(body);
        freeBody(body);
    }
    m_bodies.clear();
    m_sweepTargets.clear();
    for (u64 i = 0; i < m_particleBodies.count(); ++i)
        freeParticleBodies(m_particleBodies.at<ParticleBodies>(i));
    m_particleBodies.clear();
}

void CollisionSystem::freeBody(btRigidBody* body)
{
    Allocator& a = levelAllocator();
    destroyIn(a, body->getCollisionShape());
    destroyIn(a, body->getMotionState());
    destroyIn(a, body);
}

void CollisionSystem::entitiesActivated(const EntityHandle* handles, u64 count, World& world)
{
    for (u64 i = 0; i < count; ++i)
        addBody(handles[i], world);
}

void CollisionSystem::entitiesDeactivated(const EntityHandle* handles, u64 count, World&)
{
    // Every handle, not only those with an enabled collider: a collider
    // switched off while its entity was active still has its body.
    for (u64 i = 0; i < count; ++i)
        removeBody(handles[i]);
}

btCollisionShape* CollisionSystem::createShape(EntityHandle entity, World& world, btTransform& offset)
{
    const u64 slot = entity.index();
    if (!isEnabled(world, slot, Collider::kType) || isEnabled(world, slot, NoPhysicsBody::kType))
        return nullptr;
    Allocator& a = levelAllocator();
    btCollisionShape* shape = nullptr;
    Vector3 centre { 0.0f, 0.0f, 0.0f };
    if (isEnabled(world, slot, BoxShape::kType)) {
        const BoxShape& box = component<BoxShape>(world, slot);
        UntrappedWhileTesting untrapped;
        shape = makeIn<btBoxShape>(a, toBullet(box.size * 0.5f));
        centre = box.centre;
    } else if (isEnabled(world, slot, CapsuleShape::kType)) {
        const CapsuleShape& capsule = component<CapsuleShape>(world, slot);
        // A capsule shorter than its two caps is a sphere, not an inside-out shape.
        const f32 cylinder = capsule.height - 2.0f * capsule.radius;
        shape = makeIn<btCapsuleShape>(a, capsule.radius, cylinder > 0.0f ? cylinder : 0.0f);
        centre = capsule.centre;
    } else if (isEnabled(world, slot, SphereShape::kType)) {
        shape = makeIn<btSphereShape>(a, component<SphereShape>(world, slot).radius);
    } else {
        return nullptr;
    }
    // Placed in world orientation and scale once; later turns of the entity
    // do not turn the offset.
    const Vector3 worldCentre = TransformComponent::vectorToWorld(transformAt(world, slot), centre, world);
    offset.setOrigin(toBullet(worldCentre));
    return shape;
}

void CollisionSystem::addBody(EntityHandle entity, World& world)
{
    MutexLock locked(m_lock);
    const u64 slot = entity.index();
    if (!m_dynamicsWorld) {
        if (!isEnabled(world, slot, Collider::kType))
            return;
        QUERN_FATAL("The collision system gives bodies only while attached to a level");
    }
    btTransform offset;
    offset.setIdentity();
    btCollisionShape* shape = createShape(entity, world, offset);
    if (!shape)
        return;
    Transform& transform = transformAt(world, slot);
    shape->setLocalScaling(toBullet(accumulatedScale(transform, world)));

    f32 mass = 0.0f;
    btVector3 inertia(0, 0, 0), linearFactor(1, 1, 1), angularFactor(1, 1, 1);
    if (world.getComponentMask(slot).test(RigidBody::kType)) {
        const RigidBody& rigid = component<RigidBody>(world, slot);
        if (!rigid.massless) {
            mass = rigid.mass;
            shape->calculateLocalInertia(mass, inertia);
        }
        for (int axis = 0; axis < 3; ++axis) {
            if (rigid.lockLinear[axis])
                linearFactor[axis] = 0;
            if (rigid.lockAngular[axis])
                angularFactor[axis] = 0;
        }
    }
    if (isEnabled(world, slot, Animation::kType) && component<Animation>(world, slot).kinematic)
        mass = 0.0f;

    Allocator& a = levelAllocator();
    auto* motion = makeIn<TransformMotionState>(a, transform, world, offset.inverse());
    btRigidBody::btRigidBodyConstructionInfo info(mass, motion, shape, inertia);
    auto* body = makeIn<btRigidBody>(a, info);
    // Every flag but the world-gravity one goes: no gyroscopic forces.
    body->setFlags(body->getFlags() & BT_DISABLE_WORLD_GRAVITY);
    body->setLinearFactor(linearFactor);
    body->setAngularFactor(angularFactor);
    body->setUserIndex(static_cast<int>(entity.value));

    u32 layer = 0;
    bool held = false;
    if (isEnabled(world, slot, CollisionLayer::kType)) {
        const CollisionLayer& record = component<CollisionLayer>(world, slot);
        layer = record.layer;
        held = record.mode > 1;
        if (layer >= kCollisionLayerCount) {
            quern::debug::softAssert("Invalid layer index", "", __FILE__, __LINE__);
            layer = 0;
        }
    }
    m_dynamicsWorld->addRigidBody(body, layerGroup(layer), kLayerMasks[layer]);
    if (layerGroup(layer) & kSphereCastMask)
        m_sweepTargets.append(static_cast<btCollisionObject*>(body));
    if (isEnabled(world, slot, PlayerMovement::kType))
        body->setActivationState(DISABLE_DEACTIVATION);
    else if (held)
        body->setActivationState(DISABLE_SIMULATION);
    else
        body->activate();
    m_bodies.append(CollisionBody { body, entity.value, static_cast<u8>(held) });
}

void CollisionSystem::removeBody(EntityHandle entity)
{
    MutexLock locked(m_lock);
    // Its pairs go silently: no end event for a body that left the world.
    ContactPair* pairs = m_pairs.dataAs<ContactPair>();
    u64 kept = 0;
    for (u64 i = 0; i < m_pairs.count(); ++i)
        if (pairs[i].entityA != entity.value && pairs[i].entityB != entity.value)
            pairs[kept++] = pairs[i];
    m_pairs.expand(kept);

    CollisionBody* bodies = m_bodies.dataAs<CollisionBody>();
    for (u64 i = 0; i < m_bodies.count(); ++i) {
        if (bodies[i].entity != entity.value)
            continue;
        btCollisionObject* object = bodies[i].body;
        btCollisionObject** targets = m_sweepTargets.dataAs<btCollisionObject*>();
        for (u64 t = 0; t < m_sweepTargets.count(); ++t) {
            if (targets[t] == object) {
                std::memmove(targets + t, targets + t + 1, (m_sweepTargets.count() - t - 1) * sizeof(object));
                m_sweepTargets.expand(m_sweepTargets.count() - 1);
                break;
            }
        }
        m_dynamicsWorld->removeRigidBody(bodies[i].body);
        freeBody(bodies[i].body);
        std::memmove(bodies + i, bodies + i + 1, (m_bodies.count() - i - 1) * sizeof(CollisionBody));
        m_bodies.expand(m_bodies.count() - 1);
        return;
    }
}

btRigidBody* CollisionSystem::findBody(EntityHandle entity) const
{
    MutexLock locked(m_lock);
    for (u64 i = 0; i < m_bodies.count(); ++i)
        if (m_bodies.at<CollisionBody>(i).entity == entity.value)
            return m_bodies.at<CollisionBody>(i).body;
    return nullptr;
}

void CollisionSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    if (!Settings::Physics.enabled || *m_paused || !m_dynamicsWorld)
        return;
    FrameStatistics& statistics = currentFrameStatistics();
    const u64 start = quern::platform::getPerformanceCounter();
    {
        MutexLock locked(m_lock);
        m_world = &world;
        m_dispatcher->pairTests = 0;
        m_dispatcher->responseTests = 0;
        pushTransforms(world);
        pushVelocities(world);
        syncParticlesIn();
        // Exactly one internal step of the whole fixed step, no interpolation.
        const f32 step = world.deltaTime;
        {
            DenormalsUntrappedWhileTesting denormals;
            m_dynamicsWorld->stepSimulation(step, 0, step);
        }
        statistics.counters[kCollisionCounterFirst].store(
            static_cast<u32>(m_dynamicsWorld->getNumCollisionObjects()), std::memory_order_relaxed);
        statistics.counters[kCollisionCounterFirst + 1].store(m_dispatcher->pairTests, std::memory_order_relaxed);
        statistics.counters[kCollisionCounterFirst + 2].store(m_dispatcher->responseTests, std::memory_order_relaxed);
        syncParticlesOut();
    }
    // The rules may query this world again: the lock is re-entrant, but other
    // threads need not wait for them.
    dispatchGameEvents(m_events, world, *m_context);
    const u64 elapsed = quern::platform::getPerformanceCounter() - start;
    statistics.counters[kPhysicsMicroseconds].store(
        static_cast<u32>(elapsed * 1'000'000 / quern::platform::kPerformanceFrequency), std::memory_order_relaxed);
}

void CollisionSystem::pushTransforms(World& world)
{
    const CollisionBody* bodies = m_bodies.dataAs<CollisionBody>();
    for (u64 i = 0; i < m_bodies.count(); ++i) {
        if (bodies[i].held || !isLive(world, bodies[i].entity))
            continue;
        btTransform placement;
        bodies[i].body->getMotionState()->getWorldTransform(placement);
        bodies[i].body->setWorldTransform(placement);
    }
}

void CollisionSystem::pushVelocities(World& world)
{
    const CollisionBody* bodies = m_bodies.dataAs<CollisionBody>();
    for (u64 i = 0; i < m_bodies.count(); ++i) {
        const u32 entity = bodies[i].entity;
        if (!isLive(world, entity) || !isEnabled(world, entity & 0xffffu, RigidBody::kType))
            continue;
        const Vector3 velocity = component<RigidBody>(world, entity & 0xffffu).velocity;
        btRigidBody* body = bodies[i].body;
        body->setLinearVelocity(toBullet(velocity));
        if (!(velocity == Vector3 { 0.0f, 0.0f, 0.0f }))
            body->activate();
    }
}

void CollisionSystem::onInternalTick(btDynamicsWorld* world, f32)
{
    static_cast<CollisionSystem*>(world->getWorldUserInfo())->updateContactPairs();
}

void CollisionSystem::updateContactPairs()
{
    ContactPair* pairs = m_pairs.dataAs<ContactPair>();
    for (u64 i = 0; i < m_pairs.count(); ++i)
        pairs[i].state = ContactState::Ended;

    const int manifolds = m_dispatcher->getNumManifolds();
    m_pairIndex.reset(m_pairs.count() + static_cast<u64>(manifolds));
    for (u64 i = 0; i < m_pairs.count(); ++i)
        m_pairIndex.insert(pairs[i].entityA, pairs[i].entityB, i);
    for (int m = 0; m < manifolds; ++m) {
        const btPersistentManifold* manifold = m_dispatcher->getManifoldByIndexInternal(m);
        if (manifold->getNumContacts() == 0)
            continue;
        const int a = manifold->getBody0()->getUserIndex();
        const int b = manifold->getBody1()->getUserIndex();
        if (a == -1 || b == -1)
            continue;
        const ContactPair found { static_cast<u32>(a), static_cast<u32>(b), ContactState::Started };
        // The first stored pair of the two entities, in either order.
        const u64 known = m_pairIndex.find(found.entityA, found.entityB);
        if (known != PairIndex::kNone) {
            m_pairs.at<ContactPair>(known).state = ContactState::Continuing;
        } else {
            m_pairIndex.insert(found.entityA, found.entityB, m_pairs.count());
            m_pairs.append(found);
        }
    }

    // Ended pairs leave by taking the last pair into their place, which is
    // looked at next.
    pairs = m_pairs.dataAs<ContactPair>();
    u64 end = m_pairs.count();
    for (u64 i = 0; i < end;) {
        const ContactPair pair = pairs[i];
        const bool trigger = component<Collider>(*m_world, pair.entityA & 0xffffu).trigger
            || component<Collider>(*m_world, pair.entityB & 0xffffu).trigger;
        const u16 type = static_cast<u16>(static_cast<u16>(pair.state) + (trigger ? 3 : 0));
        // A full ring doubles: no contact event may be lost.
        void* payload = m_events.pushGrowing(type, sizeof(PairEvent));
        const PairEvent event { pair.entityA, pair.entityB };
        std::memcpy(payload, &event, sizeof event);
        if (pair.state == ContactState::Ended)
            pairs[i] = pairs[--end];
        else
            ++i;
    }
    m_pairs.expand(end);
}

void CollisionSystem::saveContactPairs()
{
    MutexLock locked(m_lock);
    m_savedPairs.assign(m_pairs.data(), m_pairs.end());
}

void CollisionSystem::restoreSnapshot(World& world)
{
    MutexLock locked(m_lock);
    m_pairs.assign(m_savedPairs.data(), m_savedPairs.end());
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        // Only entities that are active have bodies to rebuild; a free or
        // inactive slot must not gain one.
        if (world.getState(slot) != EntityState::Active || !isEnabled(world, slot, Collider::kType)
            || isEnabled(world, slot, NoPhysicsBody::kType))
            continue;
        const EntityHandle entity = EntityHandle::make(static_cast<u16>(slot), world.getGeneration(slot));
        removeBody(entity);
        addBody(entity, world);
    }
    for (u64 i = 0; i < m_bodies.count(); ++i) {
        btRigidBody* body = m_bodies.at<CollisionBody>(i).body;
        body->clearForces();
        body->setLinearVelocity(btVector3(0, 0, 0));
    }
}

std::span<const ContactPair> CollisionSystem::contactPairs() const
{
    return { m_pairs.dataAs<ContactPair>(), m_pairs.count() };
}

std::span<const ContactPair> CollisionSystem::savedContactPairs() const
{
    return { m_savedPairs.dataAs<ContactPair>(), m_savedPairs.count() };
}

} // namespace harmonize
