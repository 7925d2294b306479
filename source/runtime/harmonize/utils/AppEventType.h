#pragma once
// The requests that game systems, workers and platform services send to the
// application shell, and the payload each carries. In the queue every event is
// stored under its value minus one, so Invalid never reaches the ring.

#include "quern/Types.h"

#include <cstddef>

namespace harmonize {

using quern::i32;
using quern::u16;
using quern::u32;
using quern::u64;
using quern::u8;

enum class AppEventType : i32 {
    Invalid = 0,
    LoadLevel,
    TestLevel,
    LevelFinished,
    SwitchWorld,
    LevelReload,
    LoadingFinished,
    SaveProgress,
    LoadSaveGame,
    Quit,
    Resume,
    MouseModeChange,
    ShowMenu,
    ChangeDisplayResolution,
    AchievementUnlocked,
    LeaderboardFound,
    LeaderboardScoreSubmitted,
    LeaderboardScoresReceived,
    UserInfoReceived,
    ShowLeaderboard,
    CloseLeaderboard,
    PlayerStatsReceived,
    PlayerStatUpdated,
    MusicPlaybackChanged,
    PlayerAuth,
    SavegameFound,
    SavegameMissing,
    SavegameLoaded,
    SavegameStored,
    InputDeviceChanged,
    InputContextChanged,
    SwitchProfile,
};

inline constexpr i32 kAppEventTypeCount = 32;
// The largest stored type a record may carry (SwitchProfile).
inline constexpr u16 kMaxStoredAppEventType = kAppEventTypeCount - 2;

// "<Invalid AppEventType>" for any value outside the enumeration.
const char* toString(AppEventType type);

constexpr u16 storedTypeOf(AppEventType type) { return static_cast<u16>(static_cast<i32>(type) - 1); }
constexpr AppEventType appEventTypeOf(u16 storedType) { return static_cast<AppEventType>(i32 { storedType } + 1); }

// Payloads, laid out byte for byte as posters and the dispatcher share them.
// Padding bytes are never read.

// LoadLevel and TestLevel. level: -1 the next level, -2 the current one;
// world: -1 the inactive level world, else 0, 1 or 2.
struct LoadLevelEvent {
    i32 level;
    i32 world;
    u8 switchWhenLoaded;
    u8 unused[3];
};
static_assert(sizeof(LoadLevelEvent) == 12);

struct LoadingFinishedEvent {
    u64 worldAssetId;
    i32 targetWorld;
    u8 switchWhenLoaded;
    u8 unused[3];
};
static_assert(sizeof(LoadingFinishedEvent) == 16);

struct MouseModeChangeEvent {
    u8 relative;
    u8 cursorShown;
};
static_assert(sizeof(MouseModeChangeEvent) == 2);

struct ShowMenuEvent {
    u8 show;
    u8 pauseLevel; // also mark the current level world paused
};
static_assert(sizeof(ShowMenuEvent) == 2);

struct ChangeDisplayResolutionEvent {
    u8 changeMode; // 0: only the internal frame size changed
};
static_assert(sizeof(ChangeDisplayResolutionEvent) == 1);

struct InputDeviceChangedEvent {
    u8 activeController; // 255: none
};
static_assert(sizeof(InputDeviceChangedEvent) == 1);

struct InputContextChangedEvent {
    i32 switcherState;
};
static_assert(sizeof(InputContextChangedEvent) == 4);

struct MusicPlaybackChangedEvent {
    u8 unused[4];
    u8 playing;
    u8 unused2[3];
};
static_assert(sizeof(MusicPlaybackChangedEvent) == 8 && offsetof(MusicPlaybackChangedEvent, playing) == 4);

// result: 0 success, 1 to 3 failure, anything else neither.
struct PlayerAuthEvent {
    u64 userId;
    u8 result;
    u8 unused[7];
};
static_assert(sizeof(PlayerAuthEvent) == 16 && offsetof(PlayerAuthEvent, result) == 8);

// SavegameFound, SavegameMissing, SavegameLoaded and SavegameStored.
struct SavegameResultEvent {
    const char* errorText;
    u8 succeeded;
    u8 unused[7];
};
static_assert(sizeof(SavegameResultEvent) == 16 && offsetof(SavegameResultEvent, succeeded) == 8);

struct LeaderboardFoundEvent {
    u64 leaderboard;
    u8 unused[4];
    u8 found;
    u8 unused2[3];
};
static_assert(sizeof(LeaderboardFoundEvent) == 16 && offsetof(LeaderboardFoundEvent, found) == 12);

struct LeaderboardScoreSubmittedEvent {
    u8 unused[12];
    i32 rank;
    u8 succeeded;
    u8 unused2[7];
};
static_assert(sizeof(LeaderboardScoreSubmittedEvent) == 24 && offsetof(LeaderboardScoreSubmittedEvent, rank) == 12
    && offsetof(LeaderboardScoreSubmittedEvent, succeeded) == 16);

// Payload size of each event type, by value; 0 for the types without one.
u32 appEventPayloadSize(AppEventType type);

} // namespace harmonize
