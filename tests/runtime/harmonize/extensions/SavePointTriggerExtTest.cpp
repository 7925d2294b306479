#include "runtime/harmonize/systems/AnimationWorld.h"
#include "runtime/harmonize/systems/QueuedSounds.h"

#include "harmonize/events/GameEvents.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/utils/AppEventQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using testing::AnimationWorld;
using testing::nameIdOf;

constexpr u64 kPayClip = 0x61;
constexpr u64 kIdleSound = 0x11;
constexpr u64 kRightSound = 0x12;
constexpr u64 kWrongSound = 0x13;
constexpr u64 kRespawnSound = 0x14;

constexpr u32 kInside = SavePointTrigger::kInside;
constexpr u32 kRaceMatch = SavePointTrigger::kRaceMatch;
constexpr u32 kSaved = SavePointTrigger::kSaved;
constexpr u32 kRespawnRequest = SavePointTrigger::kRespawnRequest;

const char* const kStateNames[6] = { "idle", "wrong", "nomoney", "right", "saved", "respawn" };

// Mirrors the coroutine's locals, to reach its state from outside.
struct Locals {
    EntityHandle savePoint;
    f32 messageTimer;
    i32 state;
    i32 previous;
    i32 changed;
};

// A save point whose sign (a frame animation two levels below its display
// root) shows one value per state name, an animated entity for the payment, a
// coin to pick up, and the systems the save point reaches: coroutines,
// collectibles, the save game's last save point, sounds and the app queue.
struct SavePointWorld : AnimationWorld {
    explicit SavePointWorld(u64 queueCapacity = AppEventQueueStorage::kInitialCapacity)
        : AnimationWorld(32)
        , events(nullptr, queueCapacity)
    {
        clip(kPayClip, "duration 1\ntrack nobody m_LocalPosition.x\nkey 0 0\n");
        context.services.appEventQueue = &events.queue;
        context.coroutine = coroutines;
        context.collectible = collectibles;
        context.sound = sound;
        saveGame = std::make_unique<SaveGameSystem>(context);
        context.saveGame = saveGame.get();
        scene.addSystem(coroutines);
        scene.addSystem(collectibles);
        scene.addSystem(sound);
        world().getSystemInfo(world().getSystemCount() - 1).state = quern::entity::SystemInfo::kDisabled;

        savePoint = scene.add("save-point", { "Transform", "Collider", "Race", "SavePointTrigger" });
        transform(savePoint).position = { 4, 2, 0 };
        scene.get<Race>(savePoint).value = 0;
        display = scene.add("display", { "Transform" }, savePoint);
        const EntityHandle frame = scene.add("frame", { "Transform" }, display);
        sign = scene.add("sign", { "Transform", "FrameAnimation" }, frame);
        FrameAnimation& animation = scene.get<FrameAnimation>(sign);
        animation = FrameAnimation {};
        for (u64 s = 0; s < 6; ++s) {
            animation.stateKeys[s] = nameIdOf(kStateNames[s]);
            animation.stateValues[s] = static_cast<f32>(s + 1);
        }
        paid = addAnimated("paid", { kPayClip }, false);
        coin = scene.add("coin", { "Transform", "Collectible" });
        scene.get<Collectible>(coin) = Collectible {};

        SavePointTrigger& t = trigger();
        t = SavePointTrigger {};
        t.messageTime = 0.05f;
        t.idleSound = kIdleSound;
        t.rightSound = kRightSound;
        t.wrongSound = kWrongSound;
        t.respawnSound = kRespawnSound;
        t.animated = paid;
        t.payWait = 0.02f;
        t.rightWait = 0.03f;
        t.respawnWait = 0.02f;
        t.frameAnimationRoot = display;
        t.flags = 0xff;
    }

    void begin()
    {
        start();
        SavePointTrigger::start(trigger(), world(), *coroutines);
    }

