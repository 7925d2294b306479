#pragma once
// The layout of one image in memory: its pixel format, kind (1D, 2D, volume,
// cube map), dimensions, mip levels, row pitch and total size. A plain value.
// Mip levels follow the base level; a cube map stores its six faces one after
// another, each with its own mip chain.

#include "quern/Types.h"
#include "quern/graphics/PixelFormat.h"

#include <string>

namespace quern::graphics {

class PixelBufferFormat {
public:
    enum class Type : i32 {
        None = 0,
        Image1D = 1,
        Image2D = 2,
        Volume = 3,
        CubeMap = 4,
    };

    PixelFormat pixelFormat;
    // Bytes of one row of the base level.
    u64 rowPitch = 0;
    // Every mip level, and all six faces of a cube map.
    u64 dataSize = 0;
    Type type = Type::None;
    u32 width = 0;
    u32 height = 0;
    u32 depth = 0;
    // width x height x depth, times 6 for a cube map.
    u32 pixelCount = 0;
    // Levels below the base level.
    u32 mipCount = 0;
    i32 layerCount = 1;
    // 0: the first row in memory is the top row; 1: it is the bottom row.
    u32 origin = 0;

    // A mip count of -1 asks for the full chain down to 1x1; a data size of 0
    // asks for the computed size.
    static constexpr i32 kFullMipChain = -1;

    static PixelBufferFormat create1D(u32 width, const PixelFormat& pixelFormat);
    static PixelBufferFormat create2D(u32 width, u32 height, const PixelFormat& pixelFormat, u64 dataSize = 0,
                                      i32 mipCount = 0, u32 origin = 0);
    static PixelBufferFormat create3D(u32 width, u32 height, u32 depth, const PixelFormat& pixelFormat,
                                      u64 dataSize = 0, u32 origin = 0);
    // The general form (cube maps, file readers): a height or depth of 0 is 1, a
    // row pitch of 0 is computed from the width.
    static PixelBufferFormat create(Type type, u32 width, u32 height, u32 depth, const PixelFormat& pixelFormat,
                                    u64 rowPitch, u64 dataSize, i32 mipCount, u32 origin, i32 layerCount);
    // This layout's geometry in another pixel format.
    static PixelBufferFormat copyWithPixelFormat(const PixelBufferFormat& source, const PixelFormat& pixelFormat);

    // Bytes of mipCount + 1 levels (times 6 for a cube map); block-compressed
    // sizes count whole 4x4 blocks of elementSize bytes.
    static u64 computeDataSize(Type type, u32 width, u32 height, u32 depth, u32 mipCount, u32 elementSize,
                               bool blockCompressed);
    // The halvings until every dimension is 1.
    static u32 computeFullMipCount(u32 width, u32 height, u32 depth);

    void setMipmapCount(u32 count);
    // The next smaller level, with the mip count kept.
    PixelBufferFormat nextMipLevel() const;

    // Same dimensions, row pitch and pixel format (depth formats of equal width
    // match whatever their channel type).
    bool sameLayout(const PixelBufferFormat& other) const;
    bool operator==(const PixelBufferFormat& other) const;

    bool isPowerOfTwo() const;
    // Each dimension rounded to the nearer power of two, without mip levels;
    // an unchanged copy when there is nothing to round.
    PixelBufferFormat toNearestPowerOfTwo() const;

    // "256x128, 32bpp (A8B8G8R8)".
    std::string toString() const;

private:
    u64 computeOwnDataSize(u32 levels, u32 widthForSize) const;
};

} // namespace quern::graphics
