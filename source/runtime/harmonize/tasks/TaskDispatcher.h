#pragma once
// The game's task dispatcher: the engine's work-stealing dispatcher started by
// the threading settings, with a count of the tasks submitted in each frame.
// Without threading every task runs at once on the thread that hands it over.
// Threading with a single worker runs the same way: no worker thread would
// exist, and a level load waiting on the main thread's pump could never finish.

#include "harmonize/SettingsTable.h"
#include "quern/Types.h"
#include "quern/threads/TaskDispatcher.h"

#include <atomic>

namespace harmonize {

using quern::i32;
using quern::i64;
using quern::u32;
using quern::u64;

class TaskDispatcher {
public:
    TaskDispatcher() = default;
    ~TaskDispatcher() { stop(); }
    TaskDispatcher(const TaskDispatcher&) = delete;
    TaskDispatcher& operator=(const TaskDispatcher&) = delete;

    // The number of workers, the calling thread included, that the settings ask
    // for on a machine with this many logical processors.
    static u32 workerCountFor(const ThreadingSettings& settings, u32 processorCount);

    // Starts the workers the settings (Settings::Threading in the game) ask for, logging what it does. The
    // processor count is the machine's unless one is given.
    void start(const ThreadingSettings& settings);
    void start(const ThreadingSettings& settings, u32 processorCount);
    // Joins the worker threads; stopping a stopped dispatcher does nothing.
    void stop();

    // Whether tasks run on workers; when false every task runs inline.
    bool threaded() const { return m_engine.isRunning(); }
    u32 workerCount() const { return m_engine.workerCount(); }

    // Hands the task to the workers and counts it for this frame, or runs it
    // inline before returning.
    void run(quern::threads::Task& task);
    // Returns when the task is complete; the calling worker helps meanwhile.
    void wait(quern::threads::Task& task);
    void runUntilIdle();

    // Tasks submitted in the current frame.
    u64 tasksThisFrame() const
    {
        return m_frames[m_parity.load(std::memory_order_relaxed)].tasks.load(std::memory_order_relaxed);
    }
    // Called once at the end of every frame.
    void flipFrame();

    quern::threads::TaskDispatcher& engine() { return m_engine; }

private:
    struct FrameCounters {
        std::atomic<u64> tasks { 0 };
    };

    quern::threads::TaskDispatcher m_engine;
    FrameCounters m_frames[2];
    std::atomic<i32> m_parity { 0 };
};

} // namespace harmonize
