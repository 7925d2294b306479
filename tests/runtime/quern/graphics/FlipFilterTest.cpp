#include "quern/graphics/filters/FlipFilter.h"

#include "quern/graphics/iterators/MipmapIterator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using quern::i32;
using quern::u32;
using quern::u64;
using quern::u8;
using quern::graphics::MipmapIterator;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;
using quern::graphics::filters::FlipFilter;
using Bytes = std::vector<u8>;
using Type = PixelBufferFormat::Type;

// A colour gradient: red across, green down, blue constant (B8G8R8 is stored R, G, B).
Bytes gradient(u32 width, u32 height)
{
    Bytes pixels;
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < width; ++x)
            pixels.insert(pixels.end(), {static_cast<u8>(x * 60), static_cast<u8>(y * 60), 200});
    return pixels;
}

// Numbered bytes, different in every position.
Bytes numbered(u64 size)
{
    Bytes bytes(size);
    for (u64 i = 0; i < size; ++i)
        bytes[i] = static_cast<u8>(i * 7 + 3);
    return bytes;
}

Bytes flipRows(const Bytes& image, u64 rowBytes)
{
    Bytes flipped;
    const u64 rows = image.size() / rowBytes;
    for (u64 r = rows; r-- > 0;)
        flipped.insert(flipped.end(), image.begin() + r * rowBytes, image.begin() + (r + 1) * rowBytes);
    return flipped;
}

Bytes filtered(FlipFilter filter, const PixelBufferFormat& layout, const Bytes& source)
{
    Bytes destination(source.size(), 0xEE);
    filter.filterImpl(source.data(), destination.data(), layout);
    return destination;
}

TEST(FlipFilter, VerticalFlipExchangesRows)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(4, 3, PixelFormat::B8G8R8);
    const Bytes image = gradient(4, 3);
    EXPECT_EQ(filtered(FlipFilter(), layout, image), flipRows(image, 12));
}

TEST(FlipFilter, HorizontalFlipMirrorsEveryRow)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(3, 2, PixelFormat::B8G8R8);
    const Bytes image = gradient(3, 2);
    const Bytes expected = {120, 0, 200, 60, 0, 200, 0, 0, 200, 120, 60, 200, 60, 60, 200, 0, 60, 200};
    EXPECT_EQ(filtered(FlipFilter(FlipFilter::kHorizontal), layout, image), expected);
}

TEST(FlipFilter, OneRowImagesAreOnlyCopied)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(4, 1, PixelFormat::B8G8R8);
    const Bytes image = gradient(4, 1);
    EXPECT_EQ(filtered(FlipFilter(), layout, image), image);
    EXPECT_EQ(filtered(FlipFilter(FlipFilter::kHorizontal), layout, image), image);
}

TEST(FlipFilter, FlipsInPlace)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(4, 3, PixelFormat::B8G8R8);
    Bytes image = gradient(4, 3);
    const Bytes expected = flipRows(image, 12);
    FlipFilter().filterImpl(image.data(), image.data(), layout);
    EXPECT_EQ(image, expected);
}

TEST(FlipFilter, EveryMipLevelAndCubeFaceIsFlippedOnItsOwn)
{
    // An 8x4 chain: levels 8x4 (32 bytes), 4x2 (8), 2x1 (2), 1x1 (1).
    const PixelBufferFormat chain = PixelBufferFormat::create2D(8, 4, PixelFormat::L8, 0, -1);
    const Bytes image = numbered(chain.dataSize);
    Bytes expected = flipRows(Bytes(image.begin(), image.begin() + 32), 8);
    const Bytes level1 = flipRows(Bytes(image.begin() + 32, image.begin() + 40), 4);
    expected.insert(expected.end(), level1.begin(), level1.end());
    expected.insert(expected.end(), image.begin() + 40, image.end());
    EXPECT_EQ(filtered(FlipFilter(), chain, image), expected);

    const PixelBufferFormat cube = PixelBufferFormat::create(Type::CubeMap, 2, 2, 1, PixelFormat::L8, 0, 0, 0, 0, 1);
    const Bytes faces = numbered(cube.dataSize);
    Bytes flippedFaces;
    for (u64 face = 0; face < 6; ++face) {
        const Bytes flipped = flipRows(Bytes(faces.begin() + face * 4, faces.begin() + face * 4 + 4), 2);
        flippedFaces.insert(flippedFaces.end(), flipped.begin(), flipped.end());
    }
    EXPECT_EQ(filtered(FlipFilter(), cube, faces), flippedFaces);
}

TEST(FlipFilter, EveryVolumeSliceIsFlipped)
{
    const PixelBufferFormat volume = PixelBufferFormat::create3D(2, 2, 2, PixelFormat::L8);
    const Bytes slices = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(filtered(FlipFilter(), volume, slices), (Bytes{3, 4, 1, 2, 7, 8, 5, 6}));
}

// What each pixel of a block-compressed level holds, decoded independently of
// the filter: the block's endpoints and the pixel's own indices.
enum class Blocks { DXT1, DXT3, DXT5 };

