#pragma once
// A stream buffer that collects text in a fixed put area and hands it on in
// pieces: whenever the area fills up and whenever the stream is flushed.

#include "quern/Types.h"

#include <cstddef>
#include <streambuf>

namespace quern::debug {

class LineBuffer : public std::streambuf {
public:
    // An area of size 0 hands on every character as a one-character piece.
    LineBuffer(char* area, std::size_t size);
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

protected:
    // Receives each piece: the text from the start of the area to the current position.
    virtual void writeLine(const char* text, std::size_t length) = 0;

    int sync() override;
    int_type overflow(int_type character) override;

    // Hands on what the area holds and starts it again from its beginning.
    void flushArea();

private:
    char* m_area;
    std::size_t m_size;
};

} // namespace quern::debug
