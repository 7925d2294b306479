#pragma once
// Measures a level run: the play time while the game is played (not in menus,
// cutscenes or loading), the deaths and the collectibles. When the level ends
// the result is frozen and counted up on the level's statistics board, with a
// tick sound per death and per collectible, and the time goes to the level's
// leaderboard; the player's rank shows on the board once the platform answers.
// One per level world.

#include "harmonize/components/Components.h"

#include "quern/entity/System.h"
#include "quern/language/RefCounted.h"
#include "quern/threads/Task.h"

#include <atomic>

namespace quern::memory {
class Allocator;
}

namespace harmonize {

struct AppContext;
class PlatformServices;

// The run as it stood when the level ended, frozen for the board. (The
// savegame's LevelResult is the record a finished level hands to progress.)
struct CapturedLevelResult {
    i32 deaths;
    i32 pickedUp; // collectibles picked up in this run
    i32 collected; // the collectibles in hand: start money plus pick-ups, less payments
    i32 collectiblesInLevel;
    u32 timeMs;
};

// What the board shows while the result counts up.
struct StatisticsCountUp {
    u64 startTime; // world microseconds
    i32 shownTime; // milliseconds
    i32 shownDeaths;
    i32 shownCollected;
    const CapturedLevelResult* result;
};

// The run a time is submitted with.
struct SubmittedRun {
    i32 deaths;
    i32 pickedUp;
    i32 collected;
    i32 collectiblesInLevel;
    u32 timeMs;
    i32 levelValue; // the level's value from its world asset record
};

// The details block a score carries to the leaderboard: a size byte, a
// version, the deaths, collected count and collectibles in the level (each
// capped at 255) and the level value.
inline constexpr u32 kLeaderboardScoreDetailsSize = 16;
void writeLeaderboardScoreDetails(u8 (&details)[kLeaderboardScoreDetailsSize], const SubmittedRun& run);

// Uploads one score from a dispatcher worker. It holds one reference of its
// own from creation and gives it up when it ran, so whoever hands it over
// keeps a reference while the dispatcher may still touch it.
class LeaderboardSubmitTask final : public quern::threads::Task, public quern::RefCounted {
public:
    // The details come from `allocator` (null: the default allocator).
    LeaderboardSubmitTask(PlatformServices& platform, u64 leaderboard, const SubmittedRun& run,
        std::atomic<bool>* submitted, quern::memory::Allocator* allocator = nullptr);

    void run(quern::threads::TaskRange range) override;

private:
    PlatformServices* m_platform;
    quern::memory::Allocator* m_allocator;
    std::atomic<bool>* m_submitted;
    u64 m_leaderboard;
    SubmittedRun m_run;
};

class LevelStatisticsSystem final : public quern::entity::System {
public:
    explicit LevelStatisticsSystem(AppContext& context);
    ~LevelStatisticsSystem() override;

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    // Writes the board's texts while the result counts up.
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // A quick-save restore: a run resumed from a save point counts a death;
    // any other save takes the play time back to the save's.
    void countDeath();
    // A quick save counts one save and keeps the play time it was made at.
    void saveQuickSave();
    // The level ends: the first call with a board freezes the result and
    // starts the count-up; later calls change nothing.
    // With a leaderboard, the first capture also submits the time and adds it
    // to the player's "playtime".
    void captureLevelStats(quern::entity::World& world);

    // The platform found the level's leaderboard.
    void setLeaderboard(u64 handle) { m_leaderboard = handle; }
    // Set at level start, after the world started.
    void setLevelValue(i32 value) { m_levelValue = value; }
    // The platform ranked the submitted time: a rank other than 0 shows on the board.
    void showLeaderboardRank(i32 rank, quern::entity::World& world);

    // The session is counted once per process; tests start over.
    static void forgetSessionCounted();

    u64 leaderboard() const { return m_leaderboard; }
    i32 levelValue() const { return m_levelValue; }
    i32 rank() const { return m_rank; }
    bool submitted() const { return m_submitted.load(std::memory_order_acquire); }
    u64 playTime() const { return m_playTime; } // microseconds
    u64 quickSavePlayTime() const { return m_quickSavePlayTime; }
    i32 deaths() const { return m_deaths; }
    i32 quickSaveCount() const { return m_quickSaveCount; }
    bool captured() const { return m_captured; }
    EntityHandle display() const { return m_display; }
    const CapturedLevelResult& result() const { return m_result; }
    const StatisticsCountUp& countUp() const { return m_countUp; }

private:
    void countSession();
    void findLeaderboard();
    void freezeResult(quern::entity::World& world);
    void submit();
    // Lets go of a finished upload; `wait` first waits for one still running.
    void releaseSubmission(bool wait);

    AppContext* m_context;
    quern::Ref m_submission; // the upload in flight, until it completed
    u64 m_leaderboard = 0; // 0 until the platform found it
    CapturedLevelResult m_result {};
    StatisticsCountUp m_countUp {};
    EntityHandle m_display;
    u64 m_lastTime = 0; // 0: no tick yet
    u64 m_playTime = 0;
    u64 m_quickSavePlayTime = 0;
    i32 m_deaths = 0;
    i32 m_quickSaveCount = 0;
    i32 m_rank = 0;
    i32 m_levelValue = 0;
    // A submitted result stops the clock; the upload sets it too, on its worker.
    std::atomic<bool> m_submitted { false };
    bool m_captured = false;
    char m_deathsText[16] {};
    char m_collectedText[16] {};
    char m_timeText[128] {};
    char m_rankText[16] {};
};

// The board's time text: minutes (two places, space-padded), seconds and
// hundredths, " 1:15.43" for 75,432 ms.
void formatLevelTime(char* buffer, u64 size, u32 milliseconds);

} // namespace harmonize
