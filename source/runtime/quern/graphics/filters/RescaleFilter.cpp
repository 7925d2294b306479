#include "quern/graphics/filters/RescaleFilter.h"

#include "quern/graphics/NullPixelBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quern::graphics::filters {
namespace {

// Rounded to the nearest integer (ties to even), kept inside the source.
u64 nearestIndex(f32 position, u32 limit)
{
    const f32 rounded = std::nearbyint(position);
    if (!(rounded > 0.0f))
        return 0;
    return std::min(static_cast<u64>(rounded), static_cast<u64>(limit) - 1);
}

// Rescales `source` into `destination` with the layout prepare chose.
void rescaleInto(RescaleFilter& filter, const PixelBuffer& source, PixelBuffer& destination,
                 const PixelFormat& pixelFormat, const PixelBufferFormat& result)
{
    Ref converted;
    const PixelBuffer& input = pixelsInFormat(source, pixelFormat, converted);
    const PixelBufferFormat& inputLayout = input.format();
    writeImage(input, destination, result, [&](const u8* in, u8* out, const PixelBufferFormat& outLayout) {
        filter.process(in, inputLayout, out, outLayout);
    });
}

} // namespace

void RescaleFilter::apply(const PixelBuffer& source, PixelBuffer& destination)
{
    if (&source == &destination) {
        apply(destination);
        return;
    }
    PixelFormat pixelFormat = source.pixelFormat();
    PixelBufferFormat result;
    if (!prepare(source.format(), pixelFormat, result)) {
        destination.copyFrom(source, destination.createFlags());
        return;
    }
    rescaleInto(*this, source, destination, pixelFormat, result);
}

void RescaleFilter::apply(PixelBuffer& buffer)
{
    PixelFormat pixelFormat = buffer.pixelFormat();
    PixelBufferFormat result;
    if (!prepare(buffer.format(), pixelFormat, result))
        return;
    NullPixelBuffer* scaled = new NullPixelBuffer;
    Ref holder(scaled);
    rescaleInto(*this, buffer, *scaled, pixelFormat, result);
    buffer.copyFrom(*scaled, buffer.createFlags());
}

bool RescaleFilter::prepare(const PixelBufferFormat& source, PixelFormat& pixelFormat, PixelBufferFormat& result)
{
    if (pixelFormat.hasCompressedChannel())
        pixelFormat = PixelFormat::A8B8G8R8;
    if (toPowerOfTwo)
        result = PixelBufferFormat::copyWithPixelFormat(source.toNearestPowerOfTwo(), pixelFormat);
    else
        result = PixelBufferFormat::create2D(targetWidth, targetHeight, pixelFormat, 0, 0, source.origin);
    return result.width != source.width || result.height != source.height;
}

void RescaleFilter::process(const void* source, const PixelBufferFormat& sourceFormat, void* destination,
                            const PixelBufferFormat& destinationFormat)
{
    if (sourceFormat.width == 0 || sourceFormat.height == 0 || destinationFormat.width == 0 ||
        destinationFormat.height == 0)
        return;
    // Both sides have the same format; should they not, neither side is overrun.
    const u64 sourceBytes = static_cast<u64>(sourceFormat.pixelFormat.bytesPerPixel);
    const u64 pixelBytes = static_cast<u64>(destinationFormat.pixelFormat.bytesPerPixel);
    const u64 copyBytes = std::min(sourceBytes, pixelBytes);
    const f32 stepX = static_cast<f32>(sourceFormat.width) / static_cast<f32>(destinationFormat.width);
    const f32 stepY = static_cast<f32>(sourceFormat.height) / static_cast<f32>(destinationFormat.height);
    const u8* in = static_cast<const u8*>(source);
    u8* out = static_cast<u8*>(destination);
    f32 y = 0.0f;
    for (u32 row = 0; row < destinationFormat.height; ++row, y += stepY) {
        const u8* sourceRow = in + nearestIndex(y, sourceFormat.height) * sourceFormat.rowPitch;
        f32 x = 0.0f;
        for (u32 column = 0; column < destinationFormat.width; ++column, x += stepX) {
            std::memcpy(out, sourceRow + nearestIndex(x, sourceFormat.width) * sourceBytes, copyBytes);
            out += pixelBytes;
        }
    }
}

} // namespace quern::graphics::filters
