#pragma once
// The process-wide logger: the sink table shared by every thread, the in-memory
// log that becomes the log file, verbosity, console colours and the start banner.

#include "quern/Types.h"
#include "quern/debug/LineBuffer.h"
#include "quern/debug/Log.h"
#include "quern/debug/MutexImpl.h"

#include <cstddef>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace quern::platform {
struct OSInfo;
}

namespace quern::debug {

// The sinks of each level. A sink is any stream buffer; writing to it means
// putting the whole piece into it, then syncing it.
class LogBuffer {
public:
    static constexpr i32 kLevelCount = 6;
    static constexpr u32 kMaxSinksPerLevel = 4;

    LogBuffer() = default;
    LogBuffer(const LogBuffer&) = delete;
    LogBuffer& operator=(const LogBuffer&) = delete;

    // False (and nothing added) for a level outside 0..5 or a level that is full.
    bool addSink(std::streambuf* sink, i32 level);
    // Removes every occurrence at that level, keeping the order of the others.
    void removeSink(std::streambuf* sink, i32 level);
    bool hasSink(std::streambuf* sink);
    u32 sinkCount(i32 level);

    bool isEnabled() const { return m_enabled; }

    // Writes the pieces of one line, in order, to every sink of `level` while
    // holding the sink lock, so no other thread's text lands between them.
    void writePieces(i32 level, const char* text, const std::size_t* pieceLengths, std::size_t pieceCount);

    // Runs `function` under the sink lock, e.g. to read a sink's contents safely.
    template <typename Function> void withSinksLocked(Function&& function)
    {
        MutexLock lock(m_sinkLock);
        function();
    }

private:
    std::streambuf* m_sinks[kLevelCount][kMaxSinksPerLevel] = {};
    u32 m_counts[kLevelCount] = {};
    bool m_enabled = true;
    MutexImpl m_sinkLock;
};

// One thread's line buffer: a 128-byte put area and the level of the line being
// written. Pieces of a line that outgrows the area wait here until the line ends,
// then travel to the sinks together.
class ThreadLogBuffer final : public LineBuffer {
public:
    static constexpr std::size_t kAreaSize = 128;

    ThreadLogBuffer();
    ~ThreadLogBuffer() override;

    // Ends a line left unfinished by a previous caller at its own level, then
    // takes the new level.
    void beginLine(i32 level);
    i32 level() const { return m_level; }

protected:
    void writeLine(const char* text, std::size_t length) override;
    int sync() override;

private:
    void deliver();

    char m_area[kAreaSize];
    i32 m_level = 0;
    std::string m_pending;
    std::vector<std::size_t> m_pieceLengths;
};

// The stream that log() returns; one per thread.
class LogStream final : public std::ostream {
public:
    LogStream();
    ThreadLogBuffer& buffer() { return m_buffer; }
    // "[" + base name + (":" + line + ":error" | ":warning") + "] "
    void writePrefix(i32 level, const char* file, i32 line);

private:
    ThreadLogBuffer m_buffer;
};

class Logger {
public:
    LogBuffer& buffer() { return m_buffer; }

    // Attaches the in-memory log at levels 4, 3, 2 and 1 (once) and remembers it
    // as the text of the log file. Destroying the stream detaches it.
    static void attachStream(std::ostringstream& memoryLog);
    // Detaches the in-memory log; the application does this before deleting it.
    static void detachStream();
    static std::ostringstream* memoryLog();

private:
    LogBuffer m_buffer;
};

// Creates the logger on first use (with its destruction registered at exit) and
// returns it; null once it has been destroyed.
Logger* getLogger();
bool isLoggerDefunct();
// What the exit-time destruction runs: flushes, destroys and marks the logger
// defunct. Later log calls go to standard error marked "<logger defunct> ".
void destroyLogger();

// Applies verbosity 3: standard output at level 3, standard error at 2 and 1.
void setVerbosity();
i32 getVerbosity();

// Red for errors, yellow for warnings, the terminal's own colour otherwise;
// only when standard output is a terminal.
void setConsoleColor(i32 level);

// The base name of a source path: after the last '/' or '\', up to the last dot.
std::string_view sourceBaseName(const char* file);

// Writes the in-memory log to "<directory>/harmonizelog.txt" at once, through a
// temporary file renamed over the old log. False when there is no in-memory log
// or the file cannot be written.
bool saveLogFile(const char* directory);

void logStartupBanner(const char* cpuText, const platform::OSInfo& os);

// The debugger output as a stream buffer: a 256-byte area sent as one text per
// flush. Safe to share between threads.
class DebuggerLogSink final : public std::streambuf {
public:
    static DebuggerLogSink& instance();

protected:
    int sync() override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int_type overflow(int_type character) override;

private:
    DebuggerLogSink();
    bool flushLocked();

    char m_area[256] = {};
    std::size_t m_used = 0;
    MutexImpl m_lock;
};

} // namespace quern::debug
