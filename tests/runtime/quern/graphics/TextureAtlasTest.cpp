#include "quern/graphics/TextureAtlas.h"

#include "../assets/DepotTestContent.h"
#include "GraphicsContent.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/BlobDepot.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/graphics/DefaultTextures.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureAtlasHandler.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/Hashes.h"
#include "support/ExactAlignmentAllocator.h"
#include "support/ExactAlignmentLoading.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quern::graphics {
namespace {

using assetbuild::AtlasRegionSource;

// The region block of an atlas file, in memory from the default allocator.
struct Block {
    void* data = nullptr;
    u64 size = 0;
};

Block regionBlock(const std::vector<u8>& file)
{
    Block block;
    block.size = file.size() - 16;
    if (block.size > 0) {
        block.data = memory::getDefaultAllocator()->allocate(block.size, 8);
        std::memcpy(block.data, file.data() + 16, block.size);
    }
    return block;
}

void setBlock(TextureAtlas& atlas, const std::vector<u8>& file)
{
    const Block block = regionBlock(file);
    atlas.setData(block.data, block.size, memory::getDefaultAllocator());
}

void putU32(std::vector<u8>& file, u64 offset, u32 value)
{
    for (u32 i = 0; i < 4; ++i)
        file[offset + i] = static_cast<u8>(value >> (8 * i));
}

const std::vector<AtlasRegionSource> kIcons = {
    { "heart", 0, 0, 16, 16, { 1, 2, 3, 4, 5 } },
    { "star", 16, 0, 16, 16, {} },
    { "coin", 32, 8, 8, 24, {} },
};

TEST(TextureAtlas, RegionsAreFoundByNameWithTheirRectangles)
{
    TextureAtlas atlas;
    setBlock(atlas, assetbuild::buildAtlasFile(77, kIcons));
    ASSERT_EQ(atlas.regionCount(), 3u);
    for (const AtlasRegionSource& icon : kIcons) {
        const TextureRegion* region = atlas.findRegion(icon.name);
        ASSERT_NE(region, nullptr) << icon.name;
        EXPECT_EQ(atlas.regionName(*region), icon.name);
        EXPECT_EQ(region->x, icon.x);
        EXPECT_EQ(region->y, icon.y);
        EXPECT_EQ(region->width, icon.width);
        EXPECT_EQ(region->height, icon.height);
        EXPECT_EQ(std::memcmp(region->reserved, icon.reserved, sizeof icon.reserved), 0);
    }
    EXPECT_EQ(atlas.poolLength(), std::strlen("heartstarcoin"));
}

TEST(TextureAtlas, NamesMustMatchWhole)
{
    TextureAtlas atlas;
    setBlock(atlas, assetbuild::buildAtlasFile(77, kIcons));
    for (const char* name : { "hearts", "hear", "Heart", "", "heartstar", "coin " })
        EXPECT_EQ(atlas.findRegion(name), nullptr) << name;
    EXPECT_EQ(atlas.findRegion(std::string_view("star\0", 5)), nullptr);
}

TEST(TextureAtlas, CollidingHashesAreToldApartByLengthAndText)
{
    std::vector<u8> file = assetbuild::buildAtlasFile(
        77, { { "ab", 1, 0, 1, 1, {} }, { "b", 2, 0, 1, 1, {} }, { "a", 3, 0, 1, 1, {} } });
    // Give every region the hash of "a".
    const u64 hash = strings::murmurHash64A("a", 1, strings::kInternerSeed);
    const u64 hashes = 16 + ((8 + 3 * 44 + 7) & ~u64 { 7 });
    for (u64 i = 0; i < 3; ++i)
        std::memcpy(file.data() + hashes + i * 8, &hash, 8);
    TextureAtlas atlas;
    setBlock(atlas, file);
    const TextureRegion* a = atlas.findRegion("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->x, 3u);
    // Their own hashes no longer match, so they are not found at all.
    EXPECT_EQ(atlas.findRegion("b"), nullptr);
    EXPECT_EQ(atlas.findRegion("ab"), nullptr);
}

TEST(TextureAtlas, EmptyBlockHasNoRegions)
{
    TextureAtlas atlas;
    setBlock(atlas, assetbuild::buildAtlasFile(77, {}));
    EXPECT_EQ(atlas.regionCount(), 0u);
    EXPECT_EQ(atlas.findRegion("heart"), nullptr);
    EXPECT_EQ(atlas.findRegion(""), nullptr);
}

TEST(TextureAtlasDeathTest, BlocksThatDoNotHoldTogetherAreRefusedBeforeUse)
{
    const std::vector<u8> good = assetbuild::buildAtlasFile(77, kIcons);
    const u64 records = 16 + 8;
    struct Case {
        const char* what;
        std::function<void(std::vector<u8>&)> damage;
        const char* message;
    };
    const Case cases[] = {
        { "count past the block", [](std::vector<u8>& f) { putU32(f, 16, 4); }, "4 regions do not fit" },
        { "huge count", [](std::vector<u8>& f) { putU32(f, 16, 0xFFFFFFFFu); }, "4294967295 regions do not fit" },
        { "pool cut short", [](std::vector<u8>& f) { f.pop_back(); }, "string pool of 13 bytes" },
        { "last name past the block", [=](std::vector<u8>& f) { putU32(f, records + 2 * 44, 100); },
            "string pool of 104 bytes" },
        { "middle name outside the pool", [=](std::vector<u8>& f) { putU32(f, records + 44 + 4, 40); },
            "name of region 1 lies outside" },
        { "no room for the count", [](std::vector<u8>& f) { f.resize(16 + 4); }, "has no room for its count" },
    };
    for (const Case& c : cases) {
        std::vector<u8> file = good;
        c.damage(file);
        EXPECT_DEATH(
            {
                TextureAtlas atlas;
                setBlock(atlas, file);
            },
            std::string("Invalid texture atlas: .*") + c.message)
            << c.what;
    }
}

// Atlases loaded through their handler from a depot the content tool built.
class TextureAtlasLoading : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry.create<TextureAtlasHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
    }
    void TearDown() override { assets::AssetHandlerRegistry::setInstance(nullptr); }

