#pragma once
// Glyph sheets: texture sources drawn when the content is built, a grid of
// equal cells that each hold a filled shape with a short label centred on it
// (the input prompts' button faces, small icons). One setting a line, '#'
// starts a comment:
//
//   glyphsheet                           the first keyword of the file
//   font <TrueType file>                 relative to the source folder, or absolute
//   size <pixel height>                  the labels' size, ascent to descent
//   cell <width> <height>                pixels of every cell
//   columns <n>                          optional; default: a grid near square
//   glyph <name> <shape> <RRGGBB> [<label>]   one cell, in order along the rows
//
// Shapes: circle, key (a rounded rectangle), pill, diamond. The label is the
// rest of the line (UTF-8), drawn black or white, whichever stands out more
// from the shape's colour. Cells are named for the texture atlases that take
// their regions from the sheet.

#include "PlainPPM.h"

#include "quern/Types.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

// The longest side of a sheet and the range of a cell's sides.
inline constexpr u32 kGlyphSheetMaxSide = 4096;
inline constexpr u32 kGlyphCellMinSide = 4;
inline constexpr u32 kGlyphCellMaxSide = 1024;

enum class GlyphShape : u8 { Circle, Key, Pill, Diamond };

struct GlyphCell {
    std::string name;
    GlyphShape shape = GlyphShape::Circle;
    u8 red = 0, green = 0, blue = 0;
    std::vector<u32> label; // code points
    u32 line = 0;
    u32 x = 0, y = 0; // the cell's top-left pixel on the sheet
};

struct GlyphSheet {
    std::string font;
    u32 fontLine = 0;
    u32 size = 0;
    u32 cellWidth = 0, cellHeight = 0;
    u32 columns = 0, rows = 0;
    std::vector<GlyphCell> cells;
};

// True when the first word of the bytes, after blank and comment lines, is
// "glyphsheet".
bool looksLikeGlyphSheet(const std::vector<u8>& bytes);

// Reads a sheet and places its cells. False with a message naming the line
// ("glyph sheet line 4: ...") for an unknown keyword, a setting given twice or
// with the wrong count of values, a number out of range, an unknown shape, a
// colour that is not six hexadecimal digits, a label that is not UTF-8, a
// cell name given twice, and a cell beyond what a sheet of the largest side
// holds; also for a sheet without its font, size, cell or any glyph.
bool readGlyphSheet(const std::vector<u8>& bytes, GlyphSheet& sheet, std::string& error);

// Draws the cells with the font's bytes: every pixel outside the shapes is
// transparent. False with a message naming the glyph's line for a label the
// font has no glyph for or whose ink does not fit inside its cell's margin.
bool drawGlyphSheet(const GlyphSheet& sheet, const std::vector<u8>& fontFile, RGBAImage& image, std::string& error);

// The whole texture: reads the sheet, its font (a path relative to
// `sourceDirectory` unless absolute) and draws it. False with a message naming
// the line, the font's line for a font file that is missing or no font.
bool buildGlyphSheet(
    const std::vector<u8>& bytes, const std::string& sourceDirectory, RGBAImage& image, std::string& error);

} // namespace quern::assetbuild
