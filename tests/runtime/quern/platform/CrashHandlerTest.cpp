#include "quern/platform/CrashHandler.h"
#include "quern/platform/MessageBox.h"
#include "support/FileContents.h"
#include "support/StackOverflow.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace crash_fixture {

// Opaque to the optimiser, so the store really happens at run time. The faults
// are left to the hardware even in sanitizer builds.
int* volatile g_nowhere = nullptr;

__attribute__((noinline, no_sanitize_undefined)) void dereferenceNull()
{
    *g_nowhere = 1;
    asm volatile("" ::: "memory");
}

__attribute__((noinline, no_sanitize_undefined)) int divide(int numerator, int denominator)
{
    volatile int top = numerator;
    volatile int bottom = denominator;
    return top / bottom;
}

__attribute__((noinline)) bool dumpHere(bool interactive)
{
    const bool written = quern::platform::writeMiniDump(nullptr, interactive);
    asm volatile("" ::: "memory");
    return written;
}

} // namespace crash_fixture

namespace {

namespace fs = std::filesystem;
using namespace quern::platform;

// The same folder in the test process and its death-test child, one per test.
fs::path dumpFolder()
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    fs::path folder = fs::path(testing::TempDir()) / (std::string("quern_crash_") + info->name());
    return folder;
}

fs::path freshDumpFolder()
{
    const fs::path folder = dumpFolder();
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::vector<fs::path> dumpsIn(const fs::path& folder)
{
    std::vector<fs::path> dumps;
    for (const auto& entry : fs::directory_iterator(folder))
        dumps.push_back(entry.path());
    return dumps;
}

using quern::testing::readFile;

void installForTest(const fs::path& folder)
{
    installCrashHandler();
    setCrashHandlingEnabled(true);
    setCrashInteractive(false);
    ASSERT_TRUE(setDumpDirectory(folder.c_str()));
}

TEST(CrashHandler, NullDereferenceReportsWritesDumpAndExitsWithOne)
{
    const fs::path folder = freshDumpFolder();
    EXPECT_EXIT(
        {
            installForTest(folder);
            crash_fixture::dereferenceNull();
        },
        testing::ExitedWithCode(1),
        "Process crashed, writing mini-dump!\n"
        "EXCEPTION_ACCESS_VIOLATION - Stack trace:\n"
        "0x[0-9a-f]+: crash_fixture::dereferenceNull \\(.*CrashHandlerTest.cpp, line [0-9]+\\)\n");

    const std::vector<fs::path> dumps = dumpsIn(folder);
    ASSERT_EQ(dumps.size(), 1u);
    const std::string name = dumps[0].filename().string();
    EXPECT_TRUE(name.starts_with("quern_platform_tests.")) << name;
    EXPECT_TRUE(name.ends_with(".dmp")) << name;
    const std::string report = readFile(dumps[0]);
    EXPECT_NE(report.find("Exception: EXCEPTION_ACCESS_VIOLATION (0xc0000005)"), std::string::npos) << report;
    EXPECT_NE(report.find("Signal: 11"), std::string::npos) << report;
    EXPECT_NE(report.find("Fault address: 0x0\n"), std::string::npos) << report;
    EXPECT_NE(report.find("Thread: "), std::string::npos) << report;
    EXPECT_NE(report.find("Stack trace:\n0x"), std::string::npos) << report;
    EXPECT_NE(report.find("crash_fixture::dereferenceNull"), std::string::npos) << report;
}

TEST(CrashHandler, FaultKindsAreNamedByTheirExceptionCode)
{
    struct Case {
        const char* name;
        void (*fault)();
        const char* expected;
    };
    const Case cases[] = {
        { "divide", [] { crash_fixture::divide(1, 0); }, "EXCEPTION_INT_DIVIDE_BY_ZERO - Stack trace:" },
        { "trap", [] { __builtin_trap(); }, "EXCEPTION_ILLEGAL_INSTRUCTION - Stack trace:" },
        { "breakpoint", [] { raise(SIGTRAP); }, "EXCEPTION_BREAKPOINT - Stack trace:" },
        { "overflow", [] { crash_fixture::recurse(0); }, "EXCEPTION_STACK_OVERFLOW - Stack trace:" },
        { "worker overflow",
            [] {
                std::thread worker([] {
                    installCrashHandlerForThread();
                    crash_fixture::recurse(0);
                });
                worker.join();
            },
            "EXCEPTION_STACK_OVERFLOW - Stack trace:" },
        { "worker fault",
            [] {
                std::thread worker(&crash_fixture::dereferenceNull);
                worker.join();
            },
            "EXCEPTION_ACCESS_VIOLATION - Stack trace:\n0x[0-9a-f]+: crash_fixture::dereferenceNull" },
    };
    const fs::path folder = freshDumpFolder();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(
            {
                installForTest(folder);
                c.fault();
            },
            testing::ExitedWithCode(1), c.expected);
    }
}

