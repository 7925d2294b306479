// The content tool puts DDS textures into depots, and the texture handler
// loads them back from the depot it built.

#include "../graphics/DDSTestFiles.h"
#include "DepotTestContent.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/BlobDepot.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quern::test {
namespace {

using graphics::testing::DDSFileSpec;
using graphics::testing::dxt1ChainBytes;
using graphics::testing::dxt1Spec;
using graphics::testing::makeDDS;
using graphics::testing::rgba32Spec;

std::string text(const std::vector<u8>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::vector<u8> texturePixels(u64 key, assets::ResourceCache& cache)
{
    const u32 handle = cache.acquire(key);
    EXPECT_NE(handle, 0u);
    if (handle == 0)
        return {};
    u64 typeId = 0;
    auto* texture = static_cast<graphics::Texture*>(cache.entry(handle, typeId));
    cache.release(handle);
    const graphics::PixelBuffer& image = *texture->pixelBuffer();
    const u8* pixels = image.lockPixels();
    std::vector<u8> bytes(pixels, pixels + image.format().dataSize);
    image.unlockPixels();
    return bytes;
}

TEST(TextureContent, DDSTexturesLoadFromEitherDepotKind)
{
    const auto brick = makeDDS(rgba32Spec(4, 4), 64);
    const auto stone = makeDDS(dxt1Spec(16, 16, 5), dxt1ChainBytes(16, 16, 5));
    for (const char* kind : { "blob", "files" }) {
        SCOPED_TRACE(kind);
        DepotContent content;
        content.build(
            { { "brick.dds", text(brick), "", "texture" }, { "stone.dds", text(stone), "blob=rock", "Texture" } },
            kind);
        const std::unique_ptr<assets::Depot> depot = content.openDepot(kind);

        graphics::Display::set(nullptr);
        assets::AssetHandlerRegistry registry;
        registry.create<graphics::PixelBufferHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
        assets::DefaultResourceCache cache;
        const u64 brickKey = assets::loadAsset(assetId("brick.dds"), assets::ResourceType::Texture, *depot, cache);
        const u64 stoneKey = assets::loadAsset(assetId("stone.dds"), assets::ResourceType::Texture, *depot, cache);
        EXPECT_EQ(texturePixels(brickKey, cache), std::vector<u8>(brick.begin() + 128, brick.end()));
        EXPECT_EQ(texturePixels(stoneKey, cache), std::vector<u8>(stone.begin() + 128, stone.end()));
        cache.clear();
        assets::AssetHandlerRegistry::setInstance(nullptr);
        graphics::Display::set(nullptr);
    }
}

TEST(TextureContent, TexturesTheEngineWouldRefuseStopTheBuild)
{
    DDSFileSpec rgba8Dx10;
    rgba8Dx10.dx10 = true;
    rgba8Dx10.dxgiFormat = 28;
    auto shortOfLevels = makeDDS(dxt1Spec(16, 16, 5), dxt1ChainBytes(16, 16, 5));
    shortOfLevels.pop_back();
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        { "not a DDS file", "a PNG, perhaps", "file shorter than its header" },
        { "a bad header", std::string(200, 'x'), "not a DDS header" },
        { "one byte short of its levels", text(shortOfLevels), "file shorter than its layout" },
        { "an unsupported format", text(makeDDS(rgba8Dx10, 64)), "DDS format not supported!" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DepotContent content;
        const std::string error = content.tryBuild(
            { { "ok.dds", text(makeDDS(rgba32Spec(1, 1), 4)), "", "texture" }, { "bad.dds", c.bytes, "", "texture" } });
        EXPECT_EQ(error, std::string("line 2: texture bad.dds is not a readable DDS file: ") + c.reason);
    }
}

TEST(TextureContent, OtherTypesAreNotChecked)
{
    DepotContent content;
    content.build({ { "notes.dds", "not an image", "", "data" } });
    assets::BlobDepot depot;
    depot.openIndex(content.out().c_str());
    const u32 handle = depot.open(assetId("notes.dds"));
    EXPECT_EQ(depot.size(handle), 12u);
    depot.close(handle);
}

} // namespace
} // namespace quern::test
