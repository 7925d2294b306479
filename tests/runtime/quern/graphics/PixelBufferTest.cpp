#include "quern/graphics/PixelBuffer.h"

#include "DeviceTestSupport.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/filters/RescaleFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace quern::graphics {
namespace {

using namespace testing;
using Type = PixelBufferFormat::Type;

// Pixels that name their position: bytes x, y, x ^ y, 200. In A8B8G8R8 (the
// layout of a Pixel) that is red x, green y, blue x ^ y, alpha 200.
Bytes positions(u32 width, u32 height)
{
    Bytes pixels;
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < width; ++x)
            pixels.insert(pixels.end(), {u8(x), u8(y), u8(x ^ y), 200});
    return pixels;
}

Bytes rowsReversed(const Bytes& pixels, u64 rowBytes)
{
    Bytes flipped;
    for (u64 row = pixels.size() / rowBytes; row-- > 0;)
        flipped.insert(flipped.end(), pixels.begin() + static_cast<long>(row * rowBytes),
                       pixels.begin() + static_cast<long>((row + 1) * rowBytes));
    return flipped;
}

class PixelBufferTest : public ::testing::Test {
protected:
    GlobalDisplay m_display{new NullDisplay};
};

TEST_F(PixelBufferTest, DataInTheDeviceLayoutIsUploadedOnceAsGiven)
{
    LogCapture warnings(2), information(3), detail(5);
    RecordingPixelBuffer buffer;
    const Bytes pixels = positions(4, 2);
    buffer.setData(pixels.data(), PixelBufferFormat::create2D(4, 2, PixelFormat::R8G8B8A8), nullptr, 0);

    ASSERT_EQ(buffer.uploads.size(), 1u);
    EXPECT_EQ(buffer.uploads[0].pixels, pixels);
    EXPECT_EQ(buffer.uploads[0].mipCount, 0u);
    EXPECT_EQ(pixelsOf(buffer), pixels);
    EXPECT_TRUE(buffer.hasDeviceObject());
    EXPECT_EQ(warnings.text() + information.text() + detail.text(), "");
}

TEST_F(PixelBufferTest, PowerOfTwoDeviceLogsTheAdaptedFormatThenRescales)
{
    LogCapture warnings(2), information(3);
    RecordingPixelBuffer buffer(DeviceRules().roundToPowerOfTwo());
    const PixelBufferFormat given = PixelBufferFormat::create2D(300, 200, PixelFormat::R8G8B8A8);
    const Bytes pixels = positions(300, 200);
    buffer.setData(pixels.data(), given, nullptr, 0);

    EXPECT_TRUE(information.contains("Creating pixel buffer with adapted format: 300x200, 32bpp (R8G8B8A8) -> "
                                     "256x256, 32bpp (R8G8B8A8)"));
    EXPECT_TRUE(warnings.contains("Automatic rescaling of texture from 300x200 to 256x256"));
    EXPECT_FALSE(warnings.contains("Automatic conversion"));

    const PixelBufferFormat scaled = PixelBufferFormat::create2D(256, 256, PixelFormat::R8G8B8A8);
    Bytes expected(scaled.dataSize);
    filters::RescaleFilter(256, 256).process(pixels.data(), given, expected.data(), scaled);
    ASSERT_EQ(buffer.uploads.size(), 1u);
    EXPECT_EQ(buffer.uploads[0].pixels, expected);
}

// Rescaling keeps only the base level, while the device made a full chain:
// it must be told of one level and never read the missing ones from beyond
// the rescaled image.
TEST_F(PixelBufferTest, RescaledMipChainReachesTheDeviceAsTheBaseLevelOnly)
{
    RecordingPixelBuffer buffer(DeviceRules().roundToPowerOfTwo(true));
    const PixelBufferFormat given =
        PixelBufferFormat::create2D(300, 200, PixelFormat::R8G8B8A8, 0, PixelBufferFormat::kFullMipChain);
    Bytes pixels(given.dataSize, 0x5a);
    buffer.setData(pixels.data(), given, nullptr, 0);

    ASSERT_EQ(buffer.format().mipCount, 8u);
    ASSERT_EQ(buffer.uploads.size(), 1u);
    const Upload& upload = buffer.uploads[0];
    EXPECT_EQ(upload.mipCount, 0u);
    const u64 baseBytes = 256u * 256u * 4u;
    ASSERT_EQ(upload.pixels.size(), buffer.format().dataSize);
    EXPECT_TRUE(std::all_of(upload.pixels.begin(), upload.pixels.begin() + baseBytes, [](u8 b) { return b == 0x5a; }));
    EXPECT_TRUE(std::all_of(upload.pixels.begin() + baseBytes, upload.pixels.end(), [](u8 b) { return b == 0; }));
}

