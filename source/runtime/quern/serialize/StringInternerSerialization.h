#pragma once
// The two stored forms of string tables:
// - the string-table chunk, the POD-token form of a StringInterner that the
//   asset database, level worlds and animations embed;
// - the string-table file ("assets.l10n", magic "SSTT", version 1), a keyed
//   table of zero-terminated texts kept whole in memory for subtitle lookups.

#include "quern/Types.h"
#include "quern/serialize/PODTypeDescriptor.h"

#include <iosfwd>

namespace quern {
class ByteSink;
class ByteSource;
} // namespace quern

namespace quern::memory {
class Allocator;
}

namespace quern::strings {
class StringInterner;
}

namespace quern::serialize {

class PODToken;

inline constexpr u64 kStringInternerChunkId = 0x3047D0C2DECD34C7ull; // "stringintern"
// The longest text a string-table chunk holds.
inline constexpr u64 kMaxInternedTextLength = 32767;

// {u64 key, u32 index of the text, 4 bytes of padding}.
struct StringKeyRecord {
    u64 key;
    u32 index;
    u32 padding;
};
static_assert(sizeof(StringKeyRecord) == 16);
inline constexpr PODComponent kStringKeyRecordComponents[] = {
    {1, PODKind::Unsigned, 64}, {1, PODKind::Unsigned, 32}, {1, PODKind::Skip, 32}};
inline constexpr PODTypeDescriptor kStringKeyRecordDescriptor{3, kStringKeyRecordComponents};

// Replaces the interner's contents with the chunk at the source's position.
// Returns the source position after the chunk (truncated to 32 bits).
u32 readStringInterner(ByteSource& source, PODToken& token, strings::StringInterner& interner);
// Writes the interner as a chunk the reader above takes back unchanged.
void writeStringInterner(ByteSink& sink, PODToken& token, const strings::StringInterner& interner);
void writeStringInterner(std::ostream& stream, PODToken& token, const strings::StringInterner& interner);

inline constexpr u32 kStringTableMagic = 0x54545353u; // "SSTT"
inline constexpr u32 kStringTableVersion = 1;
inline constexpr u64 kStringTableHeaderSize = 24;
inline constexpr u64 kStringTableEntrySize = 16;

// A loaded string-table file: the whole file image and the allocator it came from.
struct StringTable {
    void* block = nullptr;
    memory::Allocator* allocator = nullptr;

    u32 count() const;
    // The text of the first entry with `key`, or null.
    const char* find(u64 key) const;
    // Frees the block and clears both fields.
    void release();
};

// Loads a string-table file from the source's position into `table` (a null
// allocator means the default one), freeing the table's previous block. A file
// that is not one, or whose counts or offsets leave it, is fatal with "Invalid
// string table file".
void readStringTable(ByteSource& source, StringTable& table, memory::Allocator* allocator);
// Writes a string-table file of `count` entries (keys[i], texts[i]).
void writeStringTable(ByteSink& sink, const u64* keys, const char* const* texts, u32 count);

} // namespace quern::serialize
