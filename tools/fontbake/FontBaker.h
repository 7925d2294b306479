#pragma once
// Rasterises the glyphs of a TrueType font into one coverage page (one byte
// per pixel, rows top to bottom) and records where each glyph landed and how
// it sits on the baseline. Two layouts: fixed cells for monospaced system
// fonts, and glyph boxes packed in shelves for proportional fonts.

#include "quern/Types.h"

#include <string>
#include <vector>

namespace quern::fontbake {

struct BakedGlyph {
    u32 codePoint = 0;
    // Rectangle on the page, pixels, x1/y1 exclusive; y from the top row.
    u16 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    // Where the rectangle's top-left corner sits relative to the pen on the
    // baseline (y grows downwards, so a glyph above the baseline has a
    // negative offsetY), and how far the pen moves.
    f32 offsetX = 0, offsetY = 0, advance = 0;
};

struct BakedFont {
    u32 pageWidth = 0;
    u32 pageHeight = 0;
    std::vector<u8> coverage; // pageWidth x pageHeight
    std::vector<BakedGlyph> glyphs; // one per code point of the range, in order
    i32 ascent = 0, descent = 0, lineGap = 0; // pixels; descent <= 0
};

struct CellLayout {
    u32 cellWidth = 12;
    u32 cellHeight = 22;
    u32 firstChar = 32;
    u32 lastChar = 255;
    u32 pageWidth = 256;
    u32 pageHeight = 256;
};

struct PackedLayout {
    f32 pixelHeight = 16; // ascent to descent
    u32 firstChar = 32;
    u32 lastChar = 126;
    u32 pageWidth = 256;
    u32 pageHeight = 256;
    u32 padding = 1; // empty pixels around every glyph box
};

// Cells row by row from the top-left corner, one per code point; each glyph
// is scaled so that the font's widest advance and its full height fit a cell
// and is drawn on a common baseline. Code points the font lacks leave their
// cell empty. False with a message for bytes that are no font, or a range that
// does not fit the page.
bool bakeCells(const std::vector<u8>& fontFile, const CellLayout& layout, BakedFont& out, std::string& error);

// Tight glyph boxes placed in shelves, tallest first. Code points the font
// lacks get an empty box and the advance of the font's missing glyph.
bool bakePacked(const std::vector<u8>& fontFile, const PackedLayout& layout, BakedFont& out, std::string& error);

// A line of text drawn on a page of its own that is cut to the text's ink (a
// text without ink gives a 0 x 0 page), kerned, at `pixelHeight` (ascent to
// descent). False with a message for bytes that are no font, a code point the
// font has no glyph for, and ink wider or taller than the limits.
bool bakeText(const std::vector<u8>& fontFile, f32 pixelHeight, const std::vector<u32>& codePoints, u32 maxWidth,
    u32 maxHeight, BakedFont& out, std::string& error);

bool readFontFile(const std::string& path, std::vector<u8>& bytes, std::string& error);

} // namespace quern::fontbake
