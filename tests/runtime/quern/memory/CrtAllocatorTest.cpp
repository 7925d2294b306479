#include "quern/memory/CrtAllocator.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quern::memory {
namespace {

unsigned char* storedRuntimeBlock(void* block)
{
    unsigned char* raw;
    std::memcpy(&raw, static_cast<unsigned char*>(block) - 8, sizeof raw);
    return raw;
}

TEST(CrtAllocator, AlignmentZeroPlacesTheBlockEightBytesIntoTheRuntimeBlock)
{
    CrtAllocator& crt = CrtAllocator::instance();
    unsigned char* block = static_cast<unsigned char*>(crt.allocate(40, 0));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(storedRuntimeBlock(block), block - 8);
    std::memset(block, 0xAB, 40);
    crt.free(block);
}

TEST(CrtAllocator, HonoursPowerOfTwoAlignments)
{
    CrtAllocator& crt = CrtAllocator::instance();
    for (u64 alignment : {1u, 2u, 8u, 16u, 32u, 64u, 256u, 4096u}) {
        unsigned char* block = static_cast<unsigned char*>(crt.allocate(100, alignment));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<u64>(block) % alignment, 0u) << alignment;
        unsigned char* raw = storedRuntimeBlock(block);
        EXPECT_GE(block, raw + 8) << alignment;
        EXPECT_LE(block, raw + alignment + 7) << alignment;
        std::memset(block, 0xCD, 100);
        crt.free(block);
    }
}

TEST(CrtAllocator, ImpossibleSizesFailAndResizingNeverHappensInPlace)
{
    CrtAllocator& crt = CrtAllocator::instance();
    EXPECT_EQ(crt.allocate(~u64{0} - 4, 16), nullptr);
    void* block = crt.allocate(16, 0);
    EXPECT_EQ(crt.tryResize(block, 8), nullptr);
    EXPECT_EQ(crt.tryResize(block, 32), nullptr);
    crt.free(block);
    crt.free(nullptr);
}

} // namespace
} // namespace quern::memory
