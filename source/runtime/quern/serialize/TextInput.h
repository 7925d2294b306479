#pragma once
// Character input for the text POD reader, one class per stream family, so the
// reader is written once. Both give: peek (-1 at the end), skip, get, passTo
// and the logical position.
//
// SourceTextInput reads ahead from a ByteSource into its own buffer (growing
// the read size as an operation goes on, so small items stay cheap) and puts
// the source's position back to exactly what was consumed when it finishes.

#include "quern/Types.h"
#include "quern/io/ByteSource.h"

#include <cstring>
#include <istream>

namespace quern::serialize {

class SourceTextInput {
public:
    // Numbers read from engine sources follow the C library's "%i": a signed
    // value may be written in hexadecimal (0x) or octal (leading 0).
    static constexpr bool kPrefixedSignedNumbers = true;
    // An over-long string value is cut to the buffer (and the rest passed over).
    static constexpr bool kOverlongStringIsFatal = false;

    explicit SourceTextInput(ByteSource& source)
        : m_source(source), m_size(source.size()), m_fetched(source.position)
    {
        if (m_fetched > m_size)
            m_fetched = m_size;
    }
    ~SourceTextInput() { m_source.position = position(); }
    SourceTextInput(const SourceTextInput&) = delete;
    SourceTextInput& operator=(const SourceTextInput&) = delete;

    int peek()
    {
        if (m_cursor == m_end && !refill())
            return -1;
        return static_cast<unsigned char>(m_buffer[m_cursor]);
    }
    void skip() { ++m_cursor; } // only after a peek that was not -1
    int get()
    {
        const int c = peek();
        if (c >= 0)
            ++m_cursor;
        return c;
    }

    // Consumes up to and including the next `c`; false (everything consumed)
    // when there is none.
    bool passTo(char c)
    {
        for (;;) {
            if (m_cursor == m_end && !refill())
                return false;
            const void* found = std::memchr(m_buffer + m_cursor, c, m_end - m_cursor);
            if (found) {
                m_cursor = static_cast<u64>(static_cast<const char*>(found) - m_buffer) + 1;
                return true;
            }
            m_cursor = m_end;
        }
    }

    u64 position() const { return m_fetched - (m_end - m_cursor); }

private:
    static constexpr u64 kFirstRead = 128;
    static constexpr u64 kBufferSize = 16384;

    bool refill()
    {
        const u64 left = m_size - m_fetched;
        if (left == 0)
            return false;
        u64 wanted = m_nextRead < left ? m_nextRead : left;
        m_source.position = m_fetched;
        m_source.read(m_buffer, wanted);
        m_fetched += wanted;
        m_cursor = 0;
        m_end = wanted;
        if (m_nextRead < kBufferSize)
            m_nextRead *= 2;
        return true;
    }

    ByteSource& m_source;
    u64 m_size;
    u64 m_fetched; // source position just past the buffered bytes
    u64 m_cursor = 0;
    u64 m_end = 0;
    u64 m_nextRead = kFirstRead;
    char m_buffer[kBufferSize];
};

class StreamTextInput {
public:
    // Standard streams read numbers the way their extraction does: decimal only.
    static constexpr bool kPrefixedSignedNumbers = false;
    // Extraction into a fixed buffer cannot cut a string quietly.
    static constexpr bool kOverlongStringIsFatal = true;

    explicit StreamTextInput(std::istream& stream)
        : m_stream(stream), m_buffer(stream.good() ? stream.rdbuf() : nullptr)
    {
    }
    ~StreamTextInput()
    {
        if (m_atEnd)
            m_stream.setstate(std::ios::eofbit);
    }
    StreamTextInput(const StreamTextInput&) = delete;
    StreamTextInput& operator=(const StreamTextInput&) = delete;

    int peek()
    {
        if (!m_buffer || m_atEnd)
            return -1;
        const auto c = m_buffer->sgetc();
        if (std::istream::traits_type::eq_int_type(c, std::istream::traits_type::eof())) {
            m_atEnd = true;
            return -1;
        }
        return static_cast<unsigned char>(std::istream::traits_type::to_char_type(c));
    }
    void skip() { m_buffer->sbumpc(); }
    int get()
    {
        const int c = peek();
        if (c >= 0)
            skip();
        return c;
    }
    bool passTo(char c)
    {
        for (int next = get(); next >= 0; next = get())
            if (next == static_cast<unsigned char>(c))
                return true;
        return false;
    }

private:
    std::istream& m_stream;
    std::streambuf* m_buffer;
    bool m_atEnd = false;
};

} // namespace quern::serialize
