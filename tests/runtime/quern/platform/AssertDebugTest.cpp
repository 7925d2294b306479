#include "quern/platform/AssertDebug.h"

#include "quern/debug/Logger.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/MessageBox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

namespace {

using quern::debug::AssertionRecord;
using quern::platform::MessageBoxButton;

AssertionRecord makeRecord(const char* file, int line, int level, std::string message = "")
{
    AssertionRecord record;
    record.file = file;
    record.line = line;
    record.level = level;
    record.expression = "count < limit";
    record.message = std::move(message);
    return record;
}

// The answer the next assertion dialog gives, and how often one was shown.
MessageBoxButton g_answer = MessageBoxButton::None;
int g_dialogs = 0;
std::string g_dialogText;
MessageBoxButton scriptedDialog(const char* text, const char* caption, quern::u32)
{
    ++g_dialogs;
    g_dialogText = std::string(caption) + "|" + text;
    return g_answer;
}

class AssertionDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_previous = quern::platform::setMessageBoxPresenter(&scriptedDialog);
        g_answer = MessageBoxButton::None;
        g_dialogs = 0;
    }
    void TearDown() override { quern::platform::setMessageBoxPresenter(m_previous); }

private:
    quern::platform::MessageBoxPresenter m_previous = nullptr;
};

TEST(AssertDebug, LevelTexts)
{
    const std::pair<int, const char*> cases[] = {
        { 100, "Warning" },
        { 200, "Assertion failed" },
        { 300, "Assertion failed (Error)" },
        { 1000, "Assertion failed (FATAL)" },
        { 250, "Assertion failed (level=250)" },
        { -5, "Assertion failed (level=-5)" },
    };
    for (const auto& [level, text] : cases)
        EXPECT_EQ(quern::debug::assertionLevelText(level), text);
}

TEST(AssertDebug, RecordPrintsMessageOrExpressionThenItsValues)
{
    AssertionRecord record = makeRecord("game/Player.cpp", 42, 200);
    record.values = { { "3", "count" }, { "2", "limit" } };
    std::ostringstream withValues;
    quern::debug::printAssertionRecord(record, withValues);
    EXPECT_EQ(withValues.str(),
        "\ngame/Player.cpp(42) : Assertion failed - Expression: count < limit\n"
        "Values: count='3'\n"
        "        limit='2'\n");

    record.values.clear();
    record.message = "too many";
    record.level = 100;
    std::ostringstream withMessage;
    quern::debug::printAssertionRecord(record, withMessage);
    EXPECT_EQ(withMessage.str(), "\ngame/Player.cpp(42) : Warning - too many\n");
}

TEST(AssertDebug, DefaultHandlersAreRegisteredForTheFourLevels)
{
    const auto& handlers = quern::platform::assertionHandlers();
    EXPECT_EQ(handlers.at(100), &quern::platform::warningAssertionHandler);
    EXPECT_EQ(handlers.at(200), &quern::platform::errorAssertionHandler);
    EXPECT_EQ(handlers.at(300), &quern::platform::debugAssertionHandler);
    EXPECT_EQ(handlers.at(1000), &quern::platform::fatalAssertionHandler);
}

TEST(AssertDebug, WarningLevelLogsAsWarningAndContinues)
{
    std::ostringstream memory;
    quern::debug::Logger::attachStream(memory);
    QUERN_ASSERT(100, 1 + 1 == 3, "arithmetic is off");
    quern::debug::Logger::detachStream();
    EXPECT_THAT(memory.str(), ::testing::HasSubstr("AssertDebugTest.cpp("));
    EXPECT_THAT(memory.str(), ::testing::HasSubstr(") : Warning - arithmetic is off\n"));
}

TEST(AssertDebug, LevelWithoutHandlerIsLoggedAsAnError)
{
    std::ostringstream memory;
    quern::debug::Logger::attachStream(memory);
    quern::debug::raiseAssertion(makeRecord("a.cpp", 1, 250, "odd level"));
    quern::debug::Logger::detachStream();
    EXPECT_EQ(memory.str(), "\na.cpp(1) : Assertion failed (level=250) - odd level\n");
}

