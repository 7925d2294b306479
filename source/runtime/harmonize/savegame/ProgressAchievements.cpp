#include "harmonize/savegame/ProgressAchievements.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/platform/PlatformServices.h"
#include "harmonize/savegame/Savegame.h"

namespace harmonize {

const ProgressWorld kProgressWorlds[kProgressWorldCount] = {
    { kAchievementCompleteSubs, kAchievementDontdieSubs, kAchievementCollectiblesSubs, kStatSubsNotDied,
        kStatSubsAllSaved },
    { kAchievementCompleteCity, kAchievementDontdieCity, kAchievementCollectiblesCity, kStatCityNotDied,
        kStatCityAllSaved },
    { kAchievementCompleteMixed, kAchievementDontdieMixed, kAchievementCollectiblesMixed,
        kStatMixedNotDied, kStatMixedAllSaved },
    { kAchievementCompleteFactory, kAchievementDontdieFactory, kAchievementCollectiblesFactory,
        kStatFactoryNotDied, kStatFactoryAllSaved },
    { kAchievementCompleteHairy, kAchievementDontdieHairy, kAchievementCollectiblesHairy,
        kStatHairyNotDied, kStatHairyAllSaved },
    { kAchievementCompleteWar, kAchievementDontdieWar, kAchievementCollectiblesWar, kStatWarNotDied,
        kStatWarAllSaved },
    { kAchievementCompleteMachine, kAchievementDontdieMachine, kAchievementCollectiblesMachine,
        kStatMachineNotDied, kStatMachineAllSaved },
};

namespace {

constexpr u8 kNoDeathScore = 255;

struct WorldTally {
    bool present = false;
    bool allCompleted = true;
    bool allNotDied = true;
    bool allSaved = true;
    u32 notDied = 0;
    u32 saved = 0;
};

struct GameTally {
    u32 complete = 0;
    u32 notDied = 0;
    u32 saved = 0;
    u32 collected = 0;
};

// The low nibble is the best count saved; the high one is 15 less the count
// there was to save at the last finish.
bool savedEverything(u8 nibbles) { return (nibbles & 0x0F) >= 15 - (nibbles >> 4); }

void tally(const ProgressRecord& record, const LevelList& levels, WorldTally* worlds, GameTally& game)
{
    for (i32 i = 0; i < levels.levelRecordCount(); ++i) {
        const u8* level = levels.levelRecord(i);
        const i32 number = LevelList::recordChapter(level);
        if (number < 0 || number >= kProgressWorldCount)
            continue;
        WorldTally& world = worlds[number];
        const i32 slot = findLevelSlot(record, static_cast<u32>(LevelList::recordLevelId(level)));
        if (slot < 0) {
            world.allCompleted = world.allNotDied = world.allSaved = false;
            continue;
        }
        world.present = true;
        if (record.completions[slot] != 0)
            ++game.complete;
        else
            world.allCompleted = false;
        if (record.deathScore[slot] == kNoDeathScore) {
            ++game.notDied;
            ++world.notDied;
        } else {
            world.allNotDied = false;
        }
        if (savedEverything(record.savedNibbles[slot])) {
            ++game.saved;
            ++world.saved;
        } else {
            world.allSaved = false;
        }
        game.collected += record.collected[slot];
    }
}

void unlock(PlatformServices& platform, PlayerAchievement achievement)
{
    if (PlayerProfile::statsReceived)
        platform.unlockAchievement(kAchievementNames[achievement], 1, 1);
}

void setStat(PlatformServices& platform, PlayerStat stat, u32 value)
{
    if (PlayerProfile::statsReceived) {
        PlayerProfile::updateAchievements(platform, stat, value);
        platform.storeStatistic(kStatNames[stat], value);
    }
    *PlayerProfile::statCounter(stat) = value;
}

void setStatWhenChanged(PlatformServices& platform, PlayerStat stat, u32 value)
{
    if (*PlayerProfile::statCounter(stat) != value)
        setStat(platform, stat, value);
}

void raiseStat(PlatformServices& platform, PlayerStat stat, u32 value)
{
    if (value > *PlayerProfile::statCounter(stat))
        setStat(platform, stat, value);
}

} // namespace

void evaluateProgressAchievements(const ProgressRecord& record, const LevelList& levels, PlatformServices& platform)
{
    WorldTally worlds[kProgressWorldCount];
    GameTally game;
    tally(record, levels, worlds, game);

    bool everyComplete = true;
    bool everyNotDied = true;
    bool everySaved = true;
    for (i32 number = 0; number < kProgressWorldCount; ++number) {
        const WorldTally& world = worlds[number];
        const ProgressWorld& row = kProgressWorlds[number];
        if (!world.present) {
            everyComplete = everyNotDied = everySaved = false;
            continue;
        }
        if (world.allCompleted)
            unlock(platform, row.complete);
        else
            everyComplete = false;
        if (world.allNotDied)
            unlock(platform, row.notDied);
        else
            everyNotDied = false;
        if (world.allSaved)
            unlock(platform, row.allSaved);
        else
            everySaved = false;
        setStatWhenChanged(platform, row.notDiedStat, world.notDied);
        setStatWhenChanged(platform, row.allSavedStat, world.saved);
    }

    if (everyComplete)
        unlock(platform, kAchievementCompleteGame);
    if (everyNotDied)
        unlock(platform, kAchievementNotDied);
    if (everySaved)
        unlock(platform, kAchievementNotSaved);

    raiseStat(platform, kStatCollectibles, game.collected);
    raiseStat(platform, kStatLevelsCompleted, game.complete);
    raiseStat(platform, kStatLevelsAllSaved, game.saved);
    raiseStat(platform, kStatLevelsNotDied, game.notDied);

    // A finished level is when the statistics set so far reach the platform.
    if (PlayerProfile::statsReceived)
        platform.storeStatistics();
}

} // namespace harmonize
