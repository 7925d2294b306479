// Named states of frame animations, and the race look that selects them.

#include "harmonize/extensions/RaceLook.h"

#include "harmonize/Scenario.h"

#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace harmonize {
namespace {

u64 keyOf(const char* name) { return quern::strings::murmurHash64A(name, std::strlen(name), quern::strings::kInternerSeed); }

class RaceLookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        frames = scene.add("frames", { "Transform", "FrameAnimation" });
        look = scene.add("look", { "Transform", "RaceLook", "Race" });
        FrameAnimation& animation = scene.get<FrameAnimation>(frames);
        const char* names[] = { "idle", "spike", "hairy", "saved" };
        for (u64 i = 0; i < 4; ++i) {
            animation.stateKeys[i] = keyOf(names[i]);
            animation.stateValues[i] = static_cast<f32>(i + 1);
        }
        animation.currentFrame = 5;
        scene.get<RaceLook>(look).frameAnimationEntity = frames;
    }
    FrameAnimation& animation() { return scene.get<FrameAnimation>(frames); }

    testing::Scenario scene;
    EntityHandle frames, look;
};

TEST_F(RaceLookTest, ANewStateRestartsTheFramesAndTheSameStateDoesNot)
{
    EXPECT_TRUE(selectFrameAnimationState(animation(), "saved", scene.world()));
    EXPECT_EQ(animation().currentValue, 4.0f);
    EXPECT_EQ(animation().currentFrame, 0);

    animation().currentFrame = 3;
    EXPECT_TRUE(selectFrameAnimationState(animation(), "saved", scene.world()));
    EXPECT_EQ(animation().currentFrame, 3);

    // A name no slot holds changes nothing.
    EXPECT_FALSE(selectFrameAnimationState(animation(), "respawn", scene.world()));
    EXPECT_EQ(animation().currentValue, 4.0f);
    EXPECT_EQ(animation().currentFrame, 3);
}

TEST_F(RaceLookTest, RacesTwoAndZeroShowSpikeAndHairyAndRaceOneShowsNothingNew)
{
    struct Case {
        i32 race;
        f32 value;
    };
    for (const Case& c : { Case { 2, 2.0f }, Case { 0, 3.0f }, Case { 1, 0.0f }, Case { 7, 0.0f } }) {
        animation().currentValue = 0.0f;
        applyRaceLook(scene.get<RaceLook>(look), c.race, scene.world());
        EXPECT_EQ(animation().currentValue, c.value) << "race " << c.race;
    }
}

// A look that names a slot past the world, or one without a frame animation,
// is level data to survive, not to follow.
TEST_F(RaceLookTest, ALookNamingNoFrameAnimationChangesNothing)
{
    RaceLook& record = scene.get<RaceLook>(look);
    record.frameAnimationEntity = EntityHandle::make(0xfffe, 1);
    applyRaceLook(record, 2, scene.world());
    record.frameAnimationEntity = look;
    applyRaceLook(record, 2, scene.world());
    EXPECT_EQ(animation().currentValue, 0.0f);
}

} // namespace
} // namespace harmonize
