// The savegame through the real user storage: a home file system in a fresh
// folder and the background worker, with the events handled as the
// dispatcher handles them.

#include "harmonize/savegame/Savegame.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/SettingsTable.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/platform/Clock.h"
#include "quern/threads/TaskQueuePool.h"

#include "SavegameTestSupport.h"
#include "runtime/quern/platform/TemporaryDirectory.h"
#include "support/GateTask.h"
#include "support/harmonize/RecordingPlatformServices.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::testing::GateTask;
using test::HandledEvent;
using test::imageOf;

constexpr u64 kFirstWrite = 1'650'000'000;
constexpr u64 kLater = 1'650'000'900;

constexpr const char* kLevels = "world 0 0\nworld 0 1\nworld 0 2\n"
                                "level 0 id 11 chapter 0 name One\n"
                                "level 1 id 12 chapter 0 name Two\n"
                                "level 2 id 13 chapter 1 name Three\n";

bool sameRecord(const ProgressRecord& a, const ProgressRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class SavegameStorageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        PlayerProfile::clear();
        std::string error;
        ASSERT_TRUE(test::buildLevels(kLevels, levels, error)) << error;
        fileSystem.setDirectory(dir.path().c_str());
        fileSystem.setQuiet(true);
        quern::threads::startBackgroundWorker();
        storage.init(&fileSystem, quern::threads::getBackgroundPool());
    }
    void TearDown() override
    {
        quern::threads::stopBackgroundWorker();
        storage.shutdown();
        Settings::resetToDefaults();
    }

    HandledEvent next(Savegame& savegame)
    {
        return test::dispatchSavegameEvent(savegame, storage, events.queue, levels);
    }
    void finish(Savegame& savegame, i32 finished, i32 next, const LevelResult& result = {})
    {
        savegame.onLevelFinished(finished, next, result, levels, platform, storage, events.queue);
    }
    std::vector<u8> file() const
    {
        std::ifstream in(dir / kSavegameFileName, std::ios::binary);
        return std::vector<u8>(std::istreambuf_iterator<char>(in), {});
    }
    void writeFile(const std::vector<u8>& bytes) const
    {
        std::ofstream(dir / kSavegameFileName, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    quern::platform::FixedCalendarSource calendar { kFirstWrite };
    quern::platform::ScopedCalendarSource calendarScope { calendar };
    quern::testing::TemporaryDirectory dir;
    quern::io::HomeFileSystem fileSystem;
    quern::io::AsyncUserStorage storage;
    AppEventQueueStorage events;
    LevelList levels;
    test::RecordingPlatformServices platform;
};

TEST_F(SavegameStorageTest, WithoutAFileTheSavegameIsMissingWhichIsNoFailure)
{
    Savegame savegame;
    savegame.load(storage, events.queue);
    EXPECT_EQ(savegame.status, SavegameStatus::SizeRequested);

    const HandledEvent missing = next(savegame);
    EXPECT_EQ(missing.type, AppEventType::SavegameMissing);
    EXPECT_TRUE(missing.succeeded);
    EXPECT_EQ(missing.errorText, "Path not found");
    EXPECT_EQ(savegame.status, SavegameStatus::None);
    EXPECT_GE(savegame.findSlot(13), 0);
}

TEST_F(SavegameStorageTest, AFinishIsStoredAndAnotherSavegameReadsItBack)
{
    Savegame first;
    first.load(storage, events.queue);
    ASSERT_EQ(next(first).type, AppEventType::SavegameMissing);
    finish(first, 1, 2, { 0, 6, 2, 3 });
    const HandledEvent stored = next(first);
    EXPECT_EQ(stored.type, AppEventType::SavegameStored);
    EXPECT_TRUE(stored.succeeded);
    EXPECT_EQ(first.status, SavegameStatus::Loaded);
    EXPECT_EQ(file(), imageOf(first.record));

    calendar.set(kLater);
    Savegame second;
    second.load(storage, events.queue);
    const HandledEvent found = next(second);
    EXPECT_EQ(found.type, AppEventType::SavegameFound);
    EXPECT_TRUE(found.succeeded);
    EXPECT_EQ(second.status, SavegameStatus::Reading);

    // The read has finished once its event is queued; the record changes only
    // when the main thread handles that event.
    ASSERT_TRUE(test::waitForEvent(events.queue));
    EXPECT_EQ(second.record.savedAt(), i64(kLater));
    EXPECT_EQ(second.record.lastLevelId, 0);

    const HandledEvent loaded = next(second);
    EXPECT_EQ(loaded.type, AppEventType::SavegameLoaded);
    EXPECT_TRUE(loaded.succeeded);
    EXPECT_EQ(second.status, SavegameStatus::Loaded);
    EXPECT_TRUE(sameRecord(second.record, first.record));
    EXPECT_EQ(second.record.lastLevelId, 12);
    EXPECT_EQ(second.record.savedAt(), i64(kFirstWrite));
}

TEST_F(SavegameStorageTest, DamagedFilesAreInvalidAndLeaveTheProgressEmpty)
{
    Savegame writer;
    writer.refreshLevelTable(levels);
    finish(writer, 0, 1, { 0, 3, 0, 0 });
    ASSERT_EQ(next(writer).type, AppEventType::SavegameStored);
    const std::vector<u8> good = file();
    ASSERT_EQ(good.size(), kSavegameImageSize);

    struct Case {
        const char* what;
        std::vector<u8> bytes;
    };
    std::vector<Case> cases = {
        { "a wrong magic", good },
        { "a wrong size field", good },
        { "reserved above 256", good },
        { "a short file", std::vector<u8>(good.begin(), good.begin() + 100) },
        { "an empty file", {} },
    };
    cases[0].bytes[3] ^= 0x40;
    cases[1].bytes[11] ^= 0x01;
    cases[2].bytes[14 + 20 + 1] ^= 0x02; // 512 + the original 0
    for (const Case& c : cases) {
        writeFile(c.bytes);
        Savegame savegame;
        savegame.record.lastLevelId = 12;
        savegame.record.completions[4] = 9;
        savegame.load(storage, events.queue);
        ASSERT_EQ(next(savegame).type, AppEventType::SavegameFound) << c.what;
        const HandledEvent loaded = next(savegame);
        EXPECT_EQ(loaded.type, AppEventType::SavegameLoaded) << c.what;
        EXPECT_FALSE(loaded.succeeded) << c.what;
        EXPECT_EQ(loaded.errorText, "Invalid savegame") << c.what;
        EXPECT_EQ(savegame.status, SavegameStatus::None) << c.what;
        EXPECT_EQ(savegame.record.version, 2) << c.what;
        EXPECT_EQ(savegame.record.lastLevelId, 0) << c.what;
        EXPECT_EQ(savegame.record.completions[4], 0) << c.what;
    }
}

TEST_F(SavegameStorageTest, WritesRunInOrderEachSendingTheProgressOfItsOwnFinish)
{
    Savegame savegame;
    savegame.status = SavegameStatus::Loaded;
    quern::threads::TaskQueuePool& worker = *quern::threads::getBackgroundPool();

    GateTask beforeFirst;
    GateTask beforeSecond;
    ASSERT_TRUE(worker.push(&beforeFirst));
    beforeFirst.waitUntilEntered();
    finish(savegame, 0, 1, { 0, 1, 0, 0 });
    const ProgressRecord firstFinish = savegame.record;
    ASSERT_TRUE(worker.push(&beforeSecond));
    calendar.set(kLater);
    finish(savegame, 1, 2, { 0, 2, 0, 0 });
    const ProgressRecord secondFinish = savegame.record;

    // The second finish changed the progress while the first write waited:
    // the first write still sends the first finish.
    beforeFirst.open();
    beforeSecond.waitUntilEntered();
    EXPECT_EQ(file(), imageOf(firstFinish));

    beforeSecond.open();
    for (int i = 0; i < 2; ++i) {
        const HandledEvent stored = next(savegame);
        EXPECT_EQ(stored.type, AppEventType::SavegameStored);
        EXPECT_TRUE(stored.succeeded);
    }
    EXPECT_EQ(file(), imageOf(secondFinish));
}

TEST_F(SavegameStorageTest, AFailedWriteIsReportedAndKeepsTheProgressInMemory)
{
    std::filesystem::create_directory(dir / kSavegameFileName);
    Savegame savegame;
    savegame.status = SavegameStatus::Loaded;
    finish(savegame, 0, 1);
    const HandledEvent stored = next(savegame);
    EXPECT_EQ(stored.type, AppEventType::SavegameStored);
    EXPECT_FALSE(stored.succeeded);
    EXPECT_EQ(stored.errorText, "File not writable");
    // The finished level stays unlocked: the progress is still there.
    EXPECT_EQ(savegame.status, SavegameStatus::Loaded);
    EXPECT_TRUE(savegame.isLevelUnlocked(levels.levelRecord(0)));
    EXPECT_EQ(savegame.record.lastLevelId, 11);
    EXPECT_EQ(savegame.record.completions[savegame.findSlot(11)], 1);
}

TEST_F(SavegameStorageTest, ResetProgressRemovesTheFileAndAsksNothingElse)
{
    writeFile(imageOf(Savegame().record));
    Settings::Development.resetProgress = true;
    Savegame savegame;
    savegame.record.completions[4] = 9;
    savegame.load(storage, events.queue);
    EXPECT_EQ(savegame.status, SavegameStatus::None);
    EXPECT_EQ(savegame.record.completions[4], 0);

    quern::threads::stopBackgroundWorker(); // runs the queued removal to the end
    EXPECT_FALSE(std::filesystem::exists(dir / kSavegameFileName));
    EXPECT_TRUE(events.queue.isEmpty());
}

TEST(SavegameStorageDeathTest, ASizeOrReadRequestTheStorageRefusesIsFatal)
{
    quern::io::AsyncUserStorage stopped;
    AppEventQueueStorage events;
    Savegame savegame;
    EXPECT_DEATH(savegame.load(stopped, events.queue), "File system currently unavailable");
    EXPECT_DEATH(savegame.onStorageEvent(AppEventType::SavegameFound, stopped, events.queue),
        "File system currently unavailable");
}

} // namespace
} // namespace harmonize
