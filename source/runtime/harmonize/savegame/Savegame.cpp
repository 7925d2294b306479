#include "harmonize/savegame/Savegame.h"

#include "harmonize/SettingsTable.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/levels/NextLevel.h"
#include "harmonize/savegame/ProgressAchievements.h"
#include "harmonize/savegame/SavegameStorage.h"
#include "quern/LittleEndian.h"
#include "quern/debug/Log.h"
#include "quern/io/AsyncUserStorage.h"
#include "quern/platform/Clock.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace harmonize {

using quern::io::AsyncUserStorage;
using quern::io::UserStorageError;
using quern::io::UserStorageResult;

namespace {

constexpr u8 kMaxCompletions = 255;
constexpr i32 kMaxNibble = 15;

u32 slotIdOf(const u8* levelRecord) { return static_cast<u32>(LevelList::recordLevelId(levelRecord)); }

// The first slot from the id's home onwards that holds `key`, or -1. Every
// slot is probed: a lookup does not stop at an empty one.
i32 probeSlots(const ProgressRecord& record, u32 levelId, u32 key)
{
    for (i32 probe = 0; probe < kLevelSlotCount; ++probe) {
        const i32 slot = static_cast<i32>((levelId + static_cast<u32>(probe)) % kLevelSlotCount);
        if (record.levelIds[slot] == key)
            return slot;
    }
    return -1;
}

void recordResult(ProgressRecord& record, i32 slot, const LevelResult& result)
{
    if (record.completions[slot] < kMaxCompletions)
        ++record.completions[slot];

    // Counts come from game counters; out-of-range ones must not spill into
    // the neighbouring nibble or wrap a score.
    const i32 deaths = std::max(result.deaths, 0);
    const u8 deathScore = deaths < 255 ? static_cast<u8>(255 - deaths) : 0;
    record.deathScore[slot] = std::max(record.deathScore[slot], deathScore);

    const i32 notToSave = kMaxNibble - std::clamp(result.toSave, 0, kMaxNibble);
    const i32 saved = std::max<i32>(record.savedNibbles[slot] & 0x0F, std::clamp(result.saved, 0, kMaxNibble));
    record.savedNibbles[slot] = static_cast<u8>(notToSave << 4 | saved);

    record.collected[slot] = std::max(record.collected[slot], static_cast<u8>(result.collected));
}

void fatalWhenRefused(const UserStorageResult& result)
{
    if (result.code != UserStorageError::NoError)
        QUERN_FATAL(result.message);
}

} // namespace

i64 ProgressRecord::savedAt() const { return static_cast<i64>(quern::readLittleEndian64(savedAtBytes)); }

void ProgressRecord::setSavedAt(i64 seconds) { quern::writeLittleEndian64(savedAtBytes, static_cast<u64>(seconds)); }

void resetProgress(ProgressRecord& record)
{
    std::memset(&record, 0, sizeof record);
    record.version = kProgressVersion;
    record.setSavedAt(static_cast<i64>(quern::platform::getCalendarSeconds()));
}

i32 findLevelSlot(const ProgressRecord& record, u32 levelId)
{
    // 0 marks an empty slot, so it is never a level's key.
    return levelId == 0 ? -1 : probeSlots(record, levelId, levelId);
}

Savegame::Savegame()
    : status(SavegameStatus::NotRequested)
    , m_storage(std::make_unique<SavegameStorage>())
{
    reset();
}

Savegame::~Savegame() = default;

void Savegame::reset() { resetProgress(record); }

i32 Savegame::findSlot(u32 levelId) const { return findLevelSlot(record, levelId); }

void Savegame::load(AsyncUserStorage& storage, AppEventQueue& queue)
{
    if (Settings::Development.resetProgress) {
        reset();
        const UserStorageResult removed = storage.requestRemove(kSavegameFileName, nullptr);
        if (removed.code != UserStorageError::NoError)
            QUERN_LOG(1) << "Savegame not removed: " << removed.message << std::endl;
        status = SavegameStatus::None;
        return;
    }
    fatalWhenRefused(m_storage->requestSize(storage, queue));
    status = SavegameStatus::SizeRequested;
}

