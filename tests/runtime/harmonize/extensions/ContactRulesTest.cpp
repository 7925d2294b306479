#include "ContactWorld.h"

#include "runtime/harmonize/systems/CameraWorld.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/extensions/RaceLook.h"
#include "support/LogCapture.h"
#include "support/harmonize/RecordingPlatformServices.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

using quern::math::Vector3;
using quern::testing::LogCapture;
using testing::ContactWorld;

constexpr u64 kDoorClip = 0x7001;
constexpr u64 kOpposedClip = 0x7002;
constexpr u64 kOtherClip = 0x7003;

// The rules' world, started, with a crate that is no player.
struct RulesWorld : ContactWorld {
    RulesWorld()
    {
        for (u64 id : { kDoorClip, kOpposedClip, kOtherClip })
            clip(id, "duration 1\ntrack nobody m_LocalPosition.x\nkey 0 0\n");
        crate = scene.add("crate", { "Transform", "Collider", "Race" });
        get<Transform>(crate).position = { 2.0f, 3.0f, 0.0f };
        animated = addAnimated("animated", { kDoorClip, kOpposedClip, kOtherClip }, false);
    }
    EntityHandle addSoundTrigger(u8 playerOnly, u8 stop)
    {
        const EntityHandle trigger = scene.add("sound", { "Transform", "Collider", "SoundTrigger" });
        SoundTrigger& rule = get<SoundTrigger>(trigger);
        rule.sound = 0xabc;
        rule.playerOnly = playerOnly;
        rule.stop = stop;
        return trigger;
    }
    u64 taskCount() { return animation->tasks().count(); }
    const AnimationTask& task(u64 i) { return animation->tasks().at<AnimationTask>(i); }

    EntityHandle crate, animated;
};

TEST(CameraZoneRules, EnteringBlendsToTheZoneCameraAndLeavingBlendsBack)
{
    testing::CameraWorld level;
    level.buildLevel();
    const EntityHandle zoneCamera = level.addCamera("zone camera", { 30.0f, 40.0f, -20.0f }, 60.0f);
    const EntityHandle zone = level.scene.add("zone", { "Transform", "Collider", "CameraZone" });
    level.get<CameraZone>(zone).camera = zoneCamera;
    level.get<CameraZone>(zone).blendTime = 0.0f;
    level.start();
    level.tick(2);
    auto gameCameraAt = [&] { return worldPositionOf(level.world(), level.get<Transform>(level.game)); };

    onCameraZoneEnter(ContactWorld::pair(zone, level.player), level.world(), level.context);
    EXPECT_NEAR(gameCameraAt().x, 30.0f, 1e-3f);
    EXPECT_NEAR(gameCameraAt().y, 40.0f, 1e-3f);
    onCameraZoneExit(ContactWorld::pair(level.player, zone), level.world(), level.context);
    level.tick(2);
    EXPECT_NEAR(gameCameraAt().x, 0.0f, 1e-3f);
    EXPECT_NEAR(gameCameraAt().y, 0.0f, 1e-3f);

    // Something else entering the zone moves no camera.
    const EntityHandle crate = level.scene.add("crate", { "Transform", "Collider", "Race" });
    onCameraZoneEnter(ContactWorld::pair(zone, crate), level.world(), level.context);
    EXPECT_NEAR(gameCameraAt().x, 0.0f, 1e-3f);
}

TEST(KillZoneRules, APlayerInsideAKillZoneDies)
{
    RulesWorld w;
    const EntityHandle zone = w.scene.add("kill zone", { "Transform", "Collider", "KillZone" });
    w.start();
    onKillZoneEnter(ContactWorld::pair(zone, w.crate), w.world(), w.context);
    EXPECT_EQ(w.coroutineCount(), 0u);
    onKillZoneEnter(ContactWorld::pair(zone, w.player), w.world(), w.context);
    EXPECT_EQ(w.coroutineCount(), 1u); // the death sequence
}

