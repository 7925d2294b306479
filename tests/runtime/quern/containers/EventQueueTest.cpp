#include "quern/containers/EventQueue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

using quern::i64;
using quern::u16;
using quern::u32;
using quern::u64;
using quern::u8;
using quern::containers::EventHeader;
using quern::containers::EventQueue;

namespace {

// Hands out blocks followed by a band of canary bytes, so any write past the
// end of the ring shows even without a sanitizer.
class CanaryAllocator final : public quern::memory::Allocator {
public:
    static constexpr u64 kBand = 64;
    static constexpr u8 kCanary = 0xA5;

    ~CanaryAllocator() override { EXPECT_EQ(m_blocks.size(), 0u); }
    void* allocate(u64 size, u64) override
    {
        if (failAllocations)
            return nullptr;
        auto* block = static_cast<u8*>(std::malloc(size + kBand));
        std::memset(block + size, kCanary, kBand);
        m_blocks.push_back({block, size});
        return block;
    }
    void free(void* pointer) override
    {
        for (auto it = m_blocks.begin(); it != m_blocks.end(); ++it) {
            if (it->data == pointer) {
                EXPECT_TRUE(bandIntact(*it));
                m_blocks.erase(it);
                break;
            }
        }
        std::free(pointer);
    }
    void* tryResize(void* pointer, u64 newSize) override
    {
        // Growth in place is granted by restoring the band past the new end:
        // blocks are never made larger than first asked, so only shrinking works.
        for (Block& b : m_blocks) {
            if (b.data == pointer && grantResize && newSize <= b.size) {
                std::memset(b.data + newSize, kCanary, b.size - newSize);
                b.size = newSize;
                return pointer;
            }
        }
        return nullptr;
    }
    bool allBandsIntact() const
    {
        for (const Block& b : m_blocks)
            if (!bandIntact(b))
                return false;
        return true;
    }

    bool failAllocations = false;
    bool grantResize = false;

private:
    struct Block {
        u8* data;
        u64 size;
    };
    static bool bandIntact(const Block& b)
    {
        for (u64 i = 0; i < kBand; ++i)
            if (b.data[b.size + i] != kCanary)
                return false;
        return true;
    }
    std::vector<Block> m_blocks;
};

struct Record {
    u16 type;
    std::vector<u8> payload;
};

Record makeRecord(u16 type, u64 size)
{
    Record r{type, std::vector<u8>(size)};
    for (u64 i = 0; i < size; ++i)
        r.payload[i] = static_cast<u8>(type * 31 + i);
    return r;
}

bool pushRecord(EventQueue& queue, const Record& r)
{
    void* place = queue.push(r.type, r.payload.size());
    if (place && !r.payload.empty())
        std::memcpy(place, r.payload.data(), r.payload.size());
    return place != nullptr;
}

// Pops one record and checks it against the expected one.
void expectPop(EventQueue& queue, const Record& expected)
{
    EventHeader* record = queue.front();
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->type, expected.type);
    ASSERT_GE(record->payloadSize, expected.payload.size());
    if (!expected.payload.empty()) {
        EXPECT_EQ(std::memcmp(EventQueue::payload(record), expected.payload.data(), expected.payload.size()), 0)
            << "type " << expected.type;
    }
    queue.pop();
}

u64 offsetIn(const EventQueue& queue, const void* place)
{
    return static_cast<u64>(static_cast<const u8*>(place) - queue.buffer());
}

} // namespace

TEST(EventQueue, PopsInPushOrderWithPayloads)
{
    CanaryAllocator allocator;
    EventQueue queue(&allocator);
    queue.reserve(256);
    std::vector<Record> records;
    for (u16 i = 1; i <= 6; ++i)
        records.push_back(makeRecord(i, i * 3));
    for (const Record& r : records)
        ASSERT_TRUE(pushRecord(queue, r));
    for (const Record& r : records)
        expectPop(queue, r);
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_TRUE(allocator.allBandsIntact());
}

TEST(EventQueue, RecordsAreFourByteAligned)
{
    EventQueue queue;
    queue.reserve(128);
    void* a = queue.push(1, 1);
    void* b = queue.push(2, 5);
    void* c = queue.push(3, 0);
    EXPECT_EQ(offsetIn(queue, a), 8u);
    EXPECT_EQ(offsetIn(queue, b), 20u); // 8 + 1 rounded up to 12, then the header
    EXPECT_EQ(offsetIn(queue, c), 36u); // the second record ends at 12 + 8 + 5, rounded up to 28
}