void Savegame::onStorageEvent(AppEventType type, AsyncUserStorage& storage, AppEventQueue& queue)
{
    switch (type) {
    case AppEventType::SavegameFound:
        fatalWhenRefused(m_storage->requestRead(storage, queue));
        status = SavegameStatus::Reading;
        break;
    case AppEventType::SavegameMissing:
        status = SavegameStatus::None;
        break;
    case AppEventType::SavegameLoaded:
        m_storage->takeLoaded(record);
        status = SavegameStatus::Loaded;
        break;
    case AppEventType::SavegameStored:
        status = SavegameStatus::Loaded;
        break;
    default:
        break;
    }
}

void Savegame::onStorageFailure(AppEventType type)
{
    // Marking the progress as absent after a failed write would lock every
    // level the player has finished.
    if (type == AppEventType::SavegameStored)
        return;
    if (type == AppEventType::SavegameLoaded)
        reset();
    status = SavegameStatus::None;
}

void Savegame::handleStorageResult(AppEventType type, const SavegameResultEvent& result,
    quern::io::AsyncUserStorage& storage, AppEventQueue& queue, const LevelList& levels)
{
    if (result.succeeded) {
        onStorageEvent(type, storage, queue);
    } else {
        QUERN_LOG(1) << (result.errorText ? result.errorText : "Savegame request failed") << std::endl;
        onStorageFailure(type);
    }
    if (status == SavegameStatus::None || status == SavegameStatus::Loaded)
        refreshLevelTable(levels);
}

void Savegame::refreshLevelTable(const LevelList& levels)
{
    for (i32 i = 0; i < levels.levelRecordCount(); ++i) {
        const u32 id = slotIdOf(levels.levelRecord(i));
        if (id == 0 || findSlot(id) >= 0)
            continue;
        const i32 slot = probeSlots(record, id, 0);
        if (slot < 0)
            continue;
        record.levelIds[slot] = id;
        record.completions[slot] = 0;
        record.deathScore[slot] = 0;
        record.savedNibbles[slot] = 0;
        record.collected[slot] = 0;
    }
}

bool Savegame::isLevelUnlocked(const u8* levelRecord) const
{
    if (Settings::Development.unlockLevels)
        return true;
    if (status == SavegameStatus::NotRequested || status == SavegameStatus::SizeRequested
        || status == SavegameStatus::None)
        return false;
    const i32 slot = findSlot(slotIdOf(levelRecord));
    if (slot < 0) {
        quern::debug::softAssert(LevelList::recordName(levelRecord), "", __FILE__, __LINE__);
        return false;
    }
    return record.completions[slot] != 0;
}

void Savegame::onLevelFinished(i32 finished, i32 next, const LevelResult& result, const LevelList& levels,
    PlatformServices& platform, AsyncUserStorage& storage, AppEventQueue& queue)
{
    if (levels.findExtraEntry(next))
        next = nextLevelAfter(next, levels);
    const u8* finishedRecord = levels.findLevelOfIndex(finished);
    if (!finishedRecord)
        return;
    // After the final level there is nothing to continue with, but its finish
    // still counts.
    const u8* nextRecord = levels.findLevelOfIndex(next);

    refreshLevelTable(levels);
    record.nextLevelId = nextRecord ? LevelList::recordLevelId(nextRecord) : 0;
    record.lastLevelId = LevelList::recordLevelId(finishedRecord);
    const i32 slot = findSlot(slotIdOf(finishedRecord));
    if (slot >= 0) {
        recordResult(record, slot, result);
        if (status != SavegameStatus::None)
            evaluateProgressAchievements(record, levels, platform);
    }

    record.version = kProgressVersion;
    record.setSavedAt(static_cast<i64>(quern::platform::getCalendarSeconds()));
    SavegameStorage::requestWrite(storage, queue, record);
}

const u8* Savegame::findLastLevel(const LevelList& levels) const
{
    if (record.lastLevelId == 0)
        return nullptr;
    for (i32 i = 0; i < levels.levelRecordCount(); ++i)
        if (LevelList::recordLevelId(levels.levelRecord(i)) == record.lastLevelId)
            return levels.levelRecord(i);
    return nullptr;
}

} // namespace harmonize
