#include "quern/assets/DefaultResourceCache.h"
#include "quern/graphics/DefaultFontData.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

namespace quern::graphics {
namespace {

u64 pageTextureKey()
{
    const std::string_view name = kDefaultFontName;
    return assets::resourceKey(strings::murmurHash64A(name.data(), name.size(), 0), assets::ResourceType::Texture);
}

Texture* cachedPageTexture(assets::ResourceCache& cache)
{
    assets::CacheEntry* entry = cache.find(pageTextureKey());
    return entry ? static_cast<Texture*>(entry->resource) : nullptr;
}

// Holds a built-in font for one test and lets it go before the cache.
class BuiltinFontTest : public ::testing::Test {
protected:
    Font& make(assets::ResourceCache* cache)
    {
        m_font = Ref(createBuiltinFont(cache));
        return *m_font.get<Font>();
    }

    assets::DefaultResourceCache m_cache;
    Ref m_font;
};

TEST_F(BuiltinFontTest, CoversCodePoints32To255WithTwelveByTwentyTwoGlyphs)
{
    const Font& font = make(&m_cache);
    EXPECT_STREQ(font.name.c_str(), "courier.mofo");
    EXPECT_EQ(font.firstChar, 32u);
    EXPECT_EQ(font.lastChar, 255u);
    EXPECT_EQ(font.defaultSize, 22);
    EXPECT_EQ(font.ascent, 22);
    EXPECT_EQ(font.descent, 0);
    EXPECT_EQ(font.lineGap, 0);
    ASSERT_EQ(font.glyphIndex.count(), 224u);
    for (i32 c = 32; c <= 255; ++c) {
        const i32 g = font.findGlyph(c, 22);
        // Every record, code point 255's included, names a glyph the font has.
        ASSERT_GE(g, 0) << c;
        ASSERT_LT(static_cast<u64>(g), font.glyphs.count()) << c;
        const Glyph& glyph = font.glyph(g);
        EXPECT_EQ(glyph.width, 12u);
        EXPECT_EQ(glyph.height, 22u);
        EXPECT_FLOAT_EQ(glyph.offsetY, -22);
        EXPECT_FLOAT_EQ(glyph.advance, 12);
        EXPECT_NEAR((glyph.s1 - glyph.s0) * 256, 12, 1e-3) << c;
        EXPECT_NEAR((glyph.t0 - glyph.t1) * 256, 22, 1e-3) << c;
        EXPECT_GE(glyph.s0, 0.0f);
        EXPECT_LE(glyph.s1, 1.0f);
        EXPECT_GE(glyph.t1, 0.0f);
        EXPECT_LE(glyph.t0, 1.0f);
    }
    EXPECT_EQ(font.findGlyph(31, 22), -1);
    EXPECT_EQ(font.findGlyph(256, 22), -1);
}

TEST_F(BuiltinFontTest, MeasuresFixedAdvancesScaledToTheSize)
{
    const Font& font = make(&m_cache);
    // Each glyph advances 11 / 22 x 12 = 6 pixels.
    EXPECT_FLOAT_EQ(font.getTextWidth("Hello", 11, 0, false), 30);
    EXPECT_FLOAT_EQ(font.getTextWidth("Hello", 11, 2.5f, false), 30 + 4 * 2.5f);
    EXPECT_FLOAT_EQ(font.getTextWidth("\xC3\xBF\xC3\xA9", 22, 0, false), 24); // U+00FF, U+00E9
    EXPECT_FLOAT_EQ(font.getTextHeight("a\nb", 11, 1), 11 * 2 + 1);
}

TEST_F(BuiltinFontTest, PageIsWhiteWithTheCoverageAsAlphaAndClearBelowTheGlyphs)
{
    const Font& font = make(&m_cache);
    ASSERT_NE(font.texture, nullptr);
    const PixelBuffer& page = *font.texture->pixelBuffer();
    ASSERT_EQ(page.format().width, 256u);
    ASSERT_EQ(page.format().height, 256u);
    ASSERT_EQ(page.pixelFormat(), PixelFormat::A8B8G8R8);
    const u8* pixels = page.lockPixels();
    bool coverageMatches = true;
    bool restIsClear = true;
    for (u32 i = 0; i < 256 * 256; ++i) {
        const u8* pixel = pixels + i * 4;
        if (i < kDefaultFontCoverageBytes)
            coverageMatches = coverageMatches && pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255
                && pixel[3] == kDefaultFontCoverage[i];
        else
            restIsClear = restIsClear && pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0 && pixel[3] == 0;
    }
    page.unlockPixels();
    EXPECT_TRUE(coverageMatches);
    EXPECT_TRUE(restIsClear);
}

TEST_F(BuiltinFontTest, GlyphCellsHoldInkExceptForBlanks)
{
    const Font& font = make(&m_cache);
    const auto ink = [&](i32 codePoint) {
        const Glyph& glyph = font.glyph(font.findGlyph(codePoint, 22));
        const u32 x0 = static_cast<u32>(glyph.s0 * 256 + 0.5f);
        const u32 y0 = static_cast<u32>((1 - glyph.t0) * 256 + 0.5f);
        u32 sum = 0;
        for (u32 y = y0; y < y0 + 22; ++y)
            for (u32 x = x0; x < x0 + 12; ++x)
                sum += kDefaultFontCoverage[y * 256 + x];
        return sum;
    };
    for (i32 c : { i32 { 'A' }, i32 { 'g' }, i32 { 'W' }, i32 { '@' }, i32 { '~' }, 0xE9, 0xFF })
        EXPECT_GT(ink(c), 1000u) << c;
    EXPECT_EQ(ink(' '), 0u);
    EXPECT_EQ(ink(0xA0), 0u); // no-break space
    // Cells of different glyphs differ.
    EXPECT_NE(ink('i'), ink('m'));
}

TEST_F(BuiltinFontTest, PageTextureIsCachedUnderTheFontNameAndLoaded)
{
    const Font& font = make(&m_cache);
    Texture* texture = cachedPageTexture(m_cache);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(font.texture, texture);
    EXPECT_EQ(texture->state(), assets::Resource::Loaded);
    EXPECT_EQ(texture->pixelBuffer()->format().width, 256u);
}

TEST_F(BuiltinFontTest, SecondFontReusesTheCachedTexture)
{
    const Font& first = make(&m_cache);
    Texture* texture = first.texture;
    const u32 stamp = texture->changeStamp();
    Ref second(createBuiltinFont(&m_cache));
    EXPECT_EQ(second.get<Font>()->texture, texture);
    EXPECT_NE(texture->changeStamp(), stamp);
}

TEST_F(BuiltinFontTest, PageTextureOutlivesAPurgeWhileTheFontLives)
{
    make(&m_cache);
    m_cache.purgeUnreferenced();
    EXPECT_NE(cachedPageTexture(m_cache), nullptr);
    m_font.reset();
    m_cache.purgeUnreferenced();
    EXPECT_EQ(cachedPageTexture(m_cache), nullptr);
}

TEST_F(BuiltinFontTest, WithoutACacheTheFontOwnsItsPage)
{
    Font* font = createBuiltinFont(nullptr);
    EXPECT_EQ(font->refCount(), 0);
    m_font = Ref(font);
    ASSERT_NE(font->texture, nullptr);
    EXPECT_EQ(font->texture->state(), assets::Resource::Loaded);
    const u8* pixels = font->texture->pixelBuffer()->lockPixels();
    EXPECT_EQ(std::memcmp(pixels + 3, &kDefaultFontCoverage[0], 1), 0);
    font->texture->pixelBuffer()->unlockPixels();
    EXPECT_FLOAT_EQ(font->getTextWidth("abc", 22, 0, false), 36);
}

TEST(DefaultFont, MadeOnceFromTheCurrentCacheUntilReleased)
{
    assets::DefaultResourceCache cache;
    containers::Array& stack = assets::ResourceCache::cacheStack();
    stack.append<assets::ResourceCache*>(&cache);
    Font* font = Font::getDefault();
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(Font::getDefault(), font);
    EXPECT_EQ(font->refCount(), 1);
    EXPECT_EQ(font->texture, cachedPageTexture(cache));
    Font::releaseDefault();
    stack.removeValue(static_cast<assets::ResourceCache*>(&cache));

    // With no cache at all the default font still measures and has a page.
    Font* uncached = Font::getDefault();
    ASSERT_NE(uncached, nullptr);
    EXPECT_NE(uncached->texture, nullptr);
    EXPECT_FLOAT_EQ(uncached->getTextWidth("ab", 22, 0, false), 24);
    Font::releaseDefault();
}

} // namespace
} // namespace quern::graphics
