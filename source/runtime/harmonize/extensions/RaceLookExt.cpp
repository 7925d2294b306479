#include "harmonize/extensions/RaceLook.h"

#include "harmonize/extensions/PlayerView.h"

#include "quern/strings/Hashes.h"
#include "quern/strings/StringInterner.h"

#include <cstring>

namespace harmonize {

u64 worldTextKey(const quern::entity::World& world, const char* name)
{
    const u64 seed = world.texts ? world.texts->seed() : quern::strings::kInternerSeed;
    return quern::strings::murmurHash64A(name, std::strlen(name), seed);
}

bool selectFrameAnimationState(FrameAnimation& animation, const char* name, const quern::entity::World& world)
{
    const u64 key = worldTextKey(world, name);
    for (u64 slot = 0; slot < 6; ++slot) {
        if (animation.stateKeys[slot] != key)
            continue;
        const f32 value = animation.stateValues[slot];
        if (value != animation.currentValue)
            animation.currentFrame = 0;
        animation.currentValue = value;
        return true;
    }
    return false;
}

void applyRaceLook(const RaceLook& look, i32 race, quern::entity::World& world)
{
    const char* name = race == 2 ? "spike" : race == 0 ? "hairy" : nullptr;
    if (!name)
        return;
    // The look names its entity by index only; a level may name a slot that
    // holds no frame animation, or none at all.
    if (FrameAnimation* animation = componentOf<FrameAnimation>(world, look.frameAnimationEntity))
        selectFrameAnimationState(*animation, name, world);
}

} // namespace harmonize
