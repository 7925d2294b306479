#include "FontBaker.h"

#include <stb_truetype.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numeric>

namespace quern::fontbake {
namespace {

struct LoadedFont {
    stbtt_fontinfo info {};
    i32 ascent = 0, descent = 0, lineGap = 0; // font units
};

bool loadFont(const std::vector<u8>& file, LoadedFont& font, std::string& error)
{
    // The rasteriser trusts the tables it is given; refuse what is plainly no
    // TrueType or OpenType file before handing it over.
    static const u8 kTrueType[4] = { 0, 1, 0, 0 };
    const bool known = file.size() >= 12
        && (std::equal(kTrueType, kTrueType + 4, file.begin()) || std::equal(file.begin(), file.begin() + 4, "OTTO")
            || std::equal(file.begin(), file.begin() + 4, "true"));
    if (!known) {
        error = "not a TrueType font file";
        return false;
    }
    const i32 offset = stbtt_GetFontOffsetForIndex(file.data(), 0);
    if (offset < 0 || !stbtt_InitFont(&font.info, file.data(), offset)) {
        error = "the font's tables cannot be read";
        return false;
    }
    stbtt_GetFontVMetrics(&font.info, &font.ascent, &font.descent, &font.lineGap);
    if (font.ascent - font.descent <= 0) {
        error = "the font has no height";
        return false;
    }
    return true;
}

bool checkRange(u32 firstChar, u32 lastChar, u32 pageWidth, u32 pageHeight, std::string& error)
{
    if (lastChar < firstChar || lastChar > 0x10FFFF) {
        error = "bad code-point range";
        return false;
    }
    if (pageWidth == 0 || pageHeight == 0 || pageWidth > 4096 || pageHeight > 4096) {
        error = "page sizes must lie in 1..4096";
        return false;
    }
    return true;
}

// Draws a glyph at (x, y) of the page (its bitmap's top-left corner), clipped
// to the rectangle [clipX0, clipX1) x [clipY0, clipY1).
void drawGlyph(const LoadedFont& font, i32 glyph, f32 scale, f32 shiftX, i32 x, i32 y, i32 width, i32 height,
    BakedFont& out, i32 clipX0, i32 clipY0, i32 clipX1, i32 clipY1)
{
    if (width <= 0 || height <= 0)
        return;
    std::vector<u8> bitmap(static_cast<size_t>(width) * static_cast<size_t>(height));
    stbtt_MakeGlyphBitmapSubpixel(&font.info, bitmap.data(), width, height, width, scale, scale, shiftX, 0.0f, glyph);
    for (i32 row = 0; row < height; ++row) {
        const i32 py = y + row;
        if (py < clipY0 || py >= clipY1)
            continue;
        for (i32 column = 0; column < width; ++column) {
            const i32 px = x + column;
            if (px < clipX0 || px >= clipX1)
                continue;
            u8& pixel = out.coverage[static_cast<size_t>(py) * out.pageWidth + static_cast<size_t>(px)];
            pixel = std::max(
                pixel, bitmap[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)]);
        }
    }
}

} // namespace

