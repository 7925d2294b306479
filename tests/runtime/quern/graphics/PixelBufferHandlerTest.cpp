#include "DDSTestFiles.h"
#include "DeviceTestSupport.h"
#include "MemoryDepot.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultAssetLoaderContext.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/DepotSource.h"
#include "quern/graphics/DefaultTextures.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quern::graphics {
namespace {

using testing::Bytes;
using testing::DDSFileSpec;
using testing::dxt1ChainBytes;
using testing::dxt1Spec;
using testing::makeDDS;
using testing::MemoryDepot;
using testing::pixelsOf;
using testing::rgba32Spec;

constexpr u64 kTexture = assets::ResourceType::Texture;

Bytes payload(const std::vector<u8>& file, u64 offset)
{
    return Bytes(file.begin() + static_cast<std::ptrdiff_t>(offset), file.end());
}

class PixelBufferHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Display::set(nullptr);
        handler = registry.create<PixelBufferHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
    }
    void TearDown() override
    {
        assets::AssetHandlerRegistry::setInstance(nullptr);
        cache.clear();
        Display::set(nullptr);
    }

    // The cached texture of `key` (the cache keeps it alive).
    Texture* textureOf(u64 key)
    {
        const u32 handle = cache.acquire(key);
        if (handle == 0)
            return nullptr;
        u64 typeId = 0;
        void* resource = cache.entry(handle, typeId);
        cache.release(handle);
        EXPECT_EQ(typeId, kTexture);
        return static_cast<Texture*>(resource);
    }

    Texture* load(const std::string& name, const std::vector<u8>& file)
    {
        const u64 id = depot.add(name, file);
        const u64 key = assets::loadAsset(id, kTexture, depot, cache);
        EXPECT_EQ(key, assets::resourceKey(id, kTexture));
        return textureOf(key);
    }

    assets::AssetHandlerRegistry registry;
    PixelBufferHandler* handler = nullptr;
    MemoryDepot depot;
    assets::DefaultResourceCache cache;
};

TEST_F(PixelBufferHandlerTest, IsTheTextureHandlerWithMainThreadStages)
{
    EXPECT_EQ(registry.findHandler(kTexture), handler);
    assets::AssetHandlerInfo info {};
    handler->describe(info);
    EXPECT_STREQ(info.format, "native");
    EXPECT_EQ(info.scratchBytes, 32u);
    EXPECT_TRUE(info.mainThreadStages);
    EXPECT_FALSE(info.keepOpen);
}

TEST_F(PixelBufferHandlerTest, LoadsDDSIntoALoadedTexture)
{
    DDSFileSpec spec = rgba32Spec(4, 2);
    spec.extensionWord = (8u << 18) | (4u << 4) | 0x1;
    const auto file = makeDDS(spec, 32);
    Texture* texture = load("Brick", file);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->state(), assets::Resource::Loaded);
    const PixelBuffer& image = *texture->pixelBuffer();
    EXPECT_EQ(image.format().width, 4u);
    EXPECT_EQ(image.format().height, 2u);
    EXPECT_EQ(pixelsOf(image), payload(file, 128));
    EXPECT_EQ(texture->extension().referenceWidth, 8u);
    EXPECT_EQ(texture->extension().referenceHeight, 4u);
    EXPECT_EQ(texture->extension().flag0, 1);
    EXPECT_EQ(texture->extension().valid, 1);
    EXPECT_EQ(depot.openCount(), 0u);
}

TEST_F(PixelBufferHandlerTest, InvalidExtensionLeavesTheTexturesOwn)
{
    DDSFileSpec spec = rgba32Spec(1, 1);
    spec.extensionWord = (8u << 18) | 0x1; // no reference height
    Texture* texture = load("NoExtension", makeDDS(spec, 4));
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->extension().valid, 0);
    EXPECT_EQ(texture->extension().referenceWidth, 0u);
    EXPECT_EQ(texture->extension().flag0, 0);
}

TEST_F(PixelBufferHandlerTest, PixelLimitDropsTopLevels)
{
    handler->setMaxPixels(128 * 128);
    const auto file = makeDDS(dxt1Spec(256, 256, 9), dxt1ChainBytes(256, 256, 9));
    Texture* texture = load("Big", file);
    ASSERT_NE(texture, nullptr);
    const PixelBuffer& image = *texture->pixelBuffer();
    EXPECT_EQ(image.format().width, 128u);
    EXPECT_EQ(image.format().mipCount, 7u);
    EXPECT_EQ(pixelsOf(image), payload(file, 128 + 32768));
}

TEST_F(PixelBufferHandlerTest, FillsATextureThatIsCachedAlready)
{
    Ref held(createTexture("Prepared", cache));
    auto* prepared = held.get<Texture>();
    const auto file = makeDDS(rgba32Spec(2, 2), 16);
    Texture* texture = load("Prepared", file);
    EXPECT_EQ(texture, prepared);
    EXPECT_EQ(prepared->state(), assets::Resource::Loaded);
    EXPECT_EQ(pixelsOf(*prepared->pixelBuffer()), payload(file, 128));
}

