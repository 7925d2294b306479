#pragma once
// The process's current directory.

#include "quern/Types.h"

namespace quern::platform {

constexpr u64 kMaxCurrentDirectoryBytes = 4096;

// Writes the current directory (UTF-8, '/' separators, zero-terminated) into the
// buffer; false when it cannot be queried or does not fit.
bool getCurrentDirectory(char* buffer, u64 size);

} // namespace quern::platform
