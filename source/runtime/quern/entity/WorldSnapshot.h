#pragma once
// A copy of a World's entity slots and component store taken at one moment, so
// the world can be put back exactly (replays, quick saves). Taken and restored
// through World::takeSnapshot and World::restoreSnapshot.
//
// The stream form (quick save), little-endian:
//   u32 slot count n, u64 store size b, b store bytes, n state bytes,
//   16 x n bytes of enabled masks.

#include "quern/Types.h"
#include "quern/entity/ComponentMask.h"
#include "quern/entity/EntityHandle.h"
#include "quern/strings/Format.h"

namespace quern {
class ByteSource;
}
namespace quern::memory {
class Allocator;
}

namespace quern::entity {

class World;

// An all-zero record is an empty snapshot.
struct WorldSnapshot {
    u8* store = nullptr;
    EntityState* states = nullptr;
    u16* generations = nullptr;
    ComponentMask* enabledMasks = nullptr;
    ComponentMask* componentMasks = nullptr;
    // The entities' names when taken (texts of that world's name interner,
    // so only that world restores them); a snapshot read from a stream has
    // none.
    const char** names = nullptr;
    World* world = nullptr;
    u64 slotCount = 0;
    u64 storeSize = 0;

    bool holdsStore() const { return store != nullptr; }
};

// Where two copies of an entity's components part: the component in the store,
// the matching bytes of the compared copy, the first differing byte within the
// component and its type. All zero when nothing differs.
struct ComponentDifference {
    void* component = nullptr;
    const void* data = nullptr;
    u32 byteIndex = 0;
    u8 type = 0;

    bool found() const { return component != nullptr; }
};

// World::takeSnapshot allocates the copies from its allocator argument (null:
// the default allocator); taking again into a snapshot that holds copies frees
// them through that same allocator, reusing the store copy when its size fits.

// Frees the copies through `allocator` (the one they were taken with) and
// zeroes the record. An empty snapshot is left as it is.
void release(WorldSnapshot& snapshot, memory::Allocator* allocator);

// Why the stream form at the source's position cannot belong to `world`: the
// world has no store, the stream has more slots than the world's capacity or
// another store size, it ends before its slot records do, or a slot has an
// unknown state or enables a component type the world doesn't have. Empty when
// the stream fits. Never fatal; the source's position is put back.
strings::format<128> findWorldSnapshotFault(ByteSource& source, const World& world);

// Reads the stream form at the source's position into `snapshot` for a restore
// into `world`; copies the snapshot held are released through `allocator`
// first. The stream carries neither generations nor component masks: they are
// rebuilt from `world` (an entity of the world that has every component the
// stream's entity enables is taken as the same one), from the stream's enabled
// masks for entities the world does not have, and empty for free slots. A
// stream with a fault (findWorldSnapshotFault) is fatal with "Invalid world
// snapshot: " and the reason.
void readWorldSnapshot(ByteSource& source, WorldSnapshot& snapshot, memory::Allocator* allocator, World& world);

} // namespace quern::entity
