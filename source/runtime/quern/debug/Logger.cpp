#include "quern/debug/Logger.h"

#include "quern/platform/Console.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <vector>

namespace quern::debug {
namespace {

// Lines longer than this are handed on before they end, to bound the memory a
// runaway line can take.
constexpr std::size_t kMaxPendingLine = 64 * 1024;

std::atomic<Logger*> g_logger { nullptr };
std::atomic<bool> g_defunct { false };
std::atomic<i32> g_verbosity { 0 };

// A destroyed logger is retired, not freed: threads still finishing a line at
// exit may hold it, and its sink table is empty by then.
std::atomic<Logger*> g_retiredLogger { nullptr };

// Each thread owns its stream; the owner flushes and frees it when the thread ends.
struct ThreadStreamOwner {
    LogStream* stream = nullptr;
    ~ThreadStreamOwner();
};
thread_local ThreadStreamOwner t_owner;
thread_local bool t_ownerGone = false;
thread_local LogStream* t_lateStream = nullptr;

// Locks here are std::mutex: constant-initialised, so they work in static
// constructors and exit-time destructors whatever their order.

// Streams made after their thread's owner was destroyed (logging from exit-time
// destructors); kept reachable until the process ends.
std::mutex g_lateStreamsLock;
std::vector<LogStream*>* g_lateStreams = nullptr;

// The in-memory log, remembered both as the stream and as the object whose
// destruction the erase callback reports.
std::ostringstream* g_memoryLog = nullptr;
std::ios_base* g_memoryLogBase = nullptr;
std::streambuf* g_memoryLogSink = nullptr;
std::mutex g_memoryLogLock;
constexpr i32 kMemoryLogLevels[] = { 4, 3, 2, 1 };

void detachMemoryLog(Logger* logger)
{
    std::lock_guard<std::mutex> lock(g_memoryLogLock);
    if (logger && g_memoryLogSink)
        for (i32 level : kMemoryLogLevels)
            logger->buffer().removeSink(g_memoryLogSink, level);
    g_memoryLog = nullptr;
    g_memoryLogBase = nullptr;
    g_memoryLogSink = nullptr;
}

void onMemoryLogEvent(std::ios_base::event event, std::ios_base& stream, int)
{
    if (event != std::ios_base::erase_event || &stream != g_memoryLogBase)
        return;
    detachMemoryLog(g_logger.load(std::memory_order_acquire));
}

ThreadStreamOwner::~ThreadStreamOwner()
{
    if (stream) {
        stream->flush();
        delete stream;
        stream = nullptr;
    }
    t_ownerGone = true;
}

LogStream& threadStream()
{
    if (!t_ownerGone) {
        if (!t_owner.stream)
            t_owner.stream = new LogStream;
        return *t_owner.stream;
    }
    if (!t_lateStream) {
        t_lateStream = new LogStream;
        std::lock_guard<std::mutex> lock(g_lateStreamsLock);
        if (!g_lateStreams)
            g_lateStreams = new std::vector<LogStream*>;
        g_lateStreams->push_back(t_lateStream);
    }
    return *t_lateStream;
}

void applyVerbosity(Logger& logger)
{
    if (g_verbosity.load() == 3)
        return;
    if (std::streambuf* out = std::cout.rdbuf())
        logger.buffer().addSink(out, 3);
    if (std::streambuf* err = std::cerr.rdbuf()) {
        logger.buffer().addSink(err, 2);
        logger.buffer().addSink(err, 1);
    }
    g_verbosity.store(3);
}

Logger* createLogger()
{
    auto* logger = new Logger;
    applyVerbosity(*logger);
    g_logger.store(logger, std::memory_order_release);
    std::atexit(&destroyLogger);
    return logger;
}

void writeLineNumber(std::ostream& stream, i32 line)
{
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, line);
    stream.write(digits, result.ptr - digits);
}

void writePrefixTo(std::ostream& stream, i32 level, const char* file, i32 line)
{
    const std::string_view base = sourceBaseName(file);
    stream.put('[');
    stream.write(base.data(), static_cast<std::streamsize>(base.size()));
    if (level == 1 || level == 2) {
        stream.put(':');
        writeLineNumber(stream, line);
        stream << (level == 1 ? ":error" : ":warning");
    }
    stream << "] ";
}

std::ostream& defunctStream(i32 level, const char* file, i32 line)
{
    std::cerr << "<logger defunct> ";
    if (file && line != 0)
        writePrefixTo(std::cerr, level, file, line);
    return std::cerr;
}

} // namespace

ThreadLogBuffer::ThreadLogBuffer()
    : LineBuffer(m_area, kAreaSize)
{
}

