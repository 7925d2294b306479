#include "quern/graphics/filters/FlipFilter.h"

#include "quern/graphics/iterators/MipmapIterator.h"
#include "quern/language/Exception.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

namespace quern::graphics::filters {
namespace {

using Kernel = void (*)(u8* level, const PixelBufferFormat& layout);

u8* rowAt(u8* data, u64 rowPitch, u64 row) { return data + row * rowPitch; }

// Through a small buffer, so each part moves as whole-word copies.
void swapBytes(u8* a, u8* b, u64 count)
{
    u8 buffer[256];
    while (count > 0) {
        const u64 part = count < sizeof buffer ? count : sizeof buffer;
        std::memcpy(buffer, a, part);
        std::memcpy(a, b, part);
        std::memcpy(b, buffer, part);
        a += part;
        b += part;
        count -= part;
    }
}

// Every depth slice of a volume is flipped on its own.
void flipRowsVertically(u8* level, const PixelBufferFormat& layout)
{
    const u64 pitch = layout.rowPitch;
    const u64 height = layout.height;
    for (u64 slice = 0; slice < layout.depth; ++slice) {
        u8* rows = level + slice * height * pitch;
        for (u64 i = 0; i < height / 2; ++i)
            swapBytes(rowAt(rows, pitch, i), rowAt(rows, pitch, height - 1 - i), pitch);
    }
}

void flipRowsHorizontally(u8* level, const PixelBufferFormat& layout)
{
    const u64 pitch = layout.rowPitch;
    const u64 pixelBytes = static_cast<u64>(layout.pixelFormat.bytesPerPixel);
    const u64 rows = static_cast<u64>(layout.height) * layout.depth;
    for (u64 r = 0; r < rows; ++r) {
        u8* row = rowAt(level, pitch, r);
        for (u64 j = 0; j < layout.width / 2; ++j) {
            u8* left = row + j * pixelBytes;
            std::swap_ranges(left, left + pixelBytes, row + pitch - (j + 1) * pixelBytes);
        }
    }
}

// Inside a colour block: one byte of 2-bit indices per pixel row, row 0 first.
void flipColourBlockRows(u8* block, u32 rows)
{
    if (rows == 2)
        std::swap(block[4], block[5]);
    else
        std::reverse(block + 4, block + 8);
}

void flipDxt1BlockRows(u8* block, u32 rows) { flipColourBlockRows(block, rows); }

// Explicit alpha: one 16-bit word per pixel row, then a colour block.
void flipDxt3BlockRows(u8* block, u32 rows)
{
    if (rows == 2) {
        std::swap_ranges(block, block + 2, block + 2);
    } else {
        std::swap_ranges(block, block + 2, block + 6);
        std::swap_ranges(block + 2, block + 4, block + 4);
    }
    flipColourBlockRows(block + 8, rows);
}

// Interpolated alpha: two endpoints, then 12 bits of 3-bit indices per pixel
// row in a 48-bit little-endian field (row 0 lowest), then a colour block.
void flipDxt5BlockRows(u8* block, u32 rows)
{
    u64 field = 0;
    for (u32 i = 0; i < 6; ++i)
        field |= static_cast<u64>(block[2 + i]) << (8 * i);
    u64 groups[4];
    for (u32 r = 0; r < 4; ++r)
        groups[r] = (field >> (12 * r)) & 0xFFF;
    if (rows == 2)
        std::swap(groups[0], groups[1]);
    else
        std::reverse(groups, groups + 4);
    field = 0;
    for (u32 r = 0; r < 4; ++r)
        field |= groups[r] << (12 * r);
    for (u32 i = 0; i < 6; ++i)
        block[2 + i] = static_cast<u8>(field >> (8 * i));
    flipColourBlockRows(block + 8, rows);
}

template <u32 BlockBytes, void (*FlipRows)(u8*, u32)>
void flipBlocksVertically(u8* level, const PixelBufferFormat& layout)
{
    const u64 blocksPerRow = (static_cast<u64>(layout.width) + 3) / 4;
    const u64 blockRowBytes = blocksPerRow * BlockBytes;
    const u32 height = layout.height;
    if (height <= 4) {
        for (u64 column = 0; column < blocksPerRow; ++column)
            FlipRows(level + column * BlockBytes, height);
        return;
    }
    const u64 blockRows = height / 4;
    for (u64 i = 0; i < (static_cast<u64>(height) + 7) / 8; ++i) {
        u8* upper = level + i * blockRowBytes;
        u8* lower = level + (blockRows - 1 - i) * blockRowBytes;
        for (u64 column = 0; column < blocksPerRow; ++column) {
            u8* a = upper + column * BlockBytes;
            u8* b = lower + column * BlockBytes;
            std::swap_ranges(a, a + BlockBytes, b);
            FlipRows(a, 4);
            FlipRows(b, 4);
        }
    }
}

bool isPowerOfTwo(u32 value) { return value != 0 && std::has_single_bit(value); }

} // namespace

bool FlipFilter::setupPixelFormat(PixelFormat&) { return true; }

void FlipFilter::filterImpl(const void* source, void* destination, const PixelBufferFormat& format)
{
    u8* data = static_cast<u8*>(destination);
    if (source != destination)
        std::memcpy(data, source, format.dataSize);
    if (format.height == 1)
        return;

    Kernel kernel = direction != kHorizontal ? &flipRowsVertically : &flipRowsHorizontally;
    const PixelFormat& pixelFormat = format.pixelFormat;
    if (pixelFormat.hasCompressedChannel()) {
        if (direction != kVertical)
            QUERN_RAISE(Exception, "Cannot flip compressed image horizontally!");
        if (!isPowerOfTwo(format.width) || !isPowerOfTwo(format.height))
            QUERN_RAISE(Exception, "Cannot flip compressed image with a non power-of-2 size!");
        if (pixelFormat == PixelFormat::DXT1 || pixelFormat == PixelFormat::DXT1A) {
            kernel = &flipBlocksVertically<8, flipDxt1BlockRows>;
        } else if (pixelFormat == PixelFormat::DXT3) {
            kernel = &flipBlocksVertically<16, flipDxt3BlockRows>;
        } else if (pixelFormat == PixelFormat::DXT5) {
            kernel = &flipBlocksVertically<16, flipDxt5BlockRows>;
        } else {
            const std::string message = "Cannot flip image with pixel format " + pixelFormat.toString();
            QUERN_RAISE(Exception, message.c_str());
        }
    }

    const bool cube = format.type == PixelBufferFormat::Type::CubeMap;
    const u32 faces = cube ? 6 : 1;
    const u64 faceBytes = cube ? format.dataSize / 6 : format.dataSize;
    for (u32 face = 0; face < faces; ++face) {
        for (MipmapIterator it(data + face * faceBytes, format); it.current != it.end; it.next())
            if (it.level.height > 1)
                kernel(it.current, it.level);
    }
}

} // namespace quern::graphics::filters
