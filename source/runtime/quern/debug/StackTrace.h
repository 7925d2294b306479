#pragma once
// Call stacks for exceptions, the fatal path and the crash handler: a fixed
// record of up to 32 frames with function, source file and line where known.

#include "quern/Types.h"

#include <iosfwd>

namespace quern::debug {

struct StackFrame {
    u64 address;        // instruction address; 0 for a frame made from a source position
    i32 line;           // 0 when not found
    char function[128]; // NUL-terminated, empty when not found
    char file[128];     // NUL-terminated, empty when not found
};

struct StackTrace {
    static constexpr u64 kMaxFrames = 32;

    StackFrame frames[kMaxFrames];
    u64 count;

    // Frame 0 is the given site (address 0), then the caller's stack in the
    // remaining frames. Returns the frame count.
    u64 capture(const char* function, const char* file, i32 line);
};

// Stores up to maxFrames frames of the calling thread's stack, passing over the
// first `skip` frames above the caller; the walk stops at "main". Returns the
// number stored. Safe to call from the crash handler once primeStackTraces ran.
u64 captureStackTrace(StackFrame* frames, u64 maxFrames, i32 skip);

// Loads the unwinder and the symbol tables once, so that a later capture (in
// particular one inside the crash handler) loads no libraries.
void primeStackTraces();

// Writes the current stack, one frame a line, then flushes; nothing when no
// frame could be captured.
void printStackTrace(std::ostream& out);
// The same on standard output.
void printStackTrace();

// Copies text into a fixed field, cut to its size - 1, always terminated.
void copyToField(char* field, u64 fieldSize, const char* text);

// Reduces a compiler's full function signature ("void quern::io::f(int) const")
// to its qualified name ("quern::io::f"), written into out (cut, terminated).
void qualifiedFunctionName(const char* signature, char* out, u64 outSize);

// The qualified name of a mangled C++ symbol ("_ZN5quern2io8openFileEPKc" gives
// "quern::io::openFile"; template arguments show as "<...>"), read without the
// heap so that the crash handler can use it. False (out empty) for symbols it
// does not cover.
bool readMangledName(const char* symbol, char* out, u64 outSize);

// Set by the crash handler on its thread: captures then name frames without
// the heap, which the crashed code may have left locked.
void setHeapFreeCapture(bool enabled);

std::ostream& operator<<(std::ostream& out, const StackFrame& frame);

} // namespace quern::debug
