// The transform hierarchy against plain peers in the same run:
// - updateWorldMatrices over 10,000 entities in parent chains of depth 4,
//   against a hand-written walk of the same chains over plain float arrays;
// - cloneSubtree of a 20-entity prefab (200 clones), against
//   World::cloneEntities of the same handles.

#include "support/RatioReporter.h"

#include "harmonize/components/Components.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

using namespace harmonize;
using quern::f32;
using quern::i32;
using quern::u16;
using quern::u64;
using quern::entity::World;
using quern::math::Quaternion;

namespace {

constexpr u64 kChainEntities = 10'000;
constexpr u64 kChainDepth = 4;
constexpr u64 kPrefabEntities = 20;
constexpr u64 kClones = 200;

Transform& transformOf(World& world, EntityHandle e)
{
    return *static_cast<Transform*>(world.getComponent(e.index(), 23));
}

EntityHandle addTransform(World& world, EntityHandle parent, u64 seed)
{
    const EntityHandle e = world.createEntity();
    world.getComponentMask(e.index()).set(Transform::kType);
    world.getEnabledMask(e.index()).set(Transform::kType);
    Transform& t = transformOf(world, e);
    const f32 s = static_cast<f32>(seed % 97) * 0.01f;
    t = Transform { { s, 1.0f - s, 0.5f * s }, Quaternion::fromAxisAngle(s * 3.0f, { s, 1.0f, 0.3f }),
        { 1.0f + s, 1.0f, 1.0f - 0.5f * s }, parent };
    return e;
}

// The peer's data: the same transforms as plain arrays, parents by index.
struct PlainChains {
    std::vector<f32> position, rotation, scale, out;
    std::vector<i32> parent;
};

struct ChainWorld {
    World world;
    TransformHierarchySystem* hierarchy = new TransformHierarchySystem;
    PlainChains plain;

    ChainWorld()
    {
        world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, kChainEntities, nullptr);
        world.addSystem(hierarchy);
        for (u64 chain = 0; chain < kChainEntities / kChainDepth; ++chain) {
            EntityHandle parent {};
            for (u64 level = 0; level < kChainDepth; ++level)
                parent = addTransform(world, parent, chain * kChainDepth + level);
        }
        world.start();
        plain.out.resize(kChainEntities * 16);
        for (u64 i = 0; i < kChainEntities; ++i) {
            const Transform& t = *static_cast<Transform*>(world.getComponent(i, 23));
            plain.position.insert(plain.position.end(), { t.position.x, t.position.y, t.position.z });
            plain.rotation.insert(plain.rotation.end(), { t.rotation.x, t.rotation.y, t.rotation.z, t.rotation.w });
            plain.scale.insert(plain.scale.end(), { t.scale.x, t.scale.y, t.scale.z });
            plain.parent.push_back(t.parent.isNull() ? -1 : t.parent.index());
        }
    }
};

ChainWorld& chainWorld()
{
    static ChainWorld* instance = new ChainWorld;
    return *instance;
}

void BM_UpdateWorldMatrices(benchmark::State& state)
{
    ChainWorld& c = chainWorld();
    for (auto _ : state) {
        c.hierarchy->updateWorldMatrices(c.world);
        benchmark::DoNotOptimize(c.hierarchy->worldMatrix(kChainEntities - 1).m[12]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kChainEntities));
}
BENCHMARK(BM_UpdateWorldMatrices)->Unit(benchmark::kMicrosecond);

// T * S * R of entity i as an affine 3x4 block, columns first.
void plainLocal(const PlainChains& p, u64 i, f32 m[12])
{
    const f32 x = p.rotation[i * 4], y = p.rotation[i * 4 + 1], z = p.rotation[i * 4 + 2], w = p.rotation[i * 4 + 3];
    const f32 r[9] = { 1 - 2 * (y * y + z * z), 2 * (x * y + w * z), 2 * (x * z - w * y), 2 * (x * y - w * z),
        1 - 2 * (x * x + z * z), 2 * (y * z + w * x), 2 * (x * z + w * y), 2 * (y * z - w * x),
        1 - 2 * (x * x + y * y) };
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row)
            m[c * 3 + row] = p.scale[i * 3 + row] * r[c * 3 + row];
    m[9] = p.position[i * 3];
    m[10] = p.position[i * 3 + 1];
    m[11] = p.position[i * 3 + 2];
}

