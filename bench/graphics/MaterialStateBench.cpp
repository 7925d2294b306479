// Drawing 1,000 materials that share 20 render-state combinations: per draw
// the material's pass is read, an override pass is merged into it (copy on
// write: equal states are kept) and its device state object is looked up.
// Compared with the two obvious ways to keep the (Shader, vertex format) ->
// handle map: a list searched front to back, and std::unordered_map.
// Prints nanoseconds per lookup, the ratios, and the general heap's calls
// during the timed loops, which must be none.

#include "quern/graphics/Material.h"
#include "quern/graphics/NullGraphicsBackEnd.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

// The link wraps the general heap's entry points (see CMakeLists.txt), so
// every allocation of the process, whether by new or by an engine allocator,
// passes through here and is counted.
namespace {
std::atomic<unsigned long> g_heapCalls{0};
}
extern "C" {
void* __real__ZN5quern6memory9heapAllocEm(unsigned long size);
void* __real__ZN5quern6memory16heapAllocAlignedEPNS0_4HeapEmm(void* heap, unsigned long alignment, unsigned long size);
void* __real__ZN5quern6memory17heapResizeInPlaceEPvm(void* pointer, unsigned long size);
void* __wrap__ZN5quern6memory9heapAllocEm(unsigned long size)
{
    g_heapCalls.fetch_add(1, std::memory_order_relaxed);
    return __real__ZN5quern6memory9heapAllocEm(size);
}
void* __wrap__ZN5quern6memory16heapAllocAlignedEPNS0_4HeapEmm(void* heap, unsigned long alignment, unsigned long size)
{
    g_heapCalls.fetch_add(1, std::memory_order_relaxed);
    return __real__ZN5quern6memory16heapAllocAlignedEPNS0_4HeapEmm(heap, alignment, size);
}
void* __wrap__ZN5quern6memory17heapResizeInPlaceEPvm(void* pointer, unsigned long size)
{
    g_heapCalls.fetch_add(1, std::memory_order_relaxed);
    return __real__ZN5quern6memory17heapResizeInPlaceEPvm(pointer, size);
}
}

namespace {

using namespace quern;
using namespace quern::graphics;

constexpr int kMaterials = 1000;
constexpr int kCombinations = 20;

// One of the 20 combinations: cull mode, depth comparison and writes, blending.
class ComboMaterial final : public Material {
public:
    explicit ComboMaterial(int combination) : m_combination(combination) {}
    ComboMaterial* clone() const override { return new ComboMaterial(*this); }
    void setUpShader(Shader& shader) override
    {
        shader.getCullState()->setCullMode(static_cast<u8>(m_combination % 3));
        shader.getDepthBufferState()->setComparison(static_cast<Comparison>(1 + m_combination % 4));
        shader.getDepthBufferState()->setWriteEnabled(m_combination < 10);
        AlphaBlendState* blend = shader.getAlphaBlendState();
        blend->setEnabled(m_combination >= 10);
        blend->setDestinationFactor(AlphaBlendState::BlendFactor::OneMinusSourceAlpha);
    }

private:
    int m_combination;
};

struct Scene {
    Scene() : cache(&NullGraphicsBackEnd::instance()), format(VertexFormat::fromFlags(0x7))
    {
        for (int c = 0; c < kCombinations; ++c) {
            // What a render pass overrides: the depth test of its combination.
            Shader* override = new Shader();
            override->setDepthBufferState(new DepthBufferState(&cache));
            override->getDepthBufferState()->setComparison(static_cast<Comparison>(1 + c % 4));
            override->getDepthBufferState()->setWriteEnabled(c < 10);
            RefCounted::retain(override);
            overrides.push_back(override);
        }
        for (int i = 0; i < kMaterials; ++i) {
            Material* material = new ComboMaterial(i % kCombinations);
            RefCounted::retain(material);
            materials.push_back(material);
            Shader* pass = material->getShader();
            pass->mergeStates(*overrides[i % kCombinations]);
            cache.getStateObject(pass, &format);
        }
    }
    ~Scene()
    {
        for (Material* material : materials)
            RefCounted::release(material);
        for (Shader* shader : overrides)
            RefCounted::release(shader);
    }

