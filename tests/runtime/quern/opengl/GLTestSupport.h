#pragma once
// Helpers for tests that replace GL entry points with fakes: the slot's old
// value comes back when the scope ends, and the log of a level is captured.

#include "quern/debug/Logger.h"

#include <sstream>
#include <string>

namespace quern::opengl::testing {

template <typename Pointer> class SlotOverride {
public:
    SlotOverride(Pointer& slot, Pointer value)
        : m_slot(slot)
        , m_saved(slot)
    {
        slot = value;
    }
    ~SlotOverride() { m_slot = m_saved; }
    SlotOverride(const SlotOverride&) = delete;
    SlotOverride& operator=(const SlotOverride&) = delete;

private:
    Pointer& m_slot;
    Pointer m_saved;
};

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

} // namespace quern::opengl::testing