bool readFontFile(const std::string& path, std::vector<u8>& bytes, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

bool bakeCells(const std::vector<u8>& fontFile, const CellLayout& layout, BakedFont& out, std::string& error)
{
    LoadedFont font;
    if (!checkRange(layout.firstChar, layout.lastChar, layout.pageWidth, layout.pageHeight, error)
        || !loadFont(fontFile, font, error))
        return false;
    const u32 count = layout.lastChar - layout.firstChar + 1;
    const u32 columns = layout.cellWidth ? layout.pageWidth / layout.cellWidth : 0;
    if (columns == 0 || layout.cellHeight == 0
        || u64 { (count + columns - 1) / columns } * layout.cellHeight > layout.pageHeight) {
        error = "the cells do not fit the page";
        return false;
    }

    i32 widestAdvance = 0;
    for (u32 c = layout.firstChar; c <= layout.lastChar; ++c) {
        const i32 glyph = stbtt_FindGlyphIndex(&font.info, static_cast<i32>(c));
        if (glyph == 0)
            continue;
        i32 advance = 0, bearing = 0;
        stbtt_GetGlyphHMetrics(&font.info, glyph, &advance, &bearing);
        widestAdvance = std::max(widestAdvance, advance);
    }
    if (widestAdvance <= 0) {
        error = "the font has no glyph in the range";
        return false;
    }
    const f32 scale = std::min(static_cast<f32>(layout.cellWidth) / static_cast<f32>(widestAdvance),
        static_cast<f32>(layout.cellHeight) / static_cast<f32>(font.ascent - font.descent));
    const i32 baseline = static_cast<i32>(std::lround(static_cast<f32>(font.ascent) * scale));
    const f32 left = (static_cast<f32>(layout.cellWidth) - static_cast<f32>(widestAdvance) * scale) * 0.5f;

    out = BakedFont {};
    out.pageWidth = layout.pageWidth;
    out.pageHeight = layout.pageHeight;
    out.coverage.assign(static_cast<size_t>(layout.pageWidth) * layout.pageHeight, 0);
    out.ascent = static_cast<i32>(layout.cellHeight);
    for (u32 i = 0; i < count; ++i) {
        const i32 cellX = static_cast<i32>((i % columns) * layout.cellWidth);
        const i32 cellY = static_cast<i32>((i / columns) * layout.cellHeight);
        BakedGlyph baked;
        baked.codePoint = layout.firstChar + i;
        baked.x0 = static_cast<u16>(cellX);
        baked.y0 = static_cast<u16>(cellY);
        baked.x1 = static_cast<u16>(cellX + static_cast<i32>(layout.cellWidth));
        baked.y1 = static_cast<u16>(cellY + static_cast<i32>(layout.cellHeight));
        baked.offsetY = -static_cast<f32>(layout.cellHeight);
        baked.advance = static_cast<f32>(layout.cellWidth);
        out.glyphs.push_back(baked);

        const i32 glyph = stbtt_FindGlyphIndex(&font.info, static_cast<i32>(baked.codePoint));
        if (glyph == 0)
            continue;
        const f32 penX = static_cast<f32>(cellX) + left;
        const i32 whole = static_cast<i32>(std::floor(penX));
        const f32 shift = penX - static_cast<f32>(whole);
        i32 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        stbtt_GetGlyphBitmapBoxSubpixel(&font.info, glyph, scale, scale, shift, 0.0f, &x0, &y0, &x1, &y1);
        drawGlyph(font, glyph, scale, shift, whole + x0, cellY + baseline + y0, x1 - x0, y1 - y0, out, cellX, cellY,
            baked.x1, baked.y1);
    }
    return true;
}

bool bakePacked(const std::vector<u8>& fontFile, const PackedLayout& layout, BakedFont& out, std::string& error)
{
    LoadedFont font;
    if (!checkRange(layout.firstChar, layout.lastChar, layout.pageWidth, layout.pageHeight, error)
        || !loadFont(fontFile, font, error))
        return false;
    if (!(layout.pixelHeight > 0.0f && layout.pixelHeight <= 1024.0f)) {
        error = "pixel height must lie in (0, 1024]";
        return false;
    }
    const f32 scale = stbtt_ScaleForPixelHeight(&font.info, layout.pixelHeight);
    const u32 count = layout.lastChar - layout.firstChar + 1;

    out = BakedFont {};
    out.pageWidth = layout.pageWidth;
    out.pageHeight = layout.pageHeight;
    out.coverage.assign(static_cast<size_t>(layout.pageWidth) * layout.pageHeight, 0);
    out.ascent = static_cast<i32>(std::lround(static_cast<f32>(font.ascent) * scale));
    out.descent = static_cast<i32>(std::lround(static_cast<f32>(font.descent) * scale));
    out.lineGap = static_cast<i32>(std::lround(static_cast<f32>(font.lineGap) * scale));

    struct Box {
        i32 glyph, x0, y0, x1, y1;
    };
    std::vector<Box> boxes(count);
    for (u32 i = 0; i < count; ++i) {
        BakedGlyph baked;
        baked.codePoint = layout.firstChar + i;
        Box& box = boxes[i];
        box = { stbtt_FindGlyphIndex(&font.info, static_cast<i32>(baked.codePoint)), 0, 0, 0, 0 };
        i32 advance = 0, bearing = 0;
        stbtt_GetGlyphHMetrics(&font.info, box.glyph, &advance, &bearing);
        baked.advance = static_cast<f32>(advance) * scale;
        if (box.glyph != 0)
            stbtt_GetGlyphBitmapBox(&font.info, box.glyph, scale, scale, &box.x0, &box.y0, &box.x1, &box.y1);
        baked.offsetX = static_cast<f32>(box.x0);
        baked.offsetY = static_cast<f32>(box.y0);
        out.glyphs.push_back(baked);
    }

    std::vector<u32> order(count);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
        [&](u32 a, u32 b) { return boxes[a].y1 - boxes[a].y0 > boxes[b].y1 - boxes[b].y0; });
    const i32 padding = static_cast<i32>(layout.padding);
    i32 shelfX = padding, shelfY = padding, shelfHeight = 0;
    for (u32 i : order) {
        const Box& box = boxes[i];
        const i32 width = box.x1 - box.x0;
        const i32 height = box.y1 - box.y0;
        if (shelfX + width + padding > static_cast<i32>(layout.pageWidth)) {
            shelfX = padding;
            shelfY += shelfHeight + padding;
            shelfHeight = 0;
        }
        if (shelfX + width + padding > static_cast<i32>(layout.pageWidth)
            || shelfY + height + padding > static_cast<i32>(layout.pageHeight)) {
            error = "the glyphs do not fit a " + std::to_string(layout.pageWidth) + "x"
                + std::to_string(layout.pageHeight) + " page";
            return false;
        }
        BakedGlyph& baked = out.glyphs[i];
        baked.x0 = static_cast<u16>(shelfX);
        baked.y0 = static_cast<u16>(shelfY);
        baked.x1 = static_cast<u16>(shelfX + width);
        baked.y1 = static_cast<u16>(shelfY + height);
        drawGlyph(
            font, box.glyph, scale, 0.0f, shelfX, shelfY, width, height, out, baked.x0, baked.y0, baked.x1, baked.y1);
        shelfX += width + padding;
        shelfHeight = std::max(shelfHeight, height);
    }
    return true;
}

