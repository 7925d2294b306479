#include "quern/debug/Logger.h"
#include "support/FileContents.h"

#include "RecordingSink.h"
#include "quern/platform/SystemInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using quern::debug::getLogger;
using quern::debug::log;
using quern::debug::LogBuffer;
using quern::debug::Logger;
using quern::testing::RecordingSink;

LogBuffer& logBuffer() { return getLogger()->buffer(); }

// Registers a sink at some levels for the length of a test.
class AttachedSink {
public:
    AttachedSink(std::streambuf& sink, std::vector<int> levels)
        : m_sink(sink)
        , m_levels(std::move(levels))
    {
        for (int level : m_levels)
            EXPECT_TRUE(logBuffer().addSink(&m_sink, level));
    }
    ~AttachedSink()
    {
        for (int level : m_levels)
            logBuffer().removeSink(&m_sink, level);
    }

private:
    std::streambuf& m_sink;
    std::vector<int> m_levels;
};

// Takes the console sinks away while a test floods the log.
class QuietConsole {
public:
    QuietConsole()
    {
        logBuffer().removeSink(std::cout.rdbuf(), 3);
        logBuffer().removeSink(std::cerr.rdbuf(), 2);
        logBuffer().removeSink(std::cerr.rdbuf(), 1);
    }
    ~QuietConsole()
    {
        logBuffer().addSink(std::cout.rdbuf(), 3);
        logBuffer().addSink(std::cerr.rdbuf(), 2);
        logBuffer().addSink(std::cerr.rdbuf(), 1);
    }
};

std::filesystem::path makeTemporaryDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quern-logger-XXXXXX").string();
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    return pattern;
}

using quern::testing::readFile;

TEST(Logger, LinePrefixNamesTheSourceFileAndMarksErrorsAndWarnings)
{
    struct Case {
        int level;
        const char* file;
        int line;
        const char* expected;
    };
    const Case cases[] = {
        { 1, "source/runtime/quern/debug/Logger.cpp", 294, "[Logger:294:error] text\n" },
        { 2, "source/runtime/quern/debug/Logger.cpp", 12, "[Logger:12:warning] text\n" },
        { 3, "source/runtime/quern/debug/Logger.cpp", 294, "[Logger] text\n" },
        { 4, "C:\\work\\engine\\Widget.h", 7, "[Widget] text\n" },
        { 0, "mixed\\dir/name.inl", 3, "[name] text\n" },
        { 5, "noextension", 9, "[noextension] text\n" },
        { 3, "dir.v2/file", 1, "[file] text\n" },
        { 3, "archive.tar.gz", 1, "[archive.tar] text\n" },
        { 3, nullptr, 5, "text\n" },
        { 1, "Logger.cpp", 0, "text\n" },
    };
    RecordingSink sink;
    AttachedSink attached(sink, { 0, 1, 2, 3 });
    RecordingSink detailSink;
    AttachedSink attachedDetail(detailSink, { 4, 5 });
    QuietConsole quiet;
    for (const Case& c : cases) {
        RecordingSink& target = c.level >= 4 ? detailSink : sink;
        const std::string before = target.text();
        log(c.level, c.file, c.line) << "text" << std::endl;
        EXPECT_EQ(target.text().substr(before.size()), c.expected) << "file " << (c.file ? c.file : "(null)");
    }
}

TEST(Logger, EachLevelReachesOnlyItsOwnSinks)
{
    RecordingSink errors, information, detail;
    AttachedSink a(errors, { 1 });
    AttachedSink b(information, { 3 });
    AttachedSink c(detail, { 4 });
    QuietConsole quiet;
    log(1, nullptr, 0) << "e" << std::endl;
    log(3, nullptr, 0) << "i" << std::endl;
    log(4, nullptr, 0) << "d" << std::endl;
    log(5, nullptr, 0) << "dropped" << std::endl;
    EXPECT_EQ(errors.text(), "e\n");
    EXPECT_EQ(information.text(), "i\n");
    EXPECT_EQ(detail.text(), "d\n");
}

