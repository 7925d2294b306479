#include "quern/graphics/Channel.h"

#include "quern/platform/ErrorReporting.h"

#include <tuple>

namespace quern::graphics {

const char* Channel::getContentName(ChannelContent content)
{
    switch (content) {
    case ChannelContent::X: return "X";
    case ChannelContent::R: return "R";
    case ChannelContent::G: return "G";
    case ChannelContent::B: return "B";
    case ChannelContent::A: return "A";
    case ChannelContent::P: return "P";
    case ChannelContent::L: return "L";
    case ChannelContent::D: return "D";
    case ChannelContent::S: return "S";
    case ChannelContent::DXT1: return "DXT1";
    case ChannelContent::DXT2: return "DXT2";
    case ChannelContent::DXT3: return "DXT3";
    case ChannelContent::DXT4: return "DXT4";
    case ChannelContent::DXT5: return "DXT5";
    case ChannelContent::BC6H: return "BC6H";
    case ChannelContent::BC7: return "BC7";
    case ChannelContent::None: break;
    }
    QUERN_FATAL("Invalid channel content");
}

std::string Channel::toString() const
{
    std::string text = getContentName(content);
    // The DXT names already say everything about their blocks.
    if (isDXTCompressed())
        return text;
    text += std::to_string(bits);
    if (type == ChannelType::Float)
        text += 'f';
    else if (type == ChannelType::Signed)
        text += 's';
    return text;
}

bool Channel::operator<(const Channel& other) const
{
    return std::tie(content, type, bits, bitOffset, swapped) <
           std::tie(other.content, other.type, other.bits, other.bitOffset, other.swapped);
}

} // namespace quern::graphics
