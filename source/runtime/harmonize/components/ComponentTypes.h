#pragma once
// The game's component types: their numbers and stored sizes, the masks with
// which the game systems pick their entities, race opposition and the small set
// of entity-handle tests the gameplay rules share.
//
// Level files and world snapshots hold component records raw, so the numbering
// and the sizes below are a stored format: a world whose model differs is not
// this game's.

#include "quern/Types.h"
#include "quern/entity/ComponentMask.h"
#include "quern/entity/EntityHandle.h"

#include <initializer_list>

namespace quern::entity {
class World;
}

namespace harmonize {

using quern::f32;
using quern::f64;
using quern::i32;
using quern::i64;
using quern::u16;
using quern::u32;
using quern::u64;
using quern::u8;
using quern::entity::ComponentMask;
using quern::entity::EntityHandle;

inline constexpr u32 kComponentTypeCount = 110;

// Stored size in bytes of every component type, by type number.
inline constexpr u16 ComponentSizeTable[kComponentTypeCount] = {
    756,
    36,
    24,
    40,
    24,
    28,
    16,
    8,
    32,
    68,
    8,
    8,
    1,
    1,
    192,
    76,
    28,
    36,
    24,
    316,
    16,
    64,
    100,
    44,
    12,
    8,
    80,
    88,
    224,
    32,
    28,
    56,
    96,
    36,
    20,
    8,
    60,
    16,
    28,
    8,
    4,
    688,
    12,
    116,
    4,
    40,
    12,
    1,
    1,
    8,
    8,
    8,
    1,
    12,
    12,
    1,
    20,
    24,
    300,
    8,
    32,
    40,
    1,
    4,
    1,
    4,
    20,
    52,
    20,
    16,
    52,
    8,
    4,
    8,
    84,
    20,
    140,
    28,
    32,
    20,
    44,
    24,
    12,
    8,
    8,
    8,
    1,
    8,
    1,
    12,
    4,
    20,
    60,
    68,
    1,
    68,
    24,
    1,
    16,
    148,
    68,
    84,
    12,
    16,
    8,
    12,
    4,
    68,
    40,
    40,
};

// The name a level source and the world model give each type: the record's
// struct name, or "Component" and the number for types the game carries by
// size alone.
extern const char* const kComponentNames[kComponentTypeCount];

// The type number of `name`, or -1.
i32 findComponentType(const char* name);

// True when a world's component model is exactly this game's: 110 types with
// these sizes in this order.
bool matchesComponentSizeTable(const u16* sizes, u64 typeCount);
bool matchesComponentSizeTable(const quern::entity::World& world);

constexpr ComponentMask makeComponentMask(std::initializer_list<u32> types)
{
    ComponentMask mask;
    for (u32 type : types)
        mask.set(type);
    return mask;
}

// The masks the game systems test (set & mask == mask).
// A record-less marker type: the player's cluster contacts and water jets
// pass through the entities that carry it enabled.
inline constexpr u8 kPassThroughMarkerType = 82;

inline constexpr ComponentMask kPlayerMask = makeComponentMask({ 5, 18, 23, 28, 41, 90 });
inline constexpr ComponentMask kGameCameraMask = makeComponentMask({ 3, 23, 36 });
inline constexpr ComponentMask kFollowCameraMask = makeComponentMask({ 3, 23, 99 });
inline constexpr ComponentMask kPlatformMask = makeComponentMask({ 5, 23, 53, 90, 93, 101 });
inline constexpr ComponentMask kSnapboxClusterMask = makeComponentMask({ 5, 23, 90, 93, 101 });
inline constexpr ComponentMask kMovingPlatformMask = makeComponentMask({ 5, 23, 80, 90, 93, 101 });
inline constexpr ComponentMask kClusterContactMask = makeComponentMask({ 5, 23, 101 });
inline constexpr ComponentMask kDeathTriggerMask = makeComponentMask({ 5, 23, 48, 90 });
inline constexpr ComponentMask kGravityZoneMask = makeComponentMask({ 5, 23, 61 });
inline constexpr ComponentMask kPushPadMask = makeComponentMask({ 5, 23, 66, 90 });
inline constexpr ComponentMask kParticleEmitterMask = makeComponentMask({ 15, 16, 17, 23 });
// The render system's three entity kinds: cutscene triggers with type 62, snap
// boxes, and type 19.
inline constexpr ComponentMask kRenderMasks[3]
    = { makeComponentMask({ 45, 62 }), makeComponentMask({ 100 }), makeComponentMask({ 19 }) };
inline constexpr ComponentMask kTransformSnapboxMask = makeComponentMask({ 23, 100 });

// The three sounds of the level-end tally.
inline constexpr u64 kTallySoundIds[3] = { 0xb7c04f11ea017246ull, 0x4f4e5e5ed49d5154ull, 0xbcf541ae1aa35668ull };

// Races 0 and 2 oppose each other, in either order; race 1 opposes nothing.
constexpr bool racesOppose(i32 a, i32 b) { return (a == 0 && b == 2) || (a == 2 && b == 0); }

// Handle tests. A handle names no entity when its index is 0xffff or its
// generation is 0, whatever its other half holds.
constexpr bool isSomeEntity(EntityHandle handle)
{
    return handle.index() != EntityHandle::kNoIndex && handle.generation() != 0;
}
// Names an existing slot of the world with the slot's current generation.
bool isValidEntity(const quern::entity::World& world, EntityHandle handle);
// Valid and the slot is in use.
bool isAliveEntity(const quern::entity::World& world, EntityHandle handle);
// Alive and active.
bool isActiveEntity(const quern::entity::World& world, EntityHandle handle);

// The entity has every component of the player mask.
bool isPlayerEntity(quern::entity::World& world, EntityHandle handle);

} // namespace harmonize
