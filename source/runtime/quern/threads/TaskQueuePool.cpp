#include "quern/threads/TaskQueuePool.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/Thread.h"

#include <new>

namespace quern::threads {
namespace {
TaskQueuePool* g_backgroundPool = nullptr;
} // namespace

TaskQueuePool::TaskQueuePool(memory::Allocator* allocator)
    : m_allocator(allocator ? allocator : memory::getDefaultAllocator())
    , m_threads(sizeof(Thread*), alignof(Thread*), m_allocator)
{
    if (!m_allocator)
        QUERN_FATAL("Task queue pool made before the default allocator exists");
}

TaskQueuePool::~TaskQueuePool()
{
    stop();
    destroyThreads();
}

void TaskQueuePool::setWorkers(TaskQueue* workers, u64 count)
{
    if (m_workers)
        QUERN_FATAL("Task queue pool already has workers");
    m_workers = workers;
    m_workerCount = count;
}

bool TaskQueuePool::push(Task* task)
{
    if (m_workerCount == 0)
        return false;
    TaskQueue* chosen = &m_workers[0];
    i32 fewest = chosen->pending();
    for (u64 i = 1; i < m_workerCount && fewest != 0; ++i) {
        const i32 pending = m_workers[i].pending();
        if (pending < fewest) {
            fewest = pending;
            chosen = &m_workers[i];
        }
    }
    if (static_cast<u64>(fewest) >= chosen->capacity())
        return false;
    chosen->push(task);
    return true;
}

void TaskQueuePool::startThreads(Runnable* runnable)
{
    bool allRunning = true;
    for (u64 i = 0; i < m_threads.count(); ++i)
        allRunning = allRunning && thread(i)->isRunning();
    if (allRunning) {
        void* block = m_allocator->allocate(sizeof(Thread), alignof(Thread));
        if (!block)
            QUERN_OUT_OF_MEMORY();
        m_threads.append(new (block) Thread());
    }
    for (u64 i = 0; i < m_threads.count(); ++i) {
        Thread* record = thread(i);
        if (record->isRunning())
            continue;
        // A thread that has ended cannot run again: its record is made afresh.
        if (record->state() != Thread::NotCreated)
            record->clear();
        record->create(nullptr);
        if (!record->start(runnable))
            QUERN_FATAL("Thread start failed");
    }
}

u32 TaskQueuePool::runningThreadCount() const
{
    u32 running = 0;
    for (u64 i = 0; i < m_threads.count(); ++i)
        running += thread(i)->isRunning() ? 1 : 0;
    return running;
}

void TaskQueuePool::stop()
{
    for (u64 i = 0; i < m_workerCount; ++i) {
        TaskQueue& queue = m_workers[i];
        if (queue.state() == TaskQueue::Stopped)
            continue;
        queue.push(nullptr);
        while (queue.state() != TaskQueue::Stopped)
            platform::yieldThread();
    }
    for (u64 i = 0; i < m_threads.count(); ++i)
        thread(i)->join();
    delete[] m_workers;
    m_workers = nullptr;
    m_workerCount = 0;
}

void TaskQueuePool::destroyThreads()
{
    for (u64 i = 0; i < m_threads.count(); ++i) {
        Thread* record = thread(i);
        record->clear();
        record->~Thread();
        m_allocator->free(record);
    }
    m_threads.release();
}

TaskQueuePool* getBackgroundPool() { return g_backgroundPool; }

void startBackgroundWorker()
{
    if (!g_backgroundPool) {
        memory::Allocator* allocator = memory::getDefaultAllocator();
        void* block = allocator->allocate(sizeof(TaskQueuePool), alignof(TaskQueuePool));
        if (!block)
            QUERN_OUT_OF_MEMORY();
        g_backgroundPool = new (block) TaskQueuePool(allocator);
    }
    TaskQueuePool& pool = *g_backgroundPool;
    if (pool.workerCount() != 0)
        return;
    pool.setWorkers(new TaskQueue[1], 1);
    TaskQueue* worker = pool.worker(0);
    pool.startThreads(worker);
    while (worker->state() != TaskQueue::Waiting)
        platform::yieldThread();
}

void stopBackgroundWorker()
{
    TaskQueuePool* pool = g_backgroundPool;
    if (!pool)
        return;
    g_backgroundPool = nullptr;
    // The allocator it was made from: the default one may be gone by now.
    memory::Allocator* allocator = pool->allocator();
    pool->~TaskQueuePool();
    allocator->free(pool);
}

} // namespace quern::threads
