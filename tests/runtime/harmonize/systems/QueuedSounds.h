#pragma once
// What a sound system left queued: tests whose sound system does not tick
// read the requests gameplay made, in order.

#include "harmonize/systems/SoundSystem.h"

#include <vector>

namespace harmonize::testing {

inline std::vector<u64> queuedSoundIds(const SoundSystem& sound)
{
    std::vector<u64> ids;
    for (u64 i = 0; i < sound.requestCount(); ++i)
        ids.push_back(sound.request(i).soundId);
    return ids;
}

} // namespace harmonize::testing
