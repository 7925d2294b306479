#include "quern/graphics/NullShaderProgramHandler.h"

#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/ShaderProgram.h"
#include "quern/io/ByteSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstdint>

namespace quern::graphics {

namespace {

// Where the stage digit stands: after "//", the eight length digits and a blank.
constexpr u64 kTypeOffset = 11;

} // namespace

void NullShaderProgramHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    const u64 size = source.size();
    if (size > static_cast<u64>(PTRDIFF_MAX))
        QUERN_FATAL("File too large for buffer on this platform");
    if (size <= kTypeOffset)
        QUERN_FATAL("Shader program text too short to name its stage");

    memory::Allocator& allocator = *memory::getDefaultAllocator();
    char* text = static_cast<char*>(allocator.allocate(size, 4));
    if (!text)
        QUERN_OUT_OF_MEMORY();
    source.read(text, size);
    const auto type = static_cast<ShaderProgramType>(static_cast<u32>(static_cast<u8>(text[kTypeOffset]) - u8{'0'}));
    allocator.free(text);

    assets::ResourceRecord record;
    bool created = false;
    context.createResourceObject<NullShaderProgram>(assets::ResourceType::ShaderProgram, 0, record, created, type);
}

void NullShaderProgramHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = assets::ResourceType::ShaderProgram;
}

} // namespace quern::graphics
