#pragma once
// Nearest-neighbour rescaling of an image's base level, to a given size or to
// the nearest power of two. Block-compressed images are rescaled as 32-bit colour.

#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/PixelFormat.h"

namespace quern::graphics {
class PixelBuffer;
}

namespace quern::graphics::filters {

class RescaleFilter {
public:
    RescaleFilter() = default;
    RescaleFilter(u32 targetWidth, u32 targetHeight, bool toPowerOfTwo = false)
        : targetWidth(targetWidth), targetHeight(targetHeight), toPowerOfTwo(toPowerOfTwo)
    {
    }
    virtual ~RescaleFilter() = default;

    // Rescales the source into the destination; a destination of the same
    // size as the source receives a plain copy.
    void apply(const PixelBuffer& source, PixelBuffer& destination);
    // Rescales the buffer in place; nothing when the size stays.
    void apply(PixelBuffer& buffer);

    // Copies the nearest source pixel into each destination pixel; destination
    // rows follow each other without gaps. Reads stay inside the source image.
    virtual void process(const void* source, const PixelBufferFormat& sourceFormat, void* destination,
                         const PixelBufferFormat& destinationFormat);
    // The layout to rescale into (pixelFormat becomes 32-bit colour for block
    // formats); whether it differs in size from the source.
    virtual bool prepare(const PixelBufferFormat& source, PixelFormat& pixelFormat, PixelBufferFormat& result);

    u32 targetWidth = 0;
    u32 targetHeight = 0;
    bool toPowerOfTwo = false;
};

} // namespace quern::graphics::filters
