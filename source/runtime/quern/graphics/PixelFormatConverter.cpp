#include "quern/graphics/PixelConverter.h"

#include "quern/graphics/PixelFormatError.h"

#include <cstring>

namespace quern::graphics {

PixelFormatConverter::~PixelFormatConverter() = default;

bool PixelFormatConverter::setup(const PixelFormat& source, const PixelFormat& destination)
{
    m_converter.reset();
    if (source == destination)
        return true;
    if (source.bytesPerPixel == 0 || source.bytesPerPixel > 4 || destination.bytesPerPixel == 0 ||
        destination.bytesPerPixel > 4)
        return false;
    if (source.channelCount > 4 || destination.channelCount > 4)
        return false;
    m_converter = createPixelConverter(source, destination);
    return m_converter != nullptr;
}

bool PixelFormatConverter::setFormats(const PixelFormat& source, const PixelFormat& destination)
{
    if (!setup(source, destination))
        return false;
    m_source = source;
    m_destination = destination;
    return true;
}

void PixelFormatConverter::convert(const void* source, u64 byteCount, void* destination,
                                   containers::Buffer* palette)
{
    if (!m_converter) {
        std::memcpy(destination, source, byteCount);
        return;
    }
    m_converter->convertRun(source, destination, byteCount / m_converter->sourceBytes(), palette);
}

PixelFormatConverter* findPixelFormatConverter(const PixelFormat& source, const PixelFormat& destination)
{
    // One per thread: loaders convert images on several workers at once.
    thread_local PixelFormatConverter shared;
    return shared.setFormats(source, destination) ? &shared : nullptr;
}

Pixel PixelFormat::convertToPixel(const void* pixel) const
{
    const std::unique_ptr<PixelConverter> converter = createPixelConverter(*this, PixelFormat::A8B8G8R8);
    if (!converter)
        QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(*this);
    Pixel colour;
    converter->convert(pixel, &colour, nullptr);
    return colour;
}

void PixelFormat::convertFromPixel(Pixel colour, void* out) const
{
    const std::unique_ptr<PixelConverter> converter = createPixelConverter(PixelFormat::A8B8G8R8, *this);
    if (!converter)
        QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(*this);
    converter->convert(&colour, out, nullptr);
}

} // namespace quern::graphics
