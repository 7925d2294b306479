#include "quern/debug/LineBuffer.h"

namespace quern::debug {

LineBuffer::LineBuffer(char* area, std::size_t size)
    : m_area(area)
    , m_size(size)
{
    setp(m_area, m_area + m_size);
}

void LineBuffer::flushArea()
{
    const std::size_t length = static_cast<std::size_t>(pptr() - pbase());
    if (length != 0)
        writeLine(pbase(), length);
    setp(m_area, m_area + m_size);
}

int LineBuffer::sync()
{
    flushArea();
    return 0;
}

LineBuffer::int_type LineBuffer::overflow(int_type character)
{
    flushArea();
    if (traits_type::eq_int_type(character, traits_type::eof()))
        return traits_type::not_eof(character);
    const char text = traits_type::to_char_type(character);
    if (m_size == 0) {
        writeLine(&text, 1);
        return character;
    }
    *pptr() = text;
    pbump(1);
    return character;
}

} // namespace quern::debug
