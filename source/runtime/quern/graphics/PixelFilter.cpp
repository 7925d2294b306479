#include "quern/graphics/PixelFilter.h"

#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/PixelFormatError.h"

#include <string>

namespace quern::graphics {
namespace {

// Filters `source` into `destination` in the working `format` the filter chose.
void filterInto(PixelFilter& filter, const PixelBuffer& source, PixelBuffer& destination, const PixelFormat& format)
{
    Ref converted;
    const PixelBuffer& input = pixelsInFormat(source, format, converted);
    const PixelBufferFormat layout = PixelBufferFormat::copyWithPixelFormat(input.format(), format);
    writeImage(input, destination, layout, [&](const u8* in, u8* out, const PixelBufferFormat& outLayout) {
        filter.filterImpl(in, out, outLayout);
    });
}

} // namespace

void PixelFilter::apply(const PixelBuffer& source, PixelBuffer& destination)
{
    if (&source == &destination) {
        apply(destination);
        return;
    }
    PixelFormat format = source.pixelFormat();
    if (!setupPixelFormat(format))
        return;
    filterInto(*this, source, destination, format);
}

void PixelFilter::apply(PixelBuffer& buffer)
{
    PixelFormat format = buffer.pixelFormat();
    if (!setupPixelFormat(format))
        return;
    NullPixelBuffer* result = new NullPixelBuffer;
    Ref holder(result);
    filterInto(*this, buffer, *result, format);
    buffer.copyFrom(*result, buffer.createFlags());
}

bool PixelFilter::setupPixelFormat(PixelFormat& format)
{
    if (!format.isValid()) {
        const std::string message = "Invalid pixel format: " + format.toString();
        QUERN_RAISE(Exception, message.c_str());
    }
    if (format.hasCompressedChannel())
        QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(format);
    return true;
}

} // namespace quern::graphics