ThreadLogBuffer::~ThreadLogBuffer() { sync(); }

void ThreadLogBuffer::beginLine(i32 level)
{
    if (pptr() != pbase() || !m_pending.empty())
        sync();
    m_level = level;
}

void ThreadLogBuffer::writeLine(const char* text, std::size_t length)
{
    m_pending.append(text, length);
    m_pieceLengths.push_back(length);
    if (m_pending.size() >= kMaxPendingLine)
        deliver();
}

int ThreadLogBuffer::sync()
{
    LineBuffer::sync();
    deliver();
    return 0;
}

void ThreadLogBuffer::deliver()
{
    if (m_pieceLengths.empty())
        return;
    if (Logger* logger = g_logger.load(std::memory_order_acquire)) {
        logger->buffer().writePieces(m_level, m_pending.data(), m_pieceLengths.data(), m_pieceLengths.size());
    } else {
        std::fwrite(m_pending.data(), 1, m_pending.size(), stderr);
        std::fflush(stderr);
    }
    m_pending.clear();
    m_pieceLengths.clear();
}

LogStream::LogStream()
    : std::ostream(nullptr)
{
    rdbuf(&m_buffer);
}

void LogStream::writePrefix(i32 level, const char* file, i32 line) { writePrefixTo(*this, level, file, line); }

std::string_view sourceBaseName(const char* file)
{
    if (!file)
        return {};
    const char* base = file;
    for (const char* p = file; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    const char* dot = std::strrchr(base, '.');
    const std::size_t length = dot ? static_cast<std::size_t>(dot - base) : std::strlen(base);
    return { base, length };
}

Logger* getLogger()
{
    if (g_defunct.load(std::memory_order_acquire))
        return nullptr;
    static Logger* const created = createLogger();
    (void)created;
    return g_logger.load(std::memory_order_acquire);
}

bool isLoggerDefunct() { return g_defunct.load(std::memory_order_acquire); }

void destroyLogger()
{
    if (!t_ownerGone && t_owner.stream)
        t_owner.stream->flush();
    if (g_defunct.exchange(true))
        return;
    Logger* logger = g_logger.exchange(nullptr);
    if (!logger)
        return;
    detachMemoryLog(logger);
    for (i32 level = 0; level < LogBuffer::kLevelCount; ++level) {
        logger->buffer().removeSink(std::cout.rdbuf(), level);
        logger->buffer().removeSink(std::cerr.rdbuf(), level);
    }
    std::cout.flush();
    std::cerr.flush();
    g_retiredLogger.store(logger);
}

void Logger::attachStream(std::ostringstream& memoryLog)
{
    Logger* logger = getLogger();
    if (!logger)
        return;
    std::streambuf* sink = memoryLog.rdbuf();
    if (logger->buffer().hasSink(sink))
        return;
    std::lock_guard<std::mutex> lock(g_memoryLogLock);
    if (g_memoryLogBase != &memoryLog)
        memoryLog.register_callback(&onMemoryLogEvent, 0);
    g_memoryLog = &memoryLog;
    g_memoryLogBase = &memoryLog;
    g_memoryLogSink = sink;
    for (i32 level : kMemoryLogLevels)
        logger->buffer().addSink(sink, level);
}

void Logger::detachStream() { detachMemoryLog(g_logger.load(std::memory_order_acquire)); }

std::ostringstream* Logger::memoryLog()
{
    std::lock_guard<std::mutex> lock(g_memoryLogLock);
    return g_memoryLog;
}

void setVerbosity()
{
    if (Logger* logger = getLogger())
        applyVerbosity(*logger);
}

i32 getVerbosity() { return g_verbosity.load(); }

void setConsoleColor(i32 level)
{
    // Which colour the terminal shows now: 0 its own, 1 red, 2 yellow.
    static std::atomic<i32> current { 0 };
    static const bool terminal = platform::isTerminal(platform::StandardStream::Output);
    if (!terminal)
        return;
    const i32 wanted = (level == 1 || level == 2) ? level : 0;
    if (current.exchange(wanted) == wanted)
        return;
    static const char* const kEscapes[] = { "\x1b[0m", "\x1b[91m", "\x1b[93m" };
    std::fputs(kEscapes[wanted], stdout);
    std::fflush(stdout);
}

std::ostream& log(i32 level, const char* file, i32 line)
{
    Logger* logger = getLogger();
    if (!logger)
        return defunctStream(level, file, line);
    LogStream& stream = threadStream();
    stream.clear();
    stream.buffer().beginLine(level);
    setConsoleColor(level);
    if (file && line != 0 && logger->buffer().isEnabled())
        stream.writePrefix(level, file, line);
    return stream;
}

} // namespace quern::debug
