#include "quern/graphics/DefaultTextures.h"

#include "DeviceTestSupport.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/graphics/Texture.h"
#include "quern/io/ByteSource.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

namespace quern::graphics {
namespace {

using namespace testing;

u32 word(std::span<const u8> bytes, u64 offset)
{
    return u32(bytes[offset]) | u32(bytes[offset + 1]) << 8 | u32(bytes[offset + 2]) << 16 |
           u32(bytes[offset + 3]) << 24;
}

// Reads just enough of an uncompressed 32-bit image file to fill a texture:
// the size words and the pixels after the 128-byte header.
class UncompressedImageHandler final : public assets::AssetHandler {
public:
    void load(ByteSource& source, assets::AssetLoaderContext& context) override
    {
        ++loads;
        Bytes file(source.size());
        source.read(file.data(), file.size());
        const u32 height = word(file, 12);
        const u32 width = word(file, 16);
        assets::ResourceRecord record;
        bool created = false;
        Texture* texture =
            context.createResourceObject<Texture>(assets::ResourceType::Texture, 0, record, created);
        texture->pixelBuffer()->setData(file.data() + 128,
                                        PixelBufferFormat::create2D(width, height, PixelFormat::A8B8G8R8), nullptr, 0);
        texture->markLoaded();
    }
    void describe(assets::AssetHandlerInfo& info) override
    {
        info.format = assets::kNativeAssetFormat;
        info.typeId = assets::ResourceType::Texture;
    }

    int loads = 0;
};

class DefaultTexturesTest : public ::testing::Test {
protected:
    DefaultTexturesTest()
    {
        m_handler = m_registry.create<UncompressedImageHandler>();
        assets::AssetHandlerRegistry::setInstance(&m_registry);
    }
    ~DefaultTexturesTest() override { assets::AssetHandlerRegistry::setInstance(nullptr); }

    GlobalDisplay m_display{new NullDisplay};
    assets::AssetHandlerRegistry m_registry;
    UncompressedImageHandler* m_handler = nullptr;
};

struct Field {
    const char* name;
    u64 offset;
    u32 value;
};

TEST(WhiteImage, IsACompleteImageFileOfOneOpaqueWhitePixel)
{
    const std::span<const u8> image = whiteDDSImage();
    ASSERT_EQ(image.size(), 132u);
    const Field fields[] = {
        {"magic", 0, 0x20534444},       {"header size", 4, 124},     {"flags", 8, 0x100f},
        {"height", 12, 1},              {"width", 16, 1},            {"pitch", 20, 4},
        {"depth", 24, 0},               {"mip count", 28, 0},        {"pixel-format size", 76, 32},
        {"RGB with alpha", 80, 0x41},   {"FourCC", 84, 0},           {"bit count", 88, 32},
        {"red mask", 92, 0x000000ff},   {"green mask", 96, 0x0000ff00}, {"blue mask", 100, 0x00ff0000},
        {"alpha mask", 104, 0xff000000}, {"caps", 108, 0x1000},      {"pixel", 128, 0xffffffff},
    };
    for (const Field& field : fields) {
        SCOPED_TRACE(field.name);
        EXPECT_EQ(word(image, field.offset), field.value);
    }
    for (u64 offset = 32; offset < 76; offset += 4)
        EXPECT_EQ(word(image, offset), 0u) << "reserved word at " << offset;
    for (u64 offset = 112; offset < 128; offset += 4)
        EXPECT_EQ(word(image, offset), 0u) << "header word at " << offset;
}

TEST_F(DefaultTexturesTest, WhiteTextureIsLoadedOnceAndItsKeyKept)
{
    assets::DefaultResourceCache cache;
    const u64 key = strings::murmurHash64A("WhiteDDS", 8, 0) ^ assets::ResourceType::Texture;

    registerDefaultTextures(cache);
    EXPECT_EQ(defaultWhiteTextureKey(), key);
    registerDefaultTextures(cache);
    EXPECT_EQ(defaultWhiteTextureKey(), key);
    EXPECT_EQ(m_handler->loads, 1);

    assets::CacheEntry* entry = cache.find(key);
    ASSERT_NE(entry, nullptr);
    auto* texture = static_cast<Texture*>(static_cast<RefCounted*>(entry->resource));
    const PixelBuffer& image = *texture->pixelBuffer();
    EXPECT_EQ(image.format().width, 1u);
    EXPECT_EQ(image.format().height, 1u);
    EXPECT_EQ(image.pixelFormat().bytesPerPixel, 4);
    EXPECT_EQ(pixelsOf(image), (Bytes{0xff, 0xff, 0xff, 0xff}));
    EXPECT_EQ(texture->state(), assets::Resource::Loaded);
}

} // namespace
} // namespace quern::graphics
