#pragma once
// A group of background workers (task queues) with their threads. A new task goes
// to the least-loaded worker. The process-wide background pool has one worker and
// serves work that must never block the game (user storage).

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/memory/Allocator.h"
#include "quern/threads/TaskQueue.h"
#include "quern/threads/Thread.h"

namespace quern::threads {

class TaskQueuePool {
public:
    // Thread records come from `allocator` (null: the default allocator at
    // construction), which the pool keeps for freeing them and itself.
    explicit TaskQueuePool(memory::Allocator* allocator = nullptr);
    // Stops the workers and frees the thread records.
    ~TaskQueuePool();
    TaskQueuePool(const TaskQueuePool&) = delete;
    TaskQueuePool& operator=(const TaskQueuePool&) = delete;

    // Takes ownership of an array made with new[] (a pool without workers
    // takes one).
    void setWorkers(TaskQueue* workers, u64 count);

    // Queues the task on the worker with the fewest pending tasks. False, and
    // nothing queued, when that worker is full or the pool has no worker.
    bool push(Task* task);
    // Adds a thread record when every record is running, then starts every
    // record that is not running with `runnable`. Fatal "Thread start failed".
    void startThreads(Runnable* runnable);
    // Records whose thread is running.
    u32 runningThreadCount() const;
    // Lets every worker finish the tasks queued so far, ends and joins the
    // threads, and destroys the workers.
    void stop();
    // Frees the thread records.
    void destroyThreads();

    memory::Allocator* allocator() const { return m_allocator; }
    u64 workerCount() const { return m_workerCount; }
    TaskQueue* worker(u64 index) { return &m_workers[index]; }
    u64 threadCount() const { return m_threads.count(); }
    Thread* thread(u64 index) const { return m_threads.at<Thread*>(index); }

private:
    memory::Allocator* m_allocator;
    containers::Array m_threads; // Thread*
    TaskQueue* m_workers = nullptr;
    u64 m_workerCount = 0;
};

// The process-wide pool; null before startBackgroundWorker and after
// stopBackgroundWorker.
TaskQueuePool* getBackgroundPool();
// Makes the background pool (from the default allocator) when it does not exist,
// gives it its one worker and returns once that worker waits for work. Does
// nothing while the worker exists.
void startBackgroundWorker();
// Runs the queued tasks to the end, ends the worker thread and frees the pool.
void stopBackgroundWorker();

} // namespace quern::threads
