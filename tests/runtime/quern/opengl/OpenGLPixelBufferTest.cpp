// OpenGL textures on Mesa: creation, uploads and read-backs of every mapped
// colour format, mip chains in each mode, cube maps, the DDS files of a real
// encoder, locks, the device-object life cycle, the name registry and the
// palette table.

#include "GLTestSupport.h"
#include "SDLTestContext.h"

#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/serialization/ImportDDS.h"
#include "quern/io/StringSource.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLException.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/parameter/Parameter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quern::opengl {
namespace {

using graphics::ChannelContent;
using graphics::Pixel;
using graphics::PixelBuffer;
using graphics::PixelBufferFormat;
using graphics::PixelFormat;
using testing::LogCapture;
using testing::SlotOverride;
using Bytes = std::vector<u8>;
using LayoutType = PixelBufferFormat::Type;

constexpr u32 kTexture = graphics::GraphicsBackEnd::TextureImage;
constexpr u32 kRenderTarget = graphics::GraphicsBackEnd::RenderTargetImage;

struct Image {
    Ref holder;
    OpenGLPixelBuffer* buffer;
};

Image makeImage(const graphics::DisplayCaps& caps, u32 usage = kTexture)
{
    auto* buffer = new OpenGLPixelBuffer(usage, &caps);
    return { Ref(buffer), buffer };
}

Bytes pixelsOf(const PixelBuffer& buffer)
{
    const u8* data = buffer.lockPixels();
    Bytes bytes(data, data + buffer.format().dataSize);
    buffer.unlockPixels();
    return bytes;
}

Pixel colourAt(u32 x, u32 y)
{
    return Pixel { u8(x * 40 + 7), u8(y * 60 + 11), u8(x * 13 + y * 17 + 90), u8(200 - x * 9 - y) };
}

// A width x height image of `format` holding colourAt, rows bottom first.
Bytes encode(const PixelFormat& format, u32 width, u32 height)
{
    const PixelBufferFormat layout = PixelBufferFormat::create2D(width, height, format, 0, 0, 1);
    Bytes bytes(layout.dataSize, 0);
    if (format.channelCount == 1) { // luminance and alpha bytes as they are
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<u8>(i * 37 + 5);
        return bytes;
    }
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < width; ++x)
            format.convertFromPixel(colourAt(x, y), bytes.data() + y * layout.rowPitch + x * format.bytesPerPixel);
    return bytes;
}

Pixel decodeAt(const PixelBuffer& buffer, const Bytes& bytes, u32 x, u32 y)
{
    const PixelFormat& format = buffer.pixelFormat();
    return format.convertToPixel(bytes.data() + y * buffer.format().rowPitch + x * format.bytesPerPixel);
}

void expectGLClean() { EXPECT_EQ(glGetError(), GL_NO_ERROR); }

// What the given format keeps of a colour, as the given format itself decodes it.
Pixel kept(const PixelFormat& format, Pixel colour)
{
    u8 one[16] = {};
    format.convertFromPixel(colour, one);
    return format.convertToPixel(one);
}

TEST(OpenGLPixelBuffer, EveryMappedColourFormatRoundTrips)
{
    QUERN_REQUIRE_GL();
    struct Case {
        const char* name;
        PixelFormat format;
        bool rgb;
        bool alpha;
        bool single; // one byte channel, compared byte for byte
    };
    const Case cases[] = {
        { "R8G8B8A8", PixelFormat::R8G8B8A8, true, true, false },
        { "B8G8R8A8", PixelFormat::B8G8R8A8, true, true, false },
        { "A8R8G8B8", PixelFormat::A8R8G8B8, true, true, false },
        { "A8B8G8R8", PixelFormat::A8B8G8R8, true, true, false },
        { "R8G8B8", PixelFormat::R8G8B8, true, false, false },
        { "B8G8R8", PixelFormat::B8G8R8, true, false, false },
        { "B5G6R5", PixelFormat::B5G6R5, true, false, false },
        { "R5G6B5", PixelFormat::R5G6B5, true, false, false },
        { "B5G5R5A1", PixelFormat::B5G5R5A1, true, true, false },
        { "R5G5B5A1", PixelFormat::R5G5B5A1, true, true, false },
        { "L8", PixelFormat::L8, false, false, true },
        { "A8", PixelFormat::fromOneChannel({ ChannelContent::A, graphics::ChannelType::Unsigned, 8, 0, 0 }, 0), false,
            false, true },
        { "X8R8G8B8 (falls back)", PixelFormat::X8R8G8B8, true, false, false },
    };
    const u32 width = 5;
    const u32 height = 3;
    for (const Case& c : cases) {
        Image image = makeImage(testing::sharedCaps());
        const Bytes given = encode(c.format, width, height);
        image.buffer->setData(given.data(), PixelBufferFormat::create2D(width, height, c.format, 0, 0, 1), nullptr,
            OpenGLPixelBuffer::NoMipLevels);
        ASSERT_NE(image.buffer->name(), 0u) << c.name;
        const Bytes back = pixelsOf(*image.buffer);
        if (c.single) {
            EXPECT_EQ(back, given) << c.name;
            continue;
        }
        for (u32 y = 0; y < height; ++y) {
            for (u32 x = 0; x < width; ++x) {
                const Pixel expected = kept(c.format, colourAt(x, y));
                const Pixel actual = decodeAt(*image.buffer, back, x, y);
                if (c.rgb) {
                    EXPECT_EQ(actual.r, expected.r) << c.name << " at " << x << "," << y;
                    EXPECT_EQ(actual.g, expected.g) << c.name << " at " << x << "," << y;
                    EXPECT_EQ(actual.b, expected.b) << c.name << " at " << x << "," << y;
                }
                if (c.alpha) {
                    EXPECT_EQ(actual.a, expected.a) << c.name << " at " << x << "," << y;
                }
            }
        }
        expectGLClean();
    }
}

