// The sound-library view on arbitrary bytes: a blob the check accepts must be
// safe to pick from, weigh and attenuate with for every sound and group.

#include "FuzzSupport.h"

#include "quern/audio/AudioLibrary.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    memory::Allocator& allocator = *memory::getDefaultAllocator();
    void* blob = allocator.allocate(size ? size : 1, 8);
    std::memcpy(blob, data, size);
    audio::AudioLibrary library;
    fuzz::runGuarded([&] {
        library.setData(blob, size, &allocator);
        std::vector<u32> lastPicked(library.soundCount(), 0);
        audio::PickState state;
        state.lastPicked = lastPicked.data();
        for (int round = 0; round < 3; ++round) {
            for (u64 s = 0; s < library.soundCount(); ++s) {
                const audio::SoundComponent* component = library.pickComponent(s, state);
                if (component)
                    (void)library.getGain(*component);
            }
        }
        for (u64 g = 0; g < library.groupCount(); ++g) {
            for (f32 distance : { 0.0f, 0.5f, 3.0f, 1e30f })
                (void)library.groups()[g].attenuation(distance, 4.0f);
        }
    });
    // A rejected blob was never taken over.
    if (library.blob() != blob)
        allocator.free(blob);
    return 0;
}
