#include "quern/memory/DebugHeap.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

namespace quern::memory {
namespace {

constexpr u64 kPage = DebugHeap::kPageSize;

// Sanitizers catch the access fault themselves, report it and exit.
#if defined(QUERN_SANITIZED)
bool diedOfAccessFault(int status) { return status != 0; }
constexpr const char* kAccessFaultMessage = "SEGV";
#else
const ::testing::KilledBySignal diedOfAccessFault(SIGSEGV);
constexpr const char* kAccessFaultMessage = "";
#endif

unsigned char* pageOf(const void* pointer)
{
    return reinterpret_cast<unsigned char*>(reinterpret_cast<u64>(pointer) & ~(kPage - 1));
}

TEST(DebugHeap, BlocksEndAsCloseToTheirGuardPageAsTheAlignmentAllows)
{
    struct Case {
        u64 size;
        u64 alignment;
        u64 offsetInPage;
    };
    const Case cases[] = {
        {4096, 16, 0},
        {100, 16, 3984}, // slack 3,996 rounded down to 16
        {100, 4, 3996},
        {100, 0, 0},     // alignment 0: no slack at all
        {1, 1, 4095},
        {5000, 8, 3192}, // two pages, slack 3,192
        {0, 16, 0},
        {4095, 64, 0},
    };
    DebugHeap heap;
    ASSERT_TRUE(heap.init(1 << 20));
    for (const Case& c : cases) {
        unsigned char* block = static_cast<unsigned char*>(heap.allocate(c.size, c.alignment));
        ASSERT_NE(block, nullptr) << c.size << "/" << c.alignment;
        EXPECT_EQ(static_cast<u64>(block - pageOf(block)), c.offsetInPage) << c.size << "/" << c.alignment;
        for (unsigned char* slack = pageOf(block); slack < block; ++slack)
            ASSERT_EQ(*slack, DebugHeap::kSlackFill) << c.size << "/" << c.alignment;
        std::memset(block, 0x3C, c.size);
        heap.free(block);
    }
    EXPECT_EQ(heap.liveBlocks(), 0u);
}

TEST(DebugHeap, HonoursAlignmentsAboveAPage)
{
    DebugHeap heap;
    ASSERT_TRUE(heap.init(1 << 20));
    void* spacer = heap.allocate(10, 16);
    for (u64 alignment : {8192u, 65536u}) {
        unsigned char* block = static_cast<unsigned char*>(heap.allocate(100, alignment));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<u64>(block) % alignment, 0u);
        std::memset(block, 1, 100);
        heap.free(block);
    }
    heap.free(spacer);
}

TEST(DebugHeapDeathTest, WritingPastABlockFaultsAtOnce)
{
    DebugHeap heap;
    ASSERT_TRUE(heap.init(1 << 20));
    volatile unsigned char* block = static_cast<unsigned char*>(heap.allocate(100, 4));
    ASSERT_NE(block, nullptr);
    block[99] = 1;
    EXPECT_EXIT(block[100] = 1, diedOfAccessFault, kAccessFaultMessage);
}

TEST(DebugHeapDeathTest, TouchingAFreedBlockFaults)
{
    DebugHeap heap;
    ASSERT_TRUE(heap.init(1 << 20));
    volatile unsigned char* block = static_cast<unsigned char*>(heap.allocate(10000, 16));
    ASSERT_NE(block, nullptr);
    block[0] = 7;
    heap.free(const_cast<unsigned char*>(block));
    EXPECT_EXIT((void)block[0], diedOfAccessFault, kAccessFaultMessage);
    EXPECT_EXIT(block[5000] = 1, diedOfAccessFault, kAccessFaultMessage);
}

TEST(DebugHeap, FreedRunsComeBackOnlyWhenTheHeapRunsShort)
{
    DebugHeap heap;
    ASSERT_TRUE(heap.init(6 * kPage)); // room for three one-page blocks with their guards
    void* first = heap.allocate(100, 16);
    heap.free(first);
    void* second = heap.allocate(100, 16);
    void* third = heap.allocate(100, 16);
    ASSERT_TRUE(second && third);
    EXPECT_NE(pageOf(second), pageOf(first));
    EXPECT_NE(pageOf(third), pageOf(first));
    // Only the freed run is left: the shortage merges it back into use.
    void* fourth = heap.allocate(100, 16);
    EXPECT_EQ(pageOf(fourth), pageOf(first));
    EXPECT_EQ(heap.allocate(1, 1), nullptr);
    heap.free(second);
    heap.free(third);
    heap.free(fourth);
}

TEST(DebugHeap, MergingJoinsFreedNeighboursIntoOneRun)
{
    DebugHeap heap;
    ASSERT_TRUE(heap.init(16 * kPage));
    std::vector<void*> blocks;
    while (void* block = heap.allocate(kPage, 16))
        blocks.push_back(block);
    EXPECT_EQ(blocks.size(), 8u);
    // Free in an order that meets every merge case: lower neighbour free,
    // higher neighbour free, and neighbours still pending.
    for (u64 i : {3u, 1u, 2u, 0u, 7u, 5u, 6u, 4u})
        heap.free(blocks[i]);
    void* whole = heap.allocate(15 * kPage, 16);
    ASSERT_NE(whole, nullptr);
    std::memset(whole, 9, 15 * kPage);
    EXPECT_EQ(heap.allocate(0, 0), nullptr);
    heap.free(whole);
}

TEST(DebugHeap, EveryPageCanHoldItsOwnRun)
{
    // Empty blocks take one page each (the guard): as many runs as pages.
    DebugHeap heap;
    ASSERT_TRUE(heap.init(64 * kPage));
    std::vector<void*> blocks;
    while (void* block = heap.allocate(0, 16))
        blocks.push_back(block);
    EXPECT_EQ(blocks.size(), 64u);
    for (u64 i = 0; i < blocks.size(); i += 2)
        heap.free(blocks[i]);
    for (u64 i = 0; i < 32; ++i)
        EXPECT_NE(heap.allocate(0, 16), nullptr);
    EXPECT_EQ(heap.allocate(0, 16), nullptr);
}

TEST(DebugHeap, RequestsThatCannotFitReturnNull)
{
    DebugHeap heap;
    ASSERT_TRUE(heap.init(8 * kPage));
    EXPECT_EQ(heap.allocate(8 * kPage, 16), nullptr); // needs a ninth page for its guard
    EXPECT_EQ(heap.allocate(~u64{0}, 16), nullptr);
    void* block = heap.allocate(7 * kPage, 16);
    EXPECT_NE(block, nullptr);
    heap.free(block);
    EXPECT_EQ(heap.tryResize(block, 10), nullptr);

    DebugHeap empty;
    ASSERT_TRUE(empty.init(0));
    EXPECT_EQ(empty.allocate(0, 0), nullptr);

    DebugHeap uninitialised;
    EXPECT_EQ(uninitialised.allocate(1, 0), nullptr);
    uninitialised.free(nullptr);
}

TEST(DebugHeap, SeveralThreadsShareTheHeap)
{
    DebugHeap heap;
    ASSERT_TRUE(heap.init(2048 * kPage));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&heap, t] {
            for (int round = 0; round < 200; ++round) {
                unsigned char* blocks[4];
                for (unsigned char*& block : blocks) {
                    block = static_cast<unsigned char*>(heap.allocate(64 + t, 8));
                    ASSERT_NE(block, nullptr);
                    std::memset(block, t, 64 + t);
                }
                for (unsigned char* block : blocks) {
                    for (int i = 0; i < 64 + t; ++i)
                        ASSERT_EQ(block[i], t);
                    heap.free(block);
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(heap.liveBlocks(), 0u);
}

TEST(DebugHeapDeathTest, FreeingAPointerItDoesNotOwnIsFatal)
{
    DebugHeap heap;
    ASSERT_TRUE(heap.init(16 * kPage));
    void* block = heap.allocate(100, 16);
    int elsewhere = 0;
    EXPECT_DEATH(heap.free(&elsewhere), "does not belong to the heap");
    heap.free(block);
    EXPECT_DEATH(heap.free(block), "does not belong to the heap");
}

} // namespace
} // namespace quern::memory
