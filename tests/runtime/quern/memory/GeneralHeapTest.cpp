#include "quern/memory/GeneralHeap.h"

#include "HeapTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace quern::memory {
namespace {

using test::expectHeapConsistent;
using test::isAligned;
using test::stamp;
using test::stampIntact;

#if QUERN_SYSTEM_ALLOCATOR
constexpr bool kSystemAllocator = true;
#else
constexpr bool kSystemAllocator = false;
#endif

#define SKIP_WITH_SYSTEM_ALLOCATOR()                                                                                   \
    if (kSystemAllocator)                                                                                              \
    GTEST_SKIP() << "the general heap is the C library's in this build"

TEST(GeneralHeap, SmallRequestsGetExactChunkSizes)
{
    SKIP_WITH_SYSTEM_ALLOCATOR();
    struct Case {
        u64 request;
        u64 usable; // chunk size less the 8-byte header
    };
    const Case cases[] = {
        { 0, 24 },
        { 1, 24 },
        { 23, 24 },
        { 24, 24 },
        { 25, 40 },
        { 40, 40 },
        { 41, 56 },
        { 232, 232 },
        { 233, 248 },
        { 1000, 1000 },
    };
    for (const Case& c : cases) {
        void* p = heapAlloc(c.request);
        ASSERT_NE(p, nullptr) << c.request;
        EXPECT_TRUE(isAligned(p, 16)) << c.request;
        EXPECT_EQ(heapUsableSize(getGeneralHeap(), p), c.usable) << c.request;
        stamp(p, c.usable);
        heapFree(p);
    }
    expectHeapConsistent(getGeneralHeap());
}

TEST(GeneralHeap, FreeOfNullIsIgnoredAndUsableSizeOfNullIsZero)
{
    heapFree(nullptr);
    EXPECT_EQ(heapUsableSize(getGeneralHeap(), nullptr), 0u);
    EXPECT_EQ(heapResizeInPlace(nullptr, 16), nullptr);
}

TEST(GeneralHeap, RequestsWhoseSizeWouldWrapReturnNull)
{
    for (u64 size : { ~u64(0), ~u64(0) - 100, u64(0) - 128 })
        EXPECT_EQ(heapAlloc(size), nullptr) << size;
}

TEST(GeneralHeap, LargeRequestIsItsOwnMappingReleasedOnFree)
{
    SKIP_WITH_SYSTEM_ALLOCATOR();
    Heap* heap = getGeneralHeap();
    void* warm = heapAlloc(64); // make sure the heap has its first segment
    const u64 before = heapFootprint(heap);
    // Earlier work may have left a top or a free chunk above the threshold.
    const u64 size = test::sizeBeyondFootprint(heap, 4 * 1024 * 1024);
    void* block = heapAlloc(size);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(isAligned(block, 16));
    const u64 mapped = heapFootprint(heap) - before;
    EXPECT_GE(mapped, size);
    EXPECT_EQ(mapped % (64 * 1024), 0u);
    EXPECT_GE(heapUsableSize(heap, block), size);
    EXPECT_EQ(heapUsableSize(heap, block) % 16, 0u);
    stamp(block, size);
    EXPECT_TRUE(stampIntact(block, size));
    heapFree(block);
    EXPECT_EQ(heapFootprint(heap), before);
    EXPECT_GE(heapMaxFootprint(heap), before + mapped);
    heapFree(warm);
    expectHeapConsistent(heap);
}

TEST(GeneralHeap, RequestJustBelowMappingThresholdComesFromSegments)
{
    SKIP_WITH_SYSTEM_ALLOCATOR();
    Heap* heap = getGeneralHeap();
    std::vector<void*> blocks;
    // Twenty blocks just below the threshold: none may be a mapping of its own,
    // so the footprint grows by whole segments that hold several of them.
    for (int i = 0; i < 20; ++i) {
        blocks.push_back(heapAlloc(256 * 1024 - 64));
        EXPECT_EQ(heapUsableSize(heap, blocks.back()) % 16, 8u);
    }
    expectHeapConsistent(heap);
    for (void* p : blocks)
        heapFree(p);
    expectHeapConsistent(heap);
}

struct AlignCase {
    u64 alignment;
    u64 size;
    u64 expectedAlignment;
};

TEST(GeneralHeap, AlignedAllocationTable)
{
    const AlignCase cases[] = {
        { 0, 10, 32 },
        { 1, 100, 32 },
        { 16, 1, 32 },
        { 32, 0, 32 },
        { 48, 100, 64 },
        { 64, 64, 64 },
        { 100, 1000, 128 },
        { 128, 5000, 128 },
        { 4096, 10, 4096 },
        { 4096, 300000, 4096 },
        { 65536, 70000, 65536 },
        { 1 << 20, 64, 1 << 20 },
    };
    Heap* heap = getGeneralHeap();
    std::vector<std::pair<void*, u64>> live;
    for (const AlignCase& c : cases) {
        void* p = heapAllocAligned(heap, c.alignment, c.size);
        ASSERT_NE(p, nullptr) << c.alignment;
        EXPECT_TRUE(isAligned(p, c.expectedAlignment)) << c.alignment << " " << p;
        EXPECT_GE(heapUsableSize(heap, p), c.size);
        stamp(p, c.size);
        live.emplace_back(p, c.size);
    }
    for (auto [p, size] : live) {
        EXPECT_TRUE(stampIntact(p, size));
        heapFree(p);
    }
    if (!kSystemAllocator)
        expectHeapConsistent(heap);
}

TEST(GeneralHeap, ResizeInPlaceKeepsContentsAndPointer)
{
    SKIP_WITH_SYSTEM_ALLOCATOR();
    Heap* heap = getGeneralHeap();
    void* block = heapAlloc(1000);
    stamp(block, 1000);
    const u8 mark = test::stampByte(block, 1000, 0);
    const u64 usableBefore = heapUsableSize(heap, block);
    if (void* grown = heapResizeInPlace(block, 50000)) {
        EXPECT_EQ(grown, block);
        EXPECT_GE(heapUsableSize(heap, block), 50000u);
    } else {
        EXPECT_EQ(heapUsableSize(heap, block), usableBefore);
    }
    EXPECT_TRUE(test::allBytesAre(block, 1000, mark));
    ASSERT_EQ(heapResizeInPlace(block, 64), block); // shrinking always succeeds
    EXPECT_EQ(heapUsableSize(heap, block), 72u);
    EXPECT_TRUE(test::allBytesAre(block, 64, mark));
    expectHeapConsistent(heap);
    heapFree(block);
    expectHeapConsistent(heap);
}

// Random allocations, frees and in-place resizes; every live block keeps its
// stamp and the heap stays consistent.
void randomOperations(u32 seed, int operations, bool verify)
{
    std::mt19937 random(seed);
    struct Block {
        void* pointer;
        u64 size;
    };
    std::vector<Block> live;
    auto randomSize = [&]() -> u64 {
        const u32 kind = random() % 100;
        if (kind < 70)
            return random() % 256;
        if (kind < 95)
            return 256 + random() % 8192;
        if (kind < 99)
            return 8192 + random() % (200 * 1024);
        return 256 * 1024 + random() % (512 * 1024);
    };
    for (int i = 0; i < operations; ++i) {
        const u32 action = random() % 10;
        if (action < 5 || live.empty()) {
            const u64 size = randomSize();
            void* p = heapAlloc(size);
            ASSERT_NE(p, nullptr);
            ASSERT_TRUE(isAligned(p, 16));
            stamp(p, size);
            live.push_back({ p, size });
        } else if (action < 9) {
            const size_t index = random() % live.size();
            ASSERT_TRUE(stampIntact(live[index].pointer, live[index].size)) << "block " << index;
            heapFree(live[index].pointer);
            live[index] = live.back();
            live.pop_back();
        } else {
            Block& block = live[random() % live.size()];
            const u64 newSize = randomSize();
            const u8 mark = test::stampByte(block.pointer, block.size, 0);
            if (heapResizeInPlace(block.pointer, newSize)) {
                ASSERT_TRUE(test::allBytesAre(block.pointer, std::min(block.size, newSize), mark));
                ASSERT_GE(heapUsableSize(getGeneralHeap(), block.pointer), newSize);
                block.size = newSize;
                stamp(block.pointer, newSize);
            }
        }
        if (verify && i % 500 == 0 && !kSystemAllocator)
            expectHeapConsistent(getGeneralHeap());
    }
    for (const Block& block : live) {
        ASSERT_TRUE(stampIntact(block.pointer, block.size));
        heapFree(block.pointer);
    }
}

TEST(GeneralHeap, RandomSequencesKeepBlocksAndBinsIntact)
{
    for (u32 seed : { 1u, 7u, 2024u })
        randomOperations(seed, 20000, true);
    if (!kSystemAllocator)
        expectHeapConsistent(getGeneralHeap());
}

TEST(GeneralHeap, ThreadsAllocateAndFreeConcurrently)
{
    constexpr int kThreads = 6;
    std::vector<std::thread> threads;
    // Each thread works on its own blocks and also frees blocks another thread made.
    std::vector<std::atomic<void*>> handoff(kThreads * 64);
    for (auto& slot : handoff)
        slot.store(nullptr);
    std::atomic<int> failures { 0 };
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &handoff, &failures] {
            std::mt19937 random(100 + t);
            std::vector<std::pair<void*, u64>> mine;
            for (int i = 0; i < 30000; ++i) {
                const u32 action = random() % 8;
                if (action < 4) {
                    const u64 size = random() % 3 == 0 ? random() % 5000 : random() % 200;
                    void* p = heapAlloc(size);
                    stamp(p, size);
                    mine.emplace_back(p, size);
                } else if (action < 7 && !mine.empty()) {
                    const size_t index = random() % mine.size();
                    if (!stampIntact(mine[index].first, mine[index].second))
                        ++failures;
                    heapFree(mine[index].first);
                    mine[index] = mine.back();
                    mine.pop_back();
                } else {
                    // Swap a 48-byte block through a shared slot.
                    void* p = heapAlloc(48);
                    stamp(p, 48, 5);
                    void* old = handoff[random() % handoff.size()].exchange(p);
                    if (old) {
                        if (!stampIntact(old, 48, 5))
                            ++failures;
                        heapFree(old);
                    }
                }
            }
            for (auto [p, size] : mine) {
                if (!stampIntact(p, size))
                    ++failures;
                heapFree(p);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (auto& slot : handoff)
        heapFree(slot.exchange(nullptr));
    EXPECT_EQ(failures.load(), 0);
    if (!kSystemAllocator)
        expectHeapConsistent(getGeneralHeap());
}

TEST(GeneralHeapDeathTest, SystemRefusingMemoryAbortsWithoutMessage)
{
    SKIP_WITH_SYSTEM_ALLOCATOR();
    // No fatal hook and no text: the process just ends.
    EXPECT_EXIT(heapAlloc(u64(1) << 60), testing::KilledBySignal(SIGABRT), "^$");
}

TEST(GeneralHeapDeathTest, AlignmentsTooLargeToRoundAbort)
{
    // Rounding up to a power of two would overflow: refused, not looped on.
    EXPECT_EXIT(heapAllocAligned(getGeneralHeap(), (u64(1) << 63) + 1, 16), testing::KilledBySignal(SIGABRT), "^$");
}

TEST(GeneralHeapDeathTest, MisuseAborts)
{
    SKIP_WITH_SYSTEM_ALLOCATOR();
    EXPECT_EXIT(
        {
            void* p = heapAlloc(100);
            heapFree(p);
            heapFree(p);
        },
        testing::KilledBySignal(SIGABRT), "^$");
    EXPECT_EXIT(
        {
            char* p = static_cast<char*>(heapAlloc(100));
            heapFree(p + 8);
        },
        testing::KilledBySignal(SIGABRT), "^$");
    EXPECT_EXIT(heapAllocAligned(getGeneralHeap(), 64, u64(0) - 128 - 64), testing::KilledBySignal(SIGABRT), "^$");
    EXPECT_EXIT(
        {
            void* p = heapAlloc(100);
            heapResizeInPlace(p, u64(0) - 128);
        },
        testing::KilledBySignal(SIGABRT), "^$");
}

} // namespace
} // namespace quern::memory
