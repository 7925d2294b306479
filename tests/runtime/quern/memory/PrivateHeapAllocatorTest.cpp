#include "quern/memory/PrivateHeapAllocator.h"

#include "CountingAllocator.h"
#include "quern/memory/GeneralHeap.h"
#include "quern/memory/PageAllocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quern::memory {
namespace {

using testing::CountingAllocator;

TEST(PrivateHeapAllocator, BlocksOfAKilobyteOrLessGetNoHeapButRequestsStillCount)
{
    alignas(16) static unsigned char small[1024];
    PrivateHeapAllocator allocator;
    allocator.init(small, sizeof small);
    EXPECT_EQ(allocator.heap(), nullptr);
    EXPECT_EQ(allocator.allocate(16, 0), nullptr);
    EXPECT_EQ(allocator.allocationCount(), 1);
    EXPECT_EQ(allocator.bytesInUse(), 0u);
    allocator.free(nullptr);
    EXPECT_EQ(allocator.tryResize(nullptr, 8), nullptr);
}

TEST(PrivateHeapAllocator, CountsTheUsableBytesOfLiveBlocks)
{
    const u64 size = 1 << 20;
    void* block = pageAlloc(size, 4096);
    {
        PrivateHeapAllocator allocator;
        allocator.init(block, size);
        ASSERT_NE(allocator.heap(), nullptr);
        std::vector<void*> blocks;
        u64 expected = 0;
        for (u64 request : {1u, 24u, 100u, 1000u, 5000u}) {
            void* p = allocator.allocate(request, 0);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<u64>(p) % 16, 0u);
            EXPECT_GE(heapUsableSize(allocator.heap(), p), request);
            expected += heapUsableSize(allocator.heap(), p);
            std::memset(p, 0x77, request);
            blocks.push_back(p);
        }
        void* aligned = allocator.allocate(300, 128);
        ASSERT_NE(aligned, nullptr);
        EXPECT_EQ(reinterpret_cast<u64>(aligned) % 128, 0u);
        expected += heapUsableSize(allocator.heap(), aligned);
        blocks.push_back(aligned);
        EXPECT_EQ(allocator.bytesInUse(), expected);
        EXPECT_EQ(allocator.allocationCount(), 6);
        for (void* p : blocks)
            allocator.free(p);
        EXPECT_EQ(allocator.bytesInUse(), 0u);
        EXPECT_EQ(allocator.allocationCount(), 0);
    }
    pageFree(block);
}

TEST(PrivateHeapAllocator, ResizingInPlaceMovesTheByteCount)
{
    const u64 size = 1 << 20;
    void* block = pageAlloc(size, 4096);
    {
        PrivateHeapAllocator allocator;
        allocator.init(block, size);
        void* p = allocator.allocate(4000, 0);
        void* neighbour = allocator.allocate(100, 0);
        ASSERT_TRUE(p && neighbour);
        const u64 before = heapUsableSize(allocator.heap(), p);
        const u64 total = allocator.bytesInUse();

        // Hemmed in by its neighbour the block cannot grow: nothing changes.
        EXPECT_EQ(allocator.tryResize(p, 8000), nullptr);
        EXPECT_EQ(allocator.bytesInUse(), total);

        ASSERT_EQ(allocator.tryResize(p, 200), p);
        const u64 after = heapUsableSize(allocator.heap(), p);
        EXPECT_LT(after, before);
        EXPECT_EQ(allocator.bytesInUse(), total - before + after);
        allocator.free(neighbour);
        allocator.free(p);
        EXPECT_EQ(allocator.bytesInUse(), 0u);
    }
    pageFree(block);
}

TEST(PrivateHeapAllocator, GivesTheBlockBackToItsOwner)
{
    CountingAllocator owner;
    void* block = owner.allocate(64 * 1024, 16);
    {
        PrivateHeapAllocator allocator;
        allocator.init(block, 64 * 1024, &owner);
        allocator.free(allocator.allocate(100, 0));
    }
    EXPECT_EQ(owner.frees, 1);
    EXPECT_EQ(owner.lastFreed, block);
}

} // namespace
} // namespace quern::memory
