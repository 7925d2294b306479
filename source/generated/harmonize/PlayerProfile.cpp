#include "harmonize/PlayerProfile.h"

#include "harmonize/platform/PlatformServices.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace harmonize::PlayerProfile {

void clear()
{
    std::memset(stats, 0, sizeof stats);
    std::memset(achievements, 0, sizeof achievements);
    statsReceived = false;
}

void load(PlatformServices& platform)
{
    u8 flags[kAchievementCount] = {};
    platform.readAchievements(kAchievementNames, flags, kAchievementCount);
    std::memcpy(achievements, flags, sizeof achievements);

    u32 values[kStatCount] = {};
    platform.readStatistics(kStatNames, values, kStatCount);
    statsReceived = true;
    std::memcpy(stats, values, sizeof stats);
}

u32* statCounter(i32 index)
{
    // Negative indices are as wrong as large ones: both would touch memory
    // outside the counters.
    if (index < 0 || index >= kStatCount)
        QUERN_FATAL("Invalid stat");
    return &stats[index];
}

void updateAchievements(PlatformServices& platform, i32 index, u32 value)
{
    statCounter(index);
    const StatFeeds& fed = kStatFeeds[index];
    for (u32 i = fed.first; i < u32(fed.first) + fed.count; ++i) {
        const AchievementFeed& feed = kAchievementFeeds[i];
        if (achievements[feed.achievement] == 0)
            platform.unlockAchievement(kAchievementNames[feed.achievement], value, feed.target);
    }
}

void addToStat(PlatformServices& platform, i32 index, u32 amount)
{
    u32* counter = statCounter(index);
    const u32 value = *counter + amount;
    updateAchievements(platform, index, value);
    if (statsReceived)
        platform.storeStatistic(kStatNames[index], value);
    *counter = value;
}

void addToStat(PlatformServices* platform, i32 index, u32 amount)
{
    if (platform)
        addToStat(*platform, index, amount);
    else
        *statCounter(index) += amount;
}

} // namespace harmonize::PlayerProfile
