#pragma once
// Platform services that answer nothing and write down, in order, every call
// with its name, text argument and values. Reads fill the caller's buffer from
// the answers a test set, or leave it untouched when none was set.

#include "harmonize/platform/PlatformServices.h"

#include <ostream>
#include <string>
#include <vector>

namespace harmonize::test {

struct PlatformCall {
    std::string operation;
    std::string name;
    u64 first = 0;
    u64 second = 0;

    bool operator==(const PlatformCall&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const PlatformCall& call)
{
    return out << call.operation << "(\"" << call.name << "\", " << call.first << ", " << call.second << ")";
}

class RecordingPlatformServices : public PlatformServices {
public:
    std::vector<PlatformCall> calls;
    // What the reads hand back, element by element up to the count asked for.
    std::vector<u8> achievementAnswers;
    std::vector<u32> statisticAnswers;
    // The name lists the reads were given, as texts.
    std::vector<std::string> achievementNamesRead;
    std::vector<std::string> statisticNamesRead;

    void setMapping(i32 resultIndex, i32 storedType) override
    {
        record("setMapping", "", u64(resultIndex), u64(storedType));
    }
    void requestStatistics() override { record("requestStatistics"); }
    void storeStatistics() override { record("storeStatistics"); }
    void findLeaderboard(const char* name, i32 sortMethod, i32 displayType) override
    {
        record("findLeaderboard", name, u64(sortMethod), u64(displayType));
    }
    void uploadScore(u64 leaderboard, const LeaderboardScore& score) override
    {
        record("uploadScore", "", leaderboard, u64(score.score));
    }
    void downloadEntries(u64 leaderboard, i32 mode, i32 first, i32 last) override
    {
        record("downloadEntries", std::to_string(mode), leaderboard, (u64(u32(first)) << 32) | u32(last));
    }
    void getDownloadedEntries(u64 download, LeaderboardEntry*, i32 count) override
    {
        record("getDownloadedEntries", "", download, u64(count));
    }
    i32 requestUserInformation(const u64* userIds, i32 count) override
    {
        record("requestUserInformation", "", count > 0 ? userIds[0] : 0, u64(count));
        return 0;
    }
    void getUserInformation(i32 request, UserInformation*, i32 count) override
    {
        record("getUserInformation", "", u64(request), u64(count));
    }
    void unlockAchievement(const char* name, u32 current, u32 target) override
    {
        record("unlockAchievement", name, current, target);
    }
    void readAchievements(const char* const* names, u8* flags, i32 count) override
    {
        record("readAchievements", "", u64(count));
        achievementNamesRead.assign(names, names + count);
        for (i32 i = 0; i < count && size_t(i) < achievementAnswers.size(); ++i)
            flags[i] = achievementAnswers[size_t(i)];
    }
    void storeStatistic(const char* name, u32 value) override { record("storeStatistic", name, value); }
    void readStatistics(const char* const* names, u32* values, i32 count) override
    {
        record("readStatistics", "", u64(count));
        statisticNamesRead.assign(names, names + count);
        for (i32 i = 0; i < count && size_t(i) < statisticAnswers.size(); ++i)
            values[i] = statisticAnswers[size_t(i)];
    }
    UserPicture getPicture(u32 pictureId, quern::memory::Allocator*) override
    {
        record("getPicture", "", pictureId);
        return {};
    }
    void update() override { record("update"); }

private:
    void record(const char* operation, std::string name = {}, u64 first = 0, u64 second = 0)
    {
        calls.push_back({operation, std::move(name), first, second});
    }
};

} // namespace harmonize::test
