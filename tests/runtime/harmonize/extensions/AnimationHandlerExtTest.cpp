#include "PlayerAnimationWorld.h"

#include "harmonize/extensions/AnimationHandlerExt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace harmonize {
namespace {

using quern::math::Quaternion;
using quern::math::Vector3;
using testing::clipAsset;
using testing::clipName;
using testing::PlayerAnimationWorld;

constexpr u64 A = 0xa, B = 0xb, C = 0xc, D = 0xd;

// ---- Clip pick ---------------------------------------------------------------

TEST(AnimationHandlerPick, FollowsTheListAndTheChance)
{
    // xorshift(1) = 270369, which is 69 modulo 100.
    ASSERT_EQ(xorshiftStep(1), 270369u);
    struct Case {
        const char* name;
        u64 clips[5];
        i32 count;
        bool variations;
        i32 chance;
        u64 current;
        u64 expected;
        bool stepsRandom;
    };
    const Case cases[] = {
        { "one clip never varies", { A }, 5, true, 100, 0, A, false },
        { "variations not allowed", { A, B, C }, 5, false, 100, 0, A, false },
        { "draw 69 is not below 69", { A, B }, 2, true, 69, 0, A, true },
        { "draw 69 is below 70", { A, B }, 2, true, 70, 0, B, true },
        { "chance 0 keeps the first", { A, B, C, D }, 5, true, 0, 0, A, true },
        { "two clips give the second, even when current", { A, B }, 2, true, 100, B, B, true },
        { "a zero ends the list", { A, B, 0, D }, 5, true, 100, 0, B, true },
        { "the count ends the list", { A, B, C }, 2, true, 100, 0, B, true },
        { "an empty list gives 0", { 0, B }, 2, true, 100, 0, 0, true },
        { "every variation is current", { A, B, B, B }, 5, true, 100, B, B, true },
    };
    for (const Case& c : cases) {
        PlayerState state {};
        state.randomState = 1;
        state.variationChance = c.chance;
        state.currentClip = c.current;
        EXPECT_EQ(AnimationHandler::pickClip(state, c.clips, c.count, c.variations), c.expected) << c.name;
        EXPECT_EQ(state.randomState != 1, c.stepsRandom) << c.name;
    }
}

TEST(AnimationHandlerPick, AVariationIsNeverTheCurrentClipAndEveryOtherComesUp)
{
    const u64 clips[5] = { A, B, C, D, 0xe };
    PlayerState state {};
    state.variationChance = 100;
    state.randomState = 12345;
    std::set<u64> seen;
    for (i32 draw = 0; draw < 200; ++draw) {
        state.currentClip = draw % 2 ? C : D;
        const u64 pick = AnimationHandler::pickClip(state, clips, 5, true);
        EXPECT_NE(pick, state.currentClip) << draw;
        EXPECT_NE(pick, A) << draw;
        seen.insert(pick);
    }
    EXPECT_EQ(seen, (std::set<u64> { B, C, D, 0xe }));
}

// A cleared state would repeat one draw forever; the pick must still end and
// avoid the current clip.
TEST(AnimationHandlerPick, AClearedRandomStateStillVaries)
{
    const u64 clips[5] = { A, B, C, D, 0 };
    PlayerState state {};
    state.variationChance = 100;
    state.randomState = 0;
    for (u64 current : { B, C, D }) {
        state.currentClip = current;
        const u64 pick = AnimationHandler::pickClip(state, clips, 5, true);
        EXPECT_NE(pick, current);
        EXPECT_NE(state.randomState, 0u);
    }
}

// ---- Handler on a world --------------------------------------------------------

class AnimationHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scene.addPlayer(0);
        scene.startPlayer();
    }

    AppContext& context() { return scene.context; }
    void event6(i32 state)
    {
        AnimationHandler::onMovementStateChanged(scene.world(), context(), { state, scene.player.value });
    }
    void setMovement(i32 state, i32 previous) { resetMachine(scene.movement().movementState, state, previous); }
    void tick() { AnimationHandler::tick(scene.world(), context(), scene.view(), PlayerAnimationWorld::kStep); }

    PlayerAnimationWorld scene;
};

