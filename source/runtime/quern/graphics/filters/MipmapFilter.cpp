#include "quern/graphics/filters/MipmapFilter.h"

#include "quern/graphics/iterators/MipmapIterator.h"

#include <algorithm>

namespace quern::graphics::filters {
namespace {

bool canFilter(const PixelFormat& format)
{
    return format.bytesPerPixel > 0 && !format.hasCompressedChannel() && !format.hasChannel(ChannelContent::P)
        && !format.hasChannel(ChannelContent::D);
}

u8 average(u32 a, u32 b, u32 c, u32 d) { return static_cast<u8>((a + b + c + d + 2) / 4); }

// One level from the level above it (rows `rowPitch` apart in each).
void halve(const u8* above, const PixelBufferFormat& aboveLevel, u8* below, const PixelBufferFormat& belowLevel)
{
    const PixelFormat& format = aboveLevel.pixelFormat;
    const u64 pixelBytes = static_cast<u64>(format.bytesPerPixel);
    for (u32 y = 0; y < belowLevel.height; ++y) {
        for (u32 x = 0; x < belowLevel.width; ++x) {
            Pixel corners[4];
            for (u32 i = 0; i < 4; ++i) {
                const u32 sx = std::min(x * 2 + (i & 1), aboveLevel.width - 1);
                const u32 sy = std::min(y * 2 + (i >> 1), aboveLevel.height - 1);
                corners[i] = format.convertToPixel(above + sy * aboveLevel.rowPitch + sx * pixelBytes);
            }
            const Pixel mean { average(corners[0].r, corners[1].r, corners[2].r, corners[3].r),
                average(corners[0].g, corners[1].g, corners[2].g, corners[3].g),
                average(corners[0].b, corners[1].b, corners[2].b, corners[3].b),
                average(corners[0].a, corners[1].a, corners[2].a, corners[3].a) };
            format.convertFromPixel(mean, below + y * belowLevel.rowPitch + x * pixelBytes);
        }
    }
}

} // namespace

void buildMipLevels(u8* pixels, const PixelBufferFormat& layout, u32 firstLevel)
{
    if (!pixels || layout.mipCount == 0 || !canFilter(layout.pixelFormat))
        return;
    const u32 faces = layout.type == PixelBufferFormat::Type::CubeMap ? 6 : 1;
    for (u32 face = 0; face < faces; ++face) {
        MipmapIterator it(pixels + face * (layout.dataSize / faces), layout);
        u8* above = it.current;
        PixelBufferFormat aboveLevel = it.level;
        for (it.next(); it.current != it.end; it.next()) {
            if (it.levelIndex >= firstLevel)
                halve(above, aboveLevel, it.current, it.level);
            above = it.current;
            aboveLevel = it.level;
        }
    }
}

} // namespace quern::graphics::filters
