#include "harmonize/savegame/SavegameStorage.h"

#include "harmonize/utils/AppEventQueue.h"
#include "quern/debug/Log.h"
#include "quern/io/AsyncUserStorage.h"

#include <cstring>
#include <ostream>

namespace harmonize {

using quern::io::AsyncUserStorage;
using quern::io::UserStorageError;
using quern::io::UserStorageOperation;
using quern::io::UserStorageResult;

namespace {

constexpr const char* kInvalidSavegame = "Invalid savegame";

// One write in flight: the image it sends lives exactly as long as the
// request and is freed when the storage has answered.
class SavegameWrite final : public quern::io::UserStorageListener {
public:
    SavegameWrite(AppEventQueue& queue, const ProgressRecord& record)
        : m_queue(queue)
    {
        Savegame::scrambleImage(record, m_image);
    }

    const u8* image() const { return m_image; }

    void onUserStorageComplete(const UserStorageResult& result) override
    {
        const bool written = result.code == UserStorageError::NoError;
        postSavegameResult(m_queue, AppEventType::SavegameStored, written ? nullptr : result.message, written);
        delete this;
    }

private:
    AppEventQueue& m_queue;
    u8 m_image[kSavegameImageSize];
};

} // namespace

void postSavegameResult(AppEventQueue& queue, AppEventType type, const char* errorText, bool succeeded)
{
    SavegameResultEvent event {};
    event.errorText = errorText;
    event.succeeded = succeeded ? 1 : 0;
    queue.pushGrowing(type, &event, sizeof event);
}

UserStorageResult SavegameStorage::requestSize(AsyncUserStorage& storage, AppEventQueue& queue)
{
    m_queue.store(&queue, std::memory_order_release);
    return storage.requestFileSize(kSavegameFileName, this);
}

UserStorageResult SavegameStorage::requestRead(AsyncUserStorage& storage, AppEventQueue& queue)
{
    m_queue.store(&queue, std::memory_order_release);
    return storage.requestRead(kSavegameFileName, m_image, kSavegameImageSize, this);
}

void SavegameStorage::requestWrite(AsyncUserStorage& storage, AppEventQueue& queue, const ProgressRecord& record)
{
    SavegameWrite* write = new SavegameWrite(queue, record);
    const UserStorageResult queued
        = storage.requestWrite(kSavegameFileName, write->image(), kSavegameImageSize, 0, write);
    if (queued.code != UserStorageError::NoError) {
        // A refused request never completes: the progress of this finish
        // reaches the file only with the next one.
        QUERN_LOG(1) << "Savegame not written: " << queued.message << std::endl;
        delete write;
    }
}

bool SavegameStorage::takeLoaded(ProgressRecord& out)
{
    quern::debug::MutexLock lock(m_lock);
    if (!m_hasLoaded)
        return false;
    out = m_loaded;
    m_hasLoaded = false;
    return true;
}

void SavegameStorage::onUserStorageComplete(const UserStorageResult& result)
{
    switch (result.operation) {
    case UserStorageOperation::FileSize:
        onSize(result);
        break;
    case UserStorageOperation::Read:
        onRead(result);
        break;
    default:
        break;
    }
}

void SavegameStorage::onSize(const UserStorageResult& result)
{
    AppEventQueue& queue = *m_queue.load(std::memory_order_acquire);
    if (result.code == UserStorageError::NoError)
        postSavegameResult(queue, AppEventType::SavegameFound, nullptr, true);
    else
        postSavegameResult(
            queue, AppEventType::SavegameMissing, result.message, result.code == UserStorageError::PathNotFound);
}

void SavegameStorage::onRead(const UserStorageResult& result)
{
    AppEventQueue& queue = *m_queue.load(std::memory_order_acquire);
    // A file shorter than the image reads short, which the storage calls a
    // read error: that is a damaged savegame, not a storage failure.
    if (result.code != UserStorageError::NoError && result.code != UserStorageError::ReadError) {
        postSavegameResult(queue, AppEventType::SavegameLoaded, result.message, false);
        return;
    }
    ProgressRecord decoded;
    if (!Savegame::unscrambleImage(decoded, m_image, result.value)) {
        postSavegameResult(queue, AppEventType::SavegameLoaded, kInvalidSavegame, false);
        return;
    }
    {
        quern::debug::MutexLock lock(m_lock);
        m_loaded = decoded;
        m_hasLoaded = true;
    }
    postSavegameResult(queue, AppEventType::SavegameLoaded, nullptr, true);
}

} // namespace harmonize
