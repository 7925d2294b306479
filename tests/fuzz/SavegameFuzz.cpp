// "default.save" on arbitrary bytes, taken both as the file image and as its
// plain contents (scrambled first, so mutations meet the record's fields): an
// image the reader accepts, or the empty progress it leaves on refusal, must be
// safe to refresh, look up, evaluate and write out again.

#include "FuzzSupport.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/savegame/ProgressAchievements.h"
#include "harmonize/savegame/Savegame.h"

#include "LevelListWriter.h"
#include "support/harmonize/RecordingPlatformServices.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace harmonize;

// Levels in every world and one outside them; 0x101 and 0x201 share a home slot.
const LevelList& levels()
{
    static LevelList list;
    static const bool built = [] {
        std::vector<u8> image;
        std::string error;
        if (!quern::assetbuild::buildLevelList("world 0 0\nworld 0 1\nworld 0 2\nworld 0 3\nworld 0 4\n"
                                               "world 0 5\nworld 0 6\nworld 0 7\nworld 0 8\n"
                                               "level 0 id 0x101 chapter 0 name A\n"
                                               "level 1 id 0x201 chapter 0 name B\n"
                                               "level 2 id 3 chapter 1 name C\nlevel 3 id 4 chapter 2 name D\n"
                                               "level 4 id 5 chapter 3 name E\nlevel 5 id 6 chapter 4 name F\n"
                                               "level 6 id 7 chapter 5 name G\nlevel 7 id 8 chapter 6 name H\n"
                                               "level 8 id 0x7fffffff chapter 9 name Outside\n",
                {}, image, error))
            __builtin_trap();
        return list.parse(image.data(), image.size(), &error);
    }();
    if (!built)
        __builtin_trap();
    return list;
}

void exercise(const u8* image, u64 size)
{
    static Savegame savegame;
    static test::RecordingPlatformServices platform;
    const bool accepted = Savegame::unscrambleImage(savegame.record, image, size);
    if (savegame.record.version != kProgressVersion || savegame.record.reserved > 256)
        __builtin_trap();
    if (!accepted && savegame.record.lastLevelId != 0)
        __builtin_trap(); // a refused image leaves the progress empty

    const LevelList& list = levels();
    savegame.status = SavegameStatus::Loaded;
    savegame.refreshLevelTable(list);
    volatile u64 sink = 0;
    for (i32 i = 0; i < list.levelRecordCount(); ++i)
        sink = sink + savegame.isLevelUnlocked(list.levelRecord(i));
    sink = sink + (savegame.findLastLevel(list) != nullptr);

    PlayerProfile::clear();
    PlayerProfile::statsReceived = (size & 1) != 0;
    platform.calls.clear();
    evaluateProgressAchievements(savegame.record, list, platform);

    // What is kept must come back unchanged through the file image.
    u8 again[kSavegameImageSize];
    Savegame::scrambleImage(savegame.record, again);
    ProgressRecord reread {};
    if (!Savegame::unscrambleImage(reread, again, sizeof again))
        __builtin_trap();
    if (std::memcmp(&reread, &savegame.record, sizeof reread) != 0)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    quern::fuzz::initialize();
    exercise(data, size);
    std::vector<u8> scrambled(data, data + size);
    for (u8& byte : scrambled)
        byte ^= 0xE4;
    exercise(scrambled.data(), scrambled.size());
    return 0;
}
