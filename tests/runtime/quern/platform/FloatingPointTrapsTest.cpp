#include "quern/platform/FloatingPointTraps.h"

#include "support/FloatingPointTrap.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <csignal>
#include <thread>

namespace {

using quern::platform::DenormalOperandsUntrappedScope;
using quern::platform::enableFloatingPointTraps;
using quern::platform::floatingPointTrapsEnabled;
using quern::platform::maskFloatingPointTraps;
using quern::platform::UntrappedFloatingPointScope;

volatile float g_zero = 0.0f;
volatile float g_one = 1.0f;
volatile float g_huge = 3e38f;
volatile float g_denormal = 1e-40f;
volatile float g_result = 0.0f;

void divideByZero() { g_result = g_one / g_zero; }
void invalid() { g_result = g_zero / g_zero; }
void overflow() { g_result = g_huge * g_huge; }
void denormalOperand() { g_result = g_denormal * 2.0f; }

TEST(FloatingPointTrapsDeathTest, EachTrappedExceptionStopsTheProgram)
{
    for (void (*fault)() : { divideByZero, invalid, overflow, denormalOperand }) {
        EXPECT_FLOATING_POINT_TRAP({
            enableFloatingPointTraps();
            fault();
            std::exit(0);
        });
    }
}

TEST(FloatingPointTrapsDeathTest, ThreadsStartedLaterInheritTheTraps)
{
    EXPECT_FLOATING_POINT_TRAP({
        enableFloatingPointTraps();
        std::thread(divideByZero).join();
        std::exit(0);
    });
}

TEST(FloatingPointTraps, InexactAndUnderflowStayQuiet)
{
    EXPECT_EXIT(
        {
            enableFloatingPointTraps();
            volatile float third = g_one / 3.0f;
            volatile float tiny = 1e-30f;
            g_result = tiny * tiny + third;
            std::exit(floatingPointTrapsEnabled() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(FloatingPointTraps, MaskingLetsEveryFaultThroughAndEnablingTrapsAgainStopsTheNext)
{
    EXPECT_FLOATING_POINT_TRAP({
        enableFloatingPointTraps();
        if (!maskFloatingPointTraps() || floatingPointTrapsEnabled())
            std::exit(1);
        divideByZero();
        invalid();
        overflow();
        denormalOperand();
        // The flags raised while masked are cleared, so only a new fault stops.
        enableFloatingPointTraps();
        g_result = g_one + g_one;
        divideByZero();
        std::exit(0);
    });
}

TEST(FloatingPointTraps, AnUntrappedScopeLetsFaultsThroughAndRestoresTheTraps)
{
    EXPECT_EXIT(
        {
            enableFloatingPointTraps();
            {
                UntrappedFloatingPointScope untrapped;
                if (floatingPointTrapsEnabled())
                    std::exit(1);
                divideByZero();
                if (!std::isinf(g_result))
                    std::exit(2);
                invalid();
                denormalOperand();
            }
            // Flags raised in the scope are gone, so nothing fires on the way out,
            // and the traps are back.
            g_result = g_one + g_one;
            std::exit(floatingPointTrapsEnabled() && std::fetestexcept(FE_ALL_EXCEPT) == 0 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(FloatingPointTrapsDeathTest, ADenormalScopeLetsDenormalsThroughButStopsTheOtherFaults)
{
    EXPECT_FLOATING_POINT_TRAP({
        enableFloatingPointTraps();
        DenormalOperandsUntrappedScope denormals;
        denormalOperand();
        if (!floatingPointTrapsEnabled())
            std::exit(1);
        divideByZero();
        std::exit(0);
    });
}

TEST(FloatingPointTrapsDeathTest, DenormalsStopAgainAfterTheScope)
{
    EXPECT_FLOATING_POINT_TRAP({
        enableFloatingPointTraps();
        {
            DenormalOperandsUntrappedScope denormals;
            denormalOperand();
        }
        // The flag raised in the scope is gone, so only the next one stops.
        g_result = g_one + g_one;
        denormalOperand();
        std::exit(0);
    });
}

TEST(FloatingPointTraps, TrapsAreOffUntilEnabled) { EXPECT_FALSE(floatingPointTrapsEnabled()); }

} // namespace
