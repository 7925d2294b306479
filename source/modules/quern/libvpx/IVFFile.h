#pragma once
// The IVF container as the video decoder reads it: a 32-byte file header that
// opens with "DKIF", then frames, each a 12-byte header {u32 size, u64 time
// stamp} followed by that many bytes of VP8 data. Little endian throughout.

#include "quern/Types.h"

#include <string>

namespace quern::libvpx {

inline constexpr u64 kIVFHeaderBytes = 32;
inline constexpr u64 kIVFFrameHeaderBytes = 12;

struct IVFFrameHeader {
    u32 frameSize = 0;
    u64 timeStamp = 0;
};

// The first four bytes are "DKIF" (`count` is how many were read).
bool hasIVFMagic(const u8* bytes, u64 count);

// The fields of one 12-byte frame header.
IVFFrameHeader readIVFFrameHeader(const u8* bytes);

// What the content tool asks of a video: false, with the reason, unless the
// bytes hold a whole IVF header, at least one frame, every frame header and
// frame inside the file, and frames that libvpx's VP8 decoder takes.
bool checkIVFFile(const u8* data, u64 size, std::string& reason);

} // namespace quern::libvpx
