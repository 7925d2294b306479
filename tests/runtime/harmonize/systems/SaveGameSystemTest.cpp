#include "harmonize/systems/SaveGameSystem.h"

#include "SaveGameLevel.h"

#include "harmonize/Settings.h"
#include "harmonize/input/InputSwitcher.h"
#include "AnimationWorld.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/InputSystem.h"
#include "quern/entity/World.h"
#include "support/CountingAllocator.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <memory>

namespace harmonize {
namespace {

using quern::entity::World;
using testing::SaveGameLevel;

class SaveGameSystemTest : public ::testing::Test {
protected:
    void SetUp() override { Settings::resetToDefaults(); }
    void TearDown() override { Settings::resetToDefaults(); }
};

TEST_F(SaveGameSystemTest, TheLevelAsksForASaveOnItsSecondTickOnlyWithAPlayer)
{
    for (const bool withPlayer : { true, false }) {
        SCOPED_TRACE(withPlayer);
        SaveGameLevel level;
        level.scene.add("ground", { "Transform" });
        if (withPlayer)
            level.addPlayer();
        level.scene.start();
        EXPECT_EQ(level.system->player().isNull(), !withPlayer);
        level.scene.tick();
        EXPECT_EQ(level.takeSaveRequests(), 0);
        level.system->lastSavePoint = 0x10003;
        level.scene.tick();
        EXPECT_EQ(level.takeSaveRequests(), withPlayer ? 1 : 0);
        EXPECT_EQ(level.system->lastSavePoint, withPlayer ? 0u : 0x10003u);
        level.scene.tick(5);
        EXPECT_EQ(level.takeSaveRequests(), 0);
    }
}

TEST_F(SaveGameSystemTest, ThePlayerIsTheLastEntityWithMovementSwitchedOn)
{
    SaveGameLevel level;
    level.addPlayer();
    const EntityHandle second = level.addPlayer();
    level.scene.add("template", { "Transform", "PlayerMovement" }, {}, true); // dormant: switched off
    level.scene.start();
    EXPECT_EQ(level.system->player(), second);
}

TEST_F(SaveGameSystemTest, CheckpointRequestsSurviveAFullQueue)
{
    for (const bool automatic : { false, true }) {
        SCOPED_TRACE(automatic);
        SaveGameLevel level(nullptr, 64);
        level.addPlayer();
        level.scene.start();
        int quits = 0;
        while (level.events.queue.post(AppEventType::Quit))
            ++quits;
        if (automatic)
            level.scene.tick(2);
        else
            level.system->requestSave();
        int saves = 0;
        int quitsTaken = 0;
        for (i32 type; (type = level.events.queue.frontStoredType()) >= 0; level.events.queue.drop()) {
            saves += type == storedTypeOf(AppEventType::SaveProgress);
            quitsTaken += type == storedTypeOf(AppEventType::Quit);
        }
        EXPECT_EQ(saves, 1);
        EXPECT_EQ(quitsTaken, quits);
    }
}

TEST_F(SaveGameSystemTest, NothingIsSavedWithoutALivePlayer)
{
    for (const bool destroyed : { false, true }) {
        SCOPED_TRACE(destroyed);
        SaveGameLevel level;
        level.scene.add("ground", { "Transform" });
        if (destroyed)
            level.addPlayer();
        level.scene.start();
        if (destroyed) {
            const EntityHandle player = level.system->player();
            level.scene.world().destroyEntities(&player, 1);
        }
        level.system->lastSavePoint = 0x10000;
        quern::testing::LogCapture log(3);
        level.system->createQuickSave(level.scene.world());
        EXPECT_TRUE(log.contains("Creating quick save"));
        EXPECT_FALSE(level.system->holdsQuickSave());
        EXPECT_EQ(level.system->savedSavePoint, 0u);
    }
}

TEST_F(SaveGameSystemTest, RestoreBringsBackTheWorldOfTheLastSave)
{
    SaveGameLevel level;
    const EntityHandle player = level.addPlayer(1.0f);
    level.scene.start();
    World& world = level.scene.world();
    level.system->createQuickSave(world);
    level.transform(player).position.x = 2.0f;
    level.system->createQuickSave(world);
    level.transform(player).position.x = 3.0f;
    const EntityHandle later = level.scene.add("later", { "Transform" });

    quern::testing::LogCapture log(3);
    level.system->restoreQuickSave(world);
    EXPECT_TRUE(log.contains("Restoring quick save"));
    EXPECT_EQ(level.transform(player).position.x, 2.0f);
    EXPECT_TRUE(isAliveEntity(world, player));
    EXPECT_FALSE(isAliveEntity(world, later));
    // The snapshot stays for the next death.
    EXPECT_TRUE(level.system->holdsQuickSave());
    level.transform(player).position.x = 4.0f;
    level.system->restoreQuickSave(world);
    EXPECT_EQ(level.transform(player).position.x, 2.0f);
}

TEST_F(SaveGameSystemTest, ASecondSaveReleasesTheFirstsCopiesAndWorldStopReleasesTheRest)
{
    quern::testing::CountingAllocator allocator;
    SaveGameLevel level;
    level.addPlayer();
    World& world = level.scene.world();
    level.system->worldStarted(world, &allocator);
    level.system->createQuickSave(world);
    const int held = allocator.live;
    EXPECT_GT(held, 0);
    level.system->createQuickSave(world);
    EXPECT_EQ(allocator.live, held);
    EXPECT_GT(allocator.allocations, held);
    level.system->worldStopped(world, &allocator);
    EXPECT_EQ(allocator.live, 0);
    EXPECT_FALSE(level.system->holdsQuickSave());
}

TEST_F(SaveGameSystemTest, RestoreAsksTheSavePointOfTheLastSaveToShowTheRespawn)
{
    constexpr u32 kInside = 1, kSaved = 4, kRespawn = 8;
    struct Case {
        const char* name;
        bool touched; // the save point asked for the save
        bool laterRequest; // a cutscene asked after it, before the save
        u32 flags;
    };
    const Case cases[] = {
        { "save point", true, false, kInside | kRespawn },
        { "cutscene after the save point", true, true, kInside | kSaved },
        { "automatic save", false, false, kInside | kSaved },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SaveGameLevel level;
        level.addPlayer();
        const EntityHandle savePoint = level.scene.add("savePoint", { "Transform", "SavePointTrigger" });
        level.scene.start();
        level.scene.get<SavePointTrigger>(savePoint).flags = kInside | kSaved;
        if (c.touched)
            level.system->lastSavePoint = savePoint.value;
        if (c.laterRequest)
            level.system->requestSave();
        level.system->createQuickSave(level.scene.world());
        EXPECT_EQ(level.system->savedSavePoint, c.touched && !c.laterRequest ? savePoint.value : 0u);
        level.system->restoreQuickSave(level.scene.world());
        EXPECT_EQ(level.scene.get<SavePointTrigger>(savePoint).flags, c.flags);
    }
}

TEST_F(SaveGameSystemTest, ARecordedSavePointThatIsNoSavePointIsLeftAlone)
{
    SaveGameLevel level;
    const EntityHandle player = level.addPlayer();
    level.scene.start();
    // The player's slot has a trigger record too, switched off; it must not change.
    const u32 flags = level.scene.get<SavePointTrigger>(player).flags;
    struct Case {
        const char* name;
        u32 handle;
    };
    const Case cases[] = {
        { "an entity without the trigger", player.value },
        { "an index past the world", EntityHandle::make(31000, 1).value },
        { "a stale generation", EntityHandle::make(player.index(), 7).value },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        level.system->lastSavePoint = c.handle;
        level.system->createQuickSave(level.scene.world());
        level.system->restoreQuickSave(level.scene.world());
        EXPECT_EQ(level.scene.get<SavePointTrigger>(player).flags, flags);
    }
}

TEST_F(SaveGameSystemTest, RestoreDestroysSpeechBubblesAndMarkedEntitiesWithTheirSubtrees)
{
    SaveGameLevel level;
    level.addPlayer();
    const EntityHandle speaker = level.scene.add("speaker", { "Transform" });
    const EntityHandle bubble = level.scene.add("bubble", { "Transform", "SpeechBubble" }, speaker);
    const EntityHandle text = level.scene.add("text", { "Transform" }, bubble);
    const EntityHandle glyph = level.scene.add("glyph", { "Transform" }, text);
    const EntityHandle effect = level.scene.add("effect", { "Transform", "Component52" });
    const EntityHandle spark = level.scene.add("spark", { "Transform" }, effect);
    const EntityHandle bare = level.scene.add("bare", { "Component52" }); // no transform
    // A prefab template has the marker but switched off: it stays.
    const EntityHandle prefab = level.scene.add("prefab", { "Transform", "Component52" }, {}, true);
    level.scene.start();
    World& world = level.scene.world();
    level.system->createQuickSave(world);
    level.system->restoreQuickSave(world);
    for (const EntityHandle gone : { bubble, text, glyph, effect, spark, bare })
        EXPECT_FALSE(isAliveEntity(world, gone)) << world.getEntityName(gone);
    EXPECT_TRUE(isAliveEntity(world, speaker));
    EXPECT_TRUE(isAliveEntity(world, prefab));
    EXPECT_TRUE(isAliveEntity(world, level.system->player()));
}

TEST_F(SaveGameSystemTest, TheInputSwitchersStackAndTheInputSystemComeBack)
{
    InputSwitcher switcher;
    SaveGameLevel level;
    level.context.services.inputSwitcher = &switcher;
    auto input = std::make_unique<InputSystem>(level.context);
    level.context.input = input.get();
    level.addPlayer();
    level.scene.start();
    switcher.pushState(kInputStateCutscene);
    input->movementEnabled = true;
    level.system->createQuickSave(level.scene.world());

    switcher.popState();
    switcher.pushState(kInputStateMenu);
    switcher.pushState(kInputStateLeaderboards);
    input->movementEnabled = false;
    level.system->restoreQuickSave(level.scene.world());
    EXPECT_EQ(switcher.stackDepth(), 2);
    EXPECT_EQ(switcher.topState(), kInputStateCutscene);
    EXPECT_TRUE(input->movementEnabled);
}

// Counts its runs in its resume point and never finishes.
bool countRuns(void*, Coroutine& coroutine, quern::entity::World&, AppContext&)
{
    ++coroutine.resumePoint;
    return true;
}

TEST_F(SaveGameSystemTest, CoroutinesComeBackAsTheSaveFoundThem)
{
    SaveGameLevel level;
    auto* coroutines = new CoroutineSystem(level.context);
    level.context.coroutine = coroutines;
    level.scene.addSystem(coroutines);
    level.addPlayer();
    level.scene.start();
    coroutines->start(countRuns, nullptr);
    level.scene.tick(3);
    ASSERT_EQ(coroutines->fixedTickList().count(), 1u);
    const i32 runsAtSave = coroutines->fixedTickList().at<Coroutine>(0).resumePoint;
    level.system->createQuickSave(level.scene.world());

    level.scene.tick(4);
    coroutines->start(countRuns, nullptr);
    level.system->restoreQuickSave(level.scene.world());
    ASSERT_EQ(coroutines->fixedTickList().count(), 1u);
    EXPECT_EQ(coroutines->fixedTickList().at<Coroutine>(0).resumePoint, runsAtSave);
}

// The clip's time and the pending cross-fade come back with the world.
TEST_F(SaveGameSystemTest, AnimationsComeBackAsTheSaveFoundThem)
{
    SaveGameLevel level;
    LoadingWorker worker { nullptr, nullptr };
    level.context.services.loadingWorker = &worker;
    testing::preloadClip(worker, 0x51, "duration 1\nwrap loop\ntrack - m_LocalPosition.y\nkey 0 0\nkey 1 10\n");
    testing::preloadClip(worker, 0x52, "duration 1\ntrack - m_LocalPosition.y\nkey 0 -1\n");
    auto* animation = new AnimationSystem(level.context);
    level.context.animation = animation;
    level.scene.addSystem(animation);
    level.addPlayer();
    const EntityHandle platform = level.scene.add("platform", { "Transform", "Animation" });
    Animation& clips = level.scene.get<Animation>(platform);
    clips.clips[0] = clips.defaultClip = 0x51;
    clips.clips[1] = 0x52;
    clips.playAutomatically = 1;
    level.scene.world().attachSystems(nullptr);
    level.scene.start();
    level.scene.tick(3);
    animation->play(platform, 0x52, 1.0f);
    const AnimationClip atSave = animation->clips().at<AnimationClip>(0);
    level.system->createQuickSave(level.scene.world());

    level.scene.tick(4);
    level.system->restoreQuickSave(level.scene.world());
    EXPECT_EQ(animation->clips().at<AnimationClip>(0).time, atSave.time);
    ASSERT_EQ(animation->tasks().count(), 1u);
    EXPECT_EQ(animation->tasks().at<AnimationTask>(0).clip, 0x52u);
    EXPECT_TRUE(animation->isPlaying(platform, 0x51));
    EXPECT_FALSE(animation->isPlaying(platform, 0x52));
}

} // namespace
} // namespace harmonize
