#include "quern/memory/HeapAllocator.h"

#include "quern/memory/GeneralHeap.h"

#include "HeapTestSupport.h"

#include <gtest/gtest.h>

#include <new>

namespace quern::memory {
namespace {

using test::isAligned;
using test::stamp;
using test::stampIntact;

TEST(HeapAllocator, AlignmentTable)
{
    struct Case {
        u64 alignment;
        u64 expected;
    };
    const Case cases[]
        = { { 0, 16 }, { 1, 16 }, { 8, 16 }, { 16, 16 }, { 32, 32 }, { 64, 64 }, { 48, 64 }, { 4096, 4096 } };
    HeapAllocator allocator;
    for (const Case& c : cases) {
        for (u64 size : { 0u, 1u, 24u, 1000u, 300000u }) {
            void* p = allocator.allocate(size, c.alignment);
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(isAligned(p, c.expected)) << c.alignment << " " << size;
            EXPECT_GE(heapUsableSize(getGeneralHeap(), p), size);
            stamp(p, size);
            EXPECT_TRUE(stampIntact(p, size));
            allocator.free(p);
        }
    }
}

TEST(HeapAllocator, FreeOfNullIsIgnored)
{
    HeapAllocator allocator;
    allocator.free(nullptr);
    EXPECT_EQ(allocator.tryResize(nullptr, 10), nullptr);
}

TEST(HeapAllocator, TryResizeShrinksInPlaceAndReportsWhenItCannotGrow)
{
#if QUERN_SYSTEM_ALLOCATOR
    GTEST_SKIP() << "the general heap is the C library's in this build";
#endif
    HeapAllocator allocator;
    void* p = allocator.allocate(2000, 0);
    void* after = allocator.allocate(2000, 0);
    stamp(p, 100);
    EXPECT_EQ(allocator.tryResize(p, 100), p);
    EXPECT_TRUE(stampIntact(p, 100));
    EXPECT_LT(heapUsableSize(getGeneralHeap(), p), 2000u);
    // Grown back: either in place into the split-off rest or refused, never moved.
    void* grown = allocator.tryResize(p, 1500);
    EXPECT_TRUE(grown == p || grown == nullptr);
    EXPECT_TRUE(stampIntact(p, 100));
    allocator.free(after);
    allocator.free(p);
    test::expectHeapConsistent(getGeneralHeap());
}

TEST(HeapAllocator, ReallocateMovesContentsWhenTheBlockCannotGrow)
{
    HeapAllocator allocator;
    void* p = allocator.allocate(64, 0);
    void* blocker = allocator.allocate(64, 0);
    stamp(p, 64);
    const u8 mark = test::stampByte(p, 64, 0);
    void* q = reallocate(p, 64, 0, 100000, allocator);
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(test::allBytesAre(q, 64, mark));
    allocator.free(q);
    allocator.free(blocker);
}

#if !QUERN_SYSTEM_ALLOCATOR

struct alignas(128) Wide {
    u8 bytes[128];
};

TEST(GlobalNewDelete, AllFormsUseTheGeneralHeap)
{
    Heap* heap = getGeneralHeap();
    int* single = new int(7);
    EXPECT_EQ(heapUsableSize(heap, single), 24u);
    delete single;

    char* array = new char[1000];
    EXPECT_EQ(heapUsableSize(heap, array), 1000u);
    delete[] array;

    int* quiet = new (std::nothrow) int[10];
    EXPECT_GE(heapUsableSize(heap, quiet), 40u);
    delete[] quiet;

    Wide* wide = new Wide;
    EXPECT_TRUE(isAligned(wide, 128));
    EXPECT_GE(heapUsableSize(heap, wide), sizeof(Wide));
    delete wide;

    Wide* wides = new Wide[5];
    EXPECT_TRUE(isAligned(wides, 128));
    delete[] wides;

    // A large object lands in a mapping of the heap's own (larger than the
    // heap holds, so no chunk left by earlier work can take it).
    const u64 before = heapFootprint(heap);
    const u64 size = test::sizeBeyondFootprint(heap, 8 * 1024 * 1024);
    auto* big = new u8[size];
    stamp(big, 64);
    EXPECT_GE(heapUsableSize(heap, big), size);
    EXPECT_GE(heapFootprint(heap), before + size);
    delete[] big;
    EXPECT_EQ(heapFootprint(heap), before);
    test::expectHeapConsistent(heap);
}

TEST(GlobalNewDeleteDeathTest, ThrowingNewNeverReturnsNull)
{
    // A size no heap can hold: the heap answers null, new must not pass it on.
    EXPECT_DEATH(
        {
            volatile std::size_t size = ~std::size_t(0) - 8;
            void* p = ::operator new(size);
            fprintf(stderr, "returned %p\n", p);
        },
        "Out of memory");
}

TEST(GlobalNewDelete, NothrowNewReturnsNullForImpossibleSizes)
{
    volatile std::size_t size = ~std::size_t(0) - 8;
    EXPECT_EQ(::operator new(size, std::nothrow), nullptr);
}

#endif

} // namespace
} // namespace quern::memory
