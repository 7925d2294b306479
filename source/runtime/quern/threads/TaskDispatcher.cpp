#include "quern/threads/TaskDispatcher.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/Thread.h"

#include <new>

namespace quern::threads {
namespace {

// Occupancy words of the queue slots.
constexpr u32 kSlotEmpty = 0;
constexpr u32 kSlotFull = 0x11111111;
constexpr u32 kSlotTaking = 0xFFFFFFFF;
constexpr u32 kSlotMask = TaskDispatcher::kQueueSize - 1;
constexpr u32 kMaxWorkers = 1024;

// Which dispatcher the calling thread works for. The generation tells a worker of
// an earlier start (or of a destroyed dispatcher at the same address) apart.
struct WorkerIdentity {
    const TaskDispatcher* owner;
    u32 generation;
    u32 index;
};
thread_local WorkerIdentity t_identity{nullptr, 0, TaskDispatcher::kNotAWorker};
std::atomic<u32> g_nextGeneration{1};

// Queue positions are free-running u32 counters: "at or past" survives wrap-around.
bool atOrPast(u32 position, u32 mark) { return static_cast<i32>(position - mark) >= 0; }

template <class T> T* allocateArray(memory::Allocator& allocator, u32 count)
{
    void* block = allocator.allocate(sizeof(T) * count, alignof(T));
    if (!block)
        QUERN_OUT_OF_MEMORY();
    return static_cast<T*>(block);
}

} // namespace

struct TaskDispatcher::WorkerQueue {
    Chunk slots[kQueueSize];
    // Only the owner moves the write index; thieves read it.
    alignas(64) std::atomic<u32> writeIndex{0};
    std::atomic<u32> stealLimit{0};
    alignas(64) std::atomic<u32> readIndex{0};
    alignas(64) std::atomic<u32> occupancy[kQueueSize];

