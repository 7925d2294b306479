#pragma once
// Import of GNU message catalogues (.mo) for localisation: every source text
// and every translation is interned, and the key table pairs the key of each
// source text with the key of its translation.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/strings/StringInterner.h"

#include <iosfwd>

namespace quern::strings {

inline constexpr u32 kMOMagic = 0x950412de;
inline constexpr u64 kMOTextBufferSize = 8192;

// One entry of a catalogue's string tables.
struct MOEntry {
    u32 length;
    u32 offset;
};

// One element of the key table.
struct TranslationKeys {
    u64 source;
    u64 translation;
};
static_assert(sizeof(TranslationKeys) == 16);

// Reads a catalogue laid out as msgfmt writes it (header, both string tables,
// hash table, source texts, then translations), strictly in sequence. Appends
// one TranslationKeys per message to `keyTable` (16-byte elements). Returns
// false for a stream that is not a catalogue; a stream that ends early is fatal.
bool importMO(std::istream& input, StringInterner& interner, containers::Array& keyTable);

// Reads the text of `entry` and the zero byte after it into `buffer` (texts
// longer than 8,191 bytes are cut there) and returns the text's length.
u64 readMOString(std::istream& input, const MOEntry& entry, char (&buffer)[kMOTextBufferSize]);

} // namespace quern::strings
