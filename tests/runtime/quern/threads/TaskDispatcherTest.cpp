#include "quern/threads/TaskDispatcher.h"

#include "quern/platform/Thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quern::threads {
namespace {

// Counts how often each item ran and remembers every range it was given.
class CountingTask final : public Task {
public:
    explicit CountingTask(u32 items)
        : Task(items)
        , counts(items)
    {
    }
    void run(TaskRange range) override
    {
        for (u32 i = range.firstItem; i < range.firstItem + range.itemCount; ++i)
            counts[i].fetch_add(1, std::memory_order_relaxed);
        std::lock_guard<std::mutex> lock(mutex);
        ranges.push_back(range);
        workers.push_back(TaskDispatcher::currentWorkerIndex());
    }
    bool eachItemRanOnce() const
    {
        return std::all_of(counts.begin(), counts.end(), [](const std::atomic<int>& c) { return c.load() == 1; });
    }
    std::vector<u32> sortedChunkSizes()
    {
        std::vector<u32> sizes;
        for (const TaskRange& range : ranges)
            sizes.push_back(range.itemCount);
        std::sort(sizes.begin(), sizes.end());
        return sizes;
    }

    std::vector<std::atomic<int>> counts;
    std::mutex mutex;
    std::vector<TaskRange> ranges;
    std::vector<u32> workers;
};

// Appends its id to a shared log when run.
class OrderTask final : public Task {
public:
    OrderTask(int id, std::vector<int>& log, std::mutex& mutex)
        : Task(1)
        , m_id(id)
        , m_log(log)
        , m_mutex(mutex)
    {
    }
    void run(TaskRange range) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_log.push_back(m_id);
        worker = range.workerIndex;
    }
    u32 worker = 0xFFFF;

private:
    int m_id;
    std::vector<int>& m_log;
    std::mutex& m_mutex;
};

TEST(TaskDispatcher, ChunkSizeTargetsWorkersTimesWorkersLessOneChunks)
{
    struct Case {
        u32 workers, items;
        std::vector<u32> chunks; // sorted sizes
    };
    const Case cases[] = {
        { 4, 1200, std::vector<u32>(12, 100) },
        { 4, 3, { 1, 1, 1 } },
        { 4, 13, { 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1 } },
        { 4, 25, { 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2 } },
        { 1, 70000, { 4465, 65535 } },
        { 2, 10, { 5, 5 } },
        { 3, 20, { 2, 3, 3, 3, 3, 3, 3 } },
    };
    for (const Case& c : cases) {
        TaskDispatcher dispatcher;
        dispatcher.start(c.workers);
        CountingTask task(c.items);
        dispatcher.submit(task);
        dispatcher.wait(task);
        EXPECT_TRUE(task.eachItemRanOnce()) << c.workers << " workers, " << c.items << " items";
        EXPECT_EQ(task.sortedChunkSizes(), c.chunks) << c.workers << " workers, " << c.items << " items";
        dispatcher.stop();
    }
}

TEST(TaskDispatcher, EveryItemRunsExactlyOnceForAnyWorkerCount)
{
    const u32 itemCounts[] = { 1, 7, 255, 256, 257, 1000, 65535, 65536, 200000 };
    for (u32 workers : { 1u, 2u, 3u, 8u }) {
        TaskDispatcher dispatcher;
        dispatcher.start(workers);
        EXPECT_EQ(dispatcher.workerCount(), workers);
        for (u32 items : itemCounts) {
            CountingTask task(items);
            dispatcher.submit(task);
            dispatcher.wait(task);
            EXPECT_EQ(task.pending(), 0);
            EXPECT_TRUE(task.eachItemRanOnce()) << workers << " workers, " << items << " items";
            for (const TaskRange& range : task.ranges)
                EXPECT_LE(range.itemCount, Task::kMaxRangeItems);
        }
    }
}

TEST(TaskDispatcher, TaskWithoutItemsQueuesNothingAndIsCompleteAtOnce)
{
    TaskDispatcher dispatcher;
    dispatcher.start(4);
    CountingTask task(0);
    dispatcher.submit(task);
    EXPECT_EQ(task.pending(), 0);
    dispatcher.wait(task);
    EXPECT_TRUE(task.ranges.empty());
}

