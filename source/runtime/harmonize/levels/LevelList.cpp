#include "harmonize/levels/LevelList.h"

#include "quern/LittleEndian.h"
#include "quern/assets/Depot.h"
#include "quern/memory/Allocator.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace harmonize {

using quern::readLittleEndian32;
using quern::readLittleEndian64;
using quern::f32;
using quern::u32;
using quern::strings::format;

namespace {

constexpr u64 kAbsent = ~u64 { 0 };
constexpr u64 kCountSize = 4;
constexpr u64 kBlockAlignment = 4;

i32 readI32(const u8* bytes) { return static_cast<i32>(readLittleEndian32(bytes)); }

// Steps through a data block, every step checked against the bytes left.
// Alignment counts from the start of the block.
class BlockWalk {
public:
    BlockWalk(const u8* block, u64 size, std::string* error)
        : m_block(block)
        , m_size(size)
        , m_error(error)
    {
    }

    bool fail(const char* reason)
    {
        if (m_error)
            *m_error = reason;
        return false;
    }

    void align() { m_position = (m_position + kBlockAlignment - 1) / kBlockAlignment * kBlockAlignment; }

    // A count, then that many records; `first` is where the records begin.
    bool table(const char* what, u64 recordSize, u64& first, i32& count)
    {
        if (!has(kCountSize))
            return fail(format<128>("the data block ends before the %s count", what));
        const i32 value = readI32(m_block + m_position);
        if (value < 0)
            return fail(format<128>("the %s count is negative (%d)", what, value));
        m_position += kCountSize;
        const u64 bytes = static_cast<u64>(value) * recordSize;
        if (!has(bytes))
            return fail(format<160>("the %s count %d needs %llu bytes, %llu are left", what, value,
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(left())));
        first = m_position;
        count = value;
        m_position += bytes;
        return true;
    }

    // A presence byte (0 or 1), then, aligned, the part when it is present.
    bool optional(const char* what, u64 partSize, u64& offset)
    {
        if (!has(1))
            return fail(format<128>("the data block ends before the %s's presence byte", what));
        const u8 present = m_block[m_position++];
        if (present > 1)
            return fail(format<128>("the %s's presence byte is %u, not 0 or 1", what, present));
        offset = kAbsent;
        if (!present)
            return true;
        align();
        if (!has(partSize))
            return fail(format<128>("the data block ends inside the %s", what));
        offset = m_position;
        m_position += partSize;
        return true;
    }

    u64 left() const { return m_position < m_size ? m_size - m_position : 0; }

private:
    bool has(u64 count) const { return m_position <= m_size && count <= m_size - m_position; }

    const u8* m_block;
    u64 m_size;
    std::string* m_error;
    u64 m_position = 0;
};

} // namespace

// Offsets into the data block; kAbsent for a part that is not there.
struct LevelListLayout {
    u64 worldEntries = 0;
    i32 worldEntryCount = 0;
    u64 global = kAbsent;
    u64 levels = 0;
    i32 levelCount = 0;
    u64 title = kAbsent;
    u64 menu = kAbsent;
    u64 final = kAbsent;
    u64 start = kAbsent;
    u64 extras = 0;
    i32 extraCount = 0;
};

