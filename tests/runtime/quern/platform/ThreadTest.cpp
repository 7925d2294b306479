#include "quern/platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

namespace quern::platform {
namespace {

struct Probe {
    std::atomic<int> runs{0};
    char name[32] = {};
    u32 result = 0;
};

u32 probeEntry(void* argument)
{
    Probe& probe = *static_cast<Probe*>(argument);
    getCurrentThreadName(probe.name, sizeof(probe.name));
    probe.runs.fetch_add(1);
    return probe.result;
}

TEST(NativeThread, CreatedSuspendedAndRunsOnlyWhenResumed)
{
    Probe probe;
    probe.result = 77;
    NativeThread thread;
    EXPECT_FALSE(thread.isCreated());
    ASSERT_TRUE(thread.create(&probeEntry, &probe, "Worker"));
    EXPECT_TRUE(thread.isCreated());
    EXPECT_FALSE(thread.isActive());
    EXPECT_FALSE(thread.isJoinable());
    EXPECT_FALSE(thread.join()); // nothing started: nothing to join
    EXPECT_EQ(probe.runs.load(), 0);

    ASSERT_TRUE(thread.resume());
    ASSERT_TRUE(thread.join());
    EXPECT_EQ(probe.runs.load(), 1);
    EXPECT_EQ(thread.exitCode(), 77u);
    EXPECT_FALSE(thread.isActive());
}

TEST(NativeThread, JoinsExactlyOnceAndResumesOnlyOnce)
{
    Probe probe;
    NativeThread thread;
    ASSERT_TRUE(thread.create(&probeEntry, &probe, nullptr));
    ASSERT_TRUE(thread.resume());
    EXPECT_FALSE(thread.resume());
    EXPECT_FALSE(thread.create(&probeEntry, &probe, nullptr)); // not joined yet
    EXPECT_TRUE(thread.join());
    EXPECT_FALSE(thread.join());
    EXPECT_FALSE(thread.resume());
    EXPECT_EQ(probe.runs.load(), 1);

    // A joined record can be made afresh.
    ASSERT_TRUE(thread.create(&probeEntry, &probe, nullptr));
    ASSERT_TRUE(thread.resume());
    EXPECT_TRUE(thread.join());
    EXPECT_EQ(probe.runs.load(), 2);
}

TEST(NativeThread, NamesAreSetOnTheThreadAndCutToFifteenCharacters)
{
    struct Case {
        const char* given;
        const char* seen;
    };
    const Case cases[] = {
        {"TaskDispatcher", "TaskDispatcher"},
        {"ExactlyFifteen!", "ExactlyFifteen!"},
        {"AMuchLongerThreadName", "AMuchLongerThre"},
    };
    for (const Case& c : cases) {
        Probe probe;
        NativeThread thread;
        ASSERT_TRUE(thread.create(&probeEntry, &probe, c.given));
        EXPECT_STREQ(thread.name(), c.seen);
        ASSERT_TRUE(thread.resume());
        ASSERT_TRUE(thread.join());
        EXPECT_STREQ(probe.name, c.seen);
    }
}

TEST(NativeThread, IdsAreUniqueAndGivenAtCreation)
{
    Probe probe;
    NativeThread first, second;
    EXPECT_EQ(first.id(), 0u);
    ASSERT_TRUE(first.create(&probeEntry, &probe, nullptr));
    ASSERT_TRUE(second.create(&probeEntry, &probe, nullptr));
    EXPECT_NE(first.id(), 0u);
    EXPECT_NE(first.id(), second.id());
}

TEST(NativeThread, ActiveUntilTheEntryReturns)
{
    struct Gate {
        std::atomic<bool> open{false};
        std::atomic<bool> entered{false};
    } gate;
    NativeThread thread;
    ASSERT_TRUE(thread.create(
        [](void* argument) -> u32 {
            Gate& g = *static_cast<Gate*>(argument);
            g.entered = true;
            while (!g.open)
                yieldThread();
            return 5;
        },
        &gate, nullptr));
    ASSERT_TRUE(thread.resume());
    while (!gate.entered)
        yieldThread();
    EXPECT_TRUE(thread.isActive());
    gate.open = true;
    ASSERT_TRUE(thread.join());
    EXPECT_FALSE(thread.isActive());
    EXPECT_EQ(thread.exitCode(), 5u);
}

TEST(NativeThread, DestroyingAResumedRecordWaitsForTheThread)
{
    Probe probe;
    {
        NativeThread thread;
        ASSERT_TRUE(thread.create(&probeEntry, &probe, nullptr));
        ASSERT_TRUE(thread.resume());
    }
    EXPECT_EQ(probe.runs.load(), 1);
}

TEST(NativeThread, CurrentThreadNameRoundTrips)
{
    char before[32];
    getCurrentThreadName(before, sizeof(before));
    setCurrentThreadName("RenamedForTest");
    char after[32];
    getCurrentThreadName(after, sizeof(after));
    EXPECT_STREQ(after, "RenamedForTest");
    char tiny[4];
    getCurrentThreadName(tiny, sizeof(tiny));
    EXPECT_STREQ(tiny, "Ren");
    setCurrentThreadName(before);
}

} // namespace
} // namespace quern::platform