TEST_F(PixelBufferTest, RowOrderOfTheDeviceFlipsTheRowsEvenWhenNothingElseDiffers)
{
    LogCapture warnings(2), detail(5);
    RecordingPixelBuffer buffer(DeviceRules().rowsFromBottom());
    const Bytes pixels = positions(2, 3);
    buffer.setData(pixels.data(), PixelBufferFormat::create2D(2, 3, PixelFormat::R8G8B8A8), nullptr, 0);

    EXPECT_TRUE(detail.contains("Flipping texture vertically"));
    EXPECT_EQ(warnings.text(), "");
    ASSERT_EQ(buffer.uploads.size(), 1u);
    EXPECT_EQ(buffer.uploads[0].pixels, rowsReversed(pixels, 2 * 4));
}

TEST_F(PixelBufferTest, PixelFormatTheDeviceStoresIsConvertedTo)
{
    LogCapture warnings(2);
    RecordingPixelBuffer buffer(DeviceRules().storing(PixelFormat::B8G8R8A8));
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    buffer.setData(pixels.data(), PixelBufferFormat::create2D(2, 1, PixelFormat::R8G8B8A8), nullptr, 0);

    EXPECT_TRUE(warnings.contains("Automatic conversion of pixel format R8G8B8A8 to B8G8R8A8"));
    ASSERT_EQ(buffer.uploads.size(), 1u);
    // R8G8B8A8 stores A, B, G, R in memory; B8G8R8A8 stores A, R, G, B.
    EXPECT_EQ(buffer.uploads[0].pixels, (Bytes{1, 4, 3, 2, 5, 8, 7, 6}));
    EXPECT_EQ(buffer.pixelFormat(), PixelFormat::B8G8R8A8);
}

TEST_F(PixelBufferTest, ConversionAndRowOrderTogetherAreBothApplied)
{
    LogCapture warnings(2), detail(5);
    RecordingPixelBuffer buffer(DeviceRules().storing(PixelFormat::B8G8R8A8).rowsFromBottom());
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    buffer.setData(pixels.data(), PixelBufferFormat::create2D(1, 2, PixelFormat::R8G8B8A8), nullptr, 0);

    EXPECT_TRUE(warnings.contains("Automatic conversion of pixel format R8G8B8A8 to B8G8R8A8"));
    EXPECT_TRUE(detail.contains("Flipping texture vertically"));
    ASSERT_EQ(buffer.uploads.size(), 1u);
    EXPECT_EQ(buffer.uploads[0].pixels, (Bytes{5, 8, 7, 6, 1, 4, 3, 2}));
}

TEST_F(PixelBufferTest, PremultiplyFlagTakesTheConversionPathOnTheNullImage)
{
    NullPixelBuffer buffer;
    const Bytes pixels = {255, 255, 255, 128, 10, 20, 30, 255, 90, 90, 90, 0};
    buffer.setData(pixels.data(), PixelBufferFormat::create2D(3, 1, PixelFormat::A8B8G8R8), nullptr,
                   PixelBuffer::PremultiplyAlpha);
    EXPECT_EQ(pixelsOf(buffer), (Bytes{188, 188, 188, 128, 10, 20, 30, 255, 0, 0, 0, 0}));
    EXPECT_EQ(buffer.createFlags(), static_cast<u32>(PixelBuffer::PremultiplyAlpha));
}