    SavePointTrigger& trigger() { return scene.get<SavePointTrigger>(savePoint); }
    void setFlag(u32 flag, bool on) { trigger().flags = on ? trigger().flags | flag : trigger().flags & ~flag; }
    void pickCoin() { collectibles->onCollected(coin, world()); }
    void pickCoin(EntityHandle other) { collectibles->onCollected(other, world()); }
    Locals& locals() { return coroutines->fixedTickList().at<Coroutine>(0).localsAs<Locals>(); }

    // The state name the sign shows.
    std::string shown()
    {
        const f32 value = scene.get<FrameAnimation>(sign).currentValue;
        for (u64 s = 0; s < 6; ++s)
            if (value == static_cast<f32>(s + 1))
                return kStateNames[s];
        return "none";
    }
    // What the sign shows after each of `count` ticks.
    std::vector<std::string> run(u32 count)
    {
        std::vector<std::string> shownAfter;
        for (u32 i = 0; i < count; ++i) {
            tick();
            shownAfter.push_back(shown());
        }
        return shownAfter;
    }
    std::vector<u64> sounds() { return testing::queuedSoundIds(*sound); }
    i32 saveRequests()
    {
        i32 count = 0;
        while (events.queue.frontStoredType() >= 0) {
            count += events.queue.frontStoredType() == storedTypeOf(AppEventType::SaveProgress) ? 1 : 0;
            events.queue.drop();
        }
        return count;
    }

    AppEventQueueStorage events;
    CoroutineSystem* coroutines = new CoroutineSystem(context);
    CollectibleSystem* collectibles = new CollectibleSystem(context);
    SoundSystem* sound = new SoundSystem(nullptr, nullptr, nullptr, nullptr);
    std::unique_ptr<SaveGameSystem> saveGame;
    EntityHandle savePoint, display, sign, paid, coin;
};

// The lengths of the runs of equal names, as "name xN".
std::vector<std::string> runsOf(const std::vector<std::string>& names)
{
    std::vector<std::string> runs;
    for (u64 i = 0; i < names.size();) {
        u64 j = i;
        while (j < names.size() && names[j] == names[i])
            ++j;
        runs.push_back(names[i] + " x" + std::to_string(j - i));
        i = j;
    }
    return runs;
}

u64 countOf(const std::vector<u64>& ids, u64 id)
{
    u64 count = 0;
    for (u64 v : ids)
        count += v == id ? 1 : 0;
    return count;
}

TEST(SavePointTrigger, StartFindsTheSignClearsTheFlagsAndShowsIdle)
{
    SavePointWorld w;
    // A frame animation beside the display root, not below it, comes first in
    // slot order and must be passed over.
    const EntityHandle beside = w.scene.add("beside", { "Transform", "FrameAnimation" }, w.savePoint);
    w.scene.get<FrameAnimation>(beside) = FrameAnimation {};
    w.scene.get<FrameAnimation>(w.sign).currentValue = 0.0f;
    w.begin();
    EXPECT_EQ(w.trigger().frameAnimation, w.sign);
    EXPECT_EQ(w.trigger().flags, 0u);
    EXPECT_EQ(w.shown(), "idle");
    EXPECT_EQ(w.coroutines->fixedTickList().count(), 1u);
    EXPECT_EQ(w.locals().savePoint, w.savePoint);

    // A root with its own frame animation is its own sign.
    SavePointWorld own;
    own.trigger().frameAnimationRoot = own.sign;
    own.begin();
    EXPECT_EQ(own.trigger().frameAnimation, own.sign);
}

