#include "harmonize/utils/AppEventType.h"

namespace harmonize {
namespace {

struct AppEventInfo {
    const char* name;
    u32 payloadSize;
};

constexpr AppEventInfo kAppEvents[kAppEventTypeCount] = {
    { "Invalid", 0 },
    { "LoadLevel", 12 },
    { "TestLevel", 12 },
    { "LevelFinished", 0 },
    { "SwitchWorld", 0 },
    { "LevelReload", 0 },
    { "LoadingFinished", 16 },
    { "SaveProgress", 0 },
    { "LoadSaveGame", 0 },
    { "Quit", 0 },
    { "Resume", 0 },
    { "MouseModeChange", 2 },
    { "ShowMenu", 2 },
    { "ChangeDisplayResolution", 1 },
    { "AchievementUnlocked", 0 },
    { "LeaderboardFound", 16 },
    { "LeaderboardScoreSubmitted", 24 },
    { "LeaderboardScoresReceived", 24 },
    { "UserInfoReceived", 16 },
    { "ShowLeaderboard", 4 },
    { "CloseLeaderboard", 0 },
    { "PlayerStatsReceived", 0 },
    { "PlayerStatUpdated", 0 },
    { "MusicPlaybackChanged", 8 },
    { "PlayerAuth", 16 },
    { "SavegameFound", 16 },
    { "SavegameMissing", 16 },
    { "SavegameLoaded", 16 },
    { "SavegameStored", 16 },
    { "InputDeviceChanged", 1 },
    { "InputContextChanged", 4 },
    { "SwitchProfile", 0 },
};

bool isValid(AppEventType type)
{
    const i32 value = static_cast<i32>(type);
    return value >= 0 && value < kAppEventTypeCount;
}

} // namespace

const char* toString(AppEventType type)
{
    return isValid(type) ? kAppEvents[static_cast<i32>(type)].name : "<Invalid AppEventType>";
}

u32 appEventPayloadSize(AppEventType type)
{
    return isValid(type) ? kAppEvents[static_cast<i32>(type)].payloadSize : 0;
}

} // namespace harmonize