// A device that makes a cube map of a face-sized request takes the one face
// as it is; the faces not given read as zeros, never past the caller's face.
TEST_F(PixelBufferTest, OneFaceGivenForACubeMapGoesStraightToTheDevice)
{
    class CubeDevice final : public NullPixelBuffer {
    public:
        std::vector<Upload> uploads;

    protected:
        void createImpl(PixelBufferFormat& created, const PixelBufferFormat& requested, u32) override
        {
            created = PixelBufferFormat::create(Type::CubeMap, requested.width, requested.height, 1,
                                                requested.pixelFormat, 0, 0, 0, 0, 1);
        }
        void setDataImpl(const void* pixels, u32 mipCount) override
        {
            const u8* bytes = static_cast<const u8*>(pixels);
            uploads.push_back({Bytes(bytes, bytes + format().dataSize), mipCount});
        }
    };
    LogCapture warnings(2), detail(5);
    CubeDevice buffer;
    const Bytes face = positions(2, 2);
    buffer.setData(face.data(), PixelBufferFormat::create2D(2, 2, PixelFormat::R8G8B8A8), nullptr, 0);

    EXPECT_EQ(warnings.text() + detail.text(), "");
    ASSERT_EQ(buffer.uploads.size(), 1u);
    Bytes expected(6 * face.size(), 0);
    std::copy(face.begin(), face.end(), expected.begin());
    EXPECT_EQ(buffer.uploads[0].pixels, expected);
}

TEST_F(PixelBufferTest, CreatingTheSameLayoutAgainKeepsTheImage)
{
    RecordingPixelBuffer buffer;
    const PixelBufferFormat layout = PixelBufferFormat::create2D(8, 8, PixelFormat::B8G8R8);
    buffer.create(layout, 16);
    buffer.create(layout, 16);
    EXPECT_EQ(buffer.requests.size(), 1u);
    buffer.create(layout, 18);
    EXPECT_EQ(buffer.requests.size(), 2u);
    EXPECT_EQ(buffer.createFlags(), 18u);
    buffer.create(PixelBufferFormat::create2D(8, 8, PixelFormat::B8G8R8, 0, 1), 18);
    EXPECT_EQ(buffer.requests.size(), 3u);
    EXPECT_EQ(buffer.byteSize(), buffer.format().dataSize);
}

TEST_F(PixelBufferTest, SetPixelFormatConvertsEveryLevelAndKeepsEqualFormats)
{
    NullPixelBuffer buffer;
    const PixelBufferFormat layout = PixelBufferFormat::create2D(2, 2, PixelFormat::R8G8B8A8, 0, 1);
    Bytes pixels;
    for (u8 i = 0; i < 5; ++i)
        pixels.insert(pixels.end(), {u8(i * 4), u8(i * 4 + 1), u8(i * 4 + 2), u8(i * 4 + 3)});
    buffer.setData(pixels.data(), layout, nullptr, 0);

    EXPECT_TRUE(buffer.setPixelFormat(PixelFormat::R8G8B8A8));
    EXPECT_EQ(pixelsOf(buffer), pixels);

    EXPECT_TRUE(buffer.setPixelFormat(PixelFormat::B8G8R8));
    EXPECT_EQ(buffer.format().mipCount, 1u);
    // Memory order A, B, G, R becomes B, G, R.
    EXPECT_EQ(pixelsOf(buffer), (Bytes{3, 2, 1, 7, 6, 5, 11, 10, 9, 15, 14, 13, 19, 18, 17}));
}

TEST_F(PixelBufferTest, PaletteImagesExpandThroughTheirPalette)
{
    containers::ElementBuffer palette;
    palette.setElementSize(4);
    const u8 entries[] = {0x10, 0x20, 0x30, 0xff, 0xaa, 0xbb, 0xcc, 0x80};
    palette.setSize(sizeof entries);
    std::memcpy(palette.data(), entries, sizeof entries);
    const Bytes indices = {1, 0, 1};
    const PixelBufferFormat layout = PixelBufferFormat::create2D(3, 1, PixelFormat::P8);

    // A device that keeps palette images takes the palette as it is.
    NullPixelBuffer kept;
    kept.setData(indices.data(), layout, &palette, 0);
    EXPECT_EQ(pixelsOf(kept), indices);
    ASSERT_EQ(kept.palette().byteSize(), sizeof entries);
    u8 rgb[6] = {};
    EXPECT_EQ(kept.convertPaletteToRGB8(rgb), 2u);
    // R8G8B8 stores B, G, R in memory.
    EXPECT_EQ(Bytes(rgb, rgb + 6), (Bytes{0x30, 0x20, 0x10, 0xcc, 0xbb, 0xaa}));

    // One that stores colour gets the opaque colours.
    RecordingPixelBuffer expanded(DeviceRules().storing(PixelFormat::A8B8G8R8));
    expanded.setData(indices.data(), layout, &palette, 0);
    ASSERT_EQ(expanded.uploads.size(), 1u);
    EXPECT_EQ(expanded.uploads[0].pixels,
              (Bytes{0xaa, 0xbb, 0xcc, 0xff, 0x10, 0x20, 0x30, 0xff, 0xaa, 0xbb, 0xcc, 0xff}));
}

