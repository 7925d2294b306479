// Shared entry point of every test program: the process allocators exist for the
// whole run, as they do in the game, and death tests re-execute the binary so
// they are safe beside threads.

#include "quern/memory/DefaultAllocator.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig{});
    const int result = RUN_ALL_TESTS();
    quern::memory::shutdownDefaultAllocators();
    return result;
}
