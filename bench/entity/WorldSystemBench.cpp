// A system over 100,000 active entities per fixed tick: it reads velocity and
// acceleration and writes position (three f32 vectors per entity). A slot
// index is 16 bits, so the entities live in two worlds of 50,000, each ticked
// once with the system; the world holds eight component types. Three ways:
//   - the system walks active runs and typed arrays (WorldIteration.h);
//   - the system tests and addresses every slot through the World;
//   - the peer: a plain loop over the same data in three contiguous arrays.
// Also: creating and destroying 50,000 entities (ns per entity). Prints the
// time ratios to the plain loop after the table.

#include "quern/entity/World.h"
#include "quern/entity/WorldIteration.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include "support/RatioReporter.h"
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace quern;

constexpr u64 kWorlds = 2;
constexpr u64 kEntitiesPerWorld = 50'000;
constexpr u64 kEntities = kWorlds * kEntitiesPerWorld;
constexpr f32 kStep = 1.0f / 60.0f;

struct Vec3 {
    f32 x, y, z;
};

enum Type : u32 { kName, kPosition, kVelocity, kAcceleration, kHealth, kTeam, kSprite, kSound, kTypeCount };
const u16 kSizes[kTypeCount] = { 8, sizeof(Vec3), sizeof(Vec3), sizeof(Vec3), 4, 4, 16, 12 };

entity::ComponentMask ComponentMaskFor(std::initializer_list<u32> types)
{
    entity::ComponentMask mask;
    for (u32 t : types)
        mask.set(t);
    return mask;
}

const entity::ComponentMask kMoving = ComponentMaskFor({ kPosition, kVelocity, kAcceleration });

void move(Vec3& p, const Vec3& v, const Vec3& a)
{
    p.x += (v.x + a.x * kStep) * kStep;
    p.y += (v.y + a.y * kStep) * kStep;
    p.z += (v.z + a.z * kStep) * kStep;
}

class RunSystem final : public entity::System {
public:
    void fixedTick(entity::UpdateContext* context, entity::World&) override
    {
        Vec3* position = entity::componentArray<Vec3>(*context, kPosition);
        const Vec3* velocity = entity::componentArray<Vec3>(*context, kVelocity);
        const Vec3* acceleration = entity::componentArray<Vec3>(*context, kAcceleration);
        entity::forEachActive(
            *context, kMoving, [](Vec3& p, const Vec3& v, const Vec3& a) { move(p, v, a); }, position, velocity,
            acceleration);
    }
};

class SlotSystem final : public entity::System {
public:
    void fixedTick(entity::UpdateContext* context, entity::World& world) override
    {
        for (u64 s = 0; s < context->slotCount; ++s) {
            if (context->states[s] != entity::EntityState::Active || !context->enabledMasks[s].containsAll(kMoving))
                continue;
            move(*static_cast<Vec3*>(world.getComponent(s, kPosition)),
                *static_cast<const Vec3*>(world.getComponent(s, kVelocity)),
                *static_cast<const Vec3*>(world.getComponent(s, kAcceleration)));
        }
    }
};

std::vector<f32> randomFloats(u64 count, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<f32> value(-10.0f, 10.0f);
    std::vector<f32> values(count);
    for (f32& v : values)
        v = value(random);
    return values;
}

