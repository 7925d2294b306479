#pragma once
// Reading a level: one serialized world (its component model, the entities
// with names, enabled masks and component values, the level's texts and the
// asset ids of its translation catalogues) into a cleared World.
//
// The file, as POD-token items:
//   unnamed chunk {
//     model header chunk (readWorldModel)
//     u32 entity count E
//     E chunks: an "entity" chunk holds the name, the enabled mask as two u64,
//       u32 component count and per component a type byte and its value record
//     string-table chunk: the level's texts
//     9 x u64: translation catalogue asset ids, one per language slot
//   }

#include "quern/Types.h"

namespace quern {
class ByteSource;
}
namespace quern::memory {
class Allocator;
}
namespace quern::serialize {
class PODToken;
}

namespace quern::entity {

class World;

// Reads one level into `world`. When the world has no store yet, one is made
// for the file's component types with room for the file's entities plus
// `extraCapacity`, from `allocator` (null: the default allocator); otherwise
// the entities are added to the existing store. The world is not started: its
// new entities stay Created.
//
// A bad file is fatal with a message naming `fileName` (may be null): more
// than 128 component types, a component type index outside the model or the
// world, a component that does not fit the world's size for its type, more
// entities than a world can address.
void loadWorld(ByteSource& source, serialize::PODToken& token, World& world, u64 extraCapacity,
    memory::Allocator* allocator, const char* fileName = nullptr);

} // namespace quern::entity
