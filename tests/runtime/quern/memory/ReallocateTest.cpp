#include "quern/memory/Allocator.h"

#include "CountingAllocator.h"
#include "quern/memory/StackAllocator.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quern::memory {
namespace {

using testing::CountingAllocator;

// Keeps the block where it is whenever the new size fits the old capacity.
class InPlaceAllocator final : public Allocator {
public:
    void* allocate(u64 size, u64 alignment) override { return m_inner.allocate(size > 64 ? size : 64, alignment); }
    void free(void* pointer) override { m_inner.free(pointer); }
    void* tryResize(void* pointer, u64 newSize) override { return newSize <= 64 ? pointer : nullptr; }

private:
    CountingAllocator m_inner;
};

TEST(Reallocate, FollowsSizeAndPointerRules)
{
    CountingAllocator allocator;
    EXPECT_EQ(reallocate(nullptr, 0, 16, 0, allocator), nullptr);

    unsigned char* block = static_cast<unsigned char*>(reallocate(nullptr, 0, 16, 10, allocator));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(allocator.allocations, 1);
    for (int i = 0; i < 10; ++i)
        block[i] = static_cast<unsigned char>(i + 1);

    // Growing moves and keeps the old contents.
    unsigned char* grown = static_cast<unsigned char*>(reallocate(block, 10, 16, 100, allocator));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(reinterpret_cast<u64>(grown) % 16, 0u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(grown[i], i + 1);
    EXPECT_EQ(allocator.frees, 1);
    EXPECT_EQ(allocator.lastFreed, block);

    // Shrinking copies only what fits.
    unsigned char* shrunk = static_cast<unsigned char*>(reallocate(grown, 100, 16, 4, allocator));
    ASSERT_NE(shrunk, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(shrunk[i], i + 1);

    EXPECT_EQ(reallocate(shrunk, 4, 16, 0, allocator), nullptr);
    EXPECT_EQ(allocator.lastFreed, shrunk);
    EXPECT_EQ(allocator.allocations, allocator.frees);
}

TEST(Reallocate, UsesTheInPlaceResizeFirst)
{
    InPlaceAllocator allocator;
    void* block = reallocate(nullptr, 0, 8, 10, allocator);
    EXPECT_EQ(reallocate(block, 10, 8, 60, allocator), block);
    void* moved = reallocate(block, 60, 8, 65, allocator);
    EXPECT_NE(moved, block);
    reallocate(moved, 65, 8, 0, allocator);
}

TEST(Reallocate, AFailedMoveKeepsTheOldBlock)
{
    alignas(16) unsigned char buffer[64];
    StackAllocator stack(buffer, sizeof buffer);
    unsigned char* block = static_cast<unsigned char*>(reallocate(nullptr, 0, 16, 8, stack));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "contents", 8);
    EXPECT_EQ(reallocate(block, 8, 16, 100, stack), nullptr);
    EXPECT_EQ(std::memcmp(block, "contents", 8), 0);
    EXPECT_EQ(stack.top(), 24u);
}

} // namespace
} // namespace quern::memory
