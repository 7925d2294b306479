#include "harmonize/utils/AppEventQueue.h"

#include "quern/platform/ErrorReporting.h"

#include "support/SoftAssertRecorder.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace harmonize {
namespace {

using quern::testing::SoftAssertRecorder;

// Fills the ring with payload-free events until a post fails; returns how many fitted.
u32 fillWithQuits(AppEventQueue& queue)
{
    u32 count = 0;
    while (queue.post(AppEventType::Quit))
        ++count;
    return count;
}

TEST(AppEventTypeTest, NamesEveryTypeAndRefusesOthers)
{
    struct Case {
        i32 value;
        const char* name;
    } cases[] = {
        { 0, "Invalid" },
        { 1, "LoadLevel" },
        { 6, "LoadingFinished" },
        { 9, "Quit" },
        { 13, "ChangeDisplayResolution" },
        { 24, "PlayerAuth" },
        { 30, "InputContextChanged" },
        { 31, "SwitchProfile" },
        { 32, "<Invalid AppEventType>" },
        { -1, "<Invalid AppEventType>" },
        { 1 << 20, "<Invalid AppEventType>" },
    };
    for (const Case& c : cases)
        EXPECT_STREQ(toString(static_cast<AppEventType>(c.value)), c.name) << c.value;
}

TEST(AppEventTypeTest, StoredTypeIsValueMinusOne)
{
    EXPECT_EQ(storedTypeOf(AppEventType::LoadLevel), 0);
    EXPECT_EQ(storedTypeOf(AppEventType::SwitchProfile), kMaxStoredAppEventType);
    EXPECT_EQ(appEventTypeOf(8), AppEventType::Quit);
}

TEST(AppEventQueueTest, PlainPostOnAFullRingLosesTheEventAndDoesNotGrow)
{
    SoftAssertRecorder asserts;
    AppEventQueueStorage storage;
    const u32 fitted = fillWithQuits(storage.queue);
    EXPECT_GT(fitted, 400u);
    EXPECT_EQ(storage.queue.post(AppEventType::SwitchWorld), nullptr);
    EXPECT_EQ(storage.queue.postingCapacity(), 4096u);
    EXPECT_TRUE(SoftAssertRecorder::messages.empty());
}

TEST(AppEventQueueTest, TypedPostOnAFullRingReportsOnceAndGrows)
{
    struct Case {
        AppEventType type;
        u32 payloadSize;
        u64 initialCapacity;
        u64 grownCapacity;
    } cases[] = {
        // Growth adds the capacity itself as long as it exceeds four payloads.
        { AppEventType::LoadLevel, 12, 4096, 8192 },
        { AppEventType::ShowMenu, 2, 4096, 8192 },
        // A tiny ring grows by four payloads instead.
        { AppEventType::LoadingFinished, 16, 32, 96 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toString(c.type));
        SoftAssertRecorder asserts;
        AppEventQueueStorage storage(nullptr, c.initialCapacity);
        fillWithQuits(storage.queue);
        const u8 payload[16] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 };
        storage.queue.postEvent(c.type, payload, c.payloadSize);
        EXPECT_EQ(storage.queue.postingCapacity(), c.grownCapacity);
        ASSERT_EQ(SoftAssertRecorder::messages.size(), 1u);
        EXPECT_EQ(SoftAssertRecorder::messages[0], toString(c.type));

        // Everything posted before the growth still comes first, then the new event intact.
        while (storage.queue.frontStoredType() == storedTypeOf(AppEventType::Quit))
            storage.queue.drop();
        u8 out[16] = {};
        ASSERT_TRUE(storage.queue.popByType(out, sizeof out, storedTypeOf(c.type)));
        EXPECT_EQ(std::memcmp(out, payload, c.payloadSize), 0);
        EXPECT_TRUE(storage.queue.isEmpty());
    }
}

TEST(AppEventQueueTest, PushGrowingNeverReports)
{
    SoftAssertRecorder asserts;
    AppEventQueueStorage storage;
    fillWithQuits(storage.queue);
    const LoadLevelEvent load { -2, -1, 1, {} };
    storage.queue.pushGrowing(AppEventType::LoadLevel, &load, sizeof load);
    EXPECT_EQ(storage.queue.postingCapacity(), 8192u);
    EXPECT_TRUE(SoftAssertRecorder::messages.empty());
}