TEST_F(AnimationHandlerTest, MovementStateEventsPickTheKind)
{
    struct Case {
        i32 state, previous, facingCode, kind;
    };
    const Case cases[] = {
        { WAITING, FALLING, 1, 5 },
        { WAITING, JUMPING, 1, 5 },
        { WAITING, WALKING, 1, 6 },
        { WAITING, WAITING, 1, 1 },
        { WALKING, WAITING, 33, 2 },
        { WALKING, FALLING, 33, 5 },
        { WALKING, JUMPING, 33, 5 },
        { FALLING, WALKING, 0, 3 },
        { JUMPING, WAITING, 1, 4 },
        { JUMPING, WAITING, 2, 3 }, // off a ceiling
        { JUMPING, WALKING, 18, 3 }, // 18 & 15 = 2
        { JUMPING, WALKING, 34, 3 },
        { JUMPING, WAITING, 12, 4 },
    };
    for (const Case& c : cases) {
        setMovement(c.state, c.previous);
        scene.state().facingCode = c.facingCode;
        scene.state().currentClip = 0;
        event6(c.state);
        EXPECT_EQ(scene.state().lastMovementState, c.state);
        EXPECT_EQ(scene.state().currentKind, c.kind) << c.state << " from " << c.previous << " facing " << c.facingCode;
        EXPECT_EQ(scene.state().currentClip, clipName(c.kind, 1));
        EXPECT_TRUE(scene.modelsPlay(clipAsset(c.kind, 1))) << c.kind;
    }
}

TEST_F(AnimationHandlerTest, AClipChangeCrossFadesBothModelsAndRestartsTheClipTime)
{
    setMovement(WALKING, WAITING);
    scene.state().clipTime = 3.0f;
    event6(WALKING);
    EXPECT_EQ(scene.state().clipTime, 0.0f);
    const auto& tasks = scene.animation->tasks();
    ASSERT_EQ(tasks.count(), 2u);
    // The race-0 model first, both with the PlayerState's fade.
    EXPECT_EQ(tasks.at<AnimationTask>(0).entity, scene.model0.value);
    EXPECT_EQ(tasks.at<AnimationTask>(1).entity, scene.model2.value);
    for (u64 i = 0; i < 2; ++i) {
        EXPECT_EQ(tasks.at<AnimationTask>(i).clip, clipAsset(2, 1));
        EXPECT_FLOAT_EQ(tasks.at<AnimationTask>(i).duration, 0.1f);
    }
    // The same pick again plays nothing and keeps the time.
    scene.tick(20);
    scene.state().clipTime = 0.5f;
    event6(WALKING);
    EXPECT_TRUE(scene.animation->tasks().isEmpty());
    EXPECT_EQ(scene.state().clipTime, 0.5f);
}

TEST_F(AnimationHandlerTest, OneIdleClipNeverVaries)
{
    PlayerState& s = scene.state();
    for (i32 n = 1; n < 5; ++n)
        s.idleClips[n] = 0;
    s.variationChance = 100;
    setMovement(WAITING, WAITING);
    event6(WAITING);
    const u32 random = s.randomState;
    for (i32 t = 0; t < 1200; ++t) {
        tick();
        ASSERT_EQ(s.currentClip, clipName(1, 1)) << t;
    }
    EXPECT_EQ(s.randomState, random);
}

TEST_F(AnimationHandlerTest, WithoutVariationChanceOnlyFirstClipsPlay)
{
    PlayerState& s = scene.state();
    s.variationChance = 0;
    s.idleVariationTime = 0.0f; // the idle clip is picked again every tick
    for (i32 state : { WAITING, WALKING, FALLING, JUMPING, WAITING }) {
        setMovement(state, WAITING);
        event6(state);
        for (i32 t = 0; t < 50; ++t) {
            tick();
            ASSERT_EQ(s.currentClip, clipName(s.currentKind, 1)) << state << " tick " << t;
        }
    }
}

