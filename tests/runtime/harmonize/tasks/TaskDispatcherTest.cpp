#include "harmonize/tasks/TaskDispatcher.h"

#include "support/LogCapture.h"

#include "support/harmonize/ThreadingSettings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace harmonize {
namespace {

using testing::threading;

class CountingTask final : public quern::threads::Task {
public:
    explicit CountingTask(u32 items)
        : Task(items)
    {
    }
    void run(quern::threads::TaskRange range) override
    {
        items.fetch_add(range.itemCount, std::memory_order_relaxed);
        if (std::this_thread::get_id() != owner)
            ranElsewhere.store(true, std::memory_order_relaxed);
    }
    std::atomic<u32> items { 0 };
    // Chunks run on several workers at once: whether any ran off the thread
    // that made the task, kept without a race.
    const std::thread::id owner = std::this_thread::get_id();
    std::atomic<bool> ranElsewhere { false };
};

TEST(GameTaskDispatcherTest, WorkerCountFollowsTheSettings)
{
    struct Case {
        i32 workers;
        i32 reserved;
        u32 processors;
        u32 expected;
    } cases[] = {
        { 3, 1, 16, 3 }, // an explicit count wins over the machine
        { 3, 1, 1, 3 },
        { 0, 1, 4, 3 },
        { 0, 0, 4, 4 },
        { 0, 4, 4, 1 }, // everything reserved still leaves the calling thread
        { 0, 9, 4, 1 },
        { -2, 1, 4, 3 }, // negative counts like 0
        { 0, -2, 4, 6 },
    };
    for (const Case& c : cases) {
        const ThreadingSettings settings = threading(true, c.workers, c.reserved);
        EXPECT_EQ(TaskDispatcher::workerCountFor(settings, c.processors), c.expected)
            << c.workers << " workers, " << c.reserved << " reserved, " << c.processors << " processors";
    }
}

TEST(GameTaskDispatcherTest, WithoutThreadingTasksRunBeforeRunReturns)
{
    quern::testing::LogCapture log(3);
    TaskDispatcher dispatcher;
    dispatcher.start(threading(false, 4, 1));
    EXPECT_TRUE(log.contains("Threading disabled"));
    EXPECT_FALSE(log.contains("Starting task dispatcher"));
    EXPECT_FALSE(dispatcher.threaded());

    CountingTask task(10);
    dispatcher.run(task);
    EXPECT_EQ(task.items.load(), 10u);
    EXPECT_FALSE(task.ranElsewhere.load());
    EXPECT_EQ(dispatcher.tasksThisFrame(), 0u);
    dispatcher.wait(task);
    dispatcher.stop();
}

TEST(GameTaskDispatcherTest, OneWorkerRunsAsWithoutThreading)
{
    quern::testing::LogCapture log(3);
    TaskDispatcher dispatcher;
    dispatcher.start(threading(true, 1, 0));
    EXPECT_TRUE(log.contains("Starting task dispatcher"));
    EXPECT_TRUE(log.contains("Starting task scheduler with 1 threads"));
    EXPECT_FALSE(dispatcher.threaded());

    CountingTask task(3);
    dispatcher.run(task);
    EXPECT_EQ(task.items.load(), 3u);
    EXPECT_EQ(dispatcher.tasksThisFrame(), 0u);
}

TEST(GameTaskDispatcherTest, ThreadedTasksAreCountedPerFrame)
{
    quern::testing::LogCapture log(3);
    TaskDispatcher dispatcher;
    dispatcher.start(threading(true, 3, 1), 64);
    EXPECT_TRUE(log.contains("Starting task scheduler with 3 threads"));
    ASSERT_TRUE(dispatcher.threaded());
    EXPECT_EQ(dispatcher.workerCount(), 3u);

    CountingTask first(1000);
    CountingTask second(1);
    dispatcher.run(first);
    dispatcher.run(second);
    EXPECT_EQ(dispatcher.tasksThisFrame(), 2u);
    dispatcher.wait(first);
    dispatcher.wait(second);
    EXPECT_EQ(first.items.load(), 1000u);
    EXPECT_EQ(second.items.load(), 1u);

    dispatcher.flipFrame();
    EXPECT_EQ(dispatcher.tasksThisFrame(), 0u);
    CountingTask third(5);
    dispatcher.run(third);
    dispatcher.wait(third);
    dispatcher.flipFrame();
    dispatcher.flipFrame(); // back to the first parity: its old count was cleared
    EXPECT_EQ(dispatcher.tasksThisFrame(), 0u);

    dispatcher.stop();
    EXPECT_FALSE(dispatcher.threaded());
    dispatcher.stop(); // a second stop does nothing
}

} // namespace
} // namespace harmonize