TEST(OneShotAnimationRules, FiresOnceAndStopsTouching)
{
    RulesWorld w;
    const EntityHandle trigger = w.scene.add("one shot", { "Transform", "Collider", "OneShotAnimation" });
    w.get<OneShotAnimation>(trigger).animated = w.animated;
    w.start();
    onOneShotAnimationEnter(ContactWorld::pair(w.crate, trigger), w.world(), w.context);
    EXPECT_EQ(w.get<OneShotAnimation>(trigger).fired, 0);

    onOneShotAnimationEnter(ContactWorld::pair(trigger, w.player), w.world(), w.context);
    EXPECT_EQ(w.get<OneShotAnimation>(trigger).fired, 1);
    EXPECT_FALSE(w.enabled(trigger, Collider::kType));
    ASSERT_EQ(w.taskCount(), 1u);
    EXPECT_EQ(w.task(0).entity, w.animated.value);
    EXPECT_EQ(w.task(0).clip, kDoorClip);
    EXPECT_EQ(w.task(0).duration, 0.0f);

    w.tick();
    onOneShotAnimationEnter(ContactWorld::pair(w.player, trigger), w.world(), w.context);
    EXPECT_EQ(w.taskCount(), 0u);
}

TEST(OneShotAnimationRules, ATargetWithoutAnimationPlaysNothingButTheTriggerIsSpent)
{
    RulesWorld w;
    const EntityHandle trigger = w.scene.add("one shot", { "Transform", "Collider", "OneShotAnimation" });
    w.get<OneShotAnimation>(trigger).animated = w.crate;
    w.start();
    OneShotAnimation::fire(trigger, w.world(), w.animation);
    EXPECT_EQ(w.taskCount(), 0u);
    EXPECT_EQ(w.get<OneShotAnimation>(trigger).fired, 1);
    EXPECT_FALSE(w.enabled(trigger, Collider::kType));
}

TEST(RaceAnimationRules, PlaysTheClipForTheRaceOfAnyEntityThatEnters)
{
    const struct {
        const char* what;
        i32 triggerRace; // -1: the trigger has no race
        i32 otherRace;
        bool player;
        u64 clip;
    } cases[] = {
        { "crate of the opposite race", 2, 0, false, kOpposedClip },
        { "player of the opposite race", 0, 2, true, kOpposedClip },
        { "crate of race 1", 2, 1, false, kOtherClip },
        { "crate of the same race", 2, 2, false, kOtherClip },
        { "trigger without a race", -1, 0, false, kOtherClip },
    };
    for (const auto& c : cases) {
        RulesWorld w;
        const EntityHandle trigger = c.triggerRace < 0
            ? w.scene.add("trigger", { "Transform", "Collider", "RaceAnimationTrigger" })
            : w.scene.add("trigger", { "Transform", "Collider", "Race", "RaceAnimationTrigger" });
        if (c.triggerRace >= 0)
            w.get<Race>(trigger).value = c.triggerRace;
        RaceAnimationTrigger& rule = w.get<RaceAnimationTrigger>(trigger);
        rule.animated = w.animated;
        rule.opposedClip = kOpposedClip;
        rule.otherClip = kOtherClip;
        const EntityHandle other = c.player ? w.player : w.crate;
        w.get<Race>(other).value = c.otherRace;
        w.start();
        onRaceAnimationTrigger(ContactWorld::pair(other, trigger), w.world(), w.context);
        ASSERT_EQ(w.taskCount(), 1u) << c.what;
        EXPECT_EQ(w.task(0).clip, c.clip) << c.what;
        EXPECT_EQ(w.task(0).entity, w.animated.value) << c.what;
    }
}

TEST(RaceCopyRules, ARaceSourceGivesItsRaceToTheLookItTouches)
{
    RulesWorld w;
    const EntityHandle source = w.scene.add("source", { "Transform", "Collider", "Race", "RaceSource" });
    w.get<Race>(source).value = 2;
    const EntityHandle look = w.scene.add("look", { "Transform", "Collider", "Race", "RaceLook", "FrameAnimation" });
    w.get<RaceLook>(look).frameAnimationEntity = look;
    FrameAnimation& frames = w.get<FrameAnimation>(look);
    frames.stateKeys[0] = worldTextKey(w.world(), "hairy");
    frames.stateValues[0] = 5.0f;
    frames.stateKeys[1] = worldTextKey(w.world(), "spike");
    frames.stateValues[1] = 3.0f;
    // Without a race of its own the look has nothing to take the race into.
    const EntityHandle bare = w.scene.add("bare look", { "Transform", "Collider", "RaceLook" });
    w.start();

    onRaceSourceContact(ContactWorld::pair(look, source), w.world());
    EXPECT_EQ(w.get<Race>(look).value, 2);
    EXPECT_EQ(frames.currentValue, 3.0f);
    onRaceSourceContact(ContactWorld::pair(source, bare), w.world());
    onRaceSourceContact(ContactWorld::pair(w.crate, look), w.world());
    EXPECT_EQ(w.get<Race>(look).value, 2);
}