TEST_F(AnimationHandlerTest, IdleVariesAfterItsTimeWithVariationsOn)
{
    PlayerState& s = scene.state();
    s.variationChance = 100;
    s.idleVariationTime = 0.05f;
    setMovement(WAITING, WAITING);
    s.currentKind = kAnimationIdle;
    s.currentClip = clipName(1, 1);
    std::set<u64> seen;
    for (i32 t = 0; t < 300; ++t) {
        const u64 before = s.currentClip;
        tick();
        if (s.currentClip != before) {
            EXPECT_EQ(s.clipTime, 0.0f);
            seen.insert(s.currentClip);
        }
    }
    EXPECT_EQ(seen.size(), 4u); // the variations 2 to 5
}

TEST_F(AnimationHandlerTest, RaceChangeShowsTheOtherModelAndKeepsTheKind)
{
    setMovement(WALKING, WAITING);
    event6(WALKING);
    ASSERT_TRUE(scene.modelsPlay(clipAsset(2, 1)));
    scene.tick(20); // the fade ends
    quern::entity::World& w = scene.world();
    ASSERT_TRUE(w.isActive(scene.model0));
    ASSERT_FALSE(w.isActive(scene.model2));

    AnimationHandler::onRaceChanged(w, context(), { 2, scene.player.value, 0 });
    EXPECT_TRUE(w.isActive(scene.model2));
    EXPECT_TRUE(w.isActive(EntityHandle::make(scene.model2.index() + 1, w.getGeneration(scene.model2.index() + 1))));
    EXPECT_FALSE(w.isActive(scene.model0));
    EXPECT_EQ(scene.state().currentKind, kAnimationWalk);
    EXPECT_EQ(scene.state().currentClip, clipName(2, 1));
    // The pick is the current clip: nothing new to play.
    EXPECT_TRUE(scene.animation->tasks().isEmpty());

    AnimationHandler::onRaceChanged(w, context(), { 0, scene.player.value, 0 });
    EXPECT_TRUE(w.isActive(scene.model0));
    EXPECT_FALSE(w.isActive(scene.model2));
}

TEST_F(AnimationHandlerTest, RaceChangeBeforeAnyClipStartsIdle)
{
    AnimationHandler::onRaceChanged(scene.world(), context(), { 0, scene.player.value, 0 });
    EXPECT_EQ(scene.state().currentKind, kAnimationIdle);
    EXPECT_EQ(scene.state().currentClip, clipName(1, 1));
    EXPECT_TRUE(scene.modelsPlay(clipAsset(1, 1)));
}

TEST_F(AnimationHandlerTest, RaceChangeLeavesAStaleModelHandleAlone)
{
    quern::entity::World& w = scene.world();
    // The race-2 model went; its slot is taken by an inactive stranger.
    const EntityHandle gone = scene.model2;
    w.destroyEntities(&gone, 1);
    const EntityHandle stranger = scene.scene.add("stranger", { "Transform" });
    ASSERT_EQ(stranger.index(), gone.index());
    w.deactivateEntity(stranger);
    AnimationHandler::onRaceChanged(w, context(), { 2, scene.player.value, 0 });
    EXPECT_FALSE(w.isActive(stranger));
}

TEST_F(AnimationHandlerTest, TickBeforeTheFirstClipDoesNothing)
{
    setMovement(WAITING, WAITING);
    scene.state().facingCode = 33;
    tick();
    EXPECT_EQ(scene.state().clipTime, 0.0f);
    EXPECT_EQ(scene.state().currentKind, 0);
    const Quaternion identity;
    EXPECT_EQ(scene.transform(scene.model0).rotation.y, identity.y);
}

