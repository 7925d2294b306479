#include "quern/containers/ElementBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using quern::i32;
using quern::u64;
using quern::u8;
using quern::containers::Buffer;
using quern::containers::BufferBase;
using quern::containers::ElementBuffer;

void fillCounting(ElementBuffer& buffer)
{
    for (u64 i = 0; i < buffer.byteSize(); ++i)
        buffer.data()[i] = static_cast<u8>(i);
}

// Sees every lock a buffer operation takes, with the lock word at that moment.
class RecordingBuffer : public ElementBuffer {
public:
    struct Entry {
        Lock mode;
        i32 word;
    };
    u8* lock(Lock mode, u64 firstElement, u64 elementCount) override
    {
        locks.push_back({mode, lockWord()});
        return ElementBuffer::lock(mode, firstElement, elementCount);
    }
    std::vector<Entry> locks;
};

TEST(Buffer, ShrinkingKeepsTheLeadingBytes)
{
    ElementBuffer buffer;
    buffer.setSize(100);
    fillCounting(buffer);
    buffer.resize(40);
    ASSERT_EQ(buffer.byteSize(), 40u);
    for (u64 i = 0; i < 40; ++i)
        ASSERT_EQ(buffer.data()[i], i);
    EXPECT_EQ(buffer.lockWord(), 0);
}

TEST(Buffer, GrowingKeepsTheOldBytes)
{
    ElementBuffer buffer;
    buffer.setSize(40);
    fillCounting(buffer);
    buffer.resize(100);
    ASSERT_EQ(buffer.byteSize(), 100u);
    for (u64 i = 0; i < 40; ++i)
        ASSERT_EQ(buffer.data()[i], i);
}

TEST(Buffer, ResizeToZeroOnlySetsTheSize)
{
    RecordingBuffer buffer;
    buffer.setSize(100);
    const u64 before = Buffer::totalBufferMemory();
    buffer.resize(0);
    EXPECT_EQ(buffer.byteSize(), 0u);
    EXPECT_EQ(buffer.data(), nullptr);
    EXPECT_TRUE(buffer.locks.empty());
    EXPECT_EQ(Buffer::totalBufferMemory(), before - 100);
}

TEST(Buffer, ResizeReadsUnderAReadLockAndWritesBackUnderMode3)
{
    RecordingBuffer buffer;
    buffer.setSize(16);
    buffer.resize(8);
    ASSERT_EQ(buffer.locks.size(), 2u);
    EXPECT_EQ(buffer.locks[0].mode, BufferBase::Lock::Read);
    EXPECT_EQ(buffer.locks[0].word, 4);
    EXPECT_EQ(buffer.locks[1].mode, BufferBase::Lock::WriteBack);
    EXPECT_EQ(buffer.locks[1].word, 3);
    EXPECT_EQ(buffer.lockWord(), 0);
}

TEST(Buffer, ChangingElementSizeKeepsTheElementCount)
{
    ElementBuffer buffer;
    buffer.setElementSize(4);
    buffer.setSize(40);
    ASSERT_EQ(buffer.elementCount(), 10u);
    buffer.setElementSize(8);
    EXPECT_EQ(buffer.byteSize(), 80u);
    EXPECT_EQ(buffer.elementSize(), 8u);
    EXPECT_EQ(buffer.elementCount(), 10u);

    ElementBuffer empty;
    empty.setElementSize(8);
    EXPECT_EQ(empty.byteSize(), 0u);
}

TEST(Buffer, LockAddressesElementsByTheElementSize)
{
    ElementBuffer buffer;
    buffer.setElementSize(12);
    buffer.setSize(120);
    EXPECT_EQ(buffer.lock(BufferBase::Lock::Read, 3, 1), buffer.data() + 36);
}

TEST(Buffer, AssignCopiesBytesAndSizeAndRecordsBothLocks)
{
    RecordingBuffer source;
    source.setElementSize(2);
    source.setSize(10);
    std::memcpy(source.data(), "abcdefghij", 10);
    RecordingBuffer target;
    target.setSize(3);
    target.assign(source);
    ASSERT_EQ(target.byteSize(), 10u);
    EXPECT_EQ(std::memcmp(target.data(), "abcdefghij", 10), 0);
    ASSERT_EQ(source.locks.size(), 1u);
    EXPECT_EQ(source.locks[0].mode, BufferBase::Lock::Read);
    EXPECT_EQ(source.locks[0].word, 4);
    ASSERT_EQ(target.locks.size(), 1u);
    EXPECT_EQ(target.locks[0].mode, BufferBase::Lock::Write);
    EXPECT_EQ(target.locks[0].word, 1);
    EXPECT_EQ(source.lockWord(), 0);
    EXPECT_EQ(target.lockWord(), 0);

    target.assign(target);
    EXPECT_EQ(target.byteSize(), 10u);
    target.assign(ElementBuffer());
    EXPECT_EQ(target.byteSize(), 0u);
}

