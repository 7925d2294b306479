#pragma once
// A sound library asset: the library blob wrapped in one binary chunk of type
// 0, that is a u64 chunk id 0, a u32 byte count and that many bytes.

#include "quern/Types.h"

namespace harmonize {

struct SoundLibraryChunk {
    static constexpr quern::u64 kHeaderSize = 12;

    quern::u64 blobSize = 0;
    const char* error = nullptr; // why the asset is no library; null when it is
};

// Reads the header of an asset of `assetSize` bytes: the chunk id must be 0 and
// the blob must fit the rest of the asset.
SoundLibraryChunk readSoundLibraryChunk(const quern::u8* header, quern::u64 assetSize);

} // namespace harmonize
