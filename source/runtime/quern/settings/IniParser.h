#pragma once
// Splits "settings.ini" text into (section, key, value) entries for the settings model.
// The parser knows no keys: it hands every entry to a callback and collects the result.

#include "quern/Types.h"

namespace quern::settings {

// One entry of INI text. The pointers stay valid only during the call. `value` is
// null for a line that holds a key but no separator (a boolean key then means true).
// Returns 0 when stored, 1 for a section or key the model does not have, 2 for a bad
// boolean word.
using IniEntryCallback = i32 (*)(void* context, const char* section, const char* key, const char* value);

// Parses [text, end) (end null: up to the terminating zero) in one private copy and
// returns the first non-zero result of the callback, or 0. Malformed lines never stop
// the process; a section header without ']' ends the scan.
i32 parseIniText(const char* text, const char* end, IniEntryCallback onEntry, void* context = nullptr);

} // namespace quern::settings
