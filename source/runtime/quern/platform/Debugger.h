#pragma once
// Debugger detection, breaks and the debugger output channel.

#include "quern/Types.h"

namespace quern::platform {

// True while a tracer is attached (TracerPid in the process status).
bool isDebuggerPresent();

// Stops in the debugger; without one the trap reaches the crash handler.
void debugBreak();

// Debugger output goes to standard error here, written directly to the file
// descriptor so it works even when the standard streams are redirected to it.
void writeDebuggerOutput(const char* text);
void writeDebuggerOutput(const char* text, u64 length);

} // namespace quern::platform
