// The platform system's fixed tick against a plain peer in the same run:
// 2,000 race platforms and one player, each platform tested for range, race
// and flag and marked pending or released, against the same tests and marks
// written over plain arrays of positions, ranges, races and flags. Every
// platform is mid-sequence, so neither side starts coroutines and both do
// exactly the same marks (checked before the run); the ratio is the cost of
// finding the platforms in the world's component store.

#include "support/RatioReporter.h"

#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/PlatformSystem.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace harmonize;
using quern::f32;
using quern::i32;
using quern::u64;
using quern::u8;
using quern::entity::World;
using quern::math::Vector3;

namespace {

constexpr u64 kPlatforms = 2'000;
constexpr f32 kArea = 200.0f; // platforms lie in a square of this side around the player
constexpr f32 kRange = 12.0f;

// A fixed-seed sequence, so every run places the same level.
struct Sequence {
    u64 state = 0x2545f4914f6cdd1dull;
    f32 next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<f32>(state >> 40) / static_cast<f32>(1ull << 24);
    }
};

// The peer's level: one array per value.
struct PlainPlatforms {
    std::vector<f32> x, y, z, range;
    std::vector<i32> race;
    std::vector<u8> hideWhenAway, pending, release;
};

struct PlatformLevel {
    World world;
    AppContext context;
    PlatformSystem* platforms = new PlatformSystem(context);
    PlainPlatforms plain;
    std::vector<EntityHandle> handles;
    Vector3 playerAt { kArea * 0.5f, kArea * 0.5f, 0.0f };
    i32 playerRace = 0;

    PlatformLevel()
    {
        world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, kPlatforms + 1, nullptr);
        world.addSystem(platforms);
        world.attachSystems(nullptr);
        const EntityHandle player = addEntity({ 5, 18, 23, 28, 41, 90 });
        component<Transform>(player).position = playerAt;
        component<Race>(player).value = playerRace;
        Sequence random;
        for (u64 i = 0; i < kPlatforms; ++i) {
            const Vector3 at { random.next() * kArea, random.next() * kArea, random.next() };
            const i32 race = static_cast<i32>(random.next() * 3.0f);
            const u8 flag = random.next() < 0.25f ? 1 : 0;
            const EntityHandle p = addEntity({ 5, 23, 53, 90, 93, 101 });
            component<Transform>(p).position = at;
            component<Race>(p).value = race;
            component<PlatformSensor>(p).range = kRange;
            component<PlatformSensor>(p).hideWhenAway = flag;
            component<Platform>(p).running = 1;
            handles.push_back(p);
            plain.x.push_back(at.x);
            plain.y.push_back(at.y);
            plain.z.push_back(at.z);
            plain.range.push_back(kRange);
            plain.race.push_back(race);
            plain.hideWhenAway.push_back(flag);
        }
        plain.pending.assign(kPlatforms, 0);
        plain.release.assign(kPlatforms, 0);
        world.start();
    }

    template <class Record> Record& component(EntityHandle e)
    {
        return *static_cast<Record*>(world.getComponent(e.index(), Record::kType));
    }

    EntityHandle addEntity(std::initializer_list<quern::u32> types)
    {
        const EntityHandle e = world.createEntity();
        for (const quern::u32 type : types) {
            world.getComponentMask(e.index()).set(type);
            world.getEnabledMask(e.index()).set(type);
        }
        component<Transform>(e) = Transform {};
        return e;
    }
};

PlatformLevel& level()
{
    static PlatformLevel* instance = new PlatformLevel;
    return *instance;
}

void plainTick(PlainPlatforms& p, const Vector3& player, i32 playerRace)
{
    for (u64 i = 0; i < kPlatforms; ++i) {
        const f32 dx = p.x[i] - player.x;
        const f32 dy = p.y[i] - player.y;
        const f32 dz = p.z[i] - player.z;
        const bool triggered = std::sqrt(dx * dx + dy * dy + dz * dz) < p.range[i]
            ? racesOppose(p.race[i], playerRace)
            : p.hideWhenAway[i] != 0;
        if (triggered) {
            p.pending[i] = 1;
        } else {
            p.release[i] = 1;
            p.pending[i] = 0;
        }
    }
}

// Both ticks must leave every platform with the same marks.
void checkSameMarks(PlatformLevel& s)
{
    s.platforms->fixedTick(nullptr, s.world);
    plainTick(s.plain, s.playerAt, s.playerRace);
    u64 pending = 0;
    for (u64 i = 0; i < kPlatforms; ++i) {
        const Platform& record = s.component<Platform>(s.handles[i]);
        if (record.pending != s.plain.pending[i] || record.release != s.plain.release[i]) {
            std::fprintf(stderr, "The two ticks mark platform %llu differently\n", static_cast<unsigned long long>(i));
            std::exit(1);
        }
        pending += record.pending;
    }
    if (pending == 0 || pending == kPlatforms) {
        std::fprintf(stderr, "The level tests nothing: %llu of the platforms hide\n",
            static_cast<unsigned long long>(pending));
        std::exit(1);
    }
}

void BM_PlatformSystemTick(benchmark::State& state)
{
    PlatformLevel& s = level();
    for (auto _ : state) {
        s.platforms->fixedTick(nullptr, s.world);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPlatforms));
}
BENCHMARK(BM_PlatformSystemTick)->Unit(benchmark::kMicrosecond);

void BM_PlainArraysTick(benchmark::State& state)
{
    PlatformLevel& s = level();
    for (auto _ : state) {
        plainTick(s.plain, s.playerAt, s.playerRace);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPlatforms));
}
BENCHMARK(BM_PlainArraysTick)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    checkSameMarks(level());
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_PlatformSystemTick") && t.count("BM_PlainArraysTick"))
        std::printf("platform system tick / plain arrays (2,000 platforms, one player): %.2fx the time\n",
            t["BM_PlatformSystemTick"] / t["BM_PlainArraysTick"]);
    benchmark::Shutdown();
    return 0;
}
