#pragma once
// Builds the mip levels of an image on the CPU: each level is the 2x2 box
// average of the one above it, per face of a cube map. For devices that cannot
// generate mip levels themselves.

#include "quern/Types.h"
#include "quern/graphics/PixelBufferFormat.h"

namespace quern::graphics::filters {

// Fills levels firstLevel..layout.mipCount of every face of `pixels` (laid out
// by `layout`) from the levels above them. Block-compressed, palette and depth
// images are left unchanged.
void buildMipLevels(u8* pixels, const PixelBufferFormat& layout, u32 firstLevel);

} // namespace quern::graphics::filters
