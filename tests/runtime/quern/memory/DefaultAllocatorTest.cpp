#include "quern/memory/DefaultAllocator.h"

#include "TemporaryDirectory.h"
#include "quern/debug/MutexImpl.h"
#include "quern/memory/AllocationLogger.h"
#include "quern/memory/CrtAllocator.h"
#include "quern/memory/DebugHeap.h"
#include "quern/memory/HeapAllocator.h"
#include "quern/memory/LinearAllocator.h"
#include "quern/memory/PageAllocator.h"
#include "quern/memory/StackAllocator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace quern::memory {
namespace {

using testing::readWholeFile;
using testing::TemporaryDirectory;

AllocatorConfig configFor(DefaultAllocatorType type, bool log = false)
{
    AllocatorConfig config;
    config.defaultType = type;
    config.temporaryType = type;
    config.debugHeapSize = u64{16} << 20;
    config.temporaryBlockSize = 64 * 1024;
    config.logAllocations = log;
    return config;
}

// Each test starts the allocators its own way and leaves the test program's
// usual ones behind.
class DefaultAllocators : public ::testing::Test {
protected:
    void SetUp() override { shutdownDefaultAllocators(); }
    void TearDown() override
    {
        shutdownDefaultAllocators();
        initDefaultAllocators(AllocatorConfig{});
    }
};

TEST_F(DefaultAllocators, TheHeapConfigurationBuildsEveryProcessAllocator)
{
    initDefaultAllocators(configFor(DefaultAllocatorType::Heap));
    EXPECT_NE(dynamic_cast<HeapAllocator*>(getDefaultAllocator()), nullptr);
    EXPECT_NE(dynamic_cast<PageAllocator*>(getPageAllocator()), nullptr);
    auto* temporary = dynamic_cast<LinearAllocator*>(getTemporaryAllocator());
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(temporary->parent(), getDefaultAllocator());
    auto* bootstrap = dynamic_cast<StackAllocator*>(getBootstrapAllocator());
    ASSERT_NE(bootstrap, nullptr);
    EXPECT_EQ(bootstrap->capacity(), 312u);
    EXPECT_TRUE(bootstrap->contains(temporary));
    ASSERT_NE(getProcessMutex(), nullptr);
    EXPECT_TRUE(bootstrap->contains(getProcessMutex()));
    EXPECT_EQ(getAllocationLogger(), nullptr);

    void* block = getTemporaryAllocator()->allocate(100, 8);
    EXPECT_TRUE(temporary->ownsBlock(block));
    getTemporaryAllocator()->free(block);
    debug::MutexLock lock(*getProcessMutex());
}

TEST_F(DefaultAllocators, TheTypeChoosesTheDefaultAndTemporaryAllocators)
{
    struct Case {
        DefaultAllocatorType type;
        Allocator* expected;
    };
    const Case cases[] = {
        {DefaultAllocatorType::Crt, &CrtAllocator::instance()},
        {DefaultAllocatorType::DebugHeap, &DebugHeap::instance()},
    };
    for (const Case& c : cases) {
        initDefaultAllocators(configFor(c.type));
        EXPECT_EQ(getDefaultAllocator(), c.expected);
        EXPECT_EQ(getTemporaryAllocator(), c.expected);
        void* block = getDefaultAllocator()->allocate(64, 16);
        ASSERT_NE(block, nullptr);
        std::memset(block, 1, 64);
        getDefaultAllocator()->free(block);
        shutdownDefaultAllocators();
    }
    EXPECT_FALSE(DebugHeap::instance().hasRegion());
}

TEST_F(DefaultAllocators, LoggingWrapsTheChosenDefaultAndWritesTheLog)
{
    TemporaryDirectory directory;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(directory.path());
    initDefaultAllocators(configFor(DefaultAllocatorType::Crt, true));
    AllocationLogger* logger = getAllocationLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(getDefaultAllocator(), logger);
    EXPECT_EQ(logger->wrapped(), &CrtAllocator::instance());
    void* block = getDefaultAllocator()->allocate(48, 16);
    getDefaultAllocator()->free(block);
    std::filesystem::current_path(previous);

    const std::string log = readWholeFile(directory.file(kAllocationLogFileName));
    EXPECT_EQ(log.rfind("Allocating 48 bytes, 16 bytes alignment: ", 0), 0u);
    EXPECT_NE(log.find("(#1)\nDeallocating "), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - 5), "(#0)\n");
}

