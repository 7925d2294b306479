#pragma once
// How a moving platform that waits for the player gets going: the contact rule
// of a trigger entered by the player. Standing on such a platform starts it
// the same way (PlatformReactionExt).
#include "harmonize/events/GameEvents.h"

namespace harmonize {

struct AppContext;

// A pair of a MovingPlatform and a PlayerMovement, in either order: the
// platform's start-on-touch rule with that player. Nothing without an
// animation system.
void onMovingPlatformTouched(const PairEvent& pair, quern::entity::World& world, AppContext& context);

} // namespace harmonize
