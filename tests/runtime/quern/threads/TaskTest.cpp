#include "quern/threads/Task.h"

#include <gtest/gtest.h>

#include <vector>

namespace quern::threads {
namespace {

class RecordingTask final : public Task {
public:
    using Task::Task;
    void run(TaskRange range) override { ranges.push_back(range); }
    std::vector<TaskRange> ranges;
};

struct Range {
    u32 first, count;
};

TEST(Task, RunInlineSplitsIntoRangesOfAtMost65535Items)
{
    struct Case {
        u32 items;
        std::vector<Range> expected;
    };
    const Case cases[] = {
        {0, {{0, 0}}},
        {1, {{0, 1}}},
        {65535, {{0, 65535}}},
        {65536, {{0, 65535}, {65535, 1}}},
        {70000, {{0, 65535}, {65535, 4465}}},
        {131070, {{0, 65535}, {65535, 65535}}},
        {200000, {{0, 65535}, {65535, 65535}, {131070, 65535}, {196605, 3395}}},
    };
    for (const Case& c : cases) {
        RecordingTask task(c.items);
        Task::runInline(task);
        ASSERT_EQ(task.ranges.size(), c.expected.size()) << c.items;
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(task.ranges[i].firstItem, c.expected[i].first) << c.items << " range " << i;
            EXPECT_EQ(task.ranges[i].itemCount, c.expected[i].count) << c.items << " range " << i;
            EXPECT_EQ(task.ranges[i].workerIndex, 0u);
        }
    }
}

TEST(Task, NewTaskIsComplete)
{
    RecordingTask task(10);
    EXPECT_EQ(task.itemCount(), 10u);
    EXPECT_EQ(task.pending(), 0);
    EXPECT_TRUE(task.isComplete());
}

} // namespace
} // namespace quern::threads
