#pragma once
// The layout of one pixel (or of one pixel's share of a 4x4 block): up to eight
// channels, the byte order that assembles them, and the derived sizes. A plain
// value: copied freely and compared field by field.
//
// Pixel bit assembly: the pixel's bytesPerPixel bytes are taken in memory order
// (byte order 1) or reversed (byte order 0); swapped whole-byte channels of 16
// bits or more have their own bytes reversed; the sequence read as a big-endian
// number holds channel 0 in its least significant bits.

#include "quern/Types.h"
#include "quern/graphics/Channel.h"

#include <initializer_list>
#include <iosfwd>
#include <string>

namespace quern::graphics {

// A colour as four bytes in memory order R, G, B, A: one pixel of PixelFormat::A8B8G8R8.
struct Pixel {
    u8 r = 0;
    u8 g = 0;
    u8 b = 0;
    u8 a = 0;

    bool operator==(const Pixel&) const = default;
};
static_assert(sizeof(Pixel) == 4);

class PixelFormat {
public:
    static constexpr u32 kMaxChannels = 8;

    // Slots at and beyond channelCount are all zero.
    Channel channels[kMaxChannels]{};
    i32 totalBits = 0;
    // Rounded to the nearest byte, not up: 4 bits give 1, 12 bits give 2.
    i32 bytesPerPixel = 0;
    i32 byteOrder = 0;
    u8 channelCount = 0;
    // One pixel, or one 4x4 block for the DXT formats.
    u8 elementSize = 0;

    // The empty format.
    constexpr PixelFormat() = default;

    // Builders: content, type, bits and swapped flag are taken from the records,
    // the offsets and sizes are derived.
    static constexpr PixelFormat fromOneChannel(const Channel& channel, i32 byteOrder);
    static constexpr PixelFormat fromTwoChannels(const Channel& first, const Channel& second, i32 byteOrder);
    // Byte order 1.
    static constexpr PixelFormat fromThreeChannels(const Channel& first, const Channel& second,
                                                   const Channel& third);
    // From 32-bit channel masks (legacy image headers, window-system formats):
    // one channel per non-zero mask in the order of the mask values, byte order 0;
    // a 32-bit format whose masks leave bits free gets an X channel for them.
    static PixelFormat fromBitMasks(u32 red, u32 green, u32 blue, u32 alpha, u32 bitCount);

    // Appends one channel and derives the sizes again. A ninth channel is fatal.
    constexpr void addChannel(const Channel& channel);
    // The channels backwards, byte order unchanged, the swapped flag of every
    // channel of 16 bits or more inverted.
    PixelFormat reversed() const;

    static constexpr u8 computeElementSize(const Channel* channels, u32 count);

    // The first channel with that content; fatal when there is none.
    const Channel& getChannelWithContent(ChannelContent content) const;
    constexpr const Channel* findChannel(ChannelContent content) const;
    constexpr bool hasChannel(ChannelContent content) const { return findChannel(content) != nullptr; }
    // The channel's bits as a 32-bit mask; 0 when no channel has the content.
    u32 getChannelMask(ChannelContent content) const;
    bool hasChannels(ChannelContent first, ChannelContent second) const;
    bool hasRGB() const;
    bool hasRGBAnd(ChannelContent content) const;
    bool hasCompressedChannel() const;
    // Some channel is DXT1 to DXT5: sizes are counted in 4x4 blocks.
    bool isDXTCompressed() const;
    bool hasColorChannel() const;
    bool isValid() const;

    // Bytes of one row of width pixels.
    u64 computeRowPitch(u64 width) const;
    // The width whose rows take rowPitch bytes; the format needs a non-zero size.
    u64 widthFromRowPitch(u64 rowPitch) const;

    // Formats that differ only in byte order and the matching channel order are
    // equal; offsets are not compared.
    bool operator==(const PixelFormat& other) const;
    // The order of display modes: total bits, channel count, then the first
    // channel that differs.
    bool operator<(const PixelFormat& other) const;

    // The code under which the native image format stores the format, -1 for
    // formats without one.
    i32 getFormatCode() const;
    // The coded constant; any other code gives the empty format.
    static const PixelFormat& fromFormatCode(i32 code);

    // The channel texts one after the other ("B8G8R8A8", "DXT1A0"); empty for the empty format.
    std::string toString() const;

    // This format's pixel as a colour, and a colour written as one pixel of this
    // format. Fatal for formats the converters cannot handle.
    Pixel convertToPixel(const void* pixel) const;
    void convertFromPixel(Pixel colour, void* out) const;

