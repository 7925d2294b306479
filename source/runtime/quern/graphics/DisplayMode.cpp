#include "quern/graphics/DisplayMode.h"

#include <ostream>

namespace quern::graphics {

bool DisplayMode::operator<(const DisplayMode& other) const
{
    if (width != other.width)
        return width < other.width;
    if (height != other.height)
        return height < other.height;
    if (format == other.format)
        return refreshRate < other.refreshRate;
    return format < other.format;
}

namespace {

bool isPrintable(const Channel& channel)
{
    if (channel.content == ChannelContent::None)
        return false;
    if (channel.type == ChannelType::None && channel.content != ChannelContent::X)
        return false;
    const bool sizeless = channel.content == ChannelContent::D || channel.content == ChannelContent::S;
    return channel.bits != 0 || sizeless;
}

bool allChannelsPrintable(const PixelFormat& format)
{
    if (format.channelCount == 0)
        return false;
    for (u32 i = 0; i < format.channelCount; ++i)
        if (!isPrintable(format.channels[i]))
            return false;
    return true;
}

} // namespace

void writeDisplayMode(std::ostream& stream, const DisplayMode& mode)
{
    stream << mode.width << "x" << mode.height << ", " << mode.format.totalBits << "bpp";
    if (allChannelsPrintable(mode.format))
        stream << " (" << mode.format << ")";
    if (mode.refreshRate > 0)
        stream << ", " << mode.refreshRate << "Hz";
}

} // namespace quern::graphics
