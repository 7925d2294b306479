#include "AnimationWorld.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "quern/platform/Clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::entity::EntityHandle;
using testing::AnimationWorld;
using testing::nameIdOf;

constexpr u64 kRise = 0x1001; // y from 0 to 10 over one second
constexpr u64 kSink = 0x1002; // y from 0 to -20 over one second
constexpr f32 kStep = 0.01f;

const char* const kRiseSource = "duration 1\nwrap loop\ntrack - m_LocalPosition.y\nkey 0 0\nkey 1 10\n";
const char* const kSinkSource = "duration 1\nwrap loop\ntrack - m_LocalPosition.y\nkey 0 0\nkey 1 -20\n";

class AnimationSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scene.clip(kRise, kRiseSource);
        scene.clip(kSink, kSinkSource);
    }

    AnimationWorld scene;
};

TEST_F(AnimationSystemTest, AutoplayedClipDrivesTheTransformEveryTick)
{
    const EntityHandle platform = scene.addAnimated("platform", { kRise });
    scene.start();
    for (int tick = 0; tick < 5; ++tick) {
        scene.tick();
        // Each tick writes the sample at the clip time, then moves the time on.
        EXPECT_FLOAT_EQ(scene.transform(platform).position.y, 10.0f * kStep * static_cast<f32>(tick)) << tick;
    }
    EXPECT_TRUE(scene.animation->isPlaying(platform, kRise));
    EXPECT_EQ(scene.animation->findClip(platform, nameIdOf("clip4097")), kRise);
    EXPECT_EQ(scene.animation->findClip(platform, nameIdOf("nothing")), 0u);
}

TEST_F(AnimationSystemTest, ADestroyedEntitysClipNamesGoWithIt)
{
    const EntityHandle platform = scene.addAnimated("platform", { kRise });
    scene.addAnimated("other", { kSink });
    scene.start();
    ASSERT_EQ(scene.animation->findClip(platform, nameIdOf("clip4097")), kRise);
    scene.world().destroyEntities(&platform, 1);
    // A later entity in the same slot must not find them.
    EXPECT_EQ(scene.animation->findClip(platform, nameIdOf("clip4097")), 0u);
}

TEST_F(AnimationSystemTest, TracksBindToTheEntityTheirPathNamesAndOnlyValidPaths)
{
    scene.clip(0x2001, "duration 1\ntrack arm m_LocalPosition.x\nkey 0 3\ntrack arm/hand m_LocalScale.z\nkey 0 2\n"
                       "track nobody m_LocalPosition.x\nkey 0 9\n");
    const EntityHandle body = scene.addAnimated("body", { 0x2001 });
    const EntityHandle arm = scene.scene.add("arm", { "Transform" }, body);
    const EntityHandle hand = scene.scene.add("hand", { "Transform" }, arm);
    scene.start();
    scene.tick();
    EXPECT_EQ(scene.transform(arm).position.x, 3.0f);
    EXPECT_EQ(scene.transform(hand).scale.z, 2.0f);
    EXPECT_EQ(scene.transform(body).position.x, 0.0f);
    EXPECT_EQ(scene.animation->bindings().count(), 2u); // the unknown path is not bound
}

TEST_F(AnimationSystemTest, ClipsDrivingOneTargetShareOneBinding)
{
    const EntityHandle e = scene.addAnimated("e", { kRise, kSink });
    scene.start();
    ASSERT_EQ(scene.animation->bindings().count(), 1u);
    const AnimationBinding& binding = scene.animation->bindings().at<AnimationBinding>(0);
    EXPECT_EQ(binding.entryCount, 2u);
    EXPECT_EQ(binding.entity, e.value);
    EXPECT_EQ(binding.type, AnimatedProperty::Float);
}

