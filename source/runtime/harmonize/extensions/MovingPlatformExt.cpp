#include "harmonize/extensions/MovingPlatformExt.h"

#include "harmonize/events/FindPair.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"

#include "quern/entity/World.h"

namespace harmonize {

using quern::entity::World;

namespace {

// The entity whose MovingPlatform record this is, with its slot's generation.
EntityHandle entityOfPlatform(World& world, const MovingPlatform& platform)
{
    const quern::u8* base = world.store + world.componentOffsets[MovingPlatform::kType];
    const u64 index = static_cast<u64>(reinterpret_cast<const quern::u8*>(&platform) - base) / sizeof(MovingPlatform);
    return EntityHandle::make(static_cast<u16>(index), world.getGeneration(index));
}

} // namespace

void MovingPlatform::startOnTouch(MovingPlatform& platform, World& world, AnimationSystem& animation, const PlayerView& player)
{
    if (platform.autoplay != 0 || platform.started != 0)
        return;
    const EntityHandle entity = entityOfPlatform(world, platform);
    const Race* race = componentOf<Race>(world, entity);
    if (race && player.race && racesOppose(race->value, player.race->value))
        return;
    // A platform without an Animation has nothing to play, but counts as
    // started all the same.
    if (const Animation* clips = componentOf<Animation>(world, entity))
        animation.play(entity, clips->defaultClip, 0.0f);
    platform.started = 1;
}

void onMovingPlatformTouched(const PairEvent& pair, World& world, AppContext& context)
{
    u32 platform = 0;
    u32 player = 0;
    if (!context.animation || !orderPair<MovingPlatform, PlayerMovement>(world, pair, platform, player))
        return;
    MovingPlatform::startOnTouch(*componentOf<MovingPlatform>(world, EntityHandle { platform }), world,
        *context.animation, playerViewAt(world, EntityHandle { player }.index()));
}

} // namespace harmonize
