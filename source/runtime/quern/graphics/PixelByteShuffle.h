#pragma once
// The fast path of the run converter: pairs whose every destination byte is
// one source byte or a constant (8-bit channel permutations, 24 <-> 32 bits with
// alpha filled or dropped, luminance and alpha widened to colour). Textures and
// fonts convert almost only such pairs; they give exactly the bytes of the
// general per-channel path.

#include "quern/Types.h"

namespace quern::graphics {

struct ByteShuffle {
    static constexpr i8 kConstant = -1;

    u32 sourceBytes = 0; // 1 to 4
    u32 destinationBytes = 0; // 1 to 4
    i8 from[4] = { kConstant, kConstant, kConstant, kConstant }; // source byte of each destination byte
    u8 constant[4] = {}; // the byte written where `from` is kConstant
};

// Converts count pixels that follow each other in both runs. The runs may be
// unaligned; nothing past the count pixels is read or written.
void shuffleRun(const ByteShuffle& shuffle, const u8* source, u8* destination, u64 count);

} // namespace quern::graphics
