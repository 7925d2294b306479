#pragma once
// Frame animations show named states ("spike", "idle", "saved" ...): each of
// their six slots pairs a name key with a value, and selecting a name shows
// its value. An entity with a RaceLook shows its race this way.
#include "harmonize/components/Components.h"

namespace quern::entity {
class World;
}

namespace harmonize {

// The key of a name as the world's texts key it: MurmurHash64A with the
// seed of the world's string interner (the default seed without one).
u64 worldTextKey(const quern::entity::World& world, const char* name);

// Selects the state whose key is the name's: its value becomes the selected
// value, and a value that changed restarts the animation at frame 0. A name
// no slot holds changes nothing; returns whether one did.
bool selectFrameAnimationState(FrameAnimation& animation, const char* name, const quern::entity::World& world);

// The race as the look's frame animation shows it: race 2 "spike", race 0
// "hairy"; any other race, or a look whose entity has no frame animation,
// changes nothing.
void applyRaceLook(const RaceLook& look, i32 race, quern::entity::World& world);

} // namespace harmonize
