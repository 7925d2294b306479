#include "quern/memory/StackAllocator.h"

#include <gtest/gtest.h>

namespace quern::memory {
namespace {

struct AlignedBuffer {
    alignas(64) unsigned char bytes[256];
};

TEST(StackAllocator, FirstBlockOffsetFollowsAlignmentWithRoomForPadding)
{
    struct Case {
        u64 alignment;
        u64 offset;
    };
    // The two bytes below each block hold its padding, so an aligned top still
    // moves a whole alignment step; alignment 0 means 16.
    const Case cases[] = { { 0, 16 }, { 16, 16 }, { 1, 2 }, { 2, 2 }, { 4, 4 }, { 8, 8 }, { 64, 64 } };
    for (const Case& c : cases) {
        AlignedBuffer buffer;
        StackAllocator stack(buffer.bytes, sizeof buffer.bytes);
        unsigned char* block = static_cast<unsigned char*>(stack.allocate(10, c.alignment));
        ASSERT_NE(block, nullptr) << "alignment " << c.alignment;
        EXPECT_EQ(static_cast<u64>(block - buffer.bytes), c.offset) << "alignment " << c.alignment;
        EXPECT_EQ(stack.top(), c.offset + 10) << "alignment " << c.alignment;
    }
}

TEST(StackAllocator, PaddingFromAnOddTopForEveryKindOfAlignment)
{
    // The first block (5 bytes at offset 2) leaves the top at 7. Every
    // alignment, a power of two or not, gives the lowest address that is a
    // multiple of it with two bytes free below; freeing puts the top back.
    for (u64 alignment : { 1u, 2u, 4u, 8u, 16u, 3u, 6u, 10u, 24u }) {
        AlignedBuffer buffer;
        StackAllocator stack(buffer.bytes, sizeof buffer.bytes);
        ASSERT_EQ(stack.allocate(5, 1), buffer.bytes + 2);
        unsigned char* block = static_cast<unsigned char*>(stack.allocate(4, alignment));
        ASSERT_NE(block, nullptr) << "alignment " << alignment;
        const u64 address = reinterpret_cast<u64>(block);
        const u64 top = reinterpret_cast<u64>(buffer.bytes) + 7;
        EXPECT_EQ(address % alignment, 0u) << "alignment " << alignment;
        EXPECT_GE(address, top + 2) << "alignment " << alignment;
        EXPECT_LT(address - alignment, top + 2) << "alignment " << alignment;
        stack.free(block);
        EXPECT_EQ(stack.top(), 7u) << "alignment " << alignment;
    }
}

TEST(StackAllocator, BlocksAreAlignedAndDisjoint)
{
    AlignedBuffer buffer;
    StackAllocator stack(buffer.bytes, sizeof buffer.bytes);
    unsigned char* a = static_cast<unsigned char*>(stack.allocate(3, 1));
    unsigned char* b = static_cast<unsigned char*>(stack.allocate(5, 8));
    unsigned char* c = static_cast<unsigned char*>(stack.allocate(7, 32));
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(reinterpret_cast<u64>(b) % 8, 0u);
    EXPECT_EQ(reinterpret_cast<u64>(c) % 32, 0u);
    EXPECT_GE(b, a + 3 + 2);
    EXPECT_GE(c, b + 5 + 2);
}

TEST(StackAllocator, FreeingABlockReleasesItAndEverythingAfterIt)
{
    AlignedBuffer buffer;
    StackAllocator stack(buffer.bytes, sizeof buffer.bytes);
    void* first = stack.allocate(20, 8);
    const u64 topAfterFirst = stack.top();
    void* second = stack.allocate(30, 16);
    void* third = stack.allocate(40, 4);
    ASSERT_TRUE(first && second && third);

    stack.free(second);
    EXPECT_EQ(stack.top(), topAfterFirst);
    EXPECT_EQ(stack.allocate(30, 16), second);

    stack.free(first);
    EXPECT_EQ(stack.top(), 0u);
    stack.free(nullptr);
    EXPECT_EQ(stack.top(), 0u);
}

TEST(StackAllocator, RequestsBeyondTheCapacityFail)
{
    AlignedBuffer buffer;
    StackAllocator stack(buffer.bytes, 64);
    EXPECT_EQ(stack.allocate(49, 16), nullptr); // 16 padding + 49 > 64
    EXPECT_NE(stack.allocate(48, 16), nullptr);
    EXPECT_EQ(stack.allocate(0, 1), nullptr);
    EXPECT_EQ(stack.allocate(~u64 { 0 }, 1), nullptr);
    EXPECT_EQ(stack.tryResize(buffer.bytes + 16, 8), nullptr);
}

TEST(StackAllocator, AlignmentsTooLargeToRecordFail)
{
    alignas(16) static unsigned char big[1 << 18];
    StackAllocator stack(big, sizeof big);
    EXPECT_EQ(stack.allocate(8, StackAllocator::kMaxAlignment * 2), nullptr);
    EXPECT_EQ(stack.top(), 0u);
    void* block = stack.allocate(8, StackAllocator::kMaxAlignment);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<u64>(block) % StackAllocator::kMaxAlignment, 0u);
    stack.free(block);
    EXPECT_EQ(stack.top(), 0u);
}

TEST(StackAllocatorDeathTest, FreeingAPointerFromElsewhereIsFatal)
{
    AlignedBuffer buffer;
    StackAllocator stack(buffer.bytes, sizeof buffer.bytes);
    ASSERT_NE(stack.allocate(8, 8), nullptr);
    int elsewhere = 0;
    EXPECT_DEATH(stack.free(&elsewhere), "does not belong to this allocator");
    EXPECT_DEATH(stack.free(buffer.bytes + 100), "does not belong to this allocator");
}

} // namespace
} // namespace quern::memory
