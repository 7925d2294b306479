#pragma once
// Stores each distinct text once under its 64-bit key. Keys identify texts:
// two texts with the same key share one entry. Lookups scan the keys, which
// suits the small per-world name tables this serves.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/memory/Allocator.h"
#include "quern/strings/Hashes.h"

namespace quern::strings {

class StringInterner {
public:
    StringInterner();
    ~StringInterner();
    StringInterner(const StringInterner&) = delete;
    StringInterner& operator=(const StringInterner&) = delete;

    // An empty interner allocated from `allocator` (null: the default
    // allocator); null when that allocation fails.
    static StringInterner* create(memory::Allocator* allocator);
    // Frees every text, the tables and the interner; null does nothing.
    static void destroy(memory::Allocator* allocator, StringInterner* interner);

    // The stored text for `key`, copying `length` bytes of `text` (and a
    // terminator) when the key is new.
    const char* intern(const char* text, u64 length, u64 key);
    // Interns under MurmurHash64A of the text with the interner's seed and
    // returns the entry's position.
    i64 internIndex(const char* text, u64 length);
    // Position of `key`, or -1.
    i64 find(u64 key) const;
    // Frees every stored text and both tables.
    void clear();
    // Where the texts and both tables come from (null: the default allocator);
    // only while the interner is empty.
    void setAllocator(memory::Allocator* allocator);

    // For loaders of stored tables, whose keys come with the texts: the seed the
    // keys were made with (nothing is rehashed), an entry appended without
    // looking its key up first, and a key set in place.
    void setSeed(u64 seed) { m_seed = seed; }
    void appendEntry(const char* text, u64 length, u64 key);
    void setKey(u64 index, u64 key) { m_keys.at<u64>(index) = key; }

    u64 seed() const { return m_seed; }
    u64 count() const { return m_keys.count(); }
    u64 key(u64 index) const { return m_keys.at<u64>(index); }
    const char* text(u64 index) const { return m_strings.at<const char*>(index); }

private:
    containers::Array m_strings;
    containers::Array m_keys;
    u64 m_seed = kInternerSeed;
    memory::Allocator* m_stringAllocator = nullptr;
};

} // namespace quern::strings
