#include "DDSTestFiles.h"
#include "DeviceTestSupport.h"

#include "quern/graphics/DefaultTextures.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/serialization/ImportDDS.h"
#include "quern/io/StringSource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quern::graphics {
namespace {

using testing::Bytes;
using testing::DDSFileSpec;
using testing::dxt1ChainBytes;
using testing::dxt1Spec;
using testing::LogCapture;
using testing::makeDDS;
using testing::pixelsOf;
using testing::rgba32Spec;

struct ReadResult {
    bool ok = false;
    Ref image;
    TextureExtension extension;
    u64 endPosition = 0;

    PixelBuffer& buffer() const { return *image.get<PixelBuffer>(); }
    const PixelBufferFormat& format() const { return buffer().format(); }
};

ReadResult readFile(const std::vector<u8>& file, u32 maxPixels = 0)
{
    ReadResult result;
    result.image = Ref(new NullPixelBuffer);
    StringSource source(file.data(), file.size());
    result.ok = readDDS(source, result.buffer(), result.extension, maxPixels);
    result.endPosition = source.position;
    return result;
}

Bytes fileBytes(const std::vector<u8>& file, u64 offset, u64 count)
{
    return Bytes(
        file.begin() + static_cast<std::ptrdiff_t>(offset), file.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

PixelFormat alphaOnly8()
{
    return PixelFormat::fromOneChannel(Channel { ChannelContent::A, ChannelType::Unsigned, 8, 0, 0 }, 0);
}

TEST(ImportDDS, BuiltInWhiteImageIsOneOpaqueWhitePixel)
{
    const auto white = whiteDDSImage();
    const ReadResult result = readFile(std::vector<u8>(white.begin(), white.end()));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.format().type, PixelBufferFormat::Type::Image2D);
    EXPECT_EQ(result.format().width, 1u);
    EXPECT_EQ(result.format().height, 1u);
    EXPECT_EQ(result.format().mipCount, 0u);
    EXPECT_EQ(result.format().dataSize, 4u);
    EXPECT_EQ(
        result.format().pixelFormat, PixelFormat::fromBitMasks(0x000000ff, 0x0000ff00, 0x00ff0000, 0xff000000, 32));
    EXPECT_EQ(pixelsOf(result.buffer()), (Bytes { 0xff, 0xff, 0xff, 0xff }));
    EXPECT_EQ(result.extension.valid, 0);
}

struct FormatCase {
    const char* name;
    DDSFileSpec spec;
    PixelFormat expected;
    u64 dataSize; // of a 8 x 4 image without mip levels
};

DDSFileSpec fourCCSpec(const char* code, u32 flags = 0)
{
    DDSFileSpec spec;
    spec.width = 8;
    spec.fourCC = code;
    spec.pixelFlags = flags;
    return spec;
}

DDSFileSpec dx10Spec(u32 dxgi, u32 flags = 0)
{
    DDSFileSpec spec;
    spec.width = 8;
    spec.dx10 = true;
    spec.dxgiFormat = dxgi;
    spec.pixelFlags = flags;
    return spec;
}

DDSFileSpec maskSpec(u32 flags, u32 bits, u32 red, u32 green, u32 blue, u32 alpha)
{
    DDSFileSpec spec;
    spec.width = 8;
    spec.pixelFlags = flags;
    spec.bitCount = bits;
    spec.masks[0] = red;
    spec.masks[1] = green;
    spec.masks[2] = blue;
    spec.masks[3] = alpha;
    return spec;
}

TEST(ImportDDS, PixelFormatsOfEveryAcceptedDescription)
{
    const FormatCase cases[] = {
        { "rgba32", maskSpec(0x41, 32, 0xff, 0xff00, 0xff0000, 0xff000000),
            PixelFormat::fromBitMasks(0xff, 0xff00, 0xff0000, 0xff000000, 32), 128 },
        { "bgrx32", maskSpec(0x40, 32, 0xff0000, 0xff00, 0xff, 0),
            PixelFormat::fromBitMasks(0xff0000, 0xff00, 0xff, 0, 32), 128 },
        { "bgr24", maskSpec(0x40, 24, 0xff0000, 0xff00, 0xff, 0),
            PixelFormat::fromBitMasks(0xff0000, 0xff00, 0xff, 0, 24), 96 },
        { "rgb565", maskSpec(0x40, 16, 0xf800, 0x07e0, 0x001f, 0),
            PixelFormat::fromBitMasks(0xf800, 0x07e0, 0x001f, 0, 16), 64 },
        { "dxt1", fourCCSpec("DXT1"), PixelFormat::DXT1, 16 },
        { "dxt1 with alpha pixels", fourCCSpec("DXT1", 0x1), PixelFormat::DXT1A, 16 },
        { "dxt2", fourCCSpec("DXT2"), PixelFormat::DXT2, 32 },
        { "dxt3", fourCCSpec("DXT3"), PixelFormat::DXT3, 32 },
        { "dxt4", fourCCSpec("DXT4"), PixelFormat::DXT4, 32 },
        { "dxt5", fourCCSpec("DXT5"), PixelFormat::DXT5, 32 },
        { "rxgb", fourCCSpec("RXGB"), PixelFormat::DXT5, 32 },
        { "luminance", maskSpec(0x20000, 8, 0xff, 0, 0, 0), PixelFormat::L8, 32 },
        { "alpha only", maskSpec(0x2, 8, 0, 0, 0, 0xff), alphaOnly8(), 32 },
        { "bc1 typeless", dx10Spec(70), PixelFormat::DXT1, 16 },
        { "bc1 unorm", dx10Spec(71), PixelFormat::DXT1, 16 },
        { "bc1 srgb with alpha pixels", dx10Spec(72, 0x1), PixelFormat::DXT1A, 16 },
        { "bc2", dx10Spec(73), PixelFormat::DXT3, 32 },
        { "bc2 srgb", dx10Spec(75), PixelFormat::DXT3, 32 },
        { "bc3", dx10Spec(76), PixelFormat::DXT5, 32 },
        { "bc3 srgb", dx10Spec(78), PixelFormat::DXT5, 32 },
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = makeDDS(c.spec, c.dataSize);
        const ReadResult result = readFile(file);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.format().pixelFormat, c.expected) << result.format().pixelFormat.toString();
        EXPECT_EQ(result.format().width, 8u);
        EXPECT_EQ(result.format().height, 4u);
        EXPECT_EQ(result.format().dataSize, c.dataSize);
        const u64 headerBytes = c.spec.dx10 ? 148 : 128;
        EXPECT_EQ(pixelsOf(result.buffer()), fileBytes(file, headerBytes, c.dataSize));
        EXPECT_EQ(result.endPosition, file.size());
    }
}

struct UnsupportedCase {
    const char* name;
    DDSFileSpec spec;
};

TEST(ImportDDSDeathTest, UnsupportedFormatsAreFatal)
{
    const UnsupportedCase cases[] = {
        { "dxgi 28 (rgba8)", dx10Spec(28) },
        { "dxgi 98 (bc7)", dx10Spec(98) },
        { "unknown fourCC", fourCCSpec("ATI2") },
        { "no format flags", maskSpec(0, 32, 0, 0, 0, 0) },
        { "16-bit luminance", maskSpec(0x20000, 16, 0xffff, 0, 0, 0) },
        { "overlapping masks", maskSpec(0x40, 32, 0xffff, 0xff00, 0xff0000, 0) },
        { "mask beyond the pixel", maskSpec(0x40, 16, 0xf800, 0x07e0, 0x1f0000, 0) },
        { "broken mask", maskSpec(0x40, 32, 0xf00f, 0xff0000, 0xff000000, 0) },
        { "rgb without masks", maskSpec(0x40, 32, 0, 0, 0, 0) },
    };
    for (const UnsupportedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = makeDDS(c.spec, 128);
        EXPECT_DEATH(readFile(file), "DDS format not supported!");
    }
}

TEST(ImportDDS, PixelLimitDropsTopLevels)
{
    const auto file = makeDDS(dxt1Spec(256, 256, 9), dxt1ChainBytes(256, 256, 9));
    ASSERT_EQ(file.size(), 128u + 43704u);

    const ReadResult limited = readFile(file, 128 * 128);
    ASSERT_TRUE(limited.ok);
    EXPECT_EQ(limited.format().width, 128u);
    EXPECT_EQ(limited.format().height, 128u);
    EXPECT_EQ(limited.format().mipCount, 7u);
    EXPECT_EQ(limited.format().dataSize, 43704u - 32768u);
    // The 32768 bytes of the 256 x 256 level are skipped.
    EXPECT_EQ(pixelsOf(limited.buffer()), fileBytes(file, 128 + 32768, 43704 - 32768));
    EXPECT_EQ(limited.endPosition, file.size());

    const ReadResult whole = readFile(file, 0);
    ASSERT_TRUE(whole.ok);
    EXPECT_EQ(whole.format().width, 256u);
    EXPECT_EQ(whole.format().mipCount, 8u);
    EXPECT_EQ(whole.format().dataSize, 43704u);
    EXPECT_EQ(pixelsOf(whole.buffer()), fileBytes(file, 128, 43704));
}

TEST(ImportDDS, PixelLimitKeepsTheLastLevel)
{
    // Three levels, a limit no level meets: the 1 x 1 level is what stays.
    const auto file = makeDDS(dxt1Spec(4, 4, 3), dxt1ChainBytes(4, 4, 3));
    const ReadResult result = readFile(file, 0 + 1);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.format().width, 1u);
    EXPECT_EQ(result.format().mipCount, 0u);
    EXPECT_EQ(pixelsOf(result.buffer()), fileBytes(file, 128 + 16, 8));