    void build(const std::string& atlasSource, const std::string& dependencies = "icons.dds")
    {
        const std::span<const u8> white = whiteDDSImage();
        content.build({ { "icons.dds", std::string(white.begin(), white.end()), "", "texture" },
            { "icons.atlas", atlasSource, dependencies, "textureatlas" } });
        depot.openIndex(content.out().c_str());
    }

    // Through loadAsset, or with every block of the load from `allocator`.
    TextureAtlas* load(memory::Allocator* allocator = nullptr)
    {
        const u64 id = test::assetId("icons.atlas");
        const u64 key = allocator ? quern::testing::loadAssetFrom(*allocator, id, kTextureAtlasTypeId, depot, cache)
                                  : assets::loadAsset(id, kTextureAtlasTypeId, depot, cache);
        assets::CacheEntry* entry = cache.find(key);
        return entry ? static_cast<TextureAtlas*>(entry->resource) : nullptr;
    }

    assets::AssetHandlerRegistry registry;
    test::DepotContent content;
    assets::BlobDepot depot;
    quern::testing::ExactAlignmentAllocator exact; // outlives the atlases made from it
    assets::DefaultResourceCache cache;
};

TEST_F(TextureAtlasLoading, LinksTheCachedTextureAndFindsRegions)
{
    build("texture icons.dds\nregion heart 0 0 16 16\nregion star 16 0 16 16  # the second\n");
    Texture* texture = createTexture("icons.dds", cache);
    TextureAtlas* atlas = load();
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(atlas->texture, texture);
    ASSERT_EQ(atlas->regionCount(), 2u);
    const TextureRegion* star = atlas->findRegion("star");
    ASSERT_NE(star, nullptr);
    EXPECT_EQ(star->x, 16u);
}

// The handler keeps the atlas pointer and the texture id in its scratch
// memory from load to link; the block of regions is read in place.
TEST_F(TextureAtlasLoading, LoadsWhereTheAllocatorGivesOnlyTheAlignmentAsked)
{
    build("texture icons.dds\nregion heart 0 0 16 16\nregion star 16 0 16 16\n");
    Texture* texture = createTexture("icons.dds", cache);
    TextureAtlas* atlas = load(&exact);
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(atlas->texture, texture);
    const TextureRegion* star = atlas->findRegion("star");
    ASSERT_NE(star, nullptr);
    EXPECT_EQ(star->x, 16u);
    EXPECT_EQ(exact.live, 1); // the scratch is back; the atlas keeps its region block
}

TEST_F(TextureAtlasLoading, AtlasWithoutRegionsLoads)
{
    build("texture icons.dds\n");
    createTexture("icons.dds", cache);
    TextureAtlas* atlas = load();
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(atlas->blockSize(), 0u);
    EXPECT_EQ(atlas->findRegion("heart"), nullptr);
}

TEST_F(TextureAtlasLoading, AtlasTheCacheHoldsIsNotReadAgain)
{
    build("texture icons.dds\nregion heart 0 0 16 16\n");
    createTexture("icons.dds", cache);
    TextureAtlas* first = load();
    const u8* block = first->block();
    EXPECT_EQ(load(), first);
    EXPECT_EQ(first->block(), block);
}

using TextureAtlasLoadingDeathTest = TextureAtlasLoading;

TEST_F(TextureAtlasLoadingDeathTest, MissingTextureIsFatal)
{
    build("texture icons.dds\nregion heart 0 0 16 16\n");
    EXPECT_DEATH(load(), "Texture atlas texture [0-9a-f]{16} is not loaded");
}