TEST(TaskDispatcher, WithOneWorkerSubmitOnlyQueuesAndWaitRuns)
{
    TaskDispatcher dispatcher;
    dispatcher.start(1);
    CountingTask task(100);
    dispatcher.submit(task);
    EXPECT_TRUE(task.ranges.empty());
    EXPECT_EQ(task.pending(), 1);
    dispatcher.wait(task);
    EXPECT_EQ(task.pending(), 0);
    EXPECT_TRUE(task.eachItemRanOnce());
}

TEST(TaskDispatcher, OwnQueueRunsNewestFirst)
{
    TaskDispatcher dispatcher;
    dispatcher.start(1);
    std::vector<int> log;
    std::mutex mutex;
    OrderTask a(1, log, mutex), b(2, log, mutex), c(3, log, mutex);
    dispatcher.submit(a);
    dispatcher.submit(b);
    dispatcher.submit(c);
    dispatcher.runUntilIdle();
    EXPECT_EQ(log, (std::vector<int> { 3, 2, 1 }));
    EXPECT_TRUE(a.isComplete() && b.isComplete() && c.isComplete());
}

TEST(TaskDispatcher, ThievesTakeTheOldestChunkFirst)
{
    TaskDispatcher dispatcher;
    dispatcher.start(2);
    std::vector<int> log;
    std::mutex mutex;
    std::vector<std::unique_ptr<OrderTask>> tasks;
    for (int id = 1; id <= 5; ++id)
        tasks.push_back(std::make_unique<OrderTask>(id, log, mutex));
    for (auto& task : tasks)
        dispatcher.submit(*task);
    // Worker 0 does not run anything here: only the other worker steals.
    for (auto& task : tasks)
        while (!task->isComplete())
            platform::yieldThread();
    EXPECT_EQ(log, (std::vector<int> { 1, 2, 3, 4, 5 }));
    for (auto& task : tasks)
        EXPECT_EQ(task->worker, 1u);
}

TEST(TaskDispatcher, FullQueueRunsFurtherChunksOnTheSubmittingThread)
{
    TaskDispatcher dispatcher;
    dispatcher.start(1);
    std::vector<std::unique_ptr<CountingTask>> tasks;
    for (u32 i = 0; i < TaskDispatcher::kQueueSize + 3; ++i)
        tasks.push_back(std::make_unique<CountingTask>(1));
    for (auto& task : tasks)
        dispatcher.submit(*task);
    for (u32 i = 0; i < TaskDispatcher::kQueueSize; ++i) {
        EXPECT_TRUE(tasks[i]->ranges.empty()) << i;
        EXPECT_EQ(tasks[i]->pending(), 1) << i;
    }
    for (u32 i = TaskDispatcher::kQueueSize; i < tasks.size(); ++i) {
        EXPECT_EQ(tasks[i]->ranges.size(), 1u) << i;
        EXPECT_TRUE(tasks[i]->isComplete()) << i;
    }
    dispatcher.runUntilIdle();
    for (auto& task : tasks)
        EXPECT_TRUE(task->eachItemRanOnce());
}

TEST(TaskDispatcher, RangesCarryTheRunningWorkersIndex)
{
    constexpr u32 kWorkers = 4;
    TaskDispatcher dispatcher;
    dispatcher.start(kWorkers);
    EXPECT_EQ(dispatcher.workerIndexOfCaller(), 0u);
    for (int round = 0; round < 20; ++round) {
        CountingTask task(10000);
        dispatcher.submit(task);
        dispatcher.wait(task);
        ASSERT_EQ(task.ranges.size(), task.workers.size());
        for (std::size_t i = 0; i < task.ranges.size(); ++i) {
            EXPECT_LT(task.ranges[i].workerIndex, kWorkers);
            EXPECT_EQ(task.ranges[i].workerIndex, task.workers[i]);
        }
    }
}

