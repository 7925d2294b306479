#include "harmonize/systems/CoroutineSystem.h"

#include "harmonize/systems/AppContext.h"
#include "quern/entity/World.h"
#include "quern/platform/FloatingPointTraps.h"
#include "support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::entity::World;

constexpr u64 kStep = 10'000; // microseconds: a fixed step of 0.01 s

// What the test callbacks read from their locals: a name for the log, and
// what to do when they run.
struct Script {
    char name;
    bool finish; // return false on the first run
    i32 children; // coroutines to start on the first run
    f32 wait; // set on every run
};

// Every run, in order, as "name@pass".
struct Log {
    std::vector<std::string> runs;
    i32 pass = 0;
    CoroutineSystem* system = nullptr;
};

bool scripted(void* userData, Coroutine& coroutine, World&, AppContext&)
{
    auto& log = *static_cast<Log*>(userData);
    Script script = coroutine.localsAs<Script>();
    log.runs.push_back(std::string(1, script.name) + "@" + std::to_string(log.pass));
    coroutine.wait = script.wait;
    if (coroutine.resumePoint == 0) {
        for (i32 child = 0; child < script.children; ++child)
            log.system->start(scripted, &log, Script { static_cast<char>('a' + child % 26), true, 0, 0.0f });
        if (script.finish) {
            coroutine.resumePoint = -1;
            return false;
        }
    }
    ++coroutine.resumePoint;
    return true;
}

class CoroutineSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        world.clock.step = kStep;
        system = new CoroutineSystem(context);
        world.addSystem(system);
        world.attachSystems(&allocator);
        log.system = system;
    }

    Coroutine& start(Script script) { return system->start(scripted, &log, script); }

    // Nothing starts coroutines on the frame list; the tests put them there.
    Coroutine pushFrameRecord(Script script, f32 wait)
    {
        Coroutine record {};
        record.localsAs<Script>() = script;
        record.wait = wait;
        record.callback = scripted;
        record.userData = &log;
        system->frameList().push(&record);
        return record;
    }

    // One fixed tick of the world: one pass over the fixed-tick list.
    void pass()
    {
        ++log.pass;
        world.fixedTick(1);
    }

    std::string names(const quern::containers::Array& list)
    {
        std::string out;
        for (u64 i = 0; i < list.count(); ++i)
            out += list.at<Coroutine>(i).locals[0];
        return out;
    }

    Coroutine& at(u64 index) { return system->fixedTickList().at<Coroutine>(index); }

    // Declared first so that it outlives the world and its system.
    quern::testing::CountingAllocator allocator;
    AppContext context;
    World world;
    CoroutineSystem* system = nullptr; // owned by the world
    Log log;
};

TEST_F(CoroutineSystemTest, StartAppendsAZeroedReadyRecordWithItsLocals)
{
    // A finished record leaves its bytes in the block; the next start must not inherit them.
    Coroutine& old = start({ 'o', false, 0, 0.0f });
    std::memset(&old, 0xff, sizeof(old));
    old.status = CoroutineStatus::Finished;
    pass();
    ASSERT_EQ(system->fixedTickList().count(), 0u);

    const quern::u32 locals = 0x01020304;
    int user = 0;
    Coroutine& fresh = system->start(scripted, &user, &locals, sizeof(locals));
    EXPECT_EQ(fresh.resumePoint, 0);
    EXPECT_EQ(fresh.wait, 0.0f);
    EXPECT_EQ(fresh.status, CoroutineStatus::Ready);
    EXPECT_EQ(fresh.callback, &scripted);
    EXPECT_EQ(fresh.userData, &user);
    u8 expected[Coroutine::kLocalsSize] = {};
    std::memcpy(expected, &locals, sizeof(locals));
    EXPECT_EQ(std::memcmp(fresh.locals, expected, sizeof(expected)), 0);
    EXPECT_EQ(system->frameList().count(), 0u);
}

