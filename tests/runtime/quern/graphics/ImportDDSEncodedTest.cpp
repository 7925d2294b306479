// DDS files written by a real encoder (ImageMagick's convert), so the reader
// is tried on files nobody here wrote.

#include "DeviceTestSupport.h"

#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/serialization/ImportDDS.h"
#include "quern/io/StringSource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quern::graphics {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::pixelsOf;

fs::path fixtureDirectory()
{
    const fs::path directory = fs::path(QUERN_TEST_BINARY_DIR) / "dds-encoded";
    fs::create_directories(directory);
    return directory;
}

std::vector<u8> readWholeFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), {});
}

// Runs convert with `arguments` writing `name` and returns the file.
std::vector<u8> encode(const std::string& arguments, const std::string& name)
{
    const fs::path out = fixtureDirectory() / name;
    fs::remove(out);
    const std::string command = "convert " + arguments + " '" + out.string() + "'";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    return readWholeFile(out);
}

struct Read {
    bool ok = false;
    Ref image;
    u64 end = 0;
    const PixelBufferFormat& format() const { return image.get<PixelBuffer>()->format(); }
    Bytes pixels() const { return pixelsOf(*image.get<PixelBuffer>()); }
};

Read readFile(const std::vector<u8>& file, u32 maxPixels = 0)
{
    Read result;
    result.image = Ref(new NullPixelBuffer);
    StringSource source(file.data(), file.size());
    TextureExtension extension;
    result.ok = readDDS(source, *result.image.get<PixelBuffer>(), extension, maxPixels);
    result.end = source.position;
    return result;
}

u16 word(const Bytes& bytes, u64 offset) { return static_cast<u16>(bytes[offset] | (bytes[offset + 1] << 8)); }

TEST(ImportDDSEncoded, SolidRedDXT1WithEveryLevel)
{
    const auto file = encode("-size 256x256 xc:red -define dds:compression=dxt1 -define dds:mipmaps=8", "red-dxt1.dds");
    ASSERT_GT(file.size(), 128u);
    const Read whole = readFile(file);
    ASSERT_TRUE(whole.ok);
    EXPECT_EQ(whole.format().pixelFormat, PixelFormat::DXT1);
    EXPECT_EQ(whole.format().width, 256u);
    EXPECT_EQ(whole.format().height, 256u);
    EXPECT_EQ(whole.format().mipCount, 8u);
    EXPECT_EQ(whole.format().dataSize, file.size() - 128);
    EXPECT_EQ(whole.end, file.size());
    // Every block of every level has pure red (0xf800 in 5:6:5) as an end
    // point: levels read from the wrong place would not.
    const Bytes pixels = whole.pixels();
    for (u64 block = 0; block < pixels.size(); block += 8) {
        ASSERT_TRUE(word(pixels, block) == 0xf800 || word(pixels, block + 2) == 0xf800) << block;
    }

    const Read limited = readFile(file, 64 * 64);
    ASSERT_TRUE(limited.ok);
    EXPECT_EQ(limited.format().width, 64u);
    EXPECT_EQ(limited.format().mipCount, 6u);
    const u64 dropped = 32768 + 8192;
    EXPECT_EQ(limited.pixels(), Bytes(file.begin() + 128 + dropped, file.end()));
}

TEST(ImportDDSEncoded, HalfTransparentDXT5)
{
    const auto file = encode("-size 64x32 xc:blue -alpha set -channel A -evaluate set 50% +channel "
                             "-define dds:compression=dxt5 -define dds:mipmaps=3",
        "blue-dxt5.dds");
    const Read result = readFile(file);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.format().pixelFormat, PixelFormat::DXT5);
    EXPECT_EQ(result.format().width, 64u);
    EXPECT_EQ(result.format().height, 32u);
    EXPECT_EQ(result.format().mipCount, 3u);
    EXPECT_EQ(result.format().dataSize, file.size() - 128);
    // Each 16-byte block starts with its two alpha end points: about half.
    const Bytes pixels = result.pixels();
    for (u64 block = 0; block < pixels.size(); block += 16) {
        EXPECT_NEAR(pixels[block], 128, 2) << block;
    }
}

TEST(ImportDDSEncoded, UncompressedPixelsMatchTheSource)
{
    // A 3 x 2 picture of six known colours.
    const u8 colours[6][3] = { { 0x10, 0x20, 0x30 }, { 0x40, 0x50, 0x60 }, { 0x70, 0x80, 0x90 }, { 0xa0, 0xb0, 0xc0 },
        { 0xd0, 0xe0, 0xf0 }, { 0xff, 0x00, 0x7f } };
    const fs::path picture = fixtureDirectory() / "six.ppm";
    {
        std::ofstream out(picture, std::ios::binary);
        out << "P6\n3 2\n255\n";
        out.write(reinterpret_cast<const char*>(colours), sizeof colours);
    }
    struct Case {
        const char* name;
        const char* options;
        u8 alpha;
    };
    const Case cases[] = {
        { "six-rgb.dds", "", 0xff },
        { "six-rgba.dds", "-alpha set", 0xff },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = encode(
            "'" + picture.string() + "' " + c.options + " -define dds:compression=none -define dds:mipmaps=0", c.name);
        const Read result = readFile(file);
        ASSERT_TRUE(result.ok);
        ASSERT_EQ(result.format().width, 3u);
        ASSERT_EQ(result.format().height, 2u);
        const PixelFormat& format = result.format().pixelFormat;
        const u64 bytesPerPixel = static_cast<u64>(format.bytesPerPixel);
        const Bytes pixels = result.pixels();
        ASSERT_EQ(pixels.size(), 6 * bytesPerPixel);
        for (u64 i = 0; i < 6; ++i) {
            const Pixel pixel = format.convertToPixel(pixels.data() + i * bytesPerPixel);
            EXPECT_EQ(pixel, (Pixel { colours[i][0], colours[i][1], colours[i][2], c.alpha })) << i;
        }
    }
}

} // namespace
} // namespace quern::graphics