TEST(EventQueue, PoppingTheLastRecordRestartsAtTheRingStart)
{
    EventQueue queue;
    queue.reserve(128);
    queue.push(1, 16);
    queue.push(2, 16);
    queue.pop();
    queue.pop();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(queue.front(), nullptr);
    EXPECT_EQ(offsetIn(queue, queue.push(3, 4)), 8u);
}

TEST(EventQueue, PushIntoAQueueWithoutRingFails)
{
    EventQueue queue;
    EXPECT_EQ(queue.push(1, 0), nullptr);
}

// A 64-byte ring with record A (12-byte payload, 20 bytes) at 0 and B after it;
// A is popped, then C is pushed. Every record must leave a header's room before
// the end of the ring for the wrap marker.
TEST(EventQueue, RecordsNearTheRingEndLeaveRoomForTheWrapMarker)
{
    struct Case {
        u64 sizeB;
        u64 sizeC;
        bool pushedB;
        i64 placeC; // payload offset of C, -1 when refused
    };
    const Case cases[] = {
        {20, 0, true, 56},  // B ends at 48; C ends at 56, a header before the end
        {20, 4, true, 8},   // C would end at 60: wraps to the start
        {20, 12, true, 8},  // C wrapped ends exactly at head (20)
        {20, 13, true, -1}, // C wrapped would overlap head
        {24, 0, true, 8},   // B ends at 52: C at 52 would end at 60
        {28, 0, true, 8},   // B ends at 56, exactly a marker's room before the end
        {29, 0, false, 0},  // B would end at 60: refused (ring has not wrapped, head at 0)
        {36, 0, false, 0},  // B would end exactly at the ring's end: refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "B " << c.sizeB << ", C " << c.sizeC);
        CanaryAllocator allocator;
        EventQueue queue(&allocator);
        queue.reserve(64);
        const Record a = makeRecord(1, 12), b = makeRecord(2, c.sizeB), rc = makeRecord(3, c.sizeC);
        ASSERT_TRUE(pushRecord(queue, a));
        ASSERT_EQ(pushRecord(queue, b), c.pushedB);
        EXPECT_TRUE(allocator.allBandsIntact());
        if (!c.pushedB)
            continue;
        queue.pop();
        void* place = queue.push(rc.type, rc.payload.size());
        if (c.placeC < 0) {
            EXPECT_EQ(place, nullptr);
        } else {
            ASSERT_NE(place, nullptr);
            EXPECT_EQ(offsetIn(queue, place), static_cast<u64>(c.placeC));
            if (!rc.payload.empty())
                std::memcpy(place, rc.payload.data(), rc.payload.size());
        }
        EXPECT_TRUE(allocator.allBandsIntact());
        expectPop(queue, b);
        if (c.placeC >= 0)
            expectPop(queue, rc);
        EXPECT_TRUE(queue.isEmpty());
    }
}

TEST(EventQueue, EmptyRingTakesRecordsThatLeaveAMarkersRoom)
{
    // Rings of every size from 16 to 40 bytes, including sizes that are not a
    // multiple of 4, and every payload that might fit.
    for (u64 capacity = 16; capacity <= 40; ++capacity) {
        for (u64 size = 0; size <= capacity; ++size) {
            CanaryAllocator allocator;
            EventQueue queue(&allocator);
            queue.reserve(capacity);
            const bool fits = (8 + size + 3) / 4 * 4 + 8 <= capacity;
            void* place = queue.push(7, size);
            EXPECT_EQ(place != nullptr, fits) << "capacity " << capacity << ", payload " << size;
            if (place)
                std::memset(place, 0xEE, size);
            // A second record either follows or is refused; neither may write outside.
            if (void* second = queue.push(8, 0)) {
                EXPECT_LE(offsetIn(queue, second) + 8, capacity);
            }
            EXPECT_TRUE(allocator.allBandsIntact()) << "capacity " << capacity << ", payload " << size;
        }
    }
}