TEST_F(DefaultAllocators, ShutdownForgetsEverythingAndMayRunTwice)
{
    initDefaultAllocators(configFor(DefaultAllocatorType::Heap, true));
    shutdownDefaultAllocators();
    EXPECT_EQ(getDefaultAllocator(), nullptr);
    EXPECT_EQ(getTemporaryAllocator(), nullptr);
    EXPECT_EQ(getPageAllocator(), nullptr);
    EXPECT_EQ(getBootstrapAllocator(), nullptr);
    EXPECT_EQ(getAllocationLogger(), nullptr);
    EXPECT_EQ(getProcessMutex(), nullptr);
    shutdownDefaultAllocators();
    EXPECT_EQ(getDefaultAllocator(), nullptr);
}

TEST_F(DefaultAllocators, StartingTwiceKeepsTheFirstAllocators)
{
    initDefaultAllocators(configFor(DefaultAllocatorType::Crt));
    initDefaultAllocators(configFor(DefaultAllocatorType::Heap));
    EXPECT_EQ(getDefaultAllocator(), &CrtAllocator::instance());
}

using DefaultAllocatorsDeathTest = DefaultAllocators;

TEST_F(DefaultAllocatorsDeathTest, UnknownTypesAreFatal)
{
    AllocatorConfig badDefault = configFor(DefaultAllocatorType::Heap);
    badDefault.defaultType = static_cast<DefaultAllocatorType>(3);
    EXPECT_DEATH(initDefaultAllocators(badDefault), "Invalid enum value for type DefaultAllocatorType");

    AllocatorConfig badTemporary = configFor(DefaultAllocatorType::Heap);
    badTemporary.temporaryType = static_cast<DefaultAllocatorType>(-1);
    EXPECT_DEATH(initDefaultAllocators(badTemporary), "Invalid enum value for type DefaultAllocatorType");
}

TEST_F(DefaultAllocatorsDeathTest, ATemporaryDebugHeapNeedsTheDebugHeapAsDefault)
{
    AllocatorConfig config = configFor(DefaultAllocatorType::Heap);
    config.temporaryType = DefaultAllocatorType::DebugHeap;
    EXPECT_DEATH(initDefaultAllocators(config), "temporary allocator can be the DebugHeap only when the default");
}

// A static object that is built before the allocators and destroyed after
// they shut down, holding memory from the default allocator all the while.
struct LateOwner {
    Allocator* allocator = nullptr;
    unsigned char* block = nullptr;
    u64 size = 0;

    void take(u64 bytes)
    {
        allocator = getDefaultAllocator();
        size = bytes;
        block = static_cast<unsigned char*>(allocator->allocate(bytes, 16));
        std::memset(block, 0xA5, bytes);
    }
    ~LateOwner()
    {
        if (!block)
            return;
        for (u64 i = 0; i < size; ++i)
            if (block[i] != 0xA5)
                std::abort();
        std::memset(block, 0, size);
        allocator->free(block);
    }
};

LateOwner g_lateOwner;

[[noreturn]] void holdMemoryPastShutdownAndExit(const AllocatorConfig& config, bool explicitShutdown)
{
    initDefaultAllocators(config);
    g_lateOwner.take(1000);
    static LateOwner madeDuringTheRun;
    madeDuringTheRun.take(5000);
    if (explicitShutdown)
        shutdownDefaultAllocators();
    std::exit(0);
}

TEST_F(DefaultAllocatorsDeathTest, StaticObjectsMayFreeTheirMemoryAfterShutdown)
{
    struct Case {
        DefaultAllocatorType type;
        bool log;
    };
    const Case cases[] = {
        {DefaultAllocatorType::Heap, false},
        {DefaultAllocatorType::Crt, false},
        {DefaultAllocatorType::DebugHeap, false},
        {DefaultAllocatorType::Heap, true},
        {DefaultAllocatorType::DebugHeap, true},
    };
    // The log, when on, is written to the current directory. The directory is
    // static so that the child processes, which end in exit(), remove theirs too.
    static TemporaryDirectory directory;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(directory.path());
    for (const Case& c : cases) {
        for (bool explicitShutdown : {false, true}) {
            EXPECT_EXIT(holdMemoryPastShutdownAndExit(configFor(c.type, c.log), explicitShutdown),
                ::testing::ExitedWithCode(0), "")
                << "type " << static_cast<int>(c.type) << (c.log ? " logged" : "")
                << (explicitShutdown ? ", explicit shutdown" : ", shutdown at exit");
        }
    }
    std::filesystem::current_path(previous);
}

} // namespace
} // namespace quern::memory
