#include "harmonize/systems/BubbleSystem.h"

#include "RenderWorld.h"

#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/utils/MathUtils.h"

#include "harmonize/Scenario.h"
#include "quern/math/Frustum.h"
#include "quern/render/RenderLists.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace harmonize {
namespace {

using quern::entity::World;
using quern::math::Vector3;
using testing::Scenario;

// 1/64 s: scales and elapsed times are exact binary fractions.
constexpr u64 kStep = 15'625;
constexpr f32 kStepSeconds = 1.0f / 64.0f;
constexpr f32 kQuarterSecond = 0.0625f; // four steps

void expectVector(const Vector3& actual, const Vector3& expected, const char* what)
{
    EXPECT_EQ(actual.x, expected.x) << what;
    EXPECT_EQ(actual.y, expected.y) << what;
    EXPECT_EQ(actual.z, expected.z) << what;
}

// A speaker, a bubble root with its body below it, and an anchor. The body is
// made before the root so that it takes the lower slot.
class BubbleSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        world().clock.step = kStep;
        coroutines = new CoroutineSystem(context);
        bubbles = new BubbleSystem(context);
        context.coroutine = coroutines;
        context.bubble = bubbles;
        scene.addSystem(coroutines);
        scene.addSystem(bubbles);

        speaker = scene.add("speaker", { "Transform" });
        body = scene.add("body", { "Transform" });
        bubble = scene.add("bubble", { "Transform", "Line", "SpeechBubble" });
        scene.setParent(body, bubble);
        anchor = scene.add("anchor", { "Transform" });
        transform(speaker).position = { 100.0f, 40.0f, 2.0f };
        transform(anchor).position = { -30.0f, 60.0f, 5.0f };

        SpeechBubble& r = record();
        r.displayTime = 8 * kStepSeconds;
        r.openScale = 1.0f;
        r.speakerOffset = { 0.0f, 30.0f, 1.0f };
        r.smoothTime = 0.2f;
        r.openDuration = kQuarterSecond;
        r.closeDuration = kQuarterSecond;
        r.anchorEntity = anchor;
        r.bodyOffset = { 5.0f, -3.0f, 0.5f };
        r.speakerEntity = speaker;
        r.bodyEntity = body;
        r.anchored = 0;
        scene.start();
    }

    World& world() { return scene.world(); }
    Transform& transform(EntityHandle e) { return scene.get<Transform>(e); }
    SpeechBubble& record() { return scene.get<SpeechBubble>(bubble); }
    Line& line() { return scene.get<Line>(bubble); }
    Vector3 worldPosition(EntityHandle e) { return worldPositionOf(world(), transform(e)); }
    Vector3 target() { return worldPosition(speaker) + record().speakerOffset; }
    bool alive(EntityHandle e) { return isAliveEntity(world(), e); }

    // An open bubble sitting on its target, without a coroutine.
    void placeOpen()
    {
        transform(bubble).position = target();
        transform(bubble).scale = { 1.0f, 1.0f, 1.0f };
        transform(body).position = record().bodyOffset;
        record().currentPosition = target();
        record().velocity = { 0.0f, 0.0f };
    }

    void expectTailOnRootAndBody()
    {
        expectVector(line().start, worldPosition(bubble), "tail start");
        expectVector(line().end, worldPosition(body), "tail end");
    }

    Scenario scene;
    AppContext context;
    CoroutineSystem* coroutines = nullptr;
    BubbleSystem* bubbles = nullptr;
    EntityHandle speaker, body, bubble, anchor;
};

