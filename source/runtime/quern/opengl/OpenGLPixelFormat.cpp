#include "quern/opengl/OpenGLPixelFormat.h"

#include "quern/debug/Log.h"
#include "quern/opengl/GLFunctions.h"

namespace quern::opengl {
namespace {

using graphics::Channel;
using graphics::ChannelContent;
using graphics::ChannelType;
using graphics::PixelFormat;
using C = ChannelContent;

struct SRGBPair {
    u32 linear;
    u32 sRGB;
};
const SRGBPair kSRGBPairs[] = {
    { GL_RGB, GL_SRGB },
    { GL_RGBA, GL_SRGB_ALPHA },
    { GL_RGB8, GL_SRGB8 },
    { GL_RGBA8, GL_SRGB8_ALPHA8 },
    { GL_COMPRESSED_RGB, GL_COMPRESSED_SRGB },
    { GL_COMPRESSED_RGBA, GL_COMPRESSED_SRGB_ALPHA },
    { GL_COMPRESSED_RGB_S3TC_DXT1_EXT, GL_COMPRESSED_SRGB_S3TC_DXT1_EXT },
    { GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT1_EXT },
    { GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT3_EXT },
    { GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT5_EXT },
    { GL_COMPRESSED_RGBA_BPTC_UNORM, GL_COMPRESSED_SRGB_ALPHA_BPTC_UNORM },
};

constexpr GLFormatTriple kNone {};

GLFormatTriple compressed(u32 internal) { return { internal, internal, GL_UNSIGNED_BYTE }; }

GLFormatTriple blockFormat(const PixelFormat& format)
{
    if (format == PixelFormat::DXT1)
        return compressed(GL_COMPRESSED_RGB_S3TC_DXT1_EXT);
    if (format == PixelFormat::DXT1A)
        return compressed(GL_COMPRESSED_RGBA_S3TC_DXT1_EXT);
    if (format == PixelFormat::DXT3)
        return compressed(GL_COMPRESSED_RGBA_S3TC_DXT3_EXT);
    if (format == PixelFormat::DXT5)
        return compressed(GL_COMPRESSED_RGBA_S3TC_DXT5_EXT);
    return kNone;
}

GLFormatTriple oneChannel(const Channel& channel)
{
    const u32 bits = channel.bits;
    if (channel.type == ChannelType::Unsigned) {
        if (channel.content == C::A && (bits == 4 || bits == 8))
            return { bits == 4 ? GL_ALPHA4 : GL_ALPHA8, GL_ALPHA, GL_UNSIGNED_BYTE };
        if (channel.content == C::A && (bits == 12 || bits == 16))
            return { bits == 12 ? GL_ALPHA12 : GL_ALPHA16, GL_ALPHA, GL_UNSIGNED_SHORT };
        if (channel.content == C::P)
            return { GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE };
        if (channel.content == C::L && bits == 8)
            return { GL_R8, GL_RED, GL_UNSIGNED_BYTE };
        if (channel.content == C::L && bits == 16)
            return { GL_R16, GL_RED, GL_UNSIGNED_SHORT };
    }
    if (channel.type == ChannelType::Float && channel.content == C::A) {
        if (bits == 32)
            return { GL_ALPHA32F_ARB, GL_ALPHA, GL_FLOAT };
        if (bits == 16)
            return { GL_ALPHA16F_ARB, GL_ALPHA, GL_HALF_FLOAT };
    }
    if ((channel.type == ChannelType::Unsigned || channel.type == ChannelType::Float) && channel.content == C::D) {
        switch (bits) {
        case 0:
            return { GL_DEPTH_COMPONENT, GL_DEPTH_COMPONENT, GL_FLOAT };
        case 16:
            return { GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_FLOAT };
        case 24:
            return { GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_FLOAT };
        case 32:
            return { GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT, GL_FLOAT };
        default:
            break;
        }
    }
    return kNone;
}

GLFormatTriple twoChannels(const PixelFormat& f)
{
    const Channel& a = f.channels[0];
    const Channel& b = f.channels[1];
    const bool lumAlpha = (a.content == C::L && b.content == C::A) || (a.content == C::A && b.content == C::L);
    if (lumAlpha && a.type == ChannelType::Unsigned && b.type == ChannelType::Unsigned && a.bits == 8 && b.bits == 8)
        return { GL_RG8, GL_RG, GL_UNSIGNED_BYTE };
    return kNone;
}

u32 bitsOf(const PixelFormat& f, ChannelContent content) { return f.findChannel(content)->bits; }

bool sizes(const PixelFormat& f, u32 r, u32 g, u32 b, u32 a = 0)
{
    return bitsOf(f, C::R) == r && bitsOf(f, C::G) == g && bitsOf(f, C::B) == b && (a == 0 || bitsOf(f, C::A) == a);
}

bool allOfType(const PixelFormat& f, ChannelType type)
{
    for (u32 i = 0; i < f.channelCount; ++i)
        if (f.channels[i].type != type)
            return false;
    return true;
}

// `f` is in GL component order: first is channels[0], third channels[2].
GLFormatTriple threeChannels(const PixelFormat& f)
{
    if (!f.hasRGB())
        return kNone;
    const bool rb = f.channels[0].content == C::R && f.channels[2].content == C::B;
    const bool br = f.channels[0].content == C::B && f.channels[2].content == C::R;
    if (allOfType(f, ChannelType::Unsigned)) {
        if (sizes(f, 8, 8, 8) && (rb || br))
            return { GL_RGB8, br ? GL_RGB : GL_BGR, GL_UNSIGNED_BYTE };
        if (sizes(f, 5, 6, 5) && (rb || br))
            return { GL_RGB, GL_RGB, br ? GL_UNSIGNED_SHORT_5_6_5 : GL_UNSIGNED_SHORT_5_6_5_REV };
        if (sizes(f, 3, 3, 2))
            return { GL_R3_G3_B2, GL_RGB, rb ? GL_UNSIGNED_BYTE_2_3_3_REV : GL_UNSIGNED_BYTE_3_3_2 };
        if (sizes(f, 16, 16, 16))
            return { GL_RGB16, rb ? GL_BGR : GL_RGB, GL_UNSIGNED_SHORT };
        return kNone;
    }
    if (allOfType(f, ChannelType::Signed) && sizes(f, 8, 8, 8))
        return { GL_SIGNED_RGB8_NV, rb ? GL_BGR : GL_RGB, GL_BYTE };
    if (allOfType(f, ChannelType::Float)) {
        if (sizes(f, 32, 32, 32))
            return { GL_RGB32F, GL_RGB, GL_FLOAT };
        if (sizes(f, 16, 16, 16))
            return { GL_RGB16F, GL_RGB, GL_HALF_FLOAT };
    }
    return kNone;
}

GLFormatTriple fourChannels(const PixelFormat& f)
{
    if (!f.hasRGBAnd(C::A))
        return kNone;
    const bool rb = f.channels[0].content == C::R && f.channels[2].content == C::B;
    const bool br = f.channels[0].content == C::B && f.channels[2].content == C::R;
    if (allOfType(f, ChannelType::Unsigned)) {
        if (sizes(f, 8, 8, 8, 8))
            return { GL_RGBA8, GL_RGBA, rb ? GL_UNSIGNED_INT_8_8_8_8 : GL_UNSIGNED_INT_8_8_8_8_REV };
        if (sizes(f, 5, 5, 5, 1) && (rb || br))
            return { GL_RGB5_A1, GL_RGBA, rb ? GL_UNSIGNED_SHORT_1_5_5_5_REV : GL_UNSIGNED_SHORT_5_5_5_1 };
        if (sizes(f, 4, 4, 4, 4))
            return { GL_RGBA4, GL_RGBA, rb ? GL_UNSIGNED_SHORT_4_4_4_4_REV : GL_UNSIGNED_SHORT_4_4_4_4 };
        if (sizes(f, 10, 10, 10, 2))
            return { GL_RGB10_A2, GL_RGBA, rb ? GL_UNSIGNED_INT_2_10_10_10_REV : GL_UNSIGNED_INT_10_10_10_2 };
        if (sizes(f, 16, 16, 16, 16))
            return { GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT };
        return kNone;
    }
    if (allOfType(f, ChannelType::Signed) && sizes(f, 8, 8, 8, 8))
        return { GL_SIGNED_RGBA8_NV, GL_RGBA, GL_BYTE };
    if (allOfType(f, ChannelType::Float)) {
        if (sizes(f, 32, 32, 32, 32))
            return { GL_RGBA32F, GL_RGBA, GL_FLOAT };
        if (sizes(f, 16, 16, 16, 16))
            return { GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT };
        return kNone;
    }
    const bool signedColour = f.findChannel(C::R)->type == ChannelType::Signed
        && f.findChannel(C::G)->type == ChannelType::Signed && f.findChannel(C::B)->type == ChannelType::Signed;
    if (signedColour && f.findChannel(C::A)->type == ChannelType::Unsigned && sizes(f, 8, 8, 8, 8))
        return { GL_SIGNED_RGB8_UNSIGNED_ALPHA8_NV, GL_RGBA, GL_BYTE };
    return kNone;
}

PixelFormat channelsFromBit0(std::initializer_list<Channel> channels)
{
    PixelFormat format;
    format.byteOrder = 1;
    for (const Channel& channel : channels)
        format.addChannel(channel);
    return format;
}

Channel ch(ChannelContent content, ChannelType type, u32 bits) { return Channel { content, type, bits, 0, 0 }; }

struct ComponentType {
    u32 type;
    ChannelType channelType;
    u32 bits;
};
const ComponentType kComponentTypes[] = {
    { GL_BYTE, ChannelType::Signed, 8 },
    { GL_UNSIGNED_BYTE, ChannelType::Unsigned, 8 },
    { GL_SHORT, ChannelType::Signed, 16 },
    { GL_UNSIGNED_SHORT, ChannelType::Unsigned, 16 },
    { GL_INT, ChannelType::Signed, 32 },
    { GL_UNSIGNED_INT, ChannelType::Unsigned, 32 },
    { GL_FLOAT, ChannelType::Float, 32 },
    { GL_HALF_FLOAT, ChannelType::Float, 16 },
};

PixelFormat depthFormat(const GLFormatTriple& t)
{
    const ChannelType floatOr = t.type == GL_FLOAT ? ChannelType::Float : ChannelType::Unsigned;
    switch (t.internalFormat) {
    case GL_DEPTH_COMPONENT16:
        return channelsFromBit0({ ch(C::D, floatOr, 16) });
    case GL_DEPTH_COMPONENT24:
        return channelsFromBit0({ ch(C::D, floatOr, 24) });
    case GL_DEPTH_COMPONENT32:
    case GL_DEPTH_COMPONENT32F:
        return channelsFromBit0({ ch(C::D, floatOr, 32) });
    case GL_DEPTH_COMPONENT:
        switch (t.type) {
        case GL_UNSIGNED_SHORT:
            return channelsFromBit0({ ch(C::D, ChannelType::Unsigned, 16) });
        case GL_UNSIGNED_INT:
            return channelsFromBit0({ ch(C::D, ChannelType::Unsigned, 32) });
        case GL_FLOAT:
            return channelsFromBit0({ ch(C::D, ChannelType::Float, 32) });
        default:
            return channelsFromBit0({ ch(C::D, ChannelType::Unsigned, 24) });
        }
    default:
        return PixelFormat {};
    }
}

PixelFormat threeFromGL(const GLFormatTriple& t)
{
    const bool rgb = t.format == GL_RGB;
    const auto ordered = [rgb](ChannelType type, u32 bits, bool redFirst) {
        return redFirst == rgb ? channelsFromBit0({ ch(C::R, type, bits), ch(C::G, type, bits), ch(C::B, type, bits) })
                               : channelsFromBit0({ ch(C::B, type, bits), ch(C::G, type, bits), ch(C::R, type, bits) });
    };
    switch (t.type) {
    case GL_UNSIGNED_BYTE:
        return ordered(ChannelType::Unsigned, 8, true);
    case GL_BYTE:
        return ordered(ChannelType::Signed, 8, true);
    case GL_UNSIGNED_SHORT:
        return ordered(ChannelType::Unsigned, 16, false);
    case GL_FLOAT:
        return ordered(ChannelType::Float, 32, false);
    case GL_HALF_FLOAT:
        return ordered(ChannelType::Float, 16, false);
    default:
        break;
    }
    if (!rgb)
        return PixelFormat {};
    const ChannelType u = ChannelType::Unsigned;
    switch (t.type) {
    case GL_UNSIGNED_SHORT_5_6_5:
        return channelsFromBit0({ ch(C::B, u, 5), ch(C::G, u, 6), ch(C::R, u, 5) });
    case GL_UNSIGNED_SHORT_5_6_5_REV:
        return channelsFromBit0({ ch(C::R, u, 5), ch(C::G, u, 6), ch(C::B, u, 5) });
    case GL_UNSIGNED_BYTE_3_3_2:
        return channelsFromBit0({ ch(C::B, u, 2), ch(C::G, u, 3), ch(C::R, u, 3) });
    case GL_UNSIGNED_BYTE_2_3_3_REV:
        return channelsFromBit0({ ch(C::R, u, 3), ch(C::G, u, 3), ch(C::B, u, 2) });
    default:
        return PixelFormat {};
    }
}

PixelFormat abgr(ChannelType type, u32 a, u32 b, u32 g, u32 r)
{
    return channelsFromBit0({ ch(C::A, type, a), ch(C::B, type, b), ch(C::G, type, g), ch(C::R, type, r) });
}

PixelFormat rgba(ChannelType type, u32 r, u32 g, u32 b, u32 a)
{
    return channelsFromBit0({ ch(C::R, type, r), ch(C::G, type, g), ch(C::B, type, b), ch(C::A, type, a) });
}

PixelFormat fourFromGL(u32 type)
{
    const ChannelType u = ChannelType::Unsigned;
    switch (type) {
    case GL_UNSIGNED_INT_8_8_8_8:
        return abgr(u, 8, 8, 8, 8);
    case GL_UNSIGNED_INT_8_8_8_8_REV:
        return rgba(u, 8, 8, 8, 8);
    case GL_UNSIGNED_SHORT_5_5_5_1:
        return abgr(u, 1, 5, 5, 5);
    case GL_UNSIGNED_SHORT_1_5_5_5_REV:
        return rgba(u, 5, 5, 5, 1);
    case GL_UNSIGNED_SHORT_4_4_4_4:
        return abgr(u, 4, 4, 4, 4);
    case GL_UNSIGNED_SHORT_4_4_4_4_REV:
        return rgba(u, 4, 4, 4, 4);
    case GL_UNSIGNED_INT_10_10_10_2:
        return abgr(u, 2, 10, 10, 10);
    case GL_UNSIGNED_INT_2_10_10_10_REV:
        return rgba(u, 10, 10, 10, 2);
    case GL_UNSIGNED_SHORT:
        return abgr(u, 16, 16, 16, 16);
    case GL_BYTE:
        return abgr(ChannelType::Signed, 8, 8, 8, 8);
    case GL_FLOAT:
        return abgr(ChannelType::Float, 32, 32, 32, 32);
    case GL_HALF_FLOAT:
        return abgr(ChannelType::Float, 16, 16, 16, 16);
    default:
        return PixelFormat {};
    }
}

} // namespace

GLFormatTriple toGLFormat(const PixelFormat& format)
{
    if (format.hasCompressedChannel())
        return blockFormat(format);
    const PixelFormat ordered = format.byteOrder != 0 ? format : format.reversed();
    switch (ordered.channelCount) {
    case 1:
        return oneChannel(ordered.channels[0]);
    case 2:
        return twoChannels(ordered);
    case 3:
        return threeChannels(ordered);
    case 4:
        return fourChannels(ordered);
    default:
        return kNone;
    }
}

PixelFormat fromGLFormat(const GLFormatTriple& t)
{
    switch (t.format) {
    case GL_DEPTH_COMPONENT:
        return depthFormat(t);
    case GL_RED:
    case GL_ALPHA:
        for (const ComponentType& component : kComponentTypes)
            if (component.type == t.type)
                return channelsFromBit0(
                    { ch(t.format == GL_RED ? C::L : C::A, component.channelType, component.bits) });
        return PixelFormat {};
    case GL_RGB:
    case GL_BGR:
        return threeFromGL(t);
    case GL_RG:
        return t.type == GL_UNSIGNED_BYTE
            ? channelsFromBit0({ ch(C::A, ChannelType::Unsigned, 8), ch(C::L, ChannelType::Unsigned, 8) })
            : PixelFormat {};
    case GL_RGBA:
        return fourFromGL(t.type);
    case GL_DEPTH_STENCIL:
        return t.type == GL_UNSIGNED_INT_24_8
            ? channelsFromBit0({ ch(C::S, ChannelType::Unsigned, 8), ch(C::D, ChannelType::Unsigned, 24) })
            : PixelFormat {};
    case GL_COMPRESSED_RGB_S3TC_DXT1_EXT:
        return PixelFormat::DXT1;
    case GL_COMPRESSED_RGBA_S3TC_DXT1_EXT:
        return PixelFormat::DXT1A;
    case GL_COMPRESSED_RGBA_S3TC_DXT3_EXT:
        return PixelFormat::DXT3;
    case GL_COMPRESSED_RGBA_S3TC_DXT5_EXT:
        return PixelFormat::DXT5;
    default:
        return PixelFormat {};
    }
}

u32 sRGBPartner(u32 linearFormat)
{
    for (const SRGBPair& pair : kSRGBPairs)
        if (pair.linear == linearFormat)
            return pair.sRGB;
    return linearFormat;
}

u32 linearPartner(u32 sRGBFormat)
{
    for (const SRGBPair& pair : kSRGBPairs)
        if (pair.sRGB == sRGBFormat)
            return pair.linear;
    return sRGBFormat;
}

bool isS3TCFormat(u32 internalFormat)
{
    const u32 linear = linearPartner(internalFormat);
    return linear == GL_COMPRESSED_RGB_S3TC_DXT1_EXT || linear == GL_COMPRESSED_RGBA_S3TC_DXT1_EXT
        || linear == GL_COMPRESSED_RGBA_S3TC_DXT3_EXT || linear == GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
}

void checkDeviceFormat(GLFormatTriple& triple, const graphics::DisplayCaps& caps)
{
    const bool floatType = triple.type == GL_FLOAT || triple.type == GL_HALF_FLOAT;
    if (!caps.floatTextures && triple.format != GL_DEPTH_COMPONENT && floatType) {
        QUERN_LOG(2) << "ARB_texture_float extension not supported!" << std::endl;
        triple = kNone;
        return;
    }
    if (!caps.ARB_half_float_pixel && triple.type == GL_HALF_FLOAT) {
        QUERN_LOG(2) << "ARB_half_float_pixel extension not supported!" << std::endl;
        triple.type = GL_FLOAT;
    }
    if (!caps.EXT_texture_sRGB) {
        QUERN_LOG(2) << "EXT_texture_sRGB extension not supported!" << std::endl;
        triple.internalFormat = linearPartner(triple.internalFormat);
    }
    if (isS3TCFormat(triple.internalFormat))
        return;
    GLuint probe = 0;
    glGenTextures(1, &probe);
    glBindTexture(GL_TEXTURE_2D, probe);
    glTexImage2D(
        GL_TEXTURE_2D, 0, static_cast<GLint>(triple.internalFormat), 1, 1, 0, triple.format, triple.type, nullptr);
    GLint internal = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internal);
    if (internal != 0)
        triple.internalFormat = static_cast<u32>(internal);
    if (triple.internalFormat == GL_DEPTH_COMPONENT) {
        GLint depthBits = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_DEPTH_SIZE, &depthBits);
        if (depthBits == 16)
            triple.internalFormat = GL_DEPTH_COMPONENT16;
        else if (depthBits == 24)
            triple.internalFormat = GL_DEPTH_COMPONENT24;
        else if (depthBits == 32)
            triple.internalFormat = GL_DEPTH_COMPONENT32;
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &probe);
}

} // namespace quern::opengl
