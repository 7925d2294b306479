#pragma once
// Lays UTF-8 text out with a bitmap font into glyph quads. The layout does not
// know where the quads go: a GlyphSink writes them as plain vertex arrays or
// as sprites. Coordinates are pixels with y growing upward.

#include "quern/Types.h"

namespace quern::graphics {
class Font;
class IndexBuffer;
class VertexBuffer;
} // namespace quern::graphics

namespace quern::visuals {

class SpriteBatch;

// Which point of the text block lies at the layout origin: row = value / 3
// (top, middle, bottom), column = value % 3 (left, centre, right).
enum class TextAnchor : i32 {
    TopLeft = 0,
    TopCenter = 1,
    TopRight = 2,
    MiddleLeft = 3,
    Center = 4,
    MiddleRight = 5,
    BottomLeft = 6,
    BottomCenter = 7,
    BottomRight = 8,
};

// Horizontal alignment of each line inside the block.
enum TextAlignment : i32 {
    AlignLeft = 0,
    AlignCentre = 1,
    AlignRight = 2,
};

struct GlyphQuad {
    u32 codePoint = 0;
    f32 x0 = 0, y0 = 0; // bottom-left
    f32 x1 = 0, y1 = 0; // top-right
    f32 ua = 0, va = 0, ub = 0, vb = 0;
    // For sprites: the pen (advanced by the sink), the glyph's scale and its
    // index in the font (-1: the font lacks the code point).
    f32 penX = 0;
    f32 glyphScale = 1;
    i32 glyph = -1;
    // For sprites: how far the glyph's line lies below the first line, and
    // the text after the code point. A sink that draws the following text
    // itself (an inline prompt) moves `next` past it and the layout goes on
    // from there.
    f32 lineShift = 0;
    const char* next = nullptr;
};

// Floats per vertex that addQuad writes: x, y, z, u, v.
inline constexpr u64 kTextVertexFloats = 5;

class GlyphSink {
public:
    virtual ~GlyphSink() = default;
    // Code points without newlines, whether the text has lines (always 1),
    // and the block's width and height.
    virtual void measure(const char* text, u32& glyphCount, u32& lineFlag, f32& width, f32& height) = 0;
    // Four vertices (top-left, bottom-left, bottom-right, top-right) at vertex
    // 4 * counter; the counter goes up by one.
    virtual void addQuad(const GlyphQuad& quad, u32& counter, f32* vertices, u16* indices) = 0;
    // One sprite quad; advances quad.penX.
    virtual void addSprite(GlyphQuad& quad, SpriteBatch& batch) = 0;
    virtual void setBlock(const f32 centre[2], const f32 halfSize[2]) = 0;
};

// The engine's sink: measures with the font, writes scaled quads and sprites,
// and reports the scaled block into two vectors its owner gives it.
class SpriteBatchGlyphSink : public GlyphSink {
public:
    void measure(const char* text, u32& glyphCount, u32& lineFlag, f32& width, f32& height) override;
    void addQuad(const GlyphQuad& quad, u32& counter, f32* vertices, u16* indices) override;
    void addSprite(GlyphQuad& quad, SpriteBatch& batch) override;
    void setBlock(const f32 centre[2], const f32 halfSize[2]) override;

    const graphics::Font* font = nullptr;
    i32 pixelSize = 12;
    f32 letterSpacing = 0;
    f32 lineSpacing = 0;
    f32 scale = 1;
    f32 z = 0;
    f32* blockCentre = nullptr; // two floats, or null
    f32* blockHalfSize = nullptr; // two floats, or null
};

// Code points of the text up to its end or its first invalid byte, newlines
// not counted.
u32 countCodePoints(const char* text);

// Places the block by the anchor; writes 4 vertices and 6 indices per glyph
// (vertices holds 20 floats, indices 6 per code point that countCodePoints counts).
void layoutText(const graphics::Font& font, const char* text, f32 size, i32 alignment, TextAnchor anchor, f32* vertices,
    u16* indices, GlyphSink& sink);
// Lays the block out from its top-left corner into sprites and reports it
// through the sink's setBlock; lines are lineSpacing times the font's apart.
void layoutTextSprites(const graphics::Font& font, const char* text, f32 size, i32 alignment, f32 lineSpacing,
    SpriteBatch& batch, GlyphSink& sink);
// Where to put a block of half size (hx, hy) whose anchor point is at (x, y).
void getTextAnchorOffset(TextAnchor anchor, f32 x, f32 y, f32 hx, f32 hy, f32& outX, f32& outY);
// A text mesh: 20-byte vertices (position, one texture coordinate) and 16-bit
// triangle-list indices.
void buildTextMesh(const graphics::Font& font, const char* text, f32 size, i32 alignment, TextAnchor anchor,
    graphics::VertexBuffer& vb, graphics::IndexBuffer& ib, GlyphSink& sink);

} // namespace quern::visuals