TEST(OpenGLPixelBuffer, AlphaImagesUploadAndReadBack)
{
    // An alpha-only texture once got storage but never its pixels.
    QUERN_REQUIRE_GL();
    const PixelFormat a8
        = PixelFormat::fromOneChannel({ ChannelContent::A, graphics::ChannelType::Unsigned, 8, 0, 0 }, 0);
    Image image = makeImage(testing::sharedCaps());
    const Bytes given = { 1, 2, 3, 4, 250, 251, 252, 253 };
    image.buffer->setData(
        given.data(), PixelBufferFormat::create2D(4, 2, a8, 0, 0, 1), nullptr, OpenGLPixelBuffer::NoMipLevels);
    EXPECT_EQ(image.buffer->glFormat(), GL_ALPHA);
    EXPECT_EQ(pixelsOf(*image.buffer), given);
    // A locked write reaches the texture too.
    const u8 row[2] = { 77, 78 };
    image.buffer->setSubImage(1, 0, 2, 1, row, 2);
    const Bytes afterWrite = pixelsOf(*image.buffer);
    EXPECT_EQ(afterWrite, (Bytes { 1, 77, 78, 4, 250, 251, 252, 253 }));
    // And the image survives the display closing and opening.
    image.buffer->releaseDeviceObject();
    image.buffer->createDeviceObject();
    EXPECT_EQ(pixelsOf(*image.buffer), afterWrite);
    expectGLClean();
}

TEST(OpenGLPixelBuffer, TopFirstRowsAreStoredBottomFirst)
{
    QUERN_REQUIRE_GL();
    Image image = makeImage(testing::sharedCaps());
    const Bytes rows = { 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3 }; // top row first
    image.buffer->setData(rows.data(), PixelBufferFormat::create2D(1, 3, PixelFormat::A8B8G8R8, 0, 0, 0), nullptr,
        OpenGLPixelBuffer::NoMipLevels);
    EXPECT_EQ(image.buffer->format().origin, 1u);
    EXPECT_EQ(pixelsOf(*image.buffer), (Bytes { 3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1 }));
}

TEST(OpenGLPixelBuffer, DepthImagesGetStorageButTransferNothing)
{
    QUERN_REQUIRE_GL();
    Image image = makeImage(testing::sharedCaps(), kRenderTarget);
    image.buffer->create(PixelBufferFormat::create2D(8, 8, PixelFormat::D16, 0, 0, 1), 0);
    EXPECT_NE(image.buffer->name(), 0u);
    EXPECT_EQ(image.buffer->glFormat(), GL_DEPTH_COMPONENT);
    EXPECT_EQ(image.buffer->mipmapMode(), OpenGLPixelBuffer::NoMipmaps);
    EXPECT_EQ(image.buffer->pixelFormat().channels[0].content, ChannelContent::D);
    EXPECT_EQ(image.buffer->pixelFormat().channels[0].bits, 16u);
    const Bytes back = pixelsOf(*image.buffer);
    EXPECT_EQ(back, Bytes(back.size(), 0));
    expectGLClean();
}

// Level 1 of a two-level chain from level 0 by 2x2 averages (within one step).
void expectBoxAveraged(const PixelBuffer& buffer, const Bytes& bytes, const char* what)
{
    const PixelBufferFormat& layout = buffer.format();
    const PixelFormat& format = layout.pixelFormat;
    const u8* level1 = bytes.data() + layout.height * layout.rowPitch;
    const u64 level1Pitch = format.computeRowPitch(layout.width / 2);
    for (u32 y = 0; y < layout.height / 2; ++y) {
        for (u32 x = 0; x < layout.width / 2; ++x) {
            u32 sum[4] = {};
            for (u32 i = 0; i < 4; ++i) {
                const Pixel p = decodeAt(buffer, bytes, x * 2 + (i & 1), y * 2 + (i >> 1));
                sum[0] += p.r;
                sum[1] += p.g;
                sum[2] += p.b;
                sum[3] += p.a;
            }
            const Pixel actual = format.convertToPixel(level1 + y * level1Pitch + x * format.bytesPerPixel);
            EXPECT_NEAR(actual.r, sum[0] / 4.0, 1.0) << what << " at " << x << "," << y;
            EXPECT_NEAR(actual.g, sum[1] / 4.0, 1.0) << what << " at " << x << "," << y;
            EXPECT_NEAR(actual.b, sum[2] / 4.0, 1.0) << what << " at " << x << "," << y;
            EXPECT_NEAR(actual.a, sum[3] / 4.0, 1.0) << what << " at " << x << "," << y;
        }
    }
}

