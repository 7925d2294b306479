#include "quern/graphics/NullPixelBuffer.h"

#include <algorithm>
#include <cstring>

namespace quern::graphics {

NullPixelBuffer::NullPixelBuffer() : PixelBuffer(BufferUsage::Dynamic) {}

NullPixelBuffer::NullPixelBuffer(FontPage) : NullPixelBuffer()
{
    create(PixelBufferFormat::create2D(256, 256, PixelFormat::A8B8G8R8, 0, 0, 0), 0);
}

void NullPixelBuffer::createImpl(PixelBufferFormat& created, const PixelBufferFormat& requested, u32)
{
    created = requested;
}

void NullPixelBuffer::setDataImpl(const void* pixels, u32)
{
    const u64 size = std::min(format().dataSize, byteSize());
    u8* destination = lockPixelsForWrite();
    if (size && pixels)
        std::memcpy(destination, pixels, size);
    unlockPixels();
}

const PixelBuffer& pixelsInFormat(const PixelBuffer& source, const PixelFormat& format, Ref& holder)
{
    if (format == source.pixelFormat())
        return source;
    NullPixelBuffer* converted = new NullPixelBuffer;
    holder = Ref(converted);
    converted->copyFrom(source, 0);
    converted->setPixelFormat(format);
    return *converted;
}

} // namespace quern::graphics
