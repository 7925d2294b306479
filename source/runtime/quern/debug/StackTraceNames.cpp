// Reading the qualified name out of a mangled C++ symbol without the heap, for
// stack traces taken inside the crash handler, where the library demangler
// (which allocates) could deadlock on a heap lock held by the crashed code.
// It covers the names functions usually have; template arguments are shown as
// "<...>"; anything else makes it give up, and the caller keeps the symbol.

#include "quern/debug/StackTrace.h"

#include <cstring>

namespace quern::debug {
namespace {

class NameReader {
public:
    NameReader(const char* symbol, char* out, u64 outSize) : m_in(symbol), m_out(out), m_outSize(outSize) {}

    bool read()
    {
        if (!consume("_Z"))
            return false;
        readName();
        if (m_ok)
            m_out[m_length] = '\0';
        return m_ok;
    }

private:
    static constexpr int kMaxSubstitutions = 64;

    char peek(int ahead = 0) const
    {
        for (int i = 0; i < ahead; ++i)
            if (m_in[i] == '\0')
                return '\0';
        return m_in[ahead];
    }
    bool consume(const char* text)
    {
        const u64 length = std::strlen(text);
        if (std::strncmp(m_in, text, length) != 0)
            return false;
        m_in += length;
        return true;
    }
    void fail() { m_ok = false; }
    // Skips up to and including the next `end`; running out of text fails.
    void skipPast(char end)
    {
        while (m_ok && peek() != end)
            if (peek() == '\0')
                fail();
            else
                ++m_in;
        if (m_ok)
            ++m_in; // never past the terminator
    }
    bool isDigit(char c) const { return c >= '0' && c <= '9'; }

    // Text beyond the field is cut, as frame names are.
    void emit(const char* text, u64 length)
    {
        for (u64 i = 0; i < length && m_length + 1 < m_outSize; ++i)
            m_out[m_length++] = text[i];
    }
    void emit(const char* text) { emit(text, std::strlen(text)); }

    u64 readNumber()
    {
        u64 value = 0;
        if (!isDigit(peek()))
            fail();
        while (m_ok && isDigit(peek())) {
            value = value * 10 + static_cast<u64>(*m_in++ - '0');
            if (value > 4096)
                fail();
        }
        return value;
    }

    // <source-name>: a length and that many characters.
    void readSourceName(bool print)
    {
        const u64 length = readNumber();
        if (!m_ok || std::strlen(m_in) < length) {
            fail();
            return;
        }
        if (print) {
            m_lastNameStart = m_in;
            m_lastNameLength = length;
            if (length == 12 && std::strncmp(m_in, "_GLOBAL__N_1", 12) == 0)
                emit("(anonymous namespace)");
            else
                emit(m_in, length);
        }
        m_in += length;
    }

    void addSubstitution(u64 start)
    {
        if (m_substitutionCount < kMaxSubstitutions) {
            m_substitutionStart[m_substitutionCount] = start;
            m_substitutionLength[m_substitutionCount] = m_length - start;
            ++m_substitutionCount;
        }
    }

    // S_, S<seq>_ and the standard abbreviations, printed.
    void readSubstitution()
    {
        static const struct {
            char code;
            const char* text;
        } kAbbreviations[] = {{'t', "std"}, {'a', "std::allocator"}, {'b', "std::basic_string"},
                              {'s', "std::string"}, {'i', "std::istream"}, {'o', "std::ostream"},
                              {'d', "std::iostream"}};
        ++m_in; // 'S'
        for (const auto& abbreviation : kAbbreviations)
            if (peek() == abbreviation.code) {
                ++m_in;
                emit(abbreviation.text);
                return;
            }
        u64 index = 0;
        if (peek() != '_') {
            // Base-36 sequence number, plus one.
            while (m_ok && peek() != '_') {
                const char c = peek();
                if (isDigit(c))
                    index = index * 36 + static_cast<u64>(c - '0');
                else if (c >= 'A' && c <= 'Z')
                    index = index * 36 + static_cast<u64>(c - 'A' + 10);
                else
                    fail();
                ++m_in;
            }
            ++index;
        }
        ++m_in; // '_'
        // Skipped template arguments may have added candidates we did not count.
        if (!m_ok || m_skippedArguments || index >= static_cast<u64>(m_substitutionCount)) {
            fail();
            return;
        }
        char copy[256];
        const u64 length = m_substitutionLength[index];
        if (length >= sizeof copy) {
            fail();
            return;
        }
        std::memcpy(copy, m_out + m_substitutionStart[index], length);
        emit(copy, length);
    }