TEST_F(BubbleSystemTest, BubbleLagsBehindAMovingSpeakerAndSettlesWithoutOvershoot)
{
    placeOpen();
    const SpeechBubble& r = record();
    f32 x = target().x, y = target().y;
    f32 vx = 0.0f, vy = 0.0f;
    for (int tick = 0; tick < 12; ++tick) {
        transform(speaker).position += Vector3 { 8.0f, -4.0f, 1.0f };
        scene.tick();
        const Vector3 aim = target();
        x = DampedApproach(x, aim.x, vx, r.smoothTime, kStepSeconds);
        y = DampedApproach(y, aim.y, vy, r.smoothTime, kStepSeconds);
        // The root stands on the target; the body carries the lag.
        expectVector(worldPosition(bubble), aim, "root");
        expectVector(transform(body).position,
            Vector3 { x - aim.x + r.bodyOffset.x, y - aim.y + r.bodyOffset.y, r.bodyOffset.z }, "body");
        EXPECT_EQ(r.velocity.x, vx);
        EXPECT_EQ(r.velocity.y, vy);
        EXPECT_LT(transform(body).position.x, r.bodyOffset.x) << "behind to the left";
        EXPECT_GT(transform(body).position.y, r.bodyOffset.y) << "behind above";
        expectTailOnRootAndBody();
    }
    // The speaker stops: the body closes in and never passes its rest place.
    for (int tick = 0; tick < 200; ++tick) {
        scene.tick();
        EXPECT_LE(transform(body).position.x, r.bodyOffset.x);
        EXPECT_GE(transform(body).position.y, r.bodyOffset.y);
    }
    EXPECT_NEAR(transform(body).position.x, r.bodyOffset.x, 1e-3f);
    EXPECT_NEAR(transform(body).position.y, r.bodyOffset.y, 1e-3f);
}

// Any root scale but exactly 1 keeps the bubble on its speaker.
TEST_F(BubbleSystemTest, PoppingBubbleDoesNotLag)
{
    for (const f32 scale : { 0.0f, 0.5f, 0.999f, 2.0f }) {
        placeOpen();
        transform(bubble).scale = { scale, 1.0f, 1.0f };
        for (int tick = 0; tick < 5; ++tick) {
            transform(speaker).position += Vector3 { 12.0f, 6.0f, 0.0f };
            scene.tick();
            EXPECT_EQ(record().currentPosition.x, target().x);
            EXPECT_EQ(record().currentPosition.y, target().y);
            expectVector(transform(body).position, record().bodyOffset, "body");
            EXPECT_EQ(record().velocity.x, 0.0f) << scale;
            expectTailOnRootAndBody();
        }
    }
}

// The body is held 16 units (in the root's space) below the anchor, wherever
// the speaker goes; the root stays where it is.
TEST_F(BubbleSystemTest, AnchoredBodyHangsBelowTheAnchor)
{
    record().anchored = 1;
    transform(bubble).position = { 10.0f, 20.0f, 0.0f };
    transform(bubble).scale = { 2.0f, 2.0f, 2.0f };
    transform(speaker).position = { 500.0f, 500.0f, 0.0f };
    scene.tick();
    const Vector3 a = worldPosition(anchor);
    expectVector(worldPosition(body), { a.x, a.y - 32.0f, a.z }, "body");
    expectVector(transform(bubble).position, { 10.0f, 20.0f, 0.0f }, "root");
    expectTailOnRootAndBody();

    transform(anchor).position.x += 4.0f;
    scene.tick();
    EXPECT_EQ(worldPosition(body).x, a.x + 4.0f);
}

// Scale of the root after each tick of a bubble that opens, shows for its
// display time and closes itself; destroyed with its body at tick 17.
TEST_F(BubbleSystemTest, OpensShowsClosesAndIsDestroyed)
{
    bubbles->openBubble(false, bubble, world());
    const std::vector<f32> scales = { 0.0f, 0.25f, 0.5f, 0.75f, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0.75f, 0.5f, 0.25f };
    for (u64 tick = 0; tick < scales.size(); ++tick) {
        transform(speaker).position.x += 1.0f;
        scene.tick();
        expectVector(transform(bubble).scale, { scales[tick], scales[tick], scales[tick] }, "scale");
        expectVector(worldPosition(bubble), target(), "root on the speaker");
        ASSERT_TRUE(alive(bubble)) << "tick " << tick + 1;
    }
    scene.tick();
    EXPECT_FALSE(alive(bubble));
    EXPECT_FALSE(alive(body));
    EXPECT_TRUE(alive(speaker));
    EXPECT_EQ(coroutines->fixedTickList().count(), 0u);
}

