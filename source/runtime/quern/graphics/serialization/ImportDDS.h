#pragma once
// Reads DDS images (texture assets) into pixel buffers: uncompressed files
// described by channel masks, luminance and alpha-only files, DXT1 to DXT5
// and their BC1 to BC3 names in the DX10 header; plain images, cube maps and
// volumes, with their mip levels. Files are untrusted: a header that does not
// describe a DDS image or a file shorter than its layout is refused.

#include "quern/Types.h"
#include "quern/graphics/PixelFormat.h"

#include <string>

namespace quern {
class ByteSource;
}

namespace quern::graphics {

class PixelBuffer;
struct TextureExtension;

inline constexpr u32 kDDSMagic = 0x20534444; // "DDS "
inline constexpr u32 kDDSHeaderSize = 124;
inline constexpr u32 kDDSPixelFormatSize = 32;
// The magic and the header.
inline constexpr u64 kDDSFileHeaderBytes = 128;
inline constexpr u64 kDDSDX10HeaderBytes = 20;

// Pixel-format flags.
namespace DDSPixelFlags {
inline constexpr u32 AlphaPixels = 0x1;
inline constexpr u32 Alpha = 0x2;
inline constexpr u32 FourCC = 0x4;
inline constexpr u32 RGB = 0x40;
inline constexpr u32 Luminance = 0x20000;
} // namespace DDSPixelFlags

inline constexpr u32 kDDSCaps2CubeMap = 0x200;

constexpr u32 ddsFourCC(char a, char b, char c, char d)
{
    return static_cast<u32>(static_cast<u8>(a)) | (static_cast<u32>(static_cast<u8>(b)) << 8)
        | (static_cast<u32>(static_cast<u8>(c)) << 16) | (static_cast<u32>(static_cast<u8>(d)) << 24);
}

struct DDSPixelFormat {
    u32 size = 0;
    u32 flags = 0;
    u32 fourCC = 0;
    u32 rgbBitCount = 0;
    u32 redMask = 0;
    u32 greenMask = 0;
    u32 blueMask = 0;
    u32 alphaMask = 0;
};

// The fields of the 128 bytes before the pixel data that the reader uses.
struct DDSHeader {
    u32 magic = 0;
    u32 headerSize = 0;
    u32 height = 0;
    u32 width = 0;
    u32 depth = 0;
    u32 mipMapCount = 0;
    u32 extensionWord = 0;
    DDSPixelFormat pixelFormat;
    u32 caps2 = 0;

    bool isCubeMap() const { return (caps2 & kDDSCaps2CubeMap) != 0; }
    bool hasDX10Header() const
    {
        return (pixelFormat.flags & DDSPixelFlags::FourCC) && pixelFormat.fourCC == ddsFourCC('D', 'X', '1', '0');
    }
};

// Parses the first kDDSFileHeaderBytes of a file, field by field.
DDSHeader parseDDSHeader(const u8 (&bytes)[kDDSFileHeaderBytes]);

// The pixel format of a DX10 header's DXGI format (BC1 to BC3); anything else
// raises "DDS format not supported!".
PixelFormat convertDXGIToPixelFormat(u32 dxgiFormat, u32 pixelFormatFlags);
// The pixel format of a header without a DX10 header; anything it cannot
// read raises "DDS format not supported!".
PixelFormat convertPixelFormat(const DDSHeader& header);

// Bytes of every level (and face) of the image the header describes, as the
// file lays them out; 0 when the sizes do not fit in 64 bits.
u64 ddsDataSize(const DDSHeader& header, u32 elementSize);

// The header's extension word: the size pixel coordinates refer to and three
// flags; valid only when both sizes are given. A word of 0 is not valid.
TextureExtension decodeTextureExtension(u32 word);

// Checks a whole DDS file in memory the way readDDS reads it, without
// reading its pixels and without ending the process (content tools check
// their input with it). False with the reason.
bool checkDDSFile(const u8* bytes, u64 size, std::string& reason);

// Reads a DDS file from the source's position into `image` and its extension
// word into `out`. With maxPixels > 0, top levels are skipped until the top
// level has at most that many pixels (cube maps keep every level). False,
// with the reason logged, for a file that is not a readable DDS image.
bool readDDS(ByteSource& source, PixelBuffer& image, TextureExtension& out, u32 maxPixels);

} // namespace quern::graphics
