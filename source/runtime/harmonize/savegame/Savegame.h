#pragma once
// The player's progress: for every level how often it was finished and the
// best results, the last level finished and the one to continue with. It is
// kept in one fixed record and stored as the user file "default.save", read
// and written through the asynchronous user storage, whose answers come back
// to the main thread as savegame app events.

#include "harmonize/utils/AppEventType.h"
#include "quern/Types.h"

#include <cstddef>
#include <memory>

namespace quern::io {
class AsyncUserStorage;
}

namespace harmonize {

using quern::i32;
using quern::i64;
using quern::u32;
using quern::u64;
using quern::u8;

class AppEventQueue;
class LevelList;
class PlatformServices;
class SavegameStorage;

inline constexpr const char* kSavegameFileName = "default.save";
inline constexpr u32 kProgressRecordSize = 2072;
inline constexpr u32 kSavegameImageSize = 2086;
inline constexpr i32 kLevelSlotCount = 256;
inline constexpr i32 kProgressVersion = 2;

// Laid out byte for byte as stored in the file. The level table is an
// open-addressed hash table keyed by level id (0 marks an empty slot); the
// four byte arrays hold each slot's results.
struct ProgressRecord {
    i32 version;
    u8 savedAtBytes[8]; // calendar seconds of the last write or reset; unaligned in the file
    i32 nextLevelId;
    i32 lastLevelId;
    u32 reserved;
    u32 levelIds[kLevelSlotCount];
    u8 completions[kLevelSlotCount]; // times finished, stops at 255
    u8 deathScore[kLevelSlotCount]; // best 255 - deaths; 255: finished without dying
    u8 savedNibbles[kLevelSlotCount]; // high: 15 - to save at the last finish; low: best saved
    u8 collected[kLevelSlotCount]; // best collectible count (low 8 bits)

    i64 savedAt() const;
    void setSavedAt(i64 seconds);
};
static_assert(sizeof(ProgressRecord) == kProgressRecordSize);
static_assert(offsetof(ProgressRecord, savedAtBytes) == 4 && offsetof(ProgressRecord, nextLevelId) == 12);
static_assert(offsetof(ProgressRecord, lastLevelId) == 16 && offsetof(ProgressRecord, reserved) == 20);
static_assert(offsetof(ProgressRecord, levelIds) == 24 && offsetof(ProgressRecord, completions) == 1048);
static_assert(offsetof(ProgressRecord, deathScore) == 1304 && offsetof(ProgressRecord, savedNibbles) == 1560);
static_assert(offsetof(ProgressRecord, collected) == 1816);

enum class SavegameStatus : i32 { NotRequested = 0, SizeRequested = 1, None = 2, Reading = 3, Loaded = 4 };

// What the level-statistics and collectible systems counted in a finished level.
struct LevelResult {
    i32 deaths = 0;
    i32 collected = 0;
    i32 saved = 0;
    i32 toSave = 0;
    i32 timeMilliseconds = 0;
};

// Main thread only. Size and read requests answer through an object the
// Savegame owns: the storage must have run its queued requests to the end
// (stopUserStorage) before the Savegame goes. Writes need only the queue.
class Savegame {
public:
    // The record reset and nothing requested yet.
    Savegame();
    ~Savegame();
    Savegame(const Savegame&) = delete;
    Savegame& operator=(const Savegame&) = delete;

    ProgressRecord record;
    SavegameStatus status;

    // All zero, version 2, stamped with the current calendar time.
    void reset();

    // Asks for the size of the savegame file; SavegameFound or SavegameMissing
    // answers. With Development.resetProgress the progress is reset and the file
    // removed instead. A request the storage refuses is fatal with its text.
    void load(quern::io::AsyncUserStorage& storage, AppEventQueue& queue);
    // A savegame event whose payload says succeeded: Found starts the read
    // (refused: fatal), Loaded installs what was read.
    void onStorageEvent(AppEventType type, quern::io::AsyncUserStorage& storage, AppEventQueue& queue);
    // A savegame event whose payload says failed: status None; a failed read
    // leaves the progress empty. A failed write changes neither: the progress
    // in memory still holds, and the next finish writes it again.
    void onStorageFailure(AppEventType type);
    // A savegame event as the main thread takes it from the queue: handled as
    // succeeded or failed (logged), then, once the progress is settled (no
    // savegame, or loaded), every level of the list gets its slot.
    void handleStorageResult(AppEventType type, const SavegameResultEvent& result,
        quern::io::AsyncUserStorage& storage, AppEventQueue& queue, const LevelList& levels);

    // Gives every level of the list a slot, unless it has one or the table is full.
    void refreshLevelTable(const LevelList& levels);
    // With Development.unlockLevels every level; otherwise a level finished at
    // least once, and none before the savegame was found. A level without a
    // slot raises a soft assertion naming it.
    bool isLevelUnlocked(const u8* levelRecord) const;
    // Records a finish of level index `finished` (the next level `next`, -1 or
    // a level without record after the final one), evaluates the progress
    // achievements and writes the savegame. Nothing without a finished record.
    void onLevelFinished(i32 finished, i32 next, const LevelResult& result, const LevelList& levels,
        PlatformServices& platform, quern::io::AsyncUserStorage& storage, AppEventQueue& queue);
    // The record of the last level finished, or null.
    const u8* findLastLevel(const LevelList& levels) const;
    // The slot of a level id, probing every slot from its home; -1 when absent.
    i32 findSlot(u32 levelId) const;

    // The 2,086-byte file image of a record.
    static void scrambleImage(const ProgressRecord& record, u8* image);
    // False (and the record reset) for an image of the wrong length, a wrong
    // magic, a wrong size field or reserved above 256.
    static bool unscrambleImage(ProgressRecord& record, const u8* image, u64 size);

private:
    std::unique_ptr<SavegameStorage> m_storage;
};

// Zeroes the record, sets version 2 and stamps it with the current calendar time.
void resetProgress(ProgressRecord& record);
// The slot of a level id in the record's table, or -1; 0 is never a key.
i32 findLevelSlot(const ProgressRecord& record, u32 levelId);

} // namespace harmonize
