#include "EventTestWorld.h"

#include "harmonize/components/Components.h"
#include "harmonize/systems/SubtitleSystem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace harmonize {
namespace {

using testing::EventTestWorld;

constexpr u32 kInside = 1u << 0;
constexpr u32 kRaceMatch = 1u << 1;
constexpr u32 kSaved = 1u << 2;
constexpr u32 kRespawn = 1u << 3;

// A player beside one trigger entity of each kind the dispatcher itself serves.
struct TriggerWorld : EventTestWorld {
    EntityHandle player = scene.add("player", { "PlayerMovement", "PlayerState", "Race" });
    EntityHandle platform = scene.add("platform", { "Platform" });
    EntityHandle savePoint = scene.add("savepoint", { "SavePointTrigger", "Race" });
    EntityHandle subtitle = scene.add("subtitle", { "SubtitleTrigger" });
    EntityHandle bystander = scene.add("bystander", { "Race" }); // touches triggers, is no player

    // One event of `type` between the player and each trigger, the player
    // named first or second.
    void touchAll(GameEventType type, bool playerFirst)
    {
        for (EntityHandle trigger : { platform, savePoint, subtitle }) {
            if (playerFirst)
                pushPair(type, player, trigger);
            else
                pushPair(type, trigger, player);
        }
    }
};

TEST(GameEventRulesTest, APairTriggersTheSameRulesInEitherOrder)
{
    for (const GameEventType type : { GameEventType::TriggerEnter, GameEventType::TriggerExit }) {
        TriggerWorld forward;
        TriggerWorld reversed;
        for (TriggerWorld* world : { &forward, &reversed }) {
            world->scene.get<Platform>(world->platform).occupancy = 1;
            world->touchAll(type, world == &forward);
            world->dispatch();
        }
        const bool enter = type == GameEventType::TriggerEnter;
        // Each rule acted, so equal records mean the same rules ran.
        EXPECT_EQ(forward.scene.get<Platform>(forward.platform).occupancy, enter ? 2 : 0);
        // The races match: entering and leaving both say so.
        EXPECT_EQ(forward.scene.get<SavePointTrigger>(forward.savePoint).flags, enter ? kInside | kRaceMatch : kRaceMatch);
        EXPECT_EQ(forward.scene.get<SubtitleTrigger>(forward.subtitle).done, enter ? 0 : 1);
        for (const u32 componentType : { Platform::kType, SavePointTrigger::kType, SubtitleTrigger::kType }) {
            const EntityHandle entity = componentType == Platform::kType ? forward.platform
                : componentType == SavePointTrigger::kType               ? forward.savePoint
                                                                         : forward.subtitle;
            EXPECT_EQ(std::memcmp(forward.scene.bytes(entity, componentType),
                          reversed.scene.bytes(entity, componentType), ComponentSizeTable[componentType]),
                0)
                << "type " << componentType << (enter ? " on enter" : " on exit");
        }
    }
}

TEST(GameEventRulesTest, PlatformOccupancyCountsOverlapsAndNeverGoesNegative)
{
    constexpr i32 kLargest = std::numeric_limits<i32>::max();
    struct Step {
        GameEventType type;
        bool playerFirst;
    };
    const struct {
        const char* what;
        i32 start;
        std::vector<Step> steps;
        i32 expected;
    } cases[] = {
        { "two triggers entering at once", 0,
            { { GameEventType::TriggerEnter, true }, { GameEventType::TriggerEnter, false } }, 2 },
        { "an exit without an enter", 0, { { GameEventType::TriggerExit, true } }, 0 },
        { "enter and exit named either way round", 0,
            { { GameEventType::TriggerEnter, false }, { GameEventType::TriggerExit, true } }, 0 },
        { "a negative count from the level file", -5, { { GameEventType::TriggerEnter, true } }, 0 },
        { "the largest count entered again", kLargest, { { GameEventType::TriggerEnter, true } }, kLargest },
        { "contacts and stays", 1,
            { { GameEventType::ContactBegin, true }, { GameEventType::ContactEnd, true },
                { GameEventType::TriggerStay, true } },
            1 },
    };
    for (const auto& c : cases) {
        TriggerWorld world;
        world.scene.get<Platform>(world.platform).occupancy = c.start;
        for (const Step& step : c.steps) {
            if (step.playerFirst)
                world.pushPair(step.type, world.player, world.platform);
            else
                world.pushPair(step.type, world.platform, world.player);
        }
        world.dispatch();
        EXPECT_EQ(world.scene.get<Platform>(world.platform).occupancy, c.expected) << c.what;
    }
}

TEST(GameEventRulesTest, SavePointInsideBitFollowsEnterAndExit)
{
    const struct {
        u32 start;
        GameEventType type;
        u32 expected;
        i32 savePointRace = 0; // the player's is 0
    } cases[] = {
        { kRaceMatch, GameEventType::TriggerEnter, kInside, 2 },
        { kInside | kRaceMatch, GameEventType::TriggerExit, 0, 2 },
        { 0, GameEventType::TriggerEnter, kInside | kRaceMatch, 1 },
        { kRaceMatch | kSaved, GameEventType::TriggerEnter, kInside | kRaceMatch | kSaved },
        { kInside, GameEventType::TriggerEnter, kInside | kRaceMatch },
        { kInside | kRaceMatch | kSaved | kRespawn, GameEventType::TriggerExit, kRaceMatch | kSaved | kRespawn },
        { 0, GameEventType::TriggerExit, kRaceMatch },
        { kRespawn, GameEventType::TriggerStay, kRespawn },
    };
    for (const auto& c : cases) {
        TriggerWorld world;
        world.scene.get<SavePointTrigger>(world.savePoint).flags = c.start;
        world.scene.get<Race>(world.savePoint).value = c.savePointRace;
        world.pushPair(c.type, world.savePoint, world.player);
        world.dispatch();
        EXPECT_EQ(world.scene.get<SavePointTrigger>(world.savePoint).flags, c.expected)
            << "from " << c.start << " by type " << static_cast<int>(c.type);
    }
}

TEST(GameEventRulesTest, LeavingASpeechTriggerTakesTheDifferenceOfItsTimesOffItsThird)
{
    TriggerWorld world;
    const EntityHandle speech = world.scene.add("speech", { "SpeechTrigger" });
    SpeechTrigger& record = world.scene.get<SpeechTrigger>(speech);
    record.value28 = 5.0f;
    record.value32 = 2.0f;
    record.value48 = 10.0f;
    world.pushPair(GameEventType::TriggerExit, speech, world.player);
    world.pushPair(GameEventType::TriggerEnter, world.player, speech);
    world.pushPair(GameEventType::TriggerExit, world.bystander, speech);
    world.dispatch();
    // Only the player's leaving counts; entering changes nothing.
    EXPECT_EQ(world.scene.get<SpeechTrigger>(speech).value48, 7.0f);
}

TEST(GameEventRulesTest, TriggersTouchedByAnEntityThatIsNoPlayerKeepTheirState)
{
    TriggerWorld world;
    world.scene.get<Platform>(world.platform).occupancy = 1;
    world.scene.get<SavePointTrigger>(world.savePoint).flags = kInside;
    for (const EntityHandle trigger : { world.platform, world.savePoint, world.subtitle }) {
        world.pushPair(GameEventType::TriggerEnter, world.bystander, trigger);
        world.pushPair(GameEventType::TriggerExit, trigger, world.bystander);
        world.pushPair(GameEventType::TriggerExit, trigger, trigger);
    }
    world.dispatch();
    EXPECT_EQ(world.scene.get<Platform>(world.platform).occupancy, 1);
    EXPECT_EQ(world.scene.get<SavePointTrigger>(world.savePoint).flags, kInside);
    EXPECT_EQ(world.scene.get<SubtitleTrigger>(world.subtitle).done, 0);
}

TEST(GameEventRulesTest, RaceChangeSetsTheTouchedSavePointsRaceMatch)
{
    const struct {
        i32 playerRace, savePointRace;
        bool match;
    } cases[] = {
        { 0, 2, false },
        { 2, 0, false },
        { 0, 0, true },
        { 2, 2, true },
        { 1, 0, true },
        { 1, 2, true },
        { 0, 1, true },
        { 1, 1, true },
    };
    for (const auto& c : cases) {
        TriggerWorld world;
        world.scene.get<Race>(world.player).value = c.playerRace;
        world.scene.get<Race>(world.savePoint).value = c.savePointRace;
        // The other bits stay; the race-match bit starts as the opposite of the answer.
        world.scene.get<SavePointTrigger>(world.savePoint).flags = kInside | kRespawn | (c.match ? 0 : kRaceMatch);
        world.push(
            GameEventType::RaceChanged, RaceChangedEvent { c.playerRace, world.player.value, world.savePoint.value });
        world.dispatch();
        EXPECT_EQ(
            world.scene.get<SavePointTrigger>(world.savePoint).flags, kInside | kRespawn | (c.match ? kRaceMatch : 0))
            << c.playerRace << " against " << c.savePointRace;
    }
}

TEST(GameEventRulesTest, RaceChangeWithoutATouchedSavePointChangesNoFlags)
{
    TriggerWorld world;
    world.scene.get<Race>(world.player).value = 0;
    world.scene.get<Race>(world.savePoint).value = 2;
    const EntityHandle noRace = world.scene.add("bare savepoint", { "SavePointTrigger" });
    const u32 savePointIndex = world.savePoint.index();
    const struct {
        const char* what;
        u32 player, trigger;
    } cases[] = {
        { "no trigger", world.player.value, 0 },
        { "generation 0", world.player.value, EntityHandle::make(static_cast<u16>(savePointIndex), 0).value },
        { "the no-entity index", world.player.value, EntityHandle::make(EntityHandle::kNoIndex, 1).value },
        { "an index past the world's slots", world.player.value, EntityHandle::make(60, 1).value },
        { "a trigger that is no save point", world.player.value, world.platform.value },
        { "a save point without a race", world.player.value, noRace.value },
        { "a player past the world's slots", EntityHandle::make(60, 1).value, world.savePoint.value },
        { "a player without a race", world.subtitle.value, world.savePoint.value },
    };
    for (const auto& c : cases) {
        world.scene.get<SavePointTrigger>(world.savePoint).flags = kRaceMatch;
        world.scene.get<SavePointTrigger>(noRace).flags = kRaceMatch;
        world.push(GameEventType::RaceChanged, RaceChangedEvent { 0, c.player, c.trigger });
        world.dispatch();
        EXPECT_EQ(world.scene.get<SavePointTrigger>(world.savePoint).flags, kRaceMatch) << c.what;
        EXPECT_EQ(world.scene.get<SavePointTrigger>(noRace).flags, kRaceMatch) << c.what;
    }
}

TEST(GameEventRulesTest, SubtitleTriggerIsDoneOnceThePlayerLeaves)
{
    TriggerWorld world;
    world.pushPair(GameEventType::TriggerEnter, world.player, world.subtitle);
    world.dispatch();
    EXPECT_EQ(world.scene.get<SubtitleTrigger>(world.subtitle).done, 0);

    world.pushPair(GameEventType::TriggerExit, world.subtitle, world.player);
    world.dispatch();
    EXPECT_EQ(world.scene.get<SubtitleTrigger>(world.subtitle).done, 1);

    // Done for good: later visits leave the flag as it is.
    world.scene.get<SubtitleTrigger>(world.subtitle).done = 2;
    world.pushPair(GameEventType::TriggerEnter, world.player, world.subtitle);
    world.pushPair(GameEventType::TriggerExit, world.player, world.subtitle);
    world.dispatch();
    EXPECT_EQ(world.scene.get<SubtitleTrigger>(world.subtitle).done, 2);
}

TEST(GameEventRulesTest, ASubtitleTriggerShowsItsLineUntilThePlayerFirstLeaves)
{
    TriggerWorld world;
    SubtitleSystem subtitles(nullptr, nullptr);
    world.context.subtitle = &subtitles;
    world.scene.get<SubtitleTrigger>(world.subtitle).text = 0x77;
    const auto keys = [&] {
        return std::vector<u64> { subtitles.lines()[0].key, subtitles.lines()[1].key, subtitles.lines()[2].key };
    };
    subtitles.pushSubtitle(0x11);
    world.pushPair(GameEventType::TriggerEnter, world.player, world.subtitle);
    world.pushPair(GameEventType::TriggerEnter, world.bystander, world.subtitle);
    world.dispatch();
    EXPECT_EQ(keys(), (std::vector<u64> { 0x11, 0x77, 0 }));
    // Each entry shows the line again.
    world.pushPair(GameEventType::TriggerEnter, world.subtitle, world.player);
    world.dispatch();
    EXPECT_EQ(keys(), (std::vector<u64> { 0x11, 0x77, 0x77 }));
    // Leaving takes every line off, the cutscene's too.
    world.pushPair(GameEventType::TriggerExit, world.subtitle, world.player);
    world.dispatch();
    EXPECT_EQ(keys(), (std::vector<u64> { 0, 0, 0 }));
    EXPECT_EQ(world.scene.get<SubtitleTrigger>(world.subtitle).done, 1);
    // Done: neither entering nor leaving touches the lines again.
    subtitles.pushSubtitle(0x11);
    world.pushPair(GameEventType::TriggerEnter, world.player, world.subtitle);
    world.pushPair(GameEventType::TriggerExit, world.player, world.subtitle);
    world.dispatch();
    EXPECT_EQ(keys(), (std::vector<u64> { 0x11, 0, 0 }));
}

TEST(GameEventRulesTest, FacingChangeSetsThePlayersFacingCode)
{
    TriggerWorld world;
    world.scene.get<PlayerState>(world.player).facingCode = 1;
    // The handle's generation is not looked at, only its index.
    const EntityHandle otherGeneration = EntityHandle::make(world.player.index(), world.player.generation() + 3);
    world.push(GameEventType::FacingChanged, PlayerEvent { -1, otherGeneration.value });
    world.dispatch();
    EXPECT_EQ(world.scene.get<PlayerState>(world.player).facingCode, -1);
}

TEST(GameEventRulesTest, FacingChangeOfNoPlayerWritesNothing)
{
    TriggerWorld world;
    const auto before = world.scene.get<PlayerState>(world.platform);
    world.push(GameEventType::FacingChanged, PlayerEvent { 7, world.platform.value });
    world.push(GameEventType::FacingChanged, PlayerEvent { 7, EntityHandle::make(60, 1).value });
    world.push(GameEventType::FacingChanged, PlayerEvent { 7, EntityHandle::make(EntityHandle::kNoIndex, 1).value });
    world.dispatch();
    EXPECT_EQ(std::memcmp(&before, world.scene.bytes(world.platform, PlayerState::kType), sizeof(PlayerState)), 0);
    EXPECT_NE(world.scene.get<PlayerState>(world.player).facingCode, 7);
}

} // namespace
} // namespace harmonize
