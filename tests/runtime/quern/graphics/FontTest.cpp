#include "quern/graphics/Font.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <thread>
#include <vector>

namespace quern::graphics {
namespace {

struct GlyphSpec {
    i32 codePoint;
    i32 size;
    f32 advance;
};

// A font whose glyph i is described by index record i, as fonts are stored.
void fillFont(Font& font, std::initializer_list<GlyphSpec> specs)
{
    for (const GlyphSpec& spec : specs) {
        const i32 number = static_cast<i32>(font.glyphs.count());
        Glyph glyph {};
        glyph.advance = spec.advance;
        font.glyphs.push(&glyph);
        const GlyphIndex record { spec.codePoint, spec.size, number };
        font.glyphIndex.push(&record);
    }
}

TEST(Font, NewFontIsEmpty)
{
    Font font;
    EXPECT_EQ(font.texture, nullptr);
    EXPECT_EQ(font.defaultSize, -1);
    EXPECT_EQ(font.glyphs.count(), 0u);
    EXPECT_EQ(font.findGlyph('A', 12), -1);
    // Spacing still separates glyphs the font does not have.
    EXPECT_EQ(font.getTextWidth("AB", 12, 1, false), 1.0f);
}

TEST(Font, FindGlyphTakesTheExactOrNearestSize)
{
    Font font;
    fillFont(font, { { 'A', 16, 8 }, { 'B', 20, 9 }, { 'A', 32, 16 }, { 'A', 12, 6 } });
    struct Case {
        i32 codePoint;
        f32 size;
        i32 glyph;
    };
    const Case cases[] = {
        { 'A', 16, 0 }, { 'A', 32, 2 }, { 'A', 12, 3 }, // exact sizes win wherever they stand
        { 'A', 20, 0 }, { 'A', 28, 2 }, // nearest
        { 'A', 24, 0 }, // tie between 16 and 32 keeps the earlier record
        { 'A', 14, 0 }, // tie between 12 and 16: 16 comes first
        { 'A', 1, 3 }, { 'B', 100, 1 }, // far away still finds the nearest
        { 'C', 16, -1 }, // no record for the code point
    };
    for (const Case& c : cases)
        EXPECT_EQ(font.findGlyph(c.codePoint, c.size), c.glyph) << "code point " << c.codePoint << " size " << c.size;
}

TEST(Font, TextWidthScalesAdvancesAndStopsOrWrapsAtLineFeeds)
{
    Font font;
    fillFont(font, { { 'a', 22, 10 }, { 'b', 22, 20 }, { 'c', 11, 5 } });
    // Spacing comes between glyphs, never after the last one.
    EXPECT_FLOAT_EQ(font.getTextWidth("ab", 22, 1, false), 10 + 1 + 20);
    // Glyphs scale from their own size to the asked size.
    EXPECT_FLOAT_EQ(font.getTextWidth("c", 22, 0, false), 10);
    EXPECT_FLOAT_EQ(font.getTextWidth("ab", 11, 0, false), 15);
    // Without multiLine a line feed ends the measurement.
    EXPECT_FLOAT_EQ(font.getTextWidth("ab\nbbb", 22, 1, false), 31);
    // With it, the widest line counts.
    EXPECT_FLOAT_EQ(font.getTextWidth("ab\nbbb", 22, 1, true), 62);
    EXPECT_FLOAT_EQ(font.getTextWidth("bbb\nab", 22, 1, true), 62);
    EXPECT_FLOAT_EQ(font.getTextWidth("", 22, 1, true), 0);
    EXPECT_FLOAT_EQ(font.getTextWidth(nullptr, 22, 1, true), 0);
}

TEST(Font, CodePointWithoutGlyphAdvancesByNothingButTakesTheSpacing)
{
    Font font;
    fillFont(font, { { 'a', 22, 10 } });
    EXPECT_FLOAT_EQ(font.getTextWidth("a?a", 22, 2, false), 10 + 2 + 0 + 2 + 10);
    EXPECT_FLOAT_EQ(font.getTextWidth("??", 22, 2, false), 2);
}

TEST(Font, MultiByteCodePointsAreLookedUpWhole)
{
    Font font;
    fillFont(font, { { 0xE9, 22, 7 }, { 0x20AC, 22, 9 }, { 0x1F600, 22, 11 } });
    EXPECT_FLOAT_EQ(font.getTextWidth("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 22, 0, false), 27);
}

TEST(Font, InvalidUtf8EndsTheText)
{
    Font font;
    fillFont(font, { { 'a', 22, 10 } });
    // A stray continuation byte, an overlong form and a surrogate: nothing
    // after them counts.
    for (const char* text : { "aa\x80"
                              "aaaa",
             "aa\xC0\xAF"
             "aaaa",
             "aa\xED\xA0\x80"
             "aaaa" })
        EXPECT_FLOAT_EQ(font.getTextWidth(text, 22, 0, false), 20) << text;
    // Line breaks after a bad byte are not counted either.
    EXPECT_FLOAT_EQ(font.getTextHeight("a\xFF\na", 10, 0), 10);
}

TEST(Font, TextHeightCountsEachKindOfLineBreakOnce)
{
    Font font;
    font.ascent = 16;
    font.descent = -4;
    font.lineGap = 2;
    // One line is size / (ascent - descent) x (lineGap + ascent - descent).
    const f32 line = 10.0f / 20.0f * 22.0f;
    struct Case {
        const char* text;
        u32 lines;
    };
    const Case cases[] = {
        { "a", 1 },
        { "", 1 },
        { "a\r\na", 2 },
        { "a\ra\na", 3 },
        { "a\n\na", 3 },
        { "a\r\ra", 3 },
        { "a\n\ra", 3 },
        { "a\n", 2 },
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(font.getTextHeight(c.text, 10, 3), line * c.lines + 3.0f * (c.lines - 1)) << c.text;
}

TEST(Font, DegenerateMetricsNeverDivideByZero)
{
    Font font;
    // No vertical extent: each line is as high as the asked size.
    font.ascent = 0;
    font.descent = 0;
    EXPECT_FLOAT_EQ(font.getTextHeight("a\na", 10, 1), 21);
    // A glyph recorded at size 0, and a default size of 0 for code points
    // without glyphs.
    font.defaultSize = 0;
    fillFont(font, { { 'z', 0, 5 } });
    const f32 width = font.getTextWidth("z?z", 10, 1, false);
    EXPECT_TRUE(std::isfinite(width));
    EXPECT_FLOAT_EQ(width, 5 + 1 + 0 + 1 + 5);
}

TEST(Font, ExtremeMetricsMeasureWithoutOverflow)
{
    Font font;
    font.ascent = std::numeric_limits<i32>::max();
    font.descent = std::numeric_limits<i32>::min();
    font.lineGap = std::numeric_limits<i32>::max();
    // (lineGap + extent) / extent is 1.5 here.
    EXPECT_FLOAT_EQ(font.getTextHeight("a", 10, 0), 15);
}

TEST(Font, IndexRecordsNamingMissingGlyphsMeasureAsMissing)
{
    Font font;
    fillFont(font, { { 'a', 22, 10 } });
    const GlyphIndex pastTheEnd { 'b', 22, 1 };
    font.glyphIndex.push(&pastTheEnd);
    EXPECT_FLOAT_EQ(font.getTextWidth("ab", 22, 0, false), 10);
}

// Records of a code point need not sit together, code points may lie on any
// page of the code space (or outside it, in a hand-made index), and a record
// may name another record's glyph: the nearest size is weighed against the
// size the remembered glyph's own record carries.
TEST(Font, FindGlyphOverScatteredRecordsAndWholeCodeSpace)
{
    Font font;
    fillFont(font,
        { { 'A', 10, 1 }, { 0x4E00, 22, 1 }, { 'A', 30, 1 }, { 0x10FFFF, 8, 1 }, { -5, 12, 1 }, { 'A', 18, 1 },
            { 0x4E00, 40, 1 }, { 0x110000, 16, 1 }, { 'A', 21, 1 } });
    // Record 9 names glyph 0 (size 10) though it carries size 26.
    const GlyphIndex borrowed { 'B', 26, 0 };
    font.glyphIndex.push(&borrowed);
    const GlyphIndex other { 'B', 20, 3 }; // glyph 3 has size 8 in its own record
    font.glyphIndex.push(&other);
    struct Case {
        i32 codePoint;
        f32 size;
        i32 glyph;
    };
    const Case cases[] = {
        { 'A', 19, 5 },
        { 'A', 20, 8 },
        { 'A', 26, 2 },
        { 'A', 30, 2 },
        { 'A', 14, 0 },
        { 'A', 21, 8 },
        { 0x4E00, 31, 1 },
        { 0x4E00, 32, 6 },
        { 0x4E01, 22, -1 },
        { 0x10FFFF, 100, 3 },
        { -5, 99, 4 },
        { 0x110000, 1, 7 },
        { std::numeric_limits<i32>::min(), 12, -1 },
        // 'B' at 25: record 9 (26, distance 1) is remembered, but weighed at
        // its glyph's size 10 (distance 15), so record 10 (20, distance 5) wins.
        { 'B', 25, 3 },
        { 'B', 26, 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(font.findGlyph(c.codePoint, c.size), c.glyph) << "code point " << c.codePoint << " size " << c.size;
}

TEST(Font, LookupFollowsAnIndexThatGrowsOrIsRefilledAfterMeasuring)
{
    Font font;
    fillFont(font, { { 'a', 22, 10 } });
    EXPECT_FLOAT_EQ(font.getTextWidth("ab", 22, 0, false), 10);
    fillFont(font, { { 'b', 22, 20 } });
    EXPECT_FLOAT_EQ(font.getTextWidth("ab", 22, 0, false), 30);
    EXPECT_EQ(font.findGlyph('b', 22), 1);
    font.glyphIndex.clear();
    font.glyphs.clear();
    fillFont(font, { { 'b', 11, 4 } });
    EXPECT_EQ(font.findGlyph('a', 22), -1);
    EXPECT_EQ(font.findGlyph('b', 22), 0);
    EXPECT_FLOAT_EQ(font.getTextWidth("ab", 22, 0, false), 8);
}

TEST(Font, ThreadsMeasuringAFreshFontAgree)
{
    Font font;
    fillFont(font, { { 'a', 22, 10 }, { 'b', 22, 20 }, { 'a', 11, 3 } });
    std::vector<f32> widths(8, 0.0f);
    std::vector<std::thread> threads;
    for (u64 t = 0; t < widths.size(); ++t)
        threads.emplace_back([&font, &widths, t] {
            for (int i = 0; i < 200; ++i)
                widths[t] += font.getTextWidth("abab", 22, 1, false);
        });
    for (std::thread& thread : threads)
        thread.join();
    for (f32 w : widths)
        EXPECT_FLOAT_EQ(w, 200 * 63.0f);
}

} // namespace
} // namespace quern::graphics
