#include "support/RecordingGraphicsBackEnd.h"

#include "quern/graphics/Font.h"
#include "quern/visuals/BatchVisual.h"
#include "quern/visuals/SpriteBatch.h"
#include "quern/visuals/TextLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace quern::test {
namespace {

using graphics::Font;
using visuals::GlyphQuad;
using visuals::SpriteBatchGlyphSink;
using visuals::TextAnchor;

// Two glyphs made for 10 pixels in a font 10 units tall (ascent 8, descent
// -2) with a line gap of 2: at 10 pixels a unit is a pixel and lines are 12 apart.
struct TestFont {
    TestFont()
    {
        font.ascent = 8;
        font.descent = -2;
        font.lineGap = 2;
        add('A', { 0.0f, 1.0f, 0.5f, 0.5f, 6, 8, 1, -8, 7 });
        add('B', { 0.5f, 1.0f, 1.0f, 0.5f, 4, 8, 0, -8, 5 });
    }
    void add(i32 codePoint, const graphics::Glyph& glyph)
    {
        const i32 index = static_cast<i32>(font.glyphs.count());
        font.glyphs.append(glyph);
        font.glyphIndex.append(graphics::GlyphIndex { codePoint, 10, index });
    }
    Font font;
};

// Records the quads as the layout hands them over.
class RecordingSink final : public SpriteBatchGlyphSink {
public:
    void addQuad(const GlyphQuad& quad, u32& counter, f32* vertices, u16* indices) override
    {
        quads.push_back(quad);
        SpriteBatchGlyphSink::addQuad(quad, counter, vertices, indices);
    }
    std::vector<GlyphQuad> quads;
};

struct Laid {
    std::vector<GlyphQuad> quads;
    std::vector<u16> indices;
};

Laid lay(const Font& font, const char* text, i32 alignment, TextAnchor anchor, f32 centre[2] = nullptr)
{
    RecordingSink sink;
    sink.font = &font;
    sink.pixelSize = 10;
    f32 half[2];
    sink.blockCentre = centre;
    sink.blockHalfSize = half;
    const u32 n = visuals::countCodePoints(text);
    std::vector<f32> vertices(n * 20 + 1);
    Laid laid;
    laid.indices.resize(n * 6 + 1);
    visuals::layoutText(font, text, 10, alignment, anchor, vertices.data(), laid.indices.data(), sink);
    laid.indices.resize(n * 6);
    laid.quads = sink.quads;
    return laid;
}

TEST(TextLayout, LinesStartAtTheBlockEdgeAndAreALineAdvanceApart)
{
    TestFont t;
    f32 centre[2];
    const Laid laid = lay(t.font, "A\nA", visuals::AlignLeft, TextAnchor::TopLeft, centre);
    ASSERT_EQ(laid.quads.size(), 2u);
    EXPECT_FLOAT_EQ(laid.quads[0].x0, 1.0f);
    EXPECT_FLOAT_EQ(laid.quads[1].x0, 1.0f);
    EXPECT_FLOAT_EQ(laid.quads[0].y1, 0.0f);
    EXPECT_FLOAT_EQ(laid.quads[0].y0, -8.0f);
    EXPECT_FLOAT_EQ(laid.quads[1].y1, -12.0f);
    EXPECT_EQ(laid.quads[0].ua, 0.0f);
    EXPECT_EQ(laid.quads[0].vb, 0.5f);
    // The block (7 wide, two 12-pixel lines) hangs below and right of the origin.
    EXPECT_FLOAT_EQ(centre[0], 3.5f);
    EXPECT_FLOAT_EQ(centre[1], -12.0f);
    EXPECT_EQ(laid.indices, (std::vector<u16> { 0, 1, 2, 3, 0, 2, 4, 5, 6, 7, 4, 6 }));
}

TEST(TextLayout, AlignmentMovesEachLineInsideTheBlock)
{
    TestFont t;
    struct Case {
        i32 alignment;
        f32 secondLineX0;
    };
    // The block is "AB" wide (12); the second line "A" is 7.
    const Case cases[]
        = { { visuals::AlignLeft, 1.0f }, { visuals::AlignCentre, 3.5f }, { visuals::AlignRight, 6.0f } };
    for (const Case& c : cases) {
        const Laid laid = lay(t.font, "AB\nA", c.alignment, TextAnchor::TopLeft);
        ASSERT_EQ(laid.quads.size(), 3u);
        EXPECT_FLOAT_EQ(laid.quads[2].x0, c.secondLineX0) << c.alignment;
    }
}

TEST(TextLayout, AnchorsPlaceTheBlockAroundTheOrigin)
{
    TestFont t;
    struct Case {
        TextAnchor anchor;
        f32 x0, y1; // of the only glyph
    };
    // One line: the block is 7 wide and 12 tall.
    const Case cases[]
        = { { TextAnchor::TopLeft, 1, 0 }, { TextAnchor::Center, -2.5f, 6 }, { TextAnchor::BottomRight, -6, 12 } };
    for (const Case& c : cases) {
        const Laid laid = lay(t.font, "A", 0, c.anchor);
        EXPECT_FLOAT_EQ(laid.quads[0].x0, c.x0) << static_cast<int>(c.anchor);
        EXPECT_FLOAT_EQ(laid.quads[0].y1, c.y1) << static_cast<int>(c.anchor);
    }
}

TEST(TextLayout, InvalidBytesEndTheTextAndMissingGlyphsDoNotAdvance)
{
    TestFont t;
    EXPECT_EQ(visuals::countCodePoints("A\xFF"
                                       "B"),
        1u);
    EXPECT_EQ(lay(t.font,
                  "A\xFF"
                  "BA",
                  0, TextAnchor::TopLeft)
                  .quads.size(),
        1u);
    EXPECT_EQ(visuals::countCodePoints("a\nb\xC3\xA9"), 3u);

    const Laid laid = lay(t.font, "ZA", 0, TextAnchor::TopLeft);
    ASSERT_EQ(laid.quads.size(), 2u);
    EXPECT_EQ(laid.quads[0].glyph, -1);
    EXPECT_FLOAT_EQ(laid.quads[0].x1 - laid.quads[0].x0, 5.0f * 10.0f / 12.0f);
    EXPECT_FLOAT_EQ(laid.quads[0].y1 - laid.quads[0].y0, 10.0f);
    EXPECT_EQ(laid.quads[0].ub, 0.0f);
    EXPECT_FLOAT_EQ(laid.quads[1].x0, 1.0f);
}

TEST(TextLayout, EmptyTextEmitsNothing)
{
    TestFont t;
    EXPECT_TRUE(lay(t.font, "", 0, TextAnchor::Center).quads.empty());
}

TEST(TextLayout, AnchorOffsets)
{
    struct Case {
        TextAnchor anchor;
        f32 x, y;
    };
    const Case cases[] = { { TextAnchor::TopLeft, 10 - 2, 20 + 3 }, { TextAnchor::Center, 10, 20 },
        { TextAnchor::BottomRight, 10 + 2, 20 - 3 }, { TextAnchor::MiddleLeft, 10 - 2, 20 } };
    for (const Case& c : cases) {
        f32 x, y;
        visuals::getTextAnchorOffset(c.anchor, 10, 20, 2, 3, x, y);
        EXPECT_EQ(x, c.x) << static_cast<int>(c.anchor);
        EXPECT_EQ(y, c.y) << static_cast<int>(c.anchor);
    }
}

TEST(TextLayoutDeathTest, AnchorsOutsideTheGridAreFatal)
{
    TestFont t;
    f32 x, y;
    EXPECT_DEATH(visuals::getTextAnchorOffset(static_cast<TextAnchor>(9), 0, 0, 1, 1, x, y),
        "Invalid enum value for type TextAnchor");
    EXPECT_DEATH(lay(t.font, "A", 0, static_cast<TextAnchor>(-1)), "Invalid enum value for type TextAnchor");
}

using TextSpritesTest = RecordingDisplayTest;

TEST_F(TextSpritesTest, SpriteTextIsLaidOutFromTheTopLeftAndReportsItsBlock)
{
    TestFont t;
    Ref page(new graphics::Texture());
    t.font.texture = page.get<graphics::Texture>();
    visuals::SpriteBatch batch;
    batch.reserveStorage();
    SpriteBatchGlyphSink sink;
    sink.font = &t.font;
    sink.pixelSize = 10;
    sink.scale = 2;
    sink.z = 0.5f;
    f32 centre[2], half[2];
    sink.blockCentre = centre;
    sink.blockHalfSize = half;

    visuals::layoutTextSprites(t.font, "AB\nB", 10, visuals::AlignLeft, 1.5f, batch, sink);
    ASSERT_EQ(batch.quadCount(), 3u);
    ASSERT_EQ(batch.textureCount(), 1u);
    EXPECT_EQ(batch.textureEntry(0).texture, t.font.texture);
    // B follows A by A's advance; every corner is scaled by the sink's 2.
    EXPECT_FLOAT_EQ(batch.quad(1)[0].x, 2 * 7.0f);
    EXPECT_FLOAT_EQ(batch.quad(0)[0].y, 0.0f);
    EXPECT_FLOAT_EQ(batch.quad(2)[0].y, 2 * -18.0f);
    EXPECT_EQ(batch.quad(2)[0].z, 0.5f);
    EXPECT_EQ(batch.quad(0)[0].colour[0], 255);
    // Right edge 11 (B ends at 7 + 4), two lines of 18.
    EXPECT_FLOAT_EQ(centre[0], 2 * 5.5f);
    EXPECT_FLOAT_EQ(centre[1], 2 * -18.0f);
    EXPECT_FLOAT_EQ(half[1], 2 * 18.0f);

    batch.clear();
    visuals::layoutTextSprites(t.font, "", 10, visuals::AlignLeft, 1.0f, batch, sink);
    EXPECT_EQ(batch.quadCount(), 0u);
    EXPECT_EQ(half[0], 0.0f);
    EXPECT_FLOAT_EQ(half[1], 2 * 6.0f);
    batch.freeStorage();
    t.font.texture = nullptr;
}

// Draws nothing for "A" and moves the layout on to just before the last
// character, recording the line shift of every glyph it sees.
class SkippingSink final : public SpriteBatchGlyphSink {
public:
    void addSprite(GlyphQuad& quad, visuals::SpriteBatch& batch) override
    {
        seen.push_back({ quad.codePoint, quad.lineShift });
        if (quad.codePoint == 'A') {
            quad.next += std::strlen(quad.next) - 1;
            return;
        }
        SpriteBatchGlyphSink::addSprite(quad, batch);
    }
    std::vector<std::pair<u32, f32>> seen;
};

TEST_F(TextSpritesTest, ASinkCanSkipTextAndSeesWhichLineItIsOn)
{
    TestFont t;
    visuals::SpriteBatch batch;
    batch.reserveStorage();
    SkippingSink sink;
    sink.font = &t.font;
    sink.pixelSize = 10;
    visuals::layoutTextSprites(t.font, "B\nAAAB", 10, visuals::AlignLeft, 1.5f, batch, sink);
    const std::vector<std::pair<u32, f32>> expected = { { 'B', 0.0f }, { 'A', 18.0f }, { 'B', 18.0f } };
    EXPECT_EQ(sink.seen, expected);
    EXPECT_EQ(batch.quadCount(), 2u);
    batch.freeStorage();
}

TEST_F(TextSpritesTest, TextMeshHasFiveFloatVerticesAndShortIndices)
{
    TestFont t;
    Ref vbHold(new graphics::VertexBuffer(0));
    Ref ibHold(new graphics::IndexBuffer(0));
    auto& vb = *vbHold.getCounted<graphics::VertexBuffer>();
    auto& ib = *ibHold.getCounted<graphics::IndexBuffer>();
    SpriteBatchGlyphSink sink;
    sink.font = &t.font;
    sink.pixelSize = 10;
    visuals::buildTextMesh(t.font, "AB", 10, 0, TextAnchor::TopLeft, vb, ib, sink);
    EXPECT_EQ(vb.format().stride, 20u);
    EXPECT_EQ(vb.vertexCount(), 8u);
    EXPECT_EQ(ib.indexSize(), 2u);
    EXPECT_EQ(ib.indexCount(), 12u);
    EXPECT_EQ(ib.count(), 12);
    const f32* v = reinterpret_cast<const f32*>(vb.lockVertices(containers::BufferBase::Lock::Read, 0, 8));
    // Second glyph's top-left: x0 = 7, y1 = 0, texture (0.5, 1).
    EXPECT_FLOAT_EQ(v[20], 7.0f);
    EXPECT_FLOAT_EQ(v[21], 0.0f);
    EXPECT_FLOAT_EQ(v[23], 0.5f);
    EXPECT_FLOAT_EQ(v[24], 1.0f);
    vb.unlockVertices();
}

TEST_F(TextSpritesTest, BatchTextBecomesSixVerticesPerGlyphOnTheBottomRow)
{
    visuals::PrimitiveBatch batch;
    const f32 colour[4] = { 0, 1, 0, 1 };
    batch.addText("ab\nc", 100, 50, 3, colour, 1);
    ASSERT_EQ(batch.current.count(), 18u);
    f32 lowest = 1e9f, leftmost = 1e9f;
    for (u64 i = 0; i < 18; ++i) {
        const auto& v = batch.current.at<graphics::BatchVertex>(i);
        lowest = std::min(lowest, v.y);
        leftmost = std::min(leftmost, v.x);
        EXPECT_EQ(v.z, 3.0f);
        EXPECT_EQ(v.colour[1], 255);
    }
    EXPECT_GE(leftmost, 100.0f);
    EXPECT_GE(lowest, 49.0f);

    // Right alignment ends the text at x.
    visuals::PrimitiveBatch right;
    right.addText("ab", 100, 50, 3, colour, 2);
    f32 rightmost = -1e9f;
    for (u64 i = 0; i < right.current.count(); ++i)
        rightmost = std::max(rightmost, right.current.at<graphics::BatchVertex>(i).x);
    EXPECT_LE(rightmost, 100.0f);
    EXPECT_GT(rightmost, 90.0f);
    Font::releaseDefault();
}

} // namespace
} // namespace quern::test
