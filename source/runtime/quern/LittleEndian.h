#pragma once
// Little-endian fields of records read from files, taken byte by byte so no
// record is ever read by casting a struct over untrusted bytes; and written
// the same way by the tools that make such files.

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

// The low `byteCount` bytes of `value`, lowest first.
inline void writeLittleEndian(u8* bytes, u64 value, u32 byteCount)
{
    for (u32 i = 0; i < byteCount; ++i)
        bytes[i] = static_cast<u8>(value >> (8 * i));
}

inline void writeLittleEndian32(u8* bytes, u32 value) { writeLittleEndian(bytes, value, 4); }
inline void writeLittleEndian64(u8* bytes, u64 value) { writeLittleEndian(bytes, value, 8); }

} // namespace quern
