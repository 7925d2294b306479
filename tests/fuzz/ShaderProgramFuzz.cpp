// The shader-program loaders (the GLSL handler's load step, which needs no GL
// context, and the null device's handler) on arbitrary bytes, and the content
// tool's program writer on arbitrary sources: the first byte picks the stage
// (even vertex, odd fragment), the rest is the source. A source the tool
// accepts must pass its own check and load through both handlers with the
// stage it was written for.

#include "FuzzSupport.h"

#include "ShaderProgramContent.h"

#include "quern/assets/AssetHandler.h"
#include "quern/assets/DefaultAssetLoaderContext.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/graphics/EmbeddedSourceDepot.h"
#include "quern/graphics/NullShaderProgramHandler.h"
#include "quern/io/StringSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/opengl/GLSLShaderProgram.h"

#include <cstdlib>
#include <vector>

namespace {

using namespace quern;

constexpr u64 kAssetId = 0x5eed;

// The program each handler's load makes of `bytes`; false when a load ended
// in the fatal path (a text too short to name its stage).
bool loadBoth(const u8* bytes, u64 size, graphics::ShaderProgramType types[2])
{
    graphics::EmbeddedSourceDepot depot;
    assets::DefaultResourceCache cache;
    const bool loaded = fuzz::runGuarded([&] {
        {
            opengl::GLSLShaderProgramHandler glsl;
            assets::DefaultAssetLoaderContext context(kAssetId, depot, cache);
            assets::AssetHandlerInfo info {};
            glsl.describe(info);
            context.setScratch(info.scratchBytes);
            StringSource source(bytes, size);
            glsl.load(source, context);
            // Finalize would compile; the text it would free is freed here.
            auto& scratch = *static_cast<opengl::GLSLShaderProgramHandler::Scratch*>(context.scratch());
            types[0] = scratch.program->type();
            memory::getDefaultAllocator()->free(scratch.text);
        }
        cache.clear();
        graphics::NullShaderProgramHandler null;
        assets::DefaultAssetLoaderContext context(kAssetId + 1, depot, cache);
        StringSource source(bytes, size);
        null.load(source, context);
        const u32 handle = cache.acquire(assets::resourceKey(kAssetId + 1, assets::ResourceType::ShaderProgram));
        u64 type = 0;
        types[1] = static_cast<graphics::ShaderProgram*>(static_cast<RefCounted*>(cache.entry(handle, type)))->type();
        cache.release(handle);
    });
    cache.clear();
    return loaded;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    fuzz::initialize();
    graphics::ShaderProgramType types[2] {};
    loadBoth(data, size, types);
    if (size == 0)
        return 0;

    const auto stage = (data[0] & 1) ? graphics::ShaderProgramType::Fragment : graphics::ShaderProgramType::Vertex;
    std::vector<u8> program;
    std::string reason;
    if (!assetbuild::writeShaderProgram(std::vector<u8>(data + 1, data + size), stage, program, reason))
        return 0;
    // An accepted source whose asset the tool's own check or the engine's
    // loaders read otherwise is a fault of the tool.
    if (!assetbuild::checkShaderProgram(program.data(), program.size(), stage, reason))
        std::abort();
    if (!loadBoth(program.data(), program.size(), types) || types[0] != stage || types[1] != stage)
        std::abort();
    return 0;
}
