#pragma once
// How the player dies and how breakable things break: the death sequence with
// its respawn request, the contact rule of death triggers and break-on-contact
// objects, and the effect that marks a change of the player's race.
#include "harmonize/events/GameEvents.h"
#include "harmonize/extensions/PlayerView.h"

namespace harmonize {

struct AppContext;
class CoroutineSystem;

// Starts the death sequence of `player` as a fixed-tick coroutine: in its
// first pass it counts the death, spawns the death effect where the player
// stands and destroys the player's subtree, then waits the player's
// deathDelay and respawnDelay and asks for the quick save to be restored.
// A player out of control (a cutscene) or out of movement input lives on.
// Nothing with the godMode setting on.
void killPlayer(quern::entity::World& world, EntityHandle player, CoroutineSystem& coroutines);

// A contact of the pair, in either order. A player touching a death trigger
// of another race dies; otherwise an object with BreakOnContact touching
// anything with a Collider breaks into its effect, unless that Collider is a
// trigger and the object ignores triggers.
void onDeathTriggerContact(quern::entity::World& world, AppContext& context, const PairEvent& pair);

// The player's harmonizeEffectPrefab, cloned as a child of the player at its
// origin, unturned and unscaled. Nothing when the prefab is no valid entity
// with a Transform.
void spawnHarmonizeEffect(quern::entity::World& world, const PlayerView& player);

} // namespace harmonize
