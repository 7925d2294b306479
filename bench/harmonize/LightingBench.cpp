// The per-visual light assignment against a plain peer in the same run:
// updateVisualLights for 10,000 visuals lit by 12 point lights and one
// directional light, against the same checks and material writes with the six
// nearest lights picked by std::partial_sort. Both pick the same lights in the
// same order (checked before the run), so the ratio is the cost of the
// selection the lighting system keeps. The work is bound by memory (every
// material's properties), so on a busy machine run it with
// --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true.

#include "support/RatioReporter.h"

#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/LightAssignment.h"
#include "harmonize/systems/LightingSystem.h"

#include "quern/entity/World.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace harmonize;
using quern::f32;
using quern::u32;
using quern::u64;
using quern::entity::World;
using quern::graphics::GenericMaterial;

namespace {

constexpr u64 kVisuals = 10'000;
constexpr u64 kPointLights = 12;
constexpr f32 kArea = 100.0f; // visuals and lights lie in a square of this side
constexpr f32 kLightRange = 30.0f;
constexpr f32 kVisualRadius = 1.0f;

// A fixed-seed sequence, so every run places the same scene.
struct Sequence {
    u64 state = 0x2545f4914f6cdd1dull;
    f32 next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<f32>(state >> 40) / static_cast<f32>(1ull << 24);
    }
};

struct Visual {
    EntityHandle entity;
    f32 centre[3];
    GenericMaterial* material;
};

struct LitScene {
    World world;
    AppContext context;
    LightingSystem* lighting = new LightingSystem(context);
    std::vector<Visual> visuals;

    LitScene()
    {
        world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, kVisuals + kPointLights + 1, nullptr);
        world.addSystem(lighting);
        world.attachSystems(nullptr);
        Sequence random;
        addLight(Light::kDirectional, {}, 0.0f);
        for (u64 i = 0; i < kPointLights; ++i)
            addLight(Light::kPoint, { random.next() * kArea, random.next() * kArea, 0.0f }, kLightRange);
        for (u64 i = 0; i < kVisuals; ++i) {
            const quern::math::Vector3 centre { random.next() * kArea, random.next() * kArea, random.next() };
            Visual visual { addEntity(centre), { centre.x, centre.y, centre.z }, new GenericMaterial };
            quern::RefCounted::retain(visual.material);
            // The asset's own properties come first, as in a cloned material.
            visual.material->addProperty("_MainTex", quern::graphics::MaterialPropertyType::Texture);
            visual.material->addProperty("_Color", quern::graphics::MaterialPropertyType::Vector);
            lighting->setUpMaterial(*visual.material);
            visuals.push_back(visual);
        }
        world.start();
        lighting->update(nullptr, world);
    }

    EntityHandle addEntity(const quern::math::Vector3& position)
    {
        const EntityHandle entity = world.createEntity();
        world.getComponentMask(entity.index()).set(Transform::kType);
        world.getEnabledMask(entity.index()).set(Transform::kType);
        static_cast<Transform*>(world.getComponent(entity.index(), Transform::kType))->position = position;
        return entity;
    }

    void addLight(u32 kind, const quern::math::Vector3& position, f32 range)
    {
        const EntityHandle entity = addEntity(position);
        world.getComponentMask(entity.index()).set(Light::kType);
        world.getEnabledMask(entity.index()).set(Light::kType);
        *static_cast<Light*>(world.getComponent(entity.index(), Light::kType))
            = Light { { 1.0f, 0.9f, 0.8f }, 1.0f, range, {}, 0, kind };
    }
};

LitScene& litScene()
{
    static LitScene* instance = new LitScene;
    return *instance;
}

// The peer's selection: every candidate's distance, then the nearest six by
// std::partial_sort (fewer candidates keep their arrival order).
u32 partialSortPick(const PointLightRecord* lights, u64 count, const f32 centre[3], f32 radius, u32 picked[6])
{
    struct Candidate {
        f32 d;
        u32 light;
    };
    Candidate candidates[kPointLights];
    u32 found = 0;
    for (u64 i = 0; i < count; ++i) {
        const f32 dx = centre[0] - lights[i].position[0];
        const f32 dy = centre[1] - lights[i].position[1];
        const f32 dz = centre[2] - lights[i].position[2];
        const f32 d = dx * dx + dy * dy + dz * dz - radius * radius;
        if (count <= kPointLightSlots || d <= 2.0f * lights[i].range * lights[i].range)
            candidates[found++] = { d, static_cast<u32>(i) };
    }
    if (found > kPointLightSlots && count > kPointLightSlots)
        std::partial_sort(candidates, candidates + kPointLightSlots, candidates + found,
            [](const Candidate& a, const Candidate& b) { return a.d < b.d; });
    const u32 kept = std::min<u32>(found, kPointLightSlots);
    for (u32 i = 0; i < kept; ++i)
        picked[i] = candidates[i].light;
    return kept;
}

void assignWithPartialSort(LitScene& s, const Visual& visual)
{
    if (!isAliveEntity(s.world, visual.entity) || !s.world.getEnabledMask(visual.entity.index()).test(Transform::kType)
        || visual.material->propertyCount() <= 7)
        return;
    const PointLightRecord* lights = &s.lighting->pointLight(0);
    u32 picked[kPointLightSlots];
    const u32 count = partialSortPick(lights, s.lighting->pointLightCount(), visual.centre, kVisualRadius, picked);
    writeLightValues(
        *visual.material, &s.lighting->directionalLight(0), s.lighting->directionalCount(), lights, picked, count);
}

// Both ways must light every visual with the same lights in the same slots.
void checkSamePicks(LitScene& s)
{
    const PointLightRecord* lights = &s.lighting->pointLight(0);
    for (const Visual& visual : s.visuals) {
        u32 ours[kPointLightSlots], peer[kPointLightSlots];
        const u32 count = pickPointLights(lights, kPointLights, visual.centre, kVisualRadius, ours);
        if (partialSortPick(lights, kPointLights, visual.centre, kVisualRadius, peer) != count
            || !std::equal(ours, ours + count, peer)) {
            std::fprintf(stderr, "The two selections differ for entity %u\n", visual.entity.index());
            std::exit(1);
        }
    }
}

void BM_UpdateVisualLights(benchmark::State& state)
{
    LitScene& s = litScene();
    for (auto _ : state) {
        for (const Visual& visual : s.visuals)
            s.lighting->updateVisualLights(*visual.material, visual.entity, visual.centre, kVisualRadius, s.world);
        benchmark::DoNotOptimize(s.visuals.back().material->property(8).value[0]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kVisuals));
}
BENCHMARK(BM_UpdateVisualLights)->Unit(benchmark::kMicrosecond);

void BM_PartialSortAssignment(benchmark::State& state)
{
    LitScene& s = litScene();
    for (auto _ : state) {
        for (const Visual& visual : s.visuals)
            assignWithPartialSort(s, visual);
        benchmark::DoNotOptimize(s.visuals.back().material->property(8).value[0]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kVisuals));
}
BENCHMARK(BM_PartialSortAssignment)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    checkSamePicks(litScene());
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_UpdateVisualLights") && t.count("BM_PartialSortAssignment"))
        std::printf("updateVisualLights / partial_sort assignment (10,000 visuals, 12 point lights): %.2fx the time\n",
            t["BM_UpdateVisualLights"] / t["BM_PartialSortAssignment"]);
    benchmark::Shutdown();
    return 0;
}
