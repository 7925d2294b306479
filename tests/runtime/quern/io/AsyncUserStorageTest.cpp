#include "quern/io/AsyncUserStorage.h"

#include "TempDirectory.h"
#include "support/GateTask.h"

#include <gtest/gtest.h>

#include "quern/platform/Thread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using quern::testing::GateTask;
using quern::u64;
using quern::io::AsyncUserStorage;
using quern::io::HomeFileSystem;
using quern::io::UserStorageError;
using quern::io::UserStorageOperation;
using quern::io::UserStorageResult;

struct Completion {
    u64 value;
    std::string message;
    std::string name;
    UserStorageError code;
    UserStorageOperation operation;
};

class RecordingListener : public quern::io::UserStorageListener {
public:
    void onUserStorageComplete(const UserStorageResult& result) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_completions.push_back({result.value, result.message, result.name ? result.name : "", result.code,
                                 result.operation});
        m_changed.notify_all();
    }

    std::vector<Completion> waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_completions.size() >= count; });
        return m_completions;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Completion> m_completions;
};

// Counts the blocks the request pool takes.
class CountingAllocator : public quern::memory::Allocator {
public:
    void* allocate(u64 size, u64 alignment) override
    {
        ++allocations;
        return std::aligned_alloc(alignment < 16 ? 16 : alignment, (size + 15) / 16 * 16);
    }
    void free(void* pointer) override
    {
        if (pointer)
            ++frees;
        std::free(pointer);
    }
    void* tryResize(void*, u64) override { return nullptr; }
    int allocations = 0;
    int frees = 0;
};

class AsyncUserStorageTest : public testing::Test {
protected:
    AsyncUserStorageTest()
    {
        fs.setDirectory(dir.path().c_str());
        fs.setQuiet(true);
        pool.setWorkers(new quern::threads::TaskQueue[1], 1);
        pool.startThreads(pool.worker(0));
        while (pool.worker(0)->state() != quern::threads::TaskQueue::Waiting) {
        }
        storage.init(&fs, &pool, &allocator);
    }
    ~AsyncUserStorageTest() override
    {
        pool.stop();
        storage.shutdown();
    }

    quern::test::TempDirectory dir;
    HomeFileSystem fs;
    CountingAllocator allocator;
    quern::threads::TaskQueuePool pool;
    AsyncUserStorage storage;
};

TEST_F(AsyncUserStorageTest, RequestsRunInOrderAndReportToTheirListener)
{
    RecordingListener listener;
    const std::string data = "level 3 done";
    char buffer[12] = {};

    const UserStorageResult queued = storage.requestWrite("default.save", data.data(), data.size(), 0, &listener);
    EXPECT_EQ(queued.code, UserStorageError::NoError);
    EXPECT_STREQ(queued.message, "No error");
    storage.requestFileSize("default.save", &listener);
    storage.requestRead("default.save", buffer, sizeof(buffer), &listener);
    storage.requestRemove("default.save", &listener);
    storage.requestRead("default.save", buffer, sizeof(buffer), &listener);

    const std::vector<Completion> done = listener.waitFor(5);
    ASSERT_EQ(done.size(), 5u);
    const struct {
        UserStorageOperation operation;
        UserStorageError code;
        u64 value;
        const char* message;
    } expected[] = {
        {UserStorageOperation::Write, UserStorageError::NoError, 12, "No error"},
        {UserStorageOperation::FileSize, UserStorageError::NoError, 12, "No error"},
        {UserStorageOperation::Read, UserStorageError::NoError, 12, "No error"},
        {UserStorageOperation::Remove, UserStorageError::NoError, 0, "No error"},
        {UserStorageOperation::Read, UserStorageError::PathNotFound, 0, "Path not found"},
    };
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(done[i].operation, expected[i].operation) << i;
        EXPECT_EQ(done[i].code, expected[i].code) << i;
        EXPECT_EQ(done[i].value, expected[i].value) << i;
        EXPECT_EQ(done[i].message, expected[i].message) << i;
        EXPECT_EQ(done[i].name, "default.save") << i;
    }
    EXPECT_EQ(std::string(buffer, 12), data);
}

TEST_F(AsyncUserStorageTest, RequestWithoutListenerStillRuns)
{
    storage.requestWrite("quick.save", "abc", 3, 0, nullptr);
    pool.stop(); // queued requests finish before the worker ends
    EXPECT_EQ(dir.readFile("quick.save"), "abc");
}

TEST_F(AsyncUserStorageTest, QueuedWritesFinishBeforeTheWorkerStops)
{
    const std::string names[] = {"a.save", "b.save", "c.save"};
    for (const std::string& name : names)
        storage.requestWrite(name.c_str(), name.data(), name.size(), 0, nullptr);
    pool.stop();
    for (const std::string& name : names)
        EXPECT_EQ(dir.readFile(name), name);
}

