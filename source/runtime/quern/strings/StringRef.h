#pragma once
// A non-owning view of text: a pointer and a byte count. The text need not be
// zero-terminated; a zero byte inside the view ends conversions.

#include "quern/Types.h"

#include <cstring>

namespace quern::strings {

class StringRef {
public:
    StringRef() = default;
    StringRef(const char* text) : m_data(text), m_length(text ? std::strlen(text) : 0) {}
    StringRef(const char* data, u64 length) : m_data(data), m_length(length) {}

    const char* data() const { return m_data; }
    u64 length() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }

    // Converts the view to zero-terminated UTF-16 in `out` (at most outBytes / 2
    // units, terminator included). Characters outside the Basic Multilingual
    // Plane and every malformed sequence become U+FFFD; a sequence cut off by
    // the end of the view ends the conversion. Returns the units written
    // without the terminator.
    u64 toUtf16(u16* out, u64 outBytes) const;

private:
    const char* m_data = nullptr;
    u64 m_length = 0;
};

} // namespace quern::strings