std::vector<u64> decodePixels(const u8* level, u32 width, u32 height, Blocks kind)
{
    const u64 blockBytes = kind == Blocks::DXT1 ? 8 : 16;
    const u64 blocksPerRow = (width + 3) / 4;
    std::vector<u64> pixels;
    for (u32 y = 0; y < height; ++y) {
        for (u32 x = 0; x < width; ++x) {
            const u8* block = level + ((y / 4) * blocksPerRow + x / 4) * blockBytes;
            const u32 row = y % 4, column = x % 4;
            const u8* colour = kind == Blocks::DXT1 ? block : block + 8;
            u64 value = colour[0] | colour[1] << 8 | colour[2] << 16 | static_cast<u64>(colour[3]) << 24;
            value = value << 2 | ((colour[4 + row] >> (2 * column)) & 3);
            if (kind == Blocks::DXT3) {
                const u32 word = block[2 * row] | block[2 * row + 1] << 8;
                value = value << 4 | ((word >> (4 * column)) & 15);
            } else if (kind == Blocks::DXT5) {
                u64 field = 0;
                for (u32 i = 0; i < 6; ++i)
                    field |= static_cast<u64>(block[2 + i]) << (8 * i);
                value = value << 16 | block[0] << 8 | block[1];
                value = value << 3 | ((field >> (12 * row + 3 * column)) & 7);
            }
            pixels.push_back(value);
        }
    }
    return pixels;
}

std::vector<u64> flipPixelRows(const std::vector<u64>& pixels, u32 width)
{
    std::vector<u64> flipped;
    for (u64 r = pixels.size() / width; r-- > 0;)
        flipped.insert(flipped.end(), pixels.begin() + r * width, pixels.begin() + (r + 1) * width);
    return flipped;
}

struct BlockCase {
    const char* name;
    const PixelFormat* format;
    Blocks kind;
    u32 width, height;
    i32 mips;
    Type type;
};

TEST(FlipFilter, BlockImagesFlipPixelRowsInsideAndAcrossBlocks)
{
    const BlockCase cases[] = {
        {"DXT1 8x2", &PixelFormat::DXT1, Blocks::DXT1, 8, 2, 0, Type::Image2D},
        {"DXT1 8x4", &PixelFormat::DXT1, Blocks::DXT1, 8, 4, 0, Type::Image2D},
        {"DXT1A 8x16", &PixelFormat::DXT1A, Blocks::DXT1, 8, 16, 0, Type::Image2D},
        {"DXT3 4x8", &PixelFormat::DXT3, Blocks::DXT3, 4, 8, 0, Type::Image2D},
        {"DXT3 chain", &PixelFormat::DXT3, Blocks::DXT3, 16, 32, -1, Type::Image2D},
        {"DXT5 256 chain", &PixelFormat::DXT5, Blocks::DXT5, 256, 256, -1, Type::Image2D},
        {"DXT1 cube chain", &PixelFormat::DXT1, Blocks::DXT1, 16, 16, -1, Type::CubeMap},
        {"DXT5 cube chain", &PixelFormat::DXT5, Blocks::DXT5, 8, 8, -1, Type::CubeMap},
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.name);
        const PixelBufferFormat layout =
            PixelBufferFormat::create(c.type, c.width, c.height, 1, *c.format, 0, 0, c.mips, 0, 1);
        Bytes image = numbered(layout.dataSize);
        const Bytes result = filtered(FlipFilter(), layout, image);
        const u32 faces = c.type == Type::CubeMap ? 6 : 1;
        u32 levels = 0;
        for (u32 face = 0; face < faces; ++face) {
            const u64 faceOffset = face * (layout.dataSize / faces);
            for (MipmapIterator it(image.data() + faceOffset, layout); it.current != it.end; it.next(), ++levels) {
                const u64 offset = static_cast<u64>(it.current - image.data());
                const u32 w = it.level.width, h = it.level.height;
                const std::vector<u64> before = decodePixels(image.data() + offset, w, h, c.kind);
                const std::vector<u64> after = decodePixels(result.data() + offset, w, h, c.kind);
                // A one-row level (the 1x1 at the end of a chain) is left as it is.
                EXPECT_EQ(after, h > 1 ? flipPixelRows(before, w) : before) << "level " << it.levelIndex;
            }
        }
        EXPECT_EQ(levels, faces * (layout.mipCount + 1));
    }
}

TEST(FlipFilter, AcceptsEveryFormatUnchanged)
{
    for (const PixelFormat* f : {&PixelFormat::BC7, &PixelFormat::DXT1A, &PixelFormat::L8}) {
        PixelFormat format = *f;
        EXPECT_TRUE(FlipFilter().setupPixelFormat(format));
        EXPECT_EQ(format, *f);
    }
}

TEST(FlipFilterDeathTest, UnflippableBlockImagesAreFatal)
{
    const Bytes data(64 * 1024);
    auto flip = [&](i32 direction, const PixelBufferFormat& layout) {
        Bytes out(data.size());
        FlipFilter(direction).filterImpl(data.data(), out.data(), layout);
    };
    EXPECT_DEATH(flip(FlipFilter::kVertical, PixelBufferFormat::create2D(100, 64, PixelFormat::DXT1)),
                 "Cannot flip compressed image with a non power-of-2 size!");
    EXPECT_DEATH(flip(FlipFilter::kHorizontal, PixelBufferFormat::create2D(64, 64, PixelFormat::DXT5)),
                 "Cannot flip compressed image horizontally!");
    EXPECT_DEATH(flip(FlipFilter::kVertical, PixelBufferFormat::create2D(64, 64, PixelFormat::BC7)),
                 "Cannot flip image with pixel format BC78");
    EXPECT_DEATH(flip(FlipFilter::kVertical, PixelBufferFormat::create2D(64, 64, PixelFormat::DXT2)),
                 "Cannot flip image with pixel format DXT2");
}

} // namespace
