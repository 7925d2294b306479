#include "runtime/harmonize/systems/AnimationWorld.h"

#include "harmonize/extensions/MovingPlatformExt.h"
#include "harmonize/extensions/PlayerView.h"

#include <gtest/gtest.h>

#include <vector>

namespace harmonize {
namespace {

using testing::AnimationWorld;

constexpr u64 kGo = 0x6101;

struct TouchWorld : AnimationWorld {
    TouchWorld()
    {
        clip(kGo, "duration 1\ntrack - m_LocalPosition.x\nkey 0 0\nkey 1 10\n");
        player = scene.add("player", { "Transform", "Collider", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        platform = scene.add("platform", { "Transform", "Animation", "Collider", "MovingPlatform", "Race" });
        Animation& animation = scene.get<Animation>(platform);
        animation.clips[0] = kGo;
        animation.defaultClip = kGo;
        animation.playAutomatically = 0;
    }

    MovingPlatform& record() { return scene.get<MovingPlatform>(platform); }
    // Play requests for the platform's clip.
    u64 requests() const
    {
        u64 n = 0;
        for (u64 i = 0; i < animation->tasks().count(); ++i) {
            const auto& task = animation->tasks().at<AnimationTask>(i);
            n += task.entity == platform.value && task.clip == kGo && task.type == AnimationTask::CrossFade
                && task.duration == 0.0f;
        }
        return n;
    }
    void touch() { MovingPlatform::startOnTouch(platform, world(), *animation, playerViewAt(world(), player.index())); }

    EntityHandle player, platform;
};

TEST(MovingPlatformTouch, StartsOnceForAPlayerOfARaceThatDoesNotOppose)
{
    const struct {
        i32 autoplay;
        i32 platformRace;
        i32 playerRace;
        u8 started;
        bool plays;
    } cases[] = {
        { 0, 0, 0, 0, true },
        { 0, 2, 2, 0, true },
        { 0, 1, 0, 0, true },
        { 0, 1, 2, 0, true },
        { 0, 0, 1, 0, true },
        { 0, 0, 2, 0, false }, // opposite races, either way round
        { 0, 2, 0, 0, false },
        { 1, 0, 0, 0, false }, // autoplaying platforms never wait for a touch
        { 2, 0, 0, 0, false },
        { -1, 0, 0, 0, false },
        { 0, 0, 0, 1, false }, // already started
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::vector<i32> { c.autoplay, c.platformRace, c.playerRace, c.started }));
        TouchWorld w;
        w.record().autoplay = c.autoplay;
        w.record().started = c.started;
        w.scene.get<Race>(w.platform).value = c.platformRace;
        w.scene.get<Race>(w.player).value = c.playerRace;
        w.start();
        w.touch();
        w.touch();
        EXPECT_EQ(w.requests(), c.plays ? 1u : 0u);
        EXPECT_EQ(w.record().started, c.plays ? 1 : c.started);
        w.tick();
        EXPECT_EQ(w.animation->isPlaying(w.platform, kGo), c.plays);
    }
}

TEST(MovingPlatformTouch, APlatformWithoutARaceStartsForAnyPlayer)
{
    for (i32 race : { 0, 1, 2 }) {
        TouchWorld w;
        w.world().getComponentMask(w.platform.index()).reset(Race::kType);
        w.scene.get<Race>(w.platform).value = 0;
        w.scene.get<Race>(w.player).value = race;
        w.start();
        w.touch();
        EXPECT_EQ(w.requests(), 1u) << race;
    }
}

TEST(MovingPlatformTouch, ThePairRuleTakesThePairEitherWayRound)
{
    for (bool playerFirst : { false, true }) {
        TouchWorld w;
        w.start();
        const PairEvent pair = playerFirst ? PairEvent { w.player.value, w.platform.value }
                                           : PairEvent { w.platform.value, w.player.value };
        onMovingPlatformTouched(pair, w.world(), w.context);
        onMovingPlatformTouched(pair, w.world(), w.context);
        EXPECT_EQ(w.requests(), 1u) << playerFirst;
        EXPECT_EQ(w.record().started, 1);
    }
}

TEST(MovingPlatformTouch, ThePairRuleNeedsAMoverWithAPlayerMovementAndAnAnimationSystem)
{
    TouchWorld w;
    const EntityHandle other = w.scene.add("other", { "Transform", "Collider", "Race" });
    w.start();
    onMovingPlatformTouched(PairEvent { w.platform.value, other.value }, w.world(), w.context);
    onMovingPlatformTouched(PairEvent { w.player.value, other.value }, w.world(), w.context);
    onMovingPlatformTouched(PairEvent { w.platform.value, EntityHandle::make(40000, 1).value }, w.world(), w.context);
    EXPECT_EQ(w.requests(), 0u);
    EXPECT_EQ(w.record().started, 0);

    AnimationSystem* animation = w.context.animation;
    w.context.animation = nullptr;
    onMovingPlatformTouched(PairEvent { w.platform.value, w.player.value }, w.world(), w.context);
    EXPECT_EQ(w.record().started, 0);
    w.context.animation = animation;
}

} // namespace
} // namespace harmonize
