// The render queue's sort step against a plain std::sort of the same job
// pointers by keys computed beforehand, and the scene culler against a plain
// loop of sphere tests over the same spheres; also the cost of drawing each
// visible node through the queue on the null device.

#include "support/RatioReporter.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/ShaderProgram.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/math/Frustum.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/render/Culler.h"
#include "quern/render/RenderLists.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Camera.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SubMesh.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace quern;

constexpr u64 kJobs = 10000;
constexpr u64 kShaders = 50;
constexpr u64 kNodes = 10000;

// 10,000 jobs over 50 passes (every fifth one blending), each pass with its
// own programs and texture, at random depths.
struct SortFixture {
    SortFixture()
    {
        for (u64 i = 0; i < 4; ++i)
            objects.emplace_back(new graphics::NullShaderProgram(graphics::ShaderProgramType::Vertex));
        for (u64 i = 0; i < kShaders; ++i) {
            auto* shader = new graphics::Shader();
            shaders.emplace_back(shader);
            auto* texture = new graphics::Texture();
            objects.emplace_back(texture);
            shader->getTextureState()->setTexture(0, texture);
            graphics::ShaderProgramState* programs = shader->getShaderProgramState();
            programs->setVertexProgram(objects[i % 2].get<graphics::ShaderProgram>());
            programs->setFragmentProgram(objects[2 + i % 2].get<graphics::ShaderProgram>());
            if (i % 5 == 0) {
                graphics::AlphaBlendState* blend = shader->getAlphaBlendState();
                blend->setEnabled(true);
                blend->setDestinationFactor(graphics::AlphaBlendState::BlendFactor::OneMinusSourceAlpha);
            }
        }
        std::mt19937 random(1234);
        std::uniform_real_distribution<f32> depth(0.0f, 1000.0f);
        for (u64 i = 0; i < kJobs; ++i) {
            render::RenderJob* job = queue.state().takeJob();
            job->shader = shaders[random() % kShaders].get<graphics::Shader>();
            job->depthKey = depth(random);
            queue.state().jobs.append(job);
        }
        const auto* first = queue.state().jobs.dataAs<render::RenderJob*>();
        original.assign(first, first + kJobs);
    }

    void restoreOrder() { std::memcpy(queue.state().jobs.data(), original.data(), kJobs * sizeof(render::RenderJob*)); }

    std::vector<Ref> objects;
    std::vector<Ref> shaders;
    render::RenderQueue queue;
    std::vector<render::RenderJob*> original;
};

// Made on first use and destroyed by main while the allocators still exist.
SortFixture* g_sortFixture = nullptr;
SortFixture& sortFixture()
{
    if (!g_sortFixture)
        g_sortFixture = new SortFixture();
    return *g_sortFixture;
}

void BM_QueueSortStep(benchmark::State& state)
{
    SortFixture& fixture = sortFixture();
    const auto mode = static_cast<render::RenderQueue::SortMode>(state.range(0));
    for (auto _ : state) {
        fixture.restoreOrder();
        fixture.queue.sort(mode);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kJobs));
}
BENCHMARK(BM_QueueSortStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Repetitions(3);

void BM_StdSortPeer(benchmark::State& state)
{
    SortFixture& fixture = sortFixture();
    const auto mode = static_cast<render::RenderQueue::SortMode>(state.range(0));
    for (render::RenderJob* job : fixture.original)
        job->sortKey = render::sortKey(*job, mode);
    for (auto _ : state) {
        fixture.restoreOrder();
        auto** jobs = fixture.queue.state().jobs.dataAs<render::RenderJob*>();
        std::sort(jobs, jobs + kJobs,
            [](const render::RenderJob* a, const render::RenderJob* b) { return a->sortKey > b->sortKey; });
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kJobs));
}
BENCHMARK(BM_StdSortPeer)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Repetitions(3);

