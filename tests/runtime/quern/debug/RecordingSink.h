#pragma once
// A stream buffer that keeps everything written to it, piece by piece.

#include <mutex>
#include <streambuf>
#include <string>
#include <vector>

namespace quern::testing {

class RecordingSink : public std::streambuf {
public:
    std::string text()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_text;
    }
    std::vector<std::string> pieces()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_pieces;
    }

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pieces.emplace_back(text, static_cast<std::size_t>(count));
        m_text.append(text, static_cast<std::size_t>(count));
        return count;
    }
    int_type overflow(int_type character) override
    {
        if (traits_type::eq_int_type(character, traits_type::eof()))
            return traits_type::not_eof(character);
        const char text = traits_type::to_char_type(character);
        xsputn(&text, 1);
        return character;
    }

private:
    std::mutex m_lock;
    std::string m_text;
    std::vector<std::string> m_pieces;
};

} // namespace quern::testing
