#include "quern/graphics/DefaultTextures.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/EmbeddedSourceDepot.h"

#include <atomic>

namespace quern::graphics {
namespace {

// "DDS ", a 124-byte header for a 1 x 1 32-bit RGBA image without mip levels,
// and its one opaque white pixel. Little-endian words.
constexpr u8 kWhiteDDS[] = {
    'D', 'D', 'S', ' ', // magic
    0x7c, 0x00, 0x00, 0x00, // header size 124
    0x0f, 0x10, 0x00, 0x00, // flags 0x100f
    0x01, 0x00, 0x00, 0x00, // height 1
    0x01, 0x00, 0x00, 0x00, // width 1
    0x04, 0x00, 0x00, 0x00, // pitch 4
    0x00, 0x00, 0x00, 0x00, // depth 0
    0x00, 0x00, 0x00, 0x00, // mip-map count 0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // reserved words 1-3
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // reserved words 4-6
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // reserved words 7-9
    0, 0, 0, 0, 0, 0, 0, 0, // reserved words 10-11
    0x20, 0x00, 0x00, 0x00, // pixel-format size 32
    0x41, 0x00, 0x00, 0x00, // RGB with alpha
    0x00, 0x00, 0x00, 0x00, // FourCC 0
    0x20, 0x00, 0x00, 0x00, // 32 bits
    0xff, 0x00, 0x00, 0x00, // red mask
    0x00, 0xff, 0x00, 0x00, // green mask
    0x00, 0x00, 0xff, 0x00, // blue mask
    0x00, 0x00, 0x00, 0xff, // alpha mask
    0x00, 0x10, 0x00, 0x00, // caps 0x1000
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // caps 2-4
    0, 0, 0, 0, // last header word
    0xff, 0xff, 0xff, 0xff, // the pixel
};
static_assert(sizeof(kWhiteDDS) == 132);

std::atomic<u64> g_whiteTextureKey { 0 };

} // namespace

std::span<const u8> whiteDDSImage() { return kWhiteDDS; }

void registerDefaultTextures(assets::ResourceCache& cache)
{
    const u64 assetId = EmbeddedSourceDepot::keyOf(kWhiteTextureName);
    const u64 typeId = assets::ResourceType::Texture;
    u64 key = assets::resourceKey(assetId, typeId);
    if (!cache.find(key)) {
        EmbeddedSourceDepot depot;
        depot.add(reinterpret_cast<const char*>(kWhiteDDS), sizeof kWhiteDDS, kWhiteTextureName);
        key = assets::loadAsset(assetId, typeId, depot, cache);
    }
    g_whiteTextureKey.store(key, std::memory_order_release);
}

u64 defaultWhiteTextureKey() { return g_whiteTextureKey.load(std::memory_order_acquire); }

} // namespace quern::graphics
