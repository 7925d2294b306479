#pragma once
// The engine's owning UTF-8 string: texts of up to 15 bytes live in the object
// itself, longer ones in a block from the string's allocator. The text is
// always followed by a zero byte.

#include "quern/Types.h"
#include "quern/memory/Allocator.h"
#include "quern/strings/StringRef.h"

namespace quern::strings {

class String {
public:
    static constexpr u64 kInlineCapacity = 16;

    // An empty string; a null allocator becomes the default allocator at the
    // first growth.
    explicit String(memory::Allocator* allocator = nullptr);
    String(const char* text, memory::Allocator* allocator = nullptr);
    String(const String& other);
    String(String&& other) noexcept;
    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    String& operator=(const char* text);
    ~String();

    const char* c_str() const { return m_data; }
    char* data() { return m_data; }
    u64 length() const { return m_length; }
    u64 capacity() const { return m_capacity; }
    bool isEmpty() const { return m_length == 0; }
    bool isInline() const { return m_data == m_inline; }
    memory::Allocator* allocator() const { return m_allocator; }
    operator StringRef() const { return StringRef(m_data, m_length); }

    // The string holds exactly `text` afterwards.
    void assign(const char* text);
    // Makes room for `bytes` bytes, the terminator included.
    void reserve(u64 bytes);
    // Appends [begin, end); a null end means up to the zero byte after begin.
    void append(const char* begin, const char* end = nullptr);
    // Removes up to `count` bytes at `position`.
    void erase(u64 position, u64 count);
    // Index of the first byte that occurs in `set`, or -1.
    i64 findFirstOf(const String& set) const;
    // Index of the last `c` at or before `position`, or -1.
    i64 findLastOf(char c, u64 position) const;

private:
    void releaseHeap();
    void takeFrom(String& other);

    char* m_data;
    memory::Allocator* m_allocator;
    u64 m_capacity;
    u64 m_length;
    char m_inline[kInlineCapacity];
};

// Case-insensitive comparison of two zero-terminated UTF-8 texts, one code
// point at a time: < 0, 0 or > 0 as the first sorts before, with or after the
// second.
i32 compareNoCase(const char* a, const char* b);

} // namespace quern::strings
