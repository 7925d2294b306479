#include "quern/containers/Array.h"

#include "quern/memory/DefaultAllocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

using quern::u32;
using quern::u64;
using quern::u8;
using quern::containers::Array;

namespace {

// A C-library allocator that counts its calls and can grant in-place growth, so
// tests see which path of the reallocation rule an array took.
class CountingAllocator final : public quern::memory::Allocator {
public:
    explicit CountingAllocator(bool resizeInPlace = false) : m_resizeInPlace(resizeInPlace) {}
    void* allocate(u64 size, u64 alignment) override
    {
        ++allocations;
        if (alignment < 16)
            alignment = 16;
        // Blocks are made large enough that in-place growth can be granted.
        const u64 bytes = m_resizeInPlace ? 1 << 20 : size;
        return std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment * alignment);
    }
    void free(void* pointer) override
    {
        if (pointer)
            ++frees;
        std::free(pointer);
    }
    void* tryResize(void* pointer, u64 newSize) override
    {
        ++resizes;
        return m_resizeInPlace && newSize <= (1 << 20) ? pointer : nullptr;
    }

    int allocations = 0;
    int frees = 0;
    int resizes = 0;

private:
    bool m_resizeInPlace;
};

Array makeU32(std::initializer_list<u32> values, quern::memory::Allocator* allocator = nullptr)
{
    Array array(sizeof(u32), alignof(u32), allocator);
    for (u32 v : values)
        array.append(v);
    return array;
}

std::vector<u32> contents(const Array& array)
{
    return {array.dataAs<u32>(), array.dataAs<u32>() + array.count()};
}

} // namespace

TEST(Array, GrowthPolicyFollowsBlockSize)
{
    struct Case {
        u64 elementSize;
        u64 capacity; // reserved exactly before growing
        u64 wanted;
        u64 expected;
    };
    const Case cases[] = {
        {4, 0, 1, 16},            // first block: 64 bytes' worth
        {4, 0, 100, 100},         // but never below the request
        {64, 0, 1, 1},
        {100, 0, 1, 1},           // elements above 64 bytes: one
        {100, 0, 7, 7},
        {4, 1023, 1024, 2046},    // just below 4 KB: doubles
        {4, 1024, 1025, 1536},    // 4 KB: grows by half
        {4, 32768, 32769, 49152}, // 128 KB: still by half
        {4, 32769, 32770, 65538}, // above 128 KB: doubles again
        {4, 16, 1000, 1000},      // a large request wins
    };
    for (const Case& c : cases) {
        Array array(c.elementSize, 4);
        array.reserve(c.capacity);
        EXPECT_EQ(array.growCapacity(c.wanted), c.expected)
            << "element size " << c.elementSize << ", capacity " << c.capacity << ", wanted " << c.wanted;
        array.expand(c.wanted);
        EXPECT_EQ(array.capacity(), c.expected);
        EXPECT_EQ(array.count(), c.wanted);
    }
}

TEST(Array, EmptyArrayTakesDefaultAllocatorAtFirstGrowth)
{
    Array array(8, 8);
    EXPECT_EQ(array.data(), nullptr);
    EXPECT_EQ(array.allocator(), nullptr);
    array.expand(1);
    EXPECT_NE(array.data(), nullptr);
    EXPECT_EQ(array.allocator(), quern::memory::getDefaultAllocator());
}

TEST(Array, SizedConstructorAllocatesExactly)
{
    CountingAllocator allocator;
    Array array(5, 12, 4, &allocator);
    EXPECT_EQ(array.count(), 5u);
    EXPECT_EQ(array.capacity(), 5u);
    EXPECT_EQ(allocator.allocations, 1);
    Array none(0, 12, 4, &allocator);
    EXPECT_EQ(none.data(), nullptr);
    EXPECT_EQ(allocator.allocations, 1);
}

TEST(Array, ExpandReturnsFirstNewElementAndKeepsContents)
{
    CountingAllocator allocator; // never resizes in place: every growth moves
    Array array(sizeof(u32), 4, &allocator);
    for (u32 i = 0; i < 5000; ++i) {
        auto* place = static_cast<u32*>(array.expand(array.count() + 1));
        EXPECT_EQ(place, array.dataAs<u32>() + i);
        *place = i * 7;
    }
    for (u32 i = 0; i < 5000; ++i)
        ASSERT_EQ(array.at<u32>(i), i * 7);
    EXPECT_GT(allocator.allocations, 1);
    EXPECT_EQ(allocator.allocations - 1, allocator.frees); // every moved-from block was freed

    const u64 capacity = array.capacity();
    array.expand(10);
    EXPECT_EQ(array.count(), 10u);
    EXPECT_EQ(array.capacity(), capacity); // shrinking the count gives nothing back
    EXPECT_EQ(array.at<u32>(9), 63u);
}

TEST(Array, GrowthResizesInPlaceWhenTheAllocatorCan)
{
    CountingAllocator allocator(true);
    Array array = makeU32({1, 2, 3}, &allocator);
    const void* block = array.data();
    array.expand(1000);
    EXPECT_EQ(array.data(), block);
    EXPECT_EQ(allocator.allocations, 1);
    EXPECT_GE(allocator.resizes, 1);
}

TEST(Array, DataHonoursAlignment)
{
    for (u64 alignment : {16u, 64u, 256u}) {
        Array array(3, alignment);
        array.expand(1);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(array.data()) % alignment, 0u) << alignment;
        array.expand(100000);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(array.data()) % alignment, 0u) << alignment;
    }
}

