#pragma once
// The quick save kept on disk between runs (a development aid): the level
// world's snapshot in its stream form, followed by the world asset of the
// level it was taken in, all little-endian and written in one piece:
//   u32 slot count N, u64 store size S, S store bytes, N state bytes,
//   16 x N bytes of enabled masks, u64 world asset id.
// The asset id is what tells a file of another level apart when the stores
// happen to have the same size.

#include "quern/Types.h"
#include "quern/strings/Format.h"

namespace quern {
class ByteSink;
}
namespace quern::entity {
class World;
struct WorldSnapshot;
} // namespace quern::entity
namespace quern::io {
class UserStorage;
}
namespace quern::memory {
class Allocator;
}

namespace harmonize {

using quern::u64;
using quern::u8;

// The bytes of the file besides the store and the slot records.
inline constexpr u64 kQuickSaveFixedBytes = 4 + 8 + 8;

void encodeQuickSave(const quern::entity::WorldSnapshot& snapshot, u64 levelAssetId, quern::ByteSink& sink);

// Writes the file through `files`; a failed write is logged at level 1 and
// gives false.
bool writeQuickSaveFile(const quern::entity::WorldSnapshot& snapshot, u64 levelAssetId, quern::io::UserStorage& files,
    const char* name);

enum class QuickSaveVerdict : u8 {
    Fits,
    OtherLevel, // whole, but taken in another level (or another store size)
    Damaged,
};

struct QuickSaveCheck {
    QuickSaveVerdict verdict = QuickSaveVerdict::Fits;
    quern::strings::format<128> reason; // for Damaged
};

// Whether the file's bytes can be restored into `world`, the world of the
// level `levelAssetId`. Reads nothing outside the bytes and is never fatal.
QuickSaveCheck checkQuickSave(const u8* bytes, u64 size, const quern::entity::World& world, u64 levelAssetId);

// Reads the bytes into `snapshot` (its copies from `allocator`) when they fit
// the world; otherwise logs at level 2 why they are discarded and leaves the
// snapshot as it was.
bool readQuickSave(const u8* bytes, u64 size, quern::entity::WorldSnapshot& snapshot,
    quern::memory::Allocator* allocator, quern::entity::World& world, u64 levelAssetId);

// The same from the file `name` of `files`. A missing or empty file gives
// false without a word.
bool readQuickSaveFile(quern::entity::WorldSnapshot& snapshot, quern::io::UserStorage& files, const char* name,
    quern::memory::Allocator* allocator, quern::entity::World& world, u64 levelAssetId);

} // namespace harmonize