struct ClearCase {
    const char* name;
    const PixelFormat* format;
    f32 colour[4];
    Bytes pixel;
};

TEST_F(PixelBufferTest, ClearWritesTheColourIntoEveryBaseLevelPixelOnly)
{
    const ClearCase cases[] = {
        {"black with alpha is converted, not zeroed", &PixelFormat::A8B8G8R8, {0, 0, 0, 1}, {0, 0, 0, 255}},
        {"black without alpha is zeros", &PixelFormat::B8G8R8, {0, 0, 0, 1}, {0, 0, 0}},
        {"colour in stored channel order", &PixelFormat::R8G8B8, {1, 0.5f, 0, 1}, {0, 128, 255}},
        {"alpha first in memory", &PixelFormat::R8G8B8A8, {1, 0.5f, 0, 0.25f}, {64, 0, 128, 255}},
        {"components round to nearest", &PixelFormat::A8B8G8R8, {0.2f, 0.4f, 0.6f, 0.8f}, {51, 102, 153, 204}},
        {"out of range clamps", &PixelFormat::A8B8G8R8, {2, -1, 0, 1}, {255, 0, 0, 255}},
    };
    for (const ClearCase& c : cases) {
        SCOPED_TRACE(c.name);
        NullPixelBuffer buffer;
        const PixelBufferFormat layout = PixelBufferFormat::create2D(3, 2, *c.format, 0, 1);
        const Bytes before(layout.dataSize, 0xab);
        buffer.setData(before.data(), layout, nullptr, 0);
        buffer.clear(c.colour);

        const Bytes after = pixelsOf(buffer);
        const u64 baseBytes = 3 * 2 * c.pixel.size();
        for (u64 at = 0; at < baseBytes; at += c.pixel.size())
            ASSERT_EQ(Bytes(after.begin() + static_cast<long>(at), after.begin() + static_cast<long>(at + c.pixel.size())),
                      c.pixel);
        // Black without alpha zeroes the whole image; a colour leaves the mip level alone.
        const u8 rest = c.pixel == Bytes(c.pixel.size(), 0) ? 0 : 0xab;
        EXPECT_TRUE(std::all_of(after.begin() + static_cast<long>(baseBytes), after.end(), [&](u8 b) { return b == rest; }));
    }
}

struct SubImageCase {
    const char* name;
    u32 x, y, width, height;
    std::vector<const char*> rows; // the image afterwards, '.' untouched
};

TEST_F(PixelBufferTest, SubImagesAreClippedToTheImage)
{
    const SubImageCase cases[] = {
        {"inside", 1, 1, 2, 2, {"..........", ".AB.......", ".KL.......", ".........."}},
        {"two columns left at the right edge", 8, 0, 5, 1, {"........AB", "..........", "..........", ".........."}},
        {"rows past the bottom are dropped", 0, 3, 2, 3, {"..........", "..........", "..........", "AB........"}},
        {"starting right of the image writes nothing", 10, 0, 3, 1, {"..........", "..........", "..........", ".........."}},
        {"starting far outside writes nothing", 4000000000u, 4000000000u, 3, 3,
         {"..........", "..........", "..........", ".........."}},
        {"starting below the image writes nothing", 0, 4, 2, 2, {"..........", "..........", "..........", ".........."}},
        {"empty rectangle", 2, 2, 0, 5, {"..........", "..........", "..........", ".........."}},
    };
    // Source rows of ten letters, 10 bytes apart: row 0 "ABCDEFGHIJ", row 1 "KLMNOPQRST", ...
    Bytes source;
    for (u8 i = 0; i < 40; ++i)
        source.push_back(u8('A' + i));
    for (const SubImageCase& c : cases) {
        SCOPED_TRACE(c.name);
        NullPixelBuffer buffer;
        const Bytes dots(40, '.');
        buffer.setData(dots.data(), PixelBufferFormat::create2D(10, 4, PixelFormat::L8), nullptr, 0);
        buffer.setSubImage(c.x, c.y, c.width, c.height, source.data(), 10);
        Bytes expected;
        for (const char* row : c.rows)
            expected.insert(expected.end(), row, row + 10);
        EXPECT_EQ(pixelsOf(buffer), expected);
    }
}

