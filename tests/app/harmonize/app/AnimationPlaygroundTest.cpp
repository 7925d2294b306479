// The demo's animated corner through the App: the playground built by the
// content tool, its level world with every registered system, one fixed tick
// per frame, threading off and on.

#include "harmonize/app/App.h"
#include "PlaygroundGame.h"
#include "PlaygroundRun.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/tasks/PreloadedResources.h"
#include "quern/animate/KeyframeAnimation.h"
#include "quern/entity/World.h"
#include "quern/platform/Clock.h"
#include "quern/strings/Hashes.h"
#include "support/harmonize/SmallWindowSettings.h"
#include "support/harmonize/TemporaryUserFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace harmonize {
namespace {

constexpr i64 kTickCounter = 100'000; // one 10 ms fixed step in counter ticks
constexpr int kTicks = 450;
const u64 kLiftClip = quern::strings::murmurHash64A("animations/lift.anim", 20, 0);

struct PlayedRun {
    std::vector<u32> checksums;
    u32 steps = 0;
    int liftMismatches = 0;
    f32 liftLow = 1e9f, liftHigh = -1e9f;
    u64 signFrames = 0;
};

class AnimationPlaygroundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::useSmallDummyWindow();
        testing::buildPlaygroundGame(content, "animation-");
    }
    void TearDown() override
    {
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
        PlayerProfile::clear();
    }

    PlayedRun play(bool threading)
    {
        Settings::Threading.enabled = threading;
        PlayerProfile::clear();
        PlayedRun run;
        i64 time = 0;
        App app(&content.database, content.depot.get(), AppServices {});
        app.init();
        if (!testing::runUntilLevelLoads(app, time, kTickCounter, threading)) {
            app.shutdown();
            return run;
        }
        const i32 level = app.currentLevelWorld();
        quern::entity::World& world = app.worldSwapper().getWorld(static_cast<u64>(level));
        AppContext& context = app.context(level);
        const AnimationSystem& animation = *context.animation;
        const EntityHandle lift = testing::entityNamed(world, "lift");
        const EntityHandle sign = testing::entityNamed(world, "sign");
        const quern::animate::KeyframeAnimation* clip
            = getPreloadedKeyframeAnimation(*context.services.loadingWorker, kLiftClip);
        EXPECT_NE(clip, nullptr);
        std::vector<quern::animate::KeyframeCursor> cursors(clip ? clip->tracks.count() : 0,
            quern::animate::KeyframeCursor::empty());
        const u32 steps = *PlayerProfile::statCounter(kStatSteps);
        i32 lastFrame = -1;
        for (int tick = 0; tick < kTicks; ++tick) {
            u64 liftClip = 0;
            while (liftClip < animation.clips().count() && animation.clips().at<AnimationClip>(liftClip).entity != lift.value)
                ++liftClip;
            const f32 clipTime = animation.clips().at<AnimationClip>(liftClip).time;
            time += kTickCounter;
            app.runFrame(time);
            testing::dropAppEvents(app);
            run.checksums.push_back(world.worldChecksum());
            // The tick wrote the clip's sample at the time it started from.
            f32 expected = 0.0f;
            clip->blendFloatTracks(clipTime, 0, &expected, 1, cursors.data(), clip->wrapMode, 1.0f, 0.0f);
            const f32 y = static_cast<const Transform*>(world.getComponent(lift.index(), Transform::kType))->position.y;
            run.liftMismatches += y != expected;
            run.liftLow = std::min(run.liftLow, y);
            run.liftHigh = std::max(run.liftHigh, y);
            const i32 frame = static_cast<const FrameAnimation*>(world.getComponent(sign.index(), FrameAnimation::kType))->currentFrame;
            run.signFrames += frame != lastFrame;
            lastFrame = frame;
        }
        run.steps = *PlayerProfile::statCounter(kStatSteps) - steps;
        app.shutdown();
        return run;
    }

    quern::platform::FixedCalendarSource calendar { 1'700'000'000 };
    quern::platform::ScopedCalendarSource pinned { calendar };
    testing::TemporaryUserFolder userFolder;
    testing::GameAssetHandlers handlers;
    quern::testing::BuiltContent content;
};

TEST_F(AnimationPlaygroundTest, TheLiftFollowsItsClipTheWalkerStepsAndThreadingChangesNothing)
{
    const PlayedRun first = play(false);
    EXPECT_EQ(first.liftMismatches, 0) << "the lift's transform is its clip's sample at every tick";
    EXPECT_LT(first.liftLow, 3.1f);
    EXPECT_GT(first.liftHigh, 4.9f);
    EXPECT_EQ(first.steps, 9u) << "two footfalls a second for 4.5 seconds";
    EXPECT_GE(first.signFrames, 10u) << "the sign moves on four frames a second";

    const PlayedRun threaded = play(true);
    ASSERT_EQ(threaded.checksums.size(), first.checksums.size());
    for (size_t tick = 0; tick < first.checksums.size(); ++tick)
        ASSERT_EQ(threaded.checksums[tick], first.checksums[tick]) << "tick " << tick;
    EXPECT_EQ(threaded.steps, first.steps);
    EXPECT_EQ(threaded.liftMismatches, 0);
}

} // namespace
} // namespace harmonize
