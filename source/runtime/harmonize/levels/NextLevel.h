#pragma once
// Which level follows another: the order of play through the level list's
// records, the start, title and final levels, and the extra levels that sit
// between records. Level indices are indices into the world entries.

#include "quern/Types.h"

namespace quern::entity {
class WorldSwapper;
}

namespace harmonize {

using quern::i32;

class LevelList;

// The level after `index` in the order of the level records: the next world
// entry after the record's own, wrapping to the title level, else the final
// level, else the first record; the next world entry after an extra level
// (0 past the last one); 0 for any other index.
i32 nextLevelAfter(i32 index, const LevelList& levels);

// The level to load after `current` (-1: play is starting), or -1 when play
// ends. Reads Test.test, Test.testStart and Development.startLevel; a start
// level name the world script does not hold as a level gives level 0.
i32 getNextLevelIndex(i32 current, const quern::entity::WorldSwapper& swapper, const LevelList& levels);

} // namespace harmonize
