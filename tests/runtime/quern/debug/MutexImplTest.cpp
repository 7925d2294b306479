#include "quern/debug/MutexImpl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
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

class MutexImplSpin : public ::testing::TestWithParam<MutexImpl::Spin> { };

TEST_P(MutexImplSpin, ContendedIncrementsAreNeverLost)
{
    MutexImpl mutex(GetParam());
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

// A waiter that backs off still gets the mutex from a holder that keeps it
// for a while, and the owner may still lock it again.
TEST_P(MutexImplSpin, WaiterGetsTheMutexAfterALongHold)
{
    MutexImpl mutex(GetParam());
    mutex.lock();
    mutex.lock();
    std::atomic<bool> waiting { false };
    std::atomic<bool> got { false };
    std::thread waiter([&] {
        waiting = true;
        mutex.lock();
        got = true;
        mutex.unlock();
    });
    while (!waiting)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // past the spinning, into the kernel wait
    EXPECT_FALSE(got.load());
    mutex.unlock();
    EXPECT_FALSE(got.load());
    mutex.unlock();
    waiter.join();
    EXPECT_TRUE(got.load());
}

INSTANTIATE_TEST_SUITE_P(BothWaysOfSpinning, MutexImplSpin,
    ::testing::Values(MutexImpl::Spin::Eager, MutexImpl::Spin::BackOff),
    [](const ::testing::TestParamInfo<MutexImpl::Spin>& info) {
        return info.param == MutexImpl::Spin::Eager ? std::string("Eager") : std::string("BackOff");
    });

} // namespace
