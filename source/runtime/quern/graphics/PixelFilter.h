#pragma once
// CPU filters over a whole image (every mip level and face) that keep its size.
// A filter first sees the image's pixel format and may ask for another one to
// work in (the user converts the image before filtering), or decline to run.

#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/PixelFormat.h"

namespace quern::graphics {

class PixelBuffer;

class PixelFilter {
public:
    virtual ~PixelFilter() = default;

    // Filters the source image into the destination, which is created anew
    // with the source's size in the working format. Nothing when the filter
    // declines the source's format.
    void apply(const PixelBuffer& source, PixelBuffer& destination);
    // Filters the buffer in place (through a scratch image).
    void apply(PixelBuffer& buffer);

    // Whether to run on an image of this format; may replace the format with the
    // one to work in. The base refuses invalid and block-compressed formats fatally.
    virtual bool setupPixelFormat(PixelFormat& format);

    // Filters the image from source into destination, both laid out by format
    // (which may be the same memory).
    virtual void filterImpl(const void* source, void* destination, const PixelBufferFormat& format) = 0;
};

} // namespace quern::graphics
