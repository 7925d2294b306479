#include "quern/platform/FloatingPointTraps.h"

#include <cfenv>
#include <xmmintrin.h>

namespace quern::platform {
namespace {

constexpr int kTrappedExceptions = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
// MXCSR: the six exception flags, and the denormal-operand mask bit, which the
// C library's exception interface does not cover.
constexpr u32 kMxcsrFlags = 0x3F;
constexpr u32 kMxcsrDenormalMask = 0x100;
constexpr u32 kMxcsrAllMasks = 0x1F80;
constexpr u16 kX87AllMasks = 0x3F;

u16 readX87Control()
{
    u16 control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    return control;
}

void writeX87Control(u16 control) { asm volatile("fldcw %0" : : "m"(control)); }

} // namespace

bool enableFloatingPointTraps()
{
    if (std::feclearexcept(FE_ALL_EXCEPT) != 0)
        return false;
    if (feenableexcept(kTrappedExceptions) < 0)
        return false;
    _mm_setcsr(_mm_getcsr() & ~(kMxcsrDenormalMask | kMxcsrFlags));
    return true;
}

bool maskFloatingPointTraps()
{
    if (std::feclearexcept(FE_ALL_EXCEPT) != 0)
        return false;
    if (fedisableexcept(FE_ALL_EXCEPT) < 0)
        return false;
    _mm_setcsr((_mm_getcsr() | kMxcsrDenormalMask) & ~kMxcsrFlags);
    return true;
}

bool floatingPointTrapsEnabled()
{
    return (fegetexcept() & kTrappedExceptions) != 0 || (_mm_getcsr() & kMxcsrDenormalMask) == 0;
}

UntrappedFloatingPointScope::UntrappedFloatingPointScope()
    : m_x87Control(readX87Control())
    , m_mxcsr(_mm_getcsr())
{
    asm volatile("fnclex");
    writeX87Control(static_cast<u16>(m_x87Control | kX87AllMasks));
    _mm_setcsr((m_mxcsr | kMxcsrAllMasks) & ~kMxcsrFlags);
}

UntrappedFloatingPointScope::~UntrappedFloatingPointScope()
{
    asm volatile("fnclex");
    writeX87Control(m_x87Control);
    _mm_setcsr(m_mxcsr & ~kMxcsrFlags);
}

DenormalOperandsUntrappedScope::DenormalOperandsUntrappedScope()
    : m_mxcsr(_mm_getcsr())
{
    _mm_setcsr(m_mxcsr | kMxcsrDenormalMask);
}

DenormalOperandsUntrappedScope::~DenormalOperandsUntrappedScope() { _mm_setcsr(m_mxcsr & ~kMxcsrFlags); }

} // namespace quern::platform