TEST(Logger, LevelsOutsideTheTableReachNoSink)
{
    RecordingSink sink;
    AttachedSink attached(sink, { 0, 1, 2, 3 });
    QuietConsole quiet;
    log(-1, "a.cpp", 1) << "negative" << std::endl;
    log(6, "a.cpp", 1) << "too high" << std::endl;
    log(1000, "a.cpp", 1) << "far too high" << std::endl;
    EXPECT_EQ(sink.text(), "");
    EXPECT_FALSE(logBuffer().addSink(&sink, 6));
    EXPECT_FALSE(logBuffer().addSink(&sink, -1));
}

TEST(Logger, LongMessageArrivesInOrderedPiecesOfAtMostTheLineBufferSize)
{
    RecordingSink sink;
    AttachedSink attached(sink, { 3 });
    QuietConsole quiet;
    std::string message;
    for (int i = 0; i < 300; ++i)
        message += static_cast<char>('a' + i % 26);
    log(3, "Long.cpp", 1) << message << std::endl;
    EXPECT_EQ(sink.text(), "[Long] " + message + "\n");
    const auto pieces = sink.pieces();
    ASSERT_GE(pieces.size(), 3u);
    for (const std::string& piece : pieces)
        EXPECT_LE(piece.size(), quern::debug::ThreadLogBuffer::kAreaSize);
}

TEST(Logger, UnfinishedLineGoesOutAtItsOwnLevelWhenTheNextLineStarts)
{
    RecordingSink errors, information;
    AttachedSink a(errors, { 1 });
    AttachedSink b(information, { 3 });
    QuietConsole quiet;
    log(1, "Half.cpp", 4) << "no line end";
    log(3, "Half.cpp", 5) << "next" << std::endl;
    EXPECT_EQ(errors.text(), "[Half:4:error] no line end");
    EXPECT_EQ(information.text(), "[Half] next\n");
}

TEST(Logger, LevelHoldsAtMostFourSinks)
{
    RecordingSink sinks[5];
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(logBuffer().addSink(&sinks[i], 5));
    EXPECT_FALSE(logBuffer().addSink(&sinks[4], 5));
    EXPECT_EQ(logBuffer().sinkCount(5), 4u);
    EXPECT_FALSE(logBuffer().hasSink(&sinks[4]));
    for (auto& sink : sinks)
        logBuffer().removeSink(&sink, 5);
    EXPECT_EQ(logBuffer().sinkCount(5), 0u);
}

TEST(Logger, RemovingASinkDropsEveryOccurrenceAndKeepsTheOthersInOrder)
{
    // Each sink appends its own name, so the shared text shows the write order.
    struct NamedSink : std::streambuf {
        NamedSink(std::string& out, char name)
            : out(out)
            , name(name)
        {
        }
        std::streamsize xsputn(const char*, std::streamsize count) override
        {
            out += name;
            return count;
        }
        std::string& out;
        char name;
    };
    std::string order;
    NamedSink a(order, 'A'), b(order, 'B'), c(order, 'C');
    for (NamedSink* sink : { &a, &b, &a, &c })
        ASSERT_TRUE(logBuffer().addSink(sink, 0));
    logBuffer().removeSink(&a, 0);
    EXPECT_EQ(logBuffer().sinkCount(0), 2u);
    log(0, nullptr, 0) << "x" << std::endl;
    EXPECT_EQ(order, "BC");
    EXPECT_FALSE(logBuffer().hasSink(&a));
    logBuffer().removeSink(&b, 0);
    logBuffer().removeSink(&c, 0);
}

