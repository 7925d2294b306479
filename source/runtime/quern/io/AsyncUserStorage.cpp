#include "quern/io/AsyncUserStorage.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/Thread.h"

#include <new>

namespace quern::io {

UserStorageRequest::UserStorageRequest(AsyncUserStorage& storage, UserStorageOperation operation, const char* name,
                                       void* buffer, u64 size, i32 flag, UserStorageListener* listener)
    : threads::Task(1), m_storage(storage), m_operation(operation), m_name(name), m_buffer(buffer), m_size(size),
      m_flag(flag), m_listener(listener)
{
}

void UserStorageRequest::run(threads::TaskRange)
{
    HomeFileSystem& fileSystem = *m_storage.m_fileSystem;
    UserStorageResult result;
    switch (m_operation) {
    case UserStorageOperation::FileSize: result = fileSystem.fileSize(m_name, nullptr); break;
    case UserStorageOperation::Remove: result = fileSystem.remove(m_name, nullptr); break;
    case UserStorageOperation::Read: result = fileSystem.read(m_name, m_buffer, m_size, nullptr); break;
    case UserStorageOperation::Write: result = fileSystem.write(m_name, m_buffer, m_size, m_flag, nullptr); break;
    default: QUERN_FATAL("Invalid operation");
    }
    result.name = m_name;
    result.operation = m_operation;
    if (m_listener)
        m_listener->onUserStorageComplete(result);
    // The worker does not touch the task after this.
    m_storage.releaseRequest(this);
}

AsyncUserStorage::~AsyncUserStorage() { shutdown(); }

void AsyncUserStorage::init(HomeFileSystem* fileSystem, threads::TaskQueuePool* workers, memory::Allocator* allocator)
{
    debug::MutexLock lock(m_lock);
    m_fileSystem = fileSystem;
    m_workers = workers;
    if (!allocator)
        allocator = memory::getDefaultAllocator();
    if (!allocator)
        QUERN_OUT_OF_MEMORY();
    m_requests.reset();
    m_requests.emplace(allocator, kRequestGrowCount, alignof(UserStorageRequest));
    m_requests->grow(kRequestGrowCount); // "Out of memory" when it cannot
}

void AsyncUserStorage::shutdown()
{
    debug::MutexLock lock(m_lock);
    m_fileSystem = nullptr;
    m_workers = nullptr;
    m_requests.reset();
}

UserStorageRequest* AsyncUserStorage::allocateRequest(UserStorageOperation operation, const char* name, void* buffer,
                                                      u64 size, i32 flag, UserStorageListener* listener)
{
    void* place;
    {
        debug::MutexLock lock(m_lock);
        place = m_requests->take();
    }
    return new (place) UserStorageRequest(*this, operation, name, buffer, size, flag, listener);
}

void AsyncUserStorage::releaseRequest(UserStorageRequest* request)
{
    request->~UserStorageRequest();
    {
        debug::MutexLock lock(m_lock);
        m_requests->give(request);
    }
    m_pending.fetch_sub(1, std::memory_order_acq_rel);
}

void AsyncUserStorage::waitUntilIdle() const
{
    while (pendingCount() != 0)
        platform::sleepMilliseconds(1);
}

UserStorageResult AsyncUserStorage::submit(UserStorageOperation operation, const char* name, void* buffer, u64 size,
                                           i32 flag, UserStorageListener* listener)
{
    UserStorageResult refused = makeUserStorageResult(0, UserStorageError::FileSystemUnavailable);
    refused.name = name;
    refused.operation = operation;
    if (!m_workers || !m_fileSystem)
        return refused;

    m_pending.fetch_add(1, std::memory_order_acq_rel);
    UserStorageRequest* request = allocateRequest(operation, name, buffer, size, flag, listener);
    if (!m_workers->push(request)) {
        releaseRequest(request);
        return refused;
    }
    return makeUserStorageResult(0, UserStorageError::NoError);
}

UserStorageResult AsyncUserStorage::requestFileSize(const char* name, UserStorageListener* listener)
{
    return submit(UserStorageOperation::FileSize, name, nullptr, 0, 0, listener);
}

UserStorageResult AsyncUserStorage::requestRead(const char* name, void* buffer, u64 size,
                                                UserStorageListener* listener)
{
    return submit(UserStorageOperation::Read, name, buffer, size, 0, listener);
}

UserStorageResult AsyncUserStorage::requestWrite(const char* name, const void* data, u64 size, i32 flag,
                                                 UserStorageListener* listener)
{
    return submit(UserStorageOperation::Write, name, const_cast<void*>(data), size, flag, listener);
}

UserStorageResult AsyncUserStorage::requestRemove(const char* name, UserStorageListener* listener)
{
    return submit(UserStorageOperation::Remove, name, nullptr, 0, 0, listener);
}

AsyncUserStorage& getUserStorage()
{
    // Never destroyed: exit-time destruction would run after the allocators the
    // request pool came from are gone. stopUserStorage frees the pool.
    static AsyncUserStorage* const storage = new AsyncUserStorage();
    return *storage;
}

void startUserStorage(const char* userFilePath)
{
    HomeFileSystem& fileSystem = getHomeFileSystem();
    fileSystem.setAcceptExistingPaths(true);
    if (userFilePath && userFilePath[0] != '\0')
        setUserDirectoryOverride(resolveUserDirectory(userFilePath).c_str());
    else
        fileSystem.initDefaultDirectory();

    if (!threads::getBackgroundPool())
        threads::startBackgroundWorker();
    if (!getUserStorage().isInitialized())
        getUserStorage().init(&fileSystem, threads::getBackgroundPool());
}

void stopUserStorage()
{
    if (!threads::getBackgroundPool())
        return;
    // Queued requests run to the end before the worker goes.
    threads::getBackgroundPool()->stop();
    getUserStorage().shutdown();
    threads::stopBackgroundWorker();
}

} // namespace quern::io
