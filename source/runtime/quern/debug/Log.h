#pragma once
// Stream-style logging: log() selects a level and writes the source prefix, the
// caller appends the message and ends it with std::endl (which hands it to the sinks).
//
//   QUERN_LOG(3) << "Loading level " << name << std::endl;
//
// Levels: 1 error, 2 warning, 3 information, 4 detail; 0 and 5 have no sinks by default.
// Each thread writes into its own line buffer, so the lines of concurrent callers
// never mix and each line reaches the sinks of its own level.

#include "quern/Types.h"

#include <ostream>

namespace quern::debug {

std::ostream& log(i32 level, const char* file, i32 line);

} // namespace quern::debug

#define QUERN_LOG(level) ::quern::debug::log((level), __FILE__, __LINE__)
