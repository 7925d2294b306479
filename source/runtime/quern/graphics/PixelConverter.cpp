#include "quern/graphics/PixelConverter.h"

#include "quern/containers/Buffer.h"
#include "quern/graphics/PixelByteShuffle.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

namespace quern::graphics {
namespace {

enum class Kind {
    LToRGB,
    LToRGBA,
    PToRGB,
    PToRGBA,
    AToRGBA,
    LAToRGBA,
    RGBToL,
    RGBToRGB,
    RGBToRGBA,
    AToA,
    RGBAToLA,
    RGBAToRGBA,
};

// Which memory byte holds each byte of the assembled value, most significant first.
struct ByteLayout {
    u32 size = 0;
    u8 order[8] = {};
};

ByteLayout makeByteLayout(const PixelFormat& format)
{
    ByteLayout layout;
    layout.size = static_cast<u32>(format.bytesPerPixel);
    const u32 n = layout.size;
    for (u32 k = 0; k < n; ++k)
        layout.order[k] = static_cast<u8>(format.byteOrder == 1 ? k : n - 1 - k);
    for (u32 i = 0; i < format.channelCount; ++i) {
        const Channel& channel = format.channels[i];
        if (!channel.swapped || channel.bits < 16 || channel.bits % 8 != 0 || channel.bitOffset % 8 != 0)
            continue;
        const u32 skip = channel.bitOffset / 8;
        const u32 bytes = channel.bits / 8;
        if (skip + bytes > n)
            continue;
        std::reverse(layout.order + (n - skip - bytes), layout.order + (n - skip));
    }
    return layout;
}

template <typename V> V readValue(const ByteLayout& layout, const u8* pixel)
{
    V value = 0;
    for (u32 k = 0; k < layout.size; ++k)
        value = static_cast<V>((value << 8) | pixel[layout.order[k]]);
    return value;
}

template <typename V> void writeValue(const ByteLayout& layout, V value, u8* pixel)
{
    for (u32 k = layout.size; k-- > 0;) {
        pixel[layout.order[k]] = static_cast<u8>(value);
        value = static_cast<V>(value >> 8);
    }
}

template <typename V> constexpr u32 kValueBits = sizeof(V) * 8;

template <typename V> V shiftLeft(V value, u32 amount)
{
    return amount >= kValueBits<V> ? V { 0 } : static_cast<V>(value << amount);
}

template <typename V> V shiftRight(V value, u32 amount)
{
    return amount >= kValueBits<V> ? V { 0 } : static_cast<V>(value >> amount);
}

template <typename V> V lowMask(u32 bits)
{
    return bits >= kValueBits<V> ? static_cast<V>(~V { 0 }) : static_cast<V>((V { 1 } << bits) - 1);
}

struct Field {
    u32 offset = 0;
    u32 bits = 0;
};

Field fieldOf(const PixelFormat& format, ChannelContent content)
{
    const Channel* channel = format.findChannel(content);
    return channel ? Field { channel->bitOffset, channel->bits } : Field {};
}

template <typename V> V extract(V value, Field field)
{
    return shiftRight(value, field.offset) & lowMask<V>(field.bits);
}

// Same content, other width: bits are dropped or zero-filled, never rounded.
template <typename V> V rescaleBits(V value, Field from, Field to)
{
    return from.bits > to.bits ? shiftRight(value, from.bits - to.bits) : shiftLeft(value, to.bits - from.bits);
}

// A value that fits is kept as it is; a larger one keeps its highest bits.
template <typename V> V fit(V value, Field to)
{
    if (to.bits >= kValueBits<V> || value <= lowMask<V>(to.bits))
        return value;
    return shiftRight(value, static_cast<u32>(std::bit_width(value)) - to.bits);
}

template <typename V> V luminance(V red, V green, V blue)
{
    const f32 sum = static_cast<f32>(red) * 0.299f + static_cast<f32>(green) * 0.587f + static_cast<f32>(blue) * 0.114f;
    return static_cast<V>(sum);
}

u32 paletteEntry(containers::Buffer* palette, u64 index)
{
    const u64 entries = palette ? palette->byteSize() / 4 : 0;
    if (index >= entries)
        QUERN_FATAL("Palette index outside the palette");
    const u8* data = palette->lock(containers::BufferBase::Lock::Read, 0, palette->elementCount());
    u32 entry;
    std::memcpy(&entry, data + index * 4, sizeof entry);
    palette->unlock();
    return entry;
}

template <typename V, Kind K> class ChannelConverter final : public PixelConverter {
public:
    ChannelConverter(const PixelFormat& source, const PixelFormat& destination)
        : PixelConverter(static_cast<u32>(source.bytesPerPixel), static_cast<u32>(destination.bytesPerPixel))
        , m_sourceLayout(makeByteLayout(source))
        , m_destinationLayout(makeByteLayout(destination))
        , m_sR(fieldOf(source, ChannelContent::R))
        , m_sG(fieldOf(source, ChannelContent::G))
        , m_sB(fieldOf(source, ChannelContent::B))
        , m_sA(fieldOf(source, ChannelContent::A))
        , m_sL(fieldOf(source, ChannelContent::L))
        , m_sP(fieldOf(source, ChannelContent::P))
        , m_dR(fieldOf(destination, ChannelContent::R))
        , m_dG(fieldOf(destination, ChannelContent::G))
        , m_dB(fieldOf(destination, ChannelContent::B))
        , m_dA(fieldOf(destination, ChannelContent::A))
        , m_dL(fieldOf(destination, ChannelContent::L))
    {
    }

    void convert(const void* sourcePixel, void* destinationPixel, containers::Buffer* palette) const override
    {
        convertOne(static_cast<const u8*>(sourcePixel), static_cast<u8*>(destinationPixel), palette);
    }

    void convertRun(const void* source, void* destination, u64 count, containers::Buffer* palette) const override
    {
        const u8* in = static_cast<const u8*>(source);
        u8* out = static_cast<u8*>(destination);
        for (u64 i = 0; i < count; ++i, in += m_sourceLayout.size, out += m_destinationLayout.size)
            convertOne(in, out, palette);
    }

    // The pair as a byte shuffle, when every destination byte is one whole
    // source byte or a constant: kinds that only move or fill channels, with
    // every channel involved 8 bits wide on a byte boundary.
    bool describeShuffle(ByteShuffle& shuffle) const
    {
        if constexpr (K == Kind::PToRGB || K == Kind::PToRGBA || K == Kind::RGBToL || K == Kind::RGBAToLA) {
            return false;
        } else {
            shuffle.sourceBytes = m_sourceLayout.size;
            shuffle.destinationBytes = m_destinationLayout.size;
            if (shuffle.sourceBytes < 1 || shuffle.sourceBytes > 4 || shuffle.destinationBytes < 1
                || shuffle.destinationBytes > 4)
                return false;
            // Destination bytes no channel covers stay 0, as in the assembled value.
            for (u32 b = 0; b < 4; ++b) {
                shuffle.from[b] = ByteShuffle::kConstant;
                shuffle.constant[b] = 0;
            }
            constexpr bool lumToColour = K == Kind::LToRGB || K == Kind::LToRGBA || K == Kind::LAToRGBA;
            constexpr bool colourToColour = K == Kind::RGBToRGB || K == Kind::RGBToRGBA || K == Kind::RGBAToRGBA;
            constexpr bool alphaCopied
                = K == Kind::AToRGBA || K == Kind::LAToRGBA || K == Kind::AToA || K == Kind::RGBAToRGBA;
            constexpr bool alphaFilled = K == Kind::LToRGBA || K == Kind::RGBToRGBA;
            bool ok = true;
            if constexpr (lumToColour)
                ok = copies(m_sL, m_dR, shuffle) && copies(m_sL, m_dG, shuffle) && copies(m_sL, m_dB, shuffle);
            if constexpr (colourToColour)
                ok = copies(m_sR, m_dR, shuffle) && copies(m_sG, m_dG, shuffle) && copies(m_sB, m_dB, shuffle);
            if constexpr (K == Kind::AToRGBA)
                ok = fills(m_dR, 0xFF, shuffle) && fills(m_dG, 0xFF, shuffle) && fills(m_dB, 0xFF, shuffle);
            if constexpr (alphaCopied)
                ok = ok && copies(m_sA, m_dA, shuffle);
            if constexpr (alphaFilled)
                ok = ok && fills(m_dA, 0xFF, shuffle);
            return ok;
        }
    }

private:
    static bool wholeByte(Field field, u32 size)
    {
        return field.bits == 8 && field.offset % 8 == 0 && field.offset / 8 < size;
    }

    // Memory byte of the pixel that holds byte `valueByte` (0 the least significant) of the assembled value.
    static u32 memoryByte(const ByteLayout& layout, u32 valueByte) { return layout.order[layout.size - 1 - valueByte]; }

    bool copies(Field from, Field to, ByteShuffle& shuffle) const
    {
        if (!wholeByte(from, m_sourceLayout.size) || !wholeByte(to, m_destinationLayout.size))
            return false;
        shuffle.from[memoryByte(m_destinationLayout, to.offset / 8)]
            = static_cast<i8>(memoryByte(m_sourceLayout, from.offset / 8));
        return true;
    }

    bool fills(Field to, u8 value, ByteShuffle& shuffle) const
    {
        if (!wholeByte(to, m_destinationLayout.size))
            return false;
        const u32 at = memoryByte(m_destinationLayout, to.offset / 8);
        shuffle.from[at] = ByteShuffle::kConstant;
        shuffle.constant[at] = value;
        return true;
    }

    void convertOne(const u8* sourcePixel, u8* destinationPixel, containers::Buffer* palette) const
    {
        const V in = readValue<V>(m_sourceLayout, sourcePixel);
        V red = 0, green = 0, blue = 0, alpha = 0, lum = 0;
        if constexpr (K == Kind::LToRGB || K == Kind::LToRGBA || K == Kind::LAToRGBA) {
            const V l = extract(in, m_sL);
            red = fit(l, m_dR);
            green = fit(l, m_dG);
            blue = fit(l, m_dB);
        }
        if constexpr (K == Kind::PToRGB || K == Kind::PToRGBA) {
            const u32 entry = paletteEntry(palette, static_cast<u64>(extract(in, m_sP)));
            red = fit(static_cast<V>(entry & 0xFF), m_dR);
            green = fit(static_cast<V>((entry >> 8) & 0xFF), m_dG);
            blue = fit(static_cast<V>((entry >> 16) & 0xFF), m_dB);
        }
        if constexpr (K == Kind::AToRGBA) {
            red = fit(V { 255 }, m_dR);
            green = fit(V { 255 }, m_dG);
            blue = fit(V { 255 }, m_dB);
        }
        if constexpr (K == Kind::RGBToRGB || K == Kind::RGBToRGBA || K == Kind::RGBAToRGBA) {
            red = rescaleBits(extract(in, m_sR), m_sR, m_dR);
            green = rescaleBits(extract(in, m_sG), m_sG, m_dG);
            blue = rescaleBits(extract(in, m_sB), m_sB, m_dB);
        }
        if constexpr (K == Kind::RGBToL || K == Kind::RGBAToLA)
            lum = fit(luminance(extract(in, m_sR), extract(in, m_sG), extract(in, m_sB)), m_dL);
        if constexpr (K == Kind::LToRGBA || K == Kind::PToRGBA || K == Kind::RGBToRGBA)
            alpha = lowMask<V>(m_dA.bits);
        if constexpr (K == Kind::AToRGBA || K == Kind::LAToRGBA || K == Kind::AToA || K == Kind::RGBAToLA
            || K == Kind::RGBAToRGBA)
            alpha = rescaleBits(extract(in, m_sA), m_sA, m_dA);

        const V out = shiftLeft(red, m_dR.offset) | shiftLeft(green, m_dG.offset) | shiftLeft(blue, m_dB.offset)
            | shiftLeft(alpha, m_dA.offset) | shiftLeft(lum, m_dL.offset);
        writeValue<V>(m_destinationLayout, out, destinationPixel);
    }

    ByteLayout m_sourceLayout;
    ByteLayout m_destinationLayout;
    Field m_sR, m_sG, m_sB, m_sA, m_sL, m_sP;
    Field m_dR, m_dG, m_dB, m_dA, m_dL;
};

// Runs go through the byte shuffle; single pixels through the general path.
class ShuffleConverter final : public PixelConverter {
public:
    ShuffleConverter(std::unique_ptr<PixelConverter> general, const ByteShuffle& shuffle)
        : PixelConverter(general->sourceBytes(), general->destinationBytes())
        , m_general(std::move(general))
        , m_shuffle(shuffle)
    {
    }

