#pragma once
// After each recorded finish the progress is measured per world and over the
// whole game and turned into the player profile's level statistics and the
// achievements they feed. Counters always change; the platform hears of it
// only once the statistics were received from it.

#include "harmonize/PlayerProfileTable.h"

namespace harmonize {

class LevelList;
class PlatformServices;
struct ProgressRecord;

// A world of levels (the world number of a level record) and what it earns.
struct ProgressWorld {
    PlayerAchievement complete;
    PlayerAchievement notDied;
    PlayerAchievement allSaved;
    PlayerStat notDiedStat;
    PlayerStat allSavedStat;
};

inline constexpr i32 kProgressWorldCount = 7;
extern const ProgressWorld kProgressWorlds[kProgressWorldCount];

// Levels of worlds outside the table count for nothing.
void evaluateProgressAchievements(const ProgressRecord& record, const LevelList& levels, PlatformServices& platform);

} // namespace harmonize
