#include "quern/graphics/EmbeddedPrograms.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/EmbeddedSourceDepot.h"
#include "quern/platform/ErrorReporting.h"

#include <array>
#include <cstring>

namespace quern::graphics {
namespace {
// Written by the registrations on the main thread at start-up, read by the
// materials on the main thread afterwards.
std::array<u64, kEmbeddedProgramCount> g_keys{};
} // namespace

const EmbeddedProgramSource& glslProgramSource(EmbeddedProgram program)
{
    return glslProgramSources()[static_cast<u32>(program)];
}

u64 embeddedProgramAssetId(const char* name) { return EmbeddedSourceDepot::keyOf(name); }

u64 embeddedProgramResourceKey(const char* name)
{
    return assets::resourceKey(embeddedProgramAssetId(name), assets::ResourceType::ShaderProgram);
}

u64 embeddedProgramKey(EmbeddedProgram program)
{
    const u32 index = static_cast<u32>(program);
    return index < kEmbeddedProgramCount ? g_keys[index] : 0;
}

void setEmbeddedProgramKey(EmbeddedProgram program, u64 key)
{
    const u32 index = static_cast<u32>(program);
    if (index >= kEmbeddedProgramCount)
        QUERN_FATAL_INVALID_ENUM("EmbeddedProgram");
    g_keys[index] = key;
}

void clearEmbeddedProgramKeys() { g_keys.fill(0); }

void registerEmbeddedPrograms(ShaderLanguage language, assets::ResourceCache& cache,
                              std::span<const EmbeddedProgram> programs, const char* file, u32 line)
{
    if (language != ShaderLanguage::GLSL)
        debug::fatalError("Unsupported shader language", file, line);

    EmbeddedSourceDepot depot;
    for (EmbeddedProgram program : programs) {
        const EmbeddedProgramSource& source = glslProgramSource(program);
        depot.add(source.text, source.length, source.name);
    }
    for (EmbeddedProgram program : programs) {
        const char* name = glslProgramSource(program).name;
        const u64 assetId = embeddedProgramAssetId(name);
        const u64 key = assets::resourceKey(assetId, assets::ResourceType::ShaderProgram);
        if (cache.find(key))
            setEmbeddedProgramKey(program, key);
        else
            setEmbeddedProgramKey(program,
                                  assets::loadAsset(assetId, assets::ResourceType::ShaderProgram, depot, cache));
    }
}

} // namespace quern::graphics
