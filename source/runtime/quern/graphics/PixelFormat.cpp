#include "quern/graphics/PixelFormat.h"

#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <bit>
#include <ostream>

namespace quern::graphics {
namespace {

// Swapped flags only mean something for channels of 16 bits or more.
bool sameChannel(const Channel& a, const Channel& b)
{
    if (a.content != b.content || a.type != b.type || a.bits != b.bits)
        return false;
    return a.bits < 16 || a.swapped == b.swapped;
}

constexpr PixelFormat kEmptyFormat{};

} // namespace

void PixelFormat::tooManyChannels() { QUERN_FATAL("A pixel format holds at most eight channels"); }

PixelFormat PixelFormat::fromBitMasks(u32 red, u32 green, u32 blue, u32 alpha, u32 bitCount)
{
    struct Entry {
        u32 mask;
        ChannelContent content;
    };
    Entry entries[5];
    u32 count = 0;
    const Entry candidates[] = {
        {red, ChannelContent::R}, {green, ChannelContent::G}, {blue, ChannelContent::B}, {alpha, ChannelContent::A}};
    for (const Entry& candidate : candidates)
        if (candidate.mask != 0)
            entries[count++] = candidate;
    const u32 used = red | green | blue | alpha;
    if (bitCount == 32 && used != 0xFFFFFFFFu)
        entries[count++] = Entry{~used, ChannelContent::X};
    // Unsigned comparison: an alpha mask of 0xFF000000 is the highest channel.
    std::stable_sort(entries, entries + count, [](const Entry& a, const Entry& b) { return a.mask < b.mask; });

    PixelFormat format;
    for (u32 i = 0; i < count; ++i)
        format.addChannel(Channel{entries[i].content, ChannelType::Unsigned,
                                  static_cast<u32>(std::popcount(entries[i].mask)), 0, 0});
    return format;
}

PixelFormat PixelFormat::reversed() const
{
    PixelFormat result;
    result.byteOrder = byteOrder;
    for (u32 i = channelCount; i-- > 0;) {
        Channel channel = channels[i];
        if (channel.bits >= 16)
            channel.swapped = channel.swapped ? 0 : 1;
        result.addChannel(channel);
    }
    return result;
}

const Channel& PixelFormat::getChannelWithContent(ChannelContent content) const
{
    const Channel* channel = findChannel(content);
    if (!channel)
        QUERN_FATAL("No channel in this pixel format matches the given content");
    return *channel;
}

u32 PixelFormat::getChannelMask(ChannelContent content) const
{
    const Channel* channel = findChannel(content);
    if (!channel)
        return 0;
    const u64 mask = channel->bits >= 32 ? 0xFFFFFFFFull : (1ull << channel->bits) - 1;
    const i64 shift = byteOrder == 1 ? static_cast<i64>(channel->bitOffset)
                                     : static_cast<i64>(totalBits) - channel->bitOffset - channel->bits;
    // Channels beyond the 32-bit window have no mask bits.
    if (shift < 0 || shift >= 32)
        return 0;
    return static_cast<u32>(mask << shift);
}

bool PixelFormat::hasChannels(ChannelContent first, ChannelContent second) const
{
    return hasChannel(first) && hasChannel(second);
}

bool PixelFormat::hasRGB() const
{
    return hasChannel(ChannelContent::R) && hasChannel(ChannelContent::G) && hasChannel(ChannelContent::B);
}

bool PixelFormat::hasRGBAnd(ChannelContent content) const { return hasRGB() && hasChannel(content); }

bool PixelFormat::hasCompressedChannel() const
{
    for (u32 i = 0; i < channelCount; ++i)
        if (channels[i].type == ChannelType::Compressed)
            return true;
    return false;
}

bool PixelFormat::isDXTCompressed() const
{
    for (u32 i = 0; i < channelCount; ++i)
        if (channels[i].isDXTCompressed())
            return true;
    return false;
}

bool PixelFormat::hasColorChannel() const
{
    for (u32 i = 0; i < channelCount; ++i) {
        switch (channels[i].content) {
        case ChannelContent::R:
        case ChannelContent::G:
        case ChannelContent::B:
        case ChannelContent::P:
        case ChannelContent::L: return true;
        default:
            if (channels[i].isDXTCompressed())
                return true;
        }
    }
    return false;
}

bool PixelFormat::isValid() const
{
    if (channelCount == 0)
        return false;
    for (u32 i = 0; i < channelCount; ++i) {
        const Channel& channel = channels[i];
        if (channel.content == ChannelContent::None)
            return false;
        if (channel.type == ChannelType::None && channel.content != ChannelContent::X)
            return false;
        if (channel.bits == 0 && channel.content != ChannelContent::D && channel.content != ChannelContent::S)
            return false;
    }
    return true;
}

u64 PixelFormat::computeRowPitch(u64 width) const
{
    if (isDXTCompressed())
        return ((width + 3) / 4) * elementSize;
    return width * static_cast<u64>(bytesPerPixel);
}

u64 PixelFormat::widthFromRowPitch(u64 rowPitch) const
{
    if (isDXTCompressed())
        return elementSize ? (rowPitch / elementSize) * 4 : 0;
    return bytesPerPixel > 0 ? rowPitch / static_cast<u64>(bytesPerPixel) : 0;
}

bool PixelFormat::operator==(const PixelFormat& other) const
{
    if (totalBits != other.totalBits || channelCount != other.channelCount)
        return false;
    bool sameChannels = true;
    for (u32 i = 0; i < channelCount && sameChannels; ++i)
        sameChannels = sameChannel(channels[i], other.channels[i]);
    // Below 16 bits a pixel is one byte and its byte order means nothing.
    const bool orderAgrees = totalBits < 16 || byteOrder == other.byteOrder;
    if (orderAgrees)
        return sameChannels;
    if (sameChannels)
        return false;
    // Opposite byte orders: the same format lists its channels backwards.
    for (u32 i = 0; i < channelCount; ++i)
        if (!sameChannel(channels[i], other.channels[channelCount - 1 - i]))
            return false;
    return true;
}

bool PixelFormat::operator<(const PixelFormat& other) const
{
    if (channelCount == 0 && other.channelCount == 0)
        return false;
    if (totalBits != other.totalBits)
        return totalBits < other.totalBits;
    if (channelCount != other.channelCount)
        return channelCount < other.channelCount;
    u32 index = 0;
    while (index + 1 < channelCount && sameChannel(channels[index], other.channels[index]))
        ++index;
    return channels[index] < other.channels[index];
}

namespace {

const PixelFormat* const kCodedFormats[] = {
    &PixelFormat::L8,       &PixelFormat::B5G5R5A1, &PixelFormat::B5G6R5, &PixelFormat::B8G8R8, &PixelFormat::A8B8G8R8,
    &PixelFormat::X8B8G8R8, &PixelFormat::D16,      &PixelFormat::D32,    &PixelFormat::D24S8,  &PixelFormat::DXT1,
    &PixelFormat::DXT5,     &PixelFormat::BC6H,     &PixelFormat::BC7,
};

} // namespace

i32 PixelFormat::getFormatCode() const
{
    for (i32 code = 0; code < static_cast<i32>(std::size(kCodedFormats)); ++code)
        if (*this == *kCodedFormats[code])
            return code;
    return -1;
}

const PixelFormat& PixelFormat::fromFormatCode(i32 code)
{
    if (code < 0 || code >= static_cast<i32>(std::size(kCodedFormats)))
        return kEmptyFormat;
    return *kCodedFormats[code];
}

std::string PixelFormat::toString() const
{
    std::string text;
    for (u32 i = 0; i < channelCount; ++i)
        text += channels[i].toString();
    return text;
}

std::ostream& operator<<(std::ostream& stream, const PixelFormat& format) { return stream << format.toString(); }

} // namespace quern::graphics
