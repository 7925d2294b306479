#pragma once
// The game's levels: one asset read whole into memory and used in place.
// Records keep the layout they have in the file; the accessors below read
// their fields by offset (little-endian, no alignment assumed).

#include "quern/Types.h"
#include "quern/audio/ReverbSlot.h"

#include <string>

namespace quern::assets {
class Depot;
}
namespace quern::memory {
class Allocator;
}

namespace harmonize {

using quern::i32;
using quern::u64;
using quern::u8;

// What a level index selects in the world script.
struct WorldEntry {
    i32 first = 0;
    i32 second = 0;
    bool operator==(const WorldEntry& other) const { return first == other.first && second == other.second; }
};

struct LevelListLayout;

class LevelList {
public:
    static constexpr u64 kGlobalRecordSize = 84;
    static constexpr u64 kLevelRecordSize = 364;
    static constexpr u64 kLevelReferenceSize = 12;
    static constexpr u64 kStartRecordSize = 92;
    static constexpr u64 kExtraEntrySize = 144;
    static constexpr i32 kStartTextureCount = 10;

    // Offsets of the global record's ten asset ids; 36 is the overlay font.
    static constexpr u64 kGlobalAssetOffsets[10] = { 4, 12, 20, 28, 36, 44, 52, 60, 68, 76 };
    static constexpr u64 kOverlayFontOffset = 36;

    // Where the fields sit in their records.
    static constexpr u64 kReferenceSoundOffset = 4;
    static constexpr u64 kStartTexturesOffset = 12;
    static constexpr u64 kRecordSoundOffset = 68;
    static constexpr u64 kRecordLevelIdOffset = 80;
    static constexpr u64 kRecordNameOffset = 116;
    static constexpr u64 kRecordChapterOffset = 328;
    // The level's audio: music and ambience names (zero-terminated texts), the
    // reverb flag byte and the reverb's 27 values (26 floats, then the decay
    // HF limit as a float).
    static constexpr u64 kRecordMusicOffset = 4;
    static constexpr u64 kRecordMusicCapacity = 64;
    static constexpr u64 kRecordReverbFlagOffset = 76;
    static constexpr u64 kRecordAmbienceOffset = 84;
    static constexpr u64 kRecordAmbienceCapacity = 32;
    static constexpr u64 kRecordReverbOffset = 220;
    static constexpr u64 kReverbValueCount = 27;
    // The name of the level's leaderboard (zero-terminated, empty for none),
    // in the record's free tail after the chapter.
    static constexpr u64 kRecordLeaderboardOffset = 332;
    static constexpr u64 kRecordLeaderboardCapacity = kLevelRecordSize - kRecordLeaderboardOffset;
    static_assert(kRecordChapterOffset + 4 <= kRecordLeaderboardOffset);
    // The name's field, its terminator included.
    static constexpr u64 kRecordNameCapacity = kRecordReverbOffset - kRecordNameOffset;
    static constexpr u64 kExtraSoundOffset = 72;
    // An extra entry overrides its level's music and ambience names.
    static constexpr u64 kExtraMusicOffset = 4;
    static constexpr u64 kExtraAmbienceOffset = 80;
    static constexpr u64 kExtraNameCapacity = 64;

    explicit LevelList(quern::memory::Allocator* allocator = nullptr);
    ~LevelList();
    LevelList(const LevelList&) = delete;
    LevelList& operator=(const LevelList&) = delete;

    // Reads the asset through the depot into a block of the list's allocator;
    // a list that does not hold together is fatal, naming the asset by its id.
    void load(u64 assetId, quern::assets::Depot& depot);
    // Takes a copy of a whole asset image (byte count first). False, with the
    // reason (when `error` is given), when it does not hold together; the list
    // is then empty.
    bool parse(const u8* bytes, u64 size, std::string* error);
    // Frees the block; the list is empty again.
    void clear();

    bool loaded() const { return m_data != nullptr; }

    i32 worldEntryCount() const { return m_worldEntryCount; }
    // Fatal for an index outside the world entries.
    WorldEntry worldEntry(i32 index) const;

    // Null when the part is absent.
    const u8* globalRecord() const { return m_global; }
    // The id at a global-record offset; 0 without a global record.
    u64 globalAssetId(u64 offset) const;

    i32 levelRecordCount() const { return m_levelCount; }
    // Null for an index outside the records.
    const u8* levelRecord(i32 index) const;
    // The first level record whose world entry equals `entry`, or null.
    const u8* findLevel(WorldEntry entry) const;
    // findLevel of a level index's world entry; null for an index outside the
    // world entries.
    const u8* findLevelOfIndex(i32 levelIndex) const;
    // The first level record whose first field (its world-entry index) is the
    // level index itself, or null.
    const u8* findRecordOfIndex(i32 levelIndex) const;

    // The level's sound library: the first non-zero id of its level record,
    // its first extra entry, then the start, final and title references that
    // name it; 0 when none has one.
    u64 soundLibraryOfLevel(i32 levelIndex) const;

    const u8* titleLevel() const { return m_title; }
    const u8* menuLevel() const { return m_menu; }
    const u8* finalLevel() const { return m_final; }
    const u8* startLevel() const { return m_start; }

    i32 extraEntryCount() const { return m_extraCount; }
    // Null for an index outside the entries.
    const u8* extraEntry(i32 index) const;
    // The first extra entry of a level index, or null.
    const u8* findExtraEntry(i32 levelIndex) const;

    // Level reference (also the start of the start record).
    static i32 referenceLevelIndex(const u8* reference);
    static u64 referenceSoundLibrary(const u8* reference);
    // Start record: texture `index` of ten.
    static u64 startTextureId(const u8* start, i32 index);
    // Level record.
    static i32 recordWorldEntryIndex(const u8* record);
    static u64 recordSoundLibrary(const u8* record);
    static i32 recordLevelId(const u8* record);
    static const char* recordName(const u8* record);
    static i32 recordChapter(const u8* record);
    static std::string recordMusicName(const u8* record);
    static std::string recordAmbienceName(const u8* record);
    // Terminated within its field in every list that parsed.
    static const char* recordLeaderboardName(const u8* record);
    static bool recordReverbEnabled(const u8* record);
    // The decay HF limit is truncated to an integer (0 when it is no number
    // an integer can hold).
    static quern::audio::ReverbParameters recordReverbParameters(const u8* record);
    // Extra entry.
    static i32 extraLevelIndex(const u8* extra);
    static u64 extraSoundLibrary(const u8* extra);
    static std::string extraMusicName(const u8* extra);
    static std::string extraAmbienceName(const u8* extra);

private:
    void adopt(u8* block, u64 size, const LevelListLayout& layout);
    quern::memory::Allocator& allocator() const;

    quern::memory::Allocator* m_allocator;
    u8* m_data = nullptr;
    u64 m_size = 0;
    const u8* m_worldEntries = nullptr;
    i32 m_worldEntryCount = 0;
    const u8* m_global = nullptr;
    const u8* m_levels = nullptr;
    i32 m_levelCount = 0;
    const u8* m_title = nullptr;
    const u8* m_menu = nullptr;
    const u8* m_final = nullptr;
    const u8* m_start = nullptr;
    const u8* m_extras = nullptr;
    i32 m_extraCount = 0;
};

} // namespace harmonize