TEST_F(AnimationHandlerTest, WaitingLeavesAnEndingClipForIdle)
{
    PlayerState& s = scene.state();
    setMovement(WAITING, FALLING);
    event6(WAITING); // landing, kind 5
    ASSERT_EQ(s.currentKind, kAnimationLand);
    s.clipTime = PlayerAnimationWorld::kClipSeconds - 0.1f; // exactly the fade left: not yet
    tick();
    EXPECT_EQ(s.currentKind, kAnimationLand);
    EXPECT_FLOAT_EQ(s.clipTime, PlayerAnimationWorld::kClipSeconds - 0.09f);
    tick();
    EXPECT_EQ(s.currentKind, kAnimationIdle);
    EXPECT_EQ(s.currentClip, clipName(1, 1));
    EXPECT_EQ(s.clipTime, 0.0f);
}

// A clip the model lacks was never played on it: it counts as ended instead
// of asking the animation system for the duration of a clip it does not have.
TEST_F(AnimationHandlerTest, AClipTheModelLacksCountsAsEnded)
{
    PlayerState& s = scene.state();
    setMovement(WAITING, FALLING);
    s.landClips[0] = testing::nameIdOf("no such clip");
    event6(WAITING);
    ASSERT_EQ(s.currentKind, kAnimationLand);
    tick();
    EXPECT_EQ(s.currentKind, kAnimationIdle);
}

TEST_F(AnimationHandlerTest, WalkingReturnsToTheFirstWalkClip)
{
    PlayerState& s = scene.state();
    setMovement(WALKING, WAITING);
    s.variationChance = 100;
    struct Case {
        const char* name;
        i32 kind;
        u64 current;
        f32 clipTime;
        bool replays;
    };
    const Case cases[] = {
        { "variation ending", kAnimationWalk, clipName(2, 2), 0.95f, true },
        { "variation running", kAnimationWalk, clipName(2, 2), 0.5f, false },
        { "first clip ending", kAnimationWalk, clipName(2, 1), 0.95f, false },
        { "kind 9", kAnimationKind9, clipName(9, 1), 0.0f, true },
        { "another kind ending", kAnimationLand, clipName(5, 1), 0.95f, false },
    };
    for (const Case& c : cases) {
        s.currentKind = c.kind;
        s.currentClip = c.current;
        s.clipTime = c.clipTime;
        const u32 random = s.randomState;
        tick();
        EXPECT_EQ(s.currentKind, c.replays ? kAnimationWalk : c.kind) << c.name;
        EXPECT_EQ(s.currentClip, c.replays ? clipName(2, 1) : c.current) << c.name;
        EXPECT_EQ(s.randomState, random) << c.name; // no variation draw
    }
}

TEST_F(AnimationHandlerTest, AirborneKindsFollowGravity)
{
    PlayerState& s = scene.state();
    PlayerMovement& m = scene.movement();
    struct Case {
        const char* name;
        Vec2f gravity, velocity;
        i32 kindBefore, kindAfter;
        f32 clipTime; // after the tick, from 0
    };
    const Case cases[] = {
        { "moving down starts the fall", { 0, -1 }, { 0, -2 }, kAnimationJump, kAnimationFall, 0.0f },
        { "rising keeps the jump", { 0, -1 }, { 0, 2 }, kAnimationJump, kAnimationJump, PlayerAnimationWorld::kStep },
        { "already falling", { 0, -1 }, { 0, -2 }, kAnimationFall, kAnimationFall, PlayerAnimationWorld::kStep },
        // The side kind counts the step of its change.
        { "gravity sideways", { 1, 0 }, { 0, 0 }, kAnimationJump, kAnimationAirSide, PlayerAnimationWorld::kStep },
        { "gravity up", { 0, 1 }, { 0, 2 }, kAnimationFall, kAnimationAirSide, PlayerAnimationWorld::kStep },
    };
    for (const Case& c : cases) {
        setMovement(JUMPING, WAITING);
        m.gravityDirection = c.gravity;
        m.velocity = c.velocity;
        m.pushVelocity = {};
        s.currentKind = c.kindBefore;
        s.currentClip = clipName(c.kindBefore, 1);
        s.clipTime = 0.0f;
        tick();
        EXPECT_EQ(s.currentKind, c.kindAfter) << c.name;
        EXPECT_EQ(s.currentClip, clipName(c.kindAfter, 1)) << c.name;
        EXPECT_FLOAT_EQ(s.clipTime, c.clipTime) << c.name;
    }
}

