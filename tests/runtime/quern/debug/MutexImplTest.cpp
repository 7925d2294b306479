#include "quern/debug/MutexImpl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using quern::debug::MutexImpl;
using quern::debug::MutexLock;

TEST(MutexImpl, SameThreadMayLockAgain)
{
    MutexImpl mutex;
    mutex.lock();
    EXPECT_TRUE(mutex.tryLock());
    mutex.lock();
    mutex.unlock();
    mutex.unlock();
    mutex.unlock();
    // Fully released: another thread gets it.
    bool otherGotIt = false;
    std::thread other([&] {
        otherGotIt = mutex.tryLock();
        if (otherGotIt)
            mutex.unlock();
    });
    other.join();
    EXPECT_TRUE(otherGotIt);
}

TEST(MutexImpl, HeldMutexRefusesOtherThreadsUntilEveryLevelIsReleased)
{
    MutexImpl mutex;
    mutex.lock();
    mutex.lock();
    auto tryFromOtherThread = [&] {
        bool got = false;
        std::thread other([&] {
            got = mutex.tryLock();
            if (got)
                mutex.unlock();
        });
        other.join();
        return got;
    };
    EXPECT_FALSE(tryFromOtherThread());
    mutex.unlock();
    EXPECT_FALSE(tryFromOtherThread());
    mutex.unlock();
    EXPECT_TRUE(tryFromOtherThread());
}

TEST(MutexImpl, ContendedIncrementsAreNeverLost)
{
    MutexImpl mutex;
    long counter = 0; // deliberately not atomic: the mutex alone protects it
    constexpr int kThreads = 6;
    constexpr int kIncrements = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kIncrements; ++i) {
                MutexLock lock(mutex);
                MutexLock again(mutex);
                ++counter;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kIncrements);
}

} // namespace