bool bakeText(const std::vector<u8>& fontFile, f32 pixelHeight, const std::vector<u32>& codePoints, u32 maxWidth,
    u32 maxHeight, BakedFont& out, std::string& error)
{
    LoadedFont font;
    if (!loadFont(fontFile, font, error))
        return false;
    if (!(pixelHeight > 0.0f && pixelHeight <= 1024.0f)) {
        error = "pixel height must lie in (0, 1024]";
        return false;
    }
    const f32 scale = stbtt_ScaleForPixelHeight(&font.info, pixelHeight);
    struct Placed {
        i32 glyph, whole;
        f32 shift;
        i32 x0, y0, x1, y1;
    };
    std::vector<Placed> placed;
    i32 left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    f32 pen = 0;
    i32 previous = 0;
    for (u32 codePoint : codePoints) {
        const i32 glyph = stbtt_FindGlyphIndex(&font.info, static_cast<i32>(codePoint));
        if (glyph == 0) {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04X", codePoint);
            error = std::string("the font has no glyph for ") + name;
            return false;
        }
        if (previous != 0)
            pen += scale * static_cast<f32>(stbtt_GetGlyphKernAdvance(&font.info, previous, glyph));
        Placed p { glyph, static_cast<i32>(std::floor(pen)), 0, 0, 0, 0, 0 };
        p.shift = pen - static_cast<f32>(p.whole);
        stbtt_GetGlyphBitmapBoxSubpixel(&font.info, glyph, scale, scale, p.shift, 0.0f, &p.x0, &p.y0, &p.x1, &p.y1);
        if (p.x1 > p.x0 && p.y1 > p.y0) {
            left = std::min(left, p.whole + p.x0);
            right = std::max(right, p.whole + p.x1);
            top = std::min(top, p.y0);
            bottom = std::max(bottom, p.y1);
            placed.push_back(p);
        }
        i32 advance = 0, bearing = 0;
        stbtt_GetGlyphHMetrics(&font.info, glyph, &advance, &bearing);
        pen += static_cast<f32>(advance) * scale;
        previous = glyph;
    }
    out = BakedFont {};
    if (placed.empty())
        return true;
    const u64 width = static_cast<u64>(i64 { right } - left), height = static_cast<u64>(i64 { bottom } - top);
    if (width > maxWidth || height > maxHeight) {
        error = "the text is " + std::to_string(width) + " x " + std::to_string(height) + " pixels, more than "
            + std::to_string(maxWidth) + " x " + std::to_string(maxHeight);
        return false;
    }
    out.pageWidth = static_cast<u32>(width);
    out.pageHeight = static_cast<u32>(height);
    out.coverage.assign(width * height, 0);
    for (const Placed& p : placed)
        drawGlyph(font, p.glyph, scale, p.shift, p.whole + p.x0 - left, p.y0 - top, p.x1 - p.x0, p.y1 - p.y0, out, 0, 0,
            static_cast<i32>(width), static_cast<i32>(height));
    return true;
}

} // namespace quern::fontbake
