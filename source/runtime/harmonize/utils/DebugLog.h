#pragma once
// One line of development text that the debug overlay shows, set from any
// thread and logged as it is set.

#include <string>

namespace harmonize {

inline constexpr unsigned kDebugLineSize = 256;

// Formats like printf, at most 255 characters, makes it the debug line and logs it.
void debugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A copy of the line as it stands.
std::string debugLine();
void clearDebugLine();

} // namespace harmonize