TEST(Buffer, CopyRowsUsesEachSidesStride)
{
    ElementBuffer buffer;
    buffer.setSize(12);
    std::memset(buffer.data(), '.', 12);
    const char source[] = "ABxxCDxxEF";
    buffer.copyRows(source, 3, 4, 4, 2, 0, 1);
    EXPECT_EQ(std::memcmp(buffer.data(), ".AB..CD..EF.", 12), 0);
    EXPECT_EQ(buffer.lockWord(), 0);
}

TEST(BufferDeathTest, CopyRowsPastTheEndIsFatal)
{
    struct Case {
        u64 rows, destinationStride, rowBytes, destinationOffset;
    };
    const Case cases[] = {
        {3, 4, 2, 3},                      // last row ends at 13 of 12
        {1, 0, 13, 0},                     // one row longer than the buffer
        {1, 0, 1, 12},                     // starts at the end
        {2, UINT64_MAX / 2, 1, 0},         // stride that wraps the address
        {UINT64_MAX, 1, 1, 0},             // row count that wraps
    };
    for (const Case& c : cases) {
        EXPECT_DEATH(
            {
                ElementBuffer buffer;
                buffer.setSize(12);
                static const char source[16] = {};
                buffer.copyRows(source, c.rows, 0, c.destinationStride, c.rowBytes, 0, c.destinationOffset);
            },
            "copyRows would write past the end of the buffer");
    }
}

TEST(Buffer, CopyIsIndependentAndCloneOfNullIsNull)
{
    ElementBuffer original;
    original.setElementSize(4);
    original.setSize(8);
    std::memcpy(original.data(), "12345678", 8);
    ElementBuffer copy(original);
    EXPECT_EQ(copy.elementSize(), 4u);
    EXPECT_EQ(copy.byteSize(), 8u);
    EXPECT_TRUE(copy.ownsData());
    EXPECT_NE(copy.data(), original.data());
    copy.data()[0] = 'X';
    EXPECT_EQ(original.data()[0], '1');

    EXPECT_EQ(quern::containers::cloneElementBuffer(nullptr), nullptr);
    std::unique_ptr<Buffer> clone(quern::containers::cloneElementBuffer(&original));
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->byteSize(), 8u);
    EXPECT_EQ(std::memcmp(static_cast<ElementBuffer*>(clone.get())->data(), "12345678", 8), 0);
}

TEST(Buffer, AdoptedMemoryThatIsNotOwnedIsNeverFreed)
{
    const u64 before = Buffer::totalBufferMemory();
    u8 outside[32] = {};
    {
        ElementBuffer buffer;
        buffer.setSize(64);
        buffer.adopt(outside, sizeof outside, false);
        EXPECT_EQ(Buffer::totalBufferMemory(), before); // the owned block went back
        EXPECT_EQ(buffer.byteSize(), 32u);
        EXPECT_EQ(buffer.data(), outside);
    }
    EXPECT_EQ(Buffer::totalBufferMemory(), before);
}

TEST(Buffer, AllocatorKeepsTheTotalOfLiveBlocks)
{
    const u64 before = Buffer::totalBufferMemory();
    void* hundred = Buffer::allocateBufferMemory(100);
    void* fifty = Buffer::allocateBufferMemory(50);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(hundred) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(fifty) % 16, 0u);
    EXPECT_EQ(Buffer::totalBufferMemory(), before + 150);
    Buffer::freeBufferMemory(hundred);
    EXPECT_EQ(Buffer::totalBufferMemory(), before + 50);
    Buffer::freeBufferMemory(fifty);
    Buffer::freeBufferMemory(nullptr);
    EXPECT_EQ(Buffer::totalBufferMemory(), before);
}

TEST(Buffer, TotalStaysExactWhenThreadsAllocate)
{
    const u64 before = Buffer::totalBufferMemory();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 20000; ++i)
                Buffer::freeBufferMemory(Buffer::allocateBufferMemory(static_cast<u64>(1 + i % 64)));
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(Buffer::totalBufferMemory(), before);
}

TEST(BufferDeathTest, FailedAllocationNamesTheRequestAndTheTotal)
{
    EXPECT_DEATH(Buffer::allocateBufferMemory(UINT64_MAX - 8),
                 "Failed to allocate 18446744073709551607 bytes of buffer memory. Size of all buffers: [0-9]+");
}

TEST(BufferDeathTest, UnknownLockModeIsFatal)
{
    BufferBase::checkLock(BufferBase::Lock::ReadWrite);
    EXPECT_DEATH(BufferBase::checkLock(static_cast<BufferBase::Lock>(2)),
                 "Invalid enum value for type BufferBase::Lock");
}

} // namespace