TEST(EventQueue, RandomTrafficKeepsOrderAndStaysInsideTheRing)
{
    std::mt19937 random(1234);
    for (u64 capacity : {24u, 37u, 64u, 100u, 250u}) {
        CanaryAllocator allocator;
        EventQueue queue(&allocator);
        queue.reserve(capacity);
        std::deque<Record> model;
        u16 nextType = 0;
        for (int step = 0; step < 20000; ++step) {
            if (random() % 2 == 0) {
                const Record r = makeRecord(nextType, random() % 24);
                if (pushRecord(queue, r)) {
                    model.push_back(r);
                    nextType = static_cast<u16>((nextType + 1) % 0xfff0);
                } else if (model.empty()) {
                    ASSERT_GT((8 + r.payload.size() + 3) / 4 * 4 + 8, capacity);
                }
            } else if (!model.empty()) {
                ASSERT_NO_FATAL_FAILURE(expectPop(queue, model.front()));
                model.pop_front();
            }
            ASSERT_EQ(queue.isEmpty(), model.empty());
            ASSERT_TRUE(allocator.allBandsIntact()) << "capacity " << capacity << ", step " << step;
        }
    }
}

TEST(EventQueue, ReserveOfAWrappedRingKeepsOrder)
{
    CanaryAllocator allocator;
    EventQueue queue(&allocator);
    queue.reserve(96);
    std::deque<Record> model;
    u16 type = 1;
    // Fill, drain the oldest, and refill until the ring has wrapped.
    for (int i = 0; i < 4; ++i) {
        model.push_back(makeRecord(type++, 10 + i));
        ASSERT_TRUE(pushRecord(queue, model.back()));
    }
    for (int i = 0; i < 2; ++i) {
        expectPop(queue, model.front());
        model.pop_front();
    }
    u64 lastPlace = 0;
    for (;;) {
        Record r = makeRecord(type, 6);
        void* place = queue.push(r.type, r.payload.size());
        if (!place)
            break;
        std::memcpy(place, r.payload.data(), r.payload.size());
        lastPlace = offsetIn(queue, place);
        model.push_back(r);
        ++type;
    }
    // Wrapped: the newest record lies before the oldest one.
    ASSERT_LT(lastPlace, offsetIn(queue, queue.front()));

    queue.reserve(200);
    EXPECT_EQ(offsetIn(queue, queue.front()), 0u);
    EXPECT_TRUE(allocator.allBandsIntact());
    // More records after the move land behind the moved ones.
    for (int i = 0; i < 3; ++i) {
        model.push_back(makeRecord(type++, 20));
        ASSERT_TRUE(pushRecord(queue, model.back()));
    }
    while (!model.empty()) {
        ASSERT_NO_FATAL_FAILURE(expectPop(queue, model.front()));
        model.pop_front();
    }
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_TRUE(allocator.allBandsIntact());
}

TEST(EventQueue, ReserveOfAnUnwrappedRingResizesInPlaceWhenItCan)
{
    CanaryAllocator allocator;
    allocator.grantResize = true;
    EventQueue queue(&allocator);
    queue.reserve(256);
    const Record r = makeRecord(4, 10);
    ASSERT_TRUE(pushRecord(queue, r));
    const u8* ring = queue.buffer();
    queue.reserve(128);
    EXPECT_EQ(queue.buffer(), ring);
    EXPECT_EQ(queue.capacity(), 128u);
    expectPop(queue, r);
}

TEST(EventQueue, ReserveOfAnEmptyQueueReplacesTheRing)
{
    CanaryAllocator allocator;
    EventQueue queue(&allocator);
    queue.reserve(64);
    queue.reserve(512);
    EXPECT_EQ(queue.capacity(), 512u);
    EXPECT_NE(queue.push(1, 400), nullptr);
    queue.pop();
    queue.reserve(0);
    EXPECT_EQ(queue.buffer(), nullptr);
}

TEST(EventQueueDeathTest, ReserveBelowTheQueuedRecordsIsFatal)
{
    EventQueue queue;
    queue.reserve(256);
    queue.push(1, 100);
    EXPECT_DEATH(queue.reserve(64), "EventQueue::reserve capacity is too small for the queued events");
}

TEST(EventQueueDeathTest, FailedRingAllocationIsOutOfMemory)
{
    CanaryAllocator allocator;
    EventQueue queue(&allocator);
    allocator.failAllocations = true;
    EXPECT_DEATH(queue.reserve(64), "Out of memory");
    allocator.failAllocations = false;
    queue.reserve(64);
    queue.push(1, 4);
    allocator.failAllocations = true;
    EXPECT_DEATH(queue.reserve(128), "Out of memory");
    allocator.failAllocations = false;
}

TEST(EventQueueDeathTest, WrapMarkerTypeCannotBePushed)
{
    EventQueue queue;
    queue.reserve(64);
    EXPECT_DEATH(queue.push(0xffff, 0), "reserved for the wrap marker");
}
