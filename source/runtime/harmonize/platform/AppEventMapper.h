#pragma once
// The platform services of a game without a storefront: every request is
// answered at once, by doing nothing, by zero-filling the caller's buffer, or
// by posting the app event a storefront would post later. The first update
// logs the player in.

#include "harmonize/platform/PlatformServices.h"

namespace harmonize {

class AppEventQueue;

class AppEventMapper final : public PlatformServices {
public:
    explicit AppEventMapper(AppEventQueue& queue);

    // An index outside the result indices is fatal ("Invalid platform result").
    void setMapping(i32 resultIndex, i32 storedType) override;
    // The stored app event type of a result index, -1 for none.
    i32 mapping(PlatformResult result) const { return m_mapping[static_cast<i32>(result)]; }

    void requestStatistics() override;
    void storeStatistics() override {}
    void findLeaderboard(const char*, i32, i32) override {}
    void uploadScore(u64, const LeaderboardScore&) override {}
    void downloadEntries(u64, i32, i32, i32) override {}
    void getDownloadedEntries(u64, LeaderboardEntry*, i32) override {}
    // No request is made: 0.
    i32 requestUserInformation(const u64*, i32) override { return 0; }
    void getUserInformation(i32, UserInformation*, i32) override {}
    void unlockAchievement(const char* name, u32 current, u32 target) override;
    // Every flag and value asked for reads 0.
    void readAchievements(const char* const* names, u8* flags, i32 count) override;
    void storeStatistic(const char* name, u32 value) override;
    void readStatistics(const char* const* names, u32* values, i32 count) override;
    UserPicture getPicture(u32, quern::memory::Allocator*) override { return {}; }
    // The first call posts the successful login of user 0; later calls do nothing.
    void update() override;

    bool authenticationPosted() const { return m_authenticationPosted; }

private:
    // The result's event without payload; lost when the ring is full.
    void postResult(PlatformResult result);

    AppEventQueue* m_queue;
    i32 m_mapping[kPlatformResultCount];
    bool m_authenticationPosted = false;
};

// The event each result is answered by in this game.
void mapGameEvents(PlatformServices& platform);

} // namespace harmonize
