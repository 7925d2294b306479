// Engine pixel formats to GL triples and back, and the device check with its
// probe texture on Mesa.

#include "GLTestSupport.h"
#include "SDLTestContext.h"

#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLPixelFormat.h"

#include <gtest/gtest.h>

namespace quern::opengl {
namespace {

using graphics::Channel;
using graphics::ChannelContent;
using graphics::ChannelType;
using graphics::PixelFormat;
using testing::LogCapture;
using C = ChannelContent;

Channel ch(ChannelContent content, ChannelType type, u32 bits) { return Channel { content, type, bits, 0, 0 }; }

PixelFormat build(i32 byteOrder, std::initializer_list<Channel> channels)
{
    PixelFormat format;
    format.byteOrder = byteOrder;
    for (const Channel& channel : channels)
        format.addChannel(channel);
    return format;
}

const ChannelType U = ChannelType::Unsigned;
const ChannelType S = ChannelType::Signed;
const ChannelType F = ChannelType::Float;

TEST(ToGLFormat, TheEngineConstants)
{
    struct Case {
        const char* name;
        PixelFormat format;
        GLFormatTriple triple;
    };
    const GLFormatTriple none {};
    const Case cases[] = {
        { "L8", PixelFormat::L8, { GL_R8, GL_RED, GL_UNSIGNED_BYTE } },
        { "P8", PixelFormat::P8, { GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE } },
        { "B5G5R5A1", PixelFormat::B5G5R5A1, { GL_RGB5_A1, GL_RGBA, GL_UNSIGNED_SHORT_5_5_5_1 } },
        { "R5G5B5A1", PixelFormat::R5G5B5A1, { GL_RGB5_A1, GL_RGBA, GL_UNSIGNED_SHORT_1_5_5_5_REV } },
        { "B5G6R5", PixelFormat::B5G6R5, { GL_RGB, GL_RGB, GL_UNSIGNED_SHORT_5_6_5 } },
        { "R5G6B5", PixelFormat::R5G6B5, { GL_RGB, GL_RGB, GL_UNSIGNED_SHORT_5_6_5_REV } },
        { "B8G8R8", PixelFormat::B8G8R8, { GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE } },
        { "R8G8B8", PixelFormat::R8G8B8, { GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE } },
        { "A8R8G8B8", PixelFormat::A8R8G8B8, { GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV } },
        { "B8G8R8A8", PixelFormat::B8G8R8A8, { GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV } },
        { "R8G8B8A8", PixelFormat::R8G8B8A8, { GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8 } },
        { "X8B8G8R8", PixelFormat::X8B8G8R8, none },
        { "X8R8G8B8", PixelFormat::X8R8G8B8, none },
        { "B8G8R8X8", PixelFormat::B8G8R8X8, none },
        { "R8G8B8X8", PixelFormat::R8G8B8X8, none },
        { "DXT1", PixelFormat::DXT1,
            { GL_COMPRESSED_RGB_S3TC_DXT1_EXT, GL_COMPRESSED_RGB_S3TC_DXT1_EXT, GL_UNSIGNED_BYTE } },
        { "DXT1A", PixelFormat::DXT1A,
            { GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, GL_UNSIGNED_BYTE } },
        { "DXT2", PixelFormat::DXT2, none },
        { "DXT3", PixelFormat::DXT3,
            { GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, GL_UNSIGNED_BYTE } },
        { "DXT4", PixelFormat::DXT4, none },
        { "DXT5", PixelFormat::DXT5,
            { GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, GL_UNSIGNED_BYTE } },
        { "BC6H", PixelFormat::BC6H, none },
        { "BC7", PixelFormat::BC7, none },
        { "D16", PixelFormat::D16, { GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_FLOAT } },
        { "D32", PixelFormat::D32, { GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT, GL_FLOAT } },
        { "D24S8", PixelFormat::D24S8, none },
        { "A8B8G8R8", PixelFormat::A8B8G8R8, { GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV } },
    };
    for (const Case& c : cases) {
        const GLFormatTriple triple = toGLFormat(c.format);
        EXPECT_EQ(triple.internalFormat, c.triple.internalFormat) << c.name;
        EXPECT_EQ(triple.format, c.triple.format) << c.name;
        EXPECT_EQ(triple.type, c.triple.type) << c.name;
    }
}

TEST(ToGLFormat, DecidedByChannelStructure)
{
    struct Case {
        const char* name;
        PixelFormat format;
        GLFormatTriple triple;
    };
    const GLFormatTriple none {};
    const Case cases[] = {
        { "A8", build(1, { ch(C::A, U, 8) }), { GL_ALPHA8, GL_ALPHA, GL_UNSIGNED_BYTE } },
        { "A4", build(1, { ch(C::A, U, 4) }), { GL_ALPHA4, GL_ALPHA, GL_UNSIGNED_BYTE } },
        { "A16", build(1, { ch(C::A, U, 16) }), { GL_ALPHA16, GL_ALPHA, GL_UNSIGNED_SHORT } },
        { "A16f", build(1, { ch(C::A, F, 16) }), { GL_ALPHA16F_ARB, GL_ALPHA, GL_HALF_FLOAT } },
        { "A32f", build(1, { ch(C::A, F, 32) }), { GL_ALPHA32F_ARB, GL_ALPHA, GL_FLOAT } },
        { "L16", build(1, { ch(C::L, U, 16) }), { GL_R16, GL_RED, GL_UNSIGNED_SHORT } },
        { "D24", build(1, { ch(C::D, U, 24) }), { GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_FLOAT } },
        { "L8A8", build(1, { ch(C::L, U, 8), ch(C::A, U, 8) }), { GL_RG8, GL_RG, GL_UNSIGNED_BYTE } },
        { "R3G3B2", build(1, { ch(C::R, U, 3), ch(C::G, U, 3), ch(C::B, U, 2) }),
            { GL_R3_G3_B2, GL_RGB, GL_UNSIGNED_BYTE_2_3_3_REV } },
        { "R8G8B8 signed", build(1, { ch(C::R, S, 8), ch(C::G, S, 8), ch(C::B, S, 8) }),
            { GL_SIGNED_RGB8_NV, GL_BGR, GL_BYTE } },
        { "RGB32f", build(1, { ch(C::R, F, 32), ch(C::G, F, 32), ch(C::B, F, 32) }), { GL_RGB32F, GL_RGB, GL_FLOAT } },
        { "G8R8B8 neither order", build(1, { ch(C::G, U, 8), ch(C::R, U, 8), ch(C::B, U, 8) }), none },
        // The byte order 0 reverses the list before the order is read.
        { "R8G8B8A8 order 0", build(0, { ch(C::R, U, 8), ch(C::G, U, 8), ch(C::B, U, 8), ch(C::A, U, 8) }),
            { GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV } },
        { "R4G4B4A4", build(1, { ch(C::R, U, 4), ch(C::G, U, 4), ch(C::B, U, 4), ch(C::A, U, 4) }),
            { GL_RGBA4, GL_RGBA, GL_UNSIGNED_SHORT_4_4_4_4_REV } },
        { "R10G10B10A2", build(1, { ch(C::R, U, 10), ch(C::G, U, 10), ch(C::B, U, 10), ch(C::A, U, 2) }),
            { GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV } },
        { "G5R5B5A1 other order", build(1, { ch(C::G, U, 5), ch(C::R, U, 5), ch(C::B, U, 5), ch(C::A, U, 1) }), none },
        { "signed RGB unsigned A", build(1, { ch(C::R, S, 8), ch(C::G, S, 8), ch(C::B, S, 8), ch(C::A, U, 8) }),
            { GL_SIGNED_RGB8_UNSIGNED_ALPHA8_NV, GL_RGBA, GL_BYTE } },
        { "RGBA16f", build(1, { ch(C::R, F, 16), ch(C::G, F, 16), ch(C::B, F, 16), ch(C::A, F, 16) }),
            { GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT } },
        { "five channels", build(1, { ch(C::R, U, 8), ch(C::G, U, 8), ch(C::B, U, 8), ch(C::A, U, 8), ch(C::X, U, 8) }),
            none },
    };
    for (const Case& c : cases) {
        const GLFormatTriple triple = toGLFormat(c.format);
        EXPECT_EQ(triple.internalFormat, c.triple.internalFormat) << c.name;
        EXPECT_EQ(triple.format, c.triple.format) << c.name;
        EXPECT_EQ(triple.type, c.triple.type) << c.name;
    }
}

TEST(FromGLFormat, ChannelsFromBitZero)
{
    struct Case {
        const char* name;
        GLFormatTriple triple;
        PixelFormat format;
    };
    const Case cases[] = {
        { "alpha4", { GL_ALPHA4, GL_ALPHA, GL_UNSIGNED_BYTE }, build(1, { ch(C::A, U, 8) }) },
        { "red half", { GL_R16F, GL_RED, GL_HALF_FLOAT }, build(1, { ch(C::L, F, 16) }) },
        { "red short", { GL_R16, GL_RED, GL_SHORT }, build(1, { ch(C::L, S, 16) }) },
        { "rgb bytes", { GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE },
            build(1, { ch(C::R, U, 8), ch(C::G, U, 8), ch(C::B, U, 8) }) },
        { "bgr bytes", { GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE },
            build(1, { ch(C::B, U, 8), ch(C::G, U, 8), ch(C::R, U, 8) }) },
        { "rgb float", { GL_RGB32F, GL_RGB, GL_FLOAT },
            build(1, { ch(C::B, F, 32), ch(C::G, F, 32), ch(C::R, F, 32) }) },
        { "565", { GL_RGB, GL_RGB, GL_UNSIGNED_SHORT_5_6_5 },
            build(1, { ch(C::B, U, 5), ch(C::G, U, 6), ch(C::R, U, 5) }) },
        { "rg", { GL_RG8, GL_RG, GL_UNSIGNED_BYTE }, build(1, { ch(C::A, U, 8), ch(C::L, U, 8) }) },
        { "8888", { GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8 },
            build(1, { ch(C::A, U, 8), ch(C::B, U, 8), ch(C::G, U, 8), ch(C::R, U, 8) }) },
        { "8888 rev", { GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV },
            build(1, { ch(C::R, U, 8), ch(C::G, U, 8), ch(C::B, U, 8), ch(C::A, U, 8) }) },
        { "2101010 rev", { GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV },
            build(1, { ch(C::R, U, 10), ch(C::G, U, 10), ch(C::B, U, 10), ch(C::A, U, 2) }) },
        { "depth 24", { GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT }, build(1, { ch(C::D, U, 24) }) },
        { "depth 16 float", { GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_FLOAT }, build(1, { ch(C::D, F, 16) }) },
        { "depth unsized", { GL_DEPTH_COMPONENT, GL_DEPTH_COMPONENT, GL_UNSIGNED_BYTE },
            build(1, { ch(C::D, U, 24) }) },
        { "depth stencil", { GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8 },
            build(1, { ch(C::S, U, 8), ch(C::D, U, 24) }) },
        { "dxt5", { GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, GL_UNSIGNED_BYTE },
            PixelFormat::DXT5 },
        { "unknown", { GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_5_9_9_9_REV }, PixelFormat {} },
    };
    for (const Case& c : cases) {
        const PixelFormat format = fromGLFormat(c.triple);
        EXPECT_EQ(format.channelCount, c.format.channelCount) << c.name;
        for (u32 i = 0; i < c.format.channelCount; ++i) {
            EXPECT_EQ(format.channels[i].content, c.format.channels[i].content) << c.name << " channel " << i;
            EXPECT_EQ(format.channels[i].type, c.format.channels[i].type) << c.name << " channel " << i;
            EXPECT_EQ(format.channels[i].bits, c.format.channels[i].bits) << c.name << " channel " << i;
        }
    }
    EXPECT_EQ(
        fromGLFormat({ GL_COMPRESSED_RGB_S3TC_DXT1_EXT, GL_COMPRESSED_RGB_S3TC_DXT1_EXT, GL_UNSIGNED_BYTE }).byteOrder,
        0);
}

TEST(FromGLFormat, ColourConstantsComeBackReversed)
{
    // What a texture of each mapped 8-bit constant holds, in engine bit order.
    for (const PixelFormat& format :
        { PixelFormat::B8G8R8, PixelFormat::R8G8B8, PixelFormat::R8G8B8A8, PixelFormat::A8B8G8R8, PixelFormat::L8 })
        EXPECT_EQ(fromGLFormat(toGLFormat(format)).reversed(), format) << format.toString();
}

TEST(SRGBPairs, BothWaysAndUnpairedFormatsUnchanged)
{
    EXPECT_EQ(sRGBPartner(GL_RGBA8), GL_SRGB8_ALPHA8);
    EXPECT_EQ(sRGBPartner(GL_COMPRESSED_RGBA_S3TC_DXT1_EXT), GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT1_EXT);
    EXPECT_EQ(linearPartner(GL_SRGB), GL_RGB);
    EXPECT_EQ(linearPartner(GL_COMPRESSED_SRGB_ALPHA_BPTC_UNORM), GL_COMPRESSED_RGBA_BPTC_UNORM);
    EXPECT_EQ(sRGBPartner(GL_R8), GL_R8);
    EXPECT_TRUE(isS3TCFormat(GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT5_EXT));
    EXPECT_FALSE(isS3TCFormat(GL_COMPRESSED_RGBA_BPTC_UNORM));
}

graphics::DisplayCaps fullCaps()
{
    graphics::DisplayCaps caps;
    caps.floatTextures = 1;
    caps.ARB_half_float_pixel = 1;
    caps.EXT_texture_sRGB = 1;
    return caps;
}

TEST(CheckDeviceFormat, FloatFormatsWithoutFloatTexturesAreUnmapped)
{
    graphics::DisplayCaps caps = fullCaps();
    caps.floatTextures = 0;
    LogCapture warnings(2);
    GLFormatTriple alpha16f = toGLFormat(build(1, { ch(C::A, F, 16) }));
    checkDeviceFormat(alpha16f, caps);
    EXPECT_FALSE(alpha16f.isMapped());
    EXPECT_TRUE(warnings.contains("ARB_texture_float extension not supported!"));
}

TEST(CheckDeviceFormat, HalfFloatAndSRGBFallBackOnMesa)
{
    QUERN_REQUIRE_GL();
    graphics::DisplayCaps caps = fullCaps();
    caps.ARB_half_float_pixel = 0;
    caps.EXT_texture_sRGB = 0;
    LogCapture warnings(2);
    GLFormatTriple half { GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT };
    checkDeviceFormat(half, caps);
    EXPECT_EQ(half.type, GL_FLOAT);
    GLFormatTriple srgb { GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV };
    checkDeviceFormat(srgb, caps);
    EXPECT_EQ(srgb.internalFormat, GL_RGBA8);
    EXPECT_TRUE(warnings.contains("ARB_half_float_pixel extension not supported!"));
    EXPECT_TRUE(warnings.contains("EXT_texture_sRGB extension not supported!"));
    EXPECT_EQ(glGetError(), GL_NO_ERROR);
}

TEST(CheckDeviceFormat, ProbeTextureTakesTheDriversInternalFormat)
{
    QUERN_REQUIRE_GL();
    const graphics::DisplayCaps& caps = testing::sharedCaps();
    GLFormatTriple unsizedDepth { GL_DEPTH_COMPONENT, GL_DEPTH_COMPONENT, GL_FLOAT };
    checkDeviceFormat(unsizedDepth, caps);
    EXPECT_TRUE(unsizedDepth.internalFormat == GL_DEPTH_COMPONENT16
        || unsizedDepth.internalFormat == GL_DEPTH_COMPONENT24 || unsizedDepth.internalFormat == GL_DEPTH_COMPONENT32)
        << std::hex << unsizedDepth.internalFormat;
    GLFormatTriple sized { GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV };
    checkDeviceFormat(sized, caps);
    EXPECT_EQ(sized.internalFormat, GL_RGBA8);
    // S3TC formats are never probed: the probe would need block data.
    GLFormatTriple dxt = toGLFormat(PixelFormat::DXT5);
    checkDeviceFormat(dxt, caps);
    EXPECT_EQ(dxt.internalFormat, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT);
    EXPECT_EQ(glGetError(), GL_NO_ERROR);
}

} // namespace
} // namespace quern::opengl
