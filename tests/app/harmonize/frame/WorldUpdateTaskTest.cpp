#include "harmonize/frame/WorldUpdateTask.h"

#include "harmonize/Scenario.h"
#include "harmonize/utils/FrameStatistics.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "harmonize/utils/CurrentWorld.h"
#include "quern/entity/System.h"
#include "quern/platform/Clock.h"

#include "support/harmonize/ThreadingSettings.h"

#include <gtest/gtest.h>

#include <atomic>

namespace harmonize {
namespace {

using testing::threading;

// Notes the current world its update sees, and lets time pass while it runs.
class WorldProbe final : public quern::entity::System {
public:
    explicit WorldProbe(quern::platform::ManualCounterSource* counter, u64 ticks)
        : m_counter(counter)
        , m_ticks(ticks)
    {
    }
    void fixedTick(quern::entity::UpdateContext*, quern::entity::World&) override { note(); }
    void update(quern::entity::UpdateContext*, quern::entity::World&) override { note(); }
    void note()
    {
        seen.store(currentWorld());
        ++updates;
        if (m_counter)
            m_counter->advance(m_ticks);
    }
    std::atomic<quern::entity::World*> seen { nullptr };
    std::atomic<int> updates { 0 };

private:
    quern::platform::ManualCounterSource* m_counter;
    u64 m_ticks;
};

TEST(WorldUpdateTaskTest, SetsTheCurrentWorldAndTimesTheUpdate)
{
    quern::platform::ManualCounterSource counter(1000);
    quern::platform::ScopedCounterSource scoped(counter);
    testing::Scenario scenario;
    auto* probe = new WorldProbe(&counter, 2500); // 250 us
    scenario.addSystem(probe);
    scenario.start();

    WorldUpdateTask task;
    task.prepare(scenario.world(), nullptr, 1'000'000);
    quern::threads::Task::runInline(task);
    task.prepare(scenario.world(), nullptr, 1'100'000);
    const int before = probe->updates.load();
    quern::threads::Task::runInline(task);
    const int calls = probe->updates.load() - before;
    ASSERT_GT(calls, 0);
    EXPECT_EQ(probe->seen.load(), &scenario.world());
    EXPECT_EQ(currentFrameStatistics().timings[kWorldUpdateTiming].load(), 250u * static_cast<u64>(calls));
    setCurrentWorld(nullptr);
}

TEST(WorldUpdateTaskTest, ParallelUpdatesEachSeeTheirOwnWorld)
{
    TaskDispatcher dispatcher;
    dispatcher.start(threading(true, 3, 0), 3);
    ASSERT_TRUE(dispatcher.threaded());
    testing::Scenario first;
    testing::Scenario second;
    auto* firstProbe = new WorldProbe(nullptr, 0);
    auto* secondProbe = new WorldProbe(nullptr, 0);
    first.addSystem(firstProbe);
    second.addSystem(secondProbe);
    first.start();
    second.start();

    WorldUpdateTask tasks[2];
    for (u64 frame = 1; frame <= 200; ++frame) {
        tasks[0].prepare(first.world(), nullptr, frame * 16'666);
        tasks[1].prepare(second.world(), nullptr, frame * 16'666);
        dispatcher.run(tasks[0]);
        dispatcher.run(tasks[1]);
        dispatcher.wait(tasks[0]);
        dispatcher.wait(tasks[1]);
        ASSERT_EQ(firstProbe->seen.load(), &first.world());
        ASSERT_EQ(secondProbe->seen.load(), &second.world());
    }
    EXPECT_GE(firstProbe->updates.load(), 199);
    // The main thread's own slot belongs to it alone.
    setCurrentWorld(nullptr);
    dispatcher.stop();
}

} // namespace
} // namespace harmonize