// A cross-fade over four ticks stands at a quarter after its first tick: the
// target is the weighted sum of both samples.
TEST_F(AnimationSystemTest, CrossFadeBlendsByNormalisedWeights)
{
    const EntityHandle e = scene.addAnimated("e", { kRise, kSink });
    scene.start();
    scene.tick(11); // the rising clip stands at 0.11 s
    scene.animation->play(e, kSink, 4 * kStep);
    scene.tick();
    EXPECT_FLOAT_EQ(scene.clipRecord(1).weight, 0.25f);
    EXPECT_FLOAT_EQ(scene.clipRecord(0).weight, 0.75f);
    EXPECT_NEAR(scene.transform(e).position.y, 0.75f * 10.0f * 0.11f + 0.25f * 0.0f, 1e-5f);
    scene.tick();
    // The fading clip's weight shrinks from its current value each tick.
    EXPECT_FLOAT_EQ(scene.clipRecord(0).weight, 0.75f * 0.5f);
    EXPECT_FLOAT_EQ(scene.clipRecord(1).weight, 0.5f);
    const f32 sum = 0.375f + 0.5f;
    EXPECT_NEAR(scene.transform(e).position.y, (0.375f * 10.0f * 0.12f + 0.5f * -20.0f * 0.01f) / sum, 1e-5f);
    scene.tick(3);
    EXPECT_FALSE(scene.animation->isPlaying(e, kRise));
    EXPECT_TRUE(scene.animation->isPlaying(e, kSink));
    EXPECT_EQ(scene.clipRecord(0).weight, 1.0f);
    EXPECT_EQ(scene.clipRecord(0).time, 0.0f);
    EXPECT_TRUE(scene.animation->tasks().isEmpty());
}

TEST_F(AnimationSystemTest, FadeOfZeroFinishesInItsFirstTick)
{
    const EntityHandle e = scene.addAnimated("e", { kRise, kSink });
    scene.start();
    scene.tick(3);
    scene.animation->play(e, kSink, 0.0f);
    scene.tick();
    EXPECT_TRUE(scene.animation->tasks().isEmpty());
    EXPECT_TRUE(scene.animation->isPlaying(e, kSink));
    EXPECT_EQ(scene.clipRecord(1).weight, 1.0f);
    EXPECT_FALSE(scene.animation->isPlaying(e, kRise));
    EXPECT_EQ(scene.clipRecord(0).weight, 1.0f);
    EXPECT_EQ(scene.clipRecord(0).time, 0.0f);
}

TEST_F(AnimationSystemTest, PlayingAClipAtFullWeightQueuesNothing)
{
    const EntityHandle e = scene.addAnimated("e", { kRise, kSink });
    scene.start();
    scene.animation->play(e, kRise, 0.5f);
    EXPECT_TRUE(scene.animation->tasks().isEmpty());
    scene.animation->play(e, kSink, 4 * kStep);
    scene.tick();
    // The rising clip now plays at 0.75: playing it again fades it back.
    scene.animation->play(e, kRise, 0.5f);
    ASSERT_EQ(scene.animation->tasks().count(), 1u); // the pending request was taken over
    EXPECT_EQ(scene.animation->tasks().at<AnimationTask>(0).clip, kRise);
}

TEST_F(AnimationSystemTest, JumpToEndAndSetTimeRequests)
{
    const EntityHandle e = scene.addAnimated("e", { kRise, kSink }, false);
    scene.start();
    AnimationTask& jump = scene.animation->acquirePlayRequest(e, kRise);
    jump.type = AnimationTask::JumpToEnd;
    scene.tick();
    EXPECT_TRUE(scene.animation->isPlaying(e, kRise));
    EXPECT_NEAR(scene.transform(e).position.y, 10.0f, 1e-5f);

    AnimationTask& set = scene.animation->acquirePlayRequest(e, kSink);
    set.type = AnimationTask::SetTime;
    set.duration = 0.5f;
    scene.tick();
    EXPECT_FALSE(scene.animation->isPlaying(e, kRise));
    EXPECT_TRUE(scene.animation->isPlaying(e, kSink));
    EXPECT_FLOAT_EQ(scene.transform(e).position.y, -10.0f);
    EXPECT_FLOAT_EQ(scene.animation->clipDuration(e, kSink), 1.0f);
}

TEST_F(AnimationSystemTest, OnceClipStopsTheTickAfterItsEndAndRewinds)
{
    scene.clip(0x3001, "duration 0.02\nwrap once\ntrack - m_LocalPosition.x\nkey 0 0\nkey 0.02 1\n");
    const EntityHandle e = scene.addAnimated("e", { 0x3001 });
    scene.start();
    scene.tick(3); // times 0, 0.01, 0.02 applied; now at 0.03
    EXPECT_TRUE(scene.animation->isPlaying(e, 0x3001));
    scene.tick(); // started beyond the end: rewound and stopped
    EXPECT_FALSE(scene.animation->isPlaying(e, 0x3001));
    EXPECT_EQ(scene.clipRecord(0).time, 0.0f);
}