TEST_F(CoroutineSystemTest, AStartedRecordRunsInTheNextPassAndOneStartedByACallbackLaterInTheSamePass)
{
    start({ 'A', false, 2, 0.5f });
    EXPECT_TRUE(log.runs.empty());
    pass();
    EXPECT_EQ(log.runs, (std::vector<std::string> { "A@1", "a@1", "b@1" }));
    EXPECT_EQ(names(system->fixedTickList()), "A");
}

TEST_F(CoroutineSystemTest, AFinishedRecordGoesAtTheEndOfItsPassAndTheOthersKeepTheirOrder)
{
    start({ 'A', false, 0, 0.0f });
    start({ 'B', true, 0, 0.0f });
    start({ 'C', false, 0, 0.0f });
    start({ 'D', true, 0, 0.0f });
    start({ 'E', false, 0, 0.0f });
    pass();
    EXPECT_EQ(log.runs, (std::vector<std::string> { "A@1", "B@1", "C@1", "D@1", "E@1" }));
    EXPECT_EQ(names(system->fixedTickList()), "ACE");
    for (u64 i = 0; i < 3; ++i) {
        EXPECT_EQ(at(i).status, CoroutineStatus::Ready) << i;
        EXPECT_EQ(at(i).resumePoint, 1) << i;
    }
}

TEST_F(CoroutineSystemTest, AWaitCountsDownFromThePassThatSetItInSinglePrecision)
{
    constexpr f32 kNaN = std::numeric_limits<f32>::quiet_NaN();
    constexpr f32 kInfinity = std::numeric_limits<f32>::infinity();
    struct Case {
        f32 wait; // set by the callback on its first run
        i32 nextRun; // the pass of its second run; 0 = none within ten passes
    } cases[] = {
        { 0.0f, 2 },
        { 0.01f, 2 }, // counted down to 0 in the pass that set it
        { 0.02f, 3 },
        { 0.015f, 3 }, // 0.005 left after one pass is still a wait
        { 0.05f, 6 },
        { -1.0f, 2 },
        { kNaN, 2 },
        { kInfinity, 0 },
    };
    for (const Case& c : cases) {
        log = { {}, 0, system };
        start({ 'W', false, 0, c.wait });
        i32 nextRun = 0;
        for (i32 p = 0; p < 10 && nextRun == 0; ++p) {
            pass();
            if (log.runs.size() == 2)
                nextRun = log.pass;
        }
        EXPECT_EQ(nextRun, c.nextRun) << c.wait;
        system->fixedTickList().clear();
    }
}

TEST_F(CoroutineSystemTest, AStoredNaNWaitIsDueAndCountsAsNoWait)
{
    start({ 'N', false, 0, 0.25f }).wait = std::numeric_limits<f32>::quiet_NaN();
    pass();
    EXPECT_EQ(log.runs, (std::vector<std::string> { "N@1" }));
    EXPECT_EQ(at(0).wait, 0.25f - 0.01f);
}

