// Level loading: a world of 10,000 entities over 20 component types, each
// entity holding 10 of them, read with loadWorld from its binary file and from
// its text file (the same level written by the content tool in both forms).
// Reports ms per load and MB/s of file bytes; prints the binary/text speed
// ratio after the table.

#include "WorldWriter.h"

#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/io/StringSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/memory/PrivateHeapAllocator.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>
#include "support/RatioReporter.h"

namespace {

using namespace quern;
using AttributeType = entity::ComponentAttribute::Type;

constexpr u32 kEntityCount = 10'000;
constexpr u32 kTypeCount = 20;

struct Files {
    std::string binary;
    std::string text;
};

// Component types of the sizes and mixes a level has: positions, flags,
// ids, counters, colours.
void addTypes(assetbuild::WorldDocument& document)
{
    const std::vector<std::pair<AttributeType, u32>> shapes[] = {
        { { AttributeType::Float32, 3 }, { AttributeType::Float32, 4 }, { AttributeType::Float32, 3 } },
        { { AttributeType::UInt8, 1 }, { AttributeType::UInt32, 1 } },
        { { AttributeType::Id64, 1 }, { AttributeType::UInt8, 2 } },
        { { AttributeType::Int32, 2 }, { AttributeType::Float32, 1 } },
        { { AttributeType::UInt64, 1 }, { AttributeType::UInt32, 2 } },
    };
    for (u32 t = 0; t < kTypeCount; ++t) {
        const auto& shape = shapes[t % 5];
        const std::string name = "Type" + std::to_string(t);
        entity::ComponentTypeDescription& type
            = document.model.addType(name.c_str(), "", "", static_cast<u32>(shape.size()));
        for (u32 a = 0; a < shape.size(); ++a)
            document.model.setAttribute(type, a, shape[a].first, shape[a].second, false, false, "value");
    }
}

// Random values that the text form carries exactly: floats with few digits.
void fillComponent(const entity::ComponentTypeDescription& type, std::vector<u8>& bytes, std::mt19937_64& random)
{
    entity::ComponentDescriptor descriptor;
    entity::buildComponentDescriptor(type, descriptor);
    bytes.assign(entity::componentByteSize(type), 0);
    u64 offset = 0;
    for (u16 f = 0; f < descriptor.descriptor.componentCount; ++f) {
        const serialize::PODComponent& field = descriptor.descriptor.components[f];
        for (u32 e = 0; field.kind != serialize::PODKind::Skip && e < field.count; ++e) {
            u8* at = bytes.data() + offset + e * (field.bits / 8);
            if (field.kind == serialize::PODKind::Float) {
                const f32 value = static_cast<f32>(static_cast<i32>(random() % 20000) - 10000) / 8.0f;
                std::memcpy(at, &value, 4);
            } else {
                const u64 value = random();
                std::memcpy(at, &value, field.bits / 8);
            }
        }
        offset += (u64 { field.count } * field.bits) / 8;
    }
}

Files makeFiles()
{
    assetbuild::WorldDocument document;
    document.model.setName("Benchmark");
    addTypes(document);
    std::mt19937_64 random(11);
    for (u32 e = 0; e < kEntityCount; ++e) {
        assetbuild::WorldEntity entity;
        entity.name = "entity" + std::to_string(e);
        for (u32 t = 0; t < kTypeCount; ++t) {
            if ((e + t) % 2 != 0)
                continue;
            assetbuild::WorldComponent component;
            component.type = static_cast<u8>(t);
            fillComponent(document.model.type(t), component.bytes, random);
            entity.components.push_back(std::move(component));
            entity.enabledMask[0] |= u64 { 1 } << t;
        }
        document.entities.push_back(std::move(entity));
    }
    for (const char* text : { "Level start", "Door", "Checkpoint" })
        document.texts.internIndex(text, std::strlen(text));

    Files files;
    for (bool text : { false, true }) {
        serialize::BinaryPODToken binaryToken;
        serialize::TextPODToken textToken;
        std::ostringstream out;
        std::string error;
        if (!assetbuild::writeWorldFile(
                out, text ? static_cast<serialize::PODToken&>(textToken) : binaryToken, document, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        (text ? files.text : files.binary) = out.str();
    }
    return files;
}

const Files& files()
{
    static const Files made = makeFiles();
    return made;
}

// Levels load into a level heap made once at start-up, as in the game, so the
// loads measure reading rather than the system handing out fresh pages.
memory::Allocator& levelHeap()
{
    static constexpr u64 kHeapSize = 64u << 20;
    static std::vector<u8> block(kHeapSize, 0);
    static memory::PrivateHeapAllocator heap;
    if (!heap.heap())
        heap.init(block.data(), block.size());
    return heap;
}

void loadFrom(benchmark::State& state, const std::string& file, serialize::PODToken& token)
{
    memory::Allocator& heap = levelHeap();
    for (auto _ : state) {
        entity::World world;
        StringSource source(file.data(), file.size());
        entity::loadWorld(source, token, world, 0, &heap, "benchmark");
        if (world.liveEntityCount != kEntityCount)
            state.SkipWithError("entities missing");
        benchmark::DoNotOptimize(world.store);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
    state.counters["file_MB"] = static_cast<double>(file.size()) / 1e6;
}

void BM_LoadWorldBinary(benchmark::State& state)
{
    serialize::BinaryPODToken token;
    loadFrom(state, files().binary, token);
}
BENCHMARK(BM_LoadWorldBinary)->Unit(benchmark::kMillisecond);

void BM_LoadWorldText(benchmark::State& state)
{
    serialize::TextPODToken token;
    loadFrom(state, files().text, token);
}
BENCHMARK(BM_LoadWorldText)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    memory::initDefaultAllocators(memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    files();
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_LoadWorldBinary") && t.count("BM_LoadWorldText")) {
        const double binaryMs = t["BM_LoadWorldBinary"];
        const double textMs = t["BM_LoadWorldText"];
        std::printf("Binary: %.2f ms, %.1f MB/s; text: %.2f ms, %.1f MB/s\n", binaryMs,
            files().binary.size() / 1e3 / binaryMs, textMs, files().text.size() / 1e3 / textMs);
        std::printf("Binary / text load speed: %.2fx\n", textMs / binaryMs);
    }
    benchmark::Shutdown();
    memory::shutdownDefaultAllocators();
    return 0;
}
