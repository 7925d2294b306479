#pragma once
// Sky flashes. A lightning entity drifts to random places around a reference
// entity (or a random camera), gets a chance to flash each time it moves (its
// renderer and light switch on while a thunder sound plays), and scrolls its
// texture. Each lightning runs as two fixed-tick coroutines, and every flash
// as one more.
//
// Two random generators serve every lightning of the process, whatever its
// world: one places the flashes, seeded from the calendar on first use, the
// other decides and times them, seeded with 42 on first use.
#include "harmonize/components/Components.h"

namespace quern::entity {
class World;
}

namespace harmonize {

struct AppContext;

// Hides a disabled lightning's renderer, then starts its scroll and placement
// coroutines (none without a coroutine system). The entity must have a
// Lightning.
void startLightning(quern::entity::World& world, EntityHandle entity, AppContext& context);

// A flash chance of `percent` flashes for the random number r in [0, 1].
bool isLightningFlash(f32 percent, f32 r);

// The enabled entity with a component of `type` that the random number picks
// among all of them in index order; none when no entity has one.
EntityHandle pickEnabledEntity(quern::entity::World& world, u8 type, u64 random);

// Both generators seed themselves afresh on their next use.
void resetLightningRandom();

} // namespace harmonize