TEST(SoundTriggerRules, PlaysOnceWhereTheVisitorIsOrStopsOnEveryEntry)
{
    RulesWorld w;
    const EntityHandle trigger = w.addSoundTrigger(0, 0);
    w.start();
    onSoundTrigger(ContactWorld::pair(w.crate, trigger), w.world(), w.context);
    onSoundTrigger(ContactWorld::pair(trigger, w.crate), w.world(), w.context);
    ASSERT_EQ(w.sound->requestCount(), 1u);
    const SoundRequest& played = w.sound->request(0);
    EXPECT_EQ(played.soundId, 0xabcu);
    EXPECT_EQ(played.kind, SoundRequest::Play);
    EXPECT_EQ(played.positional, 1);
    EXPECT_EQ(played.position.x, 2.0f);
    EXPECT_EQ(played.position.y, 3.0f);
    EXPECT_EQ(w.get<SoundTrigger>(trigger).played, 1);

    RulesWorld s;
    const EntityHandle stop = s.addSoundTrigger(0, 1);
    s.start();
    onSoundTrigger(ContactWorld::pair(s.crate, stop), s.world(), s.context);
    onSoundTrigger(ContactWorld::pair(s.player, stop), s.world(), s.context);
    ASSERT_EQ(s.sound->requestCount(), 2u);
    EXPECT_EQ(s.sound->request(0).kind, SoundRequest::Stop);
    EXPECT_EQ(s.sound->request(1).kind, SoundRequest::Stop);
    EXPECT_EQ(s.get<SoundTrigger>(stop).played, 0);
}

TEST(SoundTriggerRules, APlayerOnlyTriggerIgnoresEverythingElse)
{
    RulesWorld w;
    const EntityHandle trigger = w.addSoundTrigger(1, 0);
    w.start();
    onSoundTrigger(ContactWorld::pair(w.crate, trigger), w.world(), w.context);
    EXPECT_EQ(w.sound->requestCount(), 0u);
    EXPECT_EQ(w.get<SoundTrigger>(trigger).played, 0);
    onSoundTrigger(ContactWorld::pair(w.player, trigger), w.world(), w.context);
    EXPECT_EQ(w.sound->requestCount(), 1u);
}

class AchievementRulesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlayerProfile::clear();
        w.context.services.platformServices = &platform;
        trigger = w.scene.add("achievement", { "Transform", "Collider", "AchievementTrigger" });
        w.start();
    }
    void TearDown() override { PlayerProfile::clear(); }
    void enter() { onAchievementTrigger(ContactWorld::pair(trigger, w.player), w.world(), w.context); }
    AchievementTrigger& record() { return w.get<AchievementTrigger>(trigger); }

    RulesWorld w;
    test::RecordingPlatformServices platform;
    EntityHandle trigger;
};

TEST_F(AchievementRulesTest, UnlocksOnceAndReportsWhenTheStatisticsAreLoaded)
{
    PlayerProfile::statsReceived = true;
    record().achievement = 3;
    LogCapture info(3);
    enter();
    enter();
    onAchievementTrigger(ContactWorld::pair(trigger, w.crate), w.world(), w.context);
    const std::string name = kAchievementNames[3];
    EXPECT_EQ(platform.calls, (std::vector<test::PlatformCall> { { "unlockAchievement", name, 1, 1 } }));
    EXPECT_EQ(record().unlocked, 1);
    EXPECT_EQ(info.count("Achievement unlocked: " + name), 1u);
}

TEST_F(AchievementRulesTest, WithoutLoadedStatisticsItIsStillMarkedAndLogged)
{
    record().achievement = kAchievementCount - 1;
    LogCapture info(3);
    enter();
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(record().unlocked, 1);
    EXPECT_TRUE(info.contains(std::string("Achievement unlocked: ") + kAchievementNames[kAchievementCount - 1]));
}

TEST_F(AchievementRulesTest, AnIndexOutsideTheTableIsMarkedWithoutReadingOrReportingAnything)
{
    PlayerProfile::statsReceived = true;
    for (const i32 index : { kAchievementCount, -1, 0x7fffffff }) {
        record().achievement = index;
        record().unlocked = 0;
        LogCapture info(3);
        LogCapture warnings(2);
        enter();
        EXPECT_EQ(record().unlocked, 1) << index;
        EXPECT_FALSE(info.contains("Achievement unlocked")) << index;
        EXPECT_TRUE(warnings.contains("names no achievement")) << index;
    }
    EXPECT_TRUE(platform.calls.empty());
}

} // namespace
} // namespace harmonize
