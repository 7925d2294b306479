// A sound library asset on arbitrary bytes: the chunk header decides how much
// of it is the blob, and a blob the library view accepts must be safe to pick
// from and weigh.

#include "FuzzSupport.h"

#include "harmonize/systems/SoundLibraryChunk.h"
#include "quern/audio/AudioLibrary.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    u8 header[harmonize::SoundLibraryChunk::kHeaderSize] = {};
    std::memcpy(header, data, size < sizeof header ? size : sizeof header);
    const harmonize::SoundLibraryChunk chunk = harmonize::readSoundLibraryChunk(header, size);
    if (chunk.error)
        return 0;
    memory::Allocator& allocator = *memory::getDefaultAllocator();
    void* blob = allocator.allocate(chunk.blobSize ? chunk.blobSize : 1, 16);
    std::memcpy(blob, data + harmonize::SoundLibraryChunk::kHeaderSize, chunk.blobSize);
    audio::AudioLibrary library;
    fuzz::runGuarded([&] {
        library.setData(blob, chunk.blobSize, &allocator);
        std::vector<u32> lastPicked(library.soundCount(), 0);
        audio::PickState state;
        state.lastPicked = lastPicked.data();
        for (u64 s = 0; s < library.soundCount(); ++s) {
            if (const audio::SoundComponent* component = library.pickComponent(s, state))
                (void)library.getGain(*component);
        }
    });
    if (library.blob() != blob)
        allocator.free(blob);
    return 0;
}
