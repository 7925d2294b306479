#include "quern/platform/ErrorReporting.h"

#include <gtest/gtest.h>

namespace {

int g_hookCalls = 0;

void countingHook(const char* message, const char*, quern::u32)
{
    ++g_hookCalls;
    fprintf(stderr, "hook %d: %s\n", g_hookCalls, message);
    // A fatal error raised from inside the hook must abort without re-entering it.
    quern::debug::fatalError("nested", __FILE__, __LINE__);
}

TEST(ErrorReporting, FatalRaisedInsideHookAbortsWithoutSecondCall)
{
    EXPECT_DEATH(
        {
            quern::debug::setFatalErrorCallback(&countingHook);
            QUERN_FATAL("outer");
        },
        "hook 1: outer");
}

TEST(ErrorReporting, DefaultHandlerPrintsPathAfterEngineWordLineAndMessage)
{
    EXPECT_DEATH(quern::debug::fatalError("broken", "source/runtime/quern/io/File.cpp", 42),
                 "io/File.cpp \\(42\\): broken");
}

} // namespace
