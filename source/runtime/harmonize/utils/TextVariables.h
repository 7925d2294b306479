#pragma once
// A small process-wide store of named short texts: the prompt variables that
// tell the player which key or button performs an action. Keyed by the hash of
// the name; main-thread state, read by the text renderers.

#include "quern/Types.h"

namespace harmonize {

using quern::u64;

namespace TextVariables {

inline constexpr u64 kHashSeed = 0x180957477ull;
inline constexpr u64 kMaxLength = 31;

struct Entry {
    u64 key;
    u64 length;
    char value[kMaxLength + 1];
};

u64 keyOf(const char* name);
// Sets the variable, cutting the value to its first 31 characters; a new name
// appends an entry.
void set(const char* name, const char* value);
// The value of a variable, null when it was never set.
const char* find(const char* name);
// Makes room for at least `count` entries.
void reserve(u64 count);
u64 count();
// Drops every entry and gives the storage back.
void clear();

} // namespace TextVariables

} // namespace harmonize