TEST(CrashHandler, DisabledHandlingLeavesTheSystemDefault)
{
    EXPECT_EXIT(
        {
            installCrashHandler();
            setCrashHandlingEnabled(false);
            crash_fixture::dereferenceNull();
        },
        testing::KilledBySignal(SIGSEGV), "");
}

void reportingCallback(quern::u32 code, ExceptionPointers* pointers, bool interactive)
{
    std::fprintf(stderr, "callback %x pointers %s interactive %d\n", code,
        getCrashExceptionPointers() == pointers ? "current" : "other", interactive ? 1 : 0);
}

TEST(CrashHandler, CallbackReplacesTheDumpAndSeesTheCurrentPointers)
{
    const fs::path folder = freshDumpFolder();
    EXPECT_EXIT(
        {
            installForTest(folder);
            setCrashCallback(&reportingCallback);
            crash_fixture::dereferenceNull();
        },
        testing::ExitedWithCode(1), "callback c0000005 pointers current interactive 0\nEXCEPTION_ACCESS_VIOLATION");
    EXPECT_TRUE(dumpsIn(folder).empty());
    EXPECT_EQ(getCrashExceptionPointers(), nullptr);
}

TEST(CrashHandler, ExceptionCodeNames)
{
    struct Case {
        quern::u32 code;
        const char* name;
    };
    const Case cases[] = {
        { 0x80000002, "EXCEPTION_DATATYPE_MISALIGNMENT" },
        { 0x80000003, "EXCEPTION_BREAKPOINT" },
        { 0x80000004, "EXCEPTION_SINGLE_STEP" },
        { 0xC0000005, "EXCEPTION_ACCESS_VIOLATION" },
        { 0xC0000006, "EXCEPTION_IN_PAGE_ERROR" },
        { 0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION" },
        { 0xC0000025, "EXCEPTION_NONCONTINUABLE_EXCEPTION" },
        { 0xC0000026, "EXCEPTION_INVALID_DISPOSITION" },
        { 0xC000008C, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED" },
        { 0xC000008D, "EXCEPTION_FLT_DENORMAL_OPERAND" },
        { 0xC000008E, "EXCEPTION_FLT_DIVIDE_BY_ZERO" },
        { 0xC000008F, "EXCEPTION_FLT_INEXACT_RESULT" },
        { 0xC0000090, "EXCEPTION_FLT_INVALID_OPERATION" },
        { 0xC0000091, "EXCEPTION_FLT_OVERFLOW" },
        { 0xC0000092, "EXCEPTION_FLT_STACK_CHECK" },
        { 0xC0000093, "EXCEPTION_FLT_UNDERFLOW" },
        { 0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO" },
        { 0xC0000095, "EXCEPTION_INT_OVERFLOW" },
        { 0xC0000096, "EXCEPTION_PRIV_INSTRUCTION" },
        { 0xC00000FD, "EXCEPTION_STACK_OVERFLOW" },
        { 0xC00002B4, "STATUS_FLOAT_MULTIPLE_FAULTS" },
        { 0xC00002B5, "STATUS_FLOAT_MULTIPLE_TRAPS" },
        { 0, "Unknown exception code" },
        { 0xC0000007, "Unknown exception code" },
    };
    for (const Case& c : cases)
        EXPECT_STREQ(exceptionCodeName(c.code), c.name) << std::hex << c.code;
}

TEST(CrashHandler, SignalsMapToExceptionCodes)
{
    struct Case {
        int signal;
        int code;
        quern::u32 expected;
    };
    const Case cases[] = {
        { SIGSEGV, SEGV_MAPERR, kExceptionAccessViolation },
        { SIGSEGV, SEGV_ACCERR, kExceptionAccessViolation },
        { SIGBUS, BUS_ADRALN, kExceptionDatatypeMisalignment },
        { SIGBUS, BUS_ADRERR, kExceptionInPageError },
        { SIGILL, ILL_ILLOPC, kExceptionIllegalInstruction },
        { SIGILL, ILL_PRVOPC, kExceptionPrivInstruction },
        { SIGTRAP, TRAP_BRKPT, kExceptionBreakpoint },
        { SIGTRAP, TRAP_TRACE, kExceptionSingleStep },
        { SIGFPE, FPE_INTDIV, kExceptionIntDivideByZero },
        { SIGFPE, FPE_INTOVF, kExceptionIntOverflow },
        { SIGFPE, FPE_FLTDIV, kExceptionFltDivideByZero },
        { SIGFPE, FPE_FLTOVF, kExceptionFltOverflow },
        { SIGFPE, FPE_FLTUND, kExceptionFltUnderflow },
        { SIGFPE, FPE_FLTRES, kExceptionFltInexactResult },
        { SIGFPE, FPE_FLTINV, kExceptionFltInvalidOperation },
        { SIGFPE, FPE_FLTSUB, kExceptionArrayBoundsExceeded },
    };
    for (const Case& c : cases)
        EXPECT_EQ(exceptionCodeFromSignal(c.signal, c.code), c.expected) << c.signal << " " << c.code;
}

TEST(CrashHandler, DumpDirectoryGetsOneFinalSeparator)
{
    struct Case {
        const char* path;
        const char* stored;
    };
    const Case cases[] = {
        { "/tmp/dumps", "/tmp/dumps/" },
        { "/tmp/dumps/", "/tmp/dumps/" },
        { "C:\\dumps\\", "C:\\dumps\\" },
        { "", "" },
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(setDumpDirectory(c.path));
        EXPECT_STREQ(getCrashDumpState().dumpDirectory, c.stored);
    }
    EXPECT_TRUE(setDumpDirectory("/tmp/x"));
    EXPECT_TRUE(setDumpDirectory(nullptr));
    EXPECT_STREQ(getCrashDumpState().dumpDirectory, "");
}

TEST(CrashHandler, DumpDirectoryThatCannotFitIsRefusedAndKeepsThePrevious)
{
    ASSERT_TRUE(setDumpDirectory("/tmp/kept"));
    const std::string needsSeparator(259, 'd');
    EXPECT_FALSE(setDumpDirectory(needsSeparator.c_str()));
    EXPECT_STREQ(getCrashDumpState().dumpDirectory, "/tmp/kept/");
    const std::string fits = std::string(258, 'd') + "/";
    EXPECT_TRUE(setDumpDirectory(fits.c_str()));
    EXPECT_EQ(std::string(getCrashDumpState().dumpDirectory), fits);
    setDumpDirectory(nullptr);
}

TEST(CrashHandler, DumpWithoutCrashRecordsTheCallersStack)
{
    const fs::path folder = freshDumpFolder();
    ASSERT_TRUE(setDumpDirectory(folder.c_str()));
    ASSERT_TRUE(crash_fixture::dumpHere(false));
    const std::vector<fs::path> dumps = dumpsIn(folder);
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(dumps[0].string(), getCrashDumpState().dumpPath);
    const std::string report = readFile(dumps[0]);
    EXPECT_NE(report.find("Exception: none\n"), std::string::npos) << report;
    EXPECT_NE(report.find("Stack trace:\n0x"), std::string::npos) << report;
    const std::size_t stack = report.find("Stack trace:\n");
    EXPECT_NE(report.find("crash_fixture::dumpHere", stack), std::string::npos) << report;
    EXPECT_EQ(report.find("writeMiniDump", stack), std::string::npos) << report;
    setDumpDirectory(nullptr);
}

struct Presented {
    std::string text;
    std::string caption;
    quern::u32 type = 0;
    int count = 0;
};
Presented g_presented;
MessageBoxButton g_answer = MessageBoxButton::No;

MessageBoxButton recordingPresenter(const char* text, const char* caption, quern::u32 type)
{
    g_presented.text = text;
    g_presented.caption = caption;
    g_presented.type = type;
    ++g_presented.count;
    return g_answer;
}

class InteractiveDump : public testing::Test {
protected:
    void SetUp() override
    {
        g_presented = {};
        m_previous = setMessageBoxPresenter(&recordingPresenter);
        setCrashQuestion(nullptr);
    }
    void TearDown() override
    {
        setMessageBoxPresenter(m_previous);
        setDumpDirectory(nullptr);
        setCrashQuestion(nullptr);
    }
    MessageBoxPresenter m_previous = nullptr;
};

TEST_F(InteractiveDump, AnsweringNoWritesNothing)
{
    const fs::path folder = freshDumpFolder();
    ASSERT_TRUE(setDumpDirectory(folder.c_str()));
    g_answer = MessageBoxButton::No;
    EXPECT_FALSE(writeMiniDump(nullptr, true));
    EXPECT_TRUE(dumpsIn(folder).empty());
    EXPECT_EQ(g_presented.caption, "Crash dump");
    EXPECT_EQ(g_presented.type, static_cast<quern::u32>(kMessageBoxYesNo));
    EXPECT_TRUE(g_presented.text.starts_with("The application crashed because of an unexpected error:\n\n"
                                             "Would you like to create a mini-dump file?\n\n"
        + folder.string() + "/quern_platform_tests."))
        << g_presented.text;
}

TEST_F(InteractiveDump, AnsweringYesWritesWithTheApplicationsQuestion)
{
    const fs::path folder = freshDumpFolder();
    ASSERT_TRUE(setDumpDirectory(folder.c_str()));
    setCrashQuestion("Send us the dump?");
    g_answer = MessageBoxButton::Yes;
    EXPECT_TRUE(writeMiniDump(nullptr, true));
    EXPECT_EQ(dumpsIn(folder).size(), 1u);
    EXPECT_TRUE(g_presented.text.starts_with("Send us the dump?\n\n" + folder.string())) << g_presented.text;
}

TEST_F(InteractiveDump, UncreatableFileIsReportedInInteractiveModeOnly)
{
    const fs::path missing = dumpFolder() / "missing";
    fs::remove_all(dumpFolder());
    ASSERT_TRUE(setDumpDirectory(missing.c_str()));
    g_answer = MessageBoxButton::Yes;
    EXPECT_FALSE(writeMiniDump(nullptr, true));
    EXPECT_EQ(g_presented.count, 2);
    EXPECT_TRUE(g_presented.text.starts_with("Failed to create the mini-dump file '" + missing.string() + "/"))
        << g_presented.text;
    EXPECT_TRUE(g_presented.text.ends_with(".dmp' (error 2)")) << g_presented.text;

    g_presented = {};
    EXPECT_FALSE(writeMiniDump(nullptr, false));
    EXPECT_EQ(g_presented.count, 0);
}

} // namespace
