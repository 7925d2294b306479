#include "quern/platform/Semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace quern::platform {
namespace {

i32 drain(Semaphore& semaphore)
{
    i32 taken = 0;
    while (semaphore.tryWait())
        ++taken;
    return taken;
}

TEST(Semaphore, ReleaseBeyondTheMaximumKeepsOnlyWhatFits)
{
    struct Case {
        i32 initial, maximum, release;
        bool fullyAdded;
        i32 countAfter;
    };
    const Case cases[] = {
        {0, 1, 1, true, 1},   {1, 1, 1, false, 1},  {0, 3, 5, false, 3}, {2, 3, 1, true, 3},
        {0, 10, 4, true, 4},  {0, 0x7fffffff, 7, true, 7}, {0, 5, 0, false, 0}, {2, 5, -1, false, 2},
    };
    for (const Case& c : cases) {
        Semaphore semaphore(c.initial, c.maximum);
        EXPECT_EQ(semaphore.release(c.release), c.fullyAdded) << c.initial << "/" << c.maximum << " +" << c.release;
        EXPECT_EQ(drain(semaphore), c.countAfter) << c.initial << "/" << c.maximum << " +" << c.release;
    }
}

TEST(Semaphore, InitialCountIsAvailableAndTryWaitNeverBlocksWhenEmpty)
{
    Semaphore semaphore(2, 4);
    EXPECT_TRUE(semaphore.tryWait());
    EXPECT_TRUE(semaphore.tryWait());
    EXPECT_FALSE(semaphore.tryWait());
    EXPECT_EQ(semaphore.maximumCount(), 4);
}

TEST(Semaphore, EveryReleaseWakesExactlyOneWait)
{
    constexpr int kWaiters = 4;
    constexpr int kPerWaiter = 5000;
    Semaphore semaphore(0, Semaphore::kLargestMaximum);
    std::atomic<int> taken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] {
            for (int k = 0; k < kPerWaiter; ++k) {
                semaphore.wait();
                taken.fetch_add(1);
            }
        });
    for (int k = 0; k < kWaiters * kPerWaiter; ++k)
        semaphore.release(1);
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(taken.load(), kWaiters * kPerWaiter);
    EXPECT_FALSE(semaphore.tryWait());
}

TEST(Semaphore, ReleaseOfManyWakesAllSleepers)
{
    constexpr int kWaiters = 6;
    Semaphore semaphore(0, Semaphore::kLargestMaximum);
    std::vector<std::thread> waiters;
    std::atomic<int> woken{0};
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] {
            semaphore.wait();
            woken.fetch_add(1);
        });
    semaphore.release(kWaiters);
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(woken.load(), kWaiters);
}

TEST(SemaphoreDeathTest, InvalidCountsAreFatal)
{
    EXPECT_DEATH(Semaphore(0, 0), "Invalid semaphore count");
    EXPECT_DEATH(Semaphore(2, 1), "Invalid semaphore count");
    EXPECT_DEATH(Semaphore(-1, 1), "Invalid semaphore count");
}

} // namespace
} // namespace quern::platform