namespace {

bool walkParts(BlockWalk& walk, LevelListLayout& layout)
{
    if (!walk.table("world entry", 8, layout.worldEntries, layout.worldEntryCount)
        || !walk.optional("global record", LevelList::kGlobalRecordSize, layout.global))
        return false;
    walk.align();
    if (!walk.table("level record", LevelList::kLevelRecordSize, layout.levels, layout.levelCount)
        || !walk.optional("title level", LevelList::kLevelReferenceSize, layout.title)
        || !walk.optional("menu level", LevelList::kLevelReferenceSize, layout.menu)
        || !walk.optional("final level", LevelList::kLevelReferenceSize, layout.final)
        || !walk.optional("start level", LevelList::kStartRecordSize, layout.start))
        return false;
    walk.align();
    if (!walk.table("extra entry", LevelList::kExtraEntrySize, layout.extras, layout.extraCount))
        return false;
    if (walk.left() != 0)
        return walk.fail(
            format<96>("%llu bytes follow the extra entries", static_cast<unsigned long long>(walk.left())));
    return true;
}

// The indices the records hold must name world entries, and every name must
// end inside its field, before anyone reads them.
bool checkIndices(const u8* block, const LevelListLayout& layout, BlockWalk& walk)
{
    const i32 n = layout.worldEntryCount;
    for (i32 i = 0; i < layout.levelCount; ++i) {
        const u8* record = block + layout.levels + static_cast<u64>(i) * LevelList::kLevelRecordSize;
        const i32 entry = LevelList::recordWorldEntryIndex(record);
        if (entry < 0 || entry >= n)
            return walk.fail(format<128>("level record %d names world entry %d of %d", i, entry, n));
        if (!std::memchr(record + LevelList::kRecordNameOffset, 0, LevelList::kRecordNameCapacity))
            return walk.fail(format<128>("level record %d has no terminated name", i));
        if (!std::memchr(record + LevelList::kRecordMusicOffset, 0, LevelList::kRecordMusicCapacity)
            || !std::memchr(record + LevelList::kRecordAmbienceOffset, 0, LevelList::kRecordAmbienceCapacity))
            return walk.fail(format<128>("level record %d has no terminated music or ambience name", i));
        if (!std::memchr(record + LevelList::kRecordLeaderboardOffset, 0, LevelList::kRecordLeaderboardCapacity))
            return walk.fail(format<128>("level record %d has no terminated leaderboard name", i));
    }
    const struct {
        const char* what;
        u64 offset;
    } references[] = { { "title level", layout.title }, { "menu level", layout.menu }, { "final level", layout.final },
        { "start level", layout.start } };
    for (const auto& reference : references) {
        if (reference.offset == kAbsent)
            continue;
        const i32 level = LevelList::referenceLevelIndex(block + reference.offset);
        if (level < 0 || level >= n)
            return walk.fail(format<128>("the %s names level %d of %d", reference.what, level, n));
    }
    for (i32 i = 0; i < layout.extraCount; ++i) {
        const i32 level
            = LevelList::extraLevelIndex(block + layout.extras + static_cast<u64>(i) * LevelList::kExtraEntrySize);
        if (level < 0 || level >= n)
            return walk.fail(format<128>("extra entry %d names level %d of %d", i, level, n));
        const u8* extra = block + layout.extras + static_cast<u64>(i) * LevelList::kExtraEntrySize;
        if (!std::memchr(extra + LevelList::kExtraMusicOffset, 0, LevelList::kExtraNameCapacity)
            || !std::memchr(extra + LevelList::kExtraAmbienceOffset, 0, LevelList::kExtraNameCapacity))
            return walk.fail(format<128>("extra entry %d has no terminated music or ambience name", i));
    }
    return true;
}

[[noreturn]] void brokenList(u64 assetId, const char* reason)
{
    QUERN_FATAL(format<320>("Level list 0x%016llx is broken: %s", static_cast<unsigned long long>(assetId), reason));
}

bool walkBlock(const u8* block, u64 size, LevelListLayout& layout, std::string* error)
{
    BlockWalk walk(block, size, error);
    return walkParts(walk, layout) && checkIndices(block, layout, walk);
}

} // namespace

LevelList::LevelList(quern::memory::Allocator* allocator)
    : m_allocator(allocator)
{
}

LevelList::~LevelList() { clear(); }

quern::memory::Allocator& LevelList::allocator() const
{
    return m_allocator ? *m_allocator : *quern::memory::getDefaultAllocator();
}

void LevelList::clear()
{
    if (m_data)
        allocator().free(m_data);
    m_data = nullptr;
    m_size = 0;
    m_worldEntries = nullptr;
    m_worldEntryCount = 0;
    m_global = nullptr;
    m_levels = nullptr;
    m_levelCount = 0;
    m_title = nullptr;
    m_menu = nullptr;
    m_final = nullptr;
    m_start = nullptr;
    m_extras = nullptr;
    m_extraCount = 0;
}

void LevelList::adopt(u8* block, u64 size, const LevelListLayout& layout)
{
    const auto at = [block](u64 offset) -> const u8* { return offset == kAbsent ? nullptr : block + offset; };
    m_data = block;
    m_size = size;
    m_worldEntries = block + layout.worldEntries;
    m_worldEntryCount = layout.worldEntryCount;
    m_global = at(layout.global);
    m_levels = block + layout.levels;
    m_levelCount = layout.levelCount;
    m_title = at(layout.title);
    m_menu = at(layout.menu);
    m_final = at(layout.final);
    m_start = at(layout.start);
    m_extras = block + layout.extras;
    m_extraCount = layout.extraCount;
}

