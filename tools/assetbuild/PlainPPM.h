#pragma once
// Plain-text PPM images (magic "P3"), the texture source the content tool
// writes as uncompressed DDS files: the magic, width, height and maximum
// sample value, then three samples (red, green, blue) per pixel, row by row
// from the top, all as decimal numbers between blanks; '#' starts a comment
// that runs to the end of the line.

#include "quern/Types.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

inline constexpr u32 kPPMMaxSide = 16384;

struct RGBAImage {
    u32 width = 0;
    u32 height = 0;
    std::vector<u8> pixels; // R, G, B, A per pixel, rows from the top
};

// True when the bytes start like a netpbm file ('P' and a digit), so they are
// read as PPM and never taken for another format.
bool looksLikePPM(const std::vector<u8>& bytes);

// Reads a plain PPM into opaque RGBA pixels, samples scaled from the maximum
// value to 255. False with a message naming the line ("ppm line 3: ...") for
// another magic, a width or height outside 1..16384, a maximum value outside
// 1..255, a word that is no decimal number, a sample above the maximum, and a
// file with fewer or more samples than its pixels hold.
bool readPlainPPM(const std::vector<u8>& bytes, RGBAImage& image, std::string& error);

} // namespace quern::assetbuild
