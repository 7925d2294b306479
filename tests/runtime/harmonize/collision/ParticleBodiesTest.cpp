// Particle pools' bodies: in the physics world while their slot is live,
// moved by Bullet and written back, meeting neither layer 1 nor each other.

#include "CollisionWorld.h"

#include <gtest/gtest.h>

using namespace harmonize;
using harmonize::testing::CollisionWorld;

namespace {

// Three slots; the live particles sit in slots 2 and 0.
struct Pool {
    f32 px[3] = { 0, 5, 0 }, py[3] = {}, pz[3] = {};
    f32 vx[3] = { 1, 0, 0 }, vy[3] = {}, vz[3] = {};
    u32 slots[3] = { 2, 0, 1 };
    ParticlePoolView view { px, py, pz, vx, vy, vz, slots, 3, 2 };
};

int objects(CollisionWorld& w) { return w.collision->dynamicsWorld()->getNumCollisionObjects(); }

TEST(ParticleBodies, LiveParticlesEnterTheWorldMoveAndLeaveWhenTheyDie)
{
    CollisionWorld w;
    Pool pool;
    w.start();
    w.collision->registerParticlePool(&pool.view, &pool, nullptr);
    EXPECT_EQ(objects(w), 0) << "bodies wait for their particles";
    w.tick();
    EXPECT_EQ(objects(w), 2);
    EXPECT_NEAR(pool.px[0], 0.01f, 1e-6f);
    EXPECT_EQ(pool.vx[0], 1.0f);
    EXPECT_EQ(pool.px[1], 5.0f);

    // The particle in slot 0 dies: slot 0 moves behind the live one.
    pool.view.liveCount = 1;
    pool.slots[1] = 1;
    pool.slots[2] = 0;
    w.tick();
    EXPECT_EQ(objects(w), 1);
    EXPECT_NEAR(pool.px[0], 0.02f, 1e-6f);

    w.collision->unregisterParticlePool(&pool);
    EXPECT_EQ(objects(w), 0);
    w.collision->unregisterParticlePool(&pool); // no longer registered: nothing
}

TEST(ParticleBodies, UnregisteringTakesTheFirstPoolOfItsOwnerAndKeepsTheOthers)
{
    CollisionWorld w;
    Pool first, second;
    w.start();
    w.collision->registerParticlePool(&first.view, &first, nullptr);
    w.collision->registerParticlePool(&second.view, &second, nullptr);
    w.tick();
    EXPECT_EQ(objects(w), 4);
    w.collision->unregisterParticlePool(&first);
    EXPECT_EQ(objects(w), 2);
    w.tick();
    EXPECT_EQ(objects(w), 2);
    EXPECT_NEAR(second.px[0], 0.02f, 1e-6f);
}

TEST(ParticleBodies, ParticlesMeetLayerZeroButNotLayerOneNorEachOther)
{
    for (u32 layer : { 0u, 1u }) {
        CollisionWorld w;
        const EntityHandle box = w.box("box", { 0, 0, 0 }, { 1, 1, 1 });
        w.setMass(box, 1);
        w.setLayer(box, layer);
        Pool pool;
        pool.px[1] = 0; // both particles inside the box, on top of each other
        w.start();
        w.collision->registerParticlePool(&pool.view, &pool, nullptr);
        w.tick(2);
        btDispatcher* dispatcher = w.collision->dynamicsWorld()->getDispatcher();
        int touching = 0;
        for (int m = 0; m < dispatcher->getNumManifolds(); ++m)
            touching += dispatcher->getManifoldByIndexInternal(m)->getNumContacts() > 0;
        EXPECT_EQ(touching, layer == 0 ? 2 : 0) << layer;
        EXPECT_TRUE(w.pairs().empty()) << "particle contacts are no entity pairs";
    }
}

TEST(ParticleBodies, StoppingTheWorldFreesThePools)
{
    CollisionWorld w;
    Pool pool;
    w.start();
    w.collision->registerParticlePool(&pool.view, &pool, nullptr);
    w.tick();
    w.world().stop();
    EXPECT_EQ(objects(w), 0);
}

TEST(ParticleBodiesDeathTest, APoolNamingASlotOutsideItsCapacityIsFatal)
{
    EXPECT_DEATH(
        {
            CollisionWorld w;
            Pool pool;
            pool.slots[1] = 3;
            w.start();
            w.collision->registerParticlePool(&pool.view, &pool, nullptr);
            w.tick();
        },
        "Particle pool names a slot outside its capacity");
    EXPECT_DEATH(
        {
            CollisionWorld w;
            Pool pool;
            pool.view.liveCount = 4;
            w.start();
            w.collision->registerParticlePool(&pool.view, &pool, nullptr);
            w.tick();
        },
        "Particle pool has more live particles than slots");
}

} // namespace