bool LevelList::parse(const u8* bytes, u64 size, std::string* error)
{
    clear();
    if (size < kCountSize) {
        if (error)
            *error = "the list is shorter than its byte count";
        return false;
    }
    const u64 stated = readLittleEndian32(bytes);
    if (stated != size - kCountSize) {
        if (error)
            *error = format<128>("the byte count states %llu bytes but %llu follow",
                static_cast<unsigned long long>(stated), static_cast<unsigned long long>(size - kCountSize));
        return false;
    }
    LevelListLayout layout;
    if (!walkBlock(bytes + kCountSize, stated, layout, error))
        return false;
    u8* block = static_cast<u8*>(allocator().allocate(stated, kBlockAlignment));
    if (!block) {
        if (error)
            *error = format<96>("cannot allocate %llu bytes", static_cast<unsigned long long>(stated));
        return false;
    }
    std::memcpy(block, bytes + kCountSize, stated);
    adopt(block, stated, layout);
    return true;
}

void LevelList::load(u64 assetId, quern::assets::Depot& depot)
{
    clear();
    const u32 handle = depot.open(assetId);
    const u64 size = depot.size(handle);
    u8 header[kCountSize];
    if (size < kCountSize || depot.read(handle, kCountSize, header) != kCountSize)
        brokenList(assetId, "the list is shorter than its byte count");
    const u64 stated = readLittleEndian32(header);
    if (stated != size - kCountSize)
        brokenList(assetId,
            format<128>("the byte count states %llu bytes but %llu follow", static_cast<unsigned long long>(stated),
                static_cast<unsigned long long>(size - kCountSize)));
    u8* block = nullptr;
    if (stated > 0) {
        block = static_cast<u8*>(allocator().allocate(stated, kBlockAlignment));
        if (!block)
            QUERN_OUT_OF_MEMORY();
    }
    const u64 read = stated > 0 ? depot.read(handle, stated, block) : 0;
    depot.close(handle);
    std::string error;
    LevelListLayout layout;
    if (read != stated)
        error = format<128>("the depot gave %llu of its %llu bytes", static_cast<unsigned long long>(read),
            static_cast<unsigned long long>(stated));
    else if (walkBlock(block, stated, layout, &error)) {
        adopt(block, stated, layout);
        return;
    }
    allocator().free(block);
    brokenList(assetId, error.c_str());
}

WorldEntry LevelList::worldEntry(i32 index) const
{
    if (index < 0 || index >= m_worldEntryCount)
        QUERN_FATAL(format<96>("World entry %d is outside the level list's %d", index, m_worldEntryCount));
    const u8* entry = m_worldEntries + static_cast<u64>(index) * 8;
    return { readI32(entry), readI32(entry + 4) };
}

u64 LevelList::globalAssetId(u64 offset) const
{
    if (offset > kGlobalRecordSize - 8)
        QUERN_FATAL(format<96>("Offset %llu is outside the global record", static_cast<unsigned long long>(offset)));
    return m_global ? readLittleEndian64(m_global + offset) : 0;
}

const u8* LevelList::levelRecord(i32 index) const
{
    if (index < 0 || index >= m_levelCount)
        return nullptr;
    return m_levels + static_cast<u64>(index) * kLevelRecordSize;
}

const u8* LevelList::findLevel(WorldEntry entry) const
{
    for (i32 i = 0; i < m_levelCount; ++i) {
        const u8* record = levelRecord(i);
        if (worldEntry(recordWorldEntryIndex(record)) == entry)
            return record;
    }
    return nullptr;
}

const u8* LevelList::findLevelOfIndex(i32 levelIndex) const
{
    if (levelIndex < 0 || levelIndex >= m_worldEntryCount)
        return nullptr;
    return findLevel(worldEntry(levelIndex));
}

const u8* LevelList::findRecordOfIndex(i32 levelIndex) const
{
    for (i32 i = 0; i < m_levelCount; ++i) {
        const u8* record = levelRecord(i);
        if (recordWorldEntryIndex(record) == levelIndex)
            return record;
    }
    return nullptr;
}

