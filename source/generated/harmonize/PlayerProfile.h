#pragma once
// The player's statistics and achievements, held process-wide, read from the
// platform once it answers and reported to it as the game raises statistics.
// Counters are plain values with no lock: world systems and the main thread
// never change them at the same time.

#include "harmonize/PlayerProfileTable.h"

namespace harmonize {

class PlatformServices;

namespace PlayerProfile {

// Every counter and flag to 0 and the statistics no longer received (a new login).
void clear();

// Reads the achievement flags and the statistics from the platform.
void load(PlatformServices& platform);

// The counter of a statistic; an index outside 0..kStatCount-1 is fatal ("Invalid stat").
u32* statCounter(i32 index);

// Reports the progress of every achievement the statistic feeds that is not
// unlocked yet, in the table's order, as (name, value, target).
void updateAchievements(PlatformServices& platform, i32 index, u32 value);

// Raises a statistic (wrapping at 32 bits), reports the achievement progress and,
// once the statistics were received, stores the new value on the platform.
void addToStat(PlatformServices& platform, i32 index, u32 amount);
// The same through the platform services when there are any; without them (a
// world a test or tool built) only the counter rises.
void addToStat(PlatformServices* platform, i32 index, u32 amount);

} // namespace PlayerProfile

} // namespace harmonize
