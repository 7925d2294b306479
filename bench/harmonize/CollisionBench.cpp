// The collision system against Bullet driven by hand, in the same run:
// - one collision fixed tick over 2,000 boxes (1,000 pressed against 1,000
//   still ones, so about 1,000 pairs touch), against stepping an identical
//   Bullet world built by hand with the same velocities;
// - 10,000 rayCastAll queries against the same rays through Bullet's rayTest
//   with its all-hits callback, on the collision system's own world.

#include "support/RatioReporter.h"

#include "harmonize/collision/BulletAllocation.h"
#include "harmonize/collision/CollisionLayers.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>
#include <btBulletDynamicsCommon.h>

#include <cstdio>
#include <memory>
#include <vector>

using namespace harmonize;
using quern::f32;
using quern::u16;
using quern::u64;
using quern::entity::World;
using quern::math::Vector3;

namespace {

constexpr int kPairs = 1000;
constexpr int kRays = 10'000;
constexpr f32 kStep = 0.01f;
constexpr f32 kPush = -0.2f; // the moving boxes press left into their still ones

// Pair i: a still box at x = 3i and a moving one overlapping it from the right.
Vector3 stillPosition(int i) { return { static_cast<f32>(i % 50) * 3.0f, static_cast<f32>(i / 50) * 3.0f, 0.0f }; }
Vector3 movingPosition(int i) { return stillPosition(i) + Vector3 { 0.95f, 0.0f, 0.0f }; }

struct CollisionScene {
    CollisionScene()
    {
        world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, 2 * kPairs + 1, nullptr);
        collision = new CollisionSystem(context);
        world.addSystem(collision);
        world.clock.step = 10'000;
        for (int i = 0; i < kPairs; ++i) {
            add(stillPosition(i), false);
            add(movingPosition(i), true);
        }
        world.attachSystems(nullptr);
        world.start();
        world.fixedTick(1);
    }

    void add(const Vector3& position, bool moving)
    {
        const EntityHandle e = world.createEntity();
        for (quern::u8 type : { Transform::kType, Collider::kType, BoxShape::kType }) {
            world.getComponentMask(e.index()).set(type);
            world.getEnabledMask(e.index()).set(type);
        }
        *static_cast<Transform*>(world.getComponent(e.index(), Transform::kType)) = Transform { position, {}, { 1, 1, 1 }, {} };
        *static_cast<BoxShape*>(world.getComponent(e.index(), BoxShape::kType)) = BoxShape { { 0, 0, 0 }, { 1, 1, 1 } };
        if (!moving)
            return;
        world.getComponentMask(e.index()).set(RigidBody::kType);
        world.getEnabledMask(e.index()).set(RigidBody::kType);
        *static_cast<RigidBody*>(world.getComponent(e.index(), RigidBody::kType))
            = RigidBody { { kPush, 0, 0 }, 1.0f, 0, 0, { 0, 1, 1 }, { 1, 1, 1 } };
    }

    World world;
    AppContext context;
    CollisionSystem* collision;
};

// The same boxes in a Bullet world of the same make, driven directly.
struct HandBuiltScene {
    HandBuiltScene()
        : dispatcher(&configuration)
        , world(&dispatcher, &broadphase, &solver, &configuration)
    {
        world.setGravity(btVector3(0, 0, 0));
        for (int i = 0; i < kPairs; ++i) {
            add(stillPosition(i), false);
            moving.push_back(add(movingPosition(i), true));
        }
        step();
    }
    ~HandBuiltScene()
    {
        for (int i = world.getNumCollisionObjects() - 1; i >= 0; --i) {
            btRigidBody* body = btRigidBody::upcast(world.getCollisionObjectArray()[i]);
            world.removeRigidBody(body);
            delete body->getMotionState();
            delete body;
        }
    }