const u8* LevelList::extraEntry(i32 index) const
{
    if (index < 0 || index >= m_extraCount)
        return nullptr;
    return m_extras + static_cast<u64>(index) * kExtraEntrySize;
}

i32 LevelList::referenceLevelIndex(const u8* reference) { return readI32(reference); }

u64 LevelList::referenceSoundLibrary(const u8* reference)
{
    return readLittleEndian64(reference + kReferenceSoundOffset);
}

u64 LevelList::startTextureId(const u8* start, i32 index)
{
    if (index < 0 || index >= kStartTextureCount)
        QUERN_FATAL(format<64>("Start texture %d of %d", index, kStartTextureCount));
    return readLittleEndian64(start + kStartTexturesOffset + static_cast<u64>(index) * 8);
}

i32 LevelList::recordWorldEntryIndex(const u8* record) { return readI32(record); }

u64 LevelList::recordSoundLibrary(const u8* record) { return readLittleEndian64(record + kRecordSoundOffset); }

i32 LevelList::recordLevelId(const u8* record) { return readI32(record + kRecordLevelIdOffset); }

const char* LevelList::recordName(const u8* record)
{
    return reinterpret_cast<const char*>(record + kRecordNameOffset);
}

i32 LevelList::recordChapter(const u8* record) { return readI32(record + kRecordChapterOffset); }

i32 LevelList::extraLevelIndex(const u8* extra) { return readI32(extra); }

const u8* LevelList::findExtraEntry(i32 levelIndex) const
{
    for (i32 i = 0; i < m_extraCount; ++i)
        if (extraLevelIndex(extraEntry(i)) == levelIndex)
            return extraEntry(i);
    return nullptr;
}

u64 LevelList::extraSoundLibrary(const u8* extra) { return readLittleEndian64(extra + kExtraSoundOffset); }

u64 LevelList::soundLibraryOfLevel(i32 levelIndex) const
{
    if (const u8* record = findLevelOfIndex(levelIndex); record && recordSoundLibrary(record) != 0)
        return recordSoundLibrary(record);
    if (const u8* extra = findExtraEntry(levelIndex); extra && extraSoundLibrary(extra) != 0)
        return extraSoundLibrary(extra);
    for (const u8* reference : { m_start, m_final, m_title }) {
        if (reference && referenceLevelIndex(reference) == levelIndex && referenceSoundLibrary(reference) != 0)
            return referenceSoundLibrary(reference);
    }
    return 0;
}

namespace {

// A text field of a record; one without its terminator is cut at the field's end.
std::string fieldText(const u8* field, u64 capacity)
{
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, capacity));
}

} // namespace

std::string LevelList::recordMusicName(const u8* record)
{
    return fieldText(record + kRecordMusicOffset, kRecordMusicCapacity);
}

const char* LevelList::recordLeaderboardName(const u8* record)
{
    return reinterpret_cast<const char*>(record + kRecordLeaderboardOffset);
}

std::string LevelList::recordAmbienceName(const u8* record)
{
    return fieldText(record + kRecordAmbienceOffset, kRecordAmbienceCapacity);
}

bool LevelList::recordReverbEnabled(const u8* record) { return record[kRecordReverbFlagOffset] != 0; }

quern::audio::ReverbParameters LevelList::recordReverbParameters(const u8* record)
{
    f32 values[kReverbValueCount];
    for (u64 i = 0; i < kReverbValueCount; ++i)
        values[i] = std::bit_cast<f32>(readLittleEndian32(record + kRecordReverbOffset + 4 * i));
    quern::audio::ReverbParameters parameters {};
    static_assert(offsetof(quern::audio::ReverbParameters, decayHFLimit) == 4 * (kReverbValueCount - 1));
    std::memcpy(&parameters, values, 4 * (kReverbValueCount - 1));
    const f32 limit = values[kReverbValueCount - 1];
    parameters.decayHFLimit = limit > -2147483648.0f && limit < 2147483648.0f ? static_cast<i32>(limit) : 0;
    return parameters;
}

std::string LevelList::extraMusicName(const u8* extra) { return fieldText(extra + kExtraMusicOffset, kExtraNameCapacity); }

std::string LevelList::extraAmbienceName(const u8* extra)
{
    return fieldText(extra + kExtraAmbienceOffset, kExtraNameCapacity);
}

} // namespace harmonize