    // A file without mip levels is never dropped.
    const auto single = makeDDS(rgba32Spec(64, 64), 64 * 64 * 4);
    const ReadResult kept = readFile(single, 16);
    ASSERT_TRUE(kept.ok);
    EXPECT_EQ(kept.format().width, 64u);
}

TEST(ImportDDS, CubeMapKeepsEveryLevelWhateverTheLimit)
{
    DDSFileSpec spec = dxt1Spec(16, 16, 5);
    spec.caps2 = 0xfe00;
    const u64 faceBytes = dxt1ChainBytes(16, 16, 5);
    const auto file = makeDDS(spec, 6 * faceBytes);
    for (u32 limit : { 0u, 1u, 64u }) {
        SCOPED_TRACE(limit);
        const ReadResult result = readFile(file, limit);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.format().type, PixelBufferFormat::Type::CubeMap);
        EXPECT_EQ(result.format().width, 16u);
        EXPECT_EQ(result.format().mipCount, 4u);
        EXPECT_EQ(result.format().dataSize, 6 * faceBytes);
        EXPECT_EQ(pixelsOf(result.buffer()), fileBytes(file, 128, 6 * faceBytes));
    }
}

TEST(ImportDDS, VolumeLevelsHalveInDepthAsTheFileStoresThem)
{
    DDSFileSpec spec = rgba32Spec(4, 4);
    spec.depth = 4;
    spec.mipMapCount = 3;
    // 4x4x4, 2x2x2 and 1x1x1 pixels of 4 bytes.
    const u64 bytes = (64 + 8 + 1) * 4;
    const auto file = makeDDS(spec, bytes);
    const ReadResult result = readFile(file);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.format().type, PixelBufferFormat::Type::Volume);
    EXPECT_EQ(result.format().depth, 4u);
    EXPECT_EQ(result.format().mipCount, 0u);
    EXPECT_EQ(pixelsOf(result.buffer()), fileBytes(file, 128, bytes));
    EXPECT_EQ(result.endPosition, file.size());
}

