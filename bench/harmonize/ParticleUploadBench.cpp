// The per-frame upload of one emitter of 10,000 live particles: the game's
// particle system maps the back vertex buffer of the null graphics device,
// writes a camera-facing quad per particle, sets the draw range and swaps
// the buffers; against memcpy of the same vertex bytes into a buffer of the
// same size, in the same run. The world update that fills the frame list
// (and simulates the particles) is kept out of the timing.

#include "support/RatioReporter.h"

#include "harmonize/Settings.h"
#include "harmonize/components/ComponentTypes.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/LightingSystem.h"
#include "harmonize/systems/ParticleSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/tasks/LoadingWorker.h"

#include "quern/entity/World.h"
#include "quern/graphics/BatchVertex.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace harmonize;
using quern::f32;
using quern::u32;
using quern::u64;
using quern::graphics::BatchVertex;

constexpr u64 kParticles = 10'000;
constexpr u64 kStep = 20'000; // microseconds

// One burst emitter of kParticles long-lived, slowly spinning particles in
// front of the default camera, drawn by the render system.
struct UploadWorld {
    LoadingWorker worker { nullptr, nullptr };
    AppContext context;
    quern::entity::World world;
    TransformHierarchySystem* hierarchy = new TransformHierarchySystem;
    RenderSystem* render = nullptr;
    ParticleSystem* particles = nullptr;
    EntityHandle emitter;
    u64 time = 0;

    UploadWorld()
    {
        Settings::Threading.enabled = false;
        Settings::Renderer.renderParticles = true;
        Settings::Renderer.maxParticleSize = 50.0f;
        context.services.loadingWorker = &worker;
        context.transformHierarchy = hierarchy;
        context.lighting = new LightingSystem(context);
        render = new RenderSystem(context, *context.lighting, *hierarchy);
        context.render = render;
        particles = new ParticleSystem(context);
        context.particles = particles;
        world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, 4, nullptr);
        world.clock.step = kStep;
        world.addSystem(hierarchy);
        world.addSystem(context.lighting);
        world.addSystem(render);
        world.addSystem(particles);

        emitter = world.createEntity();
        for (u32 type : { u32 { Transform::kType }, u32 { Renderer::kType }, u32 { ParticleSpawner::kType },
                 u32 { ParticleAppearance::kType }, u32 { ParticleSettings::kType } }) {
            world.getComponentMask(emitter.index()).set(type);
            world.getEnabledMask(emitter.index()).set(type);
            std::memset(world.getComponent(emitter.index(), type), 0, ComponentSizeTable[type]);
        }
        *component<Transform>() = Transform { { 0, 0, -10 }, {}, { 1, 1, 1 }, {} };
        ParticleSpawner& spawner = *component<ParticleSpawner>();
        spawner.emissionRateLower = spawner.emissionRateUpper = static_cast<f32>(kParticles);
        spawner.lifetimeLower = spawner.lifetimeUpper = 1.0e6f;
        spawner.sizeLower = 0.2f;
        spawner.sizeUpper = 0.6f;
        spawner.spin = 30.0f;
        spawner.randomRotation = 1;
        spawner.velocitySpread = { 0.5f, 0.5f, 0.5f };
        spawner.emit = 1;
        spawner.burst = 1;
        ParticleSettings& settings = *component<ParticleSettings>();
        settings.colourKeyCount = 1;
        settings.colourKeys[0][0] = settings.colourKeys[0][1] = settings.colourKeys[0][2] = 1.0f;
        settings.colourKeys[0][3] = 0.5f;
        settings.velocityKept = 1.0f;

        world.attachSystems(nullptr);
        world.start();
        frame();
        if (particles->emitter(emitter.index()) == nullptr
            || particles->emitter(emitter.index())->pool.count != kParticles) {
            std::fprintf(stderr, "the emitter did not fill its pool of %llu\n",
                static_cast<unsigned long long>(kParticles));
            std::exit(1);
        }
    }

    template <class T> T* component() { return static_cast<T*>(world.getComponent(emitter.index(), T::kType)); }

    // One frame's update: the simulation and the frame list of visible emitters.
    void frame()
    {
        time += kStep;
        world.clock.deltaSeconds = static_cast<f32>(kStep) * 1e-6f;
        world.variableUpdate(time);
        hierarchy->updateWorldMatrices(world);
        if (particles->frameList().size() != 1) {
            std::fprintf(stderr, "the emitter is not in the frame's list\n");
            std::exit(1);
        }
    }
};

UploadWorld& uploadWorld()
{
    static UploadWorld* instance = new UploadWorld;
    return *instance;
}

void BM_ParticleUpload(benchmark::State& state)
{
    UploadWorld& u = uploadWorld();
    for (auto _ : state) {
        state.PauseTiming();
        u.frame();
        state.ResumeTiming();
        u.particles->uploadParticles(u.world);
        u.particles->releaseFrameResources();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kParticles));
}
BENCHMARK(BM_ParticleUpload)->Unit(benchmark::kMicrosecond);

// The peer: the same vertex bytes copied into a buffer of the same size, with
// the same pause around each copy so both sides pay the same timer cost.
void BM_MemcpyVertexBytes(benchmark::State& state)
{
    UploadWorld& u = uploadWorld();
    std::vector<BatchVertex> source(kParticles * 4);
    u.particles->emitter(u.emitter.index())->pool.buildQuads(source.data());
    std::vector<BatchVertex> target(kParticles * 4);
    for (auto _ : state) {
        state.PauseTiming();
        benchmark::ClobberMemory();
        state.ResumeTiming();
        std::memcpy(target.data(), source.data(), source.size() * sizeof(BatchVertex));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kParticles));
}
BENCHMARK(BM_MemcpyVertexBytes)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::graphics::Display::set(new quern::graphics::NullDisplay());
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_ParticleUpload") && t.count("BM_MemcpyVertexBytes"))
        std::printf("particle upload / memcpy of the vertex bytes (10,000 particles): %.2fx the time\n",
            t["BM_ParticleUpload"] / t["BM_MemcpyVertexBytes"]);
    benchmark::Shutdown();
    return 0;
}
