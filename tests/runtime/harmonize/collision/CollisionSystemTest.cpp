// The collision system on a real Bullet world: which layers meet, the
// begin/stay/end sequences of solid and trigger pairs, the filters, the kinds
// of bodies, physics off and paused, restore and deactivation.

#include "CollisionWorld.h"

#include "harmonize/collision/CollisionDispatcher.h"
#include "harmonize/collision/CollisionLayers.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/utils/AppEventQueue.h"
#include "harmonize/utils/FrameStatistics.h"

#include "quern/platform/Clock.h"

#include "support/SoftAssertRecorder.h"

#include <gtest/gtest.h>

using namespace harmonize;
using harmonize::testing::CollisionWorld;
using harmonize::testing::QueuedEvent;
using harmonize::testing::samePair;
using quern::math::Vector3;

namespace {

constexpr i32 kNoPair = -1;
constexpr i32 kStarted = static_cast<i32>(ContactState::Started);
constexpr i32 kContinuing = static_cast<i32>(ContactState::Continuing);

std::vector<GameEventType> typesOf(const std::vector<QueuedEvent>& events)
{
    std::vector<GameEventType> types;
    for (const QueuedEvent& e : events)
        types.push_back(e.type);
    return types;
}

TEST(CollisionLayers, PairsMeetExactlyWhereBothMasksAgree)
{
    struct Case {
        u32 moving, still;
        bool meet;
    };
    const Case cases[] = {
        { 0, 0, true }, { 3, 7, true }, { 9, 8, true }, { 8, 9, true }, { 9, 0, false }, { 9, 9, false },
        { 9, 13, false }, { 12, 0, true }, { 12, 5, true }, { 12, 8, true }, { 12, 1, false }, { 12, 12, false },
        { 2, 12, false }, { 14, 14, false }, { 14, 13, true }, { 1, 1, false }, { 1, 0, true },
    };
    for (const Case& c : cases) {
        CollisionWorld w;
        const EntityHandle moving = w.box("moving", { 0, 0, 0 }, { 1, 1, 1 });
        const EntityHandle still = w.box("still", { 0.9f, 0, 0 }, { 1, 1, 1 });
        w.setMass(moving, 1);
        w.setLayer(moving, c.moving);
        w.setLayer(still, c.still);
        w.start();
        w.tick();
        EXPECT_EQ(w.pairState(moving, still) == kStarted, c.meet) << c.moving << " with " << c.still;
    }
}

TEST(CollisionLayers, AnInvalidLayerIsReportedAndBecomesLayerZero)
{
    quern::testing::SoftAssertRecorder asserts;
    CollisionWorld w;
    const EntityHandle e = w.box("e", { 0, 0, 0 }, { 1, 1, 1 });
    w.setLayer(e, 15);
    w.start();
    ASSERT_EQ(asserts.messages.size(), 1u);
    EXPECT_EQ(asserts.messages[0], "Invalid layer index");
    EXPECT_EQ(w.body(e).getBroadphaseHandle()->m_collisionFilterGroup, 1);
    EXPECT_EQ(w.body(e).getBroadphaseHandle()->m_collisionFilterMask, 0x7fff);
}

// A dynamic box that the test places by its Transform and a still box.
struct MovingPair {
    MovingPair(bool trigger, bool triggerFirst)
    {
        const EntityHandle first = w.box("first", { 0, 0, 0 }, { 1, 1, 1 });
        const EntityHandle second = w.box("second", { 5, 0, 0 }, { 1, 1, 1 });
        mover = triggerFirst ? second : first;
        still = triggerFirst ? first : second;
        w.scene.get<Transform>(mover).position = { 0, 0, 0 };
        w.scene.get<Transform>(still).position = { 5, 0, 0 };
        w.setMass(mover, 1);
        if (trigger)
            w.setTrigger(still);
        w.start();
    }
    void moveTo(f32 x) { w.scene.get<Transform>(mover).position = { x, 0, 0 }; }

