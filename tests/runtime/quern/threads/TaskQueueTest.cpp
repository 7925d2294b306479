#include "quern/threads/TaskQueue.h"
#include "quern/threads/TaskQueuePool.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quern::threads {
namespace {

// Shared log of which task ran, and on which thread.
struct RunLog {
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
};

class LoggingTask : public Task {
public:
    LoggingTask(int id, RunLog& log)
        : Task(1)
        , m_id(id)
        , m_log(log)
    {
    }
    void run(TaskRange range) override
    {
        ranges.push_back(range);
        std::lock_guard<std::mutex> lock(m_log.mutex);
        m_log.order.push_back(m_id);
        m_log.threads.push_back(std::this_thread::get_id());
    }
    std::vector<TaskRange> ranges;

private:
    int m_id;
    RunLog& m_log;
};

// Holds its worker until opened.
class GateTask final : public Task {
public:
    GateTask()
        : Task(1)
    {
    }
    void run(TaskRange) override
    {
        runner = std::this_thread::get_id();
        entered = true;
        while (!open)
            platform::yieldThread();
    }
    void waitUntilEntered()
    {
        while (!entered)
            platform::yieldThread();
    }
    std::atomic<bool> entered { false };
    std::atomic<bool> open { false };
    std::thread::id runner;
};

// A bounded wait, so that a worker that never comes up fails the test instead of hanging it.
template <class Predicate> bool eventually(Predicate predicate)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        platform::yieldThread();
    }
    return true;
}

// One task queue on its own thread, stopped and joined by the pool.
struct SingleWorker {
    SingleWorker()
    {
        pool.setWorkers(new TaskQueue[1], 1);
        pool.startThreads(queue());
        EXPECT_TRUE(eventually([&] { return queue()->state() == TaskQueue::Waiting; }));
    }
    TaskQueue* queue() { return pool.worker(0); }
    TaskQueuePool pool;
};

TEST(TaskQueue, NewQueueIsStoppedWithRoomForThirtyTwoTasks)
{
    TaskQueue queue;
    EXPECT_EQ(queue.state(), TaskQueue::Stopped);
    EXPECT_EQ(queue.pending(), 0);
    EXPECT_EQ(queue.capacity(), 32u);
}

TEST(TaskQueue, TasksRunInPushOrderOnTheWorkerThreadWithAnEmptyRange)
{
    RunLog log;
    std::vector<std::unique_ptr<LoggingTask>> tasks;
    {
        SingleWorker worker;
        for (int id = 0; id < 100; ++id) {
            tasks.push_back(std::make_unique<LoggingTask>(id, log));
            worker.queue()->push(tasks.back().get());
        }
        ASSERT_TRUE(eventually([&] { return worker.queue()->pending() == 0; }));
    } // the pool's stop runs what is left
    ASSERT_EQ(log.order.size(), 100u);
    for (int id = 0; id < 100; ++id)
        EXPECT_EQ(log.order[id], id);
    for (const std::thread::id& thread : log.threads) {
        EXPECT_NE(thread, std::this_thread::get_id());
        EXPECT_EQ(thread, log.threads[0]);
    }
    for (auto& task : tasks) {
        ASSERT_EQ(task->ranges.size(), 1u);
        EXPECT_EQ(task->ranges[0].firstItem, 0u);
        EXPECT_EQ(task->ranges[0].itemCount, 0u);
    }
}

TEST(TaskQueue, TaskPushedWhileAnotherRunsRunsAfterIt)
{
    RunLog log;
    SingleWorker worker;
    GateTask gate;
    LoggingTask first(1, log), second(2, log);
    worker.queue()->push(&gate);
    gate.waitUntilEntered();
    EXPECT_EQ(worker.queue()->state(), TaskQueue::Running);
    worker.queue()->push(&first);
    worker.queue()->push(&second);
    EXPECT_EQ(worker.queue()->pending(), 2);
    EXPECT_TRUE(log.order.empty());
    gate.open = true;
    ASSERT_TRUE(
        eventually([&] { return worker.queue()->pending() == 0 && worker.queue()->state() == TaskQueue::Waiting; }));
    std::lock_guard<std::mutex> lock(log.mutex);
    EXPECT_EQ(log.order, (std::vector<int> { 1, 2 }));
}

TEST(TaskQueue, StopRunsEveryTaskQueuedBeforeIt)
{
    RunLog log;
    GateTask gate;
    LoggingTask a(1, log), b(2, log), c(3, log);
    TaskQueuePool pool;
    pool.setWorkers(new TaskQueue[1], 1);
    pool.startThreads(pool.worker(0));
    ASSERT_TRUE(eventually([&] { return pool.worker(0)->state() == TaskQueue::Waiting; }));
    pool.worker(0)->push(&gate);
    gate.waitUntilEntered();
    pool.worker(0)->push(&a);
    pool.worker(0)->push(&b);
    pool.worker(0)->push(&c);
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.open = true;
    });
    pool.stop();
    opener.join();
    EXPECT_EQ(log.order, (std::vector<int> { 1, 2, 3 }));
    EXPECT_EQ(pool.workerCount(), 0u);
    EXPECT_EQ(pool.runningThreadCount(), 0u);
}

TEST(TaskQueueDeathTest, PopFromAnEmptyQueueIsFatal)
{
    EXPECT_DEATH(
        {
            TaskQueue queue;
            queue.pop();
        },
        "Can't get task from empty queue");
}

