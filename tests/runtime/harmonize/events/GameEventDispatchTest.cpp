#include "EventTestWorld.h"

#include "harmonize/components/Components.h"
#include "harmonize/utils/FrameStatistics.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

using testing::EventTestWorld;

TEST(GameEventDispatchTest, DrainsEveryRecordOldestFirstAndCountsEach)
{
    EventTestWorld events;
    const EntityHandle platform = events.scene.add("platform", { "Platform" });
    const EntityHandle player = events.scene.add("player", { "PlayerMovement", "PlayerState" });

    // Every type once, with rules or without, then an exit after an enter:
    // the occupancy ends at 0 only when the enter ran first.
    events.push(GameEventType::ContactBegin, PairEvent { platform.value, player.value });
    events.push(GameEventType::ContactStay, PairEvent { platform.value, player.value });
    events.push(GameEventType::ContactEnd, PairEvent { platform.value, player.value });
    events.push(GameEventType::TriggerStay, PairEvent { platform.value, player.value });
    events.push(GameEventType::MovementStateChanged, PlayerEvent { 3, player.value });
    events.push(GameEventType::FacingChanged, PlayerEvent { -1, player.value });
    events.push(GameEventType::RaceChanged, RaceChangedEvent { 2, player.value, 0 });
    events.pushPair(GameEventType::TriggerEnter, platform, player);
    events.pushPair(GameEventType::TriggerEnter, platform, player);
    events.pushPair(GameEventType::TriggerExit, platform, player);

    const u32 countedBefore = currentFrameStatistics().gameEvents.load();
    events.dispatch();
    EXPECT_EQ(currentFrameStatistics().gameEvents.load() - countedBefore, 10u);
    EXPECT_TRUE(events.queue.isEmpty());
    EXPECT_EQ(events.scene.get<Platform>(platform).occupancy, 1);
    EXPECT_EQ(events.scene.get<PlayerState>(player).facingCode, -1);
}

TEST(GameEventDispatchTest, DrainsRecordsPastTheRingsWrap)
{
    EventTestWorld events;
    const EntityHandle platform = events.scene.add("platform", { "Platform" });
    const EntityHandle player = events.scene.add("player", { "PlayerMovement" });
    events.queue.reserve(64); // three 16-byte records; the fourth goes to the ring's start

    events.pushPair(GameEventType::TriggerEnter, platform, player);
    events.pushPair(GameEventType::TriggerEnter, platform, player);
    events.pushPair(GameEventType::TriggerEnter, player, platform);
    events.queue.pop(); // room at the start for one more
    events.pushPair(GameEventType::TriggerEnter, player, platform);
    const auto* marker = reinterpret_cast<const quern::containers::EventHeader*>(events.queue.buffer() + 48);
    ASSERT_EQ(marker->type, quern::containers::kEventWrapMarker);

    events.dispatch();
    EXPECT_TRUE(events.queue.isEmpty());
    EXPECT_EQ(events.scene.get<Platform>(platform).occupancy, 3);
}

TEST(GameEventDispatchTest, AnEmptyQueueCountsNothing)
{
    EventTestWorld events;
    const u32 countedBefore = currentFrameStatistics().gameEvents.load();
    events.dispatch();
    EXPECT_EQ(currentFrameStatistics().gameEvents.load(), countedBefore);
}

TEST(GameEventDispatchDeathTest, ATypeOutsideTheEnumerationIsFatal)
{
    // 0x8000 and up read as negative types.
    for (const u16 type : { u16 { 9 }, u16 { 100 }, u16 { 0x8000 }, u16 { 0xfffe } }) {
        EXPECT_DEATH(
            {
                EventTestWorld events;
                events.push(static_cast<GameEventType>(type), PairEvent { 0, 0 });
                events.dispatch();
            },
            "Invalid event type")
            << type;
    }
}

} // namespace
} // namespace harmonize