TEST_F(AsyncUserStorageTest, RefusedRequestIsReportedAndFreed)
{
    GateTask gate;
    ASSERT_TRUE(pool.push(&gate));
    gate.waitUntilEntered();

    RecordingListener listener;
    const u64 capacity = pool.worker(0)->capacity();
    std::vector<std::string> names;
    for (u64 i = 0; i < capacity; ++i)
        names.push_back("file" + std::to_string(i));
    for (const std::string& name : names)
        ASSERT_EQ(storage.requestWrite(name.c_str(), "x", 1, 0, &listener).code, UserStorageError::NoError);

    // The first refusal may grow the pool once for its own record.
    EXPECT_EQ(storage.requestRead("refused.save", nullptr, 0, &listener).code,
              UserStorageError::FileSystemUnavailable);
    const int allocationsWhenFull = allocator.allocations;
    for (int i = 0; i < 100; ++i) {
        const UserStorageResult refused = storage.requestWrite("refused.save", "y", 1, 0, &listener);
        EXPECT_EQ(refused.code, UserStorageError::FileSystemUnavailable);
        EXPECT_STREQ(refused.message, "File system currently unavailable");
        EXPECT_EQ(refused.operation, UserStorageOperation::Write);
    }
    // Refused requests go back to the pool: it never grows for them.
    EXPECT_EQ(allocator.allocations, allocationsWhenFull);

    gate.open();
    const std::vector<Completion> done = listener.waitFor(capacity);
    pool.stop();
    EXPECT_EQ(done.size(), capacity);
    for (const Completion& completion : done)
        EXPECT_NE(completion.name, "refused.save");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "refused.save"));
}

// Writes down, inside the completion, whether the listener was still wanted.
class LateListener : public quern::io::UserStorageListener {
public:
    void onUserStorageComplete(const UserStorageResult&) override
    {
        quern::platform::sleepMilliseconds(20);
        completed.store(true);
    }
    std::atomic<bool> completed { false };
};

TEST_F(AsyncUserStorageTest, WaitUntilIdleReturnsOnlyAfterEveryCompletionRan)
{
    GateTask gate;
    ASSERT_TRUE(pool.push(&gate));
    gate.waitUntilEntered();
    LateListener listener;
    storage.requestWrite("a.save", "a", 1, 0, &listener);
    storage.requestFileSize("a.save", &listener);
    EXPECT_EQ(storage.pendingCount(), 2u);

    std::thread opener([&] {
        quern::platform::sleepMilliseconds(10);
        gate.open();
    });
    storage.waitUntilIdle();
    EXPECT_TRUE(listener.completed.load());
    EXPECT_EQ(storage.pendingCount(), 0u);
    opener.join();
}

TEST(AsyncUserStorage, WithoutWorkerRequestsAreRefused)
{
    AsyncUserStorage storage;
    const UserStorageResult result = storage.requestFileSize("x", nullptr);
    EXPECT_EQ(result.code, UserStorageError::FileSystemUnavailable);
}

TEST_F(AsyncUserStorageTest, RequestPoolIsFreedAtShutdown)
{
    RecordingListener listener;
    for (int i = 0; i < 20; ++i)
        storage.requestFileSize("none", &listener);
    listener.waitFor(20);
    pool.stop();
    storage.shutdown();
    EXPECT_GT(allocator.allocations, 0);
    EXPECT_EQ(allocator.frees, allocator.allocations);
}

} // namespace

namespace {

TEST(UserStorageSetUp, ProcessWideStorageWritesQueuedRequestsBeforeItStops)
{
    quern::test::TempDirectory dir;
    const std::string userDirectory = (dir.path() / "users").string();
    quern::io::startUserStorage(userDirectory.c_str());
    EXPECT_EQ(std::string(quern::io::getHomeFileSystem().directory()), userDirectory);
    EXPECT_TRUE(quern::io::getHomeFileSystem().acceptsExistingPaths());

    quern::io::getHomeFileSystem().setQuiet(true);
    const std::string data = "saved";
    EXPECT_EQ(quern::io::getUserStorage().requestWrite("default.save", data.data(), data.size(), 0, nullptr).code,
              UserStorageError::NoError);
    quern::io::stopUserStorage();

    EXPECT_EQ(dir.readFile("users/default.save"), data);
    // Stopped: later requests are refused rather than lost silently.
    EXPECT_EQ(quern::io::getUserStorage().requestFileSize("default.save", nullptr).code,
              UserStorageError::FileSystemUnavailable);
}

TEST(UserStorageSetUp, RelativeUserDirectoryIsBelowTheCurrentDirectory)
{
    quern::test::TempDirectory dir;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    quern::io::startUserStorage("profile");
    const std::string directory = quern::io::getHomeFileSystem().directory();
    quern::io::stopUserStorage();
    std::filesystem::current_path(before);
    EXPECT_EQ(directory, std::filesystem::canonical(dir.path()).string() + "/profile");
}

} // namespace