TEST(OpenGLPixelBuffer, MipChainsInEveryMode)
{
    QUERN_REQUIRE_GL();
    graphics::DisplayCaps withFBO = testing::sharedCaps();
    withFBO.ARB_framebuffer_object = 1;
    graphics::DisplayCaps withoutGeneration = testing::sharedCaps();
    withoutGeneration.SGIS_generate_mipmap = 0;
    struct Case {
        const char* name;
        const graphics::DisplayCaps* caps;
        i32 mode;
    };
    const Case cases[] = {
        { "Mesa with its quirk", &testing::sharedCaps(), OpenGLPixelBuffer::GenerateParameter },
        { "framebuffer objects", &withFBO, OpenGLPixelBuffer::GenerateMipmap },
        { "no driver generation", &withoutGeneration, OpenGLPixelBuffer::FilteredLevels },
    };
    const Bytes given = encode(PixelFormat::A8B8G8R8, 8, 8);
    for (const Case& c : cases) {
        Image image = makeImage(*c.caps);
        image.buffer->setData(
            given.data(), PixelBufferFormat::create2D(8, 8, PixelFormat::A8B8G8R8, 0, 0, 1), nullptr, 0);
        EXPECT_EQ(image.buffer->mipmapMode(), c.mode) << c.name;
        ASSERT_EQ(image.buffer->format().mipCount, 3u) << c.name;
        const Bytes back = pixelsOf(*image.buffer);
        EXPECT_TRUE(std::equal(given.begin(), given.end(), back.begin())) << c.name;
        expectBoxAveraged(*image.buffer, back, c.name);
        // The last level holds one pixel, not zeros.
        EXPECT_NE(back.back(), 0) << c.name;
        expectGLClean();
    }
}

TEST(OpenGLPixelBuffer, GivenLevelsAreUploadedAsGiven)
{
    QUERN_REQUIRE_GL();
    const PixelBufferFormat layout = PixelBufferFormat::create2D(4, 4, PixelFormat::A8B8G8R8, 0, 2, 1);
    Bytes given(layout.dataSize);
    for (size_t i = 0; i < given.size(); ++i)
        given[i] = static_cast<u8>(i * 7 + 3);
    Image image = makeImage(testing::sharedCaps());
    image.buffer->setData(given.data(), layout, nullptr, 0);
    EXPECT_EQ(image.buffer->mipmapMode(), OpenGLPixelBuffer::GivenLevels);
    EXPECT_EQ(image.buffer->format().mipCount, 2u);
    EXPECT_EQ(pixelsOf(*image.buffer), given);
    expectGLClean();
}

TEST(OpenGLPixelBuffer, CubeMapFacesRoundTrip)
{
    QUERN_REQUIRE_GL();
    for (u32 flags : { u32(OpenGLPixelBuffer::NoMipLevels), 0u }) {
        const PixelBufferFormat layout
            = PixelBufferFormat::create(LayoutType::CubeMap, 4, 4, 1, PixelFormat::A8B8G8R8, 0, 0, 0, 1, 1);
        Bytes given(layout.dataSize);
        for (size_t i = 0; i < given.size(); ++i)
            given[i] = static_cast<u8>(i / 64 * 40 + i % 64);
        Image image = makeImage(testing::sharedCaps());
        image.buffer->setData(given.data(), layout, nullptr, flags);
        EXPECT_EQ(image.buffer->target(), GL_TEXTURE_CUBE_MAP);
        // Cube maps never take the generate-mipmap parameter.
        EXPECT_EQ(image.buffer->mipmapMode(), flags ? OpenGLPixelBuffer::NoMipmaps : OpenGLPixelBuffer::FilteredLevels);
        const PixelBufferFormat& created = image.buffer->format();
        const Bytes back = pixelsOf(*image.buffer);
        const u64 face = created.dataSize / 6;
        for (u32 f = 0; f < 6; ++f)
            EXPECT_TRUE(std::equal(given.begin() + f * 64, given.begin() + f * 64 + 64, back.begin() + f * face))
                << "face " << f << " flags " << flags;
        expectGLClean();
    }
}

