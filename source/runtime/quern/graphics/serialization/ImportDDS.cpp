#include "quern/graphics/serialization/ImportDDS.h"

#include "quern/debug/Log.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/Texture.h"
#include "quern/io/ByteSource.h"
#include "quern/language/Exception.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/LittleEndian.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace quern::graphics {
namespace {

constexpr const char* kUnsupportedFormat = "DDS format not supported!";

// DXGI formats of the DX10 header that name the DXT block formats.
constexpr u32 kDXGIBC1First = 70, kDXGIBC1Last = 72;
constexpr u32 kDXGIBC2First = 73, kDXGIBC2Last = 75;
constexpr u32 kDXGIBC3First = 76, kDXGIBC3Last = 78;

u32 halve(u32 value) { return value > 1 ? value / 2 : 1; }

bool isContiguous(u32 mask)
{
    const u32 shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

// Masks the channel builder can turn into a format of exactly `bitCount`
// bits: whole bytes, each mask one run of bits inside the pixel, no bit in
// two channels.
bool masksDescribePixel(const DDSPixelFormat& format)
{
    const u32 bits = format.rgbBitCount;
    if (bits == 0 || bits > 32 || bits % 8 != 0)
        return false;
    const u32 masks[] = { format.redMask, format.greenMask, format.blueMask, format.alphaMask };
    u32 used = 0;
    for (u32 mask : masks) {
        if (mask == 0)
            continue;
        if ((bits < 32 && (mask >> bits) != 0) || (used & mask) != 0 || !isContiguous(mask))
            return false;
        used |= mask;
    }
    return used != 0;
}

PixelFormat unsupportedFormat() { QUERN_RAISE(Exception, kUnsupportedFormat); }

PixelFormat alphaOnly8()
{
    return PixelFormat::fromOneChannel(Channel { ChannelContent::A, ChannelType::Unsigned, 8, 0, 0 }, 0);
}

bool lookupDXGIFormat(u32 dxgiFormat, u32 pixelFormatFlags, PixelFormat& out)
{
    if (dxgiFormat >= kDXGIBC1First && dxgiFormat <= kDXGIBC1Last)
        out = (pixelFormatFlags & DDSPixelFlags::AlphaPixels) ? PixelFormat::DXT1A : PixelFormat::DXT1;
    else if (dxgiFormat >= kDXGIBC2First && dxgiFormat <= kDXGIBC2Last)
        out = PixelFormat::DXT3;
    else if (dxgiFormat >= kDXGIBC3First && dxgiFormat <= kDXGIBC3Last)
        out = PixelFormat::DXT5;
    else
        return false;
    return true;
}

bool lookupFourCCFormat(const DDSPixelFormat& format, PixelFormat& out)
{
    switch (format.fourCC) {
    case ddsFourCC('D', 'X', 'T', '1'):
        out = (format.flags & DDSPixelFlags::AlphaPixels) ? PixelFormat::DXT1A : PixelFormat::DXT1;
        return true;
    case ddsFourCC('D', 'X', 'T', '2'):
        out = PixelFormat::DXT2;
        return true;
    case ddsFourCC('D', 'X', 'T', '3'):
        out = PixelFormat::DXT3;
        return true;
    case ddsFourCC('D', 'X', 'T', '4'):
        out = PixelFormat::DXT4;
        return true;
    case ddsFourCC('D', 'X', 'T', '5'):
    case ddsFourCC('R', 'X', 'G', 'B'):
        out = PixelFormat::DXT5;
        return true;
    default:
        return false;
    }
}

// The RGB test comes first, then FourCC, then luminance, then alpha.
bool lookupLegacyFormat(const DDSHeader& header, PixelFormat& out)
{
    const DDSPixelFormat& format = header.pixelFormat;
    if (format.flags & DDSPixelFlags::RGB) {
        // Masks the channel builder would misread (overlapping, broken runs,
        // bits beyond the pixel) would give a layout unlike the file's.
        if (!masksDescribePixel(format))
            return false;
        out = PixelFormat::fromBitMasks(
            format.redMask, format.greenMask, format.blueMask, format.alphaMask, format.rgbBitCount);
        return out.isValid() && static_cast<u32>(out.totalBits) == format.rgbBitCount;
    }
    if (format.flags & DDSPixelFlags::FourCC)
        return lookupFourCCFormat(format, out);
    // One 8-bit channel: a wider luminance or alpha file would be read with
    // the wrong layout.
    if ((format.flags & (DDSPixelFlags::Luminance | DDSPixelFlags::Alpha)) && format.rgbBitCount != 8)
        return false;
    if (format.flags & DDSPixelFlags::Luminance)
        out = PixelFormat::L8;
    else if (format.flags & DDSPixelFlags::Alpha)
        out = alphaOnly8();
    else
        return false;
    return true;
}

// a * b + c into `out`, false when it does not fit in 64 bits.
bool multiplyAdd(u64 a, u64 b, u64 c, u64& out)
{
    u64 product = 0;
    return !__builtin_mul_overflow(a, b, &product) && !__builtin_add_overflow(product, c, &out);
}

bool isVolume(const DDSHeader& header) { return header.depth > 1; }

// Pixels of the top level (all faces), false when that is more than a
// pixel buffer counts.
bool pixelCountFits(const DDSHeader& header)
{
    u64 pixels = 0;
    if (!multiplyAdd(header.width, header.height, 0, pixels)
        || !multiplyAdd(pixels, std::max<u32>(header.depth, 1), 0, pixels)
        || !multiplyAdd(pixels, header.isCubeMap() ? 6 : 1, 0, pixels))
        return false;
    return pixels <= std::numeric_limits<u32>::max();
}

u64 topLevelPixels(u32 width, u32 height, u32 depth) { return u64 { width } * height * depth; }

// Drops top levels until the top level has at most maxPixels pixels; at least
// one level stays.
void dropLevels(DDSHeader& header, u32 maxPixels)
{
    if (maxPixels == 0 || header.mipMapCount <= 1 || header.isCubeMap())
        return;
    u32 depth = std::max<u32>(header.depth, 1);
    // Each factor is below 2^32 and the product was checked against 2^32 - 1.
    while (topLevelPixels(header.width, header.height, depth) > maxPixels) {
        header.width = halve(header.width);
        header.height = halve(header.height);
        depth = halve(depth);
        if (--header.mipMapCount == 1)
            break;
    }
    if (header.depth != 0)
        header.depth = depth;
}

PixelBufferFormat imageLayout(const DDSHeader& header, const PixelFormat& pixelFormat, u64 size)
{
    if (isVolume(header))
        return PixelBufferFormat::create3D(header.width, header.height, header.depth, pixelFormat, size, 0);
    const i32 mipCount = header.mipMapCount > 0 ? static_cast<i32>(header.mipMapCount - 1) : 0;
    if (header.isCubeMap())
        return PixelBufferFormat::create(
            PixelBufferFormat::Type::CubeMap, header.width, header.height, 0, pixelFormat, 0, size, mipCount, 0, 1);
    return PixelBufferFormat::create2D(header.width, header.height, pixelFormat, size, mipCount, 0);
}

bool refuse(const char* reason)
{
    QUERN_LOG(2) << "DDS: " << reason << std::endl;
    return false;
}

// Why the header describes no DDS image; null when it does.
const char* headerFault(const DDSHeader& header)
{
    if (header.magic != kDDSMagic || header.headerSize != kDDSHeaderSize
        || header.pixelFormat.size != kDDSPixelFormatSize || header.width == 0 || header.height == 0)
        return "not a DDS header";
    return nullptr;
}

// Why the image cannot be read from `available` bytes of pixel data; null
// when it can, with the bytes of all its levels in `fullSize`.
const char* layoutFault(const DDSHeader& header, const PixelFormat& pixelFormat, u64 available, u64& fullSize)
{
    // Sizes are counted in blocks when the FourCC flag is set: a block format
    // without it, or a mask format with it, would be read with another layout.
    if (((header.pixelFormat.flags & DDSPixelFlags::FourCC) != 0) != pixelFormat.isDXTCompressed())
        return "pixel format flags contradict the format";
    if (!pixelCountFits(header))
        return "image dimensions too large";
    const u32 chainLevels
        = PixelBufferFormat::computeFullMipCount(header.width, header.height, isVolume(header) ? header.depth : 1) + 1;
    if (header.mipMapCount > chainLevels)
        return "more mip levels than the image has";
    fullSize = ddsDataSize(header, pixelFormat.elementSize);
    if (fullSize == 0)
        return "image size does not fit in 64 bits";
    if (fullSize > available)
        return "file shorter than its layout";
    return nullptr;
}

} // namespace

DDSHeader parseDDSHeader(const u8 (&bytes)[kDDSFileHeaderBytes])
{
    DDSHeader header;
    header.magic = readLittleEndian32(bytes + 0);
    header.headerSize = readLittleEndian32(bytes + 4);
    header.height = readLittleEndian32(bytes + 12);
    header.width = readLittleEndian32(bytes + 16);
    header.depth = readLittleEndian32(bytes + 24);
    header.mipMapCount = readLittleEndian32(bytes + 28);
    header.extensionWord = readLittleEndian32(bytes + 36);
    header.pixelFormat.size = readLittleEndian32(bytes + 76);
    header.pixelFormat.flags = readLittleEndian32(bytes + 80);
    header.pixelFormat.fourCC = readLittleEndian32(bytes + 84);
    header.pixelFormat.rgbBitCount = readLittleEndian32(bytes + 88);
    header.pixelFormat.redMask = readLittleEndian32(bytes + 92);
    header.pixelFormat.greenMask = readLittleEndian32(bytes + 96);
    header.pixelFormat.blueMask = readLittleEndian32(bytes + 100);
    header.pixelFormat.alphaMask = readLittleEndian32(bytes + 104);
    header.caps2 = readLittleEndian32(bytes + 112);
    return header;
}

PixelFormat convertDXGIToPixelFormat(u32 dxgiFormat, u32 pixelFormatFlags)
{
    PixelFormat format;
    return lookupDXGIFormat(dxgiFormat, pixelFormatFlags, format) ? format : unsupportedFormat();
}

PixelFormat convertPixelFormat(const DDSHeader& header)
{
    PixelFormat format;
    return lookupLegacyFormat(header, format) ? format : unsupportedFormat();
}

u64 ddsDataSize(const DDSHeader& header, u32 elementSize)
{
    const bool compressed = (header.pixelFormat.flags & DDSPixelFlags::FourCC) != 0;
    const u32 levels = std::max<u32>(header.mipMapCount, 1);
    // Depth 0 (what plain 2D files carry) is one slice.
    u64 width = header.width, height = header.height, depth = std::max<u32>(header.depth, 1);
    u64 total = 0;
    for (u32 level = 0; level < levels; ++level) {
        u64 bytes = 0;
        if (compressed) {
            if (!multiplyAdd((width + 3) / 4, (height + 3) / 4, 0, bytes)
                || !multiplyAdd(bytes, (depth + 3) / 4, 0, bytes) || !multiplyAdd(bytes, elementSize, 0, bytes))
                return 0;
        } else {
            if (!multiplyAdd(width, height, 0, bytes) || !multiplyAdd(bytes, depth, 0, bytes)
                || !multiplyAdd(bytes, header.pixelFormat.rgbBitCount, 0, bytes))
                return 0;
            bytes /= 8;
        }
        if (__builtin_add_overflow(total, bytes, &total))
            return 0;
        width = halve(static_cast<u32>(width));
        height = halve(static_cast<u32>(height));
        // A volume's levels halve in depth too, as the file stores them.
        depth = halve(static_cast<u32>(depth));
    }
    u64 faces = 0;
    if (!multiplyAdd(total, header.isCubeMap() ? 6 : 1, 0, faces))
        return 0;
    return faces;
}

TextureExtension decodeTextureExtension(u32 word)
{
    TextureExtension extension;
    if (word == 0)
        return extension;
    extension.referenceWidth = word >> 18;
    extension.referenceHeight = (word >> 4) & 0x3fff;
    extension.flag0 = static_cast<u8>(word & 1);
    extension.flag1 = static_cast<u8>((word >> 1) & 1);
    extension.flag2 = static_cast<u8>((word >> 2) & 1);
    extension.valid = extension.referenceWidth != 0 && extension.referenceHeight != 0 ? 1 : 0;
    return extension;
}

bool checkDDSFile(const u8* bytes, u64 size, std::string& reason)
{
    if (size < kDDSFileHeaderBytes) {
        reason = "file shorter than its header";
        return false;
    }
    u8 head[kDDSFileHeaderBytes];
    std::memcpy(head, bytes, sizeof head);
    const DDSHeader header = parseDDSHeader(head);
    if (const char* fault = headerFault(header)) {
        reason = fault;
        return false;
    }
    u64 offset = kDDSFileHeaderBytes;
    PixelFormat pixelFormat;
    bool known = false;
    if (header.hasDX10Header()) {
        if (size - offset < kDDSDX10HeaderBytes) {
            reason = "file shorter than its DX10 header";
            return false;
        }
        known = lookupDXGIFormat(readLittleEndian32(bytes + offset), header.pixelFormat.flags, pixelFormat);
        offset += kDDSDX10HeaderBytes;
    } else {
        known = lookupLegacyFormat(header, pixelFormat);
    }
    if (!known) {
        reason = kUnsupportedFormat;
        return false;
    }
    u64 fullSize = 0;
    if (const char* fault = layoutFault(header, pixelFormat, size - offset, fullSize)) {
        reason = fault;
        return false;
    }
    return true;
}

bool readDDS(ByteSource& source, PixelBuffer& image, TextureExtension& out, u32 maxPixels)
{
    const u64 sourceSize = source.size();
    auto remaining = [&] { return source.position < sourceSize ? sourceSize - source.position : 0; };

    if (remaining() < kDDSFileHeaderBytes)
        return refuse("file shorter than its header");
    u8 bytes[kDDSFileHeaderBytes];
    source.read(bytes, sizeof bytes);
    DDSHeader header = parseDDSHeader(bytes);
    if (const char* fault = headerFault(header))
        return refuse(fault);

    PixelFormat pixelFormat;
    if (header.hasDX10Header()) {
        if (remaining() < kDDSDX10HeaderBytes)
            return refuse("file shorter than its DX10 header");
        u8 dx10[kDDSDX10HeaderBytes];
        source.read(dx10, sizeof dx10);
        pixelFormat = convertDXGIToPixelFormat(readLittleEndian32(dx10), header.pixelFormat.flags);
    } else {
        pixelFormat = convertPixelFormat(header);
    }

    u64 fullSize = 0;
    if (const char* fault = layoutFault(header, pixelFormat, remaining(), fullSize))
        return refuse(fault);

    dropLevels(header, maxPixels);
    const u64 size = ddsDataSize(header, pixelFormat.elementSize);
    source.position += fullSize - size;

    out = decodeTextureExtension(header.extensionWord);

    memory::Allocator* allocator = memory::getDefaultAllocator();
    void* pixels = allocator->allocate(size, 4);
    if (!pixels)
        QUERN_OUT_OF_MEMORY();
    source.read(pixels, size);
    image.setData(pixels, imageLayout(header, pixelFormat, size), nullptr, image.createFlags());
    allocator->free(pixels);
    return true;
}

} // namespace quern::graphics
