// The launchers' line of sight against Bullet's sphere sweep, in the same run:
// a table of sweeps from launchers on a ring around a player, through a level
// of a few dozen boxes, some of them triggers. isTargetVisible sweeps through
// the collision system; the peer sweeps the same sphere with convexSweepTest
// on the collision system's own world, collects every hit (body and point) in
// a callback of its own and walks them for the nearest solid one the same way.
// Both must give every sweep the same answer before anything is timed.

#include "support/RatioReporter.h"

#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/collision/BulletAllocation.h"
#include "harmonize/collision/CollisionLayers.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/MissileLauncherSystem.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>
#include <btBulletDynamicsCommon.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <vector>

using namespace harmonize;
using quern::f32;
using quern::u32;
using quern::u64;
using quern::entity::World;
using quern::math::Vector3;

namespace {

constexpr int kSweeps = 48;
constexpr f32 kRing = 16.0f; // launchers stand this far from the player
constexpr f32 kSightLength = 20.0f;

struct Sweep {
    Vector3 origin, direction;
    f32 length;
};

Vector3 onCircle(f32 radius, f32 turns)
{
    return { radius * std::cos(turns * 2.0f * std::numbers::pi_v<f32>),
        radius * std::sin(turns * 2.0f * std::numbers::pi_v<f32>), 0.0f };
}

struct SightLevel {
    SightLevel()
        : scene(128)
    {
        collision = new CollisionSystem(context);
        context.collision = collision;
        scene.addSystem(collision);
        scene.world().clock.step = 10'000;
        player = scene.add(
            "player", { "Transform", "Collider", "BoxShape", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        scene.get<BoxShape>(player).size = { 1, 1, 1 };
        scene.set(player, "CollisionLayer", "layer", { 8 });
        // Walls across some of the launchers' lines, triggers across others,
        // and a scatter of crates off the lines.
        for (int i = 0; i < 12; ++i)
            box(onCircle(6.0f + static_cast<f32>(i % 3) * 2.0f, static_cast<f32>(i * 4) / kSweeps), false);
        for (int i = 0; i < 8; ++i)
            box(onCircle(4.0f + static_cast<f32>(i % 4) * 2.5f, static_cast<f32>(i * 4 + 2) / kSweeps), true);
        for (int i = 0; i < 16; ++i)
            box(onCircle(11.0f + static_cast<f32>(i % 2) * 9.0f, (static_cast<f32>(i) + 0.5f) / 16.0f), false);
        scene.world().attachSystems(nullptr);
        scene.start();
        scene.tick();
        for (int i = 0; i < kSweeps; ++i) {
            const Vector3 origin = onCircle(kRing, static_cast<f32>(i) / kSweeps);
            // Every fourth launcher looks along the ring instead of at the player.
            const Vector3 toward = i % 4 == 3 ? Vector3 { -origin.y, origin.x, 0.0f } : origin * -1.0f;
            sweeps.push_back({ origin, toward.normalized(), kSightLength });
        }
    }

    void box(const Vector3& position, bool trigger)
    {
        const EntityHandle e = scene.add(trigger ? "zone" : "crate", { "Transform", "Collider", "BoxShape" });
        scene.get<Transform>(e).position = position;
        scene.get<BoxShape>(e).size = { 1.5f, 1.5f, 1.5f };
        scene.get<Collider>(e).trigger = trigger ? 1 : 0;
    }

    testing::Scenario scene;
    AppContext context;
    CollisionSystem* collision = nullptr;
    EntityHandle player;
    std::vector<Sweep> sweeps;
};

SightLevel& level()
{
    static SightLevel* instance = new SightLevel;
    return *instance;
}

// The peer's collector: every body the sphere meets, in Bullet's order. The
// closest fraction stays at 1, or Bullet would drop hits behind the nearest.
class SweepHits final : public btCollisionWorld::ConvexResultCallback {
public:
    struct Hit {
        const btCollisionObject* object;
        btVector3 point;
    };

    SweepHits()
    {
        m_collisionFilterGroup = kQueryGroup;
        m_collisionFilterMask = kQueryMaskAll;
    }
    btScalar addSingleResult(btCollisionWorld::LocalConvexResult& result, bool) override
    {
        hits.push_back({ result.m_hitCollisionObject, result.m_hitPointLocal });
        return m_closestHitFraction;
    }

    std::vector<Hit> hits;
};

btVector3 sweepStart(const Sweep& sweep) { return btVector3(sweep.origin.x, sweep.origin.y, sweep.origin.z); }

void sweepSphere(btCollisionWorld& bullet, const Sweep& sweep, SweepHits& callback)
{
    const btVector3 from = sweepStart(sweep);
    const btVector3 to = from + btVector3(sweep.direction.x, sweep.direction.y, sweep.direction.z) * sweep.length;
    btSphereShape sphere(kSightSweepRadius);
    bullet.convexSweepTest(&sphere, btTransform(btQuaternion::getIdentity(), from),
        btTransform(btQuaternion::getIdentity(), to), callback);
}

bool isTrigger(World& world, u32 handle)
{
    const Collider* collider = componentOf<Collider>(world, EntityHandle { handle });
    return collider && collider->trigger;
}

bool peerSeesTarget(btCollisionWorld& bullet, World& world, const Sweep& sweep, EntityHandle target)
{
    SweepHits callback;
    sweepSphere(bullet, sweep, callback);
    const btVector3 from = sweepStart(sweep);
    f32 nearest = std::numeric_limits<f32>::max();
    bool visible = false;
    for (const SweepHits::Hit& hit : callback.hits) {
        const u32 handle = static_cast<u32>(hit.object->getUserIndex());
        if (!isValidHitHandle(handle))
            continue;
        const f32 distance = (hit.point - from).length2();
        if (EntityHandle { handle } == target) {
            if (distance > nearest)
                return false;
            visible = true;
            nearest = distance;
            continue;
        }
        if (isTrigger(world, handle) || distance > nearest)
            continue;
        if (visible)
            return false;
        nearest = distance;
    }
    return visible;
}

// Whether the sweep meets a trigger before it meets the target.
bool passesTrigger(SightLevel& s, const Sweep& sweep)
{
    SweepHits callback;
    sweepSphere(*s.collision->dynamicsWorld(), sweep, callback);
    f32 target = std::numeric_limits<f32>::max();
    for (const SweepHits::Hit& hit : callback.hits)
        if (hit.object->getUserIndex() == static_cast<int>(s.player.value))
            target = (hit.point - sweepStart(sweep)).length2();
    for (const SweepHits::Hit& hit : callback.hits)
        if (isTrigger(s.scene.world(), static_cast<u32>(hit.object->getUserIndex()))
            && (hit.point - sweepStart(sweep)).length2() < target)
            return true;
    return false;
}

// Every sweep answered alike, and the table holds seen, hidden and
// seen-through-a-trigger lines.
void checkSameAnswers(SightLevel& s)
{
    int seen = 0;
    int throughTriggers = 0;
    for (u64 i = 0; i < s.sweeps.size(); ++i) {
        const Sweep& sweep = s.sweeps[i];
        const bool system
            = isTargetVisible(sweep.origin, s.player, sweep.direction, sweep.length, s.scene.world(), *s.collision);
        const bool peer = peerSeesTarget(*s.collision->dynamicsWorld(), s.scene.world(), sweep, s.player);
        if (system != peer) {
            std::fprintf(stderr, "Sweep %llu: isTargetVisible says %d, the peer %d\n",
                static_cast<unsigned long long>(i), system, peer);
            std::exit(1);
        }
        seen += system ? 1 : 0;
        throughTriggers += system && passesTrigger(s, sweep) ? 1 : 0;
    }
    if (seen == 0 || seen == static_cast<int>(s.sweeps.size()) || throughTriggers == 0) {
        std::fprintf(stderr, "%d of the %zu sweeps see the player, %d through a trigger; the table tests too little\n",
            seen, s.sweeps.size(), throughTriggers);
        std::exit(1);
    }
    std::printf(
        "%d of the %zu sweeps see the player, %d of them through a trigger\n", seen, s.sweeps.size(), throughTriggers);
}

void BM_IsTargetVisible(benchmark::State& state)
{
    SightLevel& s = level();
    u64 seen = 0;
    for (auto _ : state)
        for (const Sweep& sweep : s.sweeps)
            seen
                += isTargetVisible(sweep.origin, s.player, sweep.direction, sweep.length, s.scene.world(), *s.collision)
                ? 1
                : 0;
    benchmark::DoNotOptimize(seen);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSweeps));
}
BENCHMARK(BM_IsTargetVisible)->Unit(benchmark::kMicrosecond);

void BM_BulletConvexSweepAllHits(benchmark::State& state)
{
    SightLevel& s = level();
    btCollisionWorld& bullet = *s.collision->dynamicsWorld();
    u64 seen = 0;
    for (auto _ : state)
        for (const Sweep& sweep : s.sweeps)
            seen += peerSeesTarget(bullet, s.scene.world(), sweep, s.player) ? 1 : 0;
    benchmark::DoNotOptimize(seen);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSweeps));
}
BENCHMARK(BM_BulletConvexSweepAllHits)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    installBulletAllocation();
    Settings::resetToDefaults();
    checkSameAnswers(level());
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_IsTargetVisible") && t.count("BM_BulletConvexSweepAllHits"))
        std::printf("isTargetVisible / Bullet convexSweepTest with all hits (48 sweeps): %.2fx the time\n",
            t["BM_IsTargetVisible"] / t["BM_BulletConvexSweepAllHits"]);
    benchmark::Shutdown();
    return 0;
}