std::filesystem::path fixtureDirectory()
{
    const auto directory = std::filesystem::path(QUERN_TEST_BINARY_DIR) / "dds-encoded";
    std::filesystem::create_directories(directory);
    return directory;
}

Bytes encodeDDS(const std::string& arguments, const std::string& name)
{
    const auto out = fixtureDirectory() / name;
    std::filesystem::remove(out);
    const std::string command = "convert " + arguments + " '" + out.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The engine's pipeline into a memory image laid out bottom row first, as a
// texture stores it: the bytes the texture must give back.
class BottomUpPixelBuffer final : public graphics::NullPixelBuffer {
protected:
    void createImpl(PixelBufferFormat& created, const PixelBufferFormat& requested, u32) override
    {
        created = requested;
        created.origin = 1;
    }
};

bool readInto(const Bytes& file, PixelBuffer& image)
{
    quern::StringSource source(file.data(), file.size());
    graphics::TextureExtension extension;
    return graphics::readDDS(source, image, extension, 0);
}

TEST(OpenGLPixelBuffer, EncodedDDSFilesUploadAndReadBackEqual)
{
    QUERN_REQUIRE_GL();
    struct Case {
        const char* arguments;
        const char* name;
        PixelFormat format;
    };
    const Case cases[] = {
        { "-size 64x32 gradient:red-blue -define dds:compression=dxt1 -define dds:mipmaps=6", "gl-dxt1.dds",
            PixelFormat::DXT1 },
        { "-size 64x64 plasma:fractal -seed 7 -alpha set -channel A -evaluate set 50% +channel "
          "-define dds:compression=dxt5 -define dds:mipmaps=6",
            "gl-dxt5.dds", PixelFormat::DXT5 },
        { "-size 16x8 gradient:green-yellow -define dds:compression=none -define dds:mipmaps=0", "gl-rgba.dds",
            PixelFormat {} },
    };
    for (const Case& c : cases) {
        const Bytes file = encodeDDS(c.arguments, c.name);
        ASSERT_GT(file.size(), 128u) << c.name;
        Ref referenceHolder(new BottomUpPixelBuffer);
        auto& reference = *referenceHolder.get<PixelBuffer>();
        ASSERT_TRUE(readInto(file, reference)) << c.name;
        Image image = makeImage(testing::sharedCaps());
        ASSERT_TRUE(readInto(file, *image.buffer)) << c.name;
        if (c.format.channelCount) {
            EXPECT_EQ(image.buffer->pixelFormat(), c.format) << c.name;
        }
        ASSERT_EQ(reference.pixelFormat(), image.buffer->pixelFormat()) << c.name;
        const Bytes expected = pixelsOf(reference);
        const Bytes back = pixelsOf(*image.buffer);
        if (c.format.channelCount) {
            // The file's levels come through as they are.
            EXPECT_EQ(image.buffer->format().mipCount, reference.format().mipCount) << c.name;
            EXPECT_EQ(back, expected) << c.name;
        } else {
            // A file without levels gets them made; its own level is unchanged.
            ASSERT_GE(back.size(), expected.size()) << c.name;
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), back.begin())) << c.name;
        }
        expectGLClean();
    }
}

TEST(OpenGLPixelBuffer, BlockFormatsRoundTripWithTheirLevels)
{
    QUERN_REQUIRE_GL();
    for (const PixelFormat& format : { PixelFormat::DXT1, PixelFormat::DXT1A, PixelFormat::DXT3, PixelFormat::DXT5 }) {
        const PixelBufferFormat layout = PixelBufferFormat::create2D(16, 8, format, 0, 2, 1);
        Bytes given(layout.dataSize);
        for (size_t i = 0; i < given.size(); ++i)
            given[i] = static_cast<u8>(i * 29 + 1);
        Image image = makeImage(testing::sharedCaps());
        image.buffer->setData(given.data(), layout, nullptr, 0);
        EXPECT_EQ(image.buffer->pixelFormat(), format) << format.toString();
        EXPECT_EQ(image.buffer->mipmapMode(), OpenGLPixelBuffer::GivenLevels) << format.toString();
        EXPECT_EQ(pixelsOf(*image.buffer), given) << format.toString();
        expectGLClean();
    }
}

