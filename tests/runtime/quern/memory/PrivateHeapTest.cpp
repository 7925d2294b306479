#include "quern/memory/GeneralHeap.h"

#include "HeapTestSupport.h"
#include "quern/platform/VirtualMemory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace quern::memory {
namespace {

using test::expectHeapConsistent;
using test::isAligned;
using test::stamp;
using test::stampIntact;

constexpr u64 kMiB = 1024 * 1024;

// A page-aligned block from the C library, as the application takes it.
struct Block {
    explicit Block(u64 size)
        : size(size)
        , data(static_cast<u8*>(std::aligned_alloc(4096, size)))
    {
    }
    ~Block() { std::free(data); }
    bool contains(const void* p) const { return p >= data && p < data + size; }
    u64 size;
    u8* data;
};

TEST(PrivateHeap, BlocksTooSmallForTheStateGiveNoHeap)
{
    Block block(4096);
    EXPECT_EQ(createPrivateHeap(block.data, 0), nullptr);
    EXPECT_EQ(createPrivateHeap(block.data, 1024), nullptr);
    EXPECT_EQ(createPrivateHeap(nullptr, 4096), nullptr);
    EXPECT_EQ(createPrivateHeap(block.data, ~u64(0) - 4096), nullptr);
    // Just above the state: the heap exists and grows from the system at once.
    Heap* heap = createPrivateHeap(block.data, 1025);
    ASSERT_NE(heap, nullptr);
    void* p = privateHeapAlloc(heap, 100);
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(block.contains(p));
    stamp(p, 100);
    privateHeapFree(heap, p);
    expectHeapConsistent(heap);
    EXPECT_GT(destroyPrivateHeap(heap), 0u);
}

TEST(PrivateHeap, RaggedBlocksAreTrimmedToWholeChunks)
{
    Block block(8192);
    // Too little left once the start is aligned and the end rounded down.
    EXPECT_EQ(createPrivateHeap(block.data + 3, 1030), nullptr);
    Heap* heap = createPrivateHeap(block.data + 3, 4093);
    ASSERT_NE(heap, nullptr);
    EXPECT_TRUE(isAligned(heap, 16));
    std::vector<void*> live;
    void* p;
    while ((p = privateHeapAlloc(heap, 40)) != nullptr && block.contains(p)) {
        EXPECT_TRUE(isAligned(p, 16));
        EXPECT_LE(static_cast<u8*>(p) + 40, block.data + 3 + 4093);
        live.push_back(p);
    }
    EXPECT_GT(live.size(), 40u);
    expectHeapConsistent(heap);
    destroyPrivateHeap(heap);
}

TEST(PrivateHeap, ServesFromTheBlockThenMapsAndDestroyReleasesOnlyTheExtra)
{
    Block block(2 * kMiB);
    Heap* heap = createPrivateHeap(block.data, block.size);
    ASSERT_NE(heap, nullptr);
    EXPECT_TRUE(block.contains(heap));
    EXPECT_EQ(heapFootprint(heap), block.size);

    std::vector<void*> inside;
    void* p = nullptr;
    // 1000-byte blocks fill the 2 MiB block before any system memory is taken.
    while ((p = privateHeapAlloc(heap, 1000)) != nullptr && block.contains(p)) {
        stamp(p, 1000);
        inside.push_back(p);
    }
    EXPECT_GT(inside.size(), 2000u);
    EXPECT_GT(heapFootprint(heap), block.size);
    stamp(p, 1000);
    void* large = privateHeapAlloc(heap, 300 * 1024); // a direct mapping
    stamp(large, 300 * 1024);
    const u64 extra = heapFootprint(heap) - block.size;
    expectHeapConsistent(heap);
    for (void* q : inside)
        EXPECT_TRUE(stampIntact(q, 1000));
    EXPECT_EQ(destroyPrivateHeap(heap), extra);
    // The caller's block is untouched by the destruction.
    for (void* q : inside)
        EXPECT_TRUE(stampIntact(q, 1000));
}

TEST(PrivateHeapDeathTest, DestroyReleasesBlocksStillMappedForLargeRequests)
{
#if QUERN_SANITIZED
    GTEST_SKIP() << "the sanitizer turns the fault into its own exit";
#endif
    Block block(64 * 1024);
    Heap* heap = createPrivateHeap(block.data, block.size);
    u8* large = static_cast<u8*>(privateHeapAlloc(heap, kMiB));
    stamp(large, kMiB);
    EXPECT_GE(destroyPrivateHeap(heap), kMiB);
    EXPECT_EXIT(large[kMiB / 2] = 1, testing::KilledBySignal(SIGSEGV), "");
}

TEST(PrivateHeap, TwoLevelHeapsShareOnePageAlignedBlock)
{
    constexpr u64 kLevelHeapSize = 8; // MB, as the setting gives it
    const u64 half = kLevelHeapSize << 20;
    Block block(2 * half);
    Heap* heaps[2] = { createPrivateHeap(block.data, half), createPrivateHeap(block.data + half, half) };
    ASSERT_NE(heaps[0], nullptr);
    ASSERT_NE(heaps[1], nullptr);

    struct Live {
        void* pointer;
        u64 size;
    };
    std::vector<Live> live[2];
    std::mt19937 random(11);
    for (int i = 0; i < 40000; ++i) {
        const int which = random() % 2;
        Heap* heap = heaps[which];
        if (random() % 3 != 0 || live[which].empty()) {
            const u64 size = random() % 10 == 0 ? random() % 60000 : random() % 300;
            void* p = privateHeapAlloc(heap, size);
            ASSERT_NE(p, nullptr);
            const u8* mine = block.data + which * half;
            const u8* other = block.data + (1 - which) * half;
            const u8* bytes = static_cast<const u8*>(p);
            // From its own half, or from system memory outside the block.
            EXPECT_FALSE(bytes >= other && bytes < other + half);
            if (bytes >= mine && bytes < mine + half) {
                EXPECT_LE(bytes + size, mine + half);
            }
            stamp(p, size, which);
            live[which].push_back({ p, size });
        } else {
            const size_t index = random() % live[which].size();
            ASSERT_TRUE(stampIntact(live[which][index].pointer, live[which][index].size, which));
            privateHeapFree(heap, live[which][index].pointer);
            live[which][index] = live[which].back();
            live[which].pop_back();
        }
    }
    for (int which = 0; which < 2; ++which) {
        expectHeapConsistent(heaps[which]);
        for (const Live& l : live[which])
            EXPECT_TRUE(stampIntact(l.pointer, l.size, which));
        const u64 extra = heapFootprint(heaps[which]) - half;
        EXPECT_EQ(destroyPrivateHeap(heaps[which]), extra) << "heap " << which;
    }
}

// A fresh heap cuts blocks from its top one after the other, so the
// neighbours of each block are known.
class PrivateHeapResize : public testing::Test {
protected:
    void SetUp() override { heap = createPrivateHeap(block.data, block.size); }
    void TearDown() override
    {
        expectHeapConsistent(heap);
        destroyPrivateHeap(heap);
    }
    u64 usable(void* p) { return heapUsableSize(heap, p); }