TEST(TaskDispatcher, WorkerThreadsAreNamedTaskDispatcher)
{
    class NamingTask final : public Task {
    public:
        NamingTask()
            : Task(4000)
        {
        }
        void run(TaskRange range) override
        {
            if (range.workerIndex == 0)
                return;
            char name[32];
            platform::getCurrentThreadName(name, sizeof(name));
            std::lock_guard<std::mutex> lock(mutex);
            names.emplace_back(name);
            // Slow enough that the other workers get to steal.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        std::mutex mutex;
        std::vector<std::string> names;
    };
    TaskDispatcher dispatcher;
    dispatcher.start(4);
    NamingTask task;
    while (task.names.empty()) {
        dispatcher.submit(task);
        dispatcher.wait(task);
    }
    for (const std::string& name : task.names)
        EXPECT_EQ(name, "TaskDispatcher");
}

std::atomic<int> g_started { 0 }, g_exiting { 0 }, g_sleeping { 0 }, g_woken { 0 };
std::atomic<u32> g_startedMask { 0 };

TEST(TaskDispatcher, HooksRunOnTheWorkerThreads)
{
    g_started = g_exiting = g_sleeping = g_woken = 0;
    g_startedMask = 0;
    TaskDispatcherHooks hooks;
    hooks.threadStarted = [](u32 worker) {
        g_started.fetch_add(1);
        g_startedMask.fetch_or(1u << worker);
    };
    hooks.threadExiting = [](u32) { g_exiting.fetch_add(1); };
    hooks.goingToSleep = [](u32) { g_sleeping.fetch_add(1); };
    hooks.woken = [](u32) { g_woken.fetch_add(1); };

    TaskDispatcher dispatcher;
    dispatcher.setHooks(hooks);
    dispatcher.start(3);
    // Idle workers go to sleep after their idle passes.
    while (g_sleeping.load() < 2)
        platform::yieldThread();
    CountingTask task(1000);
    dispatcher.submit(task);
    dispatcher.wait(task);
    dispatcher.stop();
    EXPECT_EQ(g_started.load(), 2);
    EXPECT_EQ(g_startedMask.load(), 0b110u);
    EXPECT_EQ(g_exiting.load(), 2);
    EXPECT_GE(g_woken.load(), 2);
    EXPECT_TRUE(task.eachItemRanOnce());
}

std::atomic<int> g_asleep { 0 };

TEST(TaskDispatcher, SubmitWakesASleepingWorkerWithoutAnyWait)
{
    TaskDispatcherHooks hooks;
    hooks.goingToSleep = [](u32) { g_asleep.fetch_add(1); };
    TaskDispatcher dispatcher;
    dispatcher.setHooks(hooks);
    // Cleared before the worker exists: it may head for sleep before start returns.
    g_asleep = 0;
    dispatcher.start(2);
    int seen = 0;
    for (int round = 0; round < 200; ++round) {
        // Wait for the worker to head for sleep after the last task.
        while (g_asleep.load() <= seen)
            platform::yieldThread();
        seen = g_asleep.load();
        // Worker 0 only watches: the sleeping worker must wake up and run it.
        CountingTask task(3);
        dispatcher.submit(task);
        while (!task.isComplete())
            platform::yieldThread();
        ASSERT_TRUE(task.eachItemRanOnce()) << round;
    }
}

TEST(TaskDispatcher, StopWithoutStartDoesNothingAndRestartReplacesTheWorkers)
{
    TaskDispatcher dispatcher;
    dispatcher.stop();
    EXPECT_EQ(dispatcher.workerCount(), 0u);
    EXPECT_FALSE(dispatcher.isRunning());

    dispatcher.start(3);
    CountingTask first(5000);
    dispatcher.submit(first);
    dispatcher.wait(first);
    dispatcher.start(5); // stops the three workers first
    EXPECT_EQ(dispatcher.workerCount(), 5u);
    CountingTask second(5000);
    dispatcher.submit(second);
    dispatcher.wait(second);
    EXPECT_TRUE(first.eachItemRanOnce());
    EXPECT_TRUE(second.eachItemRanOnce());
    for (const TaskRange& range : second.ranges)
        EXPECT_LT(range.workerIndex, 5u);
    dispatcher.stop();
    EXPECT_EQ(dispatcher.workerCount(), 0u);
    dispatcher.stop();
}

TEST(TaskDispatcher, SubmitOnAStoppedDispatcherRunsTheTaskAtOnce)
{
    TaskDispatcher dispatcher;
    CountingTask task(70000);
    dispatcher.submit(task);
    EXPECT_TRUE(task.isComplete());
    EXPECT_TRUE(task.eachItemRanOnce());
    dispatcher.wait(task);
    dispatcher.runUntilIdle();
}

TEST(TaskDispatcher, RunUntilIdleFinishesEverythingQueued)
{
    TaskDispatcher dispatcher;
    dispatcher.start(4);
    std::vector<std::unique_ptr<CountingTask>> tasks;
    for (int i = 0; i < 50; ++i) {
        tasks.push_back(std::make_unique<CountingTask>(100 + i * 37));
        dispatcher.submit(*tasks.back());
    }
    dispatcher.runUntilIdle();
    for (auto& task : tasks) {
        EXPECT_TRUE(task->isComplete());
        EXPECT_TRUE(task->eachItemRanOnce());
    }
}

TEST(TaskDispatcher, AThreadOutsideTheDispatcherMayWaitWithoutRunningChunks)
{
    TaskDispatcher dispatcher;
    dispatcher.start(2);
    CountingTask task(20000);
    dispatcher.submit(task);
    std::thread outsider([&] {
        EXPECT_EQ(dispatcher.workerIndexOfCaller(), TaskDispatcher::kNotAWorker);
        dispatcher.wait(task);
        EXPECT_TRUE(task.isComplete());
    });
    outsider.join();
    EXPECT_TRUE(task.eachItemRanOnce());
    for (u32 worker : task.workers)
        EXPECT_EQ(worker, 1u);
}

TEST(TaskDispatcher, StartWithNoWorkersLeavesItStopped)
{
    TaskDispatcher dispatcher;
    dispatcher.start(2);
    dispatcher.start(0);
    EXPECT_EQ(dispatcher.workerCount(), 0u);
    EXPECT_FALSE(dispatcher.isRunning());
    CountingTask task(10);
    dispatcher.submit(task);
    EXPECT_TRUE(task.eachItemRanOnce());
}

TEST(TaskDispatcherDeathTest, AbsurdWorkerCountIsFatal)
{
    EXPECT_DEATH(
        {
            TaskDispatcher dispatcher;
            dispatcher.start(100000);
        },
        "Too many task dispatcher workers");
}

TEST(TaskDispatcherDeathTest, SubmitFromAThreadThatIsNotAWorkerIsFatal)
{
    EXPECT_DEATH(
        {
            TaskDispatcher dispatcher;
            dispatcher.start(2);
            CountingTask task(10);
            std::thread outsider([&] { dispatcher.submit(task); });
            outsider.join();
        },
        "Task submitted from a thread that is not a task dispatcher worker");
}

TEST(TaskDispatcherDeathTest, RunUntilIdleFromAThreadThatIsNotAWorkerIsFatal)
{
    EXPECT_DEATH(
        {
            TaskDispatcher dispatcher;
            dispatcher.start(2);
            std::thread outsider([&] { dispatcher.runUntilIdle(); });
            outsider.join();
        },
        "runUntilIdle called from a thread that is not a task dispatcher worker");
}

TEST(TaskDispatcherDeathTest, TheStartingThreadOfAnEarlierRunIsNoLongerAWorker)
{
    EXPECT_DEATH(
        {
            TaskDispatcher dispatcher;
            dispatcher.start(2);
            std::thread other([&] { dispatcher.start(2); });
            other.join();
            CountingTask task(10);
            dispatcher.submit(task); // worker 0 is now the other thread
        },
        "Task submitted from a thread that is not a task dispatcher worker");
}

} // namespace
} // namespace quern::threads
