#include "quern/language/Exception.h"

#include "quern/debug/Logger.h"
#include "quern/platform/ErrorReporting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

namespace exception_fixture {

// The functions of the captured part of the trace, after the site frame.
__attribute__((noinline)) std::string capturedFunctions()
{
    quern::IOException exception("Broken", "", "source/runtime/quern/io/File.cpp", 12, "quern::io::openFile");
    std::string text;
    for (quern::u64 i = 1; i < exception.stackTrace().count; ++i)
        text += std::string(exception.stackTrace().frames[i].function) + "\n";
    asm volatile("" ::: "memory");
    return text;
}

__attribute__((noinline)) void openMissing(const char* path)
{
    QUERN_RAISE(quern::FileNotFoundException, "File not found", path);
}

__attribute__((noinline)) void readFailed() { QUERN_RAISE(quern::FileReadException); }

} // namespace exception_fixture

namespace {

// Collects what the logger writes at one level while the test runs.
class LogCapture {
public:
    explicit LogCapture(quern::i32 level) : m_level(level) { quern::debug::getLogger()->buffer().addSink(&m_sink, level); }
    ~LogCapture() { quern::debug::getLogger()->buffer().removeSink(&m_sink, m_level); }
    std::string text()
    {
        std::string copy;
        quern::debug::getLogger()->buffer().withSinksLocked([&] { copy = m_sink.str(); });
        return copy;
    }

private:
    quern::i32 m_level;
    std::stringbuf m_sink;
};

const char kFile[] = "source/runtime/quern/io/File.cpp";
const char kFunction[] = "quern::io::openFile";

TEST(Exception, DescriptionsBySubclass)
{
    struct Case {
        std::string text;
        const char* expected;
    };
    using namespace quern;
    const Case cases[] = {
        {IOException("Error reading from file", "a.bin", kFile, 1, kFunction).what(),
         "Error reading from file (in 'a.bin')"},
        {IOException("Error reading from file", "", kFile, 1, kFunction).what(), "Error reading from file"},
        {FileNotFoundException("File not found", "a.bin", kFile, 1, kFunction).what(), "File not found ('a.bin')"},
        {FileNotFoundException("File not found", nullptr, kFile, 1, kFunction).what(), "File not found"},
        {FileReadException(kFile, 1, kFunction).what(), "Error reading from file"},
        {FileReadException("", 40, kFile, 1, kFunction).what(), "Error reading from file"},
        {FileReadException("a.bin", kFile, 1, kFunction).what(), "Error reading from file (in 'a.bin')"},
        {FileReadException("a.bin", 18446744073709551615ull, kFile, 1, kFunction).what(),
         "Error reading from file (in 'a.bin', at offset 18446744073709551615)"},
        {ParseException("Bad token", "level.txt", 0, kFile, 1, kFunction).what(), "Bad token (in 'level.txt')"},
        {ParseException("Bad token", "level.txt", 7, kFile, 1, kFunction).what(),
         "Bad token (in 'level.txt', line 7)"},
        {ParseException("Bad token", "", 12, kFile, 1, kFunction).what(), "Bad token (line 12)"},
        {ParseException("Bad token", "", -3, kFile, 1, kFunction).what(), "Bad token"},
        {Exception("Device lost", kFile, 1, kFunction).what(), "Device lost"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, c.expected);
}

TEST(Exception, StackStartsWithTheSiteThenTheConstructingFunction)
{
    quern::IOException exception("Broken", "", kFile, 12, kFunction);
    const quern::debug::StackFrame& site = exception.stackTrace().frames[0];
    EXPECT_EQ(site.address, 0u);
    EXPECT_STREQ(site.function, kFunction);
    EXPECT_STREQ(site.file, kFile);
    EXPECT_EQ(site.line, 12);
    // Then the constructors and the function that built the exception.
    EXPECT_TRUE(exception_fixture::capturedFunctions().starts_with(
        "quern::Exception::Exception\nquern::IOException::IOException\nexception_fixture::capturedFunctions\n"))
        << exception_fixture::capturedFunctions();
}

TEST(Exception, LogsTheMessageAndSiteAtDetailLevel)
{
    LogCapture log(4);
    {
        quern::FileReadException exception("a.bin", kFile, 12, kFunction);
    }
    {
        quern::Exception exception("Without site");
        EXPECT_GE(exception.stackTrace().count, 1u);
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("Exception thrown: Error reading from file at quern::io::openFile "
                        "(source/runtime/quern/io/File.cpp, line 12)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Exception thrown: Without site\n"), std::string::npos) << text;
}

void printingFatalHook(const char* message, const char* file, quern::u32 line)
{
    std::fprintf(stderr, "fatal [%s] length %zu from %s:%u\n", message, std::strlen(message), file, line);
}

TEST(Exception, RaisingHandsTheDescriptionToTheFatalPath)
{
    EXPECT_DEATH(
        {
            quern::debug::setFatalErrorCallback(&printingFatalHook);
            exception_fixture::openMissing("data/missing.bin");
        },
        "fatal \\[File not found \\('data/missing.bin'\\)\\] length 35 from tests/runtime/quern/language/"
        "ExceptionTest.cpp:");
}

TEST(Exception, RaisingLogsTheQualifiedNameOfTheRaisingFunction)
{
    EXPECT_DEATH(
        {
            quern::debug::getLogger()->buffer().addSink(std::cerr.rdbuf(), 4);
            quern::debug::setFatalErrorCallback(&printingFatalHook);
            exception_fixture::readFailed();
        },
        "Exception thrown: Error reading from file at exception_fixture::readFailed "
        "\\(tests/runtime/quern/language/ExceptionTest.cpp, line [0-9]+\\)(.|\n)*fatal \\[Error reading from file\\]");
}

TEST(Exception, RaisedTextIsCutTo511Characters)
{
    const std::string longMessage(700, 'x');
    EXPECT_DEATH(
        {
            quern::debug::setFatalErrorCallback(&printingFatalHook);
            QUERN_RAISE(quern::Exception, longMessage.c_str());
        },
        "length 511 from");
}

} // namespace
