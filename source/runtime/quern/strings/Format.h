#pragma once
// printf-style formatting into a fixed buffer on the stack, for composed log
// and error messages:
//
//   QUERN_FATAL(quern::strings::format<256>("%s not found.", path));
//
// The text is cut to N - 1 characters and always terminated.

#include "quern/Types.h"

#include <cstdarg>
#include <cstdio>

namespace quern::strings {

template <u64 N> class format {
    static_assert(N >= 1, "a format buffer needs room for its terminator");

public:
    format() { m_text[0] = 0; }

    [[gnu::format(printf, 2, 3)]] explicit format(const char* pattern, ...)
    {
        va_list arguments;
        va_start(arguments, pattern);
        m_result = vprint(pattern, arguments);
        va_end(arguments);
    }

    // Formats anew into the buffer; returns what vsnprintf returned (the
    // length the whole text would have had, or negative on a format error).
    [[gnu::format(printf, 2, 3)]] i32 print(const char* pattern, ...)
    {
        va_list arguments;
        va_start(arguments, pattern);
        m_result = vprint(pattern, arguments);
        va_end(arguments);
        return m_result;
    }

    [[gnu::format(printf, 2, 0)]] i32 vprint(const char* pattern, va_list arguments)
    {
        const int result = std::vsnprintf(m_text, N, pattern, arguments);
        m_text[N - 1] = 0;
        if (result < 0)
            m_text[0] = 0;
        return result;
    }

    const char* c_str() const { return m_text; }
    operator const char*() const { return m_text; }
    i32 result() const { return m_result; }
    static constexpr u64 size() { return N; }

private:
    char m_text[N];
    i32 m_result = 0;
};

} // namespace quern::strings
