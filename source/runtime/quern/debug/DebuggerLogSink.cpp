#include "quern/debug/Logger.h"

#include "quern/platform/Debugger.h"

#include <algorithm>

namespace quern::debug {

// The area is filled under a lock instead of through the stream buffer's own put
// pointers: standard error is shared by every thread once this sink replaces it.
DebuggerLogSink::DebuggerLogSink() = default;

DebuggerLogSink& DebuggerLogSink::instance()
{
    static DebuggerLogSink* const sink = new DebuggerLogSink;
    return *sink;
}

bool DebuggerLogSink::flushLocked()
{
    if (m_used != 0)
        platform::writeDebuggerOutput(m_area, m_used);
    m_used = 0;
    return true;
}

int DebuggerLogSink::sync()
{
    MutexLock lock(m_lock);
    return flushLocked() ? 0 : -1;
}

std::streamsize DebuggerLogSink::xsputn(const char* text, std::streamsize count)
{
    MutexLock lock(m_lock);
    std::streamsize written = 0;
    while (written < count) {
        if (m_used == sizeof m_area && !flushLocked())
            break;
        const auto room = static_cast<std::streamsize>(sizeof m_area - m_used);
        const std::streamsize chunk = std::min(room, count - written);
        std::copy(text + written, text + written + chunk, m_area + m_used);
        m_used += static_cast<std::size_t>(chunk);
        written += chunk;
    }
    return written;
}

DebuggerLogSink::int_type DebuggerLogSink::overflow(int_type character)
{
    if (traits_type::eq_int_type(character, traits_type::eof()))
        return sync() == 0 ? traits_type::not_eof(character) : traits_type::eof();
    const char text = traits_type::to_char_type(character);
    return xsputn(&text, 1) == 1 ? character : traits_type::eof();
}

} // namespace quern::debug
