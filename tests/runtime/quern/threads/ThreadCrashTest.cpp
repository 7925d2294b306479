// A stack overflow on any thread the engine starts must end in the crash
// handler's report and exit code 1, not in a bare SIGSEGV: each such thread
// needs an alternate signal stack of its own.

#include "quern/platform/CrashHandler.h"
#include "quern/platform/Thread.h"
#include "quern/threads/TaskDispatcher.h"
#include "quern/threads/Thread.h"
#include "support/StackOverflow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quern::threads {
namespace {

constexpr const char* kOverflowReport = "Process crashed, writing mini-dump!\n"
                                        "EXCEPTION_STACK_OVERFLOW - Stack trace:\n"
                                        "0x[0-9a-f]+: crash_fixture::recurse";

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
    u32 run() override { return static_cast<u32>(crash_fixture::recurse(0)); }
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
            crash_fixture::recurse(0);
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

// Whether `address` lies in any mapping of the process.
bool isMapped(const void* address)
{
    const auto target = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::uintptr_t start = 0, end = 0;
        char dash = 0;
        std::istringstream range(line);
        range >> std::hex >> start >> dash >> end;
        if (target >= start && target < end)
            return true;
    }
    return false;
}

// A thread runs on its own alternate signal stack and gives it back when it
// ends, so short threads in a row leave no mappings behind.
TEST(ThreadCrash, ThreadsGiveTheirSignalStackBackWhenTheyEnd)
{
    class StackProbe final : public Runnable {
    public:
        u32 run() override
        {
            stack_t current {};
            sigaltstack(nullptr, &current);
            enabled = !(current.ss_flags & SS_DISABLE);
            stack = current.ss_sp;
            mappedWhileRunning = stack && isMapped(stack);
            return 0;
        }
        bool enabled = false;
        bool mappedWhileRunning = false;
        void* stack = nullptr;
    };
    for (int i = 0; i < 3; ++i) {
        StackProbe probe;
        Thread thread;
        thread.create("Short");
        ASSERT_TRUE(thread.start(&probe));
        thread.join();
        EXPECT_TRUE(probe.enabled) << i;
        EXPECT_TRUE(probe.mappedWhileRunning) << i;
        EXPECT_FALSE(isMapped(probe.stack)) << i;
    }
}

} // namespace
} // namespace quern::threads
