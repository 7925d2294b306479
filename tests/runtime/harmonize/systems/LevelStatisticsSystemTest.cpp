#include "harmonize/systems/LevelStatisticsSystem.h"

#include "runtime/harmonize/systems/AnimationWorld.h"

#include "harmonize/Settings.h"
#include "harmonize/input/InputActions.h"
#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/PlayerProfile.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/tasks/TaskDispatcher.h"

#include "LevelListWriter.h"
#include "support/CountingAllocator.h"
#include "support/LogCapture.h"
#include "support/harmonize/ScriptedPlatformServices.h"
#include "support/harmonize/ThreadingSettings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace harmonize {
namespace {

using quern::testing::LogCapture;
using test::PlatformCall;

constexpr u64 kStep = testing::AnimationWorld::kTickStep;

// A level world with the statistics, the coroutines, the collectibles, a
// save-game system and a sound system whose requests stay queued. The level
// holds three collectibles and, unless told otherwise, the statistics board.
// Its clock starts at 1 s.
// Level 2 of the list built by the content tool names its leaderboard.
void buildLevels(LevelList& levels)
{
    std::vector<u8> image;
    std::string error;
    ASSERT_TRUE(quern::assetbuild::buildLevelList("world 0 0\nworld 0 1\nworld 1 1\n"
                                                  "level 1 id 11 name Plain\n"
                                                  "level 2 id 12 leaderboard caverns_time name Caverns\n",
        {}, image, error))
        << error;
    ASSERT_TRUE(levels.parse(image.data(), image.size(), &error)) << error;
}

struct StatisticsWorld : testing::AnimationWorld {
    explicit StatisticsWorld(bool withBoard = true, i32 levelIndex = -1, TaskDispatcher* dispatcher = nullptr)
        : AnimationWorld(32, dispatcher)
    {
        now = 1'000'000;
        PlayerProfile::clear();
        buildLevels(levels);
        context.services.levelList = &levels;
        context.services.platformServices = &platform;
        context.levelIndex = levelIndex;
        Settings::Development.moneyStart = 0;
        parseBindings(Settings::Input);
        switcher.bindContexts();
        context.services.inputSwitcher = &switcher;
        context.saveGame = &saves;
        context.coroutine = new CoroutineSystem(context);
        context.collectible = new CollectibleSystem(context);
        context.sound = new SoundSystem(nullptr, nullptr, nullptr, nullptr);
        statistics = new LevelStatisticsSystem(context);
        context.levelStatistics = statistics;
        scene.addSystem(context.coroutine);
        scene.addSystem(context.collectible);
        scene.addSystem(context.sound);
        world().getSystemInfo(world().getSystemCount() - 1).state = quern::entity::SystemInfo::kDisabled;
        scene.addSystem(statistics);
        for (EntityHandle& c : collectibles)
            c = scene.add("collectible", { "Transform", "Collider", "Collectible" });
        if (withBoard)
            board = scene.add("board", { "Transform", "LevelStatisticsDisplay" });
        start();
    }

    // Restores after dying: from a save point, or from a save of no save point.
    void die(bool atSavePoint)
    {
        saves.savedSavePoint = atSavePoint ? EntityHandle::make(3, 1).value : 0;
        statistics->countDeath();
    }
    u64 soundCount() { return context.sound->requestCount(); }

    // What the App's dispatcher does with a found leaderboard.
    void answerPlatform()
    {
        LeaderboardFoundEvent found {};
        while (events.queue.popByType(found, storedTypeOf(AppEventType::LeaderboardFound)))
            if (found.found)
                statistics->setLeaderboard(found.leaderboard);
    }
    std::vector<PlatformCall> callsNamed(const char* operation) const
    {
        std::vector<PlatformCall> named;
        for (const PlatformCall& call : platform.calls)
            if (call.operation == operation)
                named.push_back(call);
        return named;
    }

