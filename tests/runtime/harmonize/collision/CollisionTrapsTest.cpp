// The collision system where the game traps floating-point faults: a small
// scene built, stepped, queried and stopped with the traps on.

#include "CollisionWorld.h"

#include "quern/platform/FloatingPointTraps.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace harmonize;
using harmonize::testing::CollisionWorld;

namespace {

void runTrappedScene()
{
    CollisionWorld w; // resets the settings
    Settings::Test.test = true;
    const EntityHandle slider = w.box("slider", { 0, 0, 0 }, { 1, 1, 1 });
    w.setMass(slider, 1, { 3, 0, 0 });
    w.scene.set(slider, "RigidBody", "lockAngular", { 1, 1, 1 });
    w.box("wall", { 3, 0, 0 }, { 0.5f, 3, 2 });
    const EntityHandle gate = w.box("gate", { 1.5f, 0, 0 }, { 0.2f, 2, 2 });
    w.setTrigger(gate);
    w.box("flat", { 0, -3, 0 }, { 4, 0, 4 });
    w.sphere("ball", { 0, 3, 0 }, 0.5f);
    f32 px[2] = { 0, 1 }, py[2] = { 2, 2 }, pz[2] = {}, vx[2] = { 0, 1 }, vy[2] = {}, vz[2] = {};
    const u32 slots[2] = { 0, 1 };
    ParticlePoolView pool { px, py, pz, vx, vy, vz, slots, 2, 2 };
    quern::platform::enableFloatingPointTraps();
    w.start();
    w.collision->registerParticlePool(&pool, &pool, nullptr);
    for (int tick = 0; tick < 120; ++tick) {
        w.tick();
        CollisionHit hit {};
        quern::containers::Array hits(sizeof(CollisionHit), alignof(CollisionHit));
        w.collision->rayCast({ -5, 0, 0 }, { 1, 0, 0 }, hit);
        w.collision->rayCastAll({ 0, 5, 0 }, { 0, -1, 0 }, hits, 10);
        w.collision->sphereCast({ -5, 0, 0 }, 0.5f, { 1, 0, 0 }, hit, 10);
        w.collision->sphereCastAll({ 0, 5, 0 }, 0.5f, { 0, -1, 0 }, hits, 10);
    }
    w.world().stop();
    quern::platform::maskFloatingPointTraps();
    std::exit(0);
}

TEST(CollisionTrapsDeathTest, ASmallSceneRunsWithTheTrapsOn)
{
    EXPECT_EXIT(runTrappedScene(), ::testing::ExitedWithCode(0), "");
}

} // namespace
