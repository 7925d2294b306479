#pragma once
// Collects what the logger writes at one level while the capture lives.

#include "quern/Types.h"
#include "quern/debug/Logger.h"

#include <sstream>
#include <string>

namespace quern::testing {

class LogCapture {
public:
    explicit LogCapture(i32 level) : m_level(level) { debug::getLogger()->buffer().addSink(&m_text, m_level); }
    ~LogCapture() { debug::getLogger()->buffer().removeSink(&m_text, m_level); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return m_text.str(); }
    bool contains(const std::string& needle) const { return text().find(needle) != std::string::npos; }
    u64 count(const std::string& needle) const
    {
        const std::string all = text();
        u64 n = 0;
        for (auto at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1))
            ++n;
        return n;
    }

private:
    i32 m_level;
    std::stringbuf m_text;
};

} // namespace quern::testing

namespace quern::test {
using quern::testing::LogCapture;
} // namespace quern::test