    WorkerQueue()
    {
        for (std::atomic<u32>& word : occupancy)
            word.store(kSlotEmpty, std::memory_order_relaxed);
    }
    bool hasWork() const
    {
        return writeIndex.load(std::memory_order_acquire) != readIndex.load(std::memory_order_acquire);
    }
};

class TaskDispatcher::Worker final : public Runnable {
public:
    Worker(u32 index, TaskDispatcher& owner) : m_index(index), m_owner(owner) {}
    u32 run() override { return m_owner.runWorker(m_index); }

private:
    u32 m_index;
    TaskDispatcher& m_owner;
};

TaskDispatcher::TaskDispatcher() : m_semaphore(0, platform::Semaphore::kLargestMaximum) {}

TaskDispatcher::~TaskDispatcher() { stop(); }

u32 TaskDispatcher::currentWorkerIndex() { return t_identity.index; }

u32 TaskDispatcher::workerIndexOfCaller() const
{
    const WorkerIdentity& identity = t_identity;
    if (identity.owner != this || identity.generation != m_generation)
        return kNotAWorker;
    return identity.index;
}

u32 TaskDispatcher::requireWorker(const char* message) const
{
    const u32 worker = workerIndexOfCaller();
    if (worker == kNotAWorker)
        QUERN_FATAL(message);
    return worker;
}

void TaskDispatcher::start(u32 workerCount)
{
    if (!m_allocator)
        m_allocator = memory::getDefaultAllocator();
    stop();
    if (workerCount == 0)
        return;
    if (workerCount > kMaxWorkers)
        QUERN_FATAL("Too many task dispatcher workers");

    m_generation = g_nextGeneration.fetch_add(1, std::memory_order_relaxed);
    t_identity = WorkerIdentity{this, m_generation, 0};
    m_workerCount = workerCount;
    m_running.store(true, std::memory_order_release);
    while (m_semaphore.tryWait()) {
        // Wake-ups left over from the previous stop.
    }
    m_sleeping.store(0, std::memory_order_relaxed);

    m_queues = allocateArray<WorkerQueue>(*m_allocator, workerCount);
    m_threads = allocateArray<Thread>(*m_allocator, workerCount);
    m_workers = allocateArray<Worker>(*m_allocator, workerCount);
    for (u32 i = 0; i < workerCount; ++i) {
        new (&m_queues[i]) WorkerQueue();
        new (&m_threads[i]) Thread();
        new (&m_workers[i]) Worker(i, *this);
    }

    m_alive.store(1, std::memory_order_relaxed);
    m_awake.store(1, std::memory_order_relaxed);
    const i32 divisor = static_cast<i32>(workerCount * (workerCount - 1));
    m_chunkDivisor = divisor == 0 ? 1 : divisor;

    for (u32 i = 1; i < workerCount; ++i) {
        m_threads[i].create(kThreadName);
        m_alive.fetch_add(1, std::memory_order_acq_rel);
        if (!m_threads[i].start(&m_workers[i]))
            QUERN_FATAL("Thread start failed");
    }
}

void TaskDispatcher::stop()
{
    if (m_workerCount == 0)
        return;
    m_running.store(false, std::memory_order_seq_cst);
    while (m_alive.load(std::memory_order_acquire) > 1) {
        const i32 sleeping = m_sleeping.load(std::memory_order_acquire);
        if (sleeping > 0)
            m_semaphore.release(sleeping);
        platform::yieldThread();
    }
    for (u32 i = 1; i < m_workerCount; ++i)
        m_threads[i].join();

    for (u32 i = 0; i < m_workerCount; ++i) {
        m_workers[i].~Worker();
        m_threads[i].clear();
        m_threads[i].~Thread();
        m_queues[i].~WorkerQueue();
    }
    m_allocator->free(m_workers);
    m_allocator->free(m_threads);
    m_allocator->free(m_queues);
    m_workers = nullptr;
    m_threads = nullptr;
    m_queues = nullptr;

    m_workerCount = 0;
    m_awake.store(0, std::memory_order_relaxed);
    m_alive.store(0, std::memory_order_relaxed);
}

void TaskDispatcher::submit(Task& task)
{
    const u32 itemCount = task.itemCount();
    if (m_workerCount == 0) {
        // Nothing to queue on: the work is done here and now.
        task.m_pending.store(0, std::memory_order_release);
        if (itemCount > 0)
            Task::runInline(task);
        return;
    }
    const u32 worker = requireWorker("Task submitted from a thread that is not a task dispatcher worker");

    // Negative while queuing, so that chunks finishing early cannot complete the task.
    task.m_pending.store(-1, std::memory_order_release);
    WorkerQueue& queue = m_queues[worker];
    u32 chunkSize = itemCount / static_cast<u32>(m_chunkDivisor);
    if (chunkSize == 0)
        chunkSize = 1;
    u32 remaining = itemCount;
    i32 queued = 0;
    while (remaining > 0) {
        if (chunkSize > remaining)
            chunkSize = remaining;
        const u32 size = chunkSize < Task::kMaxRangeItems ? chunkSize : Task::kMaxRangeItems;
        const TaskRange range{itemCount - remaining, static_cast<u16>(size), static_cast<u16>(worker)};
        remaining -= size;

        const u32 write = queue.writeIndex.load(std::memory_order_relaxed);
        const u32 slot = write & kSlotMask;
        if (queue.occupancy[slot].load(std::memory_order_acquire) == kSlotEmpty) {
            queue.slots[slot] = Chunk{&task, range};
            queue.occupancy[slot].store(kSlotFull, std::memory_order_release);
            queue.writeIndex.store(write + 1, std::memory_order_release);
            ++queued;
        } else {
            task.run(range); // queue full
        }
    }
    task.m_pending.fetch_add(queued + 1, std::memory_order_acq_rel);
    wakeSleepers();
}

void TaskDispatcher::wakeSleepers()
{
    // A read-modify-write, not a load: it is ordered against the sleeper's
    // decrement of awake, so either the sleeper sees the new chunks or this
    // sees the sleeper.
    const i32 awake = m_awake.fetch_add(0, std::memory_order_acq_rel);
    if (awake < m_alive.load(std::memory_order_acquire)) {
        const i32 sleeping = m_sleeping.load(std::memory_order_seq_cst);
        if (sleeping > 0)
            m_semaphore.release(sleeping);
    }
}

void TaskDispatcher::wait(Task& task)
{
    if (task.pending() == 0)
        return;
    const u32 worker = workerIndexOfCaller();
    if (worker == kNotAWorker || m_workerCount == 0) {
        // Not one of ours: running chunks here would race the owners of the queues.
        while (task.pending() != 0)
            platform::yieldThread();
        return;
    }
    u32 cursor = worker + 1;
    while (task.pending() != 0) {
        if (!runNextChunk(worker, cursor))
            platform::spinPause();
    }
}

void TaskDispatcher::runUntilIdle()
{
    if (m_workerCount == 0)
        return;
    const u32 worker = requireWorker("TaskDispatcher::runUntilIdle called from a thread that is not a task dispatcher worker");
    u32 cursor = worker + 1;
    for (;;) {
        runNextChunk(worker, cursor);
        if (anyQueueHasWork())
            continue;
        if (m_awake.load(std::memory_order_acquire) > 1)
            continue;
        return;
    }
}

bool TaskDispatcher::anyQueueHasWork() const
{
    for (u32 i = 0; i < m_workerCount; ++i)
        if (m_queues[i].hasWork())
            return true;
    return false;
}

bool TaskDispatcher::takeOwnChunk(u32 worker, Chunk& chunk)
{
    WorkerQueue& queue = m_queues[worker];
    const u32 write = queue.writeIndex.load(std::memory_order_relaxed);
    u32 read = queue.readIndex.load(std::memory_order_acquire);
    u32 i = write - 1;
    // Each failed claim moves one position down; after a full turn every slot was seen.
    for (u32 tried = 0; write != read && tried < kQueueSize; ++tried, --i) {
        u32 expected = kSlotFull;
        if (queue.occupancy[i & kSlotMask].compare_exchange_strong(expected, kSlotTaking, std::memory_order_acq_rel,
                                                                   std::memory_order_relaxed)) {
            chunk = queue.slots[i & kSlotMask];
            queue.occupancy[i & kSlotMask].store(kSlotEmpty, std::memory_order_release);
            queue.writeIndex.store(write - 1, std::memory_order_release);
            return true;
        }
        if (atOrPast(queue.stealLimit.load(std::memory_order_relaxed), i))
            return false;
        read = queue.readIndex.load(std::memory_order_acquire);
    }
    if (write == read)
        queue.stealLimit.store(read, std::memory_order_release);
    return false;
}

bool TaskDispatcher::stealChunk(WorkerQueue& victim, Chunk& chunk)
{
    u32 position = victim.readIndex.load(std::memory_order_acquire);
    // Bounded so that a thief moves on while the last chunks are being claimed.
    for (u32 tried = 0; tried < 2 * kQueueSize; ++tried, ++position) {
        const u32 write = victim.writeIndex.load(std::memory_order_acquire);
        if (write == victim.readIndex.load(std::memory_order_acquire))
            return false;
        if (atOrPast(position, write))
            position = victim.stealLimit.load(std::memory_order_acquire);
        u32 expected = kSlotFull;
        if (victim.occupancy[position & kSlotMask].compare_exchange_strong(
                expected, kSlotTaking, std::memory_order_acq_rel, std::memory_order_relaxed)) {
            victim.readIndex.fetch_add(1, std::memory_order_acq_rel);
            chunk = victim.slots[position & kSlotMask];
            victim.occupancy[position & kSlotMask].store(kSlotEmpty, std::memory_order_release);
            return true;
        }
    }
    return false;
}

bool TaskDispatcher::runNextChunk(u32 worker, u32& cursor)
{
    Chunk chunk;
    if (!takeOwnChunk(worker, chunk)) {
        bool stolen = false;
        for (u32 k = 0; k < m_workerCount && !stolen; ++k) {
            const u32 victim = (cursor + k) % m_workerCount;
            if (victim != worker && stealChunk(m_queues[victim], chunk)) {
                cursor = victim;
                stolen = true;
            }
        }
        if (!stolen)
            return false;
    }
    chunk.range.workerIndex = static_cast<u16>(worker);
    Task* task = chunk.task;
    task->run(chunk.range);
    // The last access to the task: once pending reaches 0 its owner may free it.
    task->m_pending.fetch_sub(1, std::memory_order_acq_rel);
    return true;
}

void TaskDispatcher::sleepWhenIdle(u32 worker)
{
    if (anyQueueHasWork())
        return;
    if (m_hooks.goingToSleep)
        m_hooks.goingToSleep(worker);
    // Counted as sleeping before not awake, so a submitter that sees fewer awake
    // workers also sees this one among the sleepers.
    m_sleeping.fetch_add(1, std::memory_order_acq_rel);
    m_awake.fetch_sub(1, std::memory_order_acq_rel);
    if (!anyQueueHasWork() && m_running.load(std::memory_order_acquire))
        m_semaphore.wait();
    m_sleeping.fetch_sub(1, std::memory_order_acq_rel);
    m_awake.fetch_add(1, std::memory_order_acq_rel);
    if (m_hooks.woken)
        m_hooks.woken(worker);
}

u32 TaskDispatcher::runWorker(u32 index)
{
    t_identity = WorkerIdentity{this, m_generation, index};
    m_awake.fetch_add(1, std::memory_order_acq_rel);
    if (m_hooks.threadStarted)
        m_hooks.threadStarted(index);

    u32 cursor = index + 1;
    u32 idlePasses = 0;
    while (m_running.load(std::memory_order_acquire)) {
        if (runNextChunk(index, cursor)) {
            idlePasses = 0;
        } else if (++idlePasses > kIdlePassesBeforeSleep) {
            sleepWhenIdle(index); // not reset: after a sleep, one empty pass is enough
        } else {
            platform::spinPause();
        }
    }

    m_alive.fetch_sub(1, std::memory_order_acq_rel);
    if (m_hooks.threadExiting)
        m_hooks.threadExiting(index);
    t_identity = WorkerIdentity{nullptr, 0, kNotAWorker};
    return 0;
}

} // namespace quern::threads
