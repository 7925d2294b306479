#pragma once
// Collects what is logged at one level while it exists.

#include "quern/Types.h"
#include "quern/debug/Logger.h"

#include <sstream>
#include <string>

namespace quern::testing {

class LogCapture {
public:
    explicit LogCapture(i32 level)
        : m_level(level)
    {
        debug::getLogger()->buffer().addSink(&m_text, m_level);
    }
    ~LogCapture() { debug::getLogger()->buffer().removeSink(&m_text, m_level); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return m_text.str(); }
    u64 occurrences(const std::string& needle) const
    {
        const std::string all = text();
        u64 count = 0;
        for (std::size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1))
            ++count;
        return count;
    }

private:
    i32 m_level;
    std::stringbuf m_text;
};

} // namespace quern::testing
