#pragma once
// Platform services that answer leaderboard requests the way a storefront
// does: through app events posted to the queue, from whichever thread asked.
// Finding a board answers with the scripted handle (found when not 0); an
// upload keeps the score and its details and answers with the scripted rank.

#include "harmonize/utils/AppEventQueue.h"

#include "support/harmonize/RecordingPlatformServices.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace harmonize::test {

class ScriptedPlatformServices : public RecordingPlatformServices {
public:
    explicit ScriptedPlatformServices(AppEventQueue& queue)
        : m_queue(&queue)
    {
    }

    void findLeaderboard(const char* name, i32 sortMethod, i32 displayType) override
    {
        RecordingPlatformServices::findLeaderboard(name, sortMethod, displayType);
        LeaderboardFoundEvent found {};
        found.leaderboard = leaderboard;
        found.found = leaderboard != 0;
        m_queue->postEvent(AppEventType::LeaderboardFound, &found, sizeof found);
    }

    void uploadScore(u64 board, const LeaderboardScore& score) override
    {
        {
            std::lock_guard lock(m_mutex);
            const u8* bytes = static_cast<const u8*>(score.details);
            uploads.push_back({ board, score.score, std::vector<u8>(bytes, bytes + score.detailsSize),
                std::this_thread::get_id() });
        }
        LeaderboardScoreSubmittedEvent submitted {};
        submitted.rank = rank;
        submitted.succeeded = 1;
        m_queue->postEvent(AppEventType::LeaderboardScoreSubmitted, &submitted, sizeof submitted);
        uploadCount.fetch_add(1, std::memory_order_release);
    }

    struct Upload {
        u64 leaderboard;
        i32 score;
        std::vector<u8> details;
        std::thread::id thread;
    };

    u64 leaderboard = 0x5eed; // the handle a search finds; 0: none
    i32 rank = 3;
    std::vector<Upload> uploads; // read once uploadCount says they are there
    std::atomic<int> uploadCount { 0 };

private:
    AppEventQueue* m_queue;
    std::mutex m_mutex;
};

} // namespace harmonize::test
