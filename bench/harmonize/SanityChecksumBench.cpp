// The sanity checksums at world start over 10,000 dormant entities (prefab
// templates in small trees, with the component mixes of a level) against one
// crc32 over a buffer that holds the same component bytes, in the same run.

#include "support/RatioReporter.h"

#include "harmonize/components/Components.h"
#include "harmonize/systems/SanityChecksumSystem.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/Hashes.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <initializer_list>
#include <vector>

using namespace harmonize;
using quern::u64;
using quern::u8;
using quern::entity::World;

namespace {

constexpr u64 kEntities = 10'000;

// The templates' kinds and their share of the entities.
struct Kind {
    u64 count;
    std::initializer_list<const char*> components;
};

const Kind kKinds[] = {
    { 4'000, { "Transform", "MeshReference", "Renderer" } }, // pieces of the templates' models
    { 2'000, { "Transform" } }, // groups and anchors
    { 1'500, { "Transform", "Collider", "BoxShape", "CollisionLayer", "Race" } },
    { 1'000, { "Transform", "ParticleSpawner", "ParticleAppearance", "Renderer" } }, // effects
    { 800, { "Transform", "Collectible", "Collider", "SphereShape", "Race" } },
    { 400, { "Transform", "Light" } },
    { 300, { "Transform", "Animation", "FrameAnimation", "MeshReference", "Renderer" } },
};

struct TemplateLevel {
    World world;
    SanityChecksumSystem system;
    std::vector<u8> peerBytes; // every template's component bytes, end to end

    TemplateLevel()
    {
        world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, kEntities, nullptr);
        u64 seed = 1;
        for (u64 i = 0; i < world.storeSize; ++i)
            world.store[i] = static_cast<u8>((seed = seed * 6364136223846793005ull + 1442695040888963407ull) >> 56);
        u64 made = 0;
        for (const Kind& kind : kKinds)
            for (u64 i = 0; i < kind.count; ++i)
                addTemplate(kind.components, made++);
        for (u64 slot = 0; slot < world.getSlotCount(); ++slot)
            for (u32 type = 0; type < kComponentTypeCount; ++type)
                if (world.getComponentMask(slot).test(type)) {
                    const auto* bytes = static_cast<const u8*>(world.getComponent(slot, type));
                    peerBytes.insert(peerBytes.end(), bytes, bytes + ComponentSizeTable[type]);
                }
    }

    // Trees of eight: every eighth template is a root, the others hang below
    // the one before them, so the chains run up to eight deep.
    void addTemplate(std::initializer_list<const char*> components, u64 n)
    {
        const EntityHandle e = world.createEntity();
        for (const char* name : components)
            world.getComponentMask(e.index()).set(static_cast<quern::u32>(findComponentType(name)));
        world.getComponentMask(e.index()).set(Transform::kType);
        Transform& t = transformAt(world, e.index());
        t.parent = n % 8 == 0 ? EntityHandle {} : EntityHandle::make(static_cast<quern::u16>(e.index() - 1), world.getGeneration(e.index() - 1u));
    }
};

TemplateLevel& level()
{
    static TemplateLevel* instance = new TemplateLevel;
    return *instance;
}

void BM_SanityChecksums(benchmark::State& state)
{
    TemplateLevel& l = level();
    for (auto _ : state) {
        l.system.worldStarted(l.world, nullptr);
        benchmark::DoNotOptimize(l.system.checksums().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * l.peerBytes.size()));
}
BENCHMARK(BM_SanityChecksums)->Unit(benchmark::kMicrosecond);

void BM_Crc32OfTheSameBytes(benchmark::State& state)
{
    TemplateLevel& l = level();
    for (auto _ : state)
        benchmark::DoNotOptimize(quern::strings::crc32(l.peerBytes.data(), l.peerBytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * l.peerBytes.size()));
}
BENCHMARK(BM_Crc32OfTheSameBytes)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_SanityChecksums") && t.count("BM_Crc32OfTheSameBytes"))
        std::printf("Sanity checksums / crc32 of the same bytes (10,000 templates): %.2fx the time\n",
            t["BM_SanityChecksums"] / t["BM_Crc32OfTheSameBytes"]);
    benchmark::Shutdown();
    return 0;
}
