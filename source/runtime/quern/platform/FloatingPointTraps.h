#pragma once
// Floating-point traps: invalid operations, divisions by zero, overflows and
// denormal operands stop the program at the faulting instruction instead of
// spreading NaNs and infinities. Threads created afterwards inherit the mask,
// so libraries whose own code or threads trip the traps are opened or called
// inside an UntrappedFloatingPointScope, never by turning traps off for the process.

#include "quern/Types.h"

namespace quern::platform {

// Clears pending exceptions, then unmasks invalid, divide-by-zero, overflow and
// denormal-operand exceptions; inexact and underflow stay masked. False (nothing
// changed) when the control word cannot be read.
bool enableFloatingPointTraps();

// Clears pending exceptions and masks all six, the denormal operand included:
// the state enableFloatingPointTraps later leaves again. False when the
// control word cannot be written.
bool maskFloatingPointTraps();

// True when any of the four exceptions above is unmasked on this thread.
bool floatingPointTrapsEnabled();

// Masks every exception for its lifetime and gives the thread back its previous
// control word, with the exceptions raised meanwhile cleared so none fires late.
class UntrappedFloatingPointScope {
public:
    UntrappedFloatingPointScope();
    ~UntrappedFloatingPointScope();
    UntrappedFloatingPointScope(const UntrappedFloatingPointScope&) = delete;
    UntrappedFloatingPointScope& operator=(const UntrappedFloatingPointScope&) = delete;

private:
    u16 m_x87Control = 0;
    u32 m_mxcsr = 0;
};

// Masks the denormal-operand exception alone for its lifetime; the other
// traps stay as they were. For library code whose own arithmetic runs into
// denormals (squares of tiny residuals, say) while its invalid operations,
// divisions by zero and overflows must still stop the program. The
// exceptions raised meanwhile are cleared on the way out.
class DenormalOperandsUntrappedScope {
public:
    DenormalOperandsUntrappedScope();
    ~DenormalOperandsUntrappedScope();
    DenormalOperandsUntrappedScope(const DenormalOperandsUntrappedScope&) = delete;
    DenormalOperandsUntrappedScope& operator=(const DenormalOperandsUntrappedScope&) = delete;

private:
    u32 m_mxcsr = 0;
};

} // namespace quern::platform
