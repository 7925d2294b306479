#include "quern/platform/CrashHandler.h"

#include <cstring>

namespace quern::platform {

const char* exceptionCodeName(u32 code)
{
    switch (code) {
    case kExceptionDatatypeMisalignment: return "EXCEPTION_DATATYPE_MISALIGNMENT";
    case kExceptionBreakpoint: return "EXCEPTION_BREAKPOINT";
    case kExceptionSingleStep: return "EXCEPTION_SINGLE_STEP";
    case kExceptionAccessViolation: return "EXCEPTION_ACCESS_VIOLATION";
    case kExceptionInPageError: return "EXCEPTION_IN_PAGE_ERROR";
    case kExceptionIllegalInstruction: return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case kExceptionNoncontinuableException: return "EXCEPTION_NONCONTINUABLE_EXCEPTION";
    case kExceptionInvalidDisposition: return "EXCEPTION_INVALID_DISPOSITION";
    case kExceptionArrayBoundsExceeded: return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
    case kExceptionFltDenormalOperand: return "EXCEPTION_FLT_DENORMAL_OPERAND";
    case kExceptionFltDivideByZero: return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
    case kExceptionFltInexactResult: return "EXCEPTION_FLT_INEXACT_RESULT";
    case kExceptionFltInvalidOperation: return "EXCEPTION_FLT_INVALID_OPERATION";
    case kExceptionFltOverflow: return "EXCEPTION_FLT_OVERFLOW";
    case kExceptionFltStackCheck: return "EXCEPTION_FLT_STACK_CHECK";
    case kExceptionFltUnderflow: return "EXCEPTION_FLT_UNDERFLOW";
    case kExceptionIntDivideByZero: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case kExceptionIntOverflow: return "EXCEPTION_INT_OVERFLOW";
    case kExceptionPrivInstruction: return "EXCEPTION_PRIV_INSTRUCTION";
    case kExceptionStackOverflow: return "EXCEPTION_STACK_OVERFLOW";
    case kStatusFloatMultipleFaults: return "STATUS_FLOAT_MULTIPLE_FAULTS";
    case kStatusFloatMultipleTraps: return "STATUS_FLOAT_MULTIPLE_TRAPS";
    default: return "Unknown exception code";
    }
}

bool setDumpDirectory(const char* path)
{
    CrashDumpState& state = getCrashDumpState();
    if (!path || path[0] == '\0') {
        state.dumpDirectory[0] = '\0';
        return true;
    }
    const u64 length = std::strlen(path);
    const bool hasSeparator = path[length - 1] == '/' || path[length - 1] == '\\';
    // The directory, its separator and the terminator must all fit; cutting
    // the path would send dumps to some other directory.
    if (length + (hasSeparator ? 0 : 1) + 1 > sizeof state.dumpDirectory)
        return false;
    std::memcpy(state.dumpDirectory, path, length);
    u64 end = length;
    if (!hasSeparator)
        state.dumpDirectory[end++] = '/';
    state.dumpDirectory[end] = '\0';
    return true;
}

} // namespace quern::platform
