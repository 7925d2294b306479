#pragma once
// User-file requests run on the background worker thread so the game never blocks on
// storage. Each request returns at once; the real outcome goes to the request's
// listener, on the worker thread. The caller keeps the name, buffer and data alive
// and unchanged until the completion arrives.

#include "quern/containers/BlockPool.h"
#include "quern/debug/MutexImpl.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/io/UserStorage.h"
#include "quern/memory/Allocator.h"
#include "quern/threads/Task.h"
#include "quern/threads/TaskQueuePool.h"

#include <atomic>
#include <optional>

namespace quern::io {

class AsyncUserStorage;

// One queued request: a task of the background worker. Lives in its storage's
// request pool and goes back there once it has run and reported.
class UserStorageRequest final : public threads::Task {
public:
    UserStorageRequest(AsyncUserStorage& storage, UserStorageOperation operation, const char* name, void* buffer,
                       u64 size, i32 flag, UserStorageListener* listener);

    void run(threads::TaskRange range) override;

private:
    AsyncUserStorage& m_storage;
    UserStorageOperation m_operation;
    const char* m_name;
    void* m_buffer; // the read buffer, or the write data
    u64 m_size;
    i32 m_flag;
    UserStorageListener* m_listener;
    void* m_poolLink = nullptr; // the request pool's free-list link while the record is free
};

class AsyncUserStorage : public UserStorage {
public:
    static constexpr u64 kRequestGrowCount = 8;

    AsyncUserStorage() = default;
    ~AsyncUserStorage() override;
    AsyncUserStorage(const AsyncUserStorage&) = delete;
    AsyncUserStorage& operator=(const AsyncUserStorage&) = delete;

    // Binds the file system and the worker pool and creates the request pool from
    // `allocator` (the default allocator when null). Fatal "Out of memory".
    void init(HomeFileSystem* fileSystem, threads::TaskQueuePool* workers, memory::Allocator* allocator = nullptr);
    // Forgets the file system and the workers and frees the request pool. The workers
    // must have been stopped first (their queued requests run to the end).
    void shutdown();
    bool isInitialized() const { return m_workers != nullptr; }
    // Returns once no request is queued or running, its completion included, so
    // listeners and buffers can go. Requests made meanwhile are waited for too.
    void waitUntilIdle() const;
    // Requests queued or running now.
    u64 pendingCount() const { return m_pending.load(std::memory_order_acquire); }

    // Each returns "No error" at once when the request is queued. A request that the
    // worker refuses (its queue is full, or there is no worker) is not run and is
    // answered at once with "File system currently unavailable"; its listener is
    // never called.
    UserStorageResult requestFileSize(const char* name, UserStorageListener* listener);
    UserStorageResult requestRead(const char* name, void* buffer, u64 size, UserStorageListener* listener);
    UserStorageResult requestWrite(const char* name, const void* data, u64 size, i32 flag,
                                   UserStorageListener* listener);
    UserStorageResult requestRemove(const char* name, UserStorageListener* listener);

    UserStorageResult fileSize(const char* name, UserStorageListener* listener) override
    {
        return requestFileSize(name, listener);
    }
    UserStorageResult read(const char* name, void* buffer, u64 size, UserStorageListener* listener) override
    {
        return requestRead(name, buffer, size, listener);
    }
    UserStorageResult write(const char* name, const void* data, u64 size, i32 flag,
                            UserStorageListener* listener) override
    {
        return requestWrite(name, data, size, flag, listener);
    }
    UserStorageResult remove(const char* name, UserStorageListener* listener) override
    {
        return requestRemove(name, listener);
    }

private:
    friend class UserStorageRequest;

    UserStorageResult submit(UserStorageOperation operation, const char* name, void* buffer, u64 size, i32 flag,
                             UserStorageListener* listener);
    UserStorageRequest* allocateRequest(UserStorageOperation operation, const char* name, void* buffer, u64 size,
                                        i32 flag, UserStorageListener* listener);
    void releaseRequest(UserStorageRequest* request);

    std::optional<containers::BlockPool<UserStorageRequest>> m_requests;
    HomeFileSystem* m_fileSystem = nullptr;
    threads::TaskQueuePool* m_workers = nullptr;
    std::atomic<u64> m_pending { 0 };
    debug::MutexImpl m_lock;
};

// The process-wide user storage.
AsyncUserStorage& getUserStorage();

// Start-up: the process-wide home file system accepts existing absolute paths and
// gets its directory ("userFilePath" when not empty, else the default one); the
// first call also starts the background worker and binds the user storage.
void startUserStorage(const char* userFilePath);
// Exit: queued requests run to the end, the worker stops, the storage forgets it.
void stopUserStorage();

} // namespace quern::io