TEST_F(BubbleSystemTest, OpenDurationZeroShowsFullScaleAtOnce)
{
    record().openDuration = 0.0f;
    record().openScale = 1.5f;
    bubbles->openBubble(false, bubble, world());
    scene.tick();
    expectVector(transform(bubble).scale, { 1.5f, 1.5f, 1.5f }, "scale");
    expectVector(worldPosition(bubble), target(), "root");
}

// The lag starts where the bubble opens, beside its speaker: the body does
// not fly in from the world's origin.
TEST_F(BubbleSystemTest, OpeningAtFullScaleStartsTheLagAtTheSpeaker)
{
    record().openDuration = 0.0f;
    record().currentPosition = { 0.0f, 0.0f, 0.0f };
    bubbles->openBubble(true, bubble, world());
    scene.tick();
    expectVector(transform(bubble).scale, { 1.0f, 1.0f, 1.0f }, "scale");
    expectVector(transform(body).position, record().bodyOffset, "body");
    EXPECT_EQ(record().currentPosition.x, target().x);
    EXPECT_EQ(record().currentPosition.y, target().y);
}

// A stay-open bubble waits for closeBubble, then shrinks from the size it has
// over four steps and goes with its body.
struct CloseCase {
    f32 openScale;
    f32 scales[4]; // after each closing step
};

class BubbleCloseTest : public BubbleSystemTest, public ::testing::WithParamInterface<CloseCase> { };

TEST_P(BubbleCloseTest, StayOpenLastsUntilCloseBubble)
{
    const CloseCase c = GetParam();
    record().openDuration = 0.0f;
    record().openScale = c.openScale;
    bubbles->openBubble(true, bubble, world());
    scene.tick(40);
    ASSERT_TRUE(alive(bubble));
    expectVector(transform(bubble).scale, { c.openScale, c.openScale, c.openScale }, "still open");
    EXPECT_EQ(coroutines->fixedTickList().count(), 0u);

    bubbles->closeBubble(bubble);
    for (const f32 scale : c.scales) {
        scene.tick();
        expectVector(transform(bubble).scale, { scale, scale, scale }, "closing");
    }
    scene.tick();
    EXPECT_FALSE(alive(bubble));
    EXPECT_FALSE(alive(body));
}

INSTANTIATE_TEST_SUITE_P(Scales, BubbleCloseTest,
    ::testing::Values(
        CloseCase { 1.0f, { 1.0f, 0.75f, 0.5f, 0.25f } }, CloseCase { 2.0f, { 2.0f, 1.5f, 1.0f, 0.5f } }));

TEST_F(BubbleSystemTest, CloseDurationZeroDestroysAtTheFirstStep)
{
    record().openDuration = 0.0f;
    record().closeDuration = 0.0f;
    bubbles->openBubble(true, bubble, world());
    scene.tick();
    bubbles->closeBubble(bubble);
    scene.tick();
    EXPECT_FALSE(alive(bubble));
    EXPECT_FALSE(alive(body));
    EXPECT_EQ(coroutines->fixedTickList().count(), 0u);
}

