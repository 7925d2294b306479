#pragma once
// Checks that lines appear in a text (a log, a program's output) in the given order.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace quern::testing {

template <class Lines> void expectLinesInOrder(const std::string& text, const Lines& lines)
{
    size_t at = 0;
    for (const auto& line : lines) {
        const size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << text;
        at = found;
    }
}

inline void expectInOrder(const std::string& text, std::initializer_list<const char*> lines)
{
    expectLinesInOrder(text, lines);
}

inline void expectInOrder(const std::string& text, const std::vector<std::string>& lines)
{
    expectLinesInOrder(text, lines);
}

} // namespace quern::testing