TEST_F(AnimationHandlerTest, PushVelocityCountsForMovingDown)
{
    PlayerState& s = scene.state();
    setMovement(FALLING, WAITING);
    scene.movement().velocity = { 0.0f, 1.0f };
    scene.movement().pushVelocity = { 0.0f, -1.5f };
    s.currentKind = kAnimationJump;
    s.currentClip = clipName(4, 1);
    tick();
    EXPECT_EQ(s.currentKind, kAnimationFall);
}

// ---- Facing turn ---------------------------------------------------------------

Vector3 xAxisOf(quern::entity::World& world, const Transform& t)
{
    const quern::math::Matrix3 r = worldRotationOf(world, t).toMatrix3();
    return { r.m[0], r.m[1], r.m[2] };
}

TEST_F(AnimationHandlerTest, FacingTurnTurnsBothModelsAboutTheirUpAxis)
{
    constexpr f32 kPi = 3.1415927f;
    const f32 c40 = std::cos(40.0f * kPi / 180.0f), s40 = std::sin(40.0f * kPi / 180.0f);
    PlayerMovement& m = scene.movement();
    struct Case {
        const char* name;
        f32 bodyTurn; // the player body's turn about +Z: its Y axis, i.e. the gravity's opposite
        Vec2f clusterUp, boxX;
        i32 code;
        Vector3 modelX; // in the body's own axes
    };
    // A positive code angle turns the model's X axis towards +Z of the body.
    const Case cases[] = {
        { "floor along", 0.0f, { 0, 1 }, { 1, 0 }, 33, { c40, 0, s40 } },
        { "floor against", 0.0f, { 0, 1 }, { 1, 0 }, 17, { c40, 0, -s40 } },
        { "ceiling along", kPi, { 0, -1 }, { 1, 0 }, 18, { c40, 0, s40 } },
        { "ceiling against", kPi, { 0, -1 }, { 1, 0 }, 34, { c40, 0, -s40 } },
        { "box across the surface", 0.0f, { 0, 1 }, { 0, 1 }, 33, { 0, 0, 1 } },
        // Walls: m is the body's Y axis x component.
        { "wall 76, up axis +x", -kPi / 2, { 1, 0 }, { 1, 0 }, 76, { 0, 0, -1 } },
        { "wall 76, up axis -x", kPi / 2, { -1, 0 }, { 1, 0 }, 76, { 0, 0, 1 } },
        { "wall 140, up axis +x", -kPi / 2, { 1, 0 }, { 1, 0 }, 140, { 0, 0, 1 } },
        { "wall 140, up axis -x", kPi / 2, { -1, 0 }, { 1, 0 }, 140, { 0, 0, -1 } },
        // m = 0: 76 takes -h, 140 takes -h too.
        { "76 upright", 0.0f, { 0, 1 }, { 0, 1 }, 76, { 0, 0, -1 } },
        { "140 upright", 0.0f, { 0, 1 }, { 0, 1 }, 140, { 0, 0, -1 } },
    };
    for (const Case& c : cases) {
        scene.transform(scene.player).rotation = Quaternion::fromAxisAngle(c.bodyTurn, { 0, 0, 1 });
        m.clusterUp = c.clusterUp;
        m.snapPath[2] = c.boxX;
        AnimationHandler::facingTurn(scene.world(), scene.view(), c.code);
        for (EntityHandle model : { scene.model0, scene.model2 }) {
            // The model's own rotation gives its axes in the body's frame.
            const quern::math::Matrix3 r = scene.transform(model).rotation.toMatrix3();
            EXPECT_NEAR(r.m[0], c.modelX.x, 1e-5f) << c.name;
            EXPECT_NEAR(r.m[1], c.modelX.y, 1e-5f) << c.name;
            EXPECT_NEAR(r.m[2], c.modelX.z, 1e-5f) << c.name;
            // The up axis stays the body's.
            EXPECT_NEAR(r.m[4], 1.0f, 1e-5f) << c.name;
        }
    }
}

