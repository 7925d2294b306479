#include "quern/containers/HandleTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

using quern::u32;
using quern::containers::HandleTable;

struct Entry {
    u32 value;
};

TEST(HandleTable, AllocatedHandleFindsItsEntry)
{
    HandleTable table(sizeof(Entry), alignof(Entry));
    u32 first = 0, second = 0;
    table.allocate<Entry>(first)->value = 11;
    table.allocate<Entry>(second)->value = 22;
    EXPECT_EQ(HandleTable::indexOf(first), 0u);
    EXPECT_EQ(HandleTable::indexOf(second), 1u);
    EXPECT_NE(HandleTable::generationOf(first), 0u);
    ASSERT_NE(table.lookup<Entry>(first), nullptr);
    EXPECT_EQ(table.lookup<Entry>(first)->value, 11u);
    EXPECT_EQ(table.lookup<Entry>(second)->value, 22u);
}

TEST(HandleTable, ReusedSlotGetsNewGenerationAndOldHandleGoesStale)
{
    HandleTable table(sizeof(Entry), alignof(Entry));
    u32 old = 0, reused = 0;
    table.allocate(old);
    ASSERT_TRUE(table.release(old));
    table.allocate(reused);
    EXPECT_EQ(HandleTable::indexOf(reused), HandleTable::indexOf(old));
    EXPECT_NE(HandleTable::generationOf(reused), HandleTable::generationOf(old));
    EXPECT_EQ(table.lookup(old), nullptr);
    EXPECT_FALSE(table.isValid(old));
    EXPECT_TRUE(table.isValid(reused));
}

TEST(HandleTable, FreedSlotsAreReusedLastInFirstOut)
{
    HandleTable table(sizeof(Entry), alignof(Entry));
    u32 handles[8];
    for (u32& handle : handles)
        table.allocate(handle);
    table.release(handles[3]);
    table.release(handles[7]);
    u32 a = 0, b = 0;
    table.allocate(a);
    table.allocate(b);
    EXPECT_EQ(HandleTable::indexOf(a), 7u);
    EXPECT_EQ(HandleTable::indexOf(b), 3u);
    EXPECT_EQ(table.slotCount(), 8u);
}

TEST(HandleTable, ForeignAndStaleHandlesNeverReachAnEntry)
{
    HandleTable empty(sizeof(Entry), alignof(Entry));
    HandleTable table(sizeof(Entry), alignof(Entry));
    u32 live = 0, released = 0;
    table.allocate(live);
    table.allocate(released);
    table.release(released);
    const u32 generation = HandleTable::generationOf(live);
    const u32 cases[] = {
        HandleTable::makeHandle(1, 0),          // generation 0 on a free slot
        HandleTable::makeHandle(0, 0),          // generation 0
        HandleTable::makeHandle(2, generation), // index past the table
        HandleTable::makeHandle(0xfffe, generation),
        HandleTable::kInvalidHandle,
        released,
        HandleTable::makeHandle(0, generation == 0xffff ? 1 : generation + 1),
    };
    for (u32 handle : cases) {
        EXPECT_EQ(table.lookup(handle), nullptr) << std::hex << handle;
        EXPECT_EQ(empty.lookup(handle), nullptr) << std::hex << handle;
    }
    EXPECT_EQ(empty.lookup(live), nullptr);
}

TEST(HandleTable, ReleasingAStaleHandleTwiceCannotShareASlot)
{
    HandleTable table(sizeof(Entry), alignof(Entry));
    u32 handle = 0;
    table.allocate(handle);
    EXPECT_TRUE(table.release(handle));
    EXPECT_FALSE(table.release(handle));
    EXPECT_FALSE(table.release(HandleTable::makeHandle(5, 1)));
    EXPECT_EQ(table.freeCount(), 1u);
    u32 a = 0, b = 0;
    table.allocate(a);
    table.allocate(b);
    EXPECT_NE(HandleTable::indexOf(a), HandleTable::indexOf(b));
}

TEST(HandleTable, GenerationWrapsFrom65535ToOneNeverZero)
{
    HandleTable table(sizeof(Entry), alignof(Entry));
    u32 previous = 0;
    bool wrapped = false;
    for (int i = 0; i < 0x10001 + 2; ++i) {
        u32 handle = 0;
        table.allocate(handle);
        const u32 generation = HandleTable::generationOf(handle);
        ASSERT_NE(generation, 0u);
        if (previous == 0xffff) {
            EXPECT_EQ(generation, 1u);
            wrapped = true;
        } else if (previous != 0) {
            EXPECT_EQ(generation, previous + 1);
        }
        previous = generation;
        table.release(handle);
    }
    EXPECT_TRUE(wrapped);
}

TEST(HandleTable, TablesOnSeveralThreadsNeverShareAGeneration)
{
    // 4 x 10000 allocations stay below one wrap of the shared counter, so with
    // an exact counter every generation handed out is distinct.
    constexpr int kThreads = 4, kPerThread = 10000;
    std::vector<std::vector<u32>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&seen, t] {
            HandleTable table(sizeof(Entry), alignof(Entry));
            for (int i = 0; i < kPerThread; ++i) {
                u32 handle = 0;
                table.allocate(handle);
                seen[t].push_back(HandleTable::generationOf(handle));
                table.release(handle);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    std::vector<u32> all;
    for (const auto& list : seen)
        all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

TEST(HandleTableDeathTest, FullTableIsFatal)
{
    EXPECT_DEATH(
        {
            HandleTable table(sizeof(Entry), alignof(Entry));
            u32 handle = 0;
            for (int i = 0; i <= 0xffff; ++i)
                table.allocate(handle);
        },
        "HandleTable is full");
}

} // namespace
