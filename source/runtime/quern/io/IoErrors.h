#pragma once
// The fatal failures of file access, raised as the engine's I/O exceptions.

#include "quern/Types.h"

namespace quern::io {

// "File not found" with the path.
[[noreturn]] void raiseFileNotFound(const char* path, const char* function, const char* file, u32 line);
// "Error reading from file".
[[noreturn]] void raiseFileReadError(const char* function, const char* file, u32 line);

} // namespace quern::io
