#pragma once
// A run-length codec for testing compressed depot entries without the real
// codec: pairs of (run length 1-255, byte). Entries carry the tag "RLE1".

#include "quern/Types.h"

#include <vector>

namespace quern::assetbuild {

// "RLE1" in memory order.
inline constexpr u32 kRunLengthTag = 0x31454c52;

std::vector<u8> runLengthEncode(const u8* data, u64 size);

// Expands into at most `capacity` bytes; `written` receives the bytes
// produced. False for malformed input (odd length, a zero run) or when the
// output does not fit.
bool runLengthDecode(const u8* input, u64 inputSize, u8* output, u64 capacity, u64& written);

} // namespace quern::assetbuild
