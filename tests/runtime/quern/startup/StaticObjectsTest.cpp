#include "quern/startup/StaticObjects.h"

#include "quern/debug/StackTrace.h"
#include "quern/platform/AssertDebug.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace quern::startup {
namespace {

// What an ordinary static initialiser of this file saw, before main.
struct BeforeMain {
    std::vector<i32> levelsWithHandlers;
    u32 builtCount = 0;
    u32 crcEntries[3] = {};
};

// Entry i of the CRC-32 table, read back through a one-byte checksum:
// crc32({b}) = ~(table[b ^ 0xFF] ^ 0x00FFFFFF).
u32 crcTableEntry(u8 index)
{
    const u8 byte = static_cast<u8>(index ^ 0xFF);
    return ~strings::crc32(&byte, 1) ^ 0x00FFFFFFu;
}

const BeforeMain g_beforeMain = [] {
    BeforeMain seen;
    for (i32 level : { 100, 200, 300, 1000 }) {
        const auto& handlers = platform::assertionHandlers();
        const auto found = handlers.find(level);
        if (found != handlers.end() && found->second)
            seen.levelsWithHandlers.push_back(level);
    }
    seen.builtCount = builtStaticObjectCount();
    seen.crcEntries[0] = crcTableEntry(0);
    seen.crcEntries[1] = crcTableEntry(1);
    seen.crcEntries[2] = crcTableEntry(255);
    return seen;
}();

TEST(StaticObjects, AreBuiltBeforeOrdinaryStaticInitialisers)
{
    EXPECT_EQ(g_beforeMain.levelsWithHandlers, (std::vector<i32>{ 100, 200, 300, 1000 }));
    EXPECT_EQ(g_beforeMain.builtCount, 2u);
}

TEST(StaticObjects, AreBuiltOnceInTheirFixedOrder)
{
    initStaticObjects();
    ASSERT_EQ(builtStaticObjectCount(), 2u);
    std::vector<std::string> order;
    for (u32 i = 0; i < builtStaticObjectCount(); ++i)
        order.push_back(staticObjectName(builtStaticObject(i)));
    EXPECT_EQ(order, (std::vector<std::string>{ "DebugHeap", "AssertionHandlers" }));
}

TEST(StaticObjects, HandlersAreTheStandardOnes)
{
    const auto& handlers = platform::assertionHandlers();
    EXPECT_EQ(handlers.at(100), &platform::warningAssertionHandler);
    EXPECT_EQ(handlers.at(200), &platform::errorAssertionHandler);
    EXPECT_EQ(handlers.at(300), &platform::debugAssertionHandler);
    EXPECT_EQ(handlers.at(1000), &platform::fatalAssertionHandler);
}

TEST(StaticObjects, Crc32TableIsCompleteBeforeMain)
{
    EXPECT_EQ(g_beforeMain.crcEntries[0], 0u);
    EXPECT_EQ(g_beforeMain.crcEntries[1], 0x77073096u);
    EXPECT_EQ(g_beforeMain.crcEntries[2], 0x2D02EF8Du);
}

TEST(StaticObjectsDeathTest, ReadingPastTheBuiltObjectsIsFatal)
{
    EXPECT_DEATH(builtStaticObject(builtStaticObjectCount()), "Static object index out of range");
}

// A static object of an ordinary file that raises an assertion when it is
// destroyed at exit: the handlers, built first, are still there.
struct AssertsAtExit {
    bool armed = false;
    ~AssertsAtExit()
    {
        if (!armed)
            return;
        debug::printStackTrace(std::cerr);
        QUERN_ASSERT(debug::kAssertWarning, false, "raised at exit");
        std::fflush(stderr);
    }
};
AssertsAtExit g_assertsAtExit;

TEST(StaticObjectsDeathTest, AssertionHandlersOutliveLaterStaticObjects)
{
    EXPECT_EXIT(
        {
            g_assertsAtExit.armed = true;
            std::exit(0);
        },
        testing::ExitedWithCode(0), "Warning - raised at exit");
}

TEST(StaticObjects, LinkedWithoutBeingNamedTheyAreStillBuiltBeforeMain)
{
    FILE* probe = popen(QUERN_STARTUP_PROBE, "r");
    ASSERT_NE(probe, nullptr);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof line, probe), nullptr);
    EXPECT_EQ(pclose(probe), 0);
    EXPECT_STREQ(line, "handlers before main: 4\n");
}

} // namespace
} // namespace quern::startup
