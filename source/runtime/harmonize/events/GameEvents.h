#pragma once
// What happens inside a level world's fixed tick, told to the game rules that
// react to it: contacts and trigger overlaps found by the collision system,
// and the player's state changes found by the movement system. Each of the
// two systems owns a queue of these records and drains it through
// dispatchGameEvents at the end of its own fixed tick.

#include "quern/Types.h"
#include "quern/containers/EventQueue.h"

namespace quern::entity {
class World;
}

namespace harmonize {

using quern::i32;
using quern::u16;
using quern::u32;
using quern::u8;

struct AppContext;

// A ring of records {u32 payload size; u16 type; payload at +8}, 4-byte aligned.
using GameEventQueue = quern::containers::EventQueue;

enum class GameEventType : u16 {
    ContactBegin = 0, // PairEvent: a solid pair starts touching
    ContactStay = 1, // it still touches
    ContactEnd = 2, // it stopped touching
    TriggerEnter = 3, // PairEvent: a pair with at least one trigger collider starts touching
    TriggerStay = 4,
    TriggerExit = 5,
    MovementStateChanged = 6, // PlayerEvent
    FacingChanged = 7, // PlayerEvent
    RaceChanged = 8, // RaceChangedEvent
};
inline constexpr u16 kGameEventTypeCount = 9;

// The two entity handles of a contact, in no particular order.
struct PairEvent {
    u32 entityA;
    u32 entityB;
};
static_assert(sizeof(PairEvent) == 8);

// A new movement state or facing code of the player.
struct PlayerEvent {
    i32 value;
    u32 player;
};
static_assert(sizeof(PlayerEvent) == 8);

struct RaceChangedEvent {
    i32 race;
    u32 player;
    u32 touchingTrigger; // 0 when none
};
static_assert(sizeof(RaceChangedEvent) == 12);

// Drains the queue oldest first, running every rule of each event's type in
// their fixed order; events pushed by the rules meanwhile are dispatched in
// the same drain. Each event is counted in the frame statistics. A type
// outside the enumeration is fatal ("Invalid event type").
void dispatchGameEvents(GameEventQueue& queue, quern::entity::World& world, AppContext& context);

// When entity A has a component of type A and entity B one of type B (by
// their component masks only: neither generations nor enabled bits are
// looked at), writes their records' addresses and returns true; otherwise
// writes nothing. Rules try (A, B), then (B, A).
bool findComponents(u8 typeA, u8 typeB, quern::entity::World& world, u32 entityA, u32 entityB, void** componentA,
    void** componentB);

} // namespace harmonize
