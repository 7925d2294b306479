#include "quern/visuals/TextLayout.h"

#include "quern/graphics/Font.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Utf8.h"
#include "quern/visuals/SpriteBatch.h"

#include <algorithm>

namespace quern::visuals {

namespace {

using Lock = containers::BufferBase::Lock;

struct AnchorFactors {
    f32 horizontal; // block centre x = t * W
    f32 vertical; // block centre y = o * H
    f32 baselineShift; // times H
};

AnchorFactors anchorFactors(TextAnchor anchor)
{
    const i32 value = static_cast<i32>(anchor);
    if (value < 0 || value > 8)
        QUERN_FATAL_INVALID_ENUM("TextAnchor");
    static constexpr f32 kColumns[3] = { 0.5f, 0.0f, -0.5f };
    static constexpr AnchorFactors kRows[3] = { { 0, -0.5f, 0 }, { 0, 0, 0.5f }, { 0, 0.5f, 1 } };
    AnchorFactors f = kRows[value / 3];
    f.horizontal = kColumns[value % 3];
    return f;
}

// The glyph quad of a code point with the pen at (penX, baseline).
GlyphQuad makeQuad(const graphics::Font& font, u32 codePoint, f32 size, f32 penX, f32 baseline, f32& advance)
{
    GlyphQuad q;
    q.codePoint = codePoint;
    q.penX = penX;
    q.glyph = font.findGlyph(static_cast<i32>(codePoint), size);
    const u64 index = static_cast<u64>(q.glyph);
    if (q.glyph >= 0 && index < font.glyphs.count() && index < font.glyphIndex.count()) {
        const graphics::Glyph& g = font.glyph(q.glyph);
        const f32 made = static_cast<f32>(font.glyphIndex.at<graphics::GlyphIndex>(index).size);
        const f32 f = made > 0.0f ? size / made : 1.0f;
        const f32 h = static_cast<f32>(g.height) * f;
        q.x0 = penX + g.offsetX * f;
        q.y0 = baseline - (g.offsetY * f + h);
        q.x1 = q.x0 + static_cast<f32>(g.width) * f;
        q.y1 = q.y0 + h;
        q.ua = g.s0;
        q.va = g.t0;
        q.ub = g.s1;
        q.vb = g.t1;
        q.glyphScale = f;
        advance = g.advance * f;
    } else {
        q.glyph = -1;
        const f32 n = static_cast<f32>(font.defaultSize == -1 ? 12 : font.defaultSize);
        const f32 f = size / n;
        q.x0 = penX;
        q.y0 = baseline;
        q.x1 = penX + size * 0.5f * f;
        q.y1 = baseline + n * f;
        q.glyphScale = f;
        advance = 0.0f;
    }
    return q;
}

// The pen's x at the start of a line of width w in a block of width W whose
// left edge is at `left`.
f32 lineStart(const graphics::Font& font, const char* line, f32 size, i32 alignment, f32 left, f32 blockWidth)
{
    if (alignment != AlignCentre && alignment != AlignRight)
        return left;
    const f32 w = font.getTextWidth(line, size, 0.0f, false);
    return left + (alignment == AlignCentre ? (blockWidth - w) * 0.5f : blockWidth - w);
}

// Decodes the code point at `at`; the text after it, or null at the end of
// the text and at an invalid sequence (nothing after a bad byte counts, as
// in forEachCodePoint).
const char* nextCodePoint(const char* at, u32& codePoint)
{
    if (!at)
        return nullptr;
    u32 state = strings::kUtf8Accept;
    for (const u8* byte = reinterpret_cast<const u8*>(at); *byte != 0; ++byte) {
        if (strings::utf8DecodeStep(state, codePoint, *byte) == strings::kUtf8Accept)
            return reinterpret_cast<const char*>(byte + 1);
        if (state == strings::kUtf8Reject)
            return nullptr;
    }
    return nullptr;
}

// Pixels per font unit, and the distance between baselines, at a pixel size.
// A font without vertical extent gives each line its pixel size.
struct LineMetrics {
    f32 scale;
    f32 advance;
};

LineMetrics lineMetrics(const graphics::Font& font, f32 size)
{
    const i64 extent = i64 { font.ascent } - i64 { font.descent };
    if (extent <= 0)
        return { 0.0f, size };
    const f32 scale = size / static_cast<f32>(extent);
    return { scale, static_cast<f32>(extent + font.lineGap) * scale };
}

} // namespace

void SpriteBatchGlyphSink::measure(const char* text, u32& glyphCount, u32& lineFlag, f32& width, f32& height)
{
    glyphCount = countCodePoints(text);
    lineFlag = 1;
    width = font->getTextWidth(text, static_cast<f32>(pixelSize), letterSpacing, true);
    height = font->getTextHeight(text, static_cast<f32>(pixelSize), lineSpacing);
}

void SpriteBatchGlyphSink::addQuad(const GlyphQuad& q, u32& counter, f32* vertices, u16*)
{
    const f32 s = scale;
    const f32 corners[4][5] = {
        { s * q.x0, s * q.y1, z, q.ua, q.va },
        { s * q.x0, s * q.y0, z, q.ua, q.vb },
        { s * q.x1, s * q.y0, z, q.ub, q.vb },
        { s * q.x1, s * q.y1, z, q.ub, q.va },
    };
    f32* out = vertices + static_cast<u64>(counter) * 4 * kTextVertexFloats;
    for (const auto& corner : corners)
        for (f32 value : corner)
            *out++ = value;
    ++counter;
}

void SpriteBatchGlyphSink::addSprite(GlyphQuad& q, SpriteBatch& batch)
{
    const f32 s = scale;
    const f32 corners[4][4] = {
        { s * q.x0, s * q.y1, q.ua, q.va },
        { s * q.x0, s * q.y0, q.ua, q.vb },
        { s * q.x1, s * q.y0, q.ub, q.vb },
        { s * q.x1, s * q.y1, q.ub, q.va },
    };
    graphics::BatchVertex* out = batch.allocateQuad(font->texture);
    for (int k = 0; k < 4; ++k)
        out[k] = { corners[k][0], corners[k][1], z, { 255, 255, 255, 255 }, corners[k][2], corners[k][3] };
    if (q.glyph >= 0)
        q.penX += font->glyph(q.glyph).advance * q.glyphScale;
}

void SpriteBatchGlyphSink::setBlock(const f32 centre[2], const f32 halfSize[2])
{
    if (blockCentre) {
        blockCentre[0] = centre[0] * scale;
        blockCentre[1] = centre[1] * scale;
    }
    if (blockHalfSize) {
        blockHalfSize[0] = halfSize[0] * scale;
        blockHalfSize[1] = halfSize[1] * scale;
    }
}

u32 countCodePoints(const char* text)
{
    u32 n = 0;
    strings::forEachCodePoint(text, [&](u32 codePoint, const char*) {
        n += codePoint != '\n';
        return true;
    });
    return n;
}

void layoutText(const graphics::Font& font, const char* text, f32 size, i32 alignment, TextAnchor anchor, f32* vertices,
    u16* indices, GlyphSink& sink)
{
    const AnchorFactors factors = anchorFactors(anchor);
    u32 glyphs = 0, lineFlag = 0;
    f32 width = 0, height = 0;
    sink.measure(text, glyphs, lineFlag, width, height);
    const LineMetrics metrics = lineMetrics(font, size);
    const f32 scale = metrics.scale;
    const f32 lineAdvance = metrics.advance;
    const f32 centre[2] = { factors.horizontal * width, factors.vertical * height };
    const f32 half[2] = { width * 0.5f, height * 0.5f };
    sink.setBlock(centre, half);

    const f32 left = factors.horizontal * width - width * 0.5f;
    f32 baseline = -static_cast<f32>(font.ascent) * scale + factors.baselineShift * height;
    f32 penX = lineStart(font, text, size, alignment, left, width);
    u32 counter = 0;
    strings::forEachCodePoint(text, [&](u32 codePoint, const char* next) {
        if (codePoint == '\n') {
            baseline -= lineAdvance;
            penX = lineStart(font, next, size, alignment, left, width);
            return true;
        }
        f32 advance = 0;
        const GlyphQuad quad = makeQuad(font, codePoint, size, penX, baseline, advance);
        sink.addQuad(quad, counter, vertices, indices);
        penX += advance;
        return true;
    });
    for (u32 i = 0; i < counter; ++i) {
        const u16 v = static_cast<u16>(4 * i);
        const u16 six[6] = { v, static_cast<u16>(v + 1), static_cast<u16>(v + 2), static_cast<u16>(v + 3), v,
            static_cast<u16>(v + 2) };
        for (u16 index : six)
            *indices++ = index;
    }
}

void layoutTextSprites(const graphics::Font& font, const char* text, f32 size, i32 alignment, f32 lineSpacing,
    SpriteBatch& batch, GlyphSink& sink)
{
    u32 glyphs = 0, lineFlag = 0;
    f32 width = 0, height = 0;
    sink.measure(text, glyphs, lineFlag, width, height);
    const LineMetrics metrics = lineMetrics(font, size);
    const f32 scale = metrics.scale;
    const f32 lineAdvance = metrics.advance * lineSpacing;
    f32 baseline = -static_cast<f32>(font.ascent) * scale;
    f32 penX = lineStart(font, text, size, alignment, 0.0f, width);
    f32 right = 0;
    u32 lines = 1;
    const char* at = text;
    u32 codePoint = 0;
    while (const char* next = nextCodePoint(at, codePoint)) {
        at = next;
        if (codePoint == '\n') {
            baseline -= lineAdvance;
            ++lines;
            penX = lineStart(font, next, size, alignment, 0.0f, width);
            continue;
        }
        f32 advance = 0;
        GlyphQuad quad = makeQuad(font, codePoint, size, penX, baseline, advance);
        quad.lineShift = static_cast<f32>(lines - 1) * lineAdvance;
        quad.next = next;
        sink.addSprite(quad, batch);
        penX = quad.penX;
        right = std::max(right, quad.x1);
        at = quad.next;
    }
    const f32 blockHeight = static_cast<f32>(lines) * lineAdvance;
    const f32 centre[2] = { right * 0.5f, -blockHeight * 0.5f };
    const f32 half[2] = { right * 0.5f, blockHeight * 0.5f };
    sink.setBlock(centre, half);
}

void getTextAnchorOffset(TextAnchor anchor, f32 x, f32 y, f32 hx, f32 hy, f32& outX, f32& outY)
{
    const i32 value = static_cast<i32>(anchor);
    if (value < 0 || value > 8)
        QUERN_FATAL_INVALID_ENUM("TextAnchor");
    static constexpr f32 kColumn[3] = { 1, 0, -1 };
    static constexpr f32 kRow[3] = { -1, 0, 1 };
    outX = x - kColumn[value % 3] * hx;
    outY = y - kRow[value / 3] * hy;
}

void buildTextMesh(const graphics::Font& font, const char* text, f32 size, i32 alignment, TextAnchor anchor,
    graphics::VertexBuffer& vb, graphics::IndexBuffer& ib, GlyphSink& sink)
{
    const u64 n = countCodePoints(text);
    vb.setVertexFormat(graphics::VertexFormat::fromFlags(0x1 | (1u << 8)));
    if (vb.vertexCount() < 4 * n) {
        vb.setSize(0);
        vb.resizeElements(4 * n);
    }
    ib.setPrimitiveType(graphics::PrimitiveType::TriangleList);
    const i32 count = static_cast<i32>(6 * n);
    if (ib.start() != 0 || ib.count() != count) {
        ib.setDrawRange(0, count);
        ib.notifyListeners();
    }
    if (ib.indexSize() != 2)
        ib.setElementSize(2);
    if (ib.indexCount() < 6 * n) {
        ib.setSize(0);
        ib.resizeElements(6 * n);
    }
    if (n == 0) {
        layoutText(font, text, size, alignment, anchor, nullptr, nullptr, sink);
        return;
    }
    f32* vertices = reinterpret_cast<f32*>(vb.lockVertices(Lock::Write, 0, 4 * n));
    u16* indices = reinterpret_cast<u16*>(ib.lockIndices(Lock::Write, 0, 6 * n));
    layoutText(font, text, size, alignment, anchor, vertices, indices, sink);
    ib.unlockIndices();
    vb.unlockVertices();
}

} // namespace quern::visuals