TEST(SavePointTrigger, StatesOverAStay)
{
    struct Case {
        const char* name;
        bool raceMatch;
        bool money;
        f32 messageTime;
        u32 ticks;
        std::vector<std::string> runs; // of the sign's names, tick by tick
        u64 wrongSounds;
    };
    const Case cases[] = {
        // "wrong" again every message time, with one tick of idle between.
        { "wrong race", false, true, 0.05f, 20,
            { "wrong x6", "idle x1", "wrong x6", "idle x1", "wrong x6" }, 3 },
        { "wrong race, message time 0", false, true, 0.0f, 6,
            { "wrong x1", "idle x1", "wrong x1", "idle x1", "wrong x1", "idle x1" }, 3 },
        // "nomoney" once, kept while the player stays.
        { "no money", true, false, 0.05f, 30, { "nomoney x30" }, 1 },
        // Pays at once: "right" after the paying wait, "saved" after the
        // two ticks and the wait after "right", then it stays saved.
        { "pays", true, true, 0.05f, 20, { "idle x2", "right x7", "saved x11" }, 0 },
    };
    for (const Case& c : cases) {
        SavePointWorld w;
        w.trigger().messageTime = c.messageTime;
        w.begin();
        w.setFlag(kInside, true);
        w.setFlag(kRaceMatch, c.raceMatch);
        if (c.money)
            w.pickCoin();
        EXPECT_EQ(runsOf(w.run(c.ticks)), c.runs) << c.name;
        EXPECT_EQ(countOf(w.sounds(), kWrongSound), c.wrongSounds) << c.name;
    }
}

TEST(SavePointTrigger, PayingChargesOneCollectibleAndAsksForOneSave)
{
    SavePointWorld w;
    const EntityHandle second = w.scene.add("coin", { "Transform", "Collectible" });
    w.scene.get<Collectible>(second) = Collectible {};
    w.begin();
    w.pickCoin();
    w.pickCoin(second);
    w.setFlag(kInside, true);
    w.setFlag(kRaceMatch, true);
    w.tick();
    EXPECT_EQ(w.collectibles->collectedCount(), 1);
    EXPECT_EQ(w.saveGame->lastSavePoint, w.savePoint.value);
    EXPECT_EQ(w.saveRequests(), 1);
    w.run(3);
    EXPECT_EQ(w.shown(), "right");
    EXPECT_EQ(w.sounds(), (std::vector<u64> { kIdleSound, kRightSound }));
    EXPECT_EQ(w.sound->request(1).positional, 1);
    EXPECT_EQ(w.sound->request(1).position.x, 4.0f);
    EXPECT_EQ(w.sound->request(1).position.y, 2.0f);
    EXPECT_TRUE(w.animation->isPlaying(w.paid, kPayClip));
    w.run(10);
    EXPECT_EQ(w.shown(), "saved");
    EXPECT_EQ(w.trigger().flags & kSaved, kSaved);
    // Saved: leaving and coming back with money pays nothing more.
    w.setFlag(kInside, false);
    w.tick();
    w.setFlag(kInside, true);
    w.run(20);
    EXPECT_EQ(w.collectibles->collectedCount(), 1);
    EXPECT_EQ(w.saveRequests(), 0);
    EXPECT_EQ(w.shown(), "saved");
}

TEST(SavePointTrigger, ACollectiblePickedUpInsidePaysOnTheNextTick)
{
    SavePointWorld w;
    w.begin();
    w.setFlag(kInside, true);
    w.setFlag(kRaceMatch, true);
    w.run(10);
    ASSERT_EQ(w.shown(), "nomoney");
    EXPECT_EQ(w.saveRequests(), 0);
    w.pickCoin();
    w.tick();
    EXPECT_EQ(w.collectibles->collectedCount(), 0);
    EXPECT_EQ(w.saveRequests(), 1);
}

TEST(SavePointTrigger, LeavingWhileNoMoneyIsShownReturnsToIdleWhenItsTimeIsOver)
{
    SavePointWorld w;
    w.begin();
    w.setFlag(kInside, true);
    w.setFlag(kRaceMatch, true);
    w.tick();
    w.setFlag(kInside, false);
    EXPECT_EQ(runsOf(w.run(12)), (std::vector<std::string> { "nomoney x5", "idle x7" }));
    EXPECT_EQ(w.collectibles->collectedCount(), 0);
}

