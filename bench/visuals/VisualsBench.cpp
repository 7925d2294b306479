// Ray picks through the mesh octree against a plain Moller-Trumbore loop over
// every triangle, and loading a large binary mesh through its handler and the
// null device against a memcpy of the same bytes.

#include "support/RatioReporter.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/Depot.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/math/Ray.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/visuals/MeshOctree.h"
#include "quern/visuals/MeshSerialization.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SubMesh.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace quern;
using Lock = containers::BufferBase::Lock;

constexpr u32 kTriangles = 50000;
constexpr u32 kRays = 100;

// 50,000 small triangles scattered through a cube of edge 100, and 100 rays
// from outside towards points inside it.
struct PickFixture {
    PickFixture()
    {
        std::mt19937 random(7);
        std::uniform_real_distribution<f32> place(-50.0f, 50.0f);
        std::uniform_real_distribution<f32> jitter(-1.0f, 1.0f);
        for (u32 t = 0; t < kTriangles; ++t) {
            const f32 c[3] = { place(random), place(random), place(random) };
            for (int corner = 0; corner < 3; ++corner)
                for (int axis = 0; axis < 3; ++axis)
                    positions.push_back(c[axis] + jitter(random));
        }
        Ref held(new visuals::MeshVisual);
        mesh = held;
        visuals::MeshVisual& visual = *mesh.get<visuals::MeshVisual>();
        graphics::VertexBuffer& vb
            = *visual.getVertexBuffer(graphics::BufferUsage::Static | graphics::BufferUsage::Draw);
        vb.setVertexFormat(graphics::vertexFormatFromString("position"));
        vb.resizeElements(kTriangles * 3);
        std::memcpy(vb.lockVertices(Lock::Write, 0, kTriangles * 3), positions.data(), positions.size() * 4);
        vb.unlockVertices();
        graphics::IndexBuffer& ib = *visual.addSubMesh(nullptr)->getIndexBuffer();
        ib.setElementSize(4);
        ib.resizeElements(kTriangles * 3);
        u32* indices = reinterpret_cast<u32*>(ib.lockIndices(Lock::Write, 0, kTriangles * 3));
        for (u32 i = 0; i < kTriangles * 3; ++i)
            indices[i] = i;
        ib.unlockIndices();
        for (u32 r = 0; r < kRays; ++r) {
            math::Ray ray;
            ray.origin = { place(random), place(random), -200.0f };
            const math::Vector3 target { place(random), place(random), place(random) };
            ray.direction = target - ray.origin;
            rays.push_back(ray);
        }
        const auto start = std::chrono::steady_clock::now();
        visual.getOctree();
        buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    std::vector<f32> positions;
    std::vector<math::Ray> rays;
    Ref mesh;
    double buildSeconds = 0;
};

PickFixture* g_pick = nullptr;
PickFixture& pickFixture()
{
    if (!g_pick)
        g_pick = new PickFixture();
    return *g_pick;
}

void BM_OctreePick(benchmark::State& state)
{
    PickFixture& fixture = pickFixture();
    visuals::MeshVisual& visual = *fixture.mesh.get<visuals::MeshVisual>();
    const math::Matrix4 identity;
    u64 hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const math::Ray& ray : fixture.rays)
            hits += visual.raycast(ray, identity).count();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_OctreePick)->Unit(benchmark::kMicrosecond)->Repetitions(3);

// The same test over every triangle, written out by hand.
void BM_EveryTrianglePeer(benchmark::State& state)
{
    PickFixture& fixture = pickFixture();
    const f32* p = fixture.positions.data();
    u64 hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const math::Ray& ray : fixture.rays) {
            for (u32 t = 0; t < kTriangles; ++t) {
                const f32* k = p + t * 9;
                const math::Vector3 K { k[0], k[1], k[2] };
                const math::Vector3 e1 = math::Vector3 { k[3], k[4], k[5] } - K;
                const math::Vector3 e2 = math::Vector3 { k[6], k[7], k[8] } - K;
                const math::Vector3 pv = math::cross(ray.direction, e2);
                const f32 det = math::dot(e1, pv);
                if (std::fabs(det) <= 1.1920929e-7f)
                    continue;
                const f32 inverse = 1.0f / det;
                const math::Vector3 s = ray.origin - K;
                const f32 u = math::dot(s, pv) * inverse;
                if (u < 0 || u > 1)
                    continue;
                const math::Vector3 q = math::cross(s, e1);
                const f32 v = math::dot(ray.direction, q) * inverse;
                if (v < 0 || u + v > 1)
                    continue;
                hits += math::dot(e2, q) * inverse >= 0;
            }
        }
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_EveryTrianglePeer)->Unit(benchmark::kMicrosecond)->Repetitions(3);

