#pragma once
// A unit of parallel work: a number of items that `run` processes range by range.
// The dispatcher splits a task into chunks; the task is complete when its pending
// count is back to 0.

#include "quern/Types.h"

#include <atomic>

namespace quern::threads {

struct TaskRange {
    u32 firstItem;
    u16 itemCount;
    u16 workerIndex; // the worker that runs this range
};
static_assert(sizeof(TaskRange) == 8);

class Task {
public:
    // Largest number of items one range carries.
    static constexpr u32 kMaxRangeItems = 0xFFFF;

    explicit Task(u32 itemCount = 0) : m_itemCount(itemCount) {}
    virtual ~Task() = default;
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    virtual void run(TaskRange range) = 0;

    // Runs every item on the calling thread, in ranges of at most kMaxRangeItems,
    // worker index 0; a task without items gets one call with an empty range.
    static void runInline(Task& task);

    u32 itemCount() const { return m_itemCount; }
    void setItemCount(u32 itemCount) { m_itemCount = itemCount; }
    // Chunks not finished yet; 0 when the task is complete.
    i32 pending() const { return m_pending.load(std::memory_order_acquire); }
    bool isComplete() const { return pending() == 0; }

private:
    friend class TaskDispatcher;

    u32 m_itemCount;
    std::atomic<i32> m_pending{0};
};

} // namespace quern::threads
