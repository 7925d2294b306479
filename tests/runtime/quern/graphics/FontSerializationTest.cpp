#include "quern/graphics/serialization/FontSerialization.h"

#include "../assets/DepotTestContent.h"
#include "GraphicsContent.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/BlobDepot.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/TextPODToken.h"

#include "support/ExactAlignmentAllocator.h"
#include "support/ExactAlignmentLoading.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace quern::graphics {
namespace {

constexpr const char* kSansFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A small hand-made font: two glyphs on a 4 x 2 page.
assetbuild::FontDocument tinyFont()
{
    assetbuild::FontDocument font;
    font.name = "tiny";
    font.firstChar = 'a';
    font.lastChar = 'b';
    font.defaultSize = 8;
    font.ascent = 6;
    font.descent = -2;
    font.lineGap = 1;
    font.glyphs = { Glyph { 0, 1, 0.5f, 0, 2, 2, 0, -6, 5 }, Glyph { 0.5f, 1, 1, 0, 2, 2, 1, -6, 7 } };
    font.index = { GlyphIndex { 'a', 8, 0 }, GlyphIndex { 'b', 8, 1 } };
    font.extra = { 1, 2, 3 };
    font.page.width = 4;
    font.page.height = 2;
    for (u8 i = 0; i < 32; ++i)
        font.page.pixels.push_back(i);
    return font;
}

std::string fontBytes(const assetbuild::FontDocument& font, bool text)
{
    std::ostringstream out;
    serialize::BinaryPODToken binary;
    serialize::TextPODToken textToken;
    std::string error;
    EXPECT_TRUE(
        assetbuild::writeFontFile(out, text ? static_cast<serialize::PODToken&>(textToken) : binary, font, error))
        << error;
    return out.str();
}

void readFontFrom(const std::string& bytes, Font& font)
{
    StringSource source(bytes.data(), bytes.size());
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    readFont(source,
        serialize::isTextPODForm(static_cast<u8>(bytes[0])) ? static_cast<serialize::PODToken&>(text) : binary, font);
}

TEST(FontFile, ReadsEveryFieldInBothForms)
{
    const assetbuild::FontDocument tiny = tinyFont();
    for (bool text : { false, true }) {
        Font font;
        readFontFrom(fontBytes(tiny, text), font);
        EXPECT_STREQ(font.name.c_str(), "tiny");
        EXPECT_EQ(font.firstChar, u32 { 'a' });
        EXPECT_EQ(font.lastChar, u32 { 'b' });
        EXPECT_EQ(font.defaultSize, 8);
        EXPECT_EQ(font.ascent, 6);
        EXPECT_EQ(font.descent, -2);
        EXPECT_EQ(font.lineGap, 1);
        ASSERT_EQ(font.glyphs.count(), 2u);
        EXPECT_EQ(std::memcmp(font.glyphs.data(), tiny.glyphs.data(), 2 * sizeof(Glyph)), 0);
        ASSERT_EQ(font.glyphIndex.count(), 2u);
        EXPECT_EQ(std::memcmp(font.glyphIndex.data(), tiny.index.data(), 2 * sizeof(GlyphIndex)), 0);
        ASSERT_EQ(font.extra.count(), 3u);
        EXPECT_EQ(font.extra.at<u8>(2), 3);
        EXPECT_FLOAT_EQ(font.getTextWidth("ab", 16, 1, false), 10 + 1 + 14);
    }
}

TEST(FontFileDeathTest, FilesThatDoNotHoldTogetherAreFatal)
{
    struct Case {
        const char* what;
        std::function<void(assetbuild::FontDocument&)> damage;
        const char* message;
    };
    const Case cases[] = {
        { "index past the glyphs", [](auto& f) { f.index[1].glyph = 2; }, "index record 1 names glyph 2 of 2" },
        { "negative glyph", [](auto& f) { f.index[0].glyph = -1; }, "index record 0 names glyph -1 of 2" },
        // Measuring reads glyphIndex[g] for glyph g: fewer records than glyphs
        // must not name the later glyphs.
        { "index shorter than the glyphs",
            [](auto& f) {
                f.index = { GlyphIndex { 'b', 8, 1 } };
            },
            "index record 0 names glyph 1 of 2" },
    };
    for (const Case& c : cases) {
        assetbuild::FontDocument font = tinyFont();
        c.damage(font);
        const std::string bytes = fontBytes(font, false);
        EXPECT_DEATH(
            {
                Font read;
                readFontFrom(bytes, read);
            },
            std::string("Invalid bitmap font: ") + c.message)
            << c.what;
    }
}

TEST(FontFileDeathTest, CountBeyondTheFileIsFatal)
{
    std::string bytes = fontBytes(tinyFont(), false);
    // The glyph count follows the 8-byte chunk id, the 4-byte name length and
    // name, and six 4-byte values.
    const size_t glyphCount = 8 + 4 + 4 + 6 * 4;
    const u32 huge = 0x7fffffff;
    std::memcpy(bytes.data() + glyphCount, &huge, 4);
    EXPECT_DEATH(
        {
            Font read;
            readFontFrom(bytes, read);
        },
        "Invalid bitmap font: 2147483647 glyphs in [0-9]+ bytes");
}

TEST(FontFileDeathTest, StreamThatIsNoFontIsFatal)
{
    std::ostringstream out;
    serialize::BinaryPODToken token;
    token.endWriteChunk(out, token.beginWriteChunk(out, assets::ResourceType::Texture));
    EXPECT_DEATH(
        {
            Font read;
            readFontFrom(out.str(), read);
        },
        "Unexpected chunk type, expected=font, actual=texture");
}

// Fonts loaded through their handler from a depot the content tool built.
class FontLoading : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry.create<FontHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
    }
    void TearDown() override { assets::AssetHandlerRegistry::setInstance(nullptr); }

    void build(const std::vector<test::ContentAsset>& assets)
    {
        content.build(assets);
        depot.openIndex(content.out().c_str());
    }

    // Through loadAsset, or with every block of the load from `allocator`.
    Font* load(const std::string& name, memory::Allocator* allocator = nullptr)
    {
        const u64 id = test::assetId(name);
        const u64 key = allocator ? quern::testing::loadAssetFrom(*allocator, id, kFontTypeId, depot, cache)
                                  : assets::loadAsset(id, kFontTypeId, depot, cache);
        assets::CacheEntry* entry = cache.find(key);
        return entry ? static_cast<Font*>(entry->resource) : nullptr;
    }

    Texture* cachedTexture(const std::string& name)
    {
        assets::CacheEntry* entry = cache.find(assets::resourceKey(test::assetId(name), assets::ResourceType::Texture));
        return entry ? static_cast<Texture*>(entry->resource) : nullptr;
    }

    assets::AssetHandlerRegistry registry;
    test::DepotContent content;
    assets::BlobDepot depot;
    assets::DefaultResourceCache cache;
};

