#include "quern/memory/PageAllocator.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quern::memory {
namespace {

TEST(PageAllocator, CountsLiveAndTotalAllocations)
{
    PageAllocator pages;
    void* a = pages.allocate(100, 0);
    void* b = pages.allocate(5000, 4096);
    EXPECT_EQ(pages.liveAllocations(), 2);
    EXPECT_EQ(pages.totalAllocations(), 2u);
    pages.free(a);
    pages.free(nullptr);
    EXPECT_EQ(pages.liveAllocations(), 1);
    pages.free(b);
    EXPECT_EQ(pages.liveAllocations(), 0);
    EXPECT_EQ(pages.totalAllocations(), 2u);
    EXPECT_EQ(pages.tryResize(nullptr, 8), nullptr);
}

TEST(PageAllocator, HonoursAlignmentWithSixteenByDefault)
{
    struct Case {
        u64 alignment;
        u64 expected;
    };
    const Case cases[] = {{0, 16}, {1, 8}, {64, 64}, {4096, 4096}, {65536, 65536}, {48, 64}};
    for (const Case& c : cases) {
        void* block = pageAlloc(3000, c.alignment);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<u64>(block) % c.expected, 0u) << c.alignment;
        std::memset(block, 0x5A, 3000);
        pageFree(block);
    }
}

TEST(PageAllocatorDeathTest, RunningOutOfMemoryIsFatal)
{
#if defined(QUERN_SANITIZED)
    GTEST_SKIP() << "the sanitizer's allocator stops impossible requests itself";
#endif
    EXPECT_DEATH(pageAlloc(~u64{0} - 4096, 4096), "Out of memory");
}

} // namespace
} // namespace quern::memory
