#pragma once
// Little-endian fields of records read from files, taken byte by byte so no
// record is ever read by casting a struct over untrusted bytes.

#include "quern/Types.h"

namespace quern {

inline u16 readLittleEndian16(const u8* bytes) { return static_cast<u16>(bytes[0] | bytes[1] << 8); }

inline u32 readLittleEndian32(const u8* bytes)
{
    return u32{bytes[0]} | u32{bytes[1]} << 8 | u32{bytes[2]} << 16 | u32{bytes[3]} << 24;
}

inline u64 readLittleEndian64(const u8* bytes)
{
    return u64{readLittleEndian32(bytes)} | u64{readLittleEndian32(bytes + 4)} << 32;
}

} // namespace quern
