// The render system's entity culler over 20,000 mesh entities (each node with
// its own clone of one preloaded mesh, as levels have them), threading off
// and on, against a hand-written loop that tests the same world spheres,
// packed into one array, against the same six planes.

#include "support/RatioReporter.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/EntityScenePass.h"
#include "harmonize/systems/LightingSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "harmonize/tasks/TaskDispatcher.h"

#include "quern/assets/ResourceCache.h"
#include "quern/entity/World.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/math/Frustum.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/render/RenderLists.h"
#include "quern/visuals/MeshVisual.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <vector>

namespace {

using namespace harmonize;
using quern::f32;
using quern::u16;
using quern::u32;
using quern::u64;
using quern::u8;
using quern::math::Frustum;
using quern::math::Vector3;

constexpr u64 kEntities = 20'000;
constexpr u64 kMeshId = 101;

// A cube of side 2 about the origin, in the loading worker's cache as the
// level's preload leaves meshes.
void preloadCube(LoadingWorker& worker)
{
    quern::assets::ResourceCache& cache = worker.cache();
    const u64 type = quern::assets::ResourceType::Mesh;
    const u32 handle = cache.allocateAndInsert(quern::assets::resourceKey(kMeshId, type), type,
        sizeof(quern::visuals::MeshVisual), alignof(quern::visuals::MeshVisual));
    u64 found = 0;
    auto* mesh = new (cache.entry(handle, found)) quern::visuals::MeshVisual();
    quern::RefCounted::retain(mesh);
    cache.release(handle);
    quern::graphics::VertexBuffer* vertices
        = mesh->getVertexBuffer(quern::graphics::BufferUsage::Static | quern::graphics::BufferUsage::Draw);
    vertices->setVertexFormat(quern::graphics::vertexFormatFromString("position"));
    const f32 corners[6] = { -1, -1, -1, 1, 1, 1 };
    vertices->resizeElements(2);
    std::memcpy(vertices->lockVertices(quern::containers::BufferBase::Lock::Write, 0, 2), corners, sizeof corners);
    vertices->unlockVertices();
    mesh->getFirstSubMesh();
}

struct CullWorld {
    LoadingWorker worker { nullptr, nullptr };
    TaskDispatcher dispatcher;
    AppContext context;
    quern::entity::World world;
    TransformHierarchySystem* hierarchy = new TransformHierarchySystem;
    RenderSystem* render = nullptr;
    // A perspective view down -z; about half the entities fall inside.
    Frustum frustum { quern::math::Matrix4::identity(),
        quern::math::Matrix4::perspective(1.0471976f, 16.0f / 9.0f, 1.0f, 200.0f, true) };
    std::vector<f32> spheres; // x, y, z, radius per entity
    quern::math::Plane planes[6];

    CullWorld()
    {
        dispatcher.start(Settings::Threading);
        context.services.loadingWorker = &worker;
        context.services.taskDispatcher = &dispatcher;
        context.transformHierarchy = hierarchy;
        context.lighting = new LightingSystem(context);
        render = new RenderSystem(context, *context.lighting, *hierarchy);
        context.render = render;
        world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, kEntities, nullptr);
        world.addSystem(hierarchy);
        world.addSystem(context.lighting);
        world.addSystem(render);
        preloadCube(worker);

        std::mt19937 random(7);
        std::uniform_real_distribution<f32> x(-170.0f, 170.0f), y(-95.0f, 95.0f), z(-198.0f, -2.0f);
        for (u64 i = 0; i < kEntities; ++i) {
            const EntityHandle e = world.createEntity();
            for (u32 type : { u32 { Transform::kType }, u32 { Renderable::kType }, u32 { MeshReference::kType } }) {
                world.getComponentMask(e.index()).set(type);
                world.getEnabledMask(e.index()).set(type);
            }
            auto& transform = *static_cast<Transform*>(world.getComponent(e.index(), Transform::kType));
            transform = Transform { { x(random), y(random), z(random) }, {}, { 1, 1, 1 }, {} };
            std::memset(world.getComponent(e.index(), Renderable::kType), 0, sizeof(Renderable));
            static_cast<MeshReference*>(world.getComponent(e.index(), MeshReference::kType))->mesh = kMeshId;
        }
        world.attachSystems(nullptr);
        world.start();
        world.variableUpdate(0);
        hierarchy->updateWorldMatrices(world);

        for (u64 i = 0; i < kEntities; ++i) {
            const BoundingSphere& s = hierarchy->worldBounds(i);
            spheres.insert(spheres.end(), { s.centre[0], s.centre[1], s.centre[2], s.radius });
        }
        for (int side = 0; side < 6; ++side)
            planes[side] = frustum.getPlane(static_cast<Frustum::Side>(side));
    }
};

CullWorld& cullWorld()
{
    static CullWorld* instance = new CullWorld;
    return *instance;
}

void cullEntities(benchmark::State& state, bool threading)
{
    CullWorld& c = cullWorld();
    Settings::Threading.enabled = threading;
    quern::render::RenderLists lists;
    EntityCuller& culler = *c.render->pass(0)->culler;
    for (auto _ : state) {
        culler.cull(c.frustum, lists);
        benchmark::DoNotOptimize(lists.visibleCount());
    }
    state.counters["visible"] = static_cast<double>(lists.visibleCount());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntities));
}

void BM_EntityCullerThreadingOff(benchmark::State& state) { cullEntities(state, false); }
BENCHMARK(BM_EntityCullerThreadingOff)->Unit(benchmark::kMicrosecond);

void BM_EntityCullerThreadingOn(benchmark::State& state) { cullEntities(state, true); }
BENCHMARK(BM_EntityCullerThreadingOn)->Unit(benchmark::kMicrosecond);

// The same spheres against the same planes: a visibility byte per sphere and
// the list of the visible ones, as the culler leaves them.
void BM_HandWrittenSphereLoop(benchmark::State& state)
{
    CullWorld& c = cullWorld();
    std::vector<u8> visible(kEntities);
    std::vector<u32> drawn;
    drawn.reserve(kEntities);
    for (auto _ : state) {
        drawn.clear();
        const f32* s = c.spheres.data();
        for (u32 i = 0; i < kEntities; ++i, s += 4) {
            u8 inside = 1;
            for (const quern::math::Plane& p : c.planes)
                if (p.nx * s[0] + p.ny * s[1] + p.nz * s[2] + p.d <= -s[3]) {
                    inside = 0;
                    break;
                }
            visible[i] = inside;
            if (inside)
                drawn.push_back(i);
        }
        benchmark::DoNotOptimize(drawn.data());
        benchmark::DoNotOptimize(visible.data());
    }
    state.counters["visible"] = static_cast<double>(drawn.size());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntities));
}
BENCHMARK(BM_HandWrittenSphereLoop)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    std::printf("Task dispatcher workers (calling thread included): %u\n", cullWorld().dispatcher.workerCount());
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    const char* loop = "BM_HandWrittenSphereLoop";
    for (const char* culler : { "BM_EntityCullerThreadingOff", "BM_EntityCullerThreadingOn" })
        if (t.count(culler) && t.count(loop))
            std::printf(
                "%s / hand-written sphere loop (20,000 entities): %.2fx the time\n", culler, t[culler] / t[loop]);
    benchmark::Shutdown();
    return 0;
}
