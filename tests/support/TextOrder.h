#pragma once
// Checks that lines appear in a text (a log, a program's output) in the given order.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace quern::testing {

inline void expectInOrder(const std::string& text, std::initializer_list<const char*> lines)
{
    size_t at = 0;
    for (const char* line : lines) {
        const size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << text;
        at = found;
    }
}

} // namespace quern::testing