    static const PixelFormat L8;
    static const PixelFormat P8;
    static const PixelFormat B5G5R5A1;
    static const PixelFormat R5G5B5A1;
    static const PixelFormat B5G6R5;
    static const PixelFormat R5G6B5;
    static const PixelFormat B8G8R8;
    static const PixelFormat R8G8B8;
    static const PixelFormat A8R8G8B8;
    static const PixelFormat B8G8R8A8;
    static const PixelFormat R8G8B8A8;
    static const PixelFormat X8B8G8R8;
    static const PixelFormat X8R8G8B8;
    static const PixelFormat B8G8R8X8;
    static const PixelFormat R8G8B8X8;
    static const PixelFormat DXT1;
    static const PixelFormat DXT1A;
    static const PixelFormat DXT2;
    static const PixelFormat DXT3;
    static const PixelFormat DXT4;
    static const PixelFormat DXT5;
    static const PixelFormat BC6H;
    static const PixelFormat BC7;
    static const PixelFormat D16;
    static const PixelFormat D32;
    static const PixelFormat D24S8;
    static const PixelFormat A8B8G8R8;

private:
    struct ChannelSpec {
        ChannelContent content;
        u32 bits;
    };

    static constexpr PixelFormat predefined(i32 byteOrder, ChannelType type, std::initializer_list<ChannelSpec> specs);
    constexpr void deriveFields();
    [[noreturn]] static void tooManyChannels();
};

std::ostream& operator<<(std::ostream& stream, const PixelFormat& format);

constexpr u8 PixelFormat::computeElementSize(const Channel* channels, u32 count)
{
    if (count < 1)
        return 0;
    if (channels[0].content == ChannelContent::DXT1)
        return 8;
    if (channels[0].content >= ChannelContent::DXT2 && channels[0].content <= ChannelContent::DXT5)
        return 16;
    u32 sum = 0;
    for (u32 i = 0; i < count; ++i)
        sum += channels[i].bits;
    return static_cast<u8>((sum + 7) / 8);
}

constexpr void PixelFormat::deriveFields()
{
    elementSize = computeElementSize(channels, channelCount);
    u32 offset = 0;
    for (u32 i = 0; i < channelCount; ++i) {
        channels[i].bitOffset = offset;
        offset += channels[i].bits;
    }
    for (u32 i = channelCount; i < kMaxChannels; ++i)
        channels[i] = Channel{};
    totalBits = static_cast<i32>(offset);
    bytesPerPixel = (totalBits + 4) / 8;
}

constexpr void PixelFormat::addChannel(const Channel& channel)
{
    if (channelCount >= kMaxChannels)
        tooManyChannels();
    channels[channelCount] = Channel{channel.content, channel.type, channel.bits, 0, channel.swapped};
    ++channelCount;
    deriveFields();
}

constexpr PixelFormat PixelFormat::fromOneChannel(const Channel& channel, i32 byteOrder)
{
    PixelFormat format;
    format.byteOrder = byteOrder;
    format.addChannel(channel);
    return format;
}

constexpr PixelFormat PixelFormat::fromTwoChannels(const Channel& first, const Channel& second, i32 byteOrder)
{
    PixelFormat format = fromOneChannel(first, byteOrder);
    format.addChannel(second);
    return format;
}

constexpr PixelFormat PixelFormat::fromThreeChannels(const Channel& first, const Channel& second,
                                                     const Channel& third)
{
    PixelFormat format = fromTwoChannels(first, second, 1);
    format.addChannel(third);
    return format;
}

constexpr const Channel* PixelFormat::findChannel(ChannelContent content) const
{
    for (u32 i = 0; i < channelCount; ++i)
        if (channels[i].content == content)
            return &channels[i];
    return nullptr;
}

constexpr PixelFormat PixelFormat::predefined(i32 byteOrder, ChannelType type,
                                              std::initializer_list<ChannelSpec> specs)
{
    PixelFormat format;
    format.byteOrder = byteOrder;
    for (const ChannelSpec& spec : specs)
        format.addChannel(Channel{spec.content, type, spec.bits, 0, 0});
    return format;
}

// Constant-initialised: usable from any static initialiser without ordering concerns.
namespace pixel_format_table {
constexpr ChannelType kU = ChannelType::Unsigned;
constexpr ChannelType kBlock = ChannelType::Compressed;
} // namespace pixel_format_table

#define QUERN_PIXEL_FORMAT(name, order, type, ...)                                                              \
    inline constexpr PixelFormat PixelFormat::name = PixelFormat::predefined(order, pixel_format_table::type, \
                                                                             {__VA_ARGS__})
// clang-format off
QUERN_PIXEL_FORMAT(L8, 0, kU, {ChannelContent::L, 8});
QUERN_PIXEL_FORMAT(P8, 0, kU, {ChannelContent::P, 8});
QUERN_PIXEL_FORMAT(B5G5R5A1, 1, kU, {ChannelContent::B, 5}, {ChannelContent::G, 5}, {ChannelContent::R, 5}, {ChannelContent::A, 1});
QUERN_PIXEL_FORMAT(R5G5B5A1, 1, kU, {ChannelContent::R, 5}, {ChannelContent::G, 5}, {ChannelContent::B, 5}, {ChannelContent::A, 1});
QUERN_PIXEL_FORMAT(B5G6R5, 1, kU, {ChannelContent::B, 5}, {ChannelContent::G, 6}, {ChannelContent::R, 5});
QUERN_PIXEL_FORMAT(R5G6B5, 1, kU, {ChannelContent::R, 5}, {ChannelContent::G, 6}, {ChannelContent::B, 5});
QUERN_PIXEL_FORMAT(B8G8R8, 1, kU, {ChannelContent::B, 8}, {ChannelContent::G, 8}, {ChannelContent::R, 8});
QUERN_PIXEL_FORMAT(R8G8B8, 1, kU, {ChannelContent::R, 8}, {ChannelContent::G, 8}, {ChannelContent::B, 8});
QUERN_PIXEL_FORMAT(A8R8G8B8, 1, kU, {ChannelContent::A, 8}, {ChannelContent::R, 8}, {ChannelContent::G, 8}, {ChannelContent::B, 8});
QUERN_PIXEL_FORMAT(B8G8R8A8, 1, kU, {ChannelContent::B, 8}, {ChannelContent::G, 8}, {ChannelContent::R, 8}, {ChannelContent::A, 8});
QUERN_PIXEL_FORMAT(R8G8B8A8, 1, kU, {ChannelContent::R, 8}, {ChannelContent::G, 8}, {ChannelContent::B, 8}, {ChannelContent::A, 8});
QUERN_PIXEL_FORMAT(X8B8G8R8, 1, kU, {ChannelContent::X, 8}, {ChannelContent::B, 8}, {ChannelContent::G, 8}, {ChannelContent::R, 8});
QUERN_PIXEL_FORMAT(X8R8G8B8, 1, kU, {ChannelContent::X, 8}, {ChannelContent::R, 8}, {ChannelContent::G, 8}, {ChannelContent::B, 8});
QUERN_PIXEL_FORMAT(B8G8R8X8, 1, kU, {ChannelContent::B, 8}, {ChannelContent::G, 8}, {ChannelContent::R, 8}, {ChannelContent::X, 8});
QUERN_PIXEL_FORMAT(R8G8B8X8, 1, kU, {ChannelContent::R, 8}, {ChannelContent::G, 8}, {ChannelContent::B, 8}, {ChannelContent::X, 8});
QUERN_PIXEL_FORMAT(DXT1, 0, kBlock, {ChannelContent::DXT1, 4});
QUERN_PIXEL_FORMAT(DXT1A, 0, kBlock, {ChannelContent::DXT1, 4}, {ChannelContent::A, 0});
QUERN_PIXEL_FORMAT(DXT2, 0, kBlock, {ChannelContent::DXT2, 8});
QUERN_PIXEL_FORMAT(DXT3, 0, kBlock, {ChannelContent::DXT3, 8});
QUERN_PIXEL_FORMAT(DXT4, 0, kBlock, {ChannelContent::DXT4, 8});
QUERN_PIXEL_FORMAT(DXT5, 0, kBlock, {ChannelContent::DXT5, 8});
QUERN_PIXEL_FORMAT(BC6H, 0, kBlock, {ChannelContent::BC6H, 8});
QUERN_PIXEL_FORMAT(BC7, 0, kBlock, {ChannelContent::BC7, 8});
QUERN_PIXEL_FORMAT(D16, 0, kU, {ChannelContent::D, 16});
QUERN_PIXEL_FORMAT(D32, 0, kU, {ChannelContent::D, 32});
QUERN_PIXEL_FORMAT(D24S8, 0, kU, {ChannelContent::D, 24}, {ChannelContent::S, 8});
QUERN_PIXEL_FORMAT(A8B8G8R8, 1, kU, {ChannelContent::A, 8}, {ChannelContent::B, 8}, {ChannelContent::G, 8}, {ChannelContent::R, 8});
// clang-format on
#undef QUERN_PIXEL_FORMAT

} // namespace quern::graphics
