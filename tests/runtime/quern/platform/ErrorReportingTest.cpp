#include "quern/platform/ErrorReporting.h"

#include "quern/platform/MessageBox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

int g_hookCalls = 0;

void countingHook(const char* message, const char*, quern::u32)
{
    ++g_hookCalls;
    fprintf(stderr, "hook %d: %s\n", g_hookCalls, message);
    // A fatal error raised from inside the hook must abort without re-entering it.
    quern::debug::fatalError("nested", __FILE__, __LINE__);
}

TEST(ErrorReporting, FatalRaisedInsideHookAbortsWithoutSecondCall)
{
    EXPECT_DEATH(
        {
            quern::debug::setFatalErrorCallback(&countingHook);
            QUERN_FATAL("outer");
        },
        "hook 1: outer");
}

TEST(ErrorReporting, DefaultHandlerPrintsPathAfterEngineWordLineAndMessage)
{
    EXPECT_DEATH(
        quern::debug::fatalError("broken", "source/runtime/quern/io/File.cpp", 42), "io/File.cpp \\(42\\): broken");
}

} // namespace

namespace {

using quern::debug::fatalError;

void returningHook(const char* message, const char*, quern::u32)
{
    fprintf(stderr, "returning hook saw: %s\n", message);
}

TEST(ErrorReporting, HookThatReturnsStillEndsInAbort)
{
    EXPECT_DEATH(
        {
            quern::debug::setFatalErrorCallback(&returningHook);
            QUERN_FATAL("keep going?");
        },
        "returning hook saw: keep going\\?");
}

TEST(ErrorReporting, DefaultHandlerPrintsTheWholeOfALongMessage)
{
    const std::string message = "start-" + std::string(600, 'm') + "-end";
    EXPECT_DEATH(
        fatalError(message.c_str(), "source/runtime/quern/io/File.cpp", 7), "io/File.cpp \\(7\\): start-m+-end");
}

TEST(ErrorReporting, DefaultHandlerFollowsTheMessageWithTheCallStack)
{
    // The stack goes to standard output; the death test sees standard error, so
    // a child checks that something was printed there after the message.
    EXPECT_EXIT(
        {
            ::testing::internal::CaptureStdout();
            quern::platform::defaultFatalErrorHandler("with stack", "quern/x.cpp", 1);
            const std::string stack = ::testing::internal::GetCapturedStdout();
            fprintf(stderr, "stack lines: %s\n", stack.empty() ? "none" : "some");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "x.cpp \\(1\\): with stack\n(.|\n)*stack lines: some");
}

TEST(ErrorReporting, ShortPathStartsAfterTheEngineFolderWhereverItIs)
{
    struct Case {
        const char* file;
        const char* expected;
    };
    const Case cases[] = {
        { "source/runtime/quern/io/File.cpp", "^io/File.cpp \\(3\\): m\n" },
        { "C:\\build\\quern\\debug\\Log.cpp", "^debug\\\\Log.cpp \\(3\\): m\n" },
        { "quernish/quern/a.cpp", "^a.cpp \\(3\\): m\n" },
        { "elsewhere/b.cpp", "^elsewhere/b.cpp \\(3\\): m\n" },
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStderr();
        quern::platform::printWarning("m", c.file, 3);
        EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::ContainsRegex(c.expected)) << c.file;
    }
}

TEST(ErrorReporting, SoftAssertWithoutHookDoesNothingAndHookIsNotReentered)
{
    quern::debug::softAssert("ignored", "x", "f.cpp", 1);
    static int calls = 0;
    quern::debug::setSoftAssertCallback([](const char*, const char*, const char*, quern::u32) {
        ++calls;
        quern::debug::softAssert("inner", "y", "f.cpp", 2);
        return false;
    });
    quern::debug::softAssert("outer", "x", "f.cpp", 1);
    quern::debug::setSoftAssertCallback(nullptr);
    EXPECT_EQ(calls, 1);
}

TEST(ErrorReporting, ErrorMessageWithoutDialogsGoesToStandardError)
{
    quern::platform::setNoDialogs(true);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(quern::platform::showErrorMessage("Disk on fire"));
    quern::platform::announceSimulatedErrors();
    const std::string text = ::testing::internal::GetCapturedStderr();
    quern::platform::setNoDialogs(false);
    EXPECT_THAT(text, ::testing::ContainsRegex("ErrorReporting.cpp \\([0-9]+\\): Disk on fire\n"));
    EXPECT_THAT(text, ::testing::HasSubstr("About to simulate errors, you can attach a debugger now if you like."));
}

TEST(ErrorReporting, ErrorMessageWithDialogsUsesTheMessageBoxCaption)
{
    static std::string seen;
    auto previous = quern::platform::setMessageBoxPresenter([](const char* text, const char* caption, quern::u32) {
        seen = std::string(caption) + "|" + text;
        return quern::platform::MessageBoxButton::Ok;
    });
    EXPECT_FALSE(quern::platform::showErrorMessage("Disk on fire"));
    EXPECT_EQ(seen, "There is something we have to tell you...|Disk on fire");
    quern::platform::announceSimulatedErrors();
    EXPECT_EQ(seen, "This might be a problem...|About to simulate errors, you can attach a debugger now if you like.");
    quern::platform::setMessageBoxPresenter(previous);
}

TEST(ErrorReporting, InvalidParameterCallsTheHookWithPlaceholdersThenTraps)
{
    EXPECT_EXIT(quern::platform::invalidParameterHandler(nullptr, "f", nullptr, 12), ::testing::KilledBySignal(SIGTRAP),
        "Undefined file \\(12\\): Undefined expression");
}

TEST(ErrorReporting, TerminateReachesThePureCallHandler)
{
    EXPECT_EXIT(
        {
            quern::platform::installRuntimeErrorHandlers();
            std::terminate();
        },
        ::testing::KilledBySignal(SIGTRAP), "");
}

} // namespace
