#pragma once
// stb_truetype trusts its input: it reads table offsets and counts from the
// font without checking them against the bytes. Fonts are checked here first,
// so that what the rasteriser walks (the table directory, the metric and
// glyph-location tables, the character map and kerning headers) lies inside
// the bytes.

#include "quern/Types.h"

namespace quern::fontatlas {

// True when the bytes are a TrueType font (glyf outlines) whose tables the
// atlas reads all lie within `length`.
bool checkTrueTypeFont(const u8* bytes, u64 length);
// True when the outline of glyph `glyph` of a checked font lies inside its
// range of the glyph table, and so do the outlines of its components, nested
// at most eight deep (the rasteriser follows components without a limit).
bool checkTrueTypeGlyph(const u8* bytes, u64 length, u32 glyph);
// The glyph of a code point through the character-map subtable at `map`
// (formats 0, 4, 6, 12 and 13), every read checked against `length`; 0 (the
// missing glyph) for anything the map does not hold or cannot say.
u32 findTrueTypeGlyph(const u8* bytes, u64 length, u64 map, u32 codePoint);

} // namespace quern::fontatlas
