#include "quern/threads/TaskQueue.h"

#include "quern/platform/ErrorReporting.h"
#include "quern/platform/Thread.h"

#include <cstring>

namespace quern::threads {

TaskQueue::TaskQueue() : m_tasks(sizeof(Task*), alignof(Task*)), m_semaphore(0, 1)
{
    debug::MutexLock lock(m_lock);
    m_tasks.reserve(kReservedTasks);
}

TaskQueue::~TaskQueue() = default;

u64 TaskQueue::capacity()
{
    debug::MutexLock lock(m_lock);
    return m_tasks.capacity();
}

void TaskQueue::push(Task* task)
{
    {
        debug::MutexLock lock(m_lock);
        m_tasks.append(task);
    }
    m_pending.fetch_add(1, std::memory_order_acq_rel);
    m_semaphore.release(1);
    // The semaphore holds one wake-up at most: wait until the worker has
    // really left its wait (or already drained the queue).
    while (pending() != 0 && state() == Waiting)
        platform::spinPause();
}

Task* TaskQueue::pop()
{
    Task* task = nullptr;
    {
        debug::MutexLock lock(m_lock);
        const u64 count = m_tasks.count();
        if (count == 0)
            QUERN_FATAL("Can't get task from empty queue");
        Task** tasks = m_tasks.dataAs<Task*>();
        task = tasks[0];
        std::memmove(tasks, tasks + 1, (count - 1) * sizeof(Task*));
        m_tasks.expand(count - 1);
    }
    m_pending.fetch_sub(1, std::memory_order_acq_rel);
    return task;
}

void TaskQueue::dispatch(Task* task) { task->run(TaskRange{0, 0, 0}); }

u32 TaskQueue::run()
{
    for (;;) {
        m_state.store(Waiting, std::memory_order_release);
        m_semaphore.wait();
        m_state.store(Running, std::memory_order_release);
        while (pending() != 0) {
            Task* task = pop();
            if (!task) {
                m_state.store(Stopped, std::memory_order_release);
                return 0;
            }
            dispatch(task);
        }
    }
}

} // namespace quern::threads
