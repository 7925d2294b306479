#include "quern/threads/TaskDispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

namespace quern::threads {
namespace {

// Every item of level L submits a task of its own and waits for it, down to the
// last level; each leaf item counts itself in its own slot.
class NestedTask final : public Task {
public:
    NestedTask(TaskDispatcher& dispatcher, const std::vector<u32>& fanOut, u32 level, u64 base,
               std::vector<std::atomic<int>>& leafCounts)
        : Task(fanOut[level]), m_dispatcher(dispatcher), m_fanOut(fanOut), m_level(level), m_base(base),
          m_leafCounts(leafCounts)
    {
    }

    void run(TaskRange range) override
    {
        for (u32 item = range.firstItem; item < range.firstItem + range.itemCount; ++item) {
            const u64 index = m_base * m_fanOut[m_level] + item;
            if (m_level + 1 == m_fanOut.size()) {
                m_leafCounts[index].fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            NestedTask child(m_dispatcher, m_fanOut, m_level + 1, index, m_leafCounts);
            m_dispatcher.submit(child);
            m_dispatcher.wait(child);
            if (!child.isComplete())
                m_leafCounts[0].fetch_add(1000); // a wait that returned early
        }
    }

private:
    TaskDispatcher& m_dispatcher;
    const std::vector<u32>& m_fanOut;
    u32 m_level;
    u64 m_base;
    std::vector<std::atomic<int>>& m_leafCounts;
};

u64 leafCount(const std::vector<u32>& fanOut)
{
    u64 leaves = 1;
    for (u32 n : fanOut)
        leaves *= n;
    return leaves;
}

TEST(TaskDispatcherStress, NestedSubmitAndWaitRunsEveryItemExactlyOnce)
{
    struct Case {
        u32 workers;
        std::vector<u32> fanOut;
    };
    const Case cases[] = {
        {8, {64, 32, 16}},
        {4, {8, 8, 8, 8}},
        {3, {300, 40}},
        {2, {2, 2, 2, 2, 2, 2, 2, 2, 2}},
        {8, {1, 1, 1, 5000}},
    };
    for (const Case& c : cases) {
        TaskDispatcher dispatcher;
        dispatcher.start(c.workers);
        for (int round = 0; round < 5; ++round) {
            std::vector<std::atomic<int>> counts(leafCount(c.fanOut));
            NestedTask root(dispatcher, c.fanOut, 0, 0, counts);
            dispatcher.submit(root);
            dispatcher.wait(root);
            u64 wrong = 0;
            for (const std::atomic<int>& count : counts)
                wrong += count.load() == 1 ? 0 : 1;
            ASSERT_EQ(wrong, 0u) << c.workers << " workers, round " << round;
        }
        dispatcher.stop();
    }
}

// Many small independent tasks in flight at once from every worker, some
// overflowing the queues, while workers fall asleep and are woken again.
TEST(TaskDispatcherStress, ManyTasksInFlightFromEveryWorker)
{
    class Spawner final : public Task {
    public:
        Spawner(TaskDispatcher& dispatcher, std::atomic<u64>& total) : Task(64), m_dispatcher(dispatcher), m_total(total) {}
        void run(TaskRange range) override
        {
            for (u32 i = 0; i < range.itemCount; ++i) {
                class Leaf final : public Task {
                public:
                    Leaf(std::atomic<u64>& total, u32 items) : Task(items), m_total(total) {}
                    void run(TaskRange r) override { m_total.fetch_add(r.itemCount, std::memory_order_relaxed); }

                private:
                    std::atomic<u64>& m_total;
                };
                std::vector<std::unique_ptr<Leaf>> leaves;
                for (u32 k = 0; k < 300; ++k) {
                    leaves.push_back(std::make_unique<Leaf>(m_total, 1 + k % 7));
                    m_dispatcher.submit(*leaves.back());
                }
                for (auto& leaf : leaves)
                    m_dispatcher.wait(*leaf);
            }
        }

    private:
        TaskDispatcher& m_dispatcher;
        std::atomic<u64>& m_total;
    };

    u64 perSpawnerItem = 0;
    for (u32 k = 0; k < 300; ++k)
        perSpawnerItem += 1 + k % 7;

    TaskDispatcher dispatcher;
    dispatcher.start(6);
    for (int round = 0; round < 4; ++round) {
        std::atomic<u64> total{0};
        Spawner spawner(dispatcher, total);
        dispatcher.submit(spawner);
        dispatcher.wait(spawner);
        ASSERT_EQ(total.load(), 64 * perSpawnerItem) << "round " << round;
    }
}

} // namespace
} // namespace quern::threads