TEST(ImportDDS, DepthZeroIsOneSlice)
{
    // Plain 2D files carry depth 0; their compressed levels still hold blocks.
    for (u32 depth : { 0u, 1u }) {
        DDSFileSpec spec = dxt1Spec(8, 8, 2);
        spec.depth = depth;
        const auto file = makeDDS(spec, 32 + 8);
        const ReadResult result = readFile(file);
        ASSERT_TRUE(result.ok) << depth;
        EXPECT_EQ(result.format().type, PixelBufferFormat::Type::Image2D);
        EXPECT_EQ(result.format().dataSize, 40u);
        EXPECT_EQ(pixelsOf(result.buffer()), fileBytes(file, 128, 40));
    }
}

TEST(ImportDDS, ExtensionWord)
{
    struct Case {
        u32 word;
        TextureExtension expected;
    };
    const Case cases[] = {
        { (100u << 18) | (50u << 4) | 0x5, { 100, 50, 1, 0, 1, 1 } },
        { (100u << 18) | 0x7, { 100, 0, 1, 1, 1, 0 } },
        { (0x3fffu << 18) | (0x3fffu << 4) | 0x2, { 0x3fff, 0x3fff, 0, 1, 0, 1 } },
        { 0, { 0, 0, 0, 0, 0, 0 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        DDSFileSpec spec = rgba32Spec(1, 1);
        spec.extensionWord = c.word;
        const ReadResult result = readFile(makeDDS(spec, 4));
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.extension.referenceWidth, c.expected.referenceWidth);
        EXPECT_EQ(result.extension.referenceHeight, c.expected.referenceHeight);
        EXPECT_EQ(result.extension.flag0, c.expected.flag0);
        EXPECT_EQ(result.extension.flag1, c.expected.flag1);
        EXPECT_EQ(result.extension.flag2, c.expected.flag2);
        EXPECT_EQ(result.extension.valid, c.expected.valid);
    }
}

struct RefusedCase {
    const char* name;
    std::vector<u8> file;
    const char* reason;
};

std::vector<u8> truncated(std::vector<u8> file, u64 bytesLess)
{
    file.resize(file.size() - bytesLess);
    return file;
}

DDSFileSpec withField(DDSFileSpec spec, u32 DDSFileSpec::*field, u32 value)
{
    spec.*field = value;
    return spec;
}

TEST(ImportDDS, FilesThatAreNoReadableImageAreRefused)
{
    const DDSFileSpec dxt1 = dxt1Spec(16, 16, 5);
    const u64 dxt1Bytes = dxt1ChainBytes(16, 16, 5);
    DDSFileSpec huge = rgba32Spec(0xffffffffu, 0xffffffffu);
    DDSFileSpec wide = dxt1Spec(0x8000, 0x10000, 1);
    DDSFileSpec tooManyLevels = dxt1Spec(16, 16, 6);
    DDSFileSpec hugeVolume = rgba32Spec(0x10000, 0x10000);
    hugeVolume.depth = 0x10000;
    DDSFileSpec hugeLevels = dxt1Spec(4, 4, 0xffffffffu);
    DDSFileSpec masksWithFourCC = rgba32Spec(4, 4);
    masksWithFourCC.fourCC = "DXT1";
    const RefusedCase cases[] = {
        { "empty", {}, "shorter than its header" },
        { "half a header", truncated(makeDDS(dxt1, 0), 64), "shorter than its header" },
        { "no pixels", makeDDS(dxt1, 0), "shorter than its layout" },
        { "one byte short", truncated(makeDDS(dxt1, dxt1Bytes), 1), "shorter than its layout" },
        { "missing the dx10 header", truncated(makeDDS(dx10Spec(71), 0), 20), "shorter than its DX10 header" },
        { "bad magic", makeDDS(withField(dxt1, &DDSFileSpec::magic, 0x20534443), dxt1Bytes), "not a DDS header" },
        { "bad header size", makeDDS(withField(dxt1, &DDSFileSpec::headerSize, 128), dxt1Bytes), "not a DDS header" },
        { "bad pixel format size", makeDDS(withField(dxt1, &DDSFileSpec::pixelFormatSize, 0), dxt1Bytes),
            "not a DDS header" },
        { "zero width", makeDDS(withField(dxt1, &DDSFileSpec::width, 0), dxt1Bytes), "not a DDS header" },
        { "zero height", makeDDS(withField(dxt1, &DDSFileSpec::height, 0), dxt1Bytes), "not a DDS header" },
        { "pixel count beyond 32 bits", makeDDS(huge, 64), "dimensions too large" },
        { "blocks beyond the file", makeDDS(wide, 64), "shorter than its layout" },
        { "volume beyond 32 bits", makeDDS(hugeVolume, 64), "dimensions too large" },
        { "more levels than the chain", makeDDS(tooManyLevels, dxt1Bytes + 8), "more mip levels" },
        { "billions of levels", makeDDS(hugeLevels, 64), "more mip levels" },
        { "mask format with the FourCC flag", makeDDS(masksWithFourCC, 64), "flags contradict" },
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(2);
        const ReadResult result = readFile(c.file);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(log.contains(c.reason)) << log.text();
        EXPECT_EQ(result.format().dataSize, 0u);
    }
}

TEST(ImportDDS, ReadsFromTheSourcePosition)
{
    std::vector<u8> file(10, 0xee);
    const auto dds = makeDDS(rgba32Spec(2, 1), 8);
    file.insert(file.end(), dds.begin(), dds.end());
    Ref image(new NullPixelBuffer);
    StringSource source(file.data(), file.size());
    source.position = 10;
    TextureExtension extension;
    ASSERT_TRUE(readDDS(source, *image.get<PixelBuffer>(), extension, 0));
    EXPECT_EQ(pixelsOf(*image.get<PixelBuffer>()), fileBytes(file, 10 + 128, 8));
}

} // namespace
} // namespace quern::graphics
