// The water-flow system's fixed tick against the rays it casts, in the same
// run: 256 jets in 16 rows pouring down, two in three cut short by a wall of a
// blocking layer, some crossing a box of a layer they pour through, and an
// opposing player beneath one wall where no jet reaches. The system measures
// every jet with rayCastAll, stretches its body and places its tip, and sweeps
// the jet for the player; the peer casts the same 256 rays through Bullet's
// rayTest with its all-hits callback on the collision system's own world and
// keeps the nearest hit on a blocking layer of each. Both must find the same
// jet lengths before anything is timed. A second peer adds the sweep for the
// player down each jet that the tick makes too, through Bullet's closest
// convex sweep, so the cost of the rays and that of the sweeps read apart.
// The tick runs inline, and once more on 8 workers, where the collision
// system's one lock lines the queries up.

#include "support/RatioReporter.h"

#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/collision/BulletAllocation.h"
#include "harmonize/collision/CollisionLayers.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/WaterFlowSystem.h"
#include "harmonize/tasks/TaskDispatcher.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>
#include <btBulletDynamicsCommon.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace harmonize;
using quern::f32;
using quern::u32;
using quern::u64;
using quern::math::Vector3;

namespace {

constexpr int kRows = 16;
constexpr int kColumns = 16;
constexpr int kJets = kRows * kColumns;
constexpr f32 kMaxLength = 20.0f;
constexpr f32 kRowSpacing = 30.0f; // deeper than a jet is long: rows never meet
constexpr u32 kBlockLayer = 3;
constexpr u32 kPassLayer = 4;
constexpr u64 kStepMicroseconds = 10'000;

Vector3 jetPosition(int row, int column)
{
    return { static_cast<f32>(column) * 3.0f, -static_cast<f32>(row) * kRowSpacing, 0.0f };
}
bool isCut(int row, int column) { return (row + column) % 3 != 0; }
f32 wallDepth(int column) { return 2.0f + static_cast<f32>(column % 7) * 2.5f; }

// A ray of the peer: what the system casts for one jet.
struct JetRay {
    btVector3 from, to;
    u32 blockingLayers;
    f32 width;
};

struct WaterLevel {
    explicit WaterLevel(TaskDispatcher* dispatcher)
        : scene(4 * kJets + 64)
    {
        context.services.taskDispatcher = dispatcher;
        collision = new CollisionSystem(context);
        context.collision = collision;
        scene.addSystem(collision);
        water = new WaterFlowSystem(context);
        scene.addSystem(water);
        scene.world().clock.step = kStepMicroseconds;
        bodyPrefab = scene.add("body", { "Transform", "TextureScroll", "Collider", "BoxShape" }, {}, true);
        splashPrefab = scene.add("splash", { "Transform" }, {}, true);
        for (int row = 0; row < kRows; ++row)
            for (int column = 0; column < kColumns; ++column)
                addJet(row, column);
        // Beneath a cut jet, past its wall: in the ray's reach, never in the jet.
        const EntityHandle player = scene.add(
            "player", { "Transform", "Collider", "SphereShape", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        scene.get<Transform>(player).position = jetPosition(0, 1) + Vector3 { 0.0f, -wallDepth(1) - 3.0f, 0.0f };
        scene.get<SphereShape>(player).radius = 0.5f;
        scene.get<Race>(player).value = 2;
        setLayer(player, 8);
        scene.world().attachSystems(nullptr);
        scene.start();
        // The first tick sets the jets up and measures them; the rest settle them.
        scene.tick(3);
    }

    void addJet(int row, int column)
    {
        const Vector3 at = jetPosition(row, column);
        const EntityHandle e = scene.add("jet", { "Transform", "WaterFlow", "Race" });
        scene.get<Transform>(e).position = at;
        WaterFlow& flow = scene.get<WaterFlow>(e);
        flow.blockingLayers = 1u << kBlockLayer;
        flow.bodyPrefab = bodyPrefab;
        flow.maxLength = kMaxLength;
        flow.tip = scene.add("tip", { "Transform" });
        flow.splashPrefab = splashPrefab;
        flow.growthSpeed = 100.0f;
        flow.width = 0.5f;
        scene.get<Race>(e).value = 0;
        jets.push_back(e);
        if (isCut(row, column))
            box(at + Vector3 { 0.0f, -wallDepth(column) - 0.5f, 0.0f }, kBlockLayer);
        if ((row + column) % 5 == 0)
            box(at + Vector3 { 0.0f, -1.5f, 0.0f }, kPassLayer);
    }
    void box(const Vector3& position, u32 layer)
    {
        const EntityHandle e = scene.add("wall", { "Transform", "Collider", "BoxShape" });
        scene.get<Transform>(e).position = position;
        scene.get<BoxShape>(e).size = { 1, 1, 1 };
        setLayer(e, layer);
    }
    void setLayer(EntityHandle e, u32 layer)
    {
        scene.set(e, "CollisionLayer", "layer", { static_cast<quern::f64>(layer) });
    }

    void tick() { water->fixedTick(nullptr, scene.world()); }

    std::vector<JetRay> rays()
    {
        std::vector<JetRay> found;
        for (EntityHandle jet : jets) {
            const Transform& transform = scene.get<Transform>(jet);
            const WaterFlow& flow = scene.get<WaterFlow>(jet);
            const Vector3 from = worldPositionOf(scene.world(), transform);
            const Vector3 to = from + WaterFlowSystem::jetDirection(scene.world(), transform) * flow.maxLength;
            found.push_back(
                { btVector3(from.x, from.y, from.z), btVector3(to.x, to.y, to.z), flow.blockingLayers, flow.width });
        }
        return found;
    }

    testing::Scenario scene;
    AppContext context;
    CollisionSystem* collision = nullptr;
    WaterFlowSystem* water = nullptr;
    EntityHandle bodyPrefab;
    EntityHandle splashPrefab;
    std::vector<EntityHandle> jets;
};

// The peer: every jet's ray, its hits filtered by the layer group each body
// joined Bullet's world with, the nearest blocking one measured in the plane.
void castJetRays(btCollisionWorld& world, const std::vector<JetRay>& rays, std::vector<f32>& lengths)
{
    for (u64 i = 0; i < rays.size(); ++i) {
        const JetRay& ray = rays[i];
        btCollisionWorld::AllHitsRayResultCallback callback(ray.from, ray.to);
        callback.m_collisionFilterGroup = kQueryGroup;
        callback.m_collisionFilterMask = kQueryMaskAll;
        world.rayTest(ray.from, ray.to, callback);
        f32 length = (ray.to - ray.from).length();
        for (int h = 0; h < callback.m_collisionObjects.size(); ++h) {
            const u32 group = static_cast<quern::u16>(
                callback.m_collisionObjects[h]->getBroadphaseHandle()->m_collisionFilterGroup);
            if ((ray.blockingLayers & group) == 0)
                continue;
            const btVector3 d = callback.m_hitPointWorld[h] - ray.from;
            const f32 distance = std::sqrt(d.x() * d.x() + d.y() * d.y());
            if (distance < length)
                length = distance;
        }
        lengths[i] = length;
    }
}

// The tick's search for a player in each jet: a sphere as wide as the jet,
// swept in the plane along the jet's measured length, meeting layer 8 alone.
void sweepJets(btCollisionWorld& world, const std::vector<JetRay>& rays, const std::vector<f32>& lengths)
{
    for (u64 i = 0; i < rays.size(); ++i) {
        const JetRay& ray = rays[i];
        btVector3 along = ray.to - ray.from;
        along.setZ(0.0f);
        const btVector3 end = ray.from + along.normalized() * lengths[i];
        btSphereShape sphere(ray.width * 0.5f);
        btCollisionWorld::ClosestConvexResultCallback callback(ray.from, end);
        callback.m_collisionFilterGroup = kQueryGroup;
        callback.m_collisionFilterMask = kSphereCastMask;
        world.convexSweepTest(&sphere, btTransform(btQuaternion::getIdentity(), ray.from),
            btTransform(btQuaternion::getIdentity(), end), callback);
        benchmark::DoNotOptimize(callback.m_closestHitFraction);
    }
}

// Both sides must see the same jets, and the level must hold both kinds.
void checkSameLengths(WaterLevel& level, const char* name)
{
    const std::vector<JetRay> rays = level.rays();
    std::vector<f32> peer(rays.size());
    castJetRays(*level.collision->dynamicsWorld(), rays, peer);
    int cut = 0;
    for (int i = 0; i < kJets; ++i) {
        const f32 length = level.scene.get<WaterFlow>(level.jets[static_cast<u64>(i)]).length;
        if (std::fabs(length - peer[static_cast<u64>(i)]) > 1e-4f) {
            std::fprintf(
                stderr, "%s: jet %d is %g long, its ray says %g\n", name, i, length, peer[static_cast<u64>(i)]);
            std::exit(1);
        }
        cut += length < kMaxLength ? 1 : 0;
    }
    if (cut == 0 || cut == kJets) {
        std::fprintf(stderr, "%s: %d of the %d jets are cut; the level tests nothing\n", name, cut, kJets);
        std::exit(1);
    }
}

WaterLevel& inlineLevel()
{
    static WaterLevel* instance = new WaterLevel(nullptr);
    return *instance;
}

void BM_WaterFlowFixedTick(benchmark::State& state)
{
    Settings::Threading.enabled = false;
    WaterLevel& level = inlineLevel();
    for (auto _ : state) {
        level.tick();
        benchmark::ClobberMemory();
    }
    Settings::resetToDefaults();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kJets));
}
BENCHMARK(BM_WaterFlowFixedTick)->Unit(benchmark::kMicrosecond);

// The peer's tick: the rays alone, or the rays and then the player sweeps.
void runBulletPeer(benchmark::State& state, bool sweeps)
{
    WaterLevel& level = inlineLevel();
    const std::vector<JetRay> rays = level.rays();
    std::vector<f32> lengths(rays.size());
    btCollisionWorld& world = *level.collision->dynamicsWorld();
    for (auto _ : state) {
        castJetRays(world, rays, lengths);
        if (sweeps)
            sweepJets(world, rays, lengths);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kJets));
}

