#include "harmonize/extensions/MovingPlatformExt.h"

#include "harmonize/events/FindPair.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"

#include "quern/entity/World.h"

namespace harmonize {

using quern::entity::World;

void MovingPlatform::startOnTouch(EntityHandle entity, World& world, AnimationSystem& animation, const PlayerView& player)
{
    MovingPlatform* record = componentOf<MovingPlatform>(world, entity);
    if (!record)
        return;
    MovingPlatform& platform = *record;
    if (platform.autoplay != 0 || platform.started != 0)
        return;
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
    MovingPlatform::startOnTouch(
        EntityHandle { platform }, world, *context.animation, playerViewAt(world, EntityHandle { player }.index()));
}

} // namespace harmonize