TEST(AppEventQueueTest, PushGrowingOnARingWithRoomKeepsItsSize)
{
    // Putting back a deferred event every frame must not grow the ring every frame.
    AppEventQueueStorage storage;
    const LoadLevelEvent load { 3, 1, 0, {} };
    for (int frame = 0; frame < 1000; ++frame) {
        storage.queue.pushGrowing(AppEventType::LoadLevel, &load, sizeof load);
        LoadLevelEvent out {};
        ASSERT_TRUE(storage.queue.popByType(out, storedTypeOf(AppEventType::LoadLevel)));
    }
    EXPECT_EQ(storage.queue.postingCapacity(), 4096u);
}

TEST(AppEventQueueTest, PopByTypeTakesOnlyTheMatchingHead)
{
    AppEventQueueStorage storage;
    storage.queue.postShowMenu({ 1, 0 });
    storage.queue.postLoadLevel({ 7, 2, 1, {} });

    LoadLevelEvent load {};
    EXPECT_FALSE(storage.queue.popByType(load, storedTypeOf(AppEventType::LoadLevel)));
    EXPECT_EQ(storage.queue.frontStoredType(), storedTypeOf(AppEventType::ShowMenu));

    // A wider output than the record carries reads zero beyond the payload.
    u8 wide[8];
    std::memset(wide, 0xcc, sizeof wide);
    ASSERT_TRUE(storage.queue.popByType(wide, sizeof wide, storedTypeOf(AppEventType::ShowMenu)));
    EXPECT_EQ(wide[0], 1);
    for (u32 i = 2; i < sizeof wide; ++i)
        EXPECT_EQ(wide[i], 0) << i;

    ASSERT_TRUE(storage.queue.popByType(load, storedTypeOf(AppEventType::LoadLevel)));
    EXPECT_EQ(load.level, 7);
    EXPECT_EQ(load.world, 2);
    EXPECT_EQ(load.switchWhenLoaded, 1);
    EXPECT_TRUE(storage.queue.isEmpty());
    storage.queue.drop(); // nothing to drop: no harm
    EXPECT_EQ(storage.queue.frontStoredType(), -1);
}

TEST(AppEventQueueTest, EventsWrapAroundTheRingInOrder)
{
    AppEventQueueStorage storage(nullptr, 256);
    i32 next = 0;
    i32 expected = 0;
    // Keep the ring half full while thousands of events pass through it.
    for (int round = 0; round < 2000; ++round) {
        storage.queue.postInputContextChanged({ next++ });
        if (round % 3 != 0) {
            storage.queue.postInputContextChanged({ next++ });
        }
        InputContextChangedEvent out {};
        ASSERT_TRUE(storage.queue.popByType(out, storedTypeOf(AppEventType::InputContextChanged)));
        ASSERT_EQ(out.switcherState, expected++);
    }
    InputContextChangedEvent out {};
    while (storage.queue.popByType(out, storedTypeOf(AppEventType::InputContextChanged)))
        ASSERT_EQ(out.switcherState, expected++);
    EXPECT_EQ(expected, next);
}

TEST(AppEventQueueTest, PostsFromManyThreadsArriveOnceAndInEachThreadsOrder)
{
    // Starts small so that posters grow the ring while the main thread drains it.
    AppEventQueueStorage storage(nullptr, 64);
    constexpr i32 kThreads = 4;
    constexpr i32 kPerThread = 20000;
    std::vector<std::thread> posters;
    for (i32 t = 0; t < kThreads; ++t)
        posters.emplace_back([&storage, t] {
            for (i32 i = 0; i < kPerThread; ++i)
                storage.queue.postLoadLevel({ i, t, 0, {} });
        });

    i32 nextOf[kThreads] = {};
    i32 received = 0;
    while (received < kThreads * kPerThread) {
        LoadLevelEvent event {};
        if (!storage.queue.popByType(event, storedTypeOf(AppEventType::LoadLevel)))
            continue;
        ASSERT_GE(event.world, 0);
        ASSERT_LT(event.world, kThreads);
        ASSERT_EQ(event.level, nextOf[event.world]++);
        ++received;
    }
    for (std::thread& poster : posters)
        poster.join();
    EXPECT_TRUE(storage.queue.isEmpty());
}

} // namespace
} // namespace harmonize