TEST_F(CoroutineSystemTest, NaNWaitsRaiseNoFloatingPointTrap)
{
    EXPECT_EXIT(
        {
            quern::platform::enableFloatingPointTraps();
            start({ 'N', false, 0, std::numeric_limits<f32>::quiet_NaN() }).wait
                = std::numeric_limits<f32>::quiet_NaN();
            pass();
            pass();
            quern::platform::maskFloatingPointTraps();
            std::exit(log.runs.size() == 2 && at(0).wait == 0.0f ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

bool endsTheRecordAfterIt(void* userData, Coroutine& coroutine, World&, AppContext&)
{
    auto& log = *static_cast<Log*>(userData);
    log.runs.push_back("X");
    coroutine.wait = 0.5f;
    log.system->fixedTickList().at<Coroutine>(1).status = CoroutineStatus::Finished;
    return true;
}

bool endsItself(void* userData, Coroutine& coroutine, World&, AppContext&)
{
    auto& log = *static_cast<Log*>(userData);
    log.runs.push_back("S");
    coroutine.wait = 0.5f;
    // Ended as a stop routine ends a coroutine: in the list, not in its own copy.
    auto& list = log.system->fixedTickList();
    for (u64 i = 0; i < list.count(); ++i)
        if (list.at<Coroutine>(i).callback == &endsItself)
            list.at<Coroutine>(i).status = CoroutineStatus::Finished;
    return true;
}

TEST_F(CoroutineSystemTest, ARecordEndedInTheListDuringThePassGoesEvenWhenItsCallbackKeepsGoing)
{
    system->start(endsTheRecordAfterIt, &log);
    start({ 'B', false, 0, 0.0f }); // ended before its turn: never runs
    system->start(endsItself, &log);
    start({ 'D', false, 0, 0.0f });
    pass();
    EXPECT_EQ(log.runs, (std::vector<std::string> { "X", "S", "D@1" }));
    ASSERT_EQ(system->fixedTickList().count(), 2u);
    EXPECT_EQ(at(0).callback, &endsTheRecordAfterIt);
    EXPECT_EQ(names(system->fixedTickList()).substr(1), "D");
}

TEST_F(CoroutineSystemTest, APausedContextFreezesWaitsCallbacksAndRemovals)
{
    start({ 'A', false, 0, 0.02f });
    start({ 'B', false, 0, 0.0f });
    pass(); // A: 0.01 left
    at(1).status = CoroutineStatus::Finished;
    const auto before = log.runs;
    context.paused = 1;
    for (i32 p = 0; p < 5; ++p)
        pass();
    EXPECT_EQ(log.runs, before);
    ASSERT_EQ(names(system->fixedTickList()), "AB");
    EXPECT_EQ(at(0).wait, 0.01f);

    context.paused = 0;
    pass(); // A counts down to 0, B goes
    pass();
    EXPECT_EQ(log.runs.back(), "A@8");
    EXPECT_EQ(names(system->fixedTickList()), "A");
}

TEST_F(CoroutineSystemTest, RestoreSnapshotBringsBackTheExactSavedRecordsOfBothLists)
{
    start({ 'A', false, 0, 0.03f });
    start({ 'B', false, 1, 0.0f });
    const Coroutine frame = pushFrameRecord({ 'F', false, 0, 0.1f }, 0.3f);
    pass();
    pass();

    system->saveSnapshot();
    const auto& list = system->fixedTickList();
    const std::vector<u8> saved(
        static_cast<const u8*>(list.data()), static_cast<const u8*>(list.data()) + list.usedBytes());
    ASSERT_EQ(names(list), "AB");
    EXPECT_EQ(at(0).resumePoint, 1);

    at(1).status = CoroutineStatus::Finished;
    for (i32 p = 0; p < 6; ++p)
        pass();
    start({ 'Z', false, 0, 1.0f });
    system->frameList().clear();
    ASSERT_NE(names(list), "AB");

    system->restoreSnapshot();
    ASSERT_EQ(list.count() * sizeof(Coroutine), saved.size());
    EXPECT_EQ(std::memcmp(list.data(), saved.data(), saved.size()), 0);
    ASSERT_EQ(system->frameList().count(), 1u);
    EXPECT_EQ(std::memcmp(system->frameList().data(), &frame, sizeof(frame)), 0);
    EXPECT_EQ(list.allocator(), &allocator);
}

TEST_F(CoroutineSystemTest, ASnapshotGrowsExactlyToALongList)
{
    for (i32 i = 0; i < 300; ++i)
        start({ 'a', false, 0, 1.0f });
    system->saveSnapshot();
    EXPECT_EQ(system->fixedTickSnapshot().count(), 300u);
    EXPECT_EQ(system->fixedTickSnapshot().capacity(), 300u);
}

TEST_F(CoroutineSystemTest, AttachReservesEachListAndAWorldClearDropsEveryCoroutine)
{
    const quern::containers::Array* lists[]
        = { &system->fixedTickList(), &system->fixedTickSnapshot(), &system->frameList(), &system->frameSnapshot() };
    for (const auto* list : lists) {
        EXPECT_EQ(list->capacity(), CoroutineSystem::kReservedRecords);
        EXPECT_EQ(list->allocator(), &allocator);
    }
    EXPECT_EQ(allocator.live, 4);

    start({ 'A', false, 0, 1.0f });
    system->saveSnapshot();
    world.clear();
    for (const auto* list : lists) {
        EXPECT_EQ(list->count(), 0u);
        EXPECT_EQ(list->capacity(), 0u);
        EXPECT_EQ(list->data(), nullptr);
    }
    EXPECT_EQ(allocator.live, 0);

    world.attachSystems(&allocator);
    for (const auto* list : lists) {
        EXPECT_EQ(list->count(), 0u);
        EXPECT_EQ(list->capacity(), CoroutineSystem::kReservedRecords);
    }
    pass();
    EXPECT_TRUE(log.runs.empty());
}

TEST(CoroutineSystem, AttachMovesRecordsOfAnotherAllocatorIntoTheLevelAllocator)
{
    quern::testing::CountingAllocator level;
    AppContext context;
    {
        CoroutineSystem system(context);
        Log log { {}, 0, &system };
        system.start(scripted, &log, Script { 'A', false, 0, 0.0f }); // before any level: the default allocator
        system.attach(&level);
        ASSERT_EQ(system.fixedTickList().count(), 1u);
        EXPECT_EQ(system.fixedTickList().at<Coroutine>(0).localsAs<Script>().name, 'A');
        EXPECT_EQ(system.fixedTickList().allocator(), &level);
        EXPECT_EQ(system.fixedTickList().capacity(), CoroutineSystem::kReservedRecords);
    }
    EXPECT_EQ(level.live, 0);
}

TEST_F(CoroutineSystemTest, ACallbackThatGrowsTheListPastItsReserveIsWrittenBackIntoTheNewBlock)
{
    start({ 'A', false, 300, 0.05f });
    pass();
    EXPECT_GT(system->fixedTickList().capacity(), CoroutineSystem::kReservedRecords);
    EXPECT_EQ(log.runs.size(), 301u); // every child ran in the same pass
    ASSERT_EQ(system->fixedTickList().count(), 1u);
    EXPECT_EQ(at(0).resumePoint, 1);
    EXPECT_EQ(at(0).wait, 0.05f - 0.01f);
    EXPECT_EQ(at(0).status, CoroutineStatus::Ready);
    EXPECT_EQ(at(0).localsAs<Script>().children, 300);
}

TEST_F(CoroutineSystemTest, TheFrameListCountsDownWithTheFrameDeltaOfTheWorldUpdate)
{
    pushFrameRecord({ 'F', false, 0, 0.0f }, 0.05f);
    start({ 'T', false, 0, 0.0f });

    u64 now = 1;
    world.update(now); // starts the clock: one fixed tick, no update
    EXPECT_EQ(log.runs, (std::vector<std::string> { "T@0" }));
    for (i32 frameIndex = 1; frameIndex <= 3; ++frameIndex) {
        log.pass = frameIndex;
        log.runs.clear();
        now += 25'000; // 2.5 fixed steps
        world.update(now);
        const bool frameRan = !log.runs.empty() && log.runs.back() == "F@" + std::to_string(frameIndex);
        EXPECT_EQ(frameRan, frameIndex == 3) << frameIndex; // 0.05 s at 0.025 s a frame
    }
    EXPECT_EQ(world.deltaTime, 0.025f);
}

TEST_F(CoroutineSystemTest, StartRefusesLocalsLargerThanTheRecordHolds)
{
    const u8 locals[Coroutine::kLocalsSize + 1] = {};
    EXPECT_DEATH(system->start(scripted, &log, locals, sizeof(locals)), "Coroutine locals exceed 64 bytes");
    EXPECT_DEATH(system->start(nullptr, &log), "Coroutine started without a callback");
}

} // namespace
} // namespace harmonize