TEST(AnimationWrapMode, StoredNumbersConvert)
{
    struct Case {
        i32 stored;
        u32 clipMode;
        u32 expected;
    };
    const Case cases[] = {
        { 0, 2, 2 }, { 0, 1, 1 }, { 1, 1, 0 }, { 2, 0, 1 }, { 4, 0, 2 }, { 8, 1, 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(toClipWrapMode(c.stored, c.clipMode), c.expected) << c.stored;
}

TEST(AnimationWrapModeDeathTest, OtherNumbersAreFatal)
{
    EXPECT_DEATH(toClipWrapMode(3, 0), "Invalid enum value for type UnityWrapMode");
}

TEST_F(AnimationSystemTest, EntityWrapModeOverridesTheClips)
{
    scene.clip(0x3002, "duration 1\nwrap once\ntrack - m_LocalPosition.x\nkey 0 0\nkey 1 1\n");
    const EntityHandle e = scene.addAnimated("e", { 0x3002 });
    scene.scene.get<Animation>(e).wrapMode = static_cast<i32>(UnityWrapMode::PingPong);
    scene.start();
    scene.tick(151); // applied at 1.5 s: ping-pong runs back to 0.5
    EXPECT_NEAR(scene.transform(e).position.x, 0.5f, 1e-4f);
    EXPECT_TRUE(scene.animation->isPlaying(e, 0x3002));
}

// Two step sounds per loop, one other sound; only the steps count.
TEST_F(AnimationSystemTest, StepEventsRaiseTheStepsStatistic)
{
    scene.clip(0x4001, "duration 0.1\nwrap loop\ntrack - m_LocalPosition.x\nkey 0 0\n"
                       "event 0.025 PlaySound Step\nevent 0.05 Other Step\nevent 0.065 PlaySound HairyStep\n"
                       "event 0.08 PlaySound Splash\n");
    scene.addAnimated("walker", { 0x4001 });
    PlayerProfile::clear();
    scene.start();
    scene.tick(20); // two loops
    EXPECT_EQ(*PlayerProfile::statCounter(kStatSteps), 4u);
    PlayerProfile::clear();
}

// Every "PlaySound" event becomes a positional request at the clip's entity.
TEST_F(AnimationSystemTest, PlaySoundEventsPlayAtTheEntity)
{
    scene.clip(0x4002, "duration 0.1\nwrap loop\ntrack - m_LocalPosition.x\nkey 0 0\n"
                       "event 0.025 PlaySound Step\nevent 0.05 Other Bell\nevent 0.065 PlaySound Splash\n");
    const EntityHandle walker = scene.addAnimated("walker", { 0x4002 });
    auto* sound = new SoundSystem(nullptr, nullptr, nullptr, nullptr);
    scene.context.sound = sound;
    scene.scene.addSystem(sound);
    // Stopped, so the requests stay where the animation put them.
    scene.world().getSystemInfo(scene.world().getSystemCount() - 1).state = quern::entity::SystemInfo::kDisabled;
    PlayerProfile::clear();
    scene.start();
    scene.tick(10);
    ASSERT_EQ(sound->requestCount(), 2u);
    EXPECT_EQ(sound->request(0).soundId, nameIdOf("Step"));
    EXPECT_EQ(sound->request(1).soundId, nameIdOf("Splash"));
    for (u64 i = 0; i < 2; ++i) {
        EXPECT_EQ(sound->request(i).entity, walker.value);
        EXPECT_EQ(sound->request(i).positional, 1);
    }
    EXPECT_EQ(*PlayerProfile::statCounter(kStatSteps), 1u);
    PlayerProfile::clear();
}

TEST_F(AnimationSystemTest, StartTimesFixedAndRandom)
{
    quern::platform::FixedCalendarSource calendar(1'700'000'000);
    quern::platform::ScopedCalendarSource pinned(calendar);
    AnimationWorld world;
    world.clip(kRise, kRiseSource);
    const EntityHandle fixed = world.scene.add("fixed", { "Transform", "Animation", "AnimationStartTime" });
    world.scene.get<Animation>(fixed).clips[0] = kRise;
    world.scene.get<AnimationStartTime>(fixed).startTime = 0.5f;
    std::vector<EntityHandle> randoms;
    for (int i = 0; i < 8; ++i) {
        randoms.push_back(world.scene.add("random", { "Transform", "Animation", "AnimationStartTime" }));
        world.scene.get<Animation>(randoms.back()).clips[0] = kRise;
        world.scene.get<AnimationStartTime>(randoms.back()).randomStart = 1;
    }
    world.start();
    EXPECT_EQ(world.clipRecord(0).time, 0.5f);
    u64 state = (1'700'000'000ull + 51349u) * 4561u;
    for (u64 i = 1; i <= randoms.size(); ++i) {
        state = state * 4561u + 51349u;
        const f32 expected = static_cast<f32>(state) / 18446744073709551616.0f * 200.0f;
        EXPECT_EQ(world.clipRecord(i).time, expected) << i;
        EXPECT_GE(world.clipRecord(i).time, 0.0f);
        EXPECT_LT(world.clipRecord(i).time, 200.0f);
    }
}

TEST_F(AnimationSystemTest, FrameAnimationStepsWholeFramesAndKeepsTheRest)
{
    const EntityHandle sign = scene.scene.add("sign", { "Transform", "FrameAnimation" });
    FrameAnimation& frames = scene.scene.get<FrameAnimation>(sign);
    frames.frameCount = 4;
    frames.secondsPerFrame = 0.1f;
    scene.start();
    scene.update(0.35f);
    EXPECT_EQ(frames.currentFrame, 3);
    scene.update(0.06f); // 0.05 kept + 0.06: one more frame, wrapping to 0
    EXPECT_EQ(frames.currentFrame, 0);
}

// Records that would divide by zero or never leave the stepping loop keep
// their frame.
TEST_F(AnimationSystemTest, FrameAnimationsWithoutFramesOrFrameTimeAreNotStepped)
{
    struct Case {
        i32 frameCount;
        f32 secondsPerFrame;
    };
    const Case cases[] = {
        { 0, 0.1f },
        { 4, 0.0f },
        { 4, -0.1f },
        { 4, std::numeric_limits<f32>::quiet_NaN() },
        { -3, 0.1f },
    };
    std::vector<EntityHandle> signs;
    for (const Case& c : cases) {
        signs.push_back(scene.scene.add("sign", { "Transform", "FrameAnimation" }));
        FrameAnimation& frames = scene.scene.get<FrameAnimation>(signs.back());
        frames.frameCount = c.frameCount;
        frames.secondsPerFrame = c.secondsPerFrame;
        frames.currentFrame = 1;
    }
    scene.start();
    scene.update(0.35f);
    for (u64 i = 0; i < signs.size(); ++i)
        EXPECT_EQ(scene.scene.get<FrameAnimation>(signs[i]).currentFrame, 1) << i;
}

// A binding holds 46 tracks; the 47th on the same target is left out, and the
// records after the binding stay as they were.
TEST_F(AnimationSystemTest, TracksBeyondABindingsRoomAreNotBound)
{
    std::string source = "duration 1\n";
    for (int i = 0; i < 47; ++i)
        source += "track - m_LocalPosition.x\nkey 0 " + std::to_string(i) + "\n";
    source += "track - m_LocalPosition.y\nkey 0 5\n";
    scene.clip(0x5001, source);
    const EntityHandle e = scene.addAnimated("e", { 0x5001 });
    ::testing::internal::CaptureStderr();
    scene.start();
    const std::string log = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(scene.animation->bindings().count(), 2u);
    const AnimationBinding& x = scene.animation->bindings().at<AnimationBinding>(0);
    const AnimationBinding& y = scene.animation->bindings().at<AnimationBinding>(1);
    EXPECT_EQ(x.entryCount, AnimationBinding::kMaxEntries);
    EXPECT_EQ(y.entryCount, 1u);
    EXPECT_EQ(y.entries[0].track, 47u);
    EXPECT_NE(log.find("clip20481"), std::string::npos) << log;
    EXPECT_NE(log.find("\"e\""), std::string::npos) << log;
    scene.tick();
    EXPECT_EQ(scene.transform(e).position.y, 5.0f);
}

// Selectors that reach past their vector would write into the next field.
TEST_F(AnimationSystemTest, TracksWhoseSelectorLeavesTheVectorAreNotBound)
{
    quern::animate::KeyframeAnimation* clip
        = scene.clip(0x5002, "duration 1\ntrack - m_LocalScale\nkey 0 1 2 3\ntrack - m_LocalPosition.z\nkey 0 4\n");
    clip->trackInfo.at<quern::animate::KeyframeTrackInfo>(0).bytes[1] = 1; // three floats from y
    clip->trackInfo.at<quern::animate::KeyframeTrackInfo>(3).bytes[0] = 2; // two floats from z
    const EntityHandle e = scene.addAnimated("e", { 0x5002 });
    scene.start();
    scene.tick();
    for (u64 i = 0; i < scene.animation->bindings().count(); ++i)
        EXPECT_EQ(scene.animation->bindings().at<AnimationBinding>(i).type, AnimatedProperty::None);
    EXPECT_EQ(scene.transform(e).scale.z, 1.0f);
    EXPECT_EQ(scene.transform(e).rotation.w, 1.0f);
}

TEST_F(AnimationSystemTest, RotationTracksSampleTheQuaternion)
{
    const f32 half = std::sqrt(0.5f);
    scene.clip(0x5003, "duration 1\ntrack - m_LocalRotation\nkey 0 0 0 " + std::to_string(half) + " "
            + std::to_string(half) + "\n");
    const EntityHandle e = scene.addAnimated("e", { 0x5003 });
    scene.start();
    scene.tick();
    EXPECT_EQ(scene.animation->bindings().count(), 1u);
    EXPECT_NEAR(scene.transform(e).rotation.z, half, 1e-6f);
    EXPECT_NEAR(scene.transform(e).rotation.w, half, 1e-6f);
}

TEST_F(AnimationSystemTest, FlagsAndIntensitiesFollowTheirTracks)
{
    scene.clip(0x5004, "duration 1\ntrack - m_Emit\nkey 0 0.5\ntrack - m_Intensity\nkey 0 2.5\n");
    const EntityHandle e = scene.addAnimated("e", { 0x5004 });
    scene.scene.set(e, "Light", "intensity", { 1.0 });
    scene.scene.set(e, "ParticleSpawner", "emit", { 0 });
    scene.start();
    scene.tick();
    EXPECT_EQ(scene.scene.get<ParticleSpawner>(e).emit, 1);
    EXPECT_EQ(scene.scene.get<Light>(e).intensity, 2.5f);
}

// Both bindings clear or set the collider bit (5) along with their shape's:
// the last in binding order decides, whatever the workers do.
TEST_F(AnimationSystemTest, EnabledBitsAreAppliedInBindingOrder)
{
    scene.clip(0x5005, "duration 1\ntrack - m_Enabled type 2\nkey 0 0\ntrack - m_Enabled type 4\nkey 0 1\n");
    const EntityHandle e = scene.addAnimated("e", { 0x5005 });
    scene.start();
    scene.world().getEnabledMask(e.index()).set(2);
    scene.tick();
    const quern::entity::ComponentMask& enabled = scene.world().getEnabledMask(e.index());
    EXPECT_FALSE(enabled.test(2));
    EXPECT_TRUE(enabled.test(4));
    EXPECT_TRUE(enabled.test(5));
}

TEST_F(AnimationSystemTest, SnapshotPutsClipsTasksAndBindingsBack)
{
    const EntityHandle e = scene.addAnimated("e", { kRise, kSink });
    scene.start();
    scene.tick(5);
    scene.animation->play(e, kSink, 0.5f);
    scene.animation->saveSnapshot();
    const AnimationClip saved = scene.clipRecord(0);
    scene.tick(30);
    scene.animation->restoreSnapshot();
    EXPECT_EQ(scene.clipRecord(0).time, saved.time);
    EXPECT_EQ(scene.clipRecord(0).weight, saved.weight);
    EXPECT_EQ(scene.animation->tasks().count(), 1u);
    for (u64 i = 0; i < scene.animation->cursors().count(); ++i)
        EXPECT_TRUE(scene.animation->cursors().at<quern::animate::KeyframeCursor>(i).isEmpty());
}

TEST_F(AnimationSystemTest, DestroyedEntitiesStopAndLoseTheirBindings)
{
    const EntityHandle e = scene.addAnimated("e", { kRise });
    scene.scene.add("other", { "Transform" });
    scene.start();
    scene.tick();
    scene.world().destroyEntities(&e, 1);
    EXPECT_FALSE(scene.animation->isPlaying(e, kRise));
    scene.tick();
    EXPECT_TRUE(scene.animation->bindings().isEmpty());
}

TEST_F(AnimationSystemTest, NothingMovesWhileAnimationIsOffOrTheWorldPaused)
{
    const EntityHandle e = scene.addAnimated("e", { kRise });
    scene.start();
    scene.tick(3);
    const f32 y = scene.transform(e).position.y;
    Settings::Animation.animationEnabled = false;
    scene.tick(3);
    Settings::Animation.animationEnabled = true;
    scene.context.paused = 1;
    scene.tick(3);
    EXPECT_EQ(scene.transform(e).position.y, y);
    EXPECT_FLOAT_EQ(scene.clipRecord(0).time, 3 * kStep);
}

TEST_F(AnimationSystemTest, ActiveTracksAreListedByEntity)
{
    const EntityHandle late = scene.addAnimated("a", { kSink });
    const EntityHandle early = scene.addAnimated("b", { kRise });
    scene.start();
    quern::containers::Array tracks(sizeof(ActiveTrack), alignof(ActiveTrack));
    scene.animation->collectActiveTracks(tracks);
    ASSERT_EQ(tracks.count(), 2u);
    EXPECT_EQ(tracks.at<ActiveTrack>(0).entity, late.value);
    EXPECT_EQ(tracks.at<ActiveTrack>(1).entity, early.value);
}

class AnimationSystemDeathTest : public AnimationSystemTest {};

TEST_F(AnimationSystemDeathTest, PropertyWithoutSelectorNeedsAnAxisLetter)
{
    quern::animate::KeyframeAnimation* clip
        = scene.clip(0x6001, "duration 1\ntrack - m_LocalPosition.q\nkey 0 1\n");
    clip->tracks.at<quern::animate::KeyframeTrack>(0).trackInfoIndex = -1;
    scene.addAnimated("e", { 0x6001 });
    EXPECT_DEATH(scene.start(), "Invalid property name");
}

TEST_F(AnimationSystemDeathTest, UnknownRequestTypeIsFatal)
{
    const EntityHandle e = scene.addAnimated("e", { kRise });
    scene.start();
    scene.animation->acquirePlayRequest(e, kRise).type = 7;
    EXPECT_DEATH(scene.tick(), "Invalid enum value for type AnimationTask::Type");
}

// The same scene stepped with the bindings applied inline and on four workers.
TEST(AnimationSystemThreads, ThreadedBindingPassGivesTheSameWorld)
{
    std::vector<quern::u32> checksums[2];
    for (int threaded = 0; threaded < 2; ++threaded) {
        TaskDispatcher dispatcher;
        ThreadingSettings threading;
        threading.workers = 4;
        if (threaded)
            dispatcher.start(threading, 8);
        AnimationWorld scene(256, threaded ? &dispatcher : nullptr);
        scene.clip(kRise, kRiseSource);
        scene.clip(kSink, kSinkSource);
        scene.clip(0x7001, "duration 1\nwrap pingpong\ntrack - m_LocalScale\nkey 0 1 1 1\nkey 0.7 2 3 4 smooth\n"
                           "track - m_Enabled type 9\nkey 0 1\nkey 0.5 0 constant\n");
        std::vector<EntityHandle> entities;
        for (int i = 0; i < 200; ++i)
            entities.push_back(scene.addAnimated("e", { kRise, kSink, 0x7001 }));
        scene.start();
        for (int tick = 0; tick < 120; ++tick) {
            if (tick % 17 == 0)
                scene.animation->play(entities[static_cast<u64>(tick) % entities.size()], tick % 2 ? kSink : 0x7001, 0.1f);
            scene.tick();
            checksums[threaded].push_back(scene.world().worldChecksum());
        }
        dispatcher.stop();
    }
    EXPECT_EQ(checksums[0], checksums[1]);
}

} // namespace
} // namespace harmonize
