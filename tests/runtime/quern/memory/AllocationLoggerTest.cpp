#include "quern/memory/AllocationLogger.h"

#include "CountingAllocator.h"
#include "TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace quern::memory {
namespace {

using testing::CountingAllocator;
using testing::readWholeFile;
using testing::TemporaryDirectory;

std::string pointerText(const void* pointer)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    return text;
}

TEST(AllocationLogger, WritesTextRecordsWithTheLiveCount)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("memorylog.txt");
    CountingAllocator wrapped;
    AllocationLogger logger(&wrapped, path.c_str(), AllocationLogger::kTextMode);

    void* a = logger.allocate(100, 16);
    void* b = logger.allocate(7, 0);
    logger.free(a);
    logger.free(b);

    const std::string expected = "Allocating 100 bytes, 16 bytes alignment: " + pointerText(a) + " (#1)\n"
        + "Allocating 7 bytes, 0 bytes alignment: " + pointerText(b) + " (#2)\n"
        + "Deallocating " + pointerText(a) + " (#1)\n"
        + "Deallocating " + pointerText(b) + " (#0)\n";
    EXPECT_EQ(readWholeFile(path), expected);
    EXPECT_EQ(wrapped.allocations, 2);
    EXPECT_EQ(wrapped.frees, 2);
    EXPECT_EQ(logger.liveAllocations(), 0u);
    EXPECT_EQ(logger.totalAllocations(), 2u);
}

TEST(AllocationLogger, TheFirstAllocationTruncatesAnOldLog)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("memorylog.txt");
    std::ofstream(path) << "left over from an earlier run\n";
    CountingAllocator wrapped;
    AllocationLogger logger(&wrapped, path.c_str(), AllocationLogger::kTextMode);
    void* a = logger.allocate(8, 8);
    EXPECT_EQ(readWholeFile(path).rfind("Allocating 8 bytes", 0), 0u);
    void* b = logger.allocate(8, 8);
    const std::string log = readWholeFile(path);
    EXPECT_NE(log.find("(#1)\nAllocating 8 bytes"), std::string::npos);
    logger.free(a);
    logger.free(b);
}

TEST(AllocationLogger, WritesBinaryRecordsInMachineOrder)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("memorylog.bin");
    CountingAllocator wrapped;
    AllocationLogger logger(&wrapped, path.c_str(), AllocationLogger::kBinaryMode);
    void* a = logger.allocate(0x123456789, 32);
    logger.free(a);

    const std::string log = readWholeFile(path);
    ASSERT_EQ(log.size(), 13u + 8u + 9u);
    u64 size;
    u32 alignment;
    u64 result;
    u64 freed;
    EXPECT_EQ(log[0], 0);
    std::memcpy(&size, log.data() + 1, 8);
    std::memcpy(&alignment, log.data() + 9, 4);
    std::memcpy(&result, log.data() + 13, 8);
    EXPECT_EQ(log[21], 1);
    std::memcpy(&freed, log.data() + 22, 8);
    EXPECT_EQ(size, 0x123456789u);
    EXPECT_EQ(alignment, 32u);
    EXPECT_EQ(result, reinterpret_cast<u64>(a));
    EXPECT_EQ(freed, reinterpret_cast<u64>(a));
}

class WatchingLogger final : public AllocationLogger {
public:
    using AllocationLogger::AllocationLogger;
    int allocated = 0;
    int freeing = 0;
    int resized = 0;

protected:
    void onAllocated(u64, u64, void*) override { ++allocated; }
    void onFreeing(void*) override { ++freeing; }
    void onResized(void*, u64) override { ++resized; }
    void* wrappedTryResize(void* pointer, u64 newSize) override { return newSize <= 16 ? pointer : nullptr; }
};

TEST(AllocationLogger, NotifiesSubclassesAndLogsNoResizes)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("memorylog.txt");
    CountingAllocator wrapped;
    WatchingLogger logger(&wrapped, path.c_str(), AllocationLogger::kTextMode);
    void* a = logger.allocate(16, 0);
    const std::string before = readWholeFile(path);
    EXPECT_EQ(logger.tryResize(a, 8), a);
    EXPECT_EQ(logger.tryResize(a, 32), nullptr);
    EXPECT_EQ(readWholeFile(path), before);
    logger.free(a);
    EXPECT_EQ(logger.allocated, 1);
    EXPECT_EQ(logger.resized, 1);
    EXPECT_EQ(logger.freeing, 1);
}

TEST(AllocationLogger, KeepsEachAllocationOnOneLineUnderThreads)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("memorylog.txt");
    CountingAllocator wrapped;
    AllocationLogger logger(&wrapped, path.c_str(), AllocationLogger::kTextMode);
    logger.free(logger.allocate(1, 1)); // the first allocation truncates: keep it out of the race
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&logger] {
            for (int i = 0; i < 50; ++i)
                logger.free(logger.allocate(40, 8));
        });
    for (std::thread& thread : threads)
        thread.join();

    std::ifstream in(path);
    std::string line;
    int allocations = 0;
    int frees = 0;
    while (std::getline(in, line)) {
        if (line.rfind("Allocating 40 bytes, 8 bytes alignment: ", 0) == 0)
            ++allocations;
        else if (line.rfind("Deallocating ", 0) == 0)
            ++frees;
        else if (line.rfind("Allocating 1 bytes", 0) != 0)
            ADD_FAILURE() << "torn line: " << line;
    }
    EXPECT_EQ(allocations, 200);
    EXPECT_EQ(frees, 201);
    EXPECT_EQ(logger.liveAllocations(), 0u);
}

TEST(AllocationLogger, AnUnwritableLogDoesNotStopAllocation)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("missing/memorylog.txt");
    CountingAllocator wrapped;
    AllocationLogger logger(&wrapped, path.c_str(), AllocationLogger::kTextMode);
    ::testing::internal::CaptureStderr();
    void* a = logger.allocate(10, 0);
    void* b = logger.allocate(10, 0);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_NE(errors.find("Can't open allocation log"), std::string::npos);
    EXPECT_EQ(errors.find("Can't open allocation log"), errors.rfind("Can't open allocation log"));
    logger.free(a);
    logger.free(b);
}

TEST(AllocationLogger, WithoutAFileWritesToTheLog)
{
    CountingAllocator wrapped;
    AllocationLogger logger(&wrapped, nullptr, AllocationLogger::kTextMode);
    ::testing::internal::CaptureStdout();
    void* a = logger.allocate(24, 8);
    logger.free(a);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("First allocation"), std::string::npos);
    EXPECT_NE(out.find("Allocating 24 bytes, 8 bytes alignment"), std::string::npos);
    EXPECT_NE(out.find("Allocated pointer: "), std::string::npos);
    EXPECT_NE(out.find("Deallocating "), std::string::npos);
    EXPECT_NE(out.find("All memory was freed"), std::string::npos);
    EXPECT_EQ(wrapped.frees, 1);
}

} // namespace
} // namespace quern::memory

namespace quern::memory {
namespace {

TEST(AllocationLoggerDeathTest, ARecordThatCannotBeStoredIsFatal)
{
    // Every write to this device fails for lack of space, which shows at close.
    testing::CountingAllocator wrapped;
    AllocationLogger logger(&wrapped, "/dev/full", AllocationLogger::kTextMode);
    EXPECT_DEATH(logger.allocate(10, 0), "fclose failed");
}

} // namespace
} // namespace quern::memory
