#include "quern/graphics/iterators/MipmapIterator.h"

#include "quern/platform/ErrorReporting.h"

#include <algorithm>

namespace quern::graphics {

MipmapIterator::MipmapIterator(void* data, const PixelBufferFormat& layout)
{
    using Type = PixelBufferFormat::Type;
    current = static_cast<u8*>(data);
    end = current + (layout.type == Type::CubeMap ? layout.dataSize / 6 : layout.dataSize);
    levelCount = layout.mipCount + 1;
    compressed = layout.pixelFormat.hasCompressedChannel();
    if (compressed)
        blockBytes = layout.pixelFormat.hasChannel(ChannelContent::DXT1) ? 8 : 16;

    const PixelFormat& pixelFormat = layout.pixelFormat;
    switch (layout.type) {
    case Type::Image1D: level = PixelBufferFormat::create1D(layout.width, pixelFormat); break;
    case Type::Image2D:
    case Type::CubeMap:
        level = PixelBufferFormat::create2D(layout.width, layout.height, pixelFormat, 0, 0, layout.origin);
        break;
    case Type::Volume:
        level = PixelBufferFormat::create3D(layout.width, layout.height, layout.depth, pixelFormat, 0, layout.origin);
        break;
    default: QUERN_FATAL("Invalid format type");
    }
    levelSize = level.dataSize;
    stopWhenLevelOverruns();
}

void MipmapIterator::next()
{
    if (current == end)
        return;
    ++levelIndex;
    current += levelSize;
    if (levelIndex >= levelCount) {
        current = end;
        return;
    }
    level.width = std::max(1u, level.width / 2);
    level.height = std::max(1u, level.height / 2);
    level.depth = std::max(1u, level.depth / 2);
    level.rowPitch = level.pixelFormat.computeRowPitch(level.width);
    level.pixelCount = level.width * level.height * level.depth;
    level.mipCount = 0;
    level.layerCount = 1;
    level.dataSize = level.rowPitch == 0
                         ? 0
                         : PixelBufferFormat::computeDataSize(level.type, level.width, level.height, level.depth, 0,
                                                              level.pixelFormat.elementSize,
                                                              level.pixelFormat.isDXTCompressed());
    levelSize = level.dataSize;
    stopWhenLevelOverruns();
}

void MipmapIterator::stopWhenLevelOverruns()
{
    if (current == end)
        return;
    if (current > end || levelSize > static_cast<u64>(end - current))
        current = end;
}

} // namespace quern::graphics