TEST(Array, PushOfOwnElementSurvivesGrowth)
{
    Array array = makeU32({11, 22, 33});
    array.reserve(3);
    while (array.count() < array.capacity())
        array.append(u32{44});
    const u64 full = array.count();
    array.push(array.at(1)); // the source lies in the block that moves
    EXPECT_EQ(array.at<u32>(full), 22u);
    array.append(array.at<u32>(0));
    EXPECT_EQ(array.at<u32>(full + 1), 11u);
}

TEST(Array, ReserveGrowsToExactlyTheRequest)
{
    Array array = makeU32({1, 2, 3});
    array.reserve(1000);
    EXPECT_EQ(array.capacity(), 1000u);
    EXPECT_EQ(contents(array), (std::vector<u32>{1, 2, 3}));
    array.reserve(10); // never shrinks
    EXPECT_EQ(array.capacity(), 1000u);
}

TEST(Array, AssignReplacesContents)
{
    Array array = makeU32({9, 9, 9, 9, 9, 9});
    const u32 source[] = {1, 2, 3};
    array.assign(source, source + 3);
    EXPECT_EQ(contents(array), (std::vector<u32>{1, 2, 3}));

    std::vector<u32> big(100);
    for (u32 i = 0; i < 100; ++i)
        big[i] = i;
    array.assign(big.data(), big.data() + big.size());
    EXPECT_EQ(array.capacity(), 100u); // exactly the count, no growth policy
    EXPECT_EQ(contents(array), big);

    array.assign(array.at(90), array.end()); // from its own tail
    EXPECT_EQ(contents(array), (std::vector<u32>{90, 91, 92, 93, 94, 95, 96, 97, 98, 99}));

    array.assign(source, source);
    EXPECT_EQ(array.count(), 0u);
}

TEST(Array, EraseFillsTheHoleFromTheEnd)
{
    struct Case {
        u64 first;
        u64 last;
        std::vector<u32> expected;
    };
    const Case cases[] = {
        {0, 1, {5, 2, 3, 4}},    // the old last element takes the first place
        {0, 2, {4, 5, 3}},       // tail longer than the hole: the last two move in
        {1, 4, {1, 5}},          // tail shorter than the hole: the tail moves down
        {3, 5, {1, 2, 3}},       // erasing the end moves nothing
        {2, 2, {1, 2, 3, 4, 5}}, // empty range
        {0, 5, {}},
    };
    for (const Case& c : cases) {
        Array array = makeU32({1, 2, 3, 4, 5});
        void* first = array.at(c.first);
        EXPECT_EQ(array.erase(first, array.at(c.last)), first);
        EXPECT_EQ(contents(array), c.expected) << "erase [" << c.first << ", " << c.last << ")";
    }
}

TEST(Array, RemoveValueKeepsOrderAndShrinksTheBlock)
{
    int a = 0, b = 0, c = 0, absent = 0;
    Array array(8, 8);
    for (int* p : {&a, &b, &c, &b})
        array.append(p);
    array.removeValue(&b);
    ASSERT_EQ(array.count(), 3u);
    EXPECT_EQ(array.at<int*>(0), &a);
    EXPECT_EQ(array.at<int*>(1), &c);
    EXPECT_EQ(array.at<int*>(2), &b); // only the first match goes
    EXPECT_EQ(array.capacity(), 3u);

    array.append(&c);
    EXPECT_GT(array.capacity(), 4u);
    array.removeValue(&absent); // absent: still shrinks
    EXPECT_EQ(array.count(), 4u);
    EXPECT_EQ(array.capacity(), 4u);

    for (int* p : {&a, &c, &b, &c})
        array.removeValue(p);
    EXPECT_EQ(array.count(), 0u);
    EXPECT_EQ(array.data(), nullptr); // the last removal frees the block
    EXPECT_EQ(array.capacity(), 0u);
}

TEST(Array, MoveTransfersTheBlock)
{
    Array a = makeU32({1, 2, 3});
    const void* block = a.data();
    Array b(std::move(a));
    EXPECT_EQ(b.data(), block);
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.count(), 0u);
    a = std::move(b);
    EXPECT_EQ(contents(a), (std::vector<u32>{1, 2, 3}));
}

TEST(ArrayDeathTest, PushOfWrongSizedTypeIsFatal)
{
    Array array(8, 8);
    EXPECT_DEATH(array.append(u32{1}), "Array element size does not match the pushed type");
}

TEST(ArrayDeathTest, RemoveValueNeedsEightByteElements)
{
    Array array = makeU32({1});
    EXPECT_DEATH(array.removeValue(nullptr), "Array::removeValue needs 8-byte elements");
}

TEST(ArrayDeathTest, EraseOutsideTheArrayIsFatal)
{
    Array array = makeU32({1, 2, 3});
    EXPECT_DEATH(array.erase(array.at(2), array.at(4)), "Array::erase range lies outside the array");
}

TEST(ArrayDeathTest, ExhaustedAllocatorIsFatal)
{
    // An allocator that reports exhaustion by returning null, as the special-purpose ones do.
    class EmptyAllocator final : public quern::memory::Allocator {
    public:
        void* allocate(u64, u64) override { return nullptr; }
        void free(void*) override {}
        void* tryResize(void*, u64) override { return nullptr; }
    } empty;
    Array array(4, 4, &empty);
    EXPECT_DEATH(array.expand(1), "Out of memory");
    EXPECT_DEATH(array.reserve(10), "Out of memory");
    EXPECT_DEATH(Array(3, 4, 4, &empty), "Out of memory");
}