    // Two-letter operator codes that name functions.
    bool readOperator()
    {
        static const struct {
            const char* code;
            const char* text;
        } kOperators[] = {
            {"nw", " new"}, {"na", " new[]"}, {"dl", " delete"}, {"da", " delete[]"}, {"ps", "+"}, {"ng", "-"},
            {"ad", "&"},   {"de", "*"},     {"co", "~"},      {"pl", "+"},        {"mi", "-"}, {"ml", "*"},
            {"dv", "/"},   {"rm", "%"},     {"an", "&"},      {"or", "|"},        {"eo", "^"}, {"aS", "="},
            {"pL", "+="},  {"mI", "-="},    {"mL", "*="},     {"dV", "/="},       {"rM", "%="}, {"aN", "&="},
            {"oR", "|="},  {"eO", "^="},    {"ls", "<<"},     {"rs", ">>"},       {"lS", "<<="}, {"rS", ">>="},
            {"eq", "=="},  {"ne", "!="},    {"lt", "<"},      {"gt", ">"},        {"le", "<="}, {"ge", ">="},
            {"ss", "<=>"}, {"nt", "!"},     {"aa", "&&"},     {"oo", "||"},       {"pp", "++"}, {"mm", "--"},
            {"cm", ","},   {"pm", "->*"},   {"pt", "->"},     {"cl", "()"},       {"ix", "[]"},
        };
        for (const auto& op : kOperators)
            if (peek() == op.code[0] && peek(1) == op.code[1]) {
                m_in += 2;
                emit("operator");
                emit(op.text);
                return true;
            }
        return false;
    }

    // Skips one type without printing it; gives up on the rarer forms.
    void skipType(int depth = 0)
    {
        if (!m_ok || depth > 32) {
            fail();
            return;
        }
        const char c = peek();
        if (c != '\0' && std::strchr("vwbcahstijlmxynofdegz", c)) {
            ++m_in;
            return;
        }
        switch (c) {
        case 'P':
        case 'R':
        case 'O':
        case 'K':
        case 'V':
        case 'r': ++m_in; skipType(depth + 1); return;
        case 'D':
            if (peek(1) && std::strchr("nfdihsuac", peek(1))) {
                m_in += 2;
                return;
            }
            if (peek(1) == 'p') {
                m_in += 2;
                skipType(depth + 1);
                return;
            }
            fail();
            return;
        case 'N': skipNested(depth + 1); return;
        case 'S':
            skipSubstitution();
            if (peek() == 'I')
                skipTemplateArguments(depth + 1);
            return;
        case 'T':
            ++m_in;
            skipPast('_');
            return;
        case 'F':
            ++m_in;
            consume("Y");
            while (m_ok && peek() != 'E')
                skipType(depth + 1);
            ++m_in;
            return;
        case 'A':
            ++m_in;
            while (m_ok && isDigit(peek()))
                ++m_in;
            if (!consume("_"))
                fail();
            skipType(depth + 1);
            return;
        case 'M':
            ++m_in;
            skipType(depth + 1);
            skipType(depth + 1);
            return;
        default:
            if (isDigit(c)) {
                readSourceName(false);
                if (peek() == 'I')
                    skipTemplateArguments(depth + 1);
                return;
            }
            fail();
        }
    }

    void skipSubstitution()
    {
        ++m_in; // 'S'
        if (peek() && std::strchr("tabsiod", peek())) {
            const bool qualified = peek() == 't';
            ++m_in;
            if (qualified && isDigit(peek()))
                readSourceName(false);
            return;
        }
        skipPast('_');
    }

    void skipNested(int depth)
    {
        ++m_in; // 'N'
        while (peek() == 'r' || peek() == 'V' || peek() == 'K' || peek() == 'R' || peek() == 'O')
            ++m_in;
        while (m_ok && peek() != 'E') {
            const char c = peek();
            if (isDigit(c))
                readSourceName(false);
            else if (c == 'S')
                skipSubstitution();
            else if (c == 'I')
                skipTemplateArguments(depth + 1);
            else if ((c == 'C' || c == 'D') && isDigit(peek(1)))
                m_in += 2;
            else if (c == 'B') {
                ++m_in;
                readSourceName(false);
            } else
                fail();
        }
        ++m_in;
    }

