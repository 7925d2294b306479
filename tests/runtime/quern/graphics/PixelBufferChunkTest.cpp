#include "DeviceTestSupport.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/io/StringSink.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace quern::graphics {
namespace {

using testing::Bytes;
using testing::pixelsOf;


struct ChunkHeader {
    u8 type = 2;
    u32 width = 0;
    u32 height = 0;
    u32 depth = 1;
    u8 formatCode = 0;
    u8 mipCount = 0;
    u64 dataSize = 0;
};

void put(u8* out, u64 value, u32 bytes)
{
    for (u32 i = 0; i < bytes; ++i)
        out[i] = static_cast<u8>(value >> (8 * i));
}

// A pixel-buffer chunk of `id` holding the header and `pixels`.
std::string writeChunk(
    serialize::PODToken& token, const ChunkHeader& header, const Bytes& pixels, u64 id = assets::ResourceType::Texture)
{
    u8 record[kPixelBufferHeaderBytes];
    put(record, header.type, 1);
    put(record + 1, header.width, 4);
    put(record + 5, header.height, 4);
    put(record + 9, header.depth, 4);
    put(record + 13, header.formatCode, 1);
    put(record + 14, header.mipCount, 1);
    put(record + 15, header.dataSize, 8);
    StringSink sink;
    const u32 start = token.beginWriteChunk(sink, id);
    token.writePOD(sink, record, 1, &kPixelBufferHeaderDescriptor, "header");
    token.writePOD(sink, pixels.data(), pixels.size(), &serialize::kU8Descriptor, "pixels");
    token.endWriteChunk(sink, start);
    return sink.text;
}

Bytes pattern(u64 count)
{
    Bytes bytes(count);
    for (u64 i = 0; i < count; ++i)
        bytes[i] = static_cast<u8>(i * 13 + 5);
    return bytes;
}

struct TokenForm {
    const char* name;
    std::unique_ptr<serialize::PODToken> token;
};

TokenForm tokenForms[] = {
    { "binary", std::make_unique<serialize::BinaryPODToken>() },
    { "text", std::make_unique<serialize::TextPODToken>() },
};

struct ImageCase {
    const char* name;
    ChunkHeader header;
    PixelBufferFormat::Type type;
    PixelFormat pixelFormat;
};

TEST(PixelBufferChunk, ReadsTheImageInBothTokenForms)
{
    // Data sizes: 8x4 L8 with the levels 8x4, 4x2 and 2x1: 32 + 8 + 2; 4x4 A8B8G8R8: 64; 8x8 DXT1 with one level below:
    // 32 + 8; a 2x2 cube map of B5G6R5: 6 x 8.
    const ImageCase cases[] = {
        { "luminance with levels", { 2, 8, 4, 1, 0, 2, 42 }, PixelBufferFormat::Type::Image2D, PixelFormat::L8 },
        { "rgba", { 2, 4, 4, 1, 4, 0, 64 }, PixelBufferFormat::Type::Image2D, PixelFormat::A8B8G8R8 },
        { "dxt1", { 2, 8, 8, 1, 9, 1, 40 }, PixelBufferFormat::Type::Image2D, PixelFormat::DXT1 },
        { "cube map", { 4, 2, 2, 1, 2, 0, 48 }, PixelBufferFormat::Type::CubeMap, PixelFormat::B5G6R5 },
    };
    for (const TokenForm& form : tokenForms) {
        for (const ImageCase& c : cases) {
            SCOPED_TRACE(std::string(form.name) + " " + c.name);
            const Bytes pixels = pattern(c.header.dataSize);
            const std::string text = writeChunk(*form.token, c.header, pixels) + "tail";
            StringSource source(text.data(), text.size());
            Ref image(new NullPixelBuffer);
            ASSERT_TRUE(readPixelBuffer(source, *form.token, *image.get<PixelBuffer>()));
            const PixelBufferFormat& format = image.get<PixelBuffer>()->format();
            EXPECT_EQ(format.type, c.type);
            EXPECT_EQ(format.width, c.header.width);
            EXPECT_EQ(format.height, c.header.height);
            EXPECT_EQ(format.mipCount, c.header.mipCount);
            EXPECT_EQ(format.pixelFormat, c.pixelFormat);
            EXPECT_EQ(format.dataSize, c.header.dataSize);
            EXPECT_EQ(pixelsOf(*image.get<PixelBuffer>()), pixels);
            // Only the chunk was read (the text form may leave the line end).
            std::string rest(source.size() - source.position, '\0');
            source.read(rest.data(), rest.size());
            EXPECT_TRUE(rest == "tail" || rest == "\ntail") << rest;
        }
    }
}

TEST(PixelBufferChunk, DeviceThatStoresRowsBottomUpGetsTheChunkWhole)
{
    // 2 x 3 pixels of A8B8G8R8, rows 0, 1, 2 top down.
    const Bytes pixels = pattern(24);
    serialize::BinaryPODToken token;
    const std::string text = writeChunk(token, { 2, 2, 3, 1, 4, 0, 24 }, pixels) + "tail";
    StringSource source(text.data(), text.size());
    testing::DeviceRules rules;
    rules.origin = 1;
    Ref image(new testing::RecordingPixelBuffer(rules));
    ASSERT_TRUE(readPixelBuffer(source, token, *image.get<PixelBuffer>()));
    EXPECT_EQ(image.get<PixelBuffer>()->format().origin, 1u);
    Bytes flipped(pixels.begin() + 16, pixels.end());
    flipped.insert(flipped.end(), pixels.begin() + 8, pixels.begin() + 16);
    flipped.insert(flipped.end(), pixels.begin(), pixels.begin() + 8);
    EXPECT_EQ(pixelsOf(*image.get<PixelBuffer>()), flipped);
    EXPECT_EQ(source.size() - source.position, 4u); // "tail" is left
}

TEST(PixelBufferChunk, ChunkOfAnotherIdReadsNothingMore)
{
    serialize::BinaryPODToken token;
    const std::string text = writeChunk(token, { 2, 2, 2, 1, 4, 0, 16 }, pattern(16), 0x1234);
    StringSource source(text.data(), text.size());
    Ref image(new NullPixelBuffer);
    EXPECT_FALSE(readPixelBuffer(source, token, *image.get<PixelBuffer>()));
    EXPECT_EQ(source.position, 8u); // the chunk id only
    EXPECT_EQ(image.get<PixelBuffer>()->format().dataSize, 0u);
}

TEST(PixelBufferChunkDeathTest, HeadersThatDescribeNoImageAreFatal)
{
    struct Case {
        const char* name;
        ChunkHeader header;
        u64 pixelBytes;
        const char* message;
    };
    const Case cases[] = {
        { "type 0", { 0, 2, 2, 1, 4, 0, 16 }, 16, "invalid image header" },
        { "type 5", { 5, 2, 2, 1, 4, 0, 16 }, 16, "invalid image header" },
        { "format code 13", { 2, 2, 2, 1, 13, 0, 16 }, 16, "invalid image header" },
        { "width 0", { 2, 0, 2, 1, 4, 0, 16 }, 16, "invalid image header" },
        { "data size below the layout", { 2, 4, 4, 1, 4, 0, 32 }, 32, "data size does not match" },
        { "data size above the layout", { 2, 2, 2, 1, 4, 0, 32 }, 32, "data size does not match" },
        { "more levels than the chain", { 2, 2, 2, 1, 4, 3, 20 }, 20, "more mip levels" },
        { "dimensions beyond 32 bits", { 2, 0x10000, 0x10000, 1, 0, 0, 16 }, 16, "image dimensions too large" },
        { "pixels beyond the end", { 2, 64, 64, 1, 4, 0, 16384 }, 16, "data size beyond the end of the file" },
    };
    serialize::BinaryPODToken token;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = writeChunk(token, c.header, pattern(c.pixelBytes));
        EXPECT_DEATH(
            {
                StringSource source(text.data(), text.size());
                Ref image(new NullPixelBuffer);
                readPixelBuffer(source, token, *image.get<PixelBuffer>());
            },
            std::string("Pixel buffer chunk: ") + c.message);
    }
}

} // namespace
} // namespace quern::graphics
