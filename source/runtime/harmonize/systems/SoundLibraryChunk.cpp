#include "harmonize/systems/SoundLibraryChunk.h"

#include "quern/LittleEndian.h"

namespace harmonize {

SoundLibraryChunk readSoundLibraryChunk(const quern::u8* header, quern::u64 assetSize)
{
    SoundLibraryChunk chunk;
    if (assetSize < SoundLibraryChunk::kHeaderSize) {
        chunk.error = "shorter than its chunk header";
        return chunk;
    }
    if (quern::readLittleEndian64(header) != 0) {
        chunk.error = "the chunk is not of type 0";
        return chunk;
    }
    chunk.blobSize = quern::readLittleEndian32(header + 8);
    if (chunk.blobSize > assetSize - SoundLibraryChunk::kHeaderSize)
        chunk.error = "the byte count runs past the end of the asset";
    return chunk;
}

} // namespace harmonize
