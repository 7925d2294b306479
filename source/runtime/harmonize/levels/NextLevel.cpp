#include "harmonize/levels/NextLevel.h"

#include "harmonize/SettingsTable.h"
#include "harmonize/levels/LevelList.h"

#include "quern/entity/WorldSwapper.h"

namespace harmonize {
namespace {

bool isReference(const u8* reference, i32 index)
{
    return reference && LevelList::referenceLevelIndex(reference) == index;
}

// The level after `current` when nothing names one.
i32 followingLevel(i32 current, const LevelList& levels)
{
    if (levels.levelRecordCount() > 0)
        return LevelList::recordWorldEntryIndex(levels.levelRecord(0));
    if (current < levels.worldEntryCount() - 1)
        return current + 1;
    return nextLevelAfter(current, levels);
}

i32 firstLevel(const quern::entity::WorldSwapper& swapper, const LevelList& levels)
{
    const char* name = Settings::Development.startLevel;
    if (name && name[0]) {
        // The script's last entry is the level list itself, not a level.
        const i32 found = swapper.findLevel(name);
        return found >= 0 && found < levels.worldEntryCount() ? found : 0;
    }
    const u8* start = levels.startLevel();
    return start ? LevelList::referenceLevelIndex(start) : 0;
}

} // namespace

i32 nextLevelAfter(i32 index, const LevelList& levels)
{
    const i32 count = levels.worldEntryCount();
    if (const u8* record = levels.findLevelOfIndex(index)) {
        const i32 next = LevelList::recordWorldEntryIndex(record) + 1;
        if (next < count)
            return next;
        if (const u8* title = levels.titleLevel())
            return LevelList::referenceLevelIndex(title);
        if (const u8* final = levels.finalLevel())
            return LevelList::referenceLevelIndex(final);
        return LevelList::recordWorldEntryIndex(levels.levelRecord(0));
    }
    if (levels.findExtraEntry(index))
        return index < count - 1 ? index + 1 : 0;
    return 0;
}

i32 getNextLevelIndex(i32 current, const quern::entity::WorldSwapper& swapper, const LevelList& levels)
{
    const i32 count = levels.worldEntryCount();
    if (Settings::Test.test) {
        if (current < 0)
            return Settings::Test.testStart;
        return current < count - 1 ? current + 1 : -1;
    }
    if (current < 0)
        return firstLevel(swapper, levels);
    if (isReference(levels.startLevel(), current)) {
        if (const u8* title = levels.titleLevel())
            return LevelList::referenceLevelIndex(title);
        return followingLevel(current, levels);
    }
    if (isReference(levels.titleLevel(), current))
        return followingLevel(current, levels);
    if (isReference(levels.finalLevel(), current))
        return -1;
    return nextLevelAfter(current, levels);
}

} // namespace harmonize