TEST_F(AssertionDialog, IgnoreSilencesThatLocationOnly)
{
    static const char* const kFile = "ignore.cpp";
    g_answer = MessageBoxButton::Ignore;
    quern::debug::raiseAssertion(makeRecord(kFile, 10, 200));
    EXPECT_EQ(g_dialogs, 1);
    EXPECT_THAT(g_dialogText, ::testing::StartsWith("Assertion failed!|\nignore.cpp(10) : Assertion failed"));
    EXPECT_THAT(g_dialogText, ::testing::EndsWith("\n\nPress 'Retry' to debug."));

    g_answer = MessageBoxButton::None;
    quern::debug::raiseAssertion(makeRecord(kFile, 10, 200));
    EXPECT_EQ(g_dialogs, 1);
    quern::debug::raiseAssertion(makeRecord(kFile, 11, 200));
    EXPECT_EQ(g_dialogs, 2);
}

TEST_F(AssertionDialog, UnansweredDialogAsksAgainNextTime)
{
    quern::debug::raiseAssertion(makeRecord("again.cpp", 5, 200));
    quern::debug::raiseAssertion(makeRecord("again.cpp", 5, 200));
    EXPECT_EQ(g_dialogs, 2);
}

TEST_F(AssertionDialog, AbortEndsInTheFatalPath)
{
    g_answer = MessageBoxButton::Abort;
    EXPECT_DEATH(quern::debug::raiseAssertion(makeRecord("abort.cpp", 5, 200)), "\\): Abort requested");
}

TEST_F(AssertionDialog, RetryBreaksIntoTheDebugger)
{
    g_answer = MessageBoxButton::Retry;
    EXPECT_EXIT(quern::debug::raiseAssertion(makeRecord("retry.cpp", 5, 200)), ::testing::KilledBySignal(SIGTRAP), "");
}

TEST_F(AssertionDialog, WithoutDialogsTheRecordIsPrintedAndNoBoxIsShown)
{
    EXPECT_EXIT(
        {
            quern::platform::setNoDialogs(true);
            quern::debug::raiseAssertion(makeRecord("quiet.cpp", 8, 200, "no boxes here"));
            if (g_dialogs != 0)
                std::exit(3);
        },
        ::testing::KilledBySignal(SIGTRAP), "quiet.cpp\\(8\\) : Assertion failed - no boxes here");
}

TEST(AssertDebugDeathTest, ErrorLevelGoesThroughTheFatalHookWithTheRecord)
{
    AssertionRecord record = makeRecord("hook.cpp", 77, 300);
    record.values = { { "9", "index" } };
    EXPECT_DEATH(quern::debug::raiseAssertion(record),
        "hook.cpp\\(77\\) : Assertion failed \\(Error\\) - Expression: count < limit\nValues: index='9'");
}

TEST(AssertDebugDeathTest, ErrorLevelCutsTheRecordTo511Characters)
{
    EXPECT_DEATH(
        {
            quern::debug::setFatalErrorCallback([](const char* message, const char*, quern::u32) {
                fprintf(stderr, "length %zu\n", std::strlen(message));
            });
            quern::debug::raiseAssertion(makeRecord("long.cpp", 1, 300, std::string(2000, 'x')));
        },
        "length 511\n");
}

TEST(AssertDebugDeathTest, FatalLevelLogsAnErrorAndAbortsWithoutTheHook)
{
    EXPECT_DEATH(
        {
            quern::debug::setFatalErrorCallback(
                [](const char*, const char*, quern::u32) { fprintf(stderr, "hook called\n"); });
            quern::debug::raiseAssertion(makeRecord("fatal.cpp", 3, 1000, "the end"));
        },
        "^\nfatal.cpp\\(3\\) : Assertion failed \\(FATAL\\) - the end\n$");
}

} // namespace
