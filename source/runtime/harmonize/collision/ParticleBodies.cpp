// The particle pools' bodies: made once per pool at registration, added to
// and removed from the physics world as particles live and die.

#include "harmonize/collision/BulletObjects.h"
#include "harmonize/collision/CollisionLayers.h"
#include "harmonize/collision/CollisionSystem.h"

#include <btBulletDynamicsCommon.h>

#include <cstring>

namespace harmonize {

using quern::debug::MutexLock;
using quern::memory::Allocator;

namespace {

constexpr f32 kParticleRadius = 0.01f;

// The pool is the particle system's; a view that names slots outside its
// capacity would have this system write outside its own arrays.
btRigidBody* bodyOfSlot(btRigidBody* const* bodies, const ParticlePoolView& pool, u32 j)
{
    const u32 slot = pool.slots[j];
    if (slot >= pool.capacity)
        QUERN_FATAL("Particle pool names a slot outside its capacity");
    return bodies[slot];
}

} // namespace

void CollisionSystem::registerParticlePool(ParticlePoolView* pool, void* owner, void* userData)
{
    MutexLock locked(m_lock);
    if (!m_dynamicsWorld)
        QUERN_FATAL("The collision system gives bodies only while attached to a level");
    Allocator& a = levelAllocator();
    ParticleBodies set { pool, owner, userData, nullptr, nullptr };
    auto* bodies = static_cast<btRigidBody**>(a.allocate(sizeof(btRigidBody*) * pool->capacity, 0));
    if (!bodies)
        QUERN_OUT_OF_MEMORY();
    set.bodies = bodies;
    set.shape = makeIn<btSphereShape>(a, kParticleRadius);
    btVector3 inertia(0, 0, 0);
    set.shape->calculateLocalInertia(1.0f, inertia);
    for (u32 slot = 0; slot < pool->capacity; ++slot) {
        auto* motion = makeIn<btDefaultMotionState>(a);
        btRigidBody::btRigidBodyConstructionInfo info(1.0f, motion, set.shape, inertia);
        auto* body = makeIn<btRigidBody>(a, info);
        body->setFlags(body->getFlags() & BT_DISABLE_WORLD_GRAVITY);
        body->setAngularFactor(btVector3(0, 0, 0));
        body->setUserIndex(-1);
        bodies[slot] = body;
    }
    m_particleBodies.append(set);
}

void CollisionSystem::freeParticleBodies(ParticleBodies& set)
{
    Allocator& a = levelAllocator();
    for (u32 slot = 0; slot < set.pool->capacity; ++slot) {
        btRigidBody* body = set.bodies[slot];
        if (body->isInWorld())
            m_dynamicsWorld->removeRigidBody(body);
        destroyIn(a, body->getMotionState());
        destroyIn(a, body);
    }
    destroyIn(a, set.shape);
    a.free(set.bodies);
}

void CollisionSystem::unregisterParticlePool(void* owner)
{
    MutexLock locked(m_lock);
    ParticleBodies* sets = m_particleBodies.dataAs<ParticleBodies>();
    for (u64 i = 0; i < m_particleBodies.count(); ++i) {
        if (sets[i].owner != owner)
            continue;
        freeParticleBodies(sets[i]);
        std::memmove(sets + i, sets + i + 1, (m_particleBodies.count() - i - 1) * sizeof(ParticleBodies));
        m_particleBodies.expand(m_particleBodies.count() - 1);
        return;
    }
}

void CollisionSystem::syncParticlesIn()
{
    for (u64 i = 0; i < m_particleBodies.count(); ++i) {
        const ParticleBodies& set = m_particleBodies.at<ParticleBodies>(i);
        const ParticlePoolView& pool = *set.pool;
        if (pool.liveCount > pool.capacity)
            QUERN_FATAL("Particle pool has more live particles than slots");
        for (u32 j = 0; j < pool.liveCount; ++j) {
            btRigidBody* body = bodyOfSlot(set.bodies, pool, j);
            if (!body->isInWorld()) {
                body->setWorldTransform(btTransform(btQuaternion::getIdentity(), btVector3(pool.px[j], pool.py[j], pool.pz[j])));
                m_dynamicsWorld->addRigidBody(body, kParticleGroup, kParticleMask);
            }
            const btVector3 velocity(pool.vx[j], pool.vy[j], pool.vz[j]);
            body->setLinearVelocity(velocity);
            if (!velocity.isZero())
                body->activate();
        }
        for (u32 j = pool.liveCount; j < pool.capacity; ++j) {
            btRigidBody* body = bodyOfSlot(set.bodies, pool, j);
            if (body->isInWorld())
                m_dynamicsWorld->removeRigidBody(body);
        }
    }
}

void CollisionSystem::syncParticlesOut()
{
    for (u64 i = 0; i < m_particleBodies.count(); ++i) {
        const ParticleBodies& set = m_particleBodies.at<ParticleBodies>(i);
        const ParticlePoolView& pool = *set.pool;
        for (u32 j = 0; j < pool.liveCount; ++j) {
            const btRigidBody* body = set.bodies[pool.slots[j]];
            const btVector3& position = body->getWorldTransform().getOrigin();
            const btVector3& velocity = body->getLinearVelocity();
            pool.px[j] = position.x();
            pool.py[j] = position.y();
            pool.pz[j] = position.z();
            pool.vx[j] = velocity.x();
            pool.vy[j] = velocity.y();
            pool.vz[j] = velocity.z();
        }
    }
}

} // namespace harmonize