TEST_F(PixelBufferTest, CopyFromTakesPixelsLayoutAndPaletteButNotItself)
{
    NullPixelBuffer source;
    const Bytes pixels = positions(3, 2);
    source.setData(pixels.data(), PixelBufferFormat::create2D(3, 2, PixelFormat::R8G8B8A8, 0, 0, 1), nullptr, 0);
    source.copyFrom(source, 0);
    EXPECT_EQ(pixelsOf(source), pixels);

    NullPixelBuffer copy;
    copy.copyFrom(source, 16);
    EXPECT_EQ(copy.format(), source.format());
    EXPECT_EQ(pixelsOf(copy), pixels);
    EXPECT_EQ(copy.createFlags(), 16u);
}

TEST_F(PixelBufferTest, SetDataFromTheBuffersOwnPixelsSurvivesTheRecreation)
{
    NullPixelBuffer buffer;
    const Bytes pixels = positions(4, 4);
    buffer.setData(pixels.data(), PixelBufferFormat::create2D(4, 4, PixelFormat::A8B8G8R8), nullptr, 0);
    const u8* own = buffer.lockPixels();
    buffer.unlockPixels();
    buffer.setData(own, buffer.format(), &buffer.palette(), PixelBuffer::PremultiplyAlpha);

    NullPixelBuffer expected;
    expected.setData(pixels.data(), PixelBufferFormat::create2D(4, 4, PixelFormat::A8B8G8R8), nullptr,
                     PixelBuffer::PremultiplyAlpha);
    EXPECT_EQ(pixelsOf(buffer), pixelsOf(expected));
    EXPECT_NE(pixelsOf(buffer), pixels);
}

TEST_F(PixelBufferTest, SetImage2DTakesRgbaWithTheCurrentFlags)
{
    NullPixelBuffer buffer;
    buffer.create(PixelBufferFormat::create2D(1, 1, PixelFormat::L8), 16);
    const Bytes pixels = positions(2, 2);
    buffer.setImage2D(pixels.data(), 2, 2);
    EXPECT_EQ(buffer.format(), PixelBufferFormat::create2D(2, 2, PixelFormat::R8G8B8A8));
    EXPECT_EQ(buffer.createFlags(), 16u);
    EXPECT_EQ(pixelsOf(buffer), pixels);
}

TEST_F(PixelBufferTest, ClosingTheDisplayDiscardsTheImage)
{
    m_display.display().openWithVideoMode(DisplayMode{}, m_display.display().defaultConfiguration());
    NullPixelBuffer buffer;
    buffer.create(PixelBufferFormat::create2D(4, 4, PixelFormat::R8G8B8A8), 16);
    ASSERT_TRUE(buffer.hasDeviceObject());
    ASSERT_TRUE(buffer.isRegisteredWithDisplay());

    m_display.display().close();
    EXPECT_FALSE(buffer.hasDeviceObject());
    EXPECT_EQ(buffer.format().type, Type::None);
    EXPECT_EQ(buffer.byteSize(), 0u);
    EXPECT_EQ(buffer.createFlags(), 0u);
}

TEST_F(PixelBufferTest, FontPageImageIsCreatedAtConstruction)
{
    NullPixelBuffer page(NullPixelBuffer::kFontPage);
    EXPECT_EQ(page.format(), PixelBufferFormat::create2D(256, 256, PixelFormat::A8B8G8R8));
    EXPECT_EQ(page.byteSize(), 256u * 256u * 4u);
    EXPECT_EQ(page.usage(), BufferUsage::Dynamic);
}

using PixelBufferDeathTest = PixelBufferTest;

TEST_F(PixelBufferDeathTest, PaletteTargetsAndMissingConvertersAreFatal)
{
    NullPixelBuffer buffer;
    const Bytes pixels = positions(2, 2);
    buffer.setData(pixels.data(), PixelBufferFormat::create2D(2, 2, PixelFormat::R8G8B8A8), nullptr, 0);
    EXPECT_DEATH(buffer.setPixelFormat(PixelFormat::P8), "Pixel format conversion with target palette not supported!");
    EXPECT_DEATH(buffer.setPixelFormat(PixelFormat::DXT5), "Pixel format not supported by this operation: DXT5");
}

} // namespace
} // namespace quern::graphics
