#pragma once
// Measures a level run: the play time while the game is played (not in menus,
// cutscenes or loading), the deaths and the collectibles. When the level ends
// the result is frozen and counted up on the level's statistics board, with a
// tick sound per death and per collectible. One per level world.

#include "harmonize/components/Components.h"

#include "quern/entity/System.h"

namespace harmonize {

struct AppContext;

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

class LevelStatisticsSystem final : public quern::entity::System {
public:
    explicit LevelStatisticsSystem(AppContext& context);

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // A quick-save restore: a run resumed from a save point counts a death;
    // any other save takes the play time back to the save's.
    void countDeath();
    // A quick save counts one save and keeps the play time it was made at.
    void saveQuickSave();
    // The level ends: the first call with a board freezes the result and
    // starts the count-up; later calls change nothing.
    void captureLevelStats(quern::entity::World& world);

    u64 playTime() const { return m_playTime; } // microseconds
    u64 quickSavePlayTime() const { return m_quickSavePlayTime; }
    i32 deaths() const { return m_deaths; }
    i32 quickSaveCount() const { return m_quickSaveCount; }
    bool captured() const { return m_captured; }
    EntityHandle display() const { return m_display; }
    const CapturedLevelResult& result() const { return m_result; }
    const StatisticsCountUp& countUp() const { return m_countUp; }

private:
    AppContext* m_context;
    CapturedLevelResult m_result {};
    StatisticsCountUp m_countUp {};
    EntityHandle m_display;
    u64 m_lastTime = 0; // 0: no tick yet
    u64 m_playTime = 0;
    u64 m_quickSavePlayTime = 0;
    i32 m_deaths = 0;
    i32 m_quickSaveCount = 0;
    bool m_submitted = false; // a submitted result stops the clock
    bool m_captured = false;
};

// The board's time text: minutes (two places, space-padded), seconds and
// hundredths, " 1:15.43" for 75,432 ms.
void formatLevelTime(char* buffer, u64 size, u32 milliseconds);

} // namespace harmonize
