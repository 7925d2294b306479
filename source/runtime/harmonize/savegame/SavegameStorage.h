#pragma once
// The savegame's side of the asynchronous user storage. Completions run on the
// storage worker thread and touch nothing of the Savegame: they answer with
// savegame app events, and a read leaves what it decoded here until the main
// thread installs it on SavegameLoaded. Every write carries its own copy of
// the file image, so a later finish never changes bytes still being written.

#include "harmonize/savegame/Savegame.h"
#include "quern/debug/MutexImpl.h"
#include "quern/io/UserStorage.h"

#include <atomic>

namespace harmonize {

class SavegameStorage final : public quern::io::UserStorageListener {
public:
    SavegameStorage() = default;
    SavegameStorage(const SavegameStorage&) = delete;
    SavegameStorage& operator=(const SavegameStorage&) = delete;

    // Size and read requests answer through this object, which must outlive
    // them. The result is the storage's immediate answer.
    quern::io::UserStorageResult requestSize(quern::io::AsyncUserStorage& storage, AppEventQueue& queue);
    quern::io::UserStorageResult requestRead(quern::io::AsyncUserStorage& storage, AppEventQueue& queue);
    // Sends the image of `record` to the file; a refusal is logged as an error.
    static void requestWrite(quern::io::AsyncUserStorage& storage, AppEventQueue& queue, const ProgressRecord& record);

    // Moves the record the last successful read decoded into `out`; false when
    // none is waiting.
    bool takeLoaded(ProgressRecord& out);

    void onUserStorageComplete(const quern::io::UserStorageResult& result) override;

private:
    void onSize(const quern::io::UserStorageResult& result);
    void onRead(const quern::io::UserStorageResult& result);

    std::atomic<AppEventQueue*> m_queue { nullptr };
    // Filled by the one read the savegame makes (a second one is never in flight).
    u8 m_image[kSavegameImageSize] = {};
    quern::debug::MutexImpl m_lock;
    ProgressRecord m_loaded {};
    bool m_hasLoaded = false;
};

// Posts a savegame event with its error text (null on success) and flag,
// growing a full queue.
void postSavegameResult(AppEventQueue& queue, AppEventType type, const char* errorText, bool succeeded);

} // namespace harmonize