// out = a * b for affine 3x4 blocks.
void plainProduct(const f32 a[12], const f32 b[12], f32 out[12])
{
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 3; ++row)
            out[c * 3 + row] = a[row] * b[c * 3] + a[3 + row] * b[c * 3 + 1] + a[6 + row] * b[c * 3 + 2]
                + (c == 3 ? a[9 + row] : 0.0f);
}

void BM_HandWrittenChainWalk(benchmark::State& state)
{
    PlainChains& p = chainWorld().plain;
    for (auto _ : state) {
        for (u64 i = 0; i < kChainEntities; ++i) {
            f32 chain[12];
            plainLocal(p, i, chain);
            for (i32 up = p.parent[i]; up >= 0; up = p.parent[static_cast<u64>(up)]) {
                f32 parent[12], product[12];
                plainLocal(p, static_cast<u64>(up), parent);
                plainProduct(parent, chain, product);
                for (int k = 0; k < 12; ++k)
                    chain[k] = product[k];
            }
            f32* out = &p.out[i * 16];
            for (int c = 0; c < 4; ++c) {
                for (int row = 0; row < 3; ++row)
                    out[c * 4 + row] = chain[c * 3 + row];
                out[c * 4 + 3] = c == 3 ? 1.0f : 0.0f;
            }
        }
        benchmark::DoNotOptimize(p.out[(kChainEntities - 1) * 16 + 12]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kChainEntities));
}
BENCHMARK(BM_HandWrittenChainWalk)->Unit(benchmark::kMicrosecond);

// A prefab of 20 entities (a root, four arms of four and their tips) and room
// for 200 clones of it.
struct PrefabWorld {
    World world;
    std::vector<EntityHandle> prefab;

    PrefabWorld()
    {
        world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, kPrefabEntities * (kClones + 1), nullptr);
        world.addSystem(new TransformHierarchySystem);
        prefab.push_back(addTransform(world, {}, 0));
        while (prefab.size() < kPrefabEntities) {
            const EntityHandle parent = prefab[(prefab.size() - 1) / 4];
            prefab.push_back(addTransform(world, parent, prefab.size()));
            world.getComponentMask(prefab.back().index()).set(Race::kType);
        }
        world.start();
    }

    // Gives every clone's slot back, outside the timed part.
    void destroyClones()
    {
        std::vector<EntityHandle> clones;
        for (u64 i = kPrefabEntities; i < world.getSlotCount(); ++i)
            if (world.getState(i) != quern::entity::EntityState::Free)
                clones.push_back(EntityHandle::make(static_cast<u16>(i), world.getGeneration(i)));
        world.destroyEntities(clones.data(), clones.size());
    }
};

PrefabWorld& prefabWorld()
{
    static PrefabWorld* instance = new PrefabWorld;
    return *instance;
}

void BM_CloneSubtree(benchmark::State& state)
{
    PrefabWorld& p = prefabWorld();
    const Transform& root = transformOf(p.world, p.prefab[0]);
    for (auto _ : state) {
        for (u64 c = 0; c < kClones; ++c)
            benchmark::DoNotOptimize(Transform::cloneSubtree(root, p.world, EntityHandle {}));
        state.PauseTiming();
        p.destroyClones();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kClones * kPrefabEntities));
}
BENCHMARK(BM_CloneSubtree)->Unit(benchmark::kMicrosecond);

void BM_WorldCloneEntities(benchmark::State& state)
{
    PrefabWorld& p = prefabWorld();
    std::vector<EntityHandle> handles(kPrefabEntities);
    for (auto _ : state) {
        for (u64 c = 0; c < kClones; ++c) {
            handles = p.prefab;
            p.world.cloneEntities(handles.data(), handles.size());
            benchmark::DoNotOptimize(handles.data());
        }
        state.PauseTiming();
        p.destroyClones();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kClones * kPrefabEntities));
}
BENCHMARK(BM_WorldCloneEntities)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_UpdateWorldMatrices") && t.count("BM_HandWrittenChainWalk"))
        std::printf("updateWorldMatrices / hand-written chain walk (10,000 entities, depth 4): %.2fx the time\n",
            t["BM_UpdateWorldMatrices"] / t["BM_HandWrittenChainWalk"]);
    if (t.count("BM_CloneSubtree") && t.count("BM_WorldCloneEntities"))
        std::printf("cloneSubtree / World::cloneEntities (20-entity prefab, 200 clones): %.2fx the time\n",
            t["BM_CloneSubtree"] / t["BM_WorldCloneEntities"]);
    benchmark::Shutdown();
    return 0;
}
