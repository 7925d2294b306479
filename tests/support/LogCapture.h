#pragma once
// Collects what is logged at one level while it exists. The test program must
// link the logger (quern_debug).

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
    bool contains(const std::string& needle) const { return text().find(needle) != std::string::npos; }

private:
    i32 m_level;
    std::stringbuf m_text;
};

} // namespace quern::testing