TEST(Logger, ConsoleSinksFollowVerbosityThree)
{
    getLogger();
    EXPECT_EQ(quern::debug::getVerbosity(), 3);
    const quern::u32 before = logBuffer().sinkCount(3);
    quern::debug::setVerbosity();
    EXPECT_EQ(logBuffer().sinkCount(3), before);
    EXPECT_TRUE(logBuffer().hasSink(std::cout.rdbuf()));
    EXPECT_TRUE(logBuffer().hasSink(std::cerr.rdbuf()));

    ::testing::internal::CaptureStdout();
    log(3, "Console.cpp", 1) << "shown" << std::endl;
    log(4, "Console.cpp", 2) << "detail only" << std::endl;
    const std::string shown = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(shown, "[Console] shown\n"); // not a terminal: no colour escapes either

    ::testing::internal::CaptureStderr();
    log(2, "Console.cpp", 3) << "careful" << std::endl;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[Console:3:warning] careful\n");
}

TEST(Logger, ConcurrentLinesArriveWholeWithTheirOwnPrefixAndLevel)
{
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    RecordingSink all, informationOnly;
    AttachedSink a(all, { 1, 2, 3 });
    AttachedSink b(informationOnly, { 3 });
    QuietConsole quiet;

    static const char* const kFiles[kThreads]
        = { "w0.cpp", "w1.cpp", "w2.cpp", "w3.cpp", "w4.cpp", "w5.cpp", "w6.cpp", "w7.cpp" };
    auto levelOf = [](int thread) { return thread % 3 + 1; };
    auto expectedLine = [&](int thread, int n) {
        const int level = levelOf(thread);
        std::string prefix = "[w" + std::to_string(thread);
        if (level == 1)
            prefix += ":" + std::to_string(100 + thread) + ":error";
        else if (level == 2)
            prefix += ":" + std::to_string(100 + thread) + ":warning";
        prefix += "] ";
        // Lengths from a few bytes to well past the line buffer.
        return prefix + "t=" + std::to_string(thread) + " n=" + std::to_string(n) + " "
            + std::string(static_cast<std::size_t>(n % 260), static_cast<char>('a' + thread));
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int n = 0; n < kLines; ++n)
                log(levelOf(t), kFiles[t], 100 + t)
                    << "t=" << t << " n=" << n << " " << std::string(static_cast<std::size_t>(n % 260), 'a' + t)
                    << std::endl;
        });
    for (auto& thread : threads)
        thread.join();

    std::map<std::string, int> seen;
    std::istringstream lines(all.text());
    for (std::string line; std::getline(lines, line);)
        ++seen[line];
    int informationLines = 0;
    for (int t = 0; t < kThreads; ++t)
        for (int n = 0; n < kLines; ++n) {
            EXPECT_EQ(seen[expectedLine(t, n)], 1) << "thread " << t << " line " << n;
            informationLines += levelOf(t) == 3 ? 1 : 0;
        }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));

    std::istringstream information(informationOnly.text());
    int count = 0;
    for (std::string line; std::getline(information, line); ++count)
        EXPECT_EQ(line.rfind("[w", 0), 0u) << line;
    EXPECT_EQ(count, informationLines);
}

TEST(Logger, InMemoryLogTakesLevelsOneToFourAndDetachesWhenDestroyed)
{
    std::streambuf* memorySink = nullptr;
    {
        std::ostringstream memory;
        memorySink = memory.rdbuf();
        Logger::attachStream(memory);
        Logger::attachStream(memory); // a second attach adds nothing
        EXPECT_TRUE(logBuffer().hasSink(memorySink));
        EXPECT_EQ(logBuffer().sinkCount(4), 1u);
        EXPECT_EQ(Logger::memoryLog(), &memory);
        QuietConsole quiet;
        log(4, "Mem.cpp", 1) << "four" << std::endl;
        log(5, "Mem.cpp", 1) << "five" << std::endl;
        log(1, "Mem.cpp", 2) << "one" << std::endl;
        EXPECT_EQ(memory.str(), "[Mem] four\n[Mem:2:error] one\n");
    }
    EXPECT_FALSE(logBuffer().hasSink(memorySink));
    EXPECT_EQ(Logger::memoryLog(), nullptr);
    QuietConsole quiet;
    log(3, "Mem.cpp", 3) << "after the in-memory log is gone" << std::endl;
}

