#pragma once
// The rules the dispatcher runs for one event, by type, in their fixed order.
// Internal to the event library: systems push events and call
// dispatchGameEvents.

#include "harmonize/events/GameEvents.h"

namespace harmonize {

// An event's payload as the dispatcher copies it out of its record.
union GameEventPayload {
    PairEvent pair;
    PlayerEvent player;
    RaceChangedEvent race;
};

// Runs the rules of `type`, which must be one of GameEventType's values.
void runGameEventRules(
    GameEventType type, const GameEventPayload& payload, quern::entity::World& world, AppContext& context);

} // namespace harmonize