    btRigidBody* add(const Vector3& position, bool dynamic)
    {
        const f32 mass = dynamic ? 1.0f : 0.0f;
        btVector3 inertia(0, 0, 0);
        shape.calculateLocalInertia(mass, inertia);
        auto* motion = new btDefaultMotionState(btTransform(btQuaternion::getIdentity(), btVector3(position.x, position.y, position.z)));
        auto* body = new btRigidBody(btRigidBody::btRigidBodyConstructionInfo(mass, motion, &shape, inertia));
        body->setFlags(0);
        if (dynamic) {
            body->setLinearFactor(btVector3(1, 0, 0));
            body->setAngularFactor(btVector3(0, 0, 0));
        }
        world.addRigidBody(body, layerGroup(0), kLayerMasks[0]);
        return body;
    }
    void step()
    {
        for (btRigidBody* body : moving) {
            body->setLinearVelocity(btVector3(kPush, 0, 0));
            body->activate();
        }
        world.stepSimulation(kStep, 0, kStep);
    }

    btDefaultCollisionConfiguration configuration;
    btCollisionDispatcher dispatcher;
    btDbvtBroadphase broadphase;
    btSequentialImpulseConstraintSolver solver;
    btDiscreteDynamicsWorld world;
    btBoxShape shape { btVector3(0.5f, 0.5f, 0.5f) };
    std::vector<btRigidBody*> moving;
};

void BM_CollisionFixedTick(benchmark::State& state)
{
    CollisionScene scene;
    for (auto _ : state)
        scene.world.fixedTick(1);
    state.counters["pairs"] = static_cast<double>(scene.collision->contactPairs().size());
}
BENCHMARK(BM_CollisionFixedTick)->Unit(benchmark::kMicrosecond);

void BM_BulletStepByHand(benchmark::State& state)
{
    HandBuiltScene scene;
    for (auto _ : state)
        scene.step();
    state.counters["manifolds"] = scene.dispatcher.getNumManifolds();
}
BENCHMARK(BM_BulletStepByHand)->Unit(benchmark::kMicrosecond);

// Rays down through the rows of boxes, each crossing a few of them.
struct Ray {
    Vector3 from, direction;
};
std::vector<Ray> makeRays()
{
    std::vector<Ray> rays;
    for (int i = 0; i < kRays; ++i) {
        const f32 x = static_cast<f32>(i % 1000) * 0.15f;
        const f32 z = static_cast<f32>(i / 1000) * 0.1f - 0.45f;
        rays.push_back({ { x, 70.0f, z }, { 0.02f, -1.0f, 0.0f } });
    }
    return rays;
}
constexpr f32 kRayLength = 80.0f;

void BM_RayCastAll(benchmark::State& state)
{
    CollisionScene scene;
    const std::vector<Ray> rays = makeRays();
    quern::containers::Array hits(sizeof(CollisionHit), alignof(CollisionHit));
    u64 found = 0;
    for (auto _ : state) {
        for (const Ray& ray : rays) {
            hits.clear();
            scene.collision->rayCastAll(ray.from, ray.direction, hits, kRayLength);
            found += hits.count();
        }
    }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_RayCastAll)->Unit(benchmark::kMillisecond);

void BM_BulletRayTestAllHits(benchmark::State& state)
{
    CollisionScene scene;
    const std::vector<Ray> rays = makeRays();
    btDiscreteDynamicsWorld& world = *scene.collision->dynamicsWorld();
    u64 found = 0;
    for (auto _ : state) {
        for (const Ray& ray : rays) {
            const btVector3 from(ray.from.x, ray.from.y, ray.from.z);
            const btVector3 to = from + btVector3(ray.direction.x, ray.direction.y, ray.direction.z) * kRayLength;
            btCollisionWorld::AllHitsRayResultCallback callback(from, to);
            world.rayTest(from, to, callback);
            found += static_cast<u64>(callback.m_collisionObjects.size());
        }
    }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_BulletRayTestAllHits)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    installBulletAllocation();
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_CollisionFixedTick") && t.count("BM_BulletStepByHand"))
        std::printf("collision fixed tick / Bullet stepped by hand (2,000 bodies, 1,000 touching pairs): %.2fx the time\n",
            t["BM_CollisionFixedTick"] / t["BM_BulletStepByHand"]);
    if (t.count("BM_RayCastAll") && t.count("BM_BulletRayTestAllHits"))
        std::printf("rayCastAll / Bullet rayTest with all hits (10,000 rays): %.2fx the time\n",
            t["BM_RayCastAll"] / t["BM_BulletRayTestAllHits"]);
    benchmark::Shutdown();
    return 0;
}
