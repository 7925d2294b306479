#pragma once
// The hashes the engine names things by: 64-bit MurmurHash64A keys for asset,
// resource and interned names, 32-bit MurmurHash2 ids for material properties
// and vertex formats, and CRC-32 for checksums. None of them allocates.

#include "quern/Types.h"

namespace quern::strings {

// Seed of every string interner; code that looks a name up in one hashes with it.
inline constexpr u64 kInternerSeed = 0x2f0101b0d9b73936ull;

u64 murmurHash64A(const void* data, u64 length, u64 seed);
u32 murmurHash2(const void* data, u64 length);

// Reflected CRC-32 (polynomial 0x04C11DB7), the one zip and PNG use.
u32 crc32(const void* data, u64 length);
// Continues a CRC-32: crc32Append(crc32(a), b) == crc32(a followed by b), and
// crc32Append(0, b) == crc32(b). For checksums over data in many pieces.
u32 crc32Append(u32 crc, const void* data, u64 length);

} // namespace quern::strings