// Two worlds of 50,000 active entities, each holding the three components
// and one other.
template <typename SystemType> struct Worlds {
    Worlds()
    {
        const std::vector<f32> values = randomFloats(kEntities * 9, 5);
        for (u64 w = 0; w < kWorlds; ++w) {
            auto& world = worlds[w];
            world = std::make_unique<entity::World>();
            world->allocateComponentStore(kSizes, kTypeCount, kEntitiesPerWorld, nullptr);
            world->addSystem(new SystemType);
            std::vector<entity::EntityHandle> handles;
            for (u64 e = 0; e < kEntitiesPerWorld; ++e) {
                const entity::EntityHandle h = world->createEntity();
                entity::ComponentMask& mask = world->getComponentMask(h.index());
                mask = ComponentMaskFor({ kName, kPosition, kVelocity, kAcceleration, kHealth });
                const f32* v = values.data() + (w * kEntitiesPerWorld + e) * 9;
                *static_cast<Vec3*>(world->getComponent(h.index(), kPosition)) = { v[0], v[1], v[2] };
                *static_cast<Vec3*>(world->getComponent(h.index(), kVelocity)) = { v[3], v[4], v[5] };
                *static_cast<Vec3*>(world->getComponent(h.index(), kAcceleration)) = { v[6], v[7], v[8] };
                handles.push_back(h);
            }
            world->activateEntities(handles.data(), handles.size());
        }
    }
    std::unique_ptr<entity::World> worlds[kWorlds];
};

template <typename SystemType> void BM_SystemTick(benchmark::State& state)
{
    static Worlds<SystemType>* made = new Worlds<SystemType>;
    for (auto _ : state) {
        for (auto& world : made->worlds) {
            // A new frame for the system, as update() starts one: otherwise the
            // time the benchmark adds up would trip its per-frame time limit.
            entity::SystemInfo& info = world->getSystemInfo(0);
            info.frameTime = 0;
            info.frameTicks = 0;
            info.limitReached = false;
            world->fixedTick(1);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntities));
}
BENCHMARK_TEMPLATE(BM_SystemTick, RunSystem)->Name("BM_SystemActiveRuns")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_SystemTick, SlotSystem)->Name("BM_SystemPerSlot")->Unit(benchmark::kMicrosecond);

// The peer: the same entities' data in three contiguous arrays, no tests.
void BM_PlainArrays(benchmark::State& state)
{
    const std::vector<f32> values = randomFloats(kEntities * 9, 5);
    std::vector<Vec3> position(kEntities), velocity(kEntities), acceleration(kEntities);
    for (u64 e = 0; e < kEntities; ++e) {
        const f32* v = values.data() + e * 9;
        position[e] = { v[0], v[1], v[2] };
        velocity[e] = { v[3], v[4], v[5] };
        acceleration[e] = { v[6], v[7], v[8] };
    }
    // The count as a loop over live entities knows it: at run time. With a
    // constant count the compiler may vectorise a loop no system could get.
    u64 count = kEntities;
    benchmark::DoNotOptimize(count);
    for (auto _ : state) {
        for (u64 e = 0; e < count; ++e)
            move(position[e], velocity[e], acceleration[e]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntities));
}
BENCHMARK(BM_PlainArrays)->Unit(benchmark::kMicrosecond);

// Creates a world's worth of entities into an empty world, then destroys them all.
void BM_CreateDestroy(benchmark::State& state)
{
    entity::World world;
    world.allocateComponentStore(kSizes, kTypeCount, kEntitiesPerWorld, nullptr);
    std::vector<entity::EntityHandle> handles(kEntitiesPerWorld);
    for (auto _ : state) {
        for (u64 e = 0; e < kEntitiesPerWorld; ++e)
            handles[e] = world.createEntity();
        world.destroyEntities(handles.data(), handles.size());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntitiesPerWorld));
}
BENCHMARK(BM_CreateDestroy)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    memory::initDefaultAllocators(memory::AllocatorConfig {});
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    for (const char* system : { "BM_SystemActiveRuns", "BM_SystemPerSlot" })
        if (t.count(system) && t.count("BM_PlainArrays"))
            std::printf(
                "%s time / plain-array loop time (100,000 entities): %.2fx\n", system, t[system] / t["BM_PlainArrays"]);
    if (t.count("BM_CreateDestroy"))
        std::printf("Create and destroy: %.1f ns per entity\n", t["BM_CreateDestroy"] * 1e6 / kEntitiesPerWorld);
    memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