    CollisionWorld w;
    EntityHandle mover, still;
};

TEST(CollisionSystem, APairTouchingForNTicksBeginsOnceStaysNMinusOneTimesAndEndsOnce)
{
    for (bool trigger : { false, true }) {
        MovingPair p(trigger, false);
        p.w.tick();
        EXPECT_EQ(p.w.pairState(p.mover, p.still), kNoPair);
        std::vector<i32> states;
        for (int tick = 0; tick < 4; ++tick) {
            p.moveTo(4.2f);
            p.w.tick();
            states.push_back(p.w.pairState(p.mover, p.still));
        }
        p.moveTo(0);
        p.w.tick();
        states.push_back(p.w.pairState(p.mover, p.still));
        EXPECT_EQ(states, (std::vector<i32> { kStarted, kContinuing, kContinuing, kContinuing, kNoPair })) << trigger;
        EXPECT_TRUE(p.w.collision->gameEventQueue().isEmpty()) << "dispatched at the end of every tick";
    }
}

TEST(CollisionSystem, TheEventsOfAPairAreContactOrTriggerEventsWhateverTheBodyOrder)
{
    using T = GameEventType;
    struct Case {
        bool trigger, triggerFirst;
        std::vector<T> expected;
    };
    const Case cases[] = {
        { false, false, { T::ContactBegin, T::ContactStay, T::ContactEnd } },
        { false, true, { T::ContactBegin, T::ContactStay, T::ContactEnd } },
        { true, false, { T::TriggerEnter, T::TriggerStay, T::TriggerExit } },
        { true, true, { T::TriggerEnter, T::TriggerStay, T::TriggerExit } },
    };
    for (const Case& c : cases) {
        MovingPair p(c.trigger, c.triggerFirst);
        p.w.teleport(p.mover, { 4.2f, 0, 0 });
        std::vector<QueuedEvent> events = p.w.stepBulletAlone();
        const std::vector<QueuedEvent> stay = p.w.stepBulletAlone();
        events.insert(events.end(), stay.begin(), stay.end());
        p.w.teleport(p.mover, { 0, 0, 0 });
        const std::vector<QueuedEvent> end = p.w.stepBulletAlone();
        events.insert(events.end(), end.begin(), end.end());
        EXPECT_EQ(typesOf(events), c.expected) << c.trigger << c.triggerFirst;
        for (const QueuedEvent& e : events)
            EXPECT_TRUE(samePair(e.pair, p.mover, p.still));
    }
}

TEST(CollisionSystem, ATriggerLetsASolidBodyThrough)
{
    MovingPair p(true, false);
    p.w.scene.get<RigidBody>(p.mover).velocity = { 100, 0, 0 };
    p.w.tick(8);
    EXPECT_GT(p.w.scene.get<Transform>(p.mover).position.x, 7.0f);

    MovingPair solid(false, false);
    solid.w.scene.get<RigidBody>(solid.mover).velocity = { 100, 0, 0 };
    solid.w.tick(8);
    EXPECT_LT(solid.w.scene.get<Transform>(solid.mover).position.x, 4.5f);
}

TEST(CollisionSystem, AManifoldWithoutContactPointsEndsItsPair)
{
    CollisionWorld w;
    const EntityHandle a = w.sphere("a", { 0, 0, 0 }, 1);
    const EntityHandle b = w.sphere("b", { 1.5f, 0, 0 }, 1);
    w.setMass(a, 1);
    w.start();
    EXPECT_EQ(typesOf(w.stepBulletAlone()), std::vector<GameEventType> { GameEventType::ContactBegin });
    // The boxes around the spheres still overlap, so Bullet keeps the
    // manifold, but the spheres no longer touch.
    w.teleport(b, { 1.8f, 1.8f, 0 });
    EXPECT_EQ(typesOf(w.stepBulletAlone()), std::vector<GameEventType> { GameEventType::ContactEnd });
    ASSERT_EQ(w.collision->dynamicsWorld()->getDispatcher()->getNumManifolds(), 1);
    EXPECT_EQ(w.collision->dynamicsWorld()->getDispatcher()->getManifoldByIndexInternal(0)->getNumContacts(), 0);
    EXPECT_TRUE(w.pairs().empty());
}

TEST(CollisionSystem, EndedPairsLeaveByTakingTheLastPairsPlace)
{
    CollisionWorld w;
    const EntityHandle hub = w.box("hub", { 0, 0, 0 }, { 1, 1, 1 });
    w.setMass(hub, 1);
    const EntityHandle left = w.box("left", { -0.9f, 0, 0 }, { 1, 1, 1 });
    const EntityHandle right = w.box("right", { 0.9f, 0, 0 }, { 1, 1, 1 });
    const EntityHandle top = w.box("top", { 0, 0.9f, 0 }, { 1, 1, 1 });
    w.start();
    w.stepBulletAlone();
    ASSERT_EQ(w.pairs().size(), 3u);
    const ContactPair last = w.pairs()[2];
    // Whichever pair is first, it ends and the last one takes its place.
    const ContactPair first = w.pairs()[0];
    const EntityHandle leaving { first.entityA == hub.value ? first.entityB : first.entityA };
    w.teleport(leaving, { 50, 50, 0 });
    const std::vector<QueuedEvent> events = w.stepBulletAlone();
    ASSERT_EQ(w.pairs().size(), 2u);
    EXPECT_EQ(w.pairs()[0].entityA, last.entityA);
    EXPECT_EQ(w.pairs()[0].entityB, last.entityB);
    EXPECT_EQ(events.size(), 3u);
    (void)left, (void)right, (void)top;
}

// The dispatcher's filters on bodies the test wakes itself, so that Bullet's
// own rule (one of the two must be awake) never decides for them.
TEST(CollisionDispatcher, TestsPairsByColliderEnabledTriggerAndRigidBody)
{
    struct Case {
        const char* name;
        bool triggerA, triggerB, rigidA, disableA;
        bool needsCollision, needsResponse;
    };
    const Case cases[] = {
        { "two solids", false, false, true, false, true, true },
        { "trigger and solid", true, false, false, false, true, false },
        { "solid and trigger", false, true, true, false, true, false },
        { "two triggers, neither can move", true, true, false, false, false, false },
        { "two triggers, one can move", true, true, true, false, true, false },
        { "a disabled collider", false, false, true, true, false, true },
    };
    for (const Case& c : cases) {
        CollisionWorld w;
        const EntityHandle a = w.box("a", { 0, 0, 0 }, { 1, 1, 1 });
        const EntityHandle b = w.box("b", { 0.9f, 0, 0 }, { 1, 1, 1 });
        if (c.triggerA)
            w.setTrigger(a);
        if (c.triggerB)
            w.setTrigger(b);
        if (c.rigidA)
            w.setMass(a, 1);
        w.start();
        if (c.disableA)
            w.world().setComponentEnabled(a, Collider::kType, false);
        w.body(a).forceActivationState(ACTIVE_TAG);
        w.body(b).forceActivationState(ACTIVE_TAG);
        auto* dispatcher = static_cast<CollisionDispatcher*>(w.collision->dynamicsWorld()->getDispatcher());
        EXPECT_EQ(dispatcher->needsCollision(&w.body(a), &w.body(b)), c.needsCollision) << c.name;
        EXPECT_EQ(dispatcher->needsCollision(&w.body(b), &w.body(a)), c.needsCollision) << c.name;
        EXPECT_EQ(dispatcher->needsResponse(&w.body(a), &w.body(b)), c.needsResponse) << c.name;
        EXPECT_EQ(dispatcher->needsResponse(&w.body(b), &w.body(a)), c.needsResponse) << c.name;
    }
}

TEST(CollisionSystem, TwoTriggersWithoutARigidBodyNeverProduceEvents)
{
    for (bool rigid : { false, true }) {
        CollisionWorld w;
        const EntityHandle a = w.box("a", { 0, 0, 0 }, { 1, 1, 1 });
        const EntityHandle b = w.box("b", { 0.9f, 0, 0 }, { 1, 1, 1 });
        w.setTrigger(a);
        w.setTrigger(b);
        if (rigid) {
            w.setMass(a, 0);
            w.scene.get<RigidBody>(a).massless = 1;
        }
        w.start();
        w.body(a).forceActivationState(DISABLE_DEACTIVATION);
        w.body(b).forceActivationState(DISABLE_DEACTIVATION);
        const std::vector<QueuedEvent> events = w.stepBulletAlone();
        if (rigid)
            EXPECT_EQ(typesOf(events), std::vector<GameEventType> { GameEventType::TriggerEnter });
        else
            EXPECT_TRUE(events.empty());
    }
}

TEST(CollisionSystem, BodiesTakeMassLocksScaleAndActivationFromTheirComponents)
{
    CollisionWorld w;
    const EntityHandle parent = w.scene.add("parent", { "Transform" });
    w.scene.get<Transform>(parent).scale = { 2, 1, 1 };
    const EntityHandle locked = w.box("locked", { 0, 0, 0 }, { 1, 1, 1 });
    w.scene.setParent(locked, parent);
    w.scene.get<Transform>(locked).scale = { 1, 3, 1 };
    w.setMass(locked, 2);
    w.scene.set(locked, "RigidBody", "lockLinear", { 1, 0, 1 });
    w.scene.set(locked, "RigidBody", "lockAngular", { 0, 1, 0 });
    const EntityHandle massless = w.box("massless", { 10, 0, 0 }, { 1, 1, 1 });
    w.setMass(massless, 5, { 1, 0, 0 });
    w.scene.get<RigidBody>(massless).massless = 1;
    const EntityHandle animated = w.box("animated", { 20, 0, 0 }, { 1, 1, 1 });
    w.setMass(animated, 5);
    w.scene.set(animated, "Animation", "kinematic", { 1 });
    const EntityHandle held = w.box("held", { 30, 0, 0 }, { 1, 1, 1 });
    w.setLayer(held, 4, 2);
    const EntityHandle player = w.box("player", { 40, 0, 0 }, { 1, 1, 1 });
    w.scene.set(player, "PlayerMovement", "maxSpeed", { 1 });
    w.start();

    EXPECT_FLOAT_EQ(w.body(locked).getInvMass(), 0.5f);
    EXPECT_EQ(w.body(locked).getLinearFactor(), btVector3(0, 1, 0));
    EXPECT_EQ(w.body(locked).getAngularFactor(), btVector3(1, 0, 1));
    EXPECT_EQ(w.body(locked).getCollisionShape()->getLocalScaling(), btVector3(2, 3, 1));
    EXPECT_EQ(w.body(locked).getFlags(), 0) << "no gyroscopic forces";
    EXPECT_EQ(w.body(animated).getInvMass(), 0.0f);
    EXPECT_EQ(w.body(held).getActivationState(), DISABLE_SIMULATION);
    EXPECT_EQ(w.body(player).getActivationState(), DISABLE_DEACTIVATION);
    EXPECT_EQ(w.body(locked).getActivationState(), ACTIVE_TAG);

    // The massless body still gets its velocity, and stays where it is.
    w.tick(3);
    EXPECT_EQ(w.body(massless).getInvMass(), 0.0f);
    EXPECT_EQ(w.body(massless).getLinearVelocity(), btVector3(1, 0, 0));
    EXPECT_EQ(w.scene.get<Transform>(massless).position.x, 10.0f);
    // A held body keeps its place whatever its entity does.
    w.scene.get<Transform>(held).position = { 33, 0, 0 };
    w.tick();
    EXPECT_EQ(w.body(held).getWorldTransform().getOrigin().x(), 30.0f);
}

TEST(CollisionSystem, OnlyEntitiesWithAnEnabledColliderAShapeAndNoNoPhysicsBodyGetABody)
{
    CollisionWorld w;
    const EntityHandle box = w.box("box", { 0, 0, 0 }, { 1, 1, 1 });
    const EntityHandle noCollider = w.scene.add("noCollider", { "Transform", "BoxShape" });
    const EntityHandle noShape = w.scene.add("noShape", { "Transform", "Collider" });
    const EntityHandle excluded = w.box("excluded", { 3, 0, 0 }, { 1, 1, 1 });
    w.scene.set(excluded, "NoPhysicsBody", "bytes", { 0, 0, 0, 0, 0, 0, 0, 0 });
    const EntityHandle sphere = w.sphere("sphere", { 6, 0, 0 }, 0.5f);
    const EntityHandle capsule = w.scene.add("capsule", { "Transform", "Collider", "CapsuleShape" });
    w.scene.get<CapsuleShape>(capsule).radius = 0.5f;
    w.scene.get<CapsuleShape>(capsule).height = 3.0f;
    // Shorter than its two caps: a sphere, not a capsule turned inside out.
    const EntityHandle stub = w.scene.add("stub", { "Transform", "Collider", "CapsuleShape" });
    w.scene.get<CapsuleShape>(stub).radius = 0.5f;
    w.scene.get<CapsuleShape>(stub).height = 0.4f;
    w.start();

    EXPECT_NE(w.collision->findBody(box), nullptr);
    EXPECT_EQ(w.collision->findBody(noCollider), nullptr);
    EXPECT_EQ(w.collision->findBody(noShape), nullptr);
    EXPECT_EQ(w.collision->findBody(excluded), nullptr);
    EXPECT_EQ(w.body(sphere).getCollisionShape()->getShapeType(), SPHERE_SHAPE_PROXYTYPE);
    const auto* shape = static_cast<const btCapsuleShape*>(w.body(capsule).getCollisionShape());
    EXPECT_EQ(shape->getShapeType(), CAPSULE_SHAPE_PROXYTYPE);
    EXPECT_FLOAT_EQ(shape->getHalfHeight(), 1.0f);
    EXPECT_FLOAT_EQ(static_cast<const btCapsuleShape*>(w.body(stub).getCollisionShape())->getHalfHeight(), 0.0f);
    EXPECT_EQ(w.collision->bodyCount(), 4u);
}

TEST(CollisionSystem, TheShapeOffsetIsTurnedOnceIntoWorldSpace)
{
    CollisionWorld w;
    const EntityHandle e = w.box("e", { 1, 2, 0 }, { 1, 1, 1 });
    w.scene.get<BoxShape>(e).centre = { 1, 0, 0 };
    // A quarter turn about Z takes +X to +Y.
    w.scene.get<Transform>(e).rotation = { 0, 0, 0.70710678f, 0.70710678f };
    w.setMass(e, 1, { 1, 0, 0 });
    w.start();
    const btVector3 origin = w.body(e).getWorldTransform().getOrigin();
    EXPECT_NEAR(origin.x(), 1.0f, 1e-5f);
    EXPECT_NEAR(origin.y(), 3.0f, 1e-5f);
    // The body moves and the entity follows, its offset taken back out.
    w.tick(10);
    EXPECT_NEAR(w.scene.get<Transform>(e).position.x, 1.1f, 1e-4f);
    EXPECT_NEAR(w.scene.get<Transform>(e).position.y, 2.0f, 1e-4f);
}

TEST(CollisionSystem, WithPhysicsOffOrPausedTheTickDoesNothing)
{
    for (int mode = 0; mode < 2; ++mode) {
        CollisionWorld w;
        const EntityHandle a = w.box("a", { 0, 0, 0 }, { 1, 1, 1 });
        w.setMass(a, 1, { 1, 0, 0 });
        const EntityHandle b = w.box("b", { 0.9f, 0, 0 }, { 1, 1, 1 });
        w.start();
        if (mode == 0)
            Settings::Physics.enabled = false;
        else
            w.context.paused = 1;
        w.collision->gameEventQueue().push(0, sizeof(PairEvent));
        w.tick(3);
        EXPECT_EQ(w.pairState(a, b), kNoPair);
        EXPECT_EQ(w.scene.get<Transform>(a).position.x, 0.0f);
        EXPECT_FALSE(w.collision->gameEventQueue().isEmpty()) << "nothing dispatched";
        Settings::Physics.enabled = true;
        w.context.paused = 0;
        w.tick();
        EXPECT_EQ(w.pairState(a, b), kStarted);
        EXPECT_TRUE(w.collision->gameEventQueue().isEmpty());
    }
}

TEST(CollisionSystem, RestoreBringsTheSavedPairsBackAndEveryTouchingPairBeginsAgain)
{
    CollisionWorld w;
    const EntityHandle a = w.box("a", { 0, 0, 0 }, { 1, 1, 1 });
    w.setMass(a, 1);
    w.scene.set(a, "RigidBody", "lockLinear", { 1, 1, 1 });
    const EntityHandle b = w.box("b", { 0.9f, 0, 0 }, { 1, 1, 1 });
    const EntityHandle c = w.box("c", { 10, 0, 0 }, { 1, 1, 1 });
    w.start();
    w.tick(2);
    ASSERT_EQ(w.pairState(a, b), kContinuing);
    w.collision->saveContactPairs();
    ASSERT_EQ(w.collision->savedContactPairs().size(), 1u);
    EXPECT_EQ(w.collision->savedContactPairs()[0].state, ContactState::Continuing);

    w.body(a).setUserPointer(&w);
    w.body(a).setLinearVelocity(btVector3(3, 0, 0));
    w.collision->restoreSnapshot(w.world());
    EXPECT_EQ(w.body(a).getUserPointer(), nullptr) << "rebuilt";
    EXPECT_EQ(w.body(a).getLinearVelocity(), btVector3(0, 0, 0));
    EXPECT_EQ(w.collision->bodyCount(), 3u);
    EXPECT_TRUE(w.pairs().empty()) << "the rebuilt bodies dropped their restored pairs";
    EXPECT_EQ(typesOf(w.stepBulletAlone()), std::vector<GameEventType> { GameEventType::ContactBegin });
    (void)c;
}

TEST(CollisionSystem, RestoreKeepsSavedPairsOfEntitiesWithoutABody)
{
    CollisionWorld w;
    const auto [a, b] = w.touchingBoxes();
    w.start();
    w.tick();
    w.collision->saveContactPairs();
    // Both colliders switched off: nothing is rebuilt, the saved pair stays.
    w.world().setComponentEnabled(a, Collider::kType, false);
    w.world().setComponentEnabled(b, Collider::kType, false);
    w.collision->restoreSnapshot(w.world());
    ASSERT_EQ(w.pairs().size(), 1u);
    EXPECT_TRUE(samePair(PairEvent { w.pairs()[0].entityA, w.pairs()[0].entityB }, a, b));
}

TEST(CollisionSystem, ADeactivatedEntityLosesItsBodyAndPairsWithoutEndEvents)
{
    CollisionWorld w;
    const auto [a, b] = w.touchingBoxes();
    w.start();
    w.tick();
    ASSERT_EQ(w.pairState(a, b), kStarted);
    w.world().deactivateEntity(b);
    EXPECT_EQ(w.collision->findBody(b), nullptr);
    EXPECT_TRUE(w.pairs().empty());
    EXPECT_TRUE(w.stepBulletAlone().empty());
}

TEST(CollisionSystem, ABodyWhoseColliderWasSwitchedOffLeavesWithItsEntity)
{
    CollisionWorld w;
    const EntityHandle a = w.box("a", { 0, 0, 0 }, { 1, 1, 1 });
    w.start();
    w.world().setComponentEnabled(a, Collider::kType, false);
    w.world().deactivateEntity(a);
    EXPECT_EQ(w.collision->bodyCount(), 0u);
    EXPECT_EQ(w.collision->dynamicsWorld()->getNumCollisionObjects(), 0);
}

TEST(CollisionSystem, StoppingTheWorldFreesEveryBodyAndForgetsPairsAndEvents)
{
    CollisionWorld w;
    const EntityHandle a = w.box("a", { 0, 0, 0 }, { 1, 1, 1 });
    w.setMass(a, 1);
    w.box("b", { 0.9f, 0, 0 }, { 1, 1, 1 });
    w.start();
    w.tick();
    w.collision->gameEventQueue().push(0, sizeof(PairEvent));
    w.world().stop();
    EXPECT_EQ(w.collision->bodyCount(), 0u);
    EXPECT_EQ(w.collision->dynamicsWorld()->getNumCollisionObjects(), 0);
    EXPECT_TRUE(w.pairs().empty());
    EXPECT_TRUE(w.collision->gameEventQueue().isEmpty());
}

TEST(CollisionSystem, AFullEventRingGrowsAndKeepsEveryEvent)
{
    CollisionWorld w(3100);
    // 1,500 touching pairs queue 1,500 sixteen-byte records: more than the
    // first ring holds.
    for (int i = 0; i < 1500; ++i) {
        const f32 x = static_cast<f32>(i) * 4.0f;
        const EntityHandle a = w.box("a", { x, 0, 0 }, { 1, 1, 1 });
        w.setMass(a, 1);
        w.box("b", { x + 0.9f, 0, 0 }, { 1, 1, 1 });
    }
    w.start();
    const std::vector<QueuedEvent> events = w.stepBulletAlone();
    EXPECT_EQ(events.size(), 1500u);
    EXPECT_GT(w.collision->gameEventQueue().capacity(), 16384u);
}

// A counter that moves 2 microseconds at every read.
class SteppingCounter final : public quern::platform::CounterSource {
public:
    u64 read() override { return m_ticks += 20; }

private:
    u64 m_ticks = 0;
};

TEST(CollisionSystem, TheTickFillsTheFrameStatistics)
{
    CollisionWorld w;
    w.world().getSystemInfo(0).timeLimit = 0; // the world reads no clock around the tick
    const EntityHandle a = w.box("a", { 0, 0, 0 }, { 1, 1, 1 });
    w.setMass(a, 1);
    w.box("b", { 0.9f, 0, 0 }, { 1, 1, 1 });
    w.box("c", { 9, 0, 0 }, { 1, 1, 1 });
    w.start();
    SteppingCounter counter;
    quern::platform::ScopedCounterSource clock(counter);
    FrameStatistics& statistics = currentFrameStatistics();
    statistics.counters[kCollisionCounterFirst + 1] = 99;
    statistics.counters[kCollisionCounterFirst + 2] = 99;
    w.tick();
    // How often Bullet asks about its one overlapping pair is Bullet's
    // business; the counts start from zero every tick.
    EXPECT_EQ(statistics.counters[kCollisionCounterFirst].load(), 3u) << "collision objects";
    EXPECT_GE(statistics.counters[kCollisionCounterFirst + 1].load(), 1u) << "pair tests";
    EXPECT_LT(statistics.counters[kCollisionCounterFirst + 1].load(), 5u) << "pair tests";
    EXPECT_GE(statistics.counters[kCollisionCounterFirst + 2].load(), 1u) << "response tests";
    EXPECT_LT(statistics.counters[kCollisionCounterFirst + 2].load(), 5u) << "response tests";
    EXPECT_EQ(statistics.counters[kPhysicsMicroseconds].load(), 2u);
}

} // namespace