TEST(OpenGLPixelBuffer, RefillKeepsTheTextureButNotItsSampling)
{
    QUERN_REQUIRE_GL();
    Image image = makeImage(testing::sharedCaps());
    const Bytes first = encode(PixelFormat::A8B8G8R8, 4, 4);
    const PixelBufferFormat layout = PixelBufferFormat::create2D(4, 4, PixelFormat::A8B8G8R8, 0, 0, 1);
    image.buffer->setData(
        first.data(), layout, nullptr, OpenGLPixelBuffer::NoMipLevels | OpenGLPixelBuffer::ClampedLinear);
    const u32 name = image.buffer->name();
    const u64 names = textureNameCount();
    Bytes second = first;
    second[0] ^= 0xff;
    image.buffer->setData(second.data(), layout, nullptr, OpenGLPixelBuffer::NoMipLevels);
    EXPECT_EQ(image.buffer->name(), name);
    EXPECT_EQ(textureNameCount(), names);
    EXPECT_EQ(pixelsOf(*image.buffer), second);
    GLint wrap = 0;
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(wrap, static_cast<GLint>(GL_REPEAT));
    // Another target takes another texture.
    const Bytes cube(
        PixelBufferFormat::create(LayoutType::CubeMap, 4, 4, 1, PixelFormat::A8B8G8R8, 0, 0, 0, 1, 1).dataSize);
    image.buffer->setData(cube.data(),
        PixelBufferFormat::create(LayoutType::CubeMap, 4, 4, 1, PixelFormat::A8B8G8R8, 0, 0, 0, 1, 1), nullptr,
        OpenGLPixelBuffer::NoMipLevels);
    EXPECT_EQ(image.buffer->target(), GL_TEXTURE_CUBE_MAP);
    EXPECT_EQ(textureNameCount(), names);
    expectGLClean();
}

TEST(OpenGLPixelBuffer, SRGBFlagPicksThePartnerFormat)
{
    QUERN_REQUIRE_GL();
    struct Case {
        PixelFormat format;
        u32 flags;
        u32 internal;
    };
    const Case cases[] = {
        { PixelFormat::A8B8G8R8, OpenGLPixelBuffer::SRGB, GL_SRGB8_ALPHA8 },
        { PixelFormat::A8B8G8R8, 0, GL_RGBA8 },
        { PixelFormat::B8G8R8, OpenGLPixelBuffer::SRGB, GL_SRGB8 },
        { PixelFormat::DXT1, OpenGLPixelBuffer::SRGB, GL_COMPRESSED_SRGB_S3TC_DXT1_EXT },
        { PixelFormat::DXT5, 0, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT },
    };
    for (const Case& c : cases) {
        Image image = makeImage(testing::sharedCaps());
        const PixelBufferFormat layout = PixelBufferFormat::create2D(8, 8, c.format, 0, 0, 1);
        const Bytes given(layout.dataSize, 0x5a);
        image.buffer->setData(given.data(), layout, nullptr, c.flags | OpenGLPixelBuffer::NoMipLevels);
        EXPECT_EQ(image.buffer->internalFormat(), c.internal) << c.format.toString() << " flags " << c.flags;
        EXPECT_EQ(pixelsOf(*image.buffer), given) << c.format.toString();
        expectGLClean();
    }
}

TEST(OpenGLPixelBuffer, CompressedStorageOnlyForGenericFormats)
{
    QUERN_REQUIRE_GL();
    LogCapture warnings(2);
    Image luminance = makeImage(testing::sharedCaps());
    luminance.buffer->create(PixelBufferFormat::create2D(8, 8, PixelFormat::L8, 0, 0, 1),
        OpenGLPixelBuffer::StoreCompressed | OpenGLPixelBuffer::NoMipLevels);
    EXPECT_TRUE(warnings.contains("Can't compress internal format 0x8229")) << warnings.text();
    Image colour = makeImage(testing::sharedCaps());
    colour.buffer->create(PixelBufferFormat::create2D(8, 8, PixelFormat::A8B8G8R8, 0, 0, 1),
        OpenGLPixelBuffer::StoreCompressed | OpenGLPixelBuffer::NoMipLevels);
    EXPECT_NE(colour.buffer->internalFormat(), GL_RGBA8);
    EXPECT_NE(colour.buffer->internalFormat(), 0u);
    expectGLClean();
}

TEST(OpenGLPixelBuffer, SizesAboveTheLimitAreClamped)
{
    QUERN_REQUIRE_GL();
    graphics::DisplayCaps small = testing::sharedCaps();
    small.maxTextureSize = 16;
    Image image = makeImage(small);
    LogCapture information(3);
    const Bytes given = encode(PixelFormat::A8B8G8R8, 32, 8);
    image.buffer->setData(given.data(), PixelBufferFormat::create2D(32, 8, PixelFormat::A8B8G8R8, 0, 0, 1), nullptr,
        OpenGLPixelBuffer::NoMipLevels);
    EXPECT_EQ(image.buffer->format().width, 16u);
    EXPECT_EQ(image.buffer->format().height, 8u);
    EXPECT_TRUE(information.contains("Creating pixel buffer with adapted format")) << information.text();
    GLint width = 0;
    glBindTexture(GL_TEXTURE_2D, image.buffer->name());
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(width, 16);
}