    Block block { kMiB };
    Heap* heap = nullptr;
};

TEST_F(PrivateHeapResize, BlockFollowedByTopGrowsWithoutMoving)
{
    void* p = privateHeapAlloc(heap, 100);
    stamp(p, 100);
    ASSERT_EQ(privateHeapResizeInPlace(heap, p, 50000), p);
    EXPECT_GE(usable(p), 50000u);
    EXPECT_TRUE(test::allBytesAre(p, 100, test::stampByte(p, 100, 0)));
    // The next block comes from the new top, right behind the grown one.
    void* next = privateHeapAlloc(heap, 16);
    EXPECT_EQ(static_cast<u8*>(next), static_cast<u8*>(p) + usable(p) + 8);
}

TEST_F(PrivateHeapResize, BlockFollowedByAllocatedChunkCannotGrow)
{
    void* p = privateHeapAlloc(heap, 100);
    void* after = privateHeapAlloc(heap, 100);
    stamp(p, 100);
    EXPECT_EQ(privateHeapResizeInPlace(heap, p, 200), nullptr);
    EXPECT_EQ(usable(p), 104u);
    EXPECT_TRUE(stampIntact(p, 100));
    // Growing within the chunk's own slack still succeeds.
    EXPECT_EQ(privateHeapResizeInPlace(heap, p, 104), p);
    privateHeapFree(heap, after);
}

TEST_F(PrivateHeapResize, GrowsIntoAFreeNeighbour)
{
    void* p = privateHeapAlloc(heap, 1000);
    void* neighbour = privateHeapAlloc(heap, 3000);
    void* guard = privateHeapAlloc(heap, 100);
    privateHeapFree(heap, neighbour);
    stamp(p, 1000);
    ASSERT_EQ(privateHeapResizeInPlace(heap, p, 2500), p);
    EXPECT_GE(usable(p), 2500u);
    EXPECT_TRUE(test::allBytesAre(p, 1000, test::stampByte(p, 1000, 0)));
    // The neighbour's rest stays free and is handed out again.
    void* rest = privateHeapAlloc(heap, 1000);
    EXPECT_GT(rest, p);
    EXPECT_LT(rest, guard);
    privateHeapFree(heap, guard);
}

TEST_F(PrivateHeapResize, ShrinkingSplitsOffTheRest)
{
    void* p = privateHeapAlloc(heap, 4000);
    void* guard = privateHeapAlloc(heap, 100);
    ASSERT_EQ(privateHeapResizeInPlace(heap, p, 1000), p);
    EXPECT_EQ(usable(p), 1000u);
    // The split-off rest is free and serves the next fitting request.
    void* reused = privateHeapAlloc(heap, 2900);
    EXPECT_EQ(static_cast<u8*>(reused), static_cast<u8*>(p) + 1008); // chunk of 1008 bytes, header 16
    // A shrink that would leave less than a whole chunk keeps the block as is.
    EXPECT_EQ(privateHeapResizeInPlace(heap, p, 990), p);
    EXPECT_EQ(usable(p), 1000u);
    privateHeapFree(heap, guard);
}

TEST(PrivateHeap, UsableSizeIsZeroForAFreedChunk)
{
    Block block(kMiB);
    Heap* heap = createPrivateHeap(block.data, block.size);
    void* a = privateHeapAlloc(heap, 200);
    void* b = privateHeapAlloc(heap, 200);
    void* c = privateHeapAlloc(heap, 200);
    EXPECT_EQ(heapUsableSize(heap, b), 200u);
    privateHeapFree(heap, b); // lies in a small bin between two blocks in use
    EXPECT_EQ(heapUsableSize(heap, b), 0u);
    privateHeapFree(heap, a);
    privateHeapFree(heap, c);
    expectHeapConsistent(heap);
    destroyPrivateHeap(heap);
}

TEST(PrivateHeap, LargeRequestBeyondTheTopIsAMappingReleasedOnFree)
{
    Block block(64 * 1024);
    Heap* heap = createPrivateHeap(block.data, block.size);
    const u64 before = heapFootprint(heap);
    void* mapped = privateHeapAlloc(heap, 256 * 1024);
    EXPECT_FALSE(block.contains(mapped));
    // A mapping's chunk costs 16 bytes where a segment chunk costs 8.
    EXPECT_EQ(heapUsableSize(heap, mapped) % 16, 0u);
    EXPECT_GE(heapUsableSize(heap, mapped), 256u * 1024);
    const u64 mapSize = heapFootprint(heap) - before;
    EXPECT_EQ(mapSize, 320u * 1024); // request plus overhead, in 64 KiB granules
    stamp(mapped, 256 * 1024);
    EXPECT_TRUE(stampIntact(mapped, 256 * 1024));
    privateHeapFree(heap, mapped);
    EXPECT_EQ(heapFootprint(heap), before);
    EXPECT_EQ(heapMaxFootprint(heap), before + mapSize);
    expectHeapConsistent(heap);
    EXPECT_EQ(destroyPrivateHeap(heap), 0u);
}

TEST(PrivateHeap, AlignedLargeRequestIsAMappingAndDestroyStillFindsIt)
{
    Block block(64 * 1024);
    Heap* heap = createPrivateHeap(block.data, block.size);
    const u64 before = heapFootprint(heap);
    void* first = heapAllocAligned(heap, 4096, 512 * 1024);
    void* second = heapAllocAligned(heap, 65536, 300 * 1024);
    EXPECT_TRUE(isAligned(first, 4096));
    EXPECT_TRUE(isAligned(second, 65536));
    EXPECT_GE(heapUsableSize(heap, first), 512u * 1024);
    EXPECT_GE(heapUsableSize(heap, second), 300u * 1024);
    stamp(first, 512 * 1024);
    stamp(second, 300 * 1024);
    const u64 mapped = heapFootprint(heap) - before;
    EXPECT_GE(mapped, 812u * 1024);
    privateHeapFree(heap, first);
    EXPECT_LT(heapFootprint(heap), before + mapped);
    EXPECT_TRUE(stampIntact(second, 300 * 1024));
    // The block moved inside its mapping; destruction still releases all of it.
    EXPECT_EQ(destroyPrivateHeap(heap), heapFootprint(heap) - before);
}

TEST(PrivateHeap, MappedBlocksResizeOnlyWithinTheirSlack)
{
    Block block(64 * 1024);
    Heap* heap = createPrivateHeap(block.data, block.size);
    void* p = privateHeapAlloc(heap, 600 * 1024);
    const u64 usable = heapUsableSize(heap, p);
    EXPECT_EQ(privateHeapResizeInPlace(heap, p, 560 * 1024), p); // within two granules: keeps its mapping
    EXPECT_EQ(heapUsableSize(heap, p), usable);
    EXPECT_EQ(privateHeapResizeInPlace(heap, p, 100 * 1024), nullptr); // too much slack: the caller moves it
    EXPECT_EQ(privateHeapResizeInPlace(heap, p, 100), nullptr);
    EXPECT_EQ(privateHeapResizeInPlace(heap, p, usable + 1), nullptr);
    privateHeapFree(heap, p);
    EXPECT_EQ(heapFootprint(heap), block.size);
    destroyPrivateHeap(heap);
}

TEST(PrivateHeap, AlignedAllocationsComeFromTheBlock)
{
    Block block(4 * kMiB);
    Heap* heap = createPrivateHeap(block.data, block.size);
    std::vector<std::pair<void*, u64>> live;
    for (u64 alignment : { 16u, 32u, 48u, 64u, 256u, 4096u }) {
        for (u64 size : { 1u, 100u, 5000u }) {
            void* p = heapAllocAligned(heap, alignment, size);
            EXPECT_TRUE(block.contains(p));
            EXPECT_TRUE(isAligned(p, alignment == 48 ? 64 : std::max<u64>(alignment, 32)));
            stamp(p, size);
            live.emplace_back(p, size);
        }
    }
    expectHeapConsistent(heap);
    for (auto [p, size] : live) {
        EXPECT_TRUE(stampIntact(p, size));
        privateHeapFree(heap, p);
    }
    expectHeapConsistent(heap);
    EXPECT_EQ(destroyPrivateHeap(heap), 0u);
}

// The mapped segment that holds the top chunk.
const heap::Segment* topSegment(const Heap* heap)
{
    const u8* top = reinterpret_cast<const u8*>(heap->top);
    for (const heap::Segment* s = &heap->segment; s; s = s->next)
        if (top >= s->base && top < s->base + s->size)
            return s;
    return nullptr;
}

// Frees a large chunk into the bins `count` times (it is taken again at once),
// the other trigger of the release of wholly free segments.
void freeLargeChunksIntoBins(Heap* heap, u64 count)
{
    void* chunk = privateHeapAlloc(heap, 1024);
    void* after = privateHeapAlloc(heap, 1024); // keeps the chunk out of the top
    for (u64 i = 0; i < count; ++i) {
        privateHeapFree(heap, chunk);
        chunk = privateHeapAlloc(heap, 1024);
    }
    privateHeapFree(heap, chunk);
    privateHeapFree(heap, after);
}

// Where the system puts the segments decides which trigger gives them back:
// segments mapped next to each other join into one that holds the top, which
// the free that leaves the top above the trim threshold trims; segments
// mapped apart stay small and separate, and the periodic release check after
// every kMaxReleaseCheckRate frees of large chunks releases them.
TEST(PrivateHeap, TrimsMappedSegmentsOnceTheirBlocksAreFree)
{
    Block block(64 * 1024);
    Heap* heap = createPrivateHeap(block.data, block.size);
    std::vector<void*> blocks;
    for (int i = 0; i < 200; ++i)
        blocks.push_back(privateHeapAlloc(heap, 100 * 1024));
    EXPECT_GE(heapFootprint(heap), block.size + 200 * 100 * 1024);
    const heap::Segment* grown = topSegment(heap);
    ASSERT_NE(grown, nullptr);
    const bool joined = grown->size > 2 * heap::g_parameters.trimThreshold;

    for (void* p : blocks)
        privateHeapFree(heap, p);
    expectHeapConsistent(heap);
    const u64 allowed = block.size + 2 * kMiB + 256 * 1024;
    if (joined) {
        EXPECT_LE(heapFootprint(heap), allowed) << "the top was not trimmed";
    }

    freeLargeChunksIntoBins(heap, heap::kMaxReleaseCheckRate);
    expectHeapConsistent(heap);
    EXPECT_LE(heapFootprint(heap), allowed) << (joined ? "joined" : "separate") << " segments were kept";
    destroyPrivateHeap(heap);
}

// Segments mapped apart (a reservation between each two) are released by the
// release check alone: the top never grows past the trim threshold.
TEST(PrivateHeap, ReleaseCheckGivesBackSegmentsMappedApart)
{
    Block block(64 * 1024);
    Heap* heap = createPrivateHeap(block.data, block.size);
    std::vector<void*> blocks, gaps;
    for (int i = 0; i < 40; ++i) {
        blocks.push_back(privateHeapAlloc(heap, 100 * 1024));
        gaps.push_back(platform::reserveVirtualMemory(64 * 1024));
    }
    u64 segments = 0;
    for (const heap::Segment* s = &heap->segment; s; s = s->next)
        segments += (s->flags & heap::kMappedSegment) ? 1 : 0;
    for (void* p : blocks)
        privateHeapFree(heap, p);
    const u64 kept = heapFootprint(heap);

    freeLargeChunksIntoBins(heap, heap::kMaxReleaseCheckRate);
    expectHeapConsistent(heap);
    // At most the segment that holds the top and the one the bin frees used.
    EXPECT_LE(heapFootprint(heap), block.size + 2 * 256 * 1024) << segments << " segments";
    EXPECT_LT(heapFootprint(heap), kept);
    destroyPrivateHeap(heap);
    for (void* gap : gaps)
        platform::releaseVirtualMemory(gap, 64 * 1024);
}

TEST(PrivateHeapDeathTest, OperationsOnSomethingThatIsNotAPrivateHeapAbort)
{
    Block block(kMiB);
    std::memset(block.data, 0, block.size);
    Heap* fake = reinterpret_cast<Heap*>(block.data + 16);
    EXPECT_EXIT(privateHeapAlloc(fake, 10), testing::KilledBySignal(SIGABRT), "^$");
    EXPECT_EXIT(privateHeapAlloc(getGeneralHeap(), 10), testing::KilledBySignal(SIGABRT), "^$");
    Heap* heap = createPrivateHeap(block.data, block.size);
    destroyPrivateHeap(heap);
    EXPECT_EXIT(privateHeapAlloc(heap, 10), testing::KilledBySignal(SIGABRT), "^$");
    EXPECT_EXIT(privateHeapFree(heap, block.data + 2048), testing::KilledBySignal(SIGABRT), "^$");
}

TEST(PrivateHeapDeathTest, SystemRefusingMemoryAbortsWithoutMessage)
{
    Block block(kMiB);
    Heap* heap = createPrivateHeap(block.data, block.size);
    EXPECT_EXIT(privateHeapAlloc(heap, u64(1) << 60), testing::KilledBySignal(SIGABRT), "^$");
    EXPECT_EXIT(heapAllocAligned(heap, 4096, u64(1) << 60), testing::KilledBySignal(SIGABRT), "^$");
    destroyPrivateHeap(heap);
}

TEST(PrivateHeap, RequestsWhoseSizeWouldWrapReturnNull)
{
    Block block(kMiB);
    Heap* heap = createPrivateHeap(block.data, block.size);
    EXPECT_EQ(privateHeapAlloc(heap, ~u64(0)), nullptr);
    EXPECT_EQ(privateHeapAlloc(heap, u64(0) - 128), nullptr);
    expectHeapConsistent(heap);
    destroyPrivateHeap(heap);
}

} // namespace
} // namespace quern::memory