TEST(Logger, SaveLogFileWritesTheInMemoryLogSynchronouslyAndReplacesTheOldFile)
{
    const auto directory = makeTemporaryDirectory();
    const auto target = directory / "harmonizelog.txt";
    std::ofstream(target) << "old run\n";

    std::ostringstream memory;
    Logger::attachStream(memory);
    {
        QuietConsole quiet;
        log(1, "Save.cpp", 7) << "first" << std::endl;
        log(3, "Save.cpp", 8) << "second" << std::endl;
    }
    ASSERT_TRUE(quern::debug::saveLogFile(directory.c_str()));
    EXPECT_EQ(readFile(target), "[Save:7:error] first\n[Save] second\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory), {}), 1); // no temporary left

    EXPECT_FALSE(quern::debug::saveLogFile((directory / "missing").c_str()));
    Logger::detachStream();
    EXPECT_FALSE(quern::debug::saveLogFile(directory.c_str()));
    EXPECT_EQ(readFile(target), "[Save:7:error] first\n[Save] second\n");
    std::filesystem::remove_all(directory);
}

TEST(Logger, StartupBannerLogsOneLinePerFact)
{
    RecordingSink sink;
    AttachedSink attached(sink, { 3 });
    QuietConsole quiet;
    quern::platform::OSInfo os;
    os.version = "Linux 6.1.0";
    os.architecture = "x64";
    os.availablePhysicalMemory = 1536ull << 20;
    os.totalPhysicalMemory = 4096ull << 20;
    quern::debug::logStartupBanner("Test CPU @ 3.00GHz", os);
    os.availablePhysicalMemory = 0;
    quern::debug::logStartupBanner("Second", os);

    std::vector<std::string> lines;
    std::istringstream text(sink.text());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line.substr(line.find("] ") + 2));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0].rfind("Log timestamp: ", 0), 0u);
    EXPECT_GT(lines[0].size(), std::string("Log timestamp: ").size());
    EXPECT_EQ(lines[1].rfind("Compiler: ", 0), 0u);
    EXPECT_EQ(lines[2], "Build configuration: retail static x64");
    EXPECT_EQ(lines[3], "OS: Linux 6.1.0 x64");
    EXPECT_EQ(lines[4], "Memory: 1536MB free, 4096MB total");
    EXPECT_EQ(lines[5], "CPU: Test CPU @ 3.00GHz");
    EXPECT_EQ(lines[9], "OS: Linux 6.1.0 x64");
    EXPECT_EQ(lines[10], "CPU: Second"); // no memory line without both figures
}

TEST(DebuggerLogSink, SendsWholeTextToStandardErrorOnFlush)
{
    const std::string longText(600, 'q');
    ::testing::internal::CaptureStderr();
    std::ostream debugger(&quern::debug::DebuggerLogSink::instance());
    debugger << "hello " << 42 << std::flush;
    debugger << longText << std::endl;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "hello 42" + longText + "\n");
}

void logAfterExit() { QUERN_LOG(1) << "after exit" << std::endl; }

TEST(LoggerDeathTest, LoggingAfterExitTimeDestructionIsMarkedDefunct)
{
    EXPECT_EXIT(
        {
            std::atexit(&logAfterExit); // runs after the logger's own exit-time destruction
            QUERN_LOG(3) << "alive" << std::endl;
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "<logger defunct> \\[LoggerTest:[0-9]+:error\\] after exit");
}

TEST(LoggerDeathTest, DestroyedLoggerSendsLinesToStandardError)
{
    EXPECT_EXIT(
        {
            quern::debug::getLogger();
            quern::debug::destroyLogger();
            if (quern::debug::isLoggerDefunct() && !quern::debug::getLogger())
                QUERN_LOG(3) << "late line" << std::endl;
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "<logger defunct> \\[LoggerTest\\] late line");
}

} // namespace
