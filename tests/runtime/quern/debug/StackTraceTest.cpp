#include "quern/debug/StackTrace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

// Named (not anonymous) so the expected function names stay short.
namespace stack_fixture {

struct Capture {
    quern::debug::StackFrame frames[quern::debug::StackTrace::kMaxFrames];
    quern::u64 count = 0;
};

__attribute__((noinline)) void innermost(Capture& capture, int skip)
{
    capture.count = quern::debug::captureStackTrace(capture.frames, quern::debug::StackTrace::kMaxFrames, skip);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void middle(Capture& capture, int skip)
{
    innermost(capture, skip);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void outer(Capture& capture, int skip)
{
    middle(capture, skip);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) quern::u64 captureSite(quern::debug::StackTrace& trace, const char* function)
{
    const quern::u64 count = trace.capture(function, "source/runtime/quern/io/File.cpp", 77);
    asm volatile("" ::: "memory");
    return count;
}

__attribute__((noinline)) std::string printHere()
{
    std::ostringstream out;
    quern::debug::printStackTrace(out);
    asm volatile("" ::: "memory");
    return out.str();
}

} // namespace stack_fixture

namespace {

using quern::debug::StackFrame;

bool endsWith(const char* text, const char* suffix)
{
    const std::size_t a = std::strlen(text), b = std::strlen(suffix);
    return a >= b && std::strcmp(text + a - b, suffix) == 0;
}

TEST(StackTrace, CaptureWithNoRoomStoresNothing)
{
    StackFrame frame{};
    EXPECT_EQ(quern::debug::captureStackTrace(&frame, 0, 0), 0u);
}

TEST(StackTrace, CaptureNamesCallersWithFileAndLineInOrder)
{
    stack_fixture::Capture capture;
    stack_fixture::outer(capture, 0);
    ASSERT_GE(capture.count, 3u);
    const char* expected[] = {"stack_fixture::innermost", "stack_fixture::middle", "stack_fixture::outer"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(capture.frames[i].function, expected[i]);
        EXPECT_NE(capture.frames[i].address, 0u);
        EXPECT_TRUE(endsWith(capture.frames[i].file, "StackTraceTest.cpp")) << capture.frames[i].file;
        EXPECT_GT(capture.frames[i].line, 0);
    }
}

TEST(StackTrace, SkipPassesOverTheInnerFrames)
{
    stack_fixture::Capture capture;
    stack_fixture::outer(capture, 2);
    ASSERT_GE(capture.count, 1u);
    EXPECT_STREQ(capture.frames[0].function, "stack_fixture::outer");
}

TEST(StackTrace, WalkEndsBeforeMainAndDoesNotStoreIt)
{
    stack_fixture::Capture capture;
    stack_fixture::outer(capture, 0);
    ASSERT_LT(capture.count, quern::debug::StackTrace::kMaxFrames);
    for (quern::u64 i = 0; i < capture.count; ++i)
        EXPECT_STRNE(capture.frames[i].function, "main");
    // The test program's main calls RUN_ALL_TESTS; it is the last frame kept.
    // Member functions carry their class, as the symbol table names them.
    bool sawTestBody = false;
    for (quern::u64 i = 0; i < capture.count; ++i)
        sawTestBody |= std::strcmp(capture.frames[i].function, "(anonymous namespace)::StackTrace_WalkEndsBeforeMainAndDoesNotStoreIt_Test::TestBody") == 0;
    EXPECT_TRUE(sawTestBody) << [&] { std::ostringstream o; for (quern::u64 i = 0; i < capture.count; ++i) o << capture.frames[i] << "\n"; return o.str(); }();
    EXPECT_STREQ(capture.frames[capture.count - 1].function, "RUN_ALL_TESTS");
}

TEST(StackTrace, CaptureWithSiteMakesFrameZeroFromTheSourcePosition)
{
    quern::debug::StackTrace trace{};
    const quern::u64 count = stack_fixture::captureSite(trace, "quern::io::openFile");
    EXPECT_EQ(count, trace.count);
    ASSERT_GE(count, 2u);
    EXPECT_EQ(trace.frames[0].address, 0u);
    EXPECT_EQ(trace.frames[0].line, 77);
    EXPECT_STREQ(trace.frames[0].function, "quern::io::openFile");
    EXPECT_STREQ(trace.frames[0].file, "source/runtime/quern/io/File.cpp");
    // The captured part starts at the function that asked for the trace.
    EXPECT_STREQ(trace.frames[1].function, "stack_fixture::captureSite");
}

TEST(StackTrace, SiteTextIsCutTo127Characters)
{
    const std::string longName(300, 'f');
    quern::debug::StackTrace trace{};
    stack_fixture::captureSite(trace, longName.c_str());
    EXPECT_EQ(std::strlen(trace.frames[0].function), 127u);
}

TEST(StackTrace, FramePrinting)
{
    struct Case {
        StackFrame frame;
        const char* text;
    };
    const Case cases[] = {
        {{0x1234, 0, "", ""}, "0x1234: "},
        {{0, 12, "quern::f", "a.cpp"}, "quern::f (a.cpp, line 12)"},
        {{0, 0, "quern::f", "a.cpp"}, "quern::f (a.cpp)"},
        {{0x10, 3, "g", ""}, "0x10: g"},
        {{0x10, 3, "g", "b.cpp"}, "0x10: g (b.cpp, line 3)"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        out << c.frame;
        EXPECT_EQ(out.str(), c.text);
    }
}

TEST(StackTrace, PrintStartsAtTheCallerOneFrameALine)
{
    const std::string text = stack_fixture::printHere();
    const std::string firstLine = text.substr(0, text.find('\n'));
    EXPECT_NE(firstLine.find(": stack_fixture::printHere ("), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST(StackTrace, QualifiedFunctionNameDropsReturnTypeAndParameters)
{
    struct Case {
        const char* signature;
        const char* name;
    };
    const Case cases[] = {
        {"void quern::io::openFile(const char*)", "quern::io::openFile"},
        {"virtual quern::u64 quern::FileSource::implRead(quern::u8*, quern::u64)", "quern::FileSource::implRead"},
        {"int main()", "main"},
        {"main", "main"},
        {"(anonymous namespace)::helper(int)", "(anonymous namespace)::helper"},
        {"std::pair<int, int> quern::make(int) [with T = int]", "quern::make"},
        {"bool quern::operator<(const A&, const A&)", "quern::operator<"},
        {"quern::A::operator bool() const", "quern::A::operator bool"},
        {"quern::run()::<lambda(int)>", "quern::run()::<lambda(int)>"},
        {"std::string quern::name[abi:cxx11](int)", "quern::name"},
        {"", ""},
    };
    for (const Case& c : cases) {
        char out[128];
        quern::debug::qualifiedFunctionName(c.signature, out, sizeof out);
        EXPECT_STREQ(out, c.name) << c.signature;
    }
    char small[6];
    quern::debug::qualifiedFunctionName("void quern::f()", small, sizeof small);
    EXPECT_STREQ(small, "quern");
}

} // namespace

namespace {

TEST(StackTrace, MangledNamesAreReadWithoutTheHeap)
{
    struct Case {
        const char* symbol;
        const char* name; // null: not covered, the caller keeps the symbol
    };
    const Case cases[] = {
        {"_ZN5quern2io8openFileEPKc", "quern::io::openFile"},
        {"_Z6divideii", "divide"},
        {"_ZN12_GLOBAL__N_16helperEv", "(anonymous namespace)::helper"},
        {"_ZN5quern3FooC2Ev", "quern::Foo::Foo"},
        {"_ZN5quern3FooD0Ev", "quern::Foo::~Foo"},
        {"_ZNK5quern3Foo3getEv", "quern::Foo::get"},
        {"_ZN5quern3FooIiE3barEv", "quern::Foo<...>::bar"},
        {"_ZN5quern3FooINS_3BarEEC2Ev", "quern::Foo<...>::Foo"},
        {"_ZNSt6vectorIiSaIiEE9push_backERKi", "std::vector<...>::push_back"},
        {"_ZN5quernlsERSoRKNS_4NameE", "quern::operator<<"},
        {"_ZN5quern4nameB5cxx11Ei", "quern::name"},
        {"_ZZN5quern3runEvENKUliE_clEi", "quern::run::{lambda}::operator()"},
        {"_ZZN5quern3runEvE5count", "quern::run::count"},
        {"_ZN5quern2io4File4readEv", "quern::io::File::read"},
        {"_ZN5quern2io4FileC1ES1_", "quern::io::File::File"},
        {"_ZN7testing8internalL14DeathTestAbortEv", "testing::internal::DeathTestAbort"},
        {"_ZN5quern2io4File4readEv.cold", "quern::io::File::read"},
        {"_ZnwmRKSt9nothrow_t", "operator new"},
        {"_ZNK5quern1AcvbEv", nullptr},
        {"_ZN5quern1fIiEEvT_", "quern::f<...>"},
        {"main", nullptr},
        {"_ZN5quern", nullptr},
        {"_ZN99quernE", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        char out[128] = "untouched";
        const bool read = quern::debug::readMangledName(c.symbol, out, sizeof out);
        EXPECT_EQ(read, c.name != nullptr) << c.symbol;
        EXPECT_STREQ(out, c.name ? c.name : "") << c.symbol;
    }
    char small[8];
    EXPECT_TRUE(quern::debug::readMangledName("_ZN5quern2io8openFileEPKc", small, sizeof small));
    EXPECT_STREQ(small, "quern::"); // cut to the field, as frame names are
}

} // namespace
