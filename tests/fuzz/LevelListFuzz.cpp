// The level list on arbitrary bytes, parsed and loaded through a depot: a list
// the reader accepts must be safe to walk through every accessor and the
// next-level rules, for every level index and one on each side.

#include "FuzzSupport.h"

#include "harmonize/SettingsTable.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/levels/NextLevel.h"

#include "quern/assets/Depot.h"
#include "quern/entity/WorldSwapper.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using namespace harmonize;
using quern::u32;
using quern::u64;
using quern::u8;

// One asset held in memory.
class MemoryDepot final : public quern::assets::Depot {
public:
    MemoryDepot(const u8* data, u64 size)
        : m_data(data)
        , m_size(size)
    {
    }
    u32 open(u64) override
    {
        m_position = 0;
        return 1;
    }
    void close(u32) override { }
    u64 read(u32, u64 count, void* destination) override
    {
        const u64 n = m_position < m_size ? std::min(count, m_size - m_position) : 0;
        if (n)
            std::memcpy(destination, m_data + m_position, n);
        m_position += n;
        return n;
    }
    u64 size(u32) override { return m_size; }
    void seek(u32, u64 position) override { m_position = position; }

private:
    const u8* m_data;
    u64 m_size;
    u64 m_position = 0;
};

u64 walk(const LevelList& list, const quern::entity::WorldSwapper& swapper)
{
    u64 sum = 0;
    const i32 n = list.worldEntryCount();
    for (i32 i = 0; i < n; ++i) {
        const WorldEntry entry = list.worldEntry(i);
        sum += static_cast<u64>(entry.first) + static_cast<u64>(entry.second);
        sum += list.findLevel(entry) != nullptr;
    }
    for (u64 offset : LevelList::kGlobalAssetOffsets)
        sum += list.globalAssetId(offset);
    for (i32 i = 0; i < list.levelRecordCount(); ++i) {
        const u8* record = list.levelRecord(i);
        sum += LevelList::recordSoundLibrary(record) + static_cast<u64>(LevelList::recordLevelId(record));
        sum += static_cast<u64>(LevelList::recordChapter(record));
        sum += std::strlen(LevelList::recordName(record));
        sum += list.worldEntry(LevelList::recordWorldEntryIndex(record)).first;
    }
    for (const u8* reference : { list.titleLevel(), list.menuLevel(), list.finalLevel(), list.startLevel() })
        if (reference)
            sum += list.worldEntry(LevelList::referenceLevelIndex(reference)).second
                + LevelList::referenceSoundLibrary(reference);
    if (const u8* start = list.startLevel())
        for (i32 t = 0; t < LevelList::kStartTextureCount; ++t)
            sum += LevelList::startTextureId(start, t);
    for (i32 i = 0; i < list.extraEntryCount(); ++i) {
        const u8* extra = list.extraEntry(i);
        sum += list.worldEntry(LevelList::extraLevelIndex(extra)).first + LevelList::extraSoundLibrary(extra);
    }
    for (bool test : { false, true }) {
        Settings::Test.test = test;
        for (i32 index = -1; index <= n; ++index) {
            sum += list.findLevelOfIndex(index) != nullptr;
            sum += static_cast<u64>(nextLevelAfter(index, list));
            sum += static_cast<u64>(getNextLevelIndex(index, swapper, list));
        }
    }
    Settings::Test.test = false;
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    quern::fuzz::initialize();
    static quern::entity::WorldSwapper swapper { nullptr, nullptr };
    volatile u64 sink = 0;

    LevelList parsed;
    std::string error;
    if (parsed.parse(data, size, &error))
        sink = sink + walk(parsed, swapper);
    else if (error.empty())
        __builtin_trap(); // a refusal always says why

    // The depot path must agree with the in-memory one.
    MemoryDepot depot(data, size);
    LevelList loaded;
    const bool accepted = quern::fuzz::runGuarded([&] { loaded.load(0x1234, depot); });
    if (accepted != parsed.loaded())
        __builtin_trap();
    if (accepted)
        sink = sink + walk(loaded, swapper);
    return 0;
}
