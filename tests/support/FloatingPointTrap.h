#pragma once
// Expects `statement` to end the process through a floating-point trap. Under
// the sanitizers their own signal handler reports the trap and exits instead.

#include <gtest/gtest.h>

#include <csignal>

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer ends a process it reported on with its own exit code.
#define EXPECT_FLOATING_POINT_TRAP(statement) EXPECT_EXIT(statement, ::testing::ExitedWithCode(66), "FPE")
#elif defined(QUERN_SANITIZED)
#define EXPECT_FLOATING_POINT_TRAP(statement) EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), "FPE")
#else
#define EXPECT_FLOATING_POINT_TRAP(statement) EXPECT_EXIT(statement, ::testing::KilledBySignal(SIGFPE), "")
#endif
