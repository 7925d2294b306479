#include "quern/graphics/DefaultTextures.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/Depot.h"
#include "quern/assets/ResourceCache.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Hashes.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

namespace quern::graphics {
namespace {

// "DDS ", a 124-byte header for a 1 x 1 32-bit RGBA image without mip levels,
// and its one opaque white pixel. Little-endian words.
constexpr u8 kWhiteDDS[] = {
    'D',  'D',  'S',  ' ',                           // magic
    0x7c, 0x00, 0x00, 0x00,                          // header size 124
    0x0f, 0x10, 0x00, 0x00,                          // flags 0x100f
    0x01, 0x00, 0x00, 0x00,                          // height 1
    0x01, 0x00, 0x00, 0x00,                          // width 1
    0x04, 0x00, 0x00, 0x00,                          // pitch 4
    0x00, 0x00, 0x00, 0x00,                          // depth 0
    0x00, 0x00, 0x00, 0x00,                          // mip-map count 0
    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // reserved words 1-3
    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // reserved words 4-6
    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // reserved words 7-9
    0,    0,    0,    0,    0, 0, 0, 0,              // reserved words 10-11
    0x20, 0x00, 0x00, 0x00,                          // pixel-format size 32
    0x41, 0x00, 0x00, 0x00,                          // RGB with alpha
    0x00, 0x00, 0x00, 0x00,                          // FourCC 0
    0x20, 0x00, 0x00, 0x00,                          // 32 bits
    0xff, 0x00, 0x00, 0x00,                          // red mask
    0x00, 0xff, 0x00, 0x00,                          // green mask
    0x00, 0x00, 0xff, 0x00,                          // blue mask
    0x00, 0x00, 0x00, 0xff,                          // alpha mask
    0x00, 0x10, 0x00, 0x00,                          // caps 0x1000
    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // caps 2-4
    0,    0,    0,    0,                             // last header word
    0xff, 0xff, 0xff, 0xff,                          // the pixel
};
static_assert(sizeof(kWhiteDDS) == 132);

std::atomic<u64> g_whiteTextureKey{0};

// One built-in image served by asset id.
class BuiltInImageDepot final : public assets::Depot {
public:
    BuiltInImageDepot(u64 assetId, std::span<const u8> bytes) : m_assetId(assetId), m_bytes(bytes) {}

    u32 open(u64 assetId) override
    {
        if (assetId != m_assetId)
            QUERN_FATAL("Built-in image depot: unknown asset");
        const u32 handle = ++m_lastHandle;
        m_positions[handle] = 0;
        return handle;
    }
    void close(u32 handle) override { m_positions.erase(handle); }
    u64 read(u32 handle, u64 count, void* destination) override
    {
        u64& position = positionOf(handle);
        const u64 left = position < m_bytes.size() ? m_bytes.size() - position : 0;
        const u64 taken = std::min(count, left);
        if (taken)
            std::memcpy(destination, m_bytes.data() + position, taken);
        position += taken;
        return taken;
    }
    u64 size(u32) override { return m_bytes.size(); }
    void seek(u32 handle, u64 position) override { positionOf(handle) = position; }

private:
    u64& positionOf(u32 handle)
    {
        auto it = m_positions.find(handle);
        if (it == m_positions.end())
            QUERN_FATAL("Built-in image depot: handle not open");
        return it->second;
    }

    u64 m_assetId;
    std::span<const u8> m_bytes;
    std::map<u32, u64> m_positions;
    u32 m_lastHandle = 0;
};

} // namespace

std::span<const u8> whiteDDSImage() { return kWhiteDDS; }

void registerDefaultTextures(assets::ResourceCache& cache)
{
    const u64 assetId = strings::murmurHash64A(kWhiteTextureName, std::strlen(kWhiteTextureName), 0);
    const u64 typeId = assets::ResourceType::Texture;
    u64 key = assets::resourceKey(assetId, typeId);
    if (!cache.find(key)) {
        BuiltInImageDepot depot(assetId, kWhiteDDS);
        key = assets::loadAsset(assetId, typeId, depot, cache);
    }
    g_whiteTextureKey.store(key, std::memory_order_release);
}

u64 defaultWhiteTextureKey() { return g_whiteTextureKey.load(std::memory_order_acquire); }

} // namespace quern::graphics
