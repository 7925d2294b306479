#pragma once
// One channel of a pixel format: what it holds, how its value is typed and how
// many bits it takes. The offset is always derived from the channels before it.

#include "quern/Types.h"

#include <string>

namespace quern::graphics {

enum class ChannelContent : i32 {
    None = 0, // an empty slot
    X = 16,   // filler bits without a value
    R = 17,
    G = 18,
    B = 19,
    A = 20,
    P = 21, // palette index
    L = 22, // luminance
    D = 23, // depth
    S = 24, // stencil
    DXT1 = 25,
    DXT2 = 26,
    DXT3 = 27,
    DXT4 = 28,
    DXT5 = 29,
    BC6H = 30,
    BC7 = 31,
};

enum class ChannelType : i32 {
    None = 0,
    Unsigned = 1,
    Signed = 2,
    Float = 3, // 16-bit channels are half floats, 32-bit channels single floats
    Compressed = 4,
};

struct Channel {
    ChannelContent content = ChannelContent::None;
    ChannelType type = ChannelType::None;
    // Block formats give the average bits per pixel.
    u32 bits = 0;
    u32 bitOffset = 0;
    // The channel's bytes are stored in the opposite order to the rest of the
    // pixel; only meaningful for whole-byte channels of 16 bits or more.
    i32 swapped = 0;

    constexpr bool isDXTCompressed() const
    {
        return content >= ChannelContent::DXT1 && content <= ChannelContent::DXT5;
    }

    // The content's name ("R", "DXT5"); fatal "Invalid channel content" outside X..BC7.
    static const char* getContentName(ChannelContent content);

    // "R8", "A16f", "D24", "DXT5", "BC78".
    std::string toString() const;

    // Content, then type, bits, offset and swapped flag.
    bool operator<(const Channel& other) const;
};

} // namespace quern::graphics
