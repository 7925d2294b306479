#pragma once
// The storefront services the game talks to: login, player statistics,
// achievements, leaderboards and user information. Requests return at once;
// results arrive later as app events, each kind of result posted as the event
// that setMapping assigned to its index, so one interface serves any storefront.
// The operations are declared in the order storefront back ends expect them.

#include "quern/Types.h"

#include <cstddef>

namespace quern::memory {
class Allocator;
}

namespace harmonize {

using quern::i32;
using quern::u32;
using quern::u64;
using quern::u8;

// Result indices that setMapping assigns app events to.
enum class PlatformResult : i32 {
    Authentication = 0,
    AchievementUnlocked = 1,
    LeaderboardFound = 2,
    LeaderboardScoresReceived = 3,
    LeaderboardScoreSubmitted = 4,
    StatisticsReceived = 5,
    StatisticStored = 6,
    UserInformationReceived = 7,
    MusicPlaybackChanged = 8,
    Unassigned = 9,
};
inline constexpr i32 kPlatformResultCount = 10;

// A score sent to a leaderboard, with the game's opaque details block.
struct LeaderboardScore {
    const void* details = nullptr;
    u32 detailsSize = 0;
    i32 score = 0;
};

// One downloaded leaderboard row.
struct LeaderboardEntry {
    u64 playerId = 0;
    u64 reserved[2] = {};
    i32 rank = 0;
    i32 score = 0;
};
static_assert(sizeof(LeaderboardEntry) == 32);
static_assert(offsetof(LeaderboardEntry, rank) == 24 && offsetof(LeaderboardEntry, score) == 28);

// One user's information; the name belongs to the platform.
struct UserInformation {
    u64 playerId = 0;
    const char* name = nullptr;
    u32 pictureId = 0;
    u32 reserved0 = 0;
    u64 reserved1 = 0;
};
static_assert(sizeof(UserInformation) == 32);

// A user's picture as 32-bit B-G-R-A pixels, allocated from the allocator the
// caller gave; all zero when there is none.
struct UserPicture {
    void* data = nullptr;
    u64 size = 0;
    u32 width = 0;
    u32 height = 0;
};
static_assert(sizeof(UserPicture) == 24);

class PlatformServices {
public:
    virtual ~PlatformServices() = default;

    // Which stored app event type (AppEventType less one, -1 none) answers a result index.
    virtual void setMapping(i32 resultIndex, i32 storedType) = 0;

    // Asks for the player's statistics and achievements; answered by StatisticsReceived.
    virtual void requestStatistics() = 0;
    // Sends the statistics set so far to the platform.
    virtual void storeStatistics() = 0;

    // Starts a search for the leaderboard of that name; answered by LeaderboardFound.
    virtual void findLeaderboard(const char* name, i32 sortMethod, i32 displayType) = 0;
    // Answered by LeaderboardScoreSubmitted.
    virtual void uploadScore(u64 leaderboard, const LeaderboardScore& score) = 0;
    // Asks for the rows of ranks first to last (mode 1: relative to the player);
    // answered by LeaderboardScoresReceived with a download handle.
    virtual void downloadEntries(u64 leaderboard, i32 mode, i32 first, i32 last) = 0;
    // Fills count rows of a finished download.
    virtual void getDownloadedEntries(u64 download, LeaderboardEntry* entries, i32 count) = 0;

    // Asks for the information of count users; returns the request (0 none),
    // answered by UserInformationReceived.
    virtual i32 requestUserInformation(const u64* userIds, i32 count) = 0;
    // Fills count records of a finished request.
    virtual void getUserInformation(i32 request, UserInformation* records, i32 count) = 0;

    // Reports progress of an achievement; the platform unlocks it at its target.
    virtual void unlockAchievement(const char* name, u32 current, u32 target) = 0;
    // Reads count achievement flags (1 unlocked) by name.
    virtual void readAchievements(const char* const* names, u8* flags, i32 count) = 0;
    // Sets one statistic by name.
    virtual void storeStatistic(const char* name, u32 value) = 0;
    // Reads count statistic values by name.
    virtual void readStatistics(const char* const* names, u32* values, i32 count) = 0;

    virtual UserPicture getPicture(u32 pictureId, quern::memory::Allocator* allocator) = 0;

    // Once per frame on the main thread.
    virtual void update() = 0;
};

} // namespace harmonize