TEST(OpenGLPixelBuffer, MultisampleLayoutsGetAMultisampleTexture)
{
    QUERN_REQUIRE_GL();
    ASSERT_TRUE(testing::sharedCaps().ARB_texture_multisample);
    Image image = makeImage(testing::sharedCaps(), kRenderTarget);
    image.buffer->create(
        PixelBufferFormat::create(LayoutType::Image2D, 8, 8, 1, PixelFormat::A8B8G8R8, 0, 0, 0, 0, 4), 0);
    EXPECT_EQ(image.buffer->target(), GL_TEXTURE_2D_MULTISAMPLE);
    GLint samples = 0;
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, image.buffer->name());
    glGetTexLevelParameteriv(GL_TEXTURE_2D_MULTISAMPLE, 0, GL_TEXTURE_SAMPLES, &samples);
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, 0);
    EXPECT_EQ(samples, 4);
    expectGLClean();
}

TEST(OpenGLPixelBuffer, ReleaseKeepsTheImageAndCreateUploadsItAgain)
{
    QUERN_REQUIRE_GL();
    Image image = makeImage(testing::sharedCaps());
    const Bytes given = encode(PixelFormat::A8B8G8R8, 4, 4);
    image.buffer->setData(given.data(), PixelBufferFormat::create2D(4, 4, PixelFormat::A8B8G8R8, 0, 0, 1), nullptr,
        OpenGLPixelBuffer::NoMipLevels);
    EXPECT_EQ(image.buffer->data(), nullptr); // the texture holds the image
    image.buffer->releaseDeviceObject();
    EXPECT_EQ(image.buffer->name(), 0u);
    EXPECT_FALSE(image.buffer->hasDeviceObject());
    ASSERT_NE(image.buffer->data(), nullptr);
    EXPECT_TRUE(std::equal(given.begin(), given.end(), image.buffer->data()));
    image.buffer->bind();
    EXPECT_NE(image.buffer->name(), 0u);
    EXPECT_EQ(image.buffer->data(), nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(pixelsOf(*image.buffer), given);
    expectGLClean();
}

TEST(OpenGLPixelBuffer, WithoutAContextNamesAreForgotten)
{
    std::string error;
    testing::SDLTestContext* context = testing::sharedContext(error);
    ASSERT_NE(context, nullptr) << error;
    Image image = makeImage(testing::sharedCaps());
    const Bytes given = encode(PixelFormat::A8B8G8R8, 2, 2);
    image.buffer->setData(given.data(), PixelBufferFormat::create2D(2, 2, PixelFormat::A8B8G8R8, 0, 0, 1), nullptr,
        OpenGLPixelBuffer::NoMipLevels);
    const u32 name = image.buffer->name();
    const u64 names = textureNameCount();
    context->makeCurrent(false);
    image.buffer->releaseDeviceObject();
    EXPECT_EQ(image.buffer->name(), 0u);
    image.buffer->createDeviceObject(); // no context: nothing made
    EXPECT_EQ(image.buffer->name(), 0u);
    context->makeCurrent(true);
    EXPECT_EQ(textureNameCount(), names); // the old name stays registered, unknown to this image
    deleteTexture(name);
}

TEST(OpenGLPixelBuffer, RegistryKeepsNamesAndLogsWhenItEmpties)
{
    QUERN_REQUIRE_GL();
    const u64 before = textureNameCount();
    LogCapture information(3);
    {
        Image first = makeImage(testing::sharedCaps());
        Image second = makeImage(testing::sharedCaps());
        const Bytes given = encode(PixelFormat::A8B8G8R8, 2, 2);
        const PixelBufferFormat layout = PixelBufferFormat::create2D(2, 2, PixelFormat::A8B8G8R8, 0, 0, 1);
        first.buffer->setData(given.data(), layout, nullptr, OpenGLPixelBuffer::NoMipLevels);
        second.buffer->setData(given.data(), layout, nullptr, OpenGLPixelBuffer::NoMipLevels);
        ASSERT_EQ(textureNameCount(), before + 2);
        EXPECT_EQ(textureNameAt(before), first.buffer->name());
        EXPECT_EQ(textureNameAt(before + 1), second.buffer->name());
        first.buffer->discard();
        EXPECT_EQ(textureNameCount(), before + 1);
        EXPECT_EQ(textureNameAt(before), second.buffer->name());
        EXPECT_FALSE(information.contains("All OpenGL texture objects deleted"));
    }
    EXPECT_EQ(textureNameCount(), before);
    const std::string text = information.text();
    const std::string line = "All OpenGL texture objects deleted";
    if (before == 0) {
        ASSERT_NE(text.find(line), std::string::npos);
        EXPECT_EQ(text.find(line, text.find(line) + 1), std::string::npos);
    }
}

TEST(OpenGLPixelBuffer, TextureMemoryStatisticFollowsTheTextures)
{
    QUERN_REQUIRE_GL();
    graphics::Display::set(new graphics::NullDisplay);
    Parameter* statistic
        = graphics::Display::current()->context().statistic(graphics::DisplayStatistic::TextureMemoryUsed);
    const f32 before = statistic->value();
    {
        Image image = makeImage(testing::sharedCaps());
        image.buffer->create(
            PixelBufferFormat::create2D(16, 16, PixelFormat::A8B8G8R8, 0, 0, 1), OpenGLPixelBuffer::NoMipLevels);
        EXPECT_EQ(statistic->value(), before + 1024.0f);
        image.buffer->releaseDeviceObject();
        EXPECT_EQ(statistic->value(), before);
        image.buffer->createDeviceObject();
        EXPECT_EQ(statistic->value(), before + 1024.0f);
    }
    EXPECT_EQ(statistic->value(), before);
    graphics::Display::set(nullptr);
}

TEST(OpenGLPixelBuffer, PaletteImagesGoThroughTheEnginesConversion)
{
    QUERN_REQUIRE_GL();
    ASSERT_FALSE(testing::sharedCaps().EXT_paletted_texture);
    containers::ElementBuffer palette;
    palette.setElementSize(4);
    palette.setSize(3 * 4);
    const Pixel colours[3] = { { 255, 0, 0, 255 }, { 0, 200, 0, 255 }, { 10, 20, 30, 255 } };
    std::memcpy(palette.data(), colours, sizeof colours);
    const Bytes indices = { 0, 1, 2, 1, 2, 0, 0, 0 };
    Image image = makeImage(testing::sharedCaps());
    image.buffer->setData(indices.data(), PixelBufferFormat::create2D(4, 2, PixelFormat::P8, 0, 0, 1), &palette, 0);
    EXPECT_EQ(image.buffer->mipmapMode(), OpenGLPixelBuffer::NoMipmaps);
    const Bytes back = pixelsOf(*image.buffer);
    for (u32 i = 0; i < 8; ++i) {
        const Pixel actual = decodeAt(*image.buffer, back, i % 4, i / 4);
        const Pixel& expected = colours[indices[i]];
        EXPECT_EQ(actual.r, expected.r) << i;
        EXPECT_EQ(actual.g, expected.g) << i;
        EXPECT_EQ(actual.b, expected.b) << i;
    }
    expectGLClean();
}

TEST(PaletteTableSize, HoldsEveryEntry)
{
    struct Case {
        u32 entries;
        u32 size;
    };
    const Case cases[] = { { 1, 1 }, { 3, 4 }, { 200, 256 }, { 256, 256 }, { 257, 512 }, { 300, 512 } };
    for (const Case& c : cases)
        EXPECT_EQ(paletteTableSize(c.entries), c.size) << c.entries;
}

// A driver with paletted textures, faked: the uploaded table is recorded.
std::vector<u8> g_table;
GLsizei g_tableSize = 0;
void fakeColorTable(GLenum, GLenum, GLsizei width, GLenum, GLenum, const void* table)
{
    g_tableSize = width;
    g_table.assign(static_cast<const u8*>(table), static_cast<const u8*>(table) + width * 3);
}

TEST(OpenGLPixelBuffer, PaletteOf300EntriesIsUploadedWhole)
{
    QUERN_REQUIRE_GL();
    graphics::DisplayCaps paletted = testing::sharedCaps();
    paletted.EXT_paletted_texture = 1;
    SlotOverride<PFN_glColorTableEXT> colorTable(glColorTableEXT, fakeColorTable);
    containers::ElementBuffer palette;
    palette.setElementSize(4);
    palette.setSize(300 * 4);
    for (u32 i = 0; i < 300; ++i) {
        const Pixel entry { u8(i), u8(i >> 8), u8(255 - i % 256), 255 };
        std::memcpy(palette.data() + i * 4, &entry, 4);
    }
    Image image = makeImage(paletted);
    image.buffer->create(PixelBufferFormat::create2D(2, 2, PixelFormat::P8, 0, 0, 1), OpenGLPixelBuffer::NoMipLevels);
    image.buffer->setPalette(palette);
    ASSERT_EQ(g_tableSize, 512);
    for (u32 i : { 0u, 255u, 256u, 299u }) {
        EXPECT_EQ(g_table[i * 3], u8(i)) << i;
        EXPECT_EQ(g_table[i * 3 + 1], u8(i >> 8)) << i;
        EXPECT_EQ(g_table[i * 3 + 2], u8(255 - i % 256)) << i;
    }
    EXPECT_EQ(g_table[300 * 3], 0);
    EXPECT_EQ(image.buffer->palette().byteSize(), 300u * 4);
}

TEST(ChooseMipmapMode, DecisionInOrder)
{
    graphics::DisplayCaps mesa; // the quirk: no framebuffer objects, generate-mipmap parameter
    mesa.SGIS_generate_mipmap = 1;
    graphics::DisplayCaps fbo = mesa;
    fbo.ARB_framebuffer_object = 1;
    graphics::DisplayCaps fboQuirk = fbo;
    fboQuirk.generatedMipmapsDisabled = 1;
    fboQuirk.driverMipmapsDisabled = 1;
    graphics::DisplayCaps none;
    const PixelFormat rgba = PixelFormat::A8B8G8R8;
    const auto layout2D = [&](u32 w, u32 h, const PixelFormat& f = PixelFormat::A8B8G8R8, i32 mips = 0) {
        return PixelBufferFormat::create2D(w, h, f, 0, mips, 0);
    };
    struct Case {
        const char* name;
        PixelBufferFormat layout;
        u32 flags;
        u32 usage;
        const graphics::DisplayCaps* caps;
        i32 mode;
        const char* log;
    };
    const Case cases[] = {
        { "given levels", layout2D(8, 8, rgba, 2), OpenGLPixelBuffer::NoMipLevels, kRenderTarget, &mesa, 1, nullptr },
        { "no-mip flag", layout2D(8, 8), OpenGLPixelBuffer::NoMipLevels, kTexture, &fbo, 0, nullptr },
        { "one pixel", layout2D(1, 1), 0, kTexture, &fbo, 0, nullptr },
        { "render target", layout2D(8, 8), 0, kRenderTarget, &fbo, 0, nullptr },
        { "compressed", layout2D(8, 8, PixelFormat::DXT1), 0, kTexture, &fbo, 0,
            "Can't generate mipmaps for compressed textures!" },
        { "palette", layout2D(8, 8, PixelFormat::P8), 0, kTexture, &fbo, 0,
            "Can't generate mipmaps for color-indexed textures!" },
        { "framebuffer objects", layout2D(8, 8), 0, kTexture, &fbo, 3, nullptr },
        { "Mesa", layout2D(8, 8), 0, kTexture, &mesa, 4, nullptr },
        { "quirky driver", layout2D(8, 8), 0, kTexture, &fboQuirk, 2, nullptr },
        { "cube", PixelBufferFormat::create(LayoutType::CubeMap, 8, 8, 1, rgba, 0, 0, 0, 0, 1), 0, kTexture, &mesa, 2,
            nullptr },
        { "volume", PixelBufferFormat::create3D(8, 8, 8, rgba), 0, kTexture, &none, 0,
            "Can't generate mipmaps for 3D textures!" },
        { "1D", PixelBufferFormat::create1D(8, rgba), 0, kTexture, &none, 0,
            "Can't generate mipmaps for 1D textures!" },
        { "2D without help", layout2D(8, 8), 0, kTexture, &none, 2, nullptr },
    };
    for (const Case& c : cases) {
        LogCapture warnings(2);
        EXPECT_EQ(OpenGLPixelBuffer::chooseMipmapMode(c.layout, c.flags, c.usage, *c.caps), c.mode) << c.name;
        if (c.log)
            EXPECT_TRUE(warnings.contains(c.log)) << c.name;
        else
            EXPECT_EQ(warnings.text(), "") << c.name;
    }
}

TEST(OpenGLPixelBufferDeathTest, InvalidLayoutTypeIsFatal)
{
    QUERN_REQUIRE_GL();
    EXPECT_DEATH(
        {
            Image image = makeImage(testing::sharedCaps());
            PixelBufferFormat layout = PixelBufferFormat::create2D(4, 4, PixelFormat::A8B8G8R8, 0, 0, 1);
            layout.type = LayoutType::None;
            image.buffer->create(layout, 0);
        },
        "Invalid pixel buffer format type");
}

TEST(OpenGLPixelBufferDeathTest, FloatFormatWithoutFloatTexturesIsUnsupported)
{
    QUERN_REQUIRE_GL();
    EXPECT_DEATH(
        {
            graphics::DisplayCaps noFloat = testing::sharedCaps();
            noFloat.floatTextures = 0;
            Image image = makeImage(noFloat);
            const PixelFormat a16f
                = PixelFormat::fromOneChannel({ ChannelContent::A, graphics::ChannelType::Float, 16, 0, 0 }, 1);
            image.buffer->create(PixelBufferFormat::create2D(4, 4, a16f, 0, 0, 1), 0);
        },
        "Pixel format not supported by this operation");
}

GLenum outOfMemory() { return GL_OUT_OF_MEMORY; }

TEST(OpenGLPixelBufferDeathTest, UploadErrorIsFatal)
{
    QUERN_REQUIRE_GL();
    EXPECT_DEATH(
        {
            Image image = makeImage(testing::sharedCaps());
            SlotOverride<PFN_glGetError> failing(glGetError, outOfMemory);
            const Bytes given = encode(PixelFormat::A8B8G8R8, 2, 2);
            image.buffer->setData(given.data(), PixelBufferFormat::create2D(2, 2, PixelFormat::A8B8G8R8, 0, 0, 1),
                nullptr, OpenGLPixelBuffer::NoMipLevels);
        },
        "OpenGL error: out of memory");
}

} // namespace
} // namespace quern::opengl