    void convert(const void* sourcePixel, void* destinationPixel, containers::Buffer* palette) const override
    {
        m_general->convert(sourcePixel, destinationPixel, palette);
    }

    void convertRun(const void* source, void* destination, u64 count, containers::Buffer*) const override
    {
        shuffleRun(m_shuffle, static_cast<const u8*>(source), static_cast<u8*>(destination), count);
    }

private:
    std::unique_ptr<PixelConverter> m_general;
    ByteShuffle m_shuffle;
};

template <Kind K>
std::unique_ptr<PixelConverter> makeFastest(
    const PixelFormat& source, const PixelFormat& destination, PixelConverterPath path)
{
    auto general = std::make_unique<ChannelConverter<u32, K>>(source, destination);
    ByteShuffle shuffle;
    if (path == PixelConverterPath::General || !general->describeShuffle(shuffle))
        return general;
    return std::make_unique<ShuffleConverter>(std::move(general), shuffle);
}

// 32-bit values: the byte shuffle where the pair allows it.
template <typename V>
requires std::is_same_v<V, u32> std::unique_ptr<PixelConverter> makeConverter(
    Kind kind, const PixelFormat& source, const PixelFormat& destination, PixelConverterPath path)
{
    switch (kind) {
    case Kind::LToRGB:
        return makeFastest<Kind::LToRGB>(source, destination, path);
    case Kind::LToRGBA:
        return makeFastest<Kind::LToRGBA>(source, destination, path);
    case Kind::PToRGB:
        return makeFastest<Kind::PToRGB>(source, destination, path);
    case Kind::PToRGBA:
        return makeFastest<Kind::PToRGBA>(source, destination, path);
    case Kind::AToRGBA:
        return makeFastest<Kind::AToRGBA>(source, destination, path);
    case Kind::LAToRGBA:
        return makeFastest<Kind::LAToRGBA>(source, destination, path);
    case Kind::RGBToL:
        return makeFastest<Kind::RGBToL>(source, destination, path);
    case Kind::RGBToRGB:
        return makeFastest<Kind::RGBToRGB>(source, destination, path);
    case Kind::RGBToRGBA:
        return makeFastest<Kind::RGBToRGBA>(source, destination, path);
    case Kind::AToA:
        return makeFastest<Kind::AToA>(source, destination, path);
    case Kind::RGBAToLA:
        return makeFastest<Kind::RGBAToLA>(source, destination, path);
    case Kind::RGBAToRGBA:
        return makeFastest<Kind::RGBAToRGBA>(source, destination, path);
    }
    QUERN_FATAL_INVALID_ENUM("Kind");
}

template <typename V>
std::unique_ptr<PixelConverter> makeConverter(
    Kind kind, const PixelFormat& source, const PixelFormat& destination, PixelConverterPath)
{
    switch (kind) {
    case Kind::LToRGB:
        return std::make_unique<ChannelConverter<V, Kind::LToRGB>>(source, destination);
    case Kind::LToRGBA:
        return std::make_unique<ChannelConverter<V, Kind::LToRGBA>>(source, destination);
    case Kind::PToRGB:
        return std::make_unique<ChannelConverter<V, Kind::PToRGB>>(source, destination);
    case Kind::PToRGBA:
        return std::make_unique<ChannelConverter<V, Kind::PToRGBA>>(source, destination);
    case Kind::AToRGBA:
        return std::make_unique<ChannelConverter<V, Kind::AToRGBA>>(source, destination);
    case Kind::LAToRGBA:
        return std::make_unique<ChannelConverter<V, Kind::LAToRGBA>>(source, destination);
    case Kind::RGBToL:
        return std::make_unique<ChannelConverter<V, Kind::RGBToL>>(source, destination);
    case Kind::RGBToRGB:
        return std::make_unique<ChannelConverter<V, Kind::RGBToRGB>>(source, destination);
    case Kind::RGBToRGBA:
        return std::make_unique<ChannelConverter<V, Kind::RGBToRGBA>>(source, destination);
    case Kind::AToA:
        return std::make_unique<ChannelConverter<V, Kind::AToA>>(source, destination);
    case Kind::RGBAToLA:
        return std::make_unique<ChannelConverter<V, Kind::RGBAToLA>>(source, destination);
    case Kind::RGBAToRGBA:
        return std::make_unique<ChannelConverter<V, Kind::RGBAToRGBA>>(source, destination);
    }
    QUERN_FATAL_INVALID_ENUM("Kind");
}

// Every typed channel is unsigned (and at least one has a type).
bool allUnsigned(const PixelFormat& format)
{
    bool typed = false;
    for (u32 i = 0; i < format.channelCount; ++i) {
        const ChannelType type = format.channels[i].type;
        if (type == ChannelType::None)
            continue;
        if (type != ChannelType::Unsigned)
            return false;
        typed = true;
    }
    return typed;
}

// The converter kind for the pair of channel counts and contents; false when none applies.
bool selectKind(const PixelFormat& s, const PixelFormat& d, Kind& kind)
{
    using C = ChannelContent;
    const bool sRGB = s.hasRGB();
    const bool dRGB = d.hasRGB();
    auto pick = [&kind](Kind chosen) {
        kind = chosen;
        return true;
    };
    switch (s.channelCount * 10 + d.channelCount) {
    case 13:
        if (s.hasChannel(C::L) && dRGB)
            return pick(Kind::LToRGB);
        if (s.hasChannel(C::P) && dRGB)
            return pick(Kind::PToRGB);
        return false;
    case 14:
        if (s.hasChannel(C::L) && dRGB && d.hasChannel(C::A))
            return pick(Kind::LToRGBA);
        if (s.hasChannel(C::L) && dRGB && d.hasChannel(C::X))
            return pick(Kind::LToRGB);
        if (s.hasChannel(C::P) && dRGB && d.hasChannel(C::A))
            return pick(Kind::PToRGBA);
        if (s.hasChannel(C::P) && dRGB && d.hasChannel(C::X))
            return pick(Kind::PToRGB);
        if (s.hasChannel(C::A) && d == PixelFormat::A8B8G8R8)
            return pick(Kind::AToRGBA);
        return false;
    case 24:
        if (s.hasChannels(C::L, C::A) && dRGB && d.hasChannel(C::A))
            return pick(Kind::LAToRGBA);
        return false;
    case 31:
        if (sRGB && d.hasChannel(C::L))
            return pick(Kind::RGBToL);
        return false;
    case 33:
        if (sRGB && dRGB)
            return pick(Kind::RGBToRGB);
        return false;
    case 34:
        if (sRGB && dRGB && d.hasChannel(C::A))
            return pick(Kind::RGBToRGBA);
        if (sRGB && dRGB && d.hasChannel(C::X))
            return pick(Kind::RGBToRGB);
        return false;
    case 41:
        if (sRGB && s.hasChannel(C::X) && d.hasChannel(C::L))
            return pick(Kind::RGBToL);
        if (sRGB && s.hasChannel(C::A) && d.hasChannel(C::A))
            return pick(Kind::AToA);
        return false;
    case 42:
        if (sRGB && s.hasChannel(C::A) && d.hasChannels(C::L, C::A))
            return pick(Kind::RGBAToLA);
        return false;
    case 43:
        if (sRGB && (s.hasChannel(C::X) || s.hasChannel(C::A)) && dRGB)
            return pick(Kind::RGBToRGB);
        return false;
    case 44:
        if (!sRGB || !dRGB)
            return false;
        if (s.hasChannel(C::A)) {
            if (d.hasChannel(C::A))
                return pick(Kind::RGBAToRGBA);
            if (d.hasChannel(C::X))
                return pick(Kind::RGBToRGB);
            return false;
        }
        if (s.hasChannel(C::X)) {
            if (d.hasChannel(C::X))
                return pick(Kind::RGBToRGB);
            if (d.hasChannel(C::A))
                return pick(Kind::RGBToRGBA);
        }
        return false;
    default:
        return false;
    }
}

} // namespace

std::unique_ptr<PixelConverter> createPixelConverter(
    const PixelFormat& source, const PixelFormat& destination, PixelConverterPath path)
{
    if (source.channelCount == 0 || destination.channelCount == 0)
        return nullptr;
    if (!allUnsigned(source) || !allUnsigned(destination))
        return nullptr;
    Kind kind;
    if (!selectKind(source, destination, kind))
        return nullptr;
    if (source.totalBits <= 32 && destination.totalBits <= 32)
        return makeConverter<u32>(kind, source, destination, path);
    if (source.totalBits <= 64 && destination.totalBits <= 64)
        return makeConverter<u64>(kind, source, destination, path);
    return nullptr;
}

} // namespace quern::graphics