TEST_F(AnimationHandlerTest, FacingCodesWithoutATurnChangeNothing)
{
    const Quaternion before = Quaternion::fromAxisAngle(0.3f, { 0, 1, 0 });
    scene.transform(scene.model0).rotation = before;
    for (i32 code : { 0, 1, 2, 12, 19, 77 }) {
        AnimationHandler::facingTurn(scene.world(), scene.view(), code);
        EXPECT_EQ(scene.transform(scene.model0).rotation.y, before.y) << code;
        EXPECT_EQ(scene.transform(scene.model0).rotation.w, before.w) << code;
    }
}

TEST_F(AnimationHandlerTest, TickTurnsToTheStoredFacingCode)
{
    PlayerState& s = scene.state();
    setMovement(WALKING, WAITING);
    event6(WALKING);
    s.facingCode = 33;
    scene.movement().clusterUp = { 0, 1 };
    scene.movement().snapPath[2] = { 0, 1 };
    tick();
    EXPECT_NEAR(xAxisOf(scene.world(), scene.transform(scene.model2)).z, 1.0f, 1e-5f);
}

// ---- Models and rest height --------------------------------------------------------

TEST_F(AnimationHandlerTest, RestHeightIsMeasuredOnceFromTheActiveModel)
{
    PlayerState& s = scene.state();
    scene.transform(scene.model0).position.y = 0.25f;
    scene.transform(scene.model2).position.y = 0.75f;
    EXPECT_EQ(AnimationHandler::restHeight(scene.world(), s, 0), 0.25f);
    EXPECT_EQ(AnimationHandler::restHeight(scene.world(), s, 2), 0.75f);
    scene.transform(scene.model0).position.y = 3.0f; // the carrier rule moves the model
    EXPECT_EQ(AnimationHandler::restHeight(scene.world(), s, 0), 0.25f);
    EXPECT_EQ(s.restHeightRace0, 0.25f);
    EXPECT_EQ(s.restHeightRace2, 0.75f);
}

TEST_F(AnimationHandlerTest, ActiveModelFollowsTheRace)
{
    EXPECT_EQ(AnimationHandler::activeModel(scene.state(), 0), scene.model0);
    EXPECT_EQ(AnimationHandler::activeModel(scene.state(), 2), scene.model2);
}

using AnimationHandlerDeathTest = AnimationHandlerTest;

TEST_F(AnimationHandlerDeathTest, InvalidValuesAreFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    PlayerState& s = scene.state();
    s.currentClip = clipName(1, 1);
    s.currentKind = kAnimationIdle;
    setMovement(5, WAITING);
    EXPECT_DEATH(tick(), "Unreachable code hit");
    setMovement(0, WAITING);
    EXPECT_DEATH(tick(), "Unreachable code hit");
    EXPECT_DEATH(AnimationHandler::activeModel(s, 1), "Unreachable code hit");
    EXPECT_DEATH(AnimationHandler::playKind(s, *scene.animation, 10, true), "Unreachable code hit");
    EXPECT_DEATH(AnimationHandler::playKind(s, *scene.animation, 0, true), "Unreachable code hit");
    // A race change to the neutral race has no model to show.
    EXPECT_DEATH(AnimationHandler::onRaceChanged(scene.world(), context(), { 1, scene.player.value, 0 }),
        "Unreachable code hit");
}

} // namespace
} // namespace harmonize
