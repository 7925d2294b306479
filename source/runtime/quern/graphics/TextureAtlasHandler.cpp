#include "quern/graphics/TextureAtlasHandler.h"

#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureAtlas.h"
#include "quern/io/ByteSource.h"
#include "quern/memory/Allocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"
#include "quern/LittleEndian.h"

namespace quern::graphics {
namespace {

constexpr u64 kAtlasHeaderBytes = 16;

struct AtlasLoadScratch {
    TextureAtlas* atlas;
    u64 textureId;
};
static_assert(sizeof(AtlasLoadScratch) == 16);

using ull = unsigned long long;

AtlasLoadScratch& scratchOf(assets::AssetLoaderContext& context)
{
    void* scratch = context.scratch();
    if (!scratch)
        QUERN_FATAL("Texture atlas loading needs its scratch memory");
    return *static_cast<AtlasLoadScratch*>(scratch);
}

} // namespace

void TextureAtlasHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    AtlasLoadScratch& scratch = scratchOf(context);
    assets::ResourceRecord record;
    bool created = false;
    TextureAtlas* atlas = context.createResourceObject<TextureAtlas>(kTextureAtlasTypeId, 0, record, created);
    if (!atlas)
        QUERN_FATAL("Can't create texture atlas resource");
    if (!created)
        return;
    const u64 size = source.size();
    const u64 start = source.position;
    if (start > size || size - start < kAtlasHeaderBytes)
        QUERN_FATAL(strings::format<128>("Invalid texture atlas: %llu bytes hold no %llu-byte header",
            ull { start <= size ? size - start : 0 }, ull { kAtlasHeaderBytes }));
    u8 header[kAtlasHeaderBytes];
    source.read(header, sizeof header);

    const u64 rest = size - source.position;
    void* block = nullptr;
    memory::Allocator& allocator = context.allocator();
    if (rest > 0) {
        block = allocator.allocate(rest, 8);
        if (!block)
            QUERN_OUT_OF_MEMORY();
        source.read(block, rest);
    }
    atlas->setData(block, rest, &allocator);
    scratch.atlas = atlas;
    scratch.textureId = readLittleEndian64(header + 8);
}

void TextureAtlasHandler::link(assets::AssetLoaderContext& context)
{
    AtlasLoadScratch& scratch = scratchOf(context);
    if (!scratch.atlas)
        return;
    void* texture = context.findResource(scratch.textureId, assets::ResourceType::Texture, 0);
    if (!texture)
        QUERN_FATAL(strings::format<128>("Texture atlas texture %016llx is not loaded", ull { scratch.textureId }));
    scratch.atlas->texture = static_cast<Texture*>(texture);
}

void TextureAtlasHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = kTextureAtlasTypeId;
    info.scratchBytes = sizeof(AtlasLoadScratch);
}

} // namespace quern::graphics