TEST_F(FontLoading, HandMadeFontAndPageLoadIntoTheCache)
{
    build({ { "tiny.font", fontBytes(tinyFont(), false), "", "data" } });
    Font* font = load("tiny.font");
    ASSERT_NE(font, nullptr);
    EXPECT_STREQ(font->name.c_str(), "tiny");
    Texture* texture = cachedTexture("tiny.font");
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(font->texture, texture);
    EXPECT_EQ(texture->state(), assets::Resource::Loaded);
    const PixelBuffer& page = *texture->pixelBuffer();
    ASSERT_EQ(page.format().width, 4u);
    ASSERT_EQ(page.format().height, 2u);
    EXPECT_EQ(page.pixelFormat(), PixelFormat::A8B8G8R8);
    const u8* pixels = page.lockPixels();
    const std::vector<u8> expected = tinyFont().page.pixels;
    EXPECT_EQ(std::memcmp(pixels, expected.data(), expected.size()), 0);
    page.unlockPixels();
}

// The handler keeps the page and the texture in its scratch memory from load
// to finalize.
TEST_F(FontLoading, LoadsWhereTheAllocatorGivesOnlyTheAlignmentAsked)
{
    quern::testing::ExactAlignmentAllocator exact;
    build({ { "tiny.font", fontBytes(tinyFont(), false), "", "data" } });
    Font* font = load("tiny.font", &exact);
    ASSERT_NE(font, nullptr);
    Texture* texture = cachedTexture("tiny.font");
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(font->texture, texture);
    EXPECT_EQ(texture->state(), assets::Resource::Loaded);
    EXPECT_EQ(texture->pixelBuffer()->format().width, 4u);
    EXPECT_EQ(exact.live, 0);
}