    StateObjectCache cache;
    VertexFormat format;
    std::vector<Shader*> overrides;
    std::vector<Material*> materials;
};

Scene& scene()
{
    static Scene* instance = new Scene();
    return *instance;
}

void reportHeapCalls(benchmark::State& state, unsigned long before)
{
    const unsigned long calls = g_heapCalls.load() - before;
    state.counters["heap_calls"] = static_cast<double>(calls);
    if (calls != 0)
        state.SkipWithError("repeated lookups allocated");
}

void BM_MergeAndLookup(benchmark::State& state)
{
    Scene& s = scene();
    const unsigned long before = g_heapCalls.load();
    for (auto _ : state) {
        for (int i = 0; i < kMaterials; ++i) {
            Shader* pass = s.materials[i]->getShader();
            pass->mergeStates(*s.overrides[i % kCombinations]);
            benchmark::DoNotOptimize(s.cache.getStateObject(pass, &s.format));
        }
    }
    reportHeapCalls(state, before);
    state.SetItemsProcessed(state.iterations() * kMaterials);
}

void BM_Lookup(benchmark::State& state)
{
    Scene& s = scene();
    std::vector<Shader*> passes;
    for (Material* material : s.materials)
        passes.push_back(material->getShader());
    const unsigned long before = g_heapCalls.load();
    for (auto _ : state) {
        for (Shader* pass : passes)
            benchmark::DoNotOptimize(s.cache.getStateObject(pass, &s.format));
    }
    reportHeapCalls(state, before);
    state.SetItemsProcessed(state.iterations() * kMaterials);
}

// The entry list walked front to back on every draw.
void BM_ListSearchLookup(benchmark::State& state)
{
    Scene& s = scene();
    struct Entry {
        Shader* shader;
        u32 formatHash;
        u32 handle;
        u8 dirty;
    };
    std::vector<Entry> entries;
    std::vector<Shader*> passes;
    for (u32 i = 0; i < kMaterials; ++i) {
        passes.push_back(s.materials[i]->getShader());
        entries.push_back({passes.back(), s.format.hash, i, 0});
    }
    for (auto _ : state) {
        for (Shader* pass : passes) {
            u32 handle = 0;
            for (const Entry& entry : entries) {
                if (entry.shader == pass && entry.formatHash == s.format.hash) {
                    handle = entry.handle;
                    break;
                }
            }
            benchmark::DoNotOptimize(handle);
        }
    }
    state.SetItemsProcessed(state.iterations() * kMaterials);
}

void BM_UnorderedMapLookup(benchmark::State& state)
{
    Scene& s = scene();
    std::unordered_map<u64, u32> map;
    std::vector<u64> keys;
    for (u32 i = 0; i < kMaterials; ++i) {
        const u64 key = reinterpret_cast<uintptr_t>(s.materials[i]->getShader()) ^ s.format.hash;
        map.emplace(key, i);
        keys.push_back(key);
    }
    for (auto _ : state) {
        for (u64 key : keys)
            benchmark::DoNotOptimize(map.find(key)->second);
    }
    state.SetItemsProcessed(state.iterations() * kMaterials);
}

BENCHMARK(BM_MergeAndLookup);
BENCHMARK(BM_Lookup);
BENCHMARK(BM_ListSearchLookup);
BENCHMARK(BM_UnorderedMapLookup);

// Keeps the best time per lookup of each benchmark for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const double ns = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations) / kMaterials;
            auto [it, added] = nanoseconds.emplace(run.benchmark_name(), ns);
            if (!added && ns < it->second)
                it->second = ns;
        }
    }
    std::map<std::string, double> nanoseconds;
};

} // namespace

int main(int argc, char** argv)
{
    memory::initDefaultAllocators(memory::AllocatorConfig{});
    // The count proves nothing unless allocations really pass through it.
    const unsigned long probe = g_heapCalls.load();
    delete new std::string(64, 'x');
    if (g_heapCalls.load() == probe) {
        std::fprintf(stderr, "general heap calls are not counted: the link did not wrap them\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& ns = reporter.nanoseconds;
    for (const auto& [name, value] : ns)
        std::printf("%-24s %8.2f ns per lookup\n", name.c_str(), value);
    if (ns.count("BM_Lookup") && ns.count("BM_ListSearchLookup") && ns.count("BM_UnorderedMapLookup")) {
        std::printf("list search / cache lookup: %.2f\n", ns.at("BM_ListSearchLookup") / ns.at("BM_Lookup"));
        std::printf("unordered_map / cache lookup: %.2f\n", ns.at("BM_UnorderedMapLookup") / ns.at("BM_Lookup"));
    }
    benchmark::Shutdown();
    return 0;
}
