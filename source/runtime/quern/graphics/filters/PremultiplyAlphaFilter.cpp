#include "quern/graphics/filters/PremultiplyAlphaFilter.h"

#include "quern/graphics/PixelConverter.h"
#include "quern/graphics/PixelFormatError.h"

#include <bit>
#include <cmath>
#include <memory>
#include <vector>

namespace quern::graphics::filters {
namespace {

constexpr f32 kByteToUnit = 0.003921569f;

f32 srgbToLinear(f32 x)
{
    return x > 0.04045f ? std::pow((x + 0.055f) * 0.94786733f, 2.4f) : x * 0.07739938f;
}

f32 linearToSrgb(f32 x) { return x > 0.0031308f ? std::pow(x, 0.41666666f) * 1.055f - 0.055f : x * 12.92f; }

// floor(256 x), read from the mantissa of x + 1 in single precision.
u8 unitToByte(f32 x)
{
    const f32 biased = x + 1.0f;
    if (biased >= 2.0f)
        return 255;
    if (biased <= 1.0f)
        return 0;
    return static_cast<u8>(std::bit_cast<u32>(biased) >> 15);
}

bool alphaIsFourthByte(const PixelFormat& format, const Channel& alpha)
{
    if (format.bytesPerPixel != 4 || alpha.bits != 8)
        return false;
    // Channel 0 is the last memory byte in byte order 1 and the first in byte order 0.
    return format.byteOrder == 1 ? alpha.bitOffset == 0 : alpha.bitOffset == 24;
}

// Every (colour, alpha) answer at once, for images large enough that computing
// the 65,536 answers costs less than computing one per colour byte.
class ColourTable {
public:
    ColourTable(u64 colourBytes, bool integerMode, bool divide) : m_integerMode(integerMode), m_divide(divide)
    {
        if (colourBytes < 65536)
            return;
        m_table.resize(256 * 256);
        for (u32 a = 0; a < 256; ++a)
            for (u32 c = 0; c < 256; ++c)
                m_table[a * 256 + c] =
                    PremultiplyAlphaFilter::applyToColour(static_cast<u8>(c), static_cast<u8>(a), integerMode, divide);
    }

    u8 operator()(u8 colour, u8 alpha) const
    {
        if (m_table.empty())
            return PremultiplyAlphaFilter::applyToColour(colour, alpha, m_integerMode, m_divide);
        return m_table[alpha * 256u + colour];
    }

private:
    bool m_integerMode;
    bool m_divide;
    std::vector<u8> m_table;
};

} // namespace

u8 PremultiplyAlphaFilter::applyToColour(u8 colour, u8 alpha, bool integerMode, bool divide)
{
    if (alpha == 0)
        return 0;
    if (integerMode)
        return static_cast<u8>(divide ? colour * 255u / alpha : colour * static_cast<u32>(alpha) / 255u);
    if (alpha == 255)
        return colour;
    f32 x = srgbToLinear(static_cast<f32>(colour) * kByteToUnit);
    const f32 scale = static_cast<f32>(alpha) * kByteToUnit;
    x = divide ? x / scale : x * scale;
    return unitToByte(linearToSrgb(x));
}

bool PremultiplyAlphaFilter::setupPixelFormat(PixelFormat& format)
{
    PixelFilter::setupPixelFormat(format);
    for (u32 i = 0; i < format.channelCount; ++i) {
        switch (format.channels[i].content) {
        case ChannelContent::A:
        case ChannelContent::DXT3:
        case ChannelContent::DXT5:
        case ChannelContent::BC7: return true;
        default: break;
        }
    }
    return false;
}

void PremultiplyAlphaFilter::filterImpl(const void* source, void* destination, const PixelBufferFormat& format)
{
    const PixelFormat& pixelFormat = format.pixelFormat;
    const u64 pixelBytes = static_cast<u64>(pixelFormat.bytesPerPixel);
    if (pixelBytes == 0)
        return;
    const u64 pixels = format.dataSize / pixelBytes;
    const u8* in = static_cast<const u8*>(source);
    u8* out = static_cast<u8*>(destination);
    const Channel& alpha = pixelFormat.getChannelWithContent(ChannelContent::A);
    const ColourTable apply(pixels * 3, integerMode, divide);

    if (alphaIsFourthByte(pixelFormat, alpha)) {
        for (u64 i = 0; i < pixels; ++i, in += 4, out += 4) {
            const u8 a = in[3];
            out[0] = apply(in[0], a);
            out[1] = apply(in[1], a);
            out[2] = apply(in[2], a);
            out[3] = a;
        }
        return;
    }

    // Every other layout goes through a colour; the converters are made once.
    const auto toPixel = createPixelConverter(pixelFormat, PixelFormat::A8B8G8R8);
    const auto fromPixel = createPixelConverter(PixelFormat::A8B8G8R8, pixelFormat);
    if (!toPixel || !fromPixel)
        QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(pixelFormat);
    for (u64 i = 0; i < pixels; ++i, in += pixelBytes, out += pixelBytes) {
        Pixel colour;
        toPixel->convert(in, &colour, nullptr);
        colour.r = apply(colour.r, colour.a);
        colour.g = apply(colour.g, colour.a);
        colour.b = apply(colour.b, colour.a);
        fromPixel->convert(&colour, out, nullptr);
    }
}

} // namespace quern::graphics::filters