TEST_F(FontLoading, FontTheCacheHoldsIsNotReadAgain)
{
    build({ { "tiny.font", fontBytes(tinyFont(), true), "", "data" } });
    Font* first = load("tiny.font");
    ASSERT_NE(first, nullptr);
    first->ascent = 99;
    EXPECT_EQ(load("tiny.font"), first);
    EXPECT_EQ(first->ascent, 99);
}

TEST_F(FontLoading, ContentToolBakesTrueTypeFontsInEitherForm)
{
    const std::string source = std::string("file ") + kSansFont + "\nsize 20\nrange 32 126\n";
    build({ { "sans.font", source, "", "font" }, { "sanstext.font", source + "form text\nname sans\n", "", "font" } });
    Font* binary = load("sans.font");
    Font* text = load("sanstext.font");
    ASSERT_NE(binary, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(binary->name.c_str(), "sans.font");
    EXPECT_STREQ(text->name.c_str(), "sans");
    for (const Font* font : { binary, text }) {
        EXPECT_EQ(font->glyphs.count(), 95u);
        EXPECT_EQ(font->defaultSize, 20);
        EXPECT_GT(font->ascent, 0);
        EXPECT_LT(font->descent, 0);
        EXPECT_NEAR(font->ascent - font->descent, 20, 1);
        // A proportional font: narrow letters measure narrower.
        EXPECT_LT(font->getTextWidth("iiii", 20, 0, false), font->getTextWidth("MMMM", 20, 0, false));
        EXPECT_FLOAT_EQ(font->getTextWidth("MMMM", 40, 0, false), 2 * font->getTextWidth("MMMM", 20, 0, false));
        const Glyph& m = font->glyph(font->findGlyph('M', 20));
        EXPECT_GT(m.width, 8u);
        EXPECT_GT(m.height, 8u);
        EXPECT_LT(m.offsetY, 0.0f);
    }
    // Both forms carry the same glyphs, bit for bit.
    EXPECT_EQ(std::memcmp(binary->glyphs.data(), text->glyphs.data(), binary->glyphs.usedBytes()), 0);

    // The page holds the glyphs' coverage inside their rectangles.
    const PixelBuffer& page = *binary->texture->pixelBuffer();
    const Glyph& m = binary->glyph(binary->findGlyph('M', 20));
    const u32 x0 = static_cast<u32>(m.s0 * 256 + 0.5f);
    const u32 y0 = static_cast<u32>((1 - m.t0) * 256 + 0.5f);
    const u8* pixels = page.lockPixels();
    u32 ink = 0;
    for (u32 y = y0; y < y0 + m.height; ++y)
        for (u32 x = x0; x < x0 + m.width; ++x)
            ink += pixels[(y * 256 + x) * 4 + 3];
    page.unlockPixels();
    EXPECT_GT(ink, 255u * 20);
}

using FontLoadingDeathTest = FontLoading;

TEST_F(FontLoadingDeathTest, FontWithoutItsPageIsFatal)
{
    std::ostringstream out;
    serialize::BinaryPODToken token;
    std::string error;
    ASSERT_TRUE(assetbuild::writeFontChunk(out, token, tinyFont(), error));
    token.endWriteChunk(out, token.beginWriteChunk(out, 12345));
    build({ { "tiny.font", out.str(), "", "data" } });
    EXPECT_DEATH(load("tiny.font"), "Failed to load bitmap font texture");
}

TEST(FontSource, ContentToolRefusesBadSources)
{
    struct Case {
        std::string source;
        const char* error;
    };
    const Case cases[] = {
        { "size 20\n", "needs a file line" },
        { std::string("file ") + kSansFont + "\nsize 0\n", "line 2: expected" },
        { std::string("file ") + kSansFont + "\nrange 90 80\n", "line 2: expected" },
        { std::string("file ") + kSansFont + "\nsize 200\npage 64 64\n", "do not fit" },
        { std::string("file ") + kSansFont + "\nform json\n", "line 2: expected" },
        { "file /nonexistent/font.ttf\n", "cannot read" },
        { "file " + std::string(QUERN_TEST_SOURCE_DIR) + "/FontTest.cpp\n", "not a TrueType font file" },
    };
    for (const Case& c : cases) {
        assetbuild::ManifestAsset asset;
        asset.name = "bad.font";
        asset.type = "font";
        std::vector<u8> bytes(c.source.begin(), c.source.end());
        std::string error;
        EXPECT_FALSE(assetbuild::convertGraphicsContent(asset, ".", {}, bytes, error)) << c.source;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

} // namespace
} // namespace quern::graphics
