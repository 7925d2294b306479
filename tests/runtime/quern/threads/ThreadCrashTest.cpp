// A stack overflow on any thread the engine starts must end in the crash
// handler's report and exit code 1, not in a bare SIGSEGV: each such thread
// needs an alternate signal stack of its own.

#include "quern/platform/CrashHandler.h"
#include "quern/platform/Thread.h"
#include "quern/threads/TaskDispatcher.h"
#include "quern/threads/Thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace overflow_fixture {

__attribute__((noinline)) int overflowStack(int depth)
{
    volatile char block[1024];
    block[0] = static_cast<char>(depth);
    if (block[0] == 127 && depth < 0) // never true; keeps the recursion unbounded
        return 0;
    return overflowStack(depth + 1) + block[0];
}

} // namespace overflow_fixture

namespace quern::threads {
namespace {

constexpr const char* kOverflowReport = "Process crashed, writing mini-dump!\n"
                                        "EXCEPTION_STACK_OVERFLOW - Stack trace:\n"
                                        "0x[0-9a-f]+: overflow_fixture::overflowStack";

void installCrashHandlerForTest()
{
    const std::filesystem::path folder = std::filesystem::path(::testing::TempDir()) / "quern_thread_crashes";
    std::filesystem::create_directories(folder);
    platform::installCrashHandler();
    platform::setCrashHandlingEnabled(true);
    platform::setCrashInteractive(false);
    platform::setDumpDirectory(folder.c_str());
}

class OverflowingRunnable final : public Runnable {
public:
    u32 run() override { return static_cast<u32>(overflow_fixture::overflowStack(0)); }
};

TEST(ThreadCrashDeathTest, StackOverflowOnAThreadIsReported)
{
    EXPECT_EXIT(
        {
            installCrashHandlerForTest();
            OverflowingRunnable runnable;
            Thread thread;
            thread.create("Overflow");
            thread.start(&runnable);
            thread.join();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(1), kOverflowReport);
}

// Only the dispatcher's other worker runs it: the starting thread never waits
// on it, so never takes its chunk.
class OverflowingTask final : public Task {
public:
    OverflowingTask()
        : Task(1)
    {
    }
    void run(TaskRange range) override
    {
        if (range.workerIndex != 0)
            overflow_fixture::overflowStack(0);
    }
};

TEST(ThreadCrashDeathTest, StackOverflowOnADispatcherWorkerIsReported)
{
    EXPECT_EXIT(
        {
            installCrashHandlerForTest();
            TaskDispatcher dispatcher;
            dispatcher.start(2);
            OverflowingTask task;
            dispatcher.submit(task);
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!task.isComplete() && std::chrono::steady_clock::now() < giveUp)
                platform::yieldThread();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(1), kOverflowReport);
}

// A thread that ends gives its alternate stack back: many short threads in a
// row leave no mappings behind.
TEST(ThreadCrash, ThreadsGiveTheirSignalStackBackWhenTheyEnd)
{
    class Nothing final : public Runnable {
    public:
        u32 run() override { return 0; }
    } nothing;
    auto mappings = [] {
        std::FILE* maps = std::fopen("/proc/self/maps", "r");
        int lines = 0;
        for (int c; (c = std::fgetc(maps)) != EOF;)
            lines += c == '\n';
        std::fclose(maps);
        return lines;
    };
    const int before = mappings();
    for (int i = 0; i < 50; ++i) {
        Thread thread;
        thread.create("Short");
        ASSERT_TRUE(thread.start(&nothing));
        thread.join();
    }
    EXPECT_LT(mappings(), before + 25);
}

} // namespace
} // namespace quern::threads
