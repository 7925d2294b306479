#pragma once
// Mirrors an image: vertically (rows change places, also inside DXT1, DXT3 and
// DXT5 blocks) or horizontally (uncompressed images only). Every mip level is
// flipped on its own, every cube face on its own.

#include "quern/graphics/PixelFilter.h"

namespace quern::graphics::filters {

class FlipFilter : public PixelFilter {
public:
    static constexpr i32 kHorizontal = 0;
    static constexpr i32 kVertical = 1;

    explicit FlipFilter(i32 direction = kVertical) : direction(direction) {}

    // Every format is flipped as it is, block-compressed ones included.
    bool setupPixelFormat(PixelFormat& format) override;
    void filterImpl(const void* source, void* destination, const PixelBufferFormat& format) override;

    i32 direction;
};

} // namespace quern::graphics::filters
