#include "quern/memory/FallbackAllocator.h"

#include "quern/memory/DefaultAllocator.h"

#include <gtest/gtest.h>

#include <vector>

namespace quern::memory {
namespace {

TEST(FallbackAllocator, ServesTheBufferUntilItIsUsedUpThenTheDefaultAllocator)
{
    alignas(16) unsigned char buffer[1024];
    FallbackAllocator allocator(buffer, sizeof buffer);
    auto inBuffer = [&](void* p) {
        return p >= static_cast<void*>(buffer) && p < static_cast<void*>(buffer + sizeof buffer);
    };

    std::vector<void*> arena;
    void* block = allocator.allocate(100, 16);
    while (inBuffer(block)) {
        arena.push_back(block);
        block = allocator.allocate(100, 16);
    }
    EXPECT_EQ(arena.size(), 9u); // 16 bytes in, then one every 112 bytes
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(allocator.fallback(), getDefaultAllocator());

    // Arena blocks never come back: freeing one does not make room.
    allocator.free(arena.back());
    void* after = allocator.allocate(100, 16);
    EXPECT_FALSE(inBuffer(after));

    // Small requests still fit the buffer's remainder.
    void* small = allocator.allocate(8, 8);
    EXPECT_TRUE(inBuffer(small));
    EXPECT_EQ(allocator.tryResize(small, 4), nullptr);

    allocator.free(after);
    allocator.free(block);
    allocator.free(nullptr);
}

TEST(FallbackAllocator, TakesNoFallbackWhileTheBufferServes)
{
    alignas(16) unsigned char buffer[256];
    FallbackAllocator allocator(buffer, sizeof buffer);
    allocator.free(allocator.allocate(32, 0));
    EXPECT_EQ(allocator.fallback(), nullptr);
}

} // namespace
} // namespace quern::memory
