#pragma once
// Work-stealing scheduler. The thread that starts it is worker 0; workers 1 to N-1
// are threads named "TaskDispatcher". A submitted task is cut into chunks pushed
// on the submitting worker's queue; each worker runs its own chunks newest first
// and steals from the others oldest first. Idle workers sleep on one semaphore.
// Only the dispatcher's own workers may submit: the queues are single-owner.

#include "quern/Types.h"
#include "quern/memory/Allocator.h"
#include "quern/platform/Semaphore.h"
#include "quern/threads/Task.h"
#include "quern/threads/Thread.h"

#include <atomic>

namespace quern::threads {

// Optional hooks, each called with the worker index on that worker's thread.
struct TaskDispatcherHooks {
    void (*threadStarted)(u32 workerIndex) = nullptr;
    void (*threadExiting)(u32 workerIndex) = nullptr;
    void (*goingToSleep)(u32 workerIndex) = nullptr;
    void (*woken)(u32 workerIndex) = nullptr;
};

class TaskDispatcher {
public:
    static constexpr u32 kQueueSize = 256;
    static constexpr u32 kIdlePassesBeforeSleep = 100;
    static constexpr u32 kNotAWorker = 0xFFFFFFFF;
    static constexpr const char* kThreadName = "TaskDispatcher";

    TaskDispatcher();
    ~TaskDispatcher();
    TaskDispatcher(const TaskDispatcher&) = delete;
    TaskDispatcher& operator=(const TaskDispatcher&) = delete;

    // Set before start; null means the default allocator.
    void setAllocator(memory::Allocator* allocator) { m_allocator = allocator; }
    void setHooks(const TaskDispatcherHooks& hooks) { m_hooks = hooks; }

    // Starts N workers (the calling thread is worker 0); a running dispatcher is
    // stopped first. N = 0 leaves it stopped.
    void start(u32 workerCount);
    // Queues the task's chunks; never blocks. On a stopped dispatcher the task
    // runs at once on the calling thread. Fatal when called from a thread that
    // is not one of the dispatcher's workers.
    void submit(Task& task);
    // Returns when the task is complete. A worker runs chunks (of any task)
    // meanwhile; any other thread only waits.
    void wait(Task& task);
    // Runs chunks until every queue is empty and no other worker is awake.
    void runUntilIdle();
    // Ends and joins the worker threads and frees the queues.
    void stop();

    u32 workerCount() const { return m_workerCount; }
    bool isRunning() const { return m_running.load(std::memory_order_acquire); }
    // The calling thread's worker index in whichever dispatcher it works for,
    // or kNotAWorker.
    static u32 currentWorkerIndex();
    // The calling thread's worker index in this dispatcher, or kNotAWorker.
    u32 workerIndexOfCaller() const;

private:
    struct Chunk {
        Task* task;
        TaskRange range;
    };
    struct WorkerQueue;
    class Worker;

    u32 runWorker(u32 index);
    bool runNextChunk(u32 worker, u32& cursor);
    bool takeOwnChunk(u32 worker, Chunk& chunk);
    bool stealChunk(WorkerQueue& victim, Chunk& chunk);
    bool anyQueueHasWork() const;
    void sleepWhenIdle(u32 worker);
    void wakeSleepers();
    u32 requireWorker(const char* what) const;

    memory::Allocator* m_allocator = nullptr;
    WorkerQueue* m_queues = nullptr;
    Worker* m_workers = nullptr;
    Thread* m_threads = nullptr;
    TaskDispatcherHooks m_hooks;
    platform::Semaphore m_semaphore;
    std::atomic<i32> m_sleeping{0};
    i32 m_chunkDivisor = 1;
    u32 m_workerCount = 0;
    u32 m_generation = 0;
    std::atomic<i32> m_alive{0};
    std::atomic<i32> m_awake{0};
    std::atomic<bool> m_running{false};
};

} // namespace quern::threads
