#pragma once
// The crash handler: faults (bad memory access, illegal instruction, arithmetic
// trap, breakpoint) end here. It reports the crash, writes a crash dump (asking
// first in interactive mode), prints the stack and ends the process with exit
// code 1. The dump on this platform is a plain-text report.

#include "quern/Types.h"

namespace quern::debug {
class MutexImpl;
}

namespace quern::platform {

// The engine's exception codes.
enum ExceptionCode : u32 {
    kExceptionDatatypeMisalignment = 0x80000002,
    kExceptionBreakpoint = 0x80000003,
    kExceptionSingleStep = 0x80000004,
    kExceptionAccessViolation = 0xC0000005,
    kExceptionInPageError = 0xC0000006,
    kExceptionIllegalInstruction = 0xC000001D,
    kExceptionNoncontinuableException = 0xC0000025,
    kExceptionInvalidDisposition = 0xC0000026,
    kExceptionArrayBoundsExceeded = 0xC000008C,
    kExceptionFltDenormalOperand = 0xC000008D,
    kExceptionFltDivideByZero = 0xC000008E,
    kExceptionFltInexactResult = 0xC000008F,
    kExceptionFltInvalidOperation = 0xC0000090,
    kExceptionFltOverflow = 0xC0000091,
    kExceptionFltStackCheck = 0xC0000092,
    kExceptionFltUnderflow = 0xC0000093,
    kExceptionIntDivideByZero = 0xC0000094,
    kExceptionIntOverflow = 0xC0000095,
    kExceptionPrivInstruction = 0xC0000096,
    kExceptionStackOverflow = 0xC00000FD,
    kStatusFloatMultipleFaults = 0xC00002B4,
    kStatusFloatMultipleTraps = 0xC00002B5,
};

// What the handler knows of the crash being handled.
struct ExceptionPointers {
    u32 code; // ExceptionCode
    i32 signal; // the system's signal number
    i32 signalCode; // the system's detail code for that signal
    u64 faultAddress; // the address that faulted (memory faults) or the instruction
    u64 instructionAddress; // where the crashing thread stood
    u64 threadId; // the system's id of the crashing thread
};

using CrashCallback = void (*)(u32 exceptionCode, ExceptionPointers* pointers, bool interactive);

constexpr u32 kCrashPathSize = 260;

struct CrashDumpState {
    char dumpPath[kCrashPathSize]; // the last dump file's path
    char exeDirectory[kCrashPathSize]; // the executable's directory, with its final '/'
    char exeName[kCrashPathSize]; // the executable's file name
    char dumpDirectory[kCrashPathSize]; // empty: the executable's directory; else ends with '/'
    char question[1024]; // empty: the built-in question
    i32 messageDescriptor; // where crash messages go (standard error)
    debug::MutexImpl* dumpLock;
    CrashCallback callback; // null: the dump is written directly
    u32 dumpType; // recorded in the report; 0 = the normal dump
};

// Clears the record, installs the handler for the fault signals with an
// alternate stack for the calling thread, and creates the dump lock. Call once,
// early, from the main thread; then enable crash handling.
void installCrashHandler();
// Gives the calling thread its own alternate signal stack, so that a stack
// overflow on it still reaches the handler. Every thread the engine starts
// (NativeThread) calls it when it starts, and the next function when it ends.
void installCrashHandlerForThread();
// Frees the calling thread's alternate stack and puts back the one it had
// before (none, or one a sanitizer gave it).
void removeCrashHandlerForThread();

CrashDumpState& getCrashDumpState();

void setCrashHandlingEnabled(bool enabled);
bool isCrashHandlingEnabled();
void setCrashInteractive(bool interactive);
bool isCrashInteractive();
void setCrashCallback(CrashCallback callback);
// Null or empty: the built-in question.
void setCrashQuestion(const char* question);
void setDumpType(u32 dumpType);
// Where crash messages are written (a file descriptor; standard error by default).
void setCrashMessageDescriptor(i32 descriptor);

// Null or empty clears the directory (dumps go beside the executable). A path
// without a final separator gets '/'. A path that does not fit the record
// with its separator is refused (false) and the directory is left unchanged.
bool setDumpDirectory(const char* path);

// Non-null only while the crash callback runs.
const ExceptionPointers* getCrashExceptionPointers();

const char* exceptionCodeName(u32 code);

// The engine's exception code for a signal and its detail code.
u32 exceptionCodeFromSignal(i32 signal, i32 signalCode);

// Writes the crash report "<directory><exe>.<seconds>.dmp": the exception (when
// given), the fault address, the thread and the symbolised stack. In
// interactive mode asks first, and shows failures in a message box.
bool writeMiniDump(const ExceptionPointers* pointers, bool interactive);

// The handler's body, run on the crashing thread. Returns false, doing
// nothing, while crash handling is not enabled (the system's handling follows);
// otherwise it never returns.
bool unhandledExceptionFilter(ExceptionPointers* pointers);

} // namespace quern::platform
