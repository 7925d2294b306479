// The quick save of a level world of 10,000 entities against memcpy of the
// same bytes in the same run: createQuickSave (the world's snapshot and the
// systems' copies) and restoreQuickSave (the world put back, with a few
// transforms moved since the save), each against one memcpy of the component
// store and the four per-slot arrays a snapshot holds. The world has the
// game's 110 component types, so its store is some 55 MB: the work is bound
// by memory, and on a busy machine it wants --benchmark_repetitions=10.

#include "support/RatioReporter.h"

#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/SaveGameSystem.h"

#include "quern/debug/Logger.h"
#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iostream>
#include <vector>

using namespace harmonize;
using quern::u64;
using quern::entity::World;

namespace {

constexpr u64 kEntities = 10'000;

// The share of each kind of entity in a level, by entity count.
struct Kind {
    u64 count;
    std::initializer_list<const char*> components;
};

const Kind kKinds[] = {
    { 5'000, { "Transform", "MeshReference", "Renderer" } }, // scenery
    { 2'000, { "Transform" } }, // groups and anchors
    { 1'500, { "Transform", "Collider", "BoxShape", "CollisionLayer", "Race" } }, // level geometry
    { 600, { "Transform", "Collectible", "Collider", "SphereShape", "Race" } },
    { 400, { "Transform", "Light" } },
    { 300, { "Transform", "Animation", "FrameAnimation", "MeshReference", "Renderer" } },
    { 150, { "Transform", "Platform", "SnapboxCluster", "Collider", "Race", "PlatformSensor" } },
    { 49, { "Transform", "SavePointTrigger", "Collider", "Race" } },
};

quern::entity::EntityHandle addEntity(World& world, std::initializer_list<const char*> components)
{
    const quern::entity::EntityHandle entity = world.createEntity();
    for (const char* name : components) {
        const quern::u32 type = static_cast<quern::u32>(findComponentType(name));
        world.getComponentMask(entity.index()).set(type);
        world.getEnabledMask(entity.index()).set(type);
    }
    return entity;
}

struct SavedLevel {
    World world;
    AppContext context;
    SaveGameSystem* system = new SaveGameSystem(context);
    std::vector<quern::u8> peer; // where memcpy copies to
    std::vector<quern::u8> peerSource;

    SavedLevel()
    {
        world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, kEntities, nullptr);
        std::memset(world.store, 0, world.storeSize);
        world.addSystem(system);
        for (const Kind& kind : kKinds)
            for (u64 i = 0; i < kind.count; ++i)
                addEntity(world, kind.components);
        addEntity(world, { "Transform", "Collider", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        world.start();
        system->createQuickSave(world);
        peer.resize(bytes());
        peerSource.resize(bytes() - world.storeSize);
    }

    // What a snapshot copies: the store, and per slot two masks, a state and
    // a generation.
    u64 bytes() const { return world.storeSize + world.getSlotCount() * (2 * 16 + 1 + 2); }
};

SavedLevel& savedLevel()
{
    static SavedLevel* instance = new SavedLevel;
    return *instance;
}

void BM_CreateQuickSave(benchmark::State& state)
{
    SavedLevel& level = savedLevel();
    for (auto _ : state) {
        level.system->createQuickSave(level.world);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * level.bytes()));
}
BENCHMARK(BM_CreateQuickSave)->Unit(benchmark::kMillisecond);

void BM_RestoreQuickSave(benchmark::State& state)
{
    SavedLevel& level = savedLevel();
    for (auto _ : state) {
        // The player and a few things moved since the save.
        for (quern::u16 i = 0; i < 16; ++i)
            transformAt(level.world, kEntities - 1 - i * 97u).position.x += 1.0f;
        level.system->restoreQuickSave(level.world);
        benchmark::DoNotOptimize(level.world.store);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * level.bytes()));
}
BENCHMARK(BM_RestoreQuickSave)->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State& state)
{
    SavedLevel& level = savedLevel();
    for (auto _ : state) {
        std::memcpy(level.peer.data(), level.world.store, level.world.storeSize);
        std::memcpy(level.peer.data() + level.world.storeSize, level.peerSource.data(), level.peerSource.size());
        benchmark::DoNotOptimize(level.peer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * level.bytes()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    // Every save and restore logs a line; the table would drown in them.
    quern::debug::getLogger()->buffer().removeSink(std::cout.rdbuf(), 3);
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_Memcpy")) {
        for (const char* name : { "BM_CreateQuickSave", "BM_RestoreQuickSave" })
            if (t.count(name))
                std::printf("%s / memcpy of the same bytes (10,000 entities): %.2fx the speed\n", name + 3,
                    t["BM_Memcpy"] / t[name]);
    }
    benchmark::Shutdown();
    return 0;
}
