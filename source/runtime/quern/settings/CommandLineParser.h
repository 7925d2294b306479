#pragma once
// Hands command-line options of the form "--key=value" (or "--key") to the settings
// model, one call per option.

#include "quern/Types.h"

namespace quern::settings {

// Keys of this many bytes or more are refused before any call.
constexpr u32 kMaxOptionKeyBytes = 64;

// One option: `value` is null for "--key" without '='. Returns 0 when stored,
// 1 for a bad boolean word, 2 for a key the model does not have.
using CommandLineCallback = i32 (*)(void* context, const char* key, const char* value);

// `text` is an option without its dashes: "key=value" or "key". Returns the
// callback's result, or 1 without a call when the key is too long.
i32 parseKeyValue(const char* text, CommandLineCallback onOption, void* context = nullptr);

// Looks at every argument (the program path included): ones not starting with "--"
// are ignored, a bare "--" gives 1, the others go to parseKeyValue. Parsing goes on
// after errors; the result is the last non-zero result, or 0.
i32 parseCommandLine(i32 count, char** arguments, CommandLineCallback onOption, void* context = nullptr);

} // namespace quern::settings
