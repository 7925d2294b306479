#include "quern/graphics/PixelBufferFormat.h"

#include "quern/platform/ErrorReporting.h"

#include <bit>

namespace quern::graphics {
namespace {

u32 halveForMip(u32 value) { return value > 3 ? value / 2 : 1; }

u32 resolveMipCount(i32 mipCount, u32 width, u32 height, u32 depth)
{
    return mipCount == PixelBufferFormat::kFullMipChain ? PixelBufferFormat::computeFullMipCount(width, height, depth)
                                                        : static_cast<u32>(mipCount);
}

bool isPowerOfTwoValue(u32 value) { return value != 0 && std::has_single_bit(value); }

u32 nearestPowerOfTwo(u32 value)
{
    if (value <= 1)
        return value;
    const u64 above = std::bit_ceil(static_cast<u64>(value));
    const u64 below = above / 2;
    return static_cast<u32>(above - value > 2 * (value - below) ? below : above);
}

} // namespace

u64 PixelBufferFormat::computeDataSize(Type type, u32 width, u32 height, u32 depth, u32 mipCount, u32 elementSize,
                                       bool blockCompressed)
{
    u64 w = width, h = height, d = depth;
    u64 total = 0;
    for (u64 level = 0; level <= mipCount; ++level) {
        // Counted in 64 bits: a large level does not wrap to a small size.
        if (blockCompressed)
            total += elementSize * (((w + 3) / 4) * ((h + 3) / 4) * ((d + 3) / 4));
        else
            total += elementSize * w * h * d;
        w = halveForMip(static_cast<u32>(w));
        h = halveForMip(static_cast<u32>(h));
        d = halveForMip(static_cast<u32>(d));
    }
    return type == Type::CubeMap ? total * 6 : total;
}

u32 PixelBufferFormat::computeFullMipCount(u32 width, u32 height, u32 depth)
{
    u32 count = 0;
    while (width > 1 || height > 1 || depth > 1) {
        width = width / 2 < 2 ? 1 : width / 2;
        height = height / 2 < 2 ? 1 : height / 2;
        depth = depth / 2 < 2 ? 1 : depth / 2;
        ++count;
    }
    return count;
}

u64 PixelBufferFormat::computeOwnDataSize(u32 levels, u32 widthForSize) const
{
    return computeDataSize(type, widthForSize, height, depth, levels, pixelFormat.elementSize,
                           pixelFormat.isDXTCompressed());
}

PixelBufferFormat PixelBufferFormat::create1D(u32 width, const PixelFormat& pixelFormat)
{
    PixelBufferFormat format;
    format.pixelFormat = pixelFormat;
    format.type = Type::Image1D;
    format.width = width;
    format.height = 1;
    format.depth = 1;
    format.pixelCount = width;
    format.rowPitch = pixelFormat.computeRowPitch(width);
    format.dataSize = format.rowPitch;
    return format;
}

PixelBufferFormat PixelBufferFormat::create2D(u32 width, u32 height, const PixelFormat& pixelFormat, u64 dataSize,
                                              i32 mipCount, u32 origin)
{
    PixelBufferFormat format;
    format.pixelFormat = pixelFormat;
    format.type = Type::Image2D;
    format.width = width;
    format.height = height;
    format.depth = 1;
    format.pixelCount = width * height;
    format.rowPitch = pixelFormat.computeRowPitch(width);
    format.mipCount = resolveMipCount(mipCount, width, height, 1);
    format.origin = origin;
    format.dataSize = dataSize;
    if (dataSize == 0 && format.rowPitch != 0)
        format.dataSize = format.computeOwnDataSize(format.mipCount, width);
    return format;
}

PixelBufferFormat PixelBufferFormat::create3D(u32 width, u32 height, u32 depth, const PixelFormat& pixelFormat,
                                              u64 dataSize, u32 origin)
{
    PixelBufferFormat format;
    format.pixelFormat = pixelFormat;
    format.type = Type::Volume;
    format.width = width;
    format.height = height;
    format.depth = depth;
    format.pixelCount = width * height * depth;
    format.rowPitch = pixelFormat.computeRowPitch(width);
    format.origin = origin;
    format.dataSize = dataSize;
    if (dataSize == 0 && format.rowPitch != 0)
        format.dataSize = format.computeOwnDataSize(0, width);
    return format;
}

PixelBufferFormat PixelBufferFormat::create(Type type, u32 width, u32 height, u32 depth,
                                            const PixelFormat& pixelFormat, u64 rowPitch, u64 dataSize, i32 mipCount,
                                            u32 origin, i32 layerCount)
{
    PixelBufferFormat format;
    format.pixelFormat = pixelFormat;
    format.type = type;
    format.width = width;
    format.height = height ? height : 1;
    format.depth = depth ? depth : 1;
    format.pixelCount = width * format.height * format.depth * (type == Type::CubeMap ? 6 : 1);
    format.rowPitch = rowPitch ? rowPitch : pixelFormat.computeRowPitch(width);
    format.mipCount = resolveMipCount(mipCount, width, format.height, format.depth);
    format.origin = origin;
    format.layerCount = layerCount;
    format.dataSize = dataSize;
    if (dataSize == 0 && format.rowPitch != 0) {
        const u32 widthForSize = rowPitch ? static_cast<u32>(pixelFormat.widthFromRowPitch(rowPitch)) : width;
        format.dataSize = format.computeOwnDataSize(format.mipCount, widthForSize);
    }
    return format;
}

PixelBufferFormat PixelBufferFormat::copyWithPixelFormat(const PixelBufferFormat& source,
                                                         const PixelFormat& pixelFormat)
{
    PixelBufferFormat format = source;
    format.pixelFormat = pixelFormat;
    const u64 oldBytes = static_cast<u64>(source.pixelFormat.bytesPerPixel);
    // Block sizes do not scale with bytes per pixel: between a block format and
    // another format the sizes are counted anew.
    const bool blocksChange = !(source.pixelFormat == pixelFormat) &&
                              (source.pixelFormat.isDXTCompressed() || pixelFormat.isDXTCompressed());
    if (oldBytes != 0 && !blocksChange) {
        const u64 newBytes = static_cast<u64>(pixelFormat.bytesPerPixel);
        format.rowPitch = newBytes * (source.rowPitch / oldBytes);
        format.dataSize = newBytes * (source.dataSize / oldBytes);
    } else {
        format.rowPitch = pixelFormat.computeRowPitch(format.width);
        format.dataSize = format.computeOwnDataSize(format.mipCount, format.width);
    }
    return format;
}

void PixelBufferFormat::setMipmapCount(u32 count)
{
    if (count == mipCount)
        return;
    mipCount = count;
    dataSize = computeOwnDataSize(count, width);
}

PixelBufferFormat PixelBufferFormat::nextMipLevel() const
{
    PixelBufferFormat next = *this;
    next.width = halveForMip(width);
    next.height = halveForMip(height);
    next.depth = halveForMip(depth);
    next.pixelCount = next.width * next.height * next.depth * (type == Type::CubeMap ? 6 : 1);
    next.dataSize = next.computeOwnDataSize(mipCount, next.width);
    next.rowPitch = pixelFormat.computeRowPitch(next.width);
    return next;
}

bool PixelBufferFormat::sameLayout(const PixelBufferFormat& other) const
{
    if (width != other.width || height != other.height || depth != other.depth || rowPitch != other.rowPitch)
        return false;
    if (pixelFormat == other.pixelFormat)
        return true;
    // A depth buffer is the same layout whether its channel is typed as integer or float.
    const Channel& mine = pixelFormat.channels[0];
    const Channel& theirs = other.pixelFormat.channels[0];
    return pixelFormat.channelCount == 1 && mine.content == ChannelContent::D &&
           theirs.content == ChannelContent::D && mine.bits == theirs.bits;
}

bool PixelBufferFormat::operator==(const PixelBufferFormat& other) const
{
    return type == other.type && sameLayout(other) && dataSize == other.dataSize && origin == other.origin;
}

bool PixelBufferFormat::isPowerOfTwo() const
{
    switch (type) {
    case Type::Image1D: return isPowerOfTwoValue(width);
    case Type::Image2D:
    case Type::CubeMap: return isPowerOfTwoValue(width) && isPowerOfTwoValue(height);
    case Type::Volume: return isPowerOfTwoValue(width) && isPowerOfTwoValue(height) && isPowerOfTwoValue(depth);
    case Type::None: break;
    }
    QUERN_FATAL("Invalid format type");
}

PixelBufferFormat PixelBufferFormat::toNearestPowerOfTwo() const
{
    if (type == Type::None || pixelCount == 0 || !pixelFormat.isValid() || isPowerOfTwo())
        return *this;
    return create(type, nearestPowerOfTwo(width), nearestPowerOfTwo(height), nearestPowerOfTwo(depth), pixelFormat,
                  0, 0, 0, origin, 1);
}

std::string PixelBufferFormat::toString() const
{
    std::string text;
    switch (type) {
    case Type::Image1D: text = std::to_string(width); break;
    case Type::Image2D: text = std::to_string(width) + "x" + std::to_string(height); break;
    case Type::Volume:
        text = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
        break;
    case Type::CubeMap: text = std::to_string(width) + "x" + std::to_string(height) + "^3"; break;
    default: QUERN_FATAL("Invalid pixel buffer type");
    }
    text += ", " + std::to_string(pixelFormat.totalBits) + "bpp";
    if (pixelFormat.isValid())
        text += " (" + pixelFormat.toString() + ")";
    return text;
}

} // namespace quern::graphics