// A bubble outliving its speaker stays where it was; its tail still follows
// the body, and the pop stops at the next step.
TEST_F(BubbleSystemTest, SpeakerDestroyedKeepsTheTailAndEndsTheCoroutine)
{
    bubbles->openBubble(false, bubble, world());
    scene.tick(2);
    ASSERT_EQ(transform(bubble).scale.x, 0.25f);
    world().destroyEntities(&speaker, 1);
    const Vector3 root = transform(bubble).position;

    transform(body).position = { 7.0f, 8.0f, 9.0f };
    scene.tick();
    expectVector(transform(bubble).position, root, "root");
    expectVector(transform(body).position, { 7.0f, 8.0f, 9.0f }, "body");
    expectTailOnRootAndBody();
    EXPECT_EQ(coroutines->fixedTickList().count(), 0u);
    scene.tick(10);
    EXPECT_EQ(transform(bubble).scale.x, 0.25f);
    EXPECT_TRUE(alive(bubble));
}

TEST_F(BubbleSystemTest, PausedBubblesNeitherFollowNorAnimate)
{
    placeOpen();
    transform(bubble).scale = { 0.5f, 0.5f, 0.5f };
    scene.tick();
    const Vector3 root = transform(bubble).position;
    const Line tail = line();
    context.paused = 1;
    bubbles->openBubble(false, bubble, world());
    transform(speaker).position += Vector3 { 20.0f, 0.0f, 0.0f };
    scene.tick(5);
    expectVector(transform(bubble).position, root, "root");
    expectVector(transform(bubble).scale, { 0.5f, 0.5f, 0.5f }, "scale");
    expectVector(line().start, tail.start, "tail start");
    ASSERT_EQ(coroutines->fixedTickList().count(), 1u);
    EXPECT_EQ(coroutines->fixedTickList().at<Coroutine>(0).resumePoint, 0);

    context.paused = 0;
    scene.tick();
    expectVector(transform(bubble).scale, { 0.0f, 0.0f, 0.0f }, "pop starts");
    expectVector(worldPosition(bubble), target(), "root");
}

// An entity destroyed before it was ever activated keeps its enabled bits in
// the freed slot; the stale record there must move nothing.
TEST_F(BubbleSystemTest, FreedSlotWithStaleBitsIsSkipped)
{
    const EntityHandle late = scene.add("late", { "Transform", "Line", "SpeechBubble" });
    scene.get<SpeechBubble>(late) = record();
    scene.get<SpeechBubble>(late).bodyEntity = anchor;
    world().destroyEntities(&late, 1);
    ASSERT_TRUE(world().getEnabledMask(late.index()).test(SpeechBubble::kType));

    scene.tick(3);
    expectVector(transform(anchor).position, { -30.0f, 60.0f, 5.0f }, "anchor");
}

// Opened bubbles are drawn over the level, after the post effects.
class BubbleRenderTest : public testing::RenderWorldTest {
protected:
    u64 drawnBy(u64 pass)
    {
        const quern::math::Frustum view(
            quern::math::Matrix4::identity(), quern::math::Matrix4::orthographic(-10, 10, 10, -10, 1, 100, true));
        quern::render::RenderLists lists;
        w->render->pass(pass)->culler->cull(view, lists);
        return lists.visibleCount();
    }
};

TEST_F(BubbleRenderTest, OpenBubbleMovesItsSubtreeToTheOverlayPass)
{
    constexpr u64 kCube = 101;
    w->preloadMesh(kCube, { { -1, -1, -1 }, { 1, 1, 1 } });
    const EntityHandle bubble = w->addMeshEntity("bubble", kCube, { 0, 0, -5 });
    w->scene.set(bubble, "SpeechBubble", "openScale", { 1 });
    w->addMeshEntity("body", kCube, { 1, 0, 0 }, bubble);
    w->addMeshEntity("level", kCube, { 2, 0, -5 });
    w->start();
    ASSERT_EQ(drawnBy(0), 3u);
    ASSERT_EQ(drawnBy(1), 0u);

    BubbleSystem bubbles(w->context);
    bubbles.openBubble(true, bubble, w->world());
    EXPECT_EQ(drawnBy(0), 1u);
    EXPECT_EQ(drawnBy(1), 2u);
}

} // namespace
} // namespace harmonize
