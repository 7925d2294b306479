#include "quern/threads/Thread.h"

#include "quern/platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace quern::threads {
namespace {

class CountingRunnable final : public Runnable {
public:
    u32 run() override
    {
        platform::getCurrentThreadName(name, sizeof(name));
        runs.fetch_add(1);
        return 42;
    }
    std::atomic<int> runs{0};
    char name[32] = {};
};

TEST(Thread, StatesFollowCreateStartJoin)
{
    CountingRunnable runnable;
    Thread thread;
    EXPECT_EQ(thread.state(), Thread::NotCreated);
    EXPECT_FALSE(thread.hasHandle());

    thread.create("Loader");
    EXPECT_EQ(thread.state(), Thread::Suspended);
    EXPECT_TRUE(thread.hasHandle());
    EXPECT_NE(thread.id(), 0u);
    EXPECT_STREQ(thread.name(), "Loader");
    EXPECT_EQ(runnable.runs.load(), 0);

    ASSERT_TRUE(thread.start(&runnable));
    EXPECT_EQ(thread.state(), Thread::Started);
    EXPECT_EQ(thread.runnable(), &runnable);

    thread.join();
    EXPECT_EQ(thread.state(), Thread::Suspended);
    EXPECT_EQ(thread.runnable(), nullptr);
    EXPECT_EQ(thread.exitCode(), 42u);
    EXPECT_EQ(runnable.runs.load(), 1);
    EXPECT_STREQ(runnable.name, "Loader");

    thread.join(); // a second join has nothing to wait for
    EXPECT_EQ(thread.state(), Thread::Suspended);
}

TEST(Thread, StartWithoutCreateFailsAndJoinedThreadCannotStartAgain)
{
    CountingRunnable runnable;
    Thread never;
    EXPECT_FALSE(never.start(&runnable));

    Thread once;
    once.create(nullptr);
    ASSERT_TRUE(once.start(&runnable));
    once.join();
    EXPECT_FALSE(once.start(&runnable));
    EXPECT_EQ(runnable.runs.load(), 1);
}

TEST(Thread, ClearForgetsTheRecord)
{
    CountingRunnable runnable;
    Thread thread;
    thread.create("Once");
    ASSERT_TRUE(thread.start(&runnable));
    thread.clear();
    EXPECT_EQ(runnable.runs.load(), 1);
    EXPECT_EQ(thread.state(), Thread::NotCreated);
    EXPECT_FALSE(thread.hasHandle());
    EXPECT_EQ(thread.name(), nullptr);
    EXPECT_EQ(thread.id(), 0u);

    thread.create(nullptr); // usable again
    ASSERT_TRUE(thread.start(&runnable));
    thread.join();
    EXPECT_EQ(runnable.runs.load(), 2);
}

TEST(ThreadDeathTest, CreatingOverALiveThreadIsFatal)
{
    EXPECT_DEATH(
        {
            std::atomic<bool> release{false};
            class Blocking final : public Runnable {
            public:
                explicit Blocking(std::atomic<bool>& flag) : m_flag(flag) {}
                u32 run() override
                {
                    while (!m_flag)
                        platform::yieldThread();
                    return 0;
                }

            private:
                std::atomic<bool>& m_flag;
            } runnable(release);
            Thread thread;
            thread.create(nullptr);
            thread.start(&runnable);
            thread.create(nullptr);
        },
        "Thread creation failed");
}

} // namespace
} // namespace quern::threads
