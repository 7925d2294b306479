// The content tool puts DDS textures, and plain-text PPM images written as
// DDS files, into depots, and the texture handler loads them back from the
// depot it built.

#include "../graphics/DDSTestFiles.h"
#include "DepotTestContent.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/BlobDepot.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/serialization/ImportDDS.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"

#include "TextureContent.h"

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
using assetbuild::RGBAImage;

std::string text(const std::vector<u8>& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct LoadedTexture {
    u32 width = 0;
    u32 height = 0;
    std::vector<u8> pixels;
};

LoadedTexture loadedTexture(u64 key, assets::ResourceCache& cache)
{
    const u32 handle = cache.acquire(key);
    EXPECT_NE(handle, 0u);
    if (handle == 0)
        return {};
    u64 typeId = 0;
    auto* texture = static_cast<graphics::Texture*>(cache.entry(handle, typeId));
    cache.release(handle);
    const graphics::PixelBuffer& image = *texture->pixelBuffer();
    LoadedTexture loaded;
    loaded.width = image.format().width;
    loaded.height = image.format().height;
    const u8* pixels = image.lockPixels();
    loaded.pixels.assign(pixels, pixels + image.format().dataSize);
    image.unlockPixels();
    return loaded;
}

// The texture handler over the depot of `content`, as the game registers it.
class TextureLoading {
public:
    TextureLoading(const DepotContent& content, const char* kind) : m_depot(content.openDepot(kind))
    {
        graphics::Display::set(nullptr);
        m_registry.create<graphics::PixelBufferHandler>();
        assets::AssetHandlerRegistry::setInstance(&m_registry);
    }
    ~TextureLoading()
    {
        m_cache.clear();
        assets::AssetHandlerRegistry::setInstance(nullptr);
        graphics::Display::set(nullptr);
    }
    LoadedTexture load(const std::string& name)
    {
        return loadedTexture(assets::loadAsset(assetId(name), assets::ResourceType::Texture, *m_depot, m_cache), m_cache);
    }

private:
    std::unique_ptr<assets::Depot> m_depot;
    assets::AssetHandlerRegistry m_registry;
    assets::DefaultResourceCache m_cache;
};

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
        TextureLoading loading(content, kind);
        EXPECT_EQ(loading.load("brick.dds").pixels, std::vector<u8>(brick.begin() + 128, brick.end()));
        EXPECT_EQ(loading.load("stone.dds").pixels, std::vector<u8>(stone.begin() + 128, stone.end()));
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

TEST(TextureContent, PlainPPMImagesLoadAsOpaqueRGBAPixels)
{
    // Comments after the magic, inside the header and after the last sample;
    // samples spread over lines in any grouping; maximum value 10, so scaled
    // samples round to the nearest of 0..255.
    const std::string ppm = "P3 # a plain PPM\r\n"
                            "3 # width\n"
                            "2\n"
                            "10\n"
                            "10 0 0   0 10 0   0 0 10\n"
                            "0 0 0 7\n"
                            "7 7 10\t1 2 # the last pixel\n"
                            "# trailing comment";
    for (const char* kind : { "blob", "files" }) {
        SCOPED_TRACE(kind);
        DepotContent content;
        ASSERT_NO_FATAL_FAILURE(content.build({ { "tile.ppm", ppm, "", "texture" } }, kind));
        TextureLoading loading(content, kind);
        const LoadedTexture tile = loading.load("tile.ppm");
        EXPECT_EQ(tile.width, 3u);
        EXPECT_EQ(tile.height, 2u);
        const std::vector<u8> expected = {
            255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, // top row
            0, 0, 0, 255, 179, 179, 179, 255, 255, 26, 51, 255,
        };
        EXPECT_EQ(tile.pixels, expected);
    }
}

TEST(TextureContent, TheWrittenDDSFileIsOneUncompressedLevel)
{
    RGBAImage image;
    image.width = 2;
    image.height = 1;
    image.pixels = { 1, 2, 3, 255, 4, 5, 6, 255 };
    const std::vector<u8> file = assetbuild::writeRGBA32DDS(image);
    ASSERT_EQ(file.size(), graphics::kDDSFileHeaderBytes + 8);
    std::string reason;
    EXPECT_TRUE(graphics::checkDDSFile(file.data(), file.size(), reason)) << reason;
    u8 header[graphics::kDDSFileHeaderBytes];
    std::copy(file.begin(), file.begin() + graphics::kDDSFileHeaderBytes, header);
    const graphics::DDSHeader parsed = graphics::parseDDSHeader(header);
    EXPECT_EQ(parsed.width, 2u);
    EXPECT_EQ(parsed.height, 1u);
    EXPECT_LE(parsed.mipMapCount, 1u);
    EXPECT_EQ(parsed.pixelFormat.rgbBitCount, 32u);
    EXPECT_EQ(graphics::convertPixelFormat(parsed).elementSize, 4u);
    EXPECT_EQ(std::vector<u8>(file.begin() + graphics::kDDSFileHeaderBytes, file.end()), image.pixels);
}

TEST(TextureContent, BadPPMSourcesStopTheBuildNamingTheirLine)
{
    const struct {
        const char* ppm;
        const char* message;
    } cases[] = {
        { "P6 1 1 255 abc", "ppm line 1: \"P6\" is not the magic of a plain-text PPM (P3)" },
        { "P3x 1 1 255 0 0 0", "ppm line 1: \"P3x\" is not the magic of a plain-text PPM (P3)" },
        { "P3\n# no size", "ppm line 2: the file ends before the width" },
        { "P3\n2", "ppm line 2: the file ends before the height" },
        { "P3\n2 2\n\n", "ppm line 4: the file ends before the maximum value" },
        { "P3\n0 1 255", "ppm line 2: the width 0 is not between 1 and 16384" },
        { "P3\n1\n16385 255", "ppm line 3: the height 16385 is not between 1 and 16384" },
        { "P3 1 1\n0", "ppm line 2: the maximum value 0 is not between 1 and 255" },
        { "P3 1 1\n65535\n0 0 0", "ppm line 2: the maximum value 65535 is not between 1 and 255" },
        { "P3 1 1 255\n0 -1 0", "ppm line 2: \"-1\" is not a decimal number" },
        { "P3 1 1 255\n0 0x10 0", "ppm line 2: \"0x10\" is not a decimal number" },
        { "P3 1 1 255\n0 1#2 0", "ppm line 2: the file ends after 2 of 3 samples" },
        { "P3 1 1 255 0 0 99999999999", "ppm line 1: \"99999999999\" is too large" },
        { "P3 1 1 9\n0\n10 0", "ppm line 3: sample 10 is above the maximum value 9" },
        { "P3 2 1 255\n0 0 0\n1 1", "ppm line 3: the file ends after 5 of 6 samples" },
        { "P3 1 1 255\n0 0 0\n\n7 # one too many", "ppm line 4: \"7\" is more than the 3 samples of 1 x 1 pixels" },
        { "P3 16384 16384 255 1 2 3", "ppm line 1: the file ends after 3 of 805306368 samples" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ppm);
        DepotContent content;
        const std::string error = content.tryBuild(
            { { "ok.ppm", "P3 1 1 1 1 1 1", "", "texture" }, { "bad.ppm", c.ppm, "", "texture" } });
        EXPECT_EQ(error, std::string("line 2: texture bad.ppm: ") + c.message);
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
