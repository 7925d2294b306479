#include "harmonize/platform/AppEventMapper.h"

#include "harmonize/utils/AppEventQueue.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace harmonize {

AppEventMapper::AppEventMapper(AppEventQueue& queue)
    : m_queue(&queue)
{
    for (i32& stored : m_mapping)
        stored = -1;
}

void AppEventMapper::setMapping(i32 resultIndex, i32 storedType)
{
    if (resultIndex < 0 || resultIndex >= kPlatformResultCount)
        QUERN_FATAL("Invalid platform result");
    m_mapping[resultIndex] = storedType;
}

void AppEventMapper::postResult(PlatformResult result)
{
    const i32 stored = mapping(result);
    if (stored >= 0)
        m_queue->post(static_cast<u16>(stored));
}

void AppEventMapper::requestStatistics() { postResult(PlatformResult::StatisticsReceived); }

void AppEventMapper::unlockAchievement(const char*, u32, u32) { postResult(PlatformResult::AchievementUnlocked); }

void AppEventMapper::storeStatistic(const char*, u32) { postResult(PlatformResult::StatisticStored); }

void AppEventMapper::readAchievements(const char* const*, u8* flags, i32 count)
{
    if (count > 0)
        std::memset(flags, 0, static_cast<size_t>(count));
}

void AppEventMapper::readStatistics(const char* const*, u32* values, i32 count)
{
    if (count > 0)
        std::memset(values, 0, static_cast<size_t>(count) * sizeof(u32));
}

void AppEventMapper::update()
{
    if (m_authenticationPosted)
        return;
    m_authenticationPosted = true;
    const i32 stored = mapping(PlatformResult::Authentication);
    if (stored < 0)
        return;
    // The login must arrive: a full ring grows for it.
    const PlayerAuthEvent login { 0, 0, {} };
    m_queue->pushGrowing(appEventTypeOf(static_cast<u16>(stored)), &login, sizeof login);
}

void mapGameEvents(PlatformServices& platform)
{
    struct Row {
        PlatformResult result;
        AppEventType event;
    };
    static constexpr Row kRows[] = {
        { PlatformResult::Authentication, AppEventType::PlayerAuth },
        { PlatformResult::AchievementUnlocked, AppEventType::AchievementUnlocked },
        { PlatformResult::LeaderboardFound, AppEventType::LeaderboardFound },
        { PlatformResult::LeaderboardScoreSubmitted, AppEventType::LeaderboardScoreSubmitted },
        { PlatformResult::LeaderboardScoresReceived, AppEventType::LeaderboardScoresReceived },
        { PlatformResult::StatisticsReceived, AppEventType::PlayerStatsReceived },
        { PlatformResult::UserInformationReceived, AppEventType::UserInfoReceived },
        { PlatformResult::MusicPlaybackChanged, AppEventType::MusicPlaybackChanged },
    };
    for (const Row& row : kRows)
        platform.setMapping(static_cast<i32>(row.result), storedTypeOf(row.event));
}

} // namespace harmonize