TEST_F(PixelBufferHandlerTest, DefaultWhiteTextureLoadsThroughTheHandler)
{
    registerDefaultTextures(cache);
    const u64 key = defaultWhiteTextureKey();
    ASSERT_NE(key, 0u);
    Texture* white = textureOf(key);
    ASSERT_NE(white, nullptr);
    EXPECT_EQ(white->pixelBuffer()->format().width, 1u);
    EXPECT_EQ(pixelsOf(*white->pixelBuffer()), (Bytes { 0xff, 0xff, 0xff, 0xff }));
}

TEST(TextureMaxPixels, FromQualityAndMaximumMipmapSize)
{
    struct Case {
        i32 quality;
        u32 maxMipmapSize;
        u32 current;
        u32 expected;
    };
    const Case cases[] = {
        { -2, 0, 7, 262144 },
        { -1, 0, 7, 1048576 },
        { 0, 0, 7, 0 },
        { 1, 0, 7, 7 },
        { -3, 0, 7, 7 },
        { -2, 300, 7, 90000 },
        { 5, 128, 0, 16384 },
        { 0, 70000, 0, 0xffffffffu },
    };
    for (const Case& c : cases)
        EXPECT_EQ(textureMaxPixels(c.quality, c.maxMipmapSize, c.current), c.expected)
            << c.quality << " " << c.maxMipmapSize;
}

// Runs the stages of one load the way the game's loader does: prepare and
// load on a worker, finalize (later) on this thread.
class StagedLoad {
public:
    StagedLoad(u64 assetId, MemoryDepot& depot, assets::ResourceCache& cache, assets::AssetHandler& handler)
        : m_context(assetId, depot, cache)
        , m_depot(depot)
        , m_handler(handler)
    {
        m_context.allocateScratch(handler);
        m_entry = depot.open(assetId);
    }
    ~StagedLoad()
    {
        m_context.freeScratch();
        m_depot.close(m_entry);
    }

    void prepareAndLoad()
    {
        assets::DepotSource source(m_depot, m_entry, false);
        m_handler.prepare(source, m_context);
        m_handler.load(source, m_context);
    }
    u64 finalize()
    {
        m_handler.finalize(m_context);
        return m_context.firstResource().key;
    }

private:
    assets::DefaultAssetLoaderContext m_context;
    MemoryDepot& m_depot;
    assets::AssetHandler& m_handler;
    u32 m_entry = 0;
};

TEST_F(PixelBufferHandlerTest, InterleavedLoadsKeepTheirOwnImages)
{
    const auto first = makeDDS(rgba32Spec(2, 1), 8);
    const auto second = makeDDS(dxt1Spec(8, 8, 2), 40);
    StagedLoad a(depot.add("First", first), depot, cache, *handler);
    StagedLoad b(depot.add("Second", second), depot, cache, *handler);

    std::thread worker([&] {
        a.prepareAndLoad();
        b.prepareAndLoad();
    });
    worker.join();
    EXPECT_EQ(cache.count(), 0u); // nothing cached before the main-thread stage

    Texture* textureB = textureOf(b.finalize());
    Texture* textureA = textureOf(a.finalize());
    ASSERT_NE(textureA, nullptr);
    ASSERT_NE(textureB, nullptr);
    EXPECT_EQ(pixelsOf(*textureA->pixelBuffer()), payload(first, 128));
    EXPECT_EQ(textureB->pixelBuffer()->format().pixelFormat, PixelFormat::DXT1);
    EXPECT_EQ(pixelsOf(*textureB->pixelBuffer()), payload(second, 128));
}

TEST_F(PixelBufferHandlerTest, OnlyFinalizeTouchesTheDevice)
{
    testing::FakeBackEnd device;
    testing::GlobalDisplay global(new testing::FakeDisplay(device));
    const auto file = makeDDS(rgba32Spec(2, 2), 16);
    StagedLoad load(depot.add("Device", file), depot, cache, *handler);

    load.prepareAndLoad();
    EXPECT_TRUE(device.images.empty());

    Texture* texture = textureOf(load.finalize());
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(device.images.size(), 1u);
    EXPECT_EQ(texture->pixelBuffer(), device.images[0]);
    ASSERT_EQ(device.images[0]->uploads.size(), 1u);
    EXPECT_EQ(device.images[0]->uploads[0].pixels, payload(file, 128));
    cache.clear();
}

using PixelBufferHandlerDeathTest = PixelBufferHandlerTest;

TEST_F(PixelBufferHandlerDeathTest, AssetsThatAreNoReadableDDSAreFatal)
{
    const std::pair<const char*, std::vector<u8>> cases[] = {
        { "text", std::vector<u8>(200, 'x') },
        { "three bytes", std::vector<u8> { 'D', 'D', 'S' } },
        { "empty", std::vector<u8> {} },
        { "short of its levels", makeDDS(dxt1Spec(16, 16, 5), 100) },
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const u64 id = depot.add(name, bytes);
        EXPECT_DEATH(assets::loadAsset(id, kTexture, depot, cache), "Failed to read DDS");
    }
}

TEST_F(PixelBufferHandlerDeathTest, UnsupportedFormatIsFatal)
{
    DDSFileSpec spec;
    spec.dx10 = true;
    spec.dxgiFormat = 28;
    const u64 id = depot.add("Rgba8Dx10", makeDDS(spec, 64));
    EXPECT_DEATH(assets::loadAsset(id, kTexture, depot, cache), "DDS format not supported!");
}

} // namespace
} // namespace quern::graphics