// One binary mesh asset of 100,000 vertices (position, normal, texcoord0) and
// 300,000 4-byte indices, served from memory.
class MemoryDepot final : public assets::Depot {
public:
    explicit MemoryDepot(std::vector<u8> bytes)
        : m_bytes(std::move(bytes))
    {
    }
    u32 open(u64) override
    {
        m_position = 0;
        return 1;
    }
    void close(u32) override { }
    u64 read(u32, u64 count, void* destination) override
    {
        const u64 n = std::min<u64>(count, m_position < m_bytes.size() ? m_bytes.size() - m_position : 0);
        std::memcpy(destination, m_bytes.data() + m_position, n);
        m_position += n;
        return n;
    }
    u64 size(u32) override { return m_bytes.size(); }
    void seek(u32, u64 position) override { m_position = position; }
    const std::vector<u8>& bytes() const { return m_bytes; }

private:
    std::vector<u8> m_bytes;
    u64 m_position = 0;
};

void put(std::vector<u8>& out, const void* data, u64 size)
{
    const u8* bytes = static_cast<const u8*>(data);
    out.insert(out.end(), bytes, bytes + size);
}
template <class T> void put(std::vector<u8>& out, T value) { put(out, &value, sizeof value); }
void putText(std::vector<u8>& out, const char* text)
{
    put<u32>(out, static_cast<u32>(std::strlen(text)));
    put(out, text, std::strlen(text));
}

std::vector<u8> largeMeshFile()
{
    constexpr u32 kVertices = 100000;
    constexpr u32 kIndices = 300000;
    std::vector<u8> out;
    put<u64>(out, visuals::kMeshChunkId);
    putText(out, "large");
    put<u64>(out, visuals::kVertexBufferChunkId);
    putText(out, "position(3f) normal(3f) texcoord0(2f)");
    put<u32>(out, kVertices);
    for (u32 v = 0; v < kVertices; ++v)
        for (int i = 0; i < 8; ++i)
            put<f32>(out, static_cast<f32>(v % 97) * 0.25f + static_cast<f32>(i));
    for (int i = 0; i < 10; ++i)
        put<f32>(out, 1.0f);
    put<u32>(out, 1);
    put<u64>(out, visuals::kSubMeshChunkId);
    putText(out, "all");
    put<u8>(out, 1);
    put<u64>(out, visuals::kIndexBufferChunkId);
    put<u32>(out, 9);
    put<u8>(out, 4);
    put<u32>(out, kIndices);
    for (u32 i = 0; i < kIndices; ++i)
        put<u32>(out, (i * 7919u) % kVertices);
    for (int i = 0; i < 4; ++i)
        put<f32>(out, 1.0f);
    put<u32>(out, 0);
    return out;
}

MemoryDepot* g_depot = nullptr;
MemoryDepot& depot()
{
    if (!g_depot)
        g_depot = new MemoryDepot(largeMeshFile());
    return *g_depot;
}

void BM_MeshLoad(benchmark::State& state)
{
    MemoryDepot& source = depot();
    assets::AssetHandlerRegistry registry;
    registry.create<visuals::MeshHandler>();
    assets::AssetHandlerRegistry::setInstance(&registry);
    for (auto _ : state) {
        assets::DefaultResourceCache cache;
        benchmark::DoNotOptimize(assets::loadAsset(1, assets::ResourceType::Mesh, source, cache));
        state.PauseTiming();
        cache.clear();
        state.ResumeTiming();
    }
    assets::AssetHandlerRegistry::setInstance(nullptr);
    state.counters["bytes"] = static_cast<double>(source.bytes().size());
}
BENCHMARK(BM_MeshLoad)->Unit(benchmark::kMillisecond)->Repetitions(3);

void BM_MemcpyPeer(benchmark::State& state)
{
    const std::vector<u8>& bytes = depot().bytes();
    std::vector<u8> copy(bytes.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemcpyPeer)->Unit(benchmark::kMillisecond)->Repetitions(3);

// For context: a load must also touch new memory, which the plain memcpy
// into a warm buffer never pays for.
void BM_MemcpyIntoNewMemory(benchmark::State& state)
{
    const std::vector<u8>& bytes = depot().bytes();
    for (auto _ : state) {
        u8* copy = new u8[bytes.size()];
        std::memcpy(copy, bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
        delete[] copy;
    }
}
BENCHMARK(BM_MemcpyIntoNewMemory)->Unit(benchmark::kMillisecond)->Repetitions(3);

double ratio(std::map<std::string, double>& t, const std::string& ours, const std::string& peer)
{
    return t.count(ours) && t.count(peer) ? t[ours] / t[peer] : 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    memory::initDefaultAllocators(memory::AllocatorConfig {});
    {
        bench::RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        auto& t = reporter.seconds;
        std::printf("every-triangle loop / octree pick, 100 rays on 50,000 triangles: %.1fx faster\n",
            ratio(t, "BM_EveryTrianglePeer/repeats:3", "BM_OctreePick/repeats:3"));
        if (g_pick)
            std::printf("octree build (triangle list and tree, first pick): %.1f ms\n", g_pick->buildSeconds * 1e3);
        std::printf("mesh load / memcpy of the same bytes: %.2fx\n",
            ratio(t, "BM_MeshLoad/repeats:3", "BM_MemcpyPeer/repeats:3"));
        std::printf("mesh load / memcpy into new memory: %.2fx\n",
            ratio(t, "BM_MeshLoad/repeats:3", "BM_MemcpyIntoNewMemory/repeats:3"));
    }
    delete g_pick;
    delete g_depot;
    graphics::Display::set(nullptr);
    memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
