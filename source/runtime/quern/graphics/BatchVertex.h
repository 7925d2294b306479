#pragma once
// The 24-byte vertex of every immediate-mode drawer (batches, sprites, line
// strips, particle quads): position, four colour bytes, one texture coordinate.
// Its vertex format is position + colour + texture-coordinate set 0.

#include "quern/Types.h"

#include <cstring>

namespace quern::graphics {

struct BatchVertex {
    f32 x, y, z;
    u8 colour[4];
    f32 u, v;
};
static_assert(sizeof(BatchVertex) == 24);

// The vertex-format flags of a BatchVertex.
inline constexpr u32 kBatchVertexFlags = 0x1 | 0x4 | (1u << 8);

// floor(c * 255 + 0.5) for c in [0, 1] without a float-to-int conversion:
// adding 256.5 puts the result's integer part in the mantissa bits just above
// the fraction. Done in double, where c * 255 + 256.5 is exact: in single
// precision the sum rounds up across a .5 boundary for about 1,400 inputs.
// Channels outside [0, 1] wrap to their low 8 bits.
inline u8 colourByte(f32 c)
{
    const f64 shifted = static_cast<f64>(c) * 255.0 + 256.5;
    u64 bits;
    std::memcpy(&bits, &shifted, sizeof bits);
    return static_cast<u8>(bits >> 44);
}

inline void packColour(u8 out[4], f32 r, f32 g, f32 b, f32 a)
{
    out[0] = colourByte(r);
    out[1] = colourByte(g);
    out[2] = colourByte(b);
    out[3] = colourByte(a);
}

} // namespace quern::graphics