// 10,000 leaves under one root, a 100 x 100 grid 50 units ahead of a camera
// with a 90-degree view: the half with |x| < 50 is in view.
struct CullFixture {
    CullFixture()
    {
        auto* mesh = new visuals::MeshVisual();
        meshHold = Ref(mesh);
        graphics::VertexBuffer* vb = mesh->getVertexBuffer(graphics::BufferUsage::Static | graphics::BufferUsage::Draw);
        vb->setVertexFormat(graphics::vertexFormatFromString("position"));
        vb->resizeElements(3);
        auto* at = reinterpret_cast<f32*>(vb->lockVertices(containers::BufferBase::Lock::Write, 0, 3));
        const f32 triangle[9] = { -0.5f, 0, 0, 0.5f, 0, 0, 0, 0.5f, 0 };
        std::memcpy(at, triangle, sizeof triangle);
        vb->unlockVertices();
        mesh->appendSubMesh(new visuals::SubMesh());
        mesh->setExplicitSphere({ 0, 0, 0 }, 0.5f);

        root = new scene::Node();
        rootHold = Ref(root);
        for (u64 i = 0; i < kNodes; ++i) {
            auto* node = new scene::Node();
            const f32 x = -99.0f + 2.0f * static_cast<f32>(i % 100);
            const f32 y = -24.75f + 0.5f * static_cast<f32>(i / 100);
            node->setTranslation(x, y, -50.0f);
            node->setVisual(mesh);
            root->addChild(node);
            centres.push_back({ x, y, -50.0f });
        }
        camera = new scene::Camera();
        cameraHold = Ref(camera);
        camera->width = camera->height = 1.0f;
        camera->fieldOfView = 1.5707964f;
        camera->refresh();
        frustum = math::Frustum(camera->viewMatrix(), camera->projectionMatrix());
        culler.root = root;
        culler.cull(frustum, lists); // caches clean from here on
    }

    Ref meshHold;
    Ref rootHold;
    Ref cameraHold;
    scene::Node* root;
    scene::Camera* camera;
    std::vector<math::Vector3> centres;
    math::Frustum frustum;
    render::SceneCuller culler;
    render::RenderLists lists;
};

CullFixture* g_cullFixture = nullptr;
CullFixture& cullFixture()
{
    if (!g_cullFixture)
        g_cullFixture = new CullFixture();
    return *g_cullFixture;
}

void BM_SceneCullerCull(benchmark::State& state)
{
    CullFixture& fixture = cullFixture();
    for (auto _ : state) {
        fixture.culler.cull(fixture.frustum, fixture.lists);
        benchmark::DoNotOptimize(fixture.lists.visibleCount());
    }
    state.counters["visible"] = static_cast<double>(fixture.lists.visibleCount());
}
BENCHMARK(BM_SceneCullerCull)->Unit(benchmark::kMicrosecond)->Repetitions(3);

void BM_SphereLoopPeer(benchmark::State& state)
{
    CullFixture& fixture = cullFixture();
    u64 visible = 0;
    for (auto _ : state) {
        visible = 0;
        for (const math::Vector3& centre : fixture.centres)
            visible += fixture.frustum.testSphere(centre, 0.5f) != math::Frustum::TestResult::Outside;
        benchmark::DoNotOptimize(visible);
    }
    state.counters["visible"] = static_cast<double>(visible);
}
BENCHMARK(BM_SphereLoopPeer)->Unit(benchmark::kMicrosecond)->Repetitions(3);

void BM_RenderScene(benchmark::State& state)
{
    CullFixture& fixture = cullFixture();
    render::RenderQueue queue;
    for (auto _ : state)
        queue.renderScene(fixture.lists, *fixture.camera);
    state.counters["visible"] = static_cast<double>(fixture.lists.visibleCount());
}
BENCHMARK(BM_RenderScene)->Unit(benchmark::kMicrosecond)->Repetitions(3);

double ratio(std::map<std::string, double>& t, const std::string& ours, const std::string& peer)
{
    return t.count(ours) && t.count(peer) ? t[ours] / t[peer] : 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    {
        quern::bench::RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        auto& t = reporter.seconds;
        for (const char* mode : { "0", "1" })
            std::printf("Sort step, mode %s: queue / std::sort of precomputed keys: %.2fx\n", mode,
                ratio(t, std::string("BM_QueueSortStep/") + mode + "/repeats:3",
                    std::string("BM_StdSortPeer/") + mode + "/repeats:3"));
        std::printf("SceneCuller::cull / Frustum::testSphere loop: %.2fx\n",
            ratio(t, "BM_SceneCullerCull/repeats:3", "BM_SphereLoopPeer/repeats:3"));
        const u64 visible = cullFixture().lists.visibleCount();
        if (t.count("BM_RenderScene/repeats:3") && visible)
            // The reporter keeps times in the benchmark's unit, microseconds here.
            std::printf("renderScene: %.1f ns per visible node (%llu visible)\n",
                t["BM_RenderScene/repeats:3"] * 1e3 / static_cast<double>(visible),
                static_cast<unsigned long long>(visible));
    }
    delete g_sortFixture;
    delete g_cullFixture;
    quern::graphics::Display::set(nullptr);
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
