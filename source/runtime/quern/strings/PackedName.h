#pragma once
// Packed names: identifiers of up to 12 characters (a letter, then letters and
// digits, either case) held in a u64 in base 37, first character most
// significant. Chunk ids, blob names, vertex-attribute and parameter names.

#include "quern/Types.h"
#include "quern/strings/String.h"

namespace quern {

// What packName gives for a text that is not a packed name.
inline constexpr u64 kInvalidPackedName = ~u64{0};

// The packed id of `text`; 0 for the empty text, kInvalidPackedName when the
// text is not a valid name (characters after the twelfth are not looked at).
u64 packName(const char* text);
// Writes the 12 characters of `id` (lower case, zero bytes for unused places)
// into the first `bufferSize` places; terminates at place 12 when there is room.
void unpackNameToBuffer(u64 id, char* buffer, u64 bufferSize);
// The name of `id`, in lower case.
strings::String unpackName(u64 id);
// A letter first, then letters and digits, 12 characters at most.
bool isValidPackedName(const char* text);

} // namespace quern
