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
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::testing::LogCapture;

constexpr u64 kStep = testing::AnimationWorld::kTickStep;

// A level world with the statistics, the coroutines, the collectibles, a
// save-game system and a sound system whose requests stay queued. The level
// holds three collectibles and, unless told otherwise, the statistics board.
// Its clock starts at 1 s.
struct StatisticsWorld : testing::AnimationWorld {
    explicit StatisticsWorld(bool withBoard = true)
    {
        now = 1'000'000;
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

} // namespace
} // namespace harmonize
