#include "PlainPPM.h"

#include <cctype>

namespace quern::assetbuild {
namespace {

// Nine digits cannot overflow a u64 and exceed every limit the format has.
constexpr size_t kMaxDigits = 9;

class WordReader {
public:
    explicit WordReader(const std::vector<u8>& bytes) : m_bytes(bytes) { }

    // The next word, false at the end of the file; `line` is the word's line.
    bool next(std::string& word)
    {
        skipBlanksAndComments();
        if (m_at == m_bytes.size())
            return false;
        word.clear();
        while (m_at < m_bytes.size() && !isBlank(m_bytes[m_at]) && m_bytes[m_at] != '#')
            word.push_back(static_cast<char>(m_bytes[m_at++]));
        return true;
    }

    u32 line() const { return m_line; }

private:
    static bool isBlank(u8 c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

    void skipBlanksAndComments()
    {
        while (m_at < m_bytes.size()) {
            const u8 c = m_bytes[m_at];
            if (c == '#') {
                while (m_at < m_bytes.size() && m_bytes[m_at] != '\n')
                    ++m_at;
            } else if (isBlank(c)) {
                if (c == '\n')
                    ++m_line;
                ++m_at;
            } else {
                return;
            }
        }
    }

    const std::vector<u8>& m_bytes;
    size_t m_at = 0;
    u32 m_line = 1;
};

class PPMParser {
public:
    explicit PPMParser(const std::vector<u8>& bytes) : m_words(bytes) { }

    bool parse(RGBAImage& image)
    {
        std::string magic;
        m_words.next(magic);
        if (magic != "P3")
            return fail("\"" + magic + "\" is not the magic of a plain-text PPM (P3)");
        u32 maxValue = 0;
        if (!readHeaderNumber("width", 1, kPPMMaxSide, image.width)
            || !readHeaderNumber("height", 1, kPPMMaxSide, image.height)
            || !readHeaderNumber("maximum value", 1, 255, maxValue))
            return false;
        const u64 samples = u64 { image.width } * image.height * 3;
        image.pixels.clear();
        // Grown as samples arrive: a header that claims more than the file
        // holds ends at the end of the file, not in one huge allocation.
        for (u64 i = 0; i < samples; ++i) {
            std::string word;
            if (!m_words.next(word))
                return fail("the file ends after " + std::to_string(i) + " of " + std::to_string(samples) + " samples");
            u32 sample = 0;
            if (!readNumber(word, sample))
                return false;
            if (sample > maxValue)
                return fail("sample " + word + " is above the maximum value " + std::to_string(maxValue));
            image.pixels.push_back(static_cast<u8>((sample * 255 + maxValue / 2) / maxValue));
            if (i % 3 == 2)
                image.pixels.push_back(255);
        }
        std::string extra;
        if (m_words.next(extra))
            return fail("\"" + extra + "\" is more than the " + std::to_string(samples) + " samples of "
                + std::to_string(image.width) + " x " + std::to_string(image.height) + " pixels");
        return true;
    }

    std::string error;

private:
    bool fail(const std::string& message)
    {
        error = "ppm line " + std::to_string(m_words.line()) + ": " + message;
        return false;
    }

    bool readNumber(const std::string& word, u32& value)
    {
        bool digits = !word.empty();
        for (char c : word)
            digits = digits && std::isdigit(static_cast<unsigned char>(c));
        if (!digits)
            return fail("\"" + word + "\" is not a decimal number");
        const size_t first = word.find_first_not_of('0');
        if (first != std::string::npos && word.size() - first > kMaxDigits)
            return fail("\"" + word + "\" is too large");
        value = 0;
        for (char c : word)
            value = value * 10 + static_cast<u32>(c - '0');
        return true;
    }

    bool readHeaderNumber(const char* what, u32 low, u32 high, u32& value)
    {
        std::string word;
        if (!m_words.next(word))
            return fail(std::string("the file ends before the ") + what);
        if (!readNumber(word, value))
            return false;
        if (value < low || value > high)
            return fail(std::string("the ") + what + " " + word + " is not between " + std::to_string(low) + " and "
                + std::to_string(high));
        return true;
    }

    WordReader m_words;
};

} // namespace

bool looksLikePPM(const std::vector<u8>& bytes)
{
    return bytes.size() >= 2 && bytes[0] == 'P' && std::isdigit(bytes[1]);
}

bool readPlainPPM(const std::vector<u8>& bytes, RGBAImage& image, std::string& error)
{
    PPMParser parser(bytes);
    if (parser.parse(image))
        return true;
    error = parser.error;
    image = RGBAImage {};
    return false;
}

} // namespace quern::assetbuild
