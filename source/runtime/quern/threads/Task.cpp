#include "quern/threads/Task.h"

namespace quern::threads {

void Task::runInline(Task& task)
{
    const u32 count = task.itemCount();
    if (count == 0) {
        task.run(TaskRange{0, 0, 0});
        return;
    }
    u32 first = 0;
    while (count - first >= kMaxRangeItems + 1) {
        task.run(TaskRange{first, static_cast<u16>(kMaxRangeItems), 0});
        first += kMaxRangeItems;
    }
    if (first < count)
        task.run(TaskRange{first, static_cast<u16>(count - first), 0});
}

} // namespace quern::threads
