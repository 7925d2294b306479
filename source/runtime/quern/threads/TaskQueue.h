#pragma once
// One background worker: a thread that runs tasks one at a time in the order they
// were pushed, and sleeps on a semaphore while the queue is empty. A null task is
// the stop request: the worker ends after the tasks queued before it.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/debug/MutexImpl.h"
#include "quern/platform/Semaphore.h"
#include "quern/threads/Task.h"
#include "quern/threads/Thread.h"

#include <atomic>

namespace quern::threads {

class TaskQueue : public Runnable {
public:
    enum State : i32 {
        Waiting = 0,
        Running = 1,
        Stopped = 2,
    };
    static constexpr u64 kReservedTasks = 32;

    TaskQueue();
    ~TaskQueue() override;
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    // The worker thread's body.
    u32 run() override;
    // Runs one task (with an empty range).
    virtual void dispatch(Task* task);

    // Appends the task, wakes the worker, and returns once the worker is awake
    // (or has already taken everything).
    void push(Task* task);
    // Takes the oldest task. Fatal "Can't get task from empty queue".
    Task* pop();

    i32 pending() const { return m_pending.load(std::memory_order_acquire); }
    State state() const { return static_cast<State>(m_state.load(std::memory_order_acquire)); }
    u64 capacity();

private:
    containers::Array m_tasks;
    debug::MutexImpl m_lock;
    std::atomic<i32> m_pending{0};
    platform::Semaphore m_semaphore;
    std::atomic<i32> m_state{Stopped};
};

} // namespace quern::threads