    LevelList levels;
    AppEventQueueStorage events;
    test::ScriptedPlatformServices platform { events.queue };
    InputSwitcher switcher;
    SaveGameSystem saves { context };
    LevelStatisticsSystem* statistics;
    EntityHandle collectibles[3];
    EntityHandle board;
};

TEST(LevelStatisticsSystem, PlayTimeRunsOnlyWhileTheGameItselfHasTheInput)
{
    StatisticsWorld w;
    w.tick(100); // the first tick only starts the clock
    EXPECT_EQ(w.statistics->playTime(), 99 * kStep);
    for (const i32 state : { kInputStateMenu, kInputStateCutscene, kInputStateLoadingScreen }) {
        ASSERT_TRUE(w.switcher.pushState(state));
        w.tick(50);
        w.switcher.popState();
    }
    EXPECT_EQ(w.statistics->playTime(), 99 * kStep);
    w.tick(50);
    EXPECT_EQ(w.statistics->playTime(), 149 * kStep);
}

TEST(LevelStatisticsSystem, ADeathAfterASavePointCountsAndAnyOtherTakesTheClockBackToTheSave)
{
    StatisticsWorld w;
    w.tick(11);
    w.statistics->saveQuickSave();
    EXPECT_EQ(w.statistics->quickSaveCount(), 1);
    EXPECT_EQ(w.statistics->quickSavePlayTime(), 10 * kStep);
    w.tick(30);
    {
        LogCapture info(3);
        w.die(true);
        w.die(true);
        EXPECT_TRUE(info.contains("Deaths: 1"));
        EXPECT_TRUE(info.contains("Deaths: 2"));
    }
    EXPECT_EQ(w.statistics->deaths(), 2);
    EXPECT_EQ(w.statistics->playTime(), 40 * kStep);

    w.die(false);
    EXPECT_EQ(w.statistics->deaths(), 2);
    EXPECT_EQ(w.statistics->playTime(), 10 * kStep);
    w.context.saveGame = nullptr;
    w.tick(5);
    w.statistics->countDeath();
    EXPECT_EQ(w.statistics->playTime(), 10 * kStep);
}

TEST(LevelStatisticsSystem, CapturingFreezesTheResultOnceAndOnlyWithABoard)
{
    StatisticsWorld bare(false);
    bare.statistics->captureLevelStats(bare.world());
    EXPECT_FALSE(bare.statistics->captured());
    EXPECT_EQ(bare.context.coroutine->fixedTickList().count(), 0u);

    StatisticsWorld w;
    EXPECT_EQ(w.statistics->display(), w.board);
    w.context.collectible->onCollected(w.collectibles[0], w.world());
    w.context.collectible->onCollected(w.collectibles[2], w.world());
    w.tick(201);
    w.die(true);
    w.statistics->captureLevelStats(w.world());
    ASSERT_TRUE(w.statistics->captured());
    const CapturedLevelResult& r = w.statistics->result();
    EXPECT_EQ(r.deaths, 1);
    EXPECT_EQ(r.pickedUp, 2);
    EXPECT_EQ(r.collected, 2);
    EXPECT_EQ(r.collectiblesInLevel, 3);
    EXPECT_EQ(r.timeMs, 2000u);
    EXPECT_EQ(w.statistics->countUp().result, &r);
    EXPECT_EQ(w.context.coroutine->fixedTickList().count(), 1u);

    // Later deaths still count, but the result stays as captured.
    w.die(true);
    w.tick(10);
    w.statistics->captureLevelStats(w.world());
    EXPECT_EQ(w.statistics->deaths(), 2);
    EXPECT_EQ(r.deaths, 1);
    EXPECT_EQ(r.timeMs, 2000u);
    EXPECT_EQ(w.context.coroutine->fixedTickList().count(), 1u);
}

TEST(LevelStatisticsSystem, TheCountUpTicksEveryDeathAndCollectibleATenthOfASecondApart)
{
    StatisticsWorld w;
    w.context.collectible->onCollected(w.collectibles[0], w.world());
    w.context.collectible->onCollected(w.collectibles[1], w.world());
    w.tick(151); // 1.5 s of play
    for (int i = 0; i < 3; ++i)
        w.die(true);
    w.statistics->captureLevelStats(w.world());
    const u64 capturedAt = w.now;
    const StatisticsCountUp& shown = w.statistics->countUp();

    struct Heard {
        u64 soundId;
        u64 at; // microseconds after the capture
    };
    std::vector<Heard> heard;
    std::vector<std::pair<u64, i32>> timeShown; // from the start sound to the first death tick
    for (int i = 0; i < 400 && w.context.coroutine->fixedTickList().count() != 0; ++i) {
        const u64 before = w.soundCount();
        const u64 tickTime = w.now;
        w.tick();
        for (u64 s = before; s < w.soundCount(); ++s)
            heard.push_back({ w.context.sound->request(s).soundId, tickTime - capturedAt });
        if (heard.size() == 1)
            timeShown.emplace_back(tickTime - heard[0].at - capturedAt, shown.shownTime);
    }
    ASSERT_EQ(heard.size(), 6u);
    EXPECT_EQ(heard[0].soundId, kTallySoundIds[0]);
    for (u64 i = 1; i <= 3; ++i)
        EXPECT_EQ(heard[i].soundId, kTallySoundIds[1]) << i;
    for (u64 i = 4; i <= 5; ++i)
        EXPECT_EQ(heard[i].soundId, kTallySoundIds[2]) << i;
    // The board waits 2.2 s, counts the time up for 0.3 s, then ticks.
    EXPECT_NEAR(static_cast<double>(heard[0].at), 2.2e6, 2.0 * kStep);
    EXPECT_NEAR(static_cast<double>(heard[1].at - heard[0].at), 0.3e6, 2.0 * kStep);
    for (u64 i = 2; i < heard.size(); ++i)
        EXPECT_NEAR(static_cast<double>(heard[i].at - heard[i - 1].at), 0.1e6, kStep) << i;

    EXPECT_EQ(shown.shownDeaths, 3);
    EXPECT_EQ(shown.shownCollected, 2);
    EXPECT_EQ(shown.shownTime, 1500);
    for (u64 i = 0; i < w.context.collectible->iconCount(); ++i)
        EXPECT_EQ(w.context.collectible->icon(i).state, CollectibleIconState::Spent) << i;

    // During the 0.3 s the shown time grows in step with the clock.
    ASSERT_GT(timeShown.size(), 20u);
    for (const auto& [at, value] : timeShown) {
        if (at >= 300'000)
            break;
        EXPECT_NEAR(value, static_cast<double>(at) / 300'000.0 * 1500.0, 1.0) << at;
    }
}

TEST(LevelStatisticsSystem, FormatsTheLevelTimeAsMinutesSecondsAndHundredths)
{
    const struct {
        u32 ms;
        const char* text;
    } cases[] = {
        { 75'432, " 1:15.43" },
        { 5'000, " 0:05.00" },
        { 0, " 0:00.00" },
        { 59'999, " 0:59.99" },
        { 600'000, "10:00.00" },
    };
    for (const auto& c : cases) {
        char buffer[128];
        formatLevelTime(buffer, sizeof buffer, c.ms);
        EXPECT_STREQ(buffer, c.text) << c.ms;
    }
    char small[4] = { 'x', 'x', 'x', 'x' };
    formatLevelTime(small, sizeof small, 75'432);
    EXPECT_STREQ(small, " 1:");
}

TEST(LevelStatisticsSystem, ScoreDetailsCarryTheRunWithCountsCappedAtAByte)
{
    const struct {
        SubmittedRun run;
        u8 expected[kLeaderboardScoreDetailsSize];
    } cases[] = {
        { { 3, 2, 5, 12, 75'432, 0x01020304 }, { 16, 0, 2, 3, 0, 5, 12, 0, 4, 3, 2, 1, 0, 0, 0, 0 } },
        { { 255, 0, 256, 1000, 1, -1 }, { 16, 0, 2, 255, 0, 255, 255, 0, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0 } },
        { { -4, 0, -1, 0, 0, 0 }, { 16, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 } },
    };
    for (const auto& c : cases) {
        u8 details[kLeaderboardScoreDetailsSize];
        std::memset(details, 0xcc, sizeof details);
        writeLeaderboardScoreDetails(details, c.run);
        EXPECT_EQ(std::vector<u8>(details, details + 16), std::vector<u8>(c.expected, c.expected + 16))
            << c.run.deaths;
    }
}

TEST(LevelStatisticsSystem, AnUploadThatHoldsTheLastReferenceFreesItsDetailsAndEndsItself)
{
    AppEventQueueStorage events;
    test::ScriptedPlatformServices platform(events.queue);
    quern::testing::CountingAllocator allocator;
    std::atomic<bool> submitted { false };
    auto* task = new LeaderboardSubmitTask(platform, 77, { 1, 2, 3, 4, 5'000, 9 }, &submitted, &allocator);
    // The task ends itself in its run; the details must not outlive it, nor be
    // freed from a task that is gone (an address checker sees the latter).
    quern::threads::Task::runInline(*task);
    EXPECT_TRUE(submitted.load());
    EXPECT_EQ(allocator.allocations, 1);
    EXPECT_EQ(allocator.live, 0);
    ASSERT_EQ(platform.uploads.size(), 1u);
    EXPECT_EQ(platform.uploads[0].leaderboard, 77u);
    EXPECT_EQ(platform.uploads[0].score, 5'000);
    EXPECT_EQ(platform.uploads[0].details[3], 1);
    EXPECT_EQ(platform.uploads[0].details[8], 9);
}

TEST(LevelStatisticsSystem, TheLevelsLeaderboardIsLookedUpByTheNameInItsRecord)
{
    StatisticsWorld named(true, 2);
    EXPECT_EQ(named.callsNamed("findLeaderboard"),
        (std::vector<PlatformCall> { PlatformCall { "findLeaderboard", "caverns_time", 2, 0 } }));
    named.answerPlatform();
    EXPECT_EQ(named.statistics->leaderboard(), 0x5eedu);

    for (const i32 level : { 1, 0, -1 }) {
        StatisticsWorld unnamed(true, level);
        EXPECT_TRUE(unnamed.callsNamed("findLeaderboard").empty()) << level;
    }
}

TEST(LevelStatisticsSystem, TheFirstCaptureWithALeaderboardSubmitsOnceAndAddsThePlaytime)
{
    StatisticsWorld w(true, 2);
    w.statistics->setLevelValue(42);
    w.context.collectible->onCollected(w.collectibles[1], w.world());
    w.tick(301); // 3 s
    // No board yet: the capture freezes the result but submits nothing.
    w.statistics->captureLevelStats(w.world());
    EXPECT_TRUE(w.statistics->captured());
    EXPECT_EQ(w.platform.uploadCount.load(), 0);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatPlaytime), 0u);

    w.answerPlatform();
    w.tick(100);
    w.statistics->captureLevelStats(w.world());
    ASSERT_EQ(w.platform.uploadCount.load(), 1);
    const test::ScriptedPlatformServices::Upload& upload = w.platform.uploads[0];
    EXPECT_EQ(upload.leaderboard, 0x5eedu);
    EXPECT_EQ(upload.score, 4'000);
    EXPECT_EQ(upload.details, (std::vector<u8> { 16, 0, 2, 0, 0, 1, 3, 0, 42, 0, 0, 0, 0, 0, 0, 0 }));
    EXPECT_TRUE(w.statistics->submitted());
    EXPECT_EQ(*PlayerProfile::statCounter(kStatPlaytime), 4'000u);

    // Submitted: the clock stops and another capture changes nothing.
    const CapturedLevelResult before = w.statistics->result();
    w.die(true);
    w.tick(50);
    w.statistics->captureLevelStats(w.world());
    EXPECT_EQ(w.platform.uploadCount.load(), 1);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatPlaytime), 4'000u);
    EXPECT_EQ(w.statistics->playTime(), 400 * kStep);
    EXPECT_EQ(std::memcmp(&before, &w.statistics->result(), sizeof before), 0);
}

TEST(LevelStatisticsSystem, TheUploadRunsOnADispatcherWorker)
{
    TaskDispatcher dispatcher;
    dispatcher.start(testing::threading(true, 3, 1), 64);
    ASSERT_TRUE(dispatcher.threaded());
    {
        StatisticsWorld w(true, 2, &dispatcher);
        w.answerPlatform();
        w.tick(11);
        w.statistics->captureLevelStats(w.world());
        EXPECT_TRUE(w.statistics->submitted());
        // This thread runs no chunk: it only waits for a worker to upload.
        for (int i = 0; i < 5000 && w.platform.uploadCount.load(std::memory_order_acquire) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(w.platform.uploadCount.load(std::memory_order_acquire), 1);
        EXPECT_NE(w.platform.uploads[0].thread, std::this_thread::get_id());
        EXPECT_EQ(w.platform.uploads[0].score, 100);
        w.tick(); // the world lets go of the finished upload
    }
    dispatcher.stop();
}

TEST(LevelStatisticsSystem, TheSessionCountsOncePerProcess)
{
    LevelStatisticsSystem::forgetSessionCounted();
    StatisticsWorld first;
    EXPECT_EQ(*PlayerProfile::statCounter(kStatSessions), 1u);
    EXPECT_TRUE(first.callsNamed("storeStatistic").empty()); // the platform's statistics never arrived
    first.statistics->worldStarted(first.world(), nullptr);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatSessions), 1u);

    LevelStatisticsSystem::forgetSessionCounted();
    PlayerProfile::statsReceived = true;
    *PlayerProfile::statCounter(kStatSessions) = 6;
    first.platform.calls.clear();
    first.statistics->worldStarted(first.world(), nullptr);
    EXPECT_EQ(*PlayerProfile::statCounter(kStatSessions), 7u);
    EXPECT_EQ(first.callsNamed("storeStatistic"),
        (std::vector<PlatformCall> { PlatformCall { "storeStatistic", "sessions", 7, 0 } }));
    PlayerProfile::clear();
}

} // namespace
} // namespace harmonize