namespace {

TEST(CollisionSystemDeathTest, ABodyOutsideAnAttachedLevelIsFatal)
{
    EXPECT_DEATH(
        {
            CollisionWorld w;
            w.box("box", { 0, 0, 0 }, { 1, 1, 1 });
            w.scene.start();
        },
        "The collision system gives bodies only while attached to a level");
}

TEST(CollisionSystem, AWorldNeverAttachedStartsWhenNothingNeedsABody)
{
    CollisionWorld w;
    w.scene.add("plain", { "Transform" });
    w.scene.start();
    w.tick();
    EXPECT_EQ(w.collision->bodyCount(), 0u);
}

} // namespace

namespace {

// The quick save keeps the pairs and puts the bodies back where the
// restored world has them.
TEST(CollisionQuickSave, ARestoredLevelPutsBodiesBackAndItsTouchingPairsBeginAgain)
{
    CollisionWorld w;
    AppEventQueueStorage events;
    w.context.services.appEventQueue = &events.queue;
    auto* saves = new SaveGameSystem(w.context);
    w.context.saveGame = saves;
    w.scene.addSystem(saves);
    w.scene.add("player", { "Transform", "PlayerMovement" });
    const auto [a, b] = w.touchingBoxes();
    w.start();
    w.tick(2);
    ASSERT_EQ(w.pairState(a, b), kContinuing);
    const btScalar savedX = w.body(a).getWorldTransform().getOrigin().x();
    saves->createQuickSave(w.world());
    EXPECT_EQ(w.collision->savedContactPairs().size(), 1u);

    // Moved away through its entity, whose transform the body follows.
    w.scene.get<Transform>(a).position = { 20, 0, 0 };
    w.tick(2);
    ASSERT_EQ(w.pairState(a, b), -1);
    saves->restoreQuickSave(w.world());
    EXPECT_NEAR(w.body(a).getWorldTransform().getOrigin().x(), savedX, 1e-5f);
    EXPECT_TRUE(w.pairs().empty());
    EXPECT_EQ(typesOf(w.stepBulletAlone()), std::vector<GameEventType> { GameEventType::ContactBegin });
}

} // namespace