    void skipTemplateArguments(int depth)
    {
        m_skippedArguments = true;
        ++m_in; // 'I'
        while (m_ok && peek() != 'E') {
            if (peek() == 'L') {
                // A literal: L <type> <value> E.
                ++m_in;
                if (peek() == '_')
                    fail();
                skipType(depth + 1);
                while (m_ok && peek() != 'E')
                    if (peek() == '\0')
                        fail();
                    else
                        ++m_in;
                ++m_in;
            } else if (peek() == 'J') {
                ++m_in;
                while (m_ok && peek() != 'E')
                    skipType(depth + 1);
                ++m_in;
            } else if (peek() == 'X') {
                fail();
            } else {
                skipType(depth + 1);
            }
        }
        ++m_in;
    }

    // One component of a name, printed.
    void readComponent()
    {
        if (peek() == 'L' && isDigit(peek(1)))
            ++m_in; // internal linkage
        const char c = peek();
        if (isDigit(c)) {
            readSourceName(true);
        } else if (c == 'S') {
            readSubstitution();
        } else if ((c == 'C' || c == 'D') && isDigit(peek(1))) {
            const bool destructor = c == 'D';
            m_in += 2;
            if (!m_lastNameStart) {
                fail();
                return;
            }
            if (destructor)
                emit("~");
            emit(m_lastNameStart, m_lastNameLength);
        } else if (c == 'U' && peek(1) == 'l') {
            m_in += 2;
            while (m_ok && peek() != 'E')
                skipType();
            ++m_in;
            skipPast('_');
            emit("{lambda}");
        } else if (c >= 'a' && c <= 'z' && readOperator()) {
        } else {
            fail();
        }
    }

    void skipAbiTags()
    {
        while (m_ok && peek() == 'B') {
            ++m_in;
            readSourceName(false);
        }
    }

    // Template arguments after a name; an unscoped template name is a
    // substitution candidate of its own (nested prefixes are added by readNested).
    void readTemplateArgumentsAfter(u64 start, bool addName)
    {
        if (peek() != 'I')
            return;
        if (addName)
            addSubstitution(start);
        skipTemplateArguments(0);
        emit("<...>");
    }

    void readNested()
    {
        ++m_in; // 'N'
        while (peek() == 'r' || peek() == 'V' || peek() == 'K' || peek() == 'R' || peek() == 'O')
            ++m_in;
        const u64 start = m_length;
        bool first = true;
        while (m_ok && peek() != 'E') {
            if (peek() == 'I') {
                readTemplateArgumentsAfter(start, false);
            } else {
                if (!first)
                    emit("::");
                // A substitution names an existing candidate; "std" is none.
                const bool isSubstitution = peek() == 'S';
                readComponent();
                skipAbiTags();
                first = false;
                if (isSubstitution && peek() != 'I')
                    continue;
            }
            if (peek() != 'E')
                addSubstitution(start);
        }
        if (!consume("E"))
            fail();
    }

    void readLocal()
    {
        ++m_in; // 'Z'
        readName();
        // The enclosing function's parameters.
        while (m_ok && peek() != 'E')
            skipType();
        if (!consume("E"))
            fail();
        emit("::");
        if (consume("s")) {
            emit("string literal");
            return;
        }
        readName();
    }

    void readName()
    {
        if (!m_ok)
            return;
        const char c = peek();
        if (c == 'N') {
            readNested();
        } else if (c == 'Z') {
            readLocal();
        } else {
            const u64 start = m_length;
            if (consume("St"))
                emit("std::");
            readComponent();
            skipAbiTags();
            readTemplateArgumentsAfter(start, true);
        }
    }

    const char* m_in;
    char* m_out;
    u64 m_outSize;
    u64 m_length = 0;
    bool m_ok = true;
    bool m_skippedArguments = false;
    const char* m_lastNameStart = nullptr;
    u64 m_lastNameLength = 0;
    u64 m_substitutionStart[kMaxSubstitutions] = {};
    u64 m_substitutionLength[kMaxSubstitutions] = {};
    int m_substitutionCount = 0;
};

} // namespace

bool readMangledName(const char* symbol, char* out, u64 outSize)
{
    if (!symbol || !out || outSize == 0)
        return false;
    NameReader reader(symbol, out, outSize);
    if (reader.read())
        return true;
    out[0] = '\0';
    return false;
}

} // namespace quern::debug