TEST_F(TextureAtlasLoadingDeathTest, FileShorterThanItsHeaderIsFatal)
{
    content.build({ { "icons.atlas", "short", "", "data" } });
    depot.openIndex(content.out().c_str());
    EXPECT_DEATH(load(), "Invalid texture atlas: 5 bytes hold no 16-byte header");
}

const std::string kSheet = "glyphsheet\nfont /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf\nsize 8\ncell 20 10\n"
                           "columns 2\nglyph heart circle ff0000 H\nglyph star key ffff00\nglyph coin pill 808000 C\n";

TEST_F(TextureAtlasLoading, GlyphsLineNamesEveryCellOfTheSheetWithItsRectangle)
{
    content.build({ { "icons.glyphs", kSheet, "", "texture" },
        { "icons.atlas", "glyphs icons.glyphs\nregion whole 0 0 40 20\n", "icons.glyphs", "textureatlas" } });
    depot.openIndex(content.out().c_str());
    Texture* texture = createTexture("icons.glyphs", cache);
    TextureAtlas* atlas = load();
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(atlas->texture, texture);
    ASSERT_EQ(atlas->regionCount(), 4u);
    const struct {
        const char* name;
        u32 x, y, width, height;
    } expected[] = {
        { "heart", 0, 0, 20, 10 },
        { "star", 20, 0, 20, 10 },
        { "coin", 0, 10, 20, 10 },
        { "whole", 0, 0, 40, 20 },
    };
    for (const auto& e : expected) {
        const TextureRegion* region = atlas->findRegion(e.name);
        ASSERT_NE(region, nullptr) << e.name;
        EXPECT_EQ(region->x, e.x) << e.name;
        EXPECT_EQ(region->y, e.y) << e.name;
        EXPECT_EQ(region->width, e.width) << e.name;
        EXPECT_EQ(region->height, e.height) << e.name;
    }
}

TEST(AtlasSource, ContentToolRefusesBadGlyphsLines)
{
    const struct {
        const char* atlas;
        std::string sheet;
        const char* message;
    } cases[] = {
        { "glyphs icons.glyphs\nregion star 0 0 1 1\n", kSheet,
            "icons.atlas line 2: region star is named twice (first on line 1)" },
        { "region a 0 0 1 1\nregion a 1 1 1 1\n", kSheet,
            "icons.atlas line 2: region a is named twice (first on line 1)" },
        { "glyphs icons.glyphs\ntexture icons.glyphs\n", kSheet, "icons.atlas line 2: expected one texture or glyphs" },
        { "texture icons.glyphs\nglyphs icons.glyphs\n", kSheet, "icons.atlas line 2: expected one texture or glyphs" },
        { "glyphs icons.glyphs extra\n", kSheet, "icons.atlas line 1: expected one texture or glyphs" },
        { "glyphs icons.glyphs\n", "P3 1 1 1 1 1 1",
            "icons.atlas line 1: the texture @/icons.glyphs is no glyph sheet" },
        { "glyphs icons.glyphs\n", kSheet + "glyph star circle 000000\n",
            "icons.atlas line 1: icons.glyphs: glyph sheet line 9: the glyph star is named twice (first on line 7)" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.atlas);
        test::DepotContent content;
        std::string expected = c.message;
        if (const size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, content.directory().file("src"));
        const std::string error = content.tryBuild(
            { { "icons.atlas", c.atlas, "icons.glyphs", "textureatlas" }, { "icons.glyphs", c.sheet, "", "data" } });
        EXPECT_EQ(error.substr(0, expected.size()), expected);
    }
}

TEST(AtlasSource, ContentToolRefusesBadSources)
{
    struct Case {
        const char* source;
        const char* dependencies;
        const char* error;
    };
    const Case cases[] = {
        { "region heart 0 0 16 16\n", "icons.dds", "needs a texture or glyphs line" },
        { "texture icons.dds\n", "", "must be an asset it lists as a dependency" },
        { "texture icons.dds\nregion heart 0 0 16\n", "icons.dds", "line 2: expected" },
        { "texture icons.dds\nregion heart 0 -1 16 16\n", "icons.dds", "line 2: expected" },
        { "texture icons.dds\ntexture icons.dds\n", "icons.dds", "line 2: expected" },
    };
    for (const Case& c : cases) {
        assetbuild::ManifestAsset asset;
        asset.name = "icons.atlas";
        asset.type = "textureatlas";
        if (*c.dependencies)
            asset.dependencies.push_back(c.dependencies);
        std::vector<u8> bytes(c.source, c.source + std::strlen(c.source));
        std::string error;
        EXPECT_FALSE(assetbuild::convertGraphicsContent(asset, ".", { { "icons.dds", 1 } }, bytes, error)) << c.source;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

} // namespace
} // namespace quern::graphics
