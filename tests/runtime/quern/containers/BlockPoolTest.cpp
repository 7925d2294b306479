#include "quern/containers/BlockPool.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using quern::u64;
using quern::containers::BlockPool;

struct Job {
    u64 payload[3];
    Job* next; // the free-list link is the record's last field
};

TEST(BlockPool, GrownBlockHandsOutItsLastRecordFirst)
{
    BlockPool<Job> pool;
    pool.grow(4);
    Job* first = pool.take();
    Job* second = pool.take();
    EXPECT_EQ(second + 1, first);
    Job* third = pool.take();
    Job* fourth = pool.take();
    EXPECT_EQ(fourth + 3, first); // the block's first record comes last
    EXPECT_EQ(third + 2, first);
    EXPECT_FALSE(pool.hasFree());
}

TEST(BlockPool, GivenBackRecordIsTakenNext)
{
    BlockPool<Job> pool;
    pool.grow(2);
    Job* a = pool.take();
    pool.give(a);
    EXPECT_EQ(pool.take(), a);
}

TEST(BlockPool, NewBlockChainsOntoThePreviousFreeRecords)
{
    BlockPool<Job> pool;
    pool.grow(2);
    Job* oldLast = pool.take(); // leaves one old record free
    pool.give(oldLast);
    pool.grow(3);
    std::set<Job*> taken;
    for (int i = 0; i < 5; ++i)
        taken.insert(pool.take());
    EXPECT_EQ(taken.size(), 5u);
    EXPECT_TRUE(taken.count(oldLast));
    EXPECT_FALSE(pool.hasFree());
    EXPECT_EQ(pool.blockCount(), 2u);
}

TEST(BlockPool, EmptyPoolGrowsByItsGrowCount)
{
    BlockPool<Job> pool(nullptr, 8);
    std::set<Job*> taken;
    for (int i = 0; i < 9; ++i) {
        Job* job = pool.take();
        job->payload[0] = static_cast<u64>(i); // records are usable storage
        taken.insert(job);
    }
    EXPECT_EQ(taken.size(), 9u);
    EXPECT_EQ(pool.blockCount(), 2u);
}

TEST(BlockPool, ClearFreesEverything)
{
    BlockPool<Job> pool(nullptr, 4);
    pool.take();
    pool.grow(16);
    pool.clear();
    EXPECT_EQ(pool.blockCount(), 0u);
    EXPECT_FALSE(pool.hasFree());
    EXPECT_NE(pool.take(), nullptr); // usable again
}

TEST(BlockPoolDeathTest, EmptyPoolWithoutGrowCountIsFatal)
{
    EXPECT_DEATH(
        {
            BlockPool<Job> pool;
            pool.take();
        },
        "BlockPool is empty and has no grow count");
}

} // namespace