// The quick-save restore clears "saved" and asks for the respawn on the save
// point last used; the respawn's wait runs and the save point is saved again.
TEST(SavePointTrigger, RespawnEndsSaved)
{
    for (const bool usedBefore : { true, false }) {
        SavePointWorld w;
        w.begin();
        if (usedBefore) {
            w.pickCoin();
            w.setFlag(kInside, true);
            w.setFlag(kRaceMatch, true);
            w.run(20);
            ASSERT_EQ(w.shown(), "saved");
            w.setFlag(kInside, false);
        }
        w.run(2);
        w.trigger().flags = (w.trigger().flags & ~kSaved) | kRespawnRequest;
        const u64 soundsBefore = w.sound->requestCount();
        const std::vector<std::string> shown = w.run(6);
        EXPECT_EQ(runsOf(shown), (std::vector<std::string> { "respawn x2", "saved x4" })) << usedBefore;
        EXPECT_EQ(w.sound->requestCount(), soundsBefore + 1) << usedBefore;
        EXPECT_EQ(w.sounds().back(), kRespawnSound) << usedBefore;
        EXPECT_EQ(w.trigger().flags & (kSaved | kRespawnRequest), kSaved) << usedBefore;
        EXPECT_EQ(w.locals().state, 4) << usedBefore;
        EXPECT_EQ(w.saveRequests(), usedBefore ? 1 : 0) << usedBefore;
    }
}

// The collectible is spent before SaveProgress is posted: a busy queue must
// take the event all the same.
TEST(SavePointTrigger, AFullQueueStillTakesThePaidSave)
{
    SavePointWorld w(64);
    w.begin();
    while (w.events.queue.post(AppEventType::LevelFinished) != nullptr) {
    }
    const u64 capacity = w.events.queue.postingCapacity();
    w.pickCoin();
    w.setFlag(kInside, true);
    w.setFlag(kRaceMatch, true);
    w.tick();
    EXPECT_EQ(w.collectibles->collectedCount(), 0);
    EXPECT_GT(w.events.queue.postingCapacity(), capacity);
    EXPECT_EQ(w.saveRequests(), 1);
}

TEST(SavePointTrigger, RaceMatchIsClearOnlyForOpposingRaces)
{
    struct Case {
        i32 playerRace, savePointRace;
        bool match;
    };
    const Case cases[] = { { 0, 2, false }, { 2, 0, false }, { 0, 0, true }, { 2, 2, true }, { 1, 2, true },
        { 0, 1, true }, { 1, 1, true } };
    for (const Case& c : cases) {
        SavePointWorld w;
        const EntityHandle player = w.scene.add("player", { "Transform", "Race" });
        w.scene.get<Race>(player).value = c.playerRace;
        w.scene.get<Race>(w.savePoint).value = c.savePointRace;
        w.trigger().flags = c.match ? kInside : kInside | kRaceMatch;
        SavePointTrigger::updateRaceMatch(PairEvent { player.value, w.savePoint.value }, w.trigger(), w.world());
        EXPECT_EQ(w.trigger().flags, c.match ? kInside | kRaceMatch : kInside)
            << c.playerRace << " " << c.savePointRace;
    }
}

TEST(SavePointTriggerDeathTest, APairWithoutRacesIsFatal)
{
    SavePointWorld w;
    const EntityHandle raceless = w.scene.add("raceless", { "Transform" });
    EXPECT_DEATH(
        SavePointTrigger::updateRaceMatch(PairEvent { raceless.value, w.savePoint.value }, w.trigger(), w.world()),
        "Unreachable code hit");
}

TEST(SavePointTriggerDeathTest, AStateOutsideTheSixIsFatal)
{
    SavePointWorld w;
    w.begin();
    w.tick();
    w.locals().state = 6;
    w.locals().changed = 1;
    EXPECT_DEATH(w.tick(), "Unreachable code hit");
}

} // namespace
} // namespace harmonize
