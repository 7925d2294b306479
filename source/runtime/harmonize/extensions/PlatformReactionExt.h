#pragma once
// What the platform cluster under the player does: a crumbling platform gives
// way after its warning delay, a detonator platform of the opposite race blows
// up and destroys its target, a platform of the opposite race (or a neutral
// one) hides and lets the player fall, and a moving platform starts when
// touched. Hiding runs the platform system's hide/show sequence, moving the
// moving platform's start-on-touch rule.
#include "harmonize/extensions/PlayerView.h"

namespace harmonize {

struct AppContext;

// Runs whenever the player stands on `cluster`: the player tick and the
// player's state reactions call it, so it may run several times a tick.
void reactToPlatformUnderPlayer(
    quern::entity::World& world, AppContext& context, const PlayerView& player, EntityHandle cluster);

} // namespace harmonize