void BM_BulletRayTestJets(benchmark::State& state) { runBulletPeer(state, false); }
BENCHMARK(BM_BulletRayTestJets)->Unit(benchmark::kMicrosecond);

void BM_BulletRayTestAndSweepJets(benchmark::State& state) { runBulletPeer(state, true); }
BENCHMARK(BM_BulletRayTestAndSweepJets)->Unit(benchmark::kMicrosecond);

void BM_WaterFlowFixedTick8Workers(benchmark::State& state)
{
    TaskDispatcher dispatcher;
    ThreadingSettings threading;
    threading.workers = 8;
    dispatcher.start(threading, 8);
    Settings::Threading.enabled = true;
    {
        WaterLevel level(&dispatcher);
        checkSameLengths(level, "8 workers");
        for (auto _ : state) {
            level.tick();
            benchmark::ClobberMemory();
        }
    }
    dispatcher.stop();
    Settings::resetToDefaults();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kJets));
}
BENCHMARK(BM_WaterFlowFixedTick8Workers)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    installBulletAllocation();
    Settings::resetToDefaults();
    checkSameLengths(inlineLevel(), "inline");
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_WaterFlowFixedTick") && t.count("BM_BulletRayTestJets"))
        std::printf("water-flow fixed tick / Bullet rayTest with all hits (256 jets): %.2fx the time\n",
            t["BM_WaterFlowFixedTick"] / t["BM_BulletRayTestJets"]);
    if (t.count("BM_WaterFlowFixedTick") && t.count("BM_BulletRayTestAndSweepJets"))
        std::printf("water-flow fixed tick / Bullet rayTest and player sweep (256 jets): %.2fx the time\n",
            t["BM_WaterFlowFixedTick"] / t["BM_BulletRayTestAndSweepJets"]);
    if (t.count("BM_WaterFlowFixedTick8Workers/real_time") && t.count("BM_WaterFlowFixedTick"))
        std::printf("water-flow fixed tick on 8 workers: %.0f us, %.2fx the inline tick's time\n",
            t["BM_WaterFlowFixedTick8Workers/real_time"],
            t["BM_WaterFlowFixedTick8Workers/real_time"] / t["BM_WaterFlowFixedTick"]);
    benchmark::Shutdown();
    return 0;
}
