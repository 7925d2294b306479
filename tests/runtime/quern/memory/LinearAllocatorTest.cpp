#include "quern/memory/LinearAllocator.h"

#include "CountingAllocator.h"
#include "quern/memory/StackAllocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace quern::memory {
namespace {

using testing::CountingAllocator;

TEST(LinearAllocator, TakesItsBlockFromTheParentAndGivesItBack)
{
    CountingAllocator parent;
    {
        LinearAllocator linear(&parent, 1024);
        EXPECT_EQ(parent.allocations, 1);
        EXPECT_EQ(parent.lastSize, 1024u);
        void* record = linear.allocate(100, 0);
        EXPECT_TRUE(linear.ownsBlock(record));
        EXPECT_EQ(parent.allocations, 1);
        linear.free(record);
    }
    EXPECT_EQ(parent.frees, 1);
}

TEST(LinearAllocator, PayloadsHonourAlignmentWithFourAsTheFloor)
{
    CountingAllocator parent;
    LinearAllocator linear(&parent, 4096);
    for (u64 alignment : {0u, 1u, 2u, 4u, 8u, 16u, 64u, 256u}) {
        void* record = linear.allocate(13, alignment);
        ASSERT_TRUE(linear.ownsBlock(record));
        const u64 expected = alignment < 4 ? 4 : alignment;
        EXPECT_EQ(reinterpret_cast<u64>(record) % expected, 0u) << alignment;
    }
    EXPECT_EQ(parent.allocations, 1);
}

TEST(LinearAllocator, RequestsLargerThanTheBlockGoToTheParent)
{
    CountingAllocator parent;
    LinearAllocator linear(&parent, 256);
    void* large = linear.allocate(300, 16);
    ASSERT_NE(large, nullptr);
    EXPECT_FALSE(linear.ownsBlock(large));
    EXPECT_EQ(parent.allocations, 2);
    linear.free(large);
    EXPECT_EQ(parent.frees, 1);
    EXPECT_EQ(parent.lastFreed, large);
    EXPECT_EQ(linear.liveBytes(), 0u);
}

TEST(LinearAllocator, OutOfOrderFreesAreReclaimedOnlyWithTheOldestRecord)
{
    CountingAllocator parent;
    LinearAllocator linear(&parent, 256);
    // Each record: 4-byte header + 60 bytes at alignment 4 = 64 bytes.
    void* a = linear.allocate(60, 4);
    void* b = linear.allocate(60, 4);
    void* c = linear.allocate(60, 4);
    void* d = linear.allocate(60, 4);
    ASSERT_TRUE(linear.ownsBlock(a) && linear.ownsBlock(b) && linear.ownsBlock(c) && linear.ownsBlock(d));

    linear.free(b);
    linear.free(c);
    EXPECT_EQ(linear.liveBytes(), 128u);
    // b and c wait behind a: the ring is still full.
    void* overflow = linear.allocate(60, 4);
    EXPECT_FALSE(linear.ownsBlock(overflow));
    linear.free(overflow);

    linear.free(a);
    // a, b and c are reclaimed together; the record wraps to the block start.
    void* reused = linear.allocate(60, 4);
    EXPECT_EQ(reused, a);
    void* next = linear.allocate(60, 4);
    EXPECT_EQ(next, b);
    void* blocked = linear.allocate(120, 4);
    EXPECT_FALSE(linear.ownsBlock(blocked));
    linear.free(blocked);
    linear.free(next);
    linear.free(reused);
    linear.free(d);
    EXPECT_EQ(linear.liveBytes(), 0u);
}

TEST(LinearAllocator, AllRecordsFreedResetsTheRing)
{
    CountingAllocator parent;
    LinearAllocator linear(&parent, 256);
    void* first = linear.allocate(100, 8);
    void* second = linear.allocate(100, 8);
    linear.free(second);
    linear.free(nullptr);
    linear.free(first);
    EXPECT_EQ(linear.liveBytes(), 0u);
    EXPECT_EQ(linear.allocate(100, 8), first);
}

TEST(LinearAllocator, ATailTooShortIsSkippedAndTheRecordWraps)
{
    CountingAllocator parent;
    LinearAllocator linear(&parent, 256);
    void* a = linear.allocate(96, 4);  // [0, 100)
    void* b = linear.allocate(96, 4);  // [100, 200)
    std::memset(b, 0x11, 96);
    linear.free(a);
    // 56 bytes remain at the end; 80 do not fit there but do at the start.
    unsigned char* c = static_cast<unsigned char*>(linear.allocate(76, 4));
    ASSERT_TRUE(linear.ownsBlock(c));
    EXPECT_LT(c, static_cast<unsigned char*>(b));
    std::memset(c, 0x22, 76);
    for (int i = 0; i < 96; ++i)
        ASSERT_EQ(static_cast<unsigned char*>(b)[i], 0x11);
    // Freeing b lets the oldest position walk over the skipped tail to c.
    linear.free(b);
    EXPECT_EQ(linear.liveBytes(), 80u);
    void* d = linear.allocate(96, 4);
    EXPECT_TRUE(linear.ownsBlock(d));
    linear.free(c);
    linear.free(d);
    EXPECT_EQ(linear.liveBytes(), 0u);
}

TEST(LinearAllocator, FreeingARecordTwiceChangesNothing)
{
    CountingAllocator parent;
    LinearAllocator linear(&parent, 256);
    void* a = linear.allocate(20, 4);
    void* b = linear.allocate(20, 16);
    linear.free(b);
    const u64 live = linear.liveBytes();
    linear.free(b);
    EXPECT_EQ(linear.liveBytes(), live);
    linear.free(a);
    EXPECT_EQ(linear.liveBytes(), 0u);
}

TEST(LinearAllocator, WithoutABlockEveryRequestGoesToTheParent)
{
    alignas(16) unsigned char tiny[8];
    StackAllocator tooSmall(tiny, sizeof tiny);
    LinearAllocator starved(&tooSmall, 1024);
    CountingAllocator parent;
    LinearAllocator empty(&parent, 0);
    void* block = empty.allocate(10, 0);
    EXPECT_EQ(parent.allocations, 1);
    EXPECT_FALSE(empty.ownsBlock(block));
    empty.free(block);
    EXPECT_EQ(starved.allocate(10, 0), nullptr);
}

// Random short-lived traffic, as a frame's temporaries make it: no live
// record may ever be overwritten by another, wherever the ring wraps.
TEST(LinearAllocator, RandomTrafficNeverOverlapsLiveRecords)
{
    CountingAllocator parent;
    LinearAllocator linear(&parent, 2048);
    struct Live {
        unsigned char* data;
        u64 size;
        unsigned char fill;
    };
    std::vector<Live> live;
    std::mt19937 random(1234);
    unsigned char fill = 1;
    for (int step = 0; step < 20000; ++step) {
        const bool allocate = live.empty() || random() % 100 < 55;
        if (allocate && live.size() < 40) {
            const u64 size = random() % 200;
            const u64 alignment = u64{1} << (random() % 7);
            unsigned char* data = static_cast<unsigned char*>(linear.allocate(size, alignment));
            ASSERT_NE(data, nullptr);
            ASSERT_EQ(reinterpret_cast<u64>(data) % (alignment < 4 ? 4 : alignment), 0u);
            std::memset(data, fill, size);
            live.push_back({data, size, fill});
            fill = static_cast<unsigned char>(fill % 250 + 1);
        } else if (!live.empty()) {
            // Mostly oldest first, sometimes out of order.
            const u64 index = random() % 4 == 0 ? random() % live.size() : 0;
            linear.free(live[index].data);
            live.erase(live.begin() + static_cast<long>(index));
        }
        for (const Live& record : live)
            for (u64 i = 0; i < record.size; ++i)
                ASSERT_EQ(record.data[i], record.fill) << "step " << step;
    }
    for (const Live& record : live)
        linear.free(record.data);
    EXPECT_EQ(linear.liveBytes(), 0u);
    EXPECT_EQ(parent.allocations - 1, parent.frees);
}

TEST(LinearAllocator, CreatedFromAnObjectAllocator)
{
    alignas(16) unsigned char buffer[128];
    StackAllocator objects(buffer, sizeof buffer);
    CountingAllocator parent;
    LinearAllocator* linear = createLinearAllocator(objects, &parent, 512);
    ASSERT_NE(linear, nullptr);
    EXPECT_TRUE(objects.contains(linear));
    EXPECT_EQ(linear->parent(), &parent);
    linear->~LinearAllocator();
    EXPECT_EQ(parent.frees, 1);

    StackAllocator full(buffer, 8);
    EXPECT_EQ(createLinearAllocator(full, &parent, 512), nullptr);
}

} // namespace
} // namespace quern::memory