TEST(TaskQueuePool, ThirtyThirdPendingTaskIsRefused)
{
    RunLog log;
    SingleWorker worker;
    GateTask gate;
    ASSERT_TRUE(worker.pool.push(&gate));
    gate.waitUntilEntered();
    std::vector<std::unique_ptr<LoggingTask>> tasks;
    for (int id = 0; id < 32; ++id) {
        tasks.push_back(std::make_unique<LoggingTask>(id, log));
        ASSERT_TRUE(worker.pool.push(tasks.back().get())) << id;
    }
    LoggingTask refused(99, log);
    EXPECT_FALSE(worker.pool.push(&refused));
    EXPECT_EQ(worker.queue()->pending(), 32);
    gate.open = true;
    ASSERT_TRUE(eventually([&] { return worker.queue()->pending() == 0; }));
    worker.pool.stop();
    EXPECT_EQ(log.order.size(), 32u);
    EXPECT_TRUE(refused.ranges.empty());
}

TEST(TaskQueuePool, PushGoesToTheLeastLoadedWorker)
{
    RunLog log;
    TaskQueuePool pool;
    pool.setWorkers(new TaskQueue[2], 2);
    pool.startThreads(pool.worker(0));
    pool.startThreads(pool.worker(1)); // every record runs: one more is added
    ASSERT_EQ(pool.threadCount(), 2u);
    ASSERT_TRUE(eventually([&] {
        return pool.worker(0)->state() == TaskQueue::Waiting && pool.worker(1)->state() == TaskQueue::Waiting;
    }));
    EXPECT_EQ(pool.runningThreadCount(), 2u);

    GateTask gateA, gateB;
    ASSERT_TRUE(pool.push(&gateA)); // both idle: the first worker
    gateA.waitUntilEntered();
    ASSERT_TRUE(pool.push(&gateB)); // worker 0 has nothing pending: taken at once
    EXPECT_EQ(pool.worker(0)->pending(), 1);
    LoggingTask other(1, log);
    ASSERT_TRUE(pool.push(&other)); // worker 1 has fewer pending
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(log.mutex);
        return !log.order.empty();
    }));
    {
        std::lock_guard<std::mutex> lock(log.mutex);
        EXPECT_NE(log.threads[0], gateA.runner);
    }
    gateA.open = true;
    gateB.open = true;
    pool.stop();
    EXPECT_EQ(gateB.runner, gateA.runner);
}

TEST(TaskQueuePool, PushWithoutWorkersIsRefused)
{
    RunLog log;
    TaskQueuePool pool;
    LoggingTask task(1, log);
    EXPECT_FALSE(pool.push(&task));
    pool.stop();
    pool.destroyThreads();
}

TEST(TaskQueuePool, RestartAfterStopGetsAFreshThread)
{
    RunLog log;
    TaskQueuePool pool;
    for (int round = 0; round < 3; ++round) {
        pool.setWorkers(new TaskQueue[1], 1);
        pool.startThreads(pool.worker(0));
        EXPECT_EQ(pool.threadCount(), 1u);
        ASSERT_TRUE(eventually([&] { return pool.worker(0)->state() == TaskQueue::Waiting; })) << round;
        LoggingTask task(round, log);
        ASSERT_TRUE(pool.push(&task));
        pool.stop();
        EXPECT_EQ(log.order.size(), static_cast<std::size_t>(round + 1));
    }
    pool.destroyThreads();
    EXPECT_EQ(pool.threadCount(), 0u);
}

TEST(BackgroundWorker, StartsWaitingServesInOrderAndDrainsOnStop)
{
    RunLog log;
    EXPECT_EQ(getBackgroundPool(), nullptr);
    for (int round = 0; round < 2; ++round) {
        startBackgroundWorker();
        TaskQueuePool* pool = getBackgroundPool();
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(pool->workerCount(), 1u);
        EXPECT_EQ(pool->worker(0)->state(), TaskQueue::Waiting);
        startBackgroundWorker(); // already running: nothing changes
        EXPECT_EQ(getBackgroundPool(), pool);
        EXPECT_EQ(pool->threadCount(), 1u);

        std::vector<std::unique_ptr<LoggingTask>> tasks;
        for (int id = 0; id < 20; ++id) {
            tasks.push_back(std::make_unique<LoggingTask>(round * 100 + id, log));
            ASSERT_TRUE(pool->push(tasks.back().get()));
        }
        stopBackgroundWorker();
        EXPECT_EQ(getBackgroundPool(), nullptr);
        ASSERT_EQ(log.order.size(), static_cast<std::size_t>(20 * (round + 1)));
        for (int id = 0; id < 20; ++id)
            EXPECT_EQ(log.order[round * 20 + id], round * 100 + id);
    }
    stopBackgroundWorker(); // nothing to stop
}

// At exit the allocators may shut down before the pool stops: the pool goes
// back to the allocator it came from.
TEST(BackgroundWorkerDeathTest, StopsAfterTheDefaultAllocatorHasShutDown)
{
    EXPECT_EXIT(
        {
            startBackgroundWorker();
            memory::Allocator* madeFrom = getBackgroundPool()->allocator();
            if (madeFrom != memory::getDefaultAllocator())
                std::_Exit(2);
            memory::shutdownDefaultAllocators();
            stopBackgroundWorker();
            std::_Exit(getBackgroundPool() == nullptr ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace quern::threads
