#pragma once
// The built-in font's glyph page: written by tools/fontbake from DejaVu Sans
// Mono (fonts-dejavu-core, DejaVu fonts licence). Regenerate, do not edit.

#include "quern/Types.h"

namespace quern::graphics {

inline constexpr u32 kDefaultFontPageSize = 256;
inline constexpr u32 kDefaultFontCellWidth = 12;
inline constexpr u32 kDefaultFontCellHeight = 22;
inline constexpr u32 kDefaultFontFirstChar = 32;
inline constexpr u32 kDefaultFontGlyphCount = 224;
// Coverage of the rows that hold glyphs, one byte per pixel, top row first.
inline constexpr u32 kDefaultFontCoverageBytes = 61952;

extern const u8 kDefaultFontCoverage[kDefaultFontCoverageBytes];
// Per glyph from the first code point on: x0, y0, x1, y1 in page pixels.
extern const u16 kDefaultFontGlyphRects[kDefaultFontGlyphCount][4];

} // namespace quern::graphics
