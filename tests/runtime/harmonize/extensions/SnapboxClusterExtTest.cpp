#include "harmonize/extensions/SnapboxClusterExt.h"

#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/systems/SoundSystem.h"

#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace harmonize;
using quern::math::Quaternion;
using quern::math::Vector3;
using Scenario = harmonize::testing::Scenario;

namespace {

constexpr f32 kDegrees = 3.14159265f / 180.0f;

Vec2f turned(Vec2f v, f32 degrees) { return rotated(v, degrees * kDegrees); }

// A level world with a player and helpers that lay out clusters of snap
// boxes. Boxes are roots at their world positions unless given a parent.
struct SnapWorld {
    Scenario scene { 64 };
    AppContext context;
    EntityHandle player;

    SnapWorld()
    {
        player = scene.add("player", { "Collider", "RigidBody", "Transform", "PlayerState", "PlayerMovement", "Race" });
    }

    quern::entity::World& world() { return scene.world(); }

    EntityHandle cluster(const char* name, Vec2f at = {}, f32 degrees = 0.0f)
    {
        const EntityHandle c = scene.add(name, { "Collider", "Transform", "Race", "Platform", "SnapboxCluster" });
        place(c, at, degrees);
        return c;
    }
    EntityHandle box(EntityHandle owner, Vec2f at, f32 degrees = 0.0f)
    {
        const EntityHandle b = scene.add("box", { "Transform", "Snapbox" });
        place(b, at, degrees);
        scene.get<Snapbox>(b).cluster = owner;
        SnapboxCluster& record = scene.get<SnapboxCluster>(owner);
        record.boxes[record.boxCount++] = b;
        return b;
    }
    void link(EntityHandle from, int side, EntityHandle to, f32 expected = 2.0f)
    {
        scene.get<Snapbox>(from).neighbours[side] = to;
        scene.get<Snapbox>(from).neighbourDistances[side] = expected;
    }
    // A box-shaped blocker of the given half size, set as the boxes' blocker.
    EntityHandle blocker(Vec2f at, f32 half, std::initializer_list<EntityHandle> boxes)
    {
        const EntityHandle b = scene.add("blocker", { "Collider", "Transform" });
        place(b, at);
        scene.get<Collider>(b).halfExtents = { half, half, half };
        for (EntityHandle covered : boxes)
            scene.get<Snapbox>(covered).blocker = b;
        return b;
    }
    void place(EntityHandle e, Vec2f at, f32 degrees = 0.0f)
    {
        Transform& t = scene.get<Transform>(e);
        t.position = { at.x, at.y, 0.0f };
        t.rotation = Quaternion::fromAxisAngle(degrees * kDegrees, quern::math::kUnitZ);
    }

    PlayerView view()
    {
        PlayerView v;
        EXPECT_TRUE(findPlayerView(world(), player, v));
        return v;
    }
    PlayerMovement& movement() { return scene.get<PlayerMovement>(player); }
    // The player stands on `c`, as a landing leaves it.
    void standOn(EntityHandle c)
    {
        const SnapboxCluster& record = scene.get<SnapboxCluster>(c);
        movement().cluster = c;
        std::copy(record.boxes, record.boxes + 16, movement().clusterBoxes);
        movement().clusterBoxCount = record.boxCount;
        resetMachine(movement().movementState, WALKING, WAITING);
    }
};

void expectNear(Vec2f actual, Vec2f expected, f32 tolerance, const std::string& what)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance) << what;
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
}

// Box a at the origin with a candidate neighbour on each side at distance 2,
// and a spare box that a neighbour can link to.
struct SearchLayout : SnapWorld {
    EntityHandle c, a, n0, n1, n2, spare;
    SearchLayout()
    {
        c = cluster("c");
        a = box(c, { 0, 0 });
        n0 = box(c, { 2, 0 });
        n1 = box(c, { 0, -2 });
        n2 = box(c, { -2, 0 });
        spare = box(c, { 0, 2 });
    }
};

TEST(SnapboxClusterExt, PairSearchFromOneBox)
{
    enum Partner { N0, N1, N2, Spare, None };
    struct Case {
        const char* name;
        void (*setup)(SearchLayout&);
        bool skipSide1;
        Partner expected;
    };
    const Case cases[] = {
        { "side 0 comes first", [](SearchLayout& l) { l.link(l.a, 0, l.n0); l.link(l.a, 1, l.n1); l.link(l.a, 2, l.n2); },
            false, N0 },
        { "side 2 before side 1", [](SearchLayout& l) { l.link(l.a, 1, l.n1); l.link(l.a, 2, l.n2); }, false, N2 },
        { "side 1 last", [](SearchLayout& l) { l.link(l.a, 1, l.n1); }, false, N1 },
        { "side 1 skipped", [](SearchLayout& l) { l.link(l.a, 1, l.n1); }, true, None },
        { "more than 3 off the expected distance",
            [](SearchLayout& l) { l.link(l.a, 0, l.n0, 5.5f); l.link(l.a, 2, l.n2); }, false, N2 },
        { "exactly 3 off still pairs", [](SearchLayout& l) { l.link(l.a, 0, l.n0, 5.0f); }, false, N0 },
        { "a linked box stands for the neighbour",
            [](SearchLayout& l) {
                l.link(l.a, 0, l.n0);
                l.scene.get<Snapbox>(l.n0).linkedBox = l.spare;
            },
            false, Spare },
        { "no link followed with side 1 skipped",
            [](SearchLayout& l) {
                l.link(l.a, 0, l.n0);
                l.scene.get<Snapbox>(l.n0).linkedBox = l.spare;
            },
            true, N0 },
        { "the distance is the linked box's",
            [](SearchLayout& l) {
                l.link(l.a, 0, l.n0);
                l.scene.get<Snapbox>(l.n0).linkedBox = l.spare;
                l.place(l.spare, { 0, 10 });
            },
            false, None },
        { "a neighbour on a hidden platform is passed over",
            [](SearchLayout& l) {
                const EntityHandle hidden = l.cluster("hidden");
                l.scene.get<Collider>(hidden).trigger = 1;
                l.scene.get<Snapbox>(l.n0).cluster = hidden;
                l.link(l.a, 0, l.n0);
                l.link(l.a, 2, l.n2);
            },
            false, N2 },
        { "a blocked neighbour is passed over",
            [](SearchLayout& l) {
                l.blocker({ 2, 0 }, 0.5f, { l.n0 });
                l.link(l.a, 0, l.n0);
                l.link(l.a, 2, l.n2);
            },
            false, N2 },
        { "a blocked box pairs with nothing",
            [](SearchLayout& l) {
                l.blocker({ 0, 0 }, 0.5f, { l.a });
                l.link(l.a, 0, l.n0);
                l.link(l.a, 2, l.n2);
            },
            false, None },
        { "a neighbour at no number is never in reach",
            [](SearchLayout& l) {
                l.place(l.n0, { std::numeric_limits<f32>::quiet_NaN(), 0 });
                l.link(l.a, 0, l.n0);
            },
            false, None },
        { "a stale neighbour handle is no neighbour",
            [](SearchLayout& l) {
                l.link(l.a, 0, EntityHandle::make(l.n0.index(), static_cast<u16>(l.n0.generation() + 1)));
                l.link(l.a, 2, l.n2);
            },
            false, N2 },
    };
    for (const Case& c : cases) {
        SearchLayout l;
        c.setup(l);
        const EntityHandle partners[] = { l.n0, l.n1, l.n2, l.spare };
        SnapPair pair;
        const bool found = searchSnapPair(l.world(), l.a, c.skipSide1, pair);
        ASSERT_EQ(found, c.expected != None) << c.name;
        if (!found)
            continue;
        EXPECT_EQ(pair.boxA, l.a) << c.name;
        EXPECT_EQ(pair.boxB, partners[c.expected]) << c.name;
        EXPECT_EQ(pair.snapboxB, &l.scene.get<Snapbox>(partners[c.expected])) << c.name;
        EXPECT_EQ(pair.transformA, &l.scene.get<Transform>(l.a)) << c.name;
    }
}

// A moving platform whose edge box has no neighbour of its own: its path
// continues on a box of the station the platform stands at.
struct StationLayout : SnapWorld {
    EntityHandle platform, near, far, edge, stationBox, stationPartner, farBox, farPartner;
    StationLayout()
    {
        platform = cluster("platform");
        scene.set(platform, "MovingPlatform", "autoplay", { 0 });
        near = cluster("near", { 0.5f, 0 });
        far = cluster("far", { 20, 0 });
        scene.get<MovingPlatform>(platform).stationA = near;
        scene.get<MovingPlatform>(platform).stationB = far;
        edge = box(platform, { 1, 0 });
        scene.get<Snapbox>(edge).boxKind = kStationEdgeBoxKind;
        stationBox = box(near, { 1, 0 });
        stationPartner = box(near, { 3, 0 });
        link(stationBox, 0, stationPartner);
        // The far station pairs too, so that picking it shows.
        farBox = box(far, { 1, 0 });
        farPartner = box(far, { 3, 0 });
        link(farBox, 0, farPartner);
    }
};

TEST(SnapboxClusterExt, AnEdgeBoxContinuesOnTheNearerStation)
{
    StationLayout l;
    SnapPair pair;
    ASSERT_TRUE(searchSnapPair(l.world(), l.edge, false, pair));
    EXPECT_EQ(pair.boxA, l.stationBox);
    EXPECT_EQ(pair.boxB, l.stationPartner);
    // Equally near: the second station is taken.
    l.place(l.far, { -0.5f, 0 });
    ASSERT_TRUE(searchSnapPair(l.world(), l.edge, false, pair));
    EXPECT_EQ(pair.boxA, l.farBox);
    EXPECT_EQ(pair.boxB, l.farPartner);
}

TEST(SnapboxClusterExt, StationContinuationRefusals)
{
    struct Case {
        const char* name;
        void (*setup)(StationLayout&);
    };
    const Case cases[] = {
        { "not an edge box", [](StationLayout& l) { l.scene.get<Snapbox>(l.edge).boxKind = 0; } },
        { "a station box turned differently",
            [](StationLayout& l) { l.place(l.stationBox, { 1, 0 }, 0.001f); } },
        { "a partner more than 3 from the edge box",
            [](StationLayout& l) {
                l.place(l.stationPartner, { 5, 0 });
                l.scene.get<Snapbox>(l.stationBox).neighbourDistances[0] = 4.0f;
            } },
        { "a station handle that names nothing",
            [](StationLayout& l) { l.scene.get<MovingPlatform>(l.platform).stationB = EntityHandle {}; } },
        { "no moving platform", [](StationLayout& l) { l.scene.get<Snapbox>(l.edge).cluster = l.far; } },
        { "no cluster", [](StationLayout& l) { l.scene.get<Snapbox>(l.edge).cluster = EntityHandle {}; } },
    };
    for (const Case& c : cases) {
        StationLayout l;
        c.setup(l);
        SnapPair pair;
        EXPECT_FALSE(searchSnapPair(l.world(), l.edge, false, pair)) << c.name;
    }
}

TEST(SnapboxClusterExt, PlatformsThatAreEachOthersStationsEndTheSearch)
{
    SnapWorld w;
    const EntityHandle p = w.cluster("p");
    const EntityHandle q = w.cluster("q", { 1, 0 });
    for (auto [from, to] : { std::pair { p, q }, std::pair { q, p } }) {
        w.scene.set(from, "MovingPlatform", "autoplay", { 0 });
        w.scene.get<MovingPlatform>(from).stationA = to;
        w.scene.get<MovingPlatform>(from).stationB = to;
    }
    const EntityHandle e = w.box(p, { 0, 0 });
    const EntityHandle f = w.box(q, { 0, 0 });
    w.scene.get<Snapbox>(e).boxKind = kStationEdgeBoxKind;
    w.scene.get<Snapbox>(f).boxKind = kStationEdgeBoxKind;
    SnapPair pair;
    EXPECT_FALSE(searchSnapPair(w.world(), e, false, pair));
}

// Three boxes in a row; each pairs with the next, the last with the one before.
struct Row : SnapWorld {
    EntityHandle c, b0, b1, b2;
    Row()
    {
        c = cluster("row");
        b0 = box(c, { 0, 0 });
        b1 = box(c, { 2, 0 });
        b2 = box(c, { 4, 0 });
        link(b0, 0, b1);
        link(b1, 0, b2);
        link(b2, 2, b1);
    }
};

TEST(SnapboxClusterExt, TheClusterPairIsSearchedFromTheNearestBoxFirst)
{
    struct Case {
        Vec2f player;
        bool blockLast;
        int boxA, boxB;
    };
    const Case cases[] = { { { 4.2f, 1 }, false, 2, 1 }, { { -0.3f, 1 }, false, 0, 1 }, { { 2.2f, 1 }, false, 1, 2 },
        // The nearest box is blocked and the next one's only partner is it.
        { { 4.2f, 1 }, true, 0, 1 } };
    for (const Case& c : cases) {
        Row r;
        if (c.blockLast)
            r.blocker({ 4, 0 }, 0.5f, { r.b2 });
        r.place(r.player, c.player);
        const EntityHandle boxes[] = { r.b0, r.b1, r.b2 };
        SnapPair pair;
        ASSERT_TRUE(findSnapPair(r.c, r.world(), r.view(), pair)) << c.player.x;
        EXPECT_EQ(pair.boxA, boxes[c.boxA]) << c.player.x;
        EXPECT_EQ(pair.boxB, boxes[c.boxB]) << c.player.x;
    }
}

// The coarse search answers the middle of the two best samples, not the best
// sample itself; level geometry is laid out against that answer.
TEST(SnapboxClusterExt, ClosestPointIsTheMiddleOfTheTwoBestSamples)
{
    f32 samples[46];
    f32 t = 0.0f;
    for (f32& sample : samples) {
        sample = t;
        t += 0.022222223f;
    }
    const Vec2f p0 { 0, 0 }, p1 { 5, 0 }, p2 { 10, 0 };
    struct Case {
        f32 x;
        int best;
    };
    for (const Case c : { Case { samples[15] * 10.0f, 15 }, Case { 7.4f, 33 }, Case { 12.0f, 45 } }) {
        const CurvePoint nearest = closestPointOnQuadratic(p0, p1, p2, { c.x, 1.5f });
        const f32 expected = (samples[c.best] + samples[c.best - 1]) * 0.5f;
        EXPECT_EQ(nearest.t, expected) << c.x;
        EXPECT_EQ(nearest.point.x, 10.0f * expected) << c.x;
        EXPECT_EQ(nearest.point.y, 0.0f) << c.x;
    }
    // Before the start the first sample is the best one and is taken as it is.
    const CurvePoint start = closestPointOnQuadratic(p0, p1, p2, { -3, 1 });
    EXPECT_EQ(start.t, 0.0f);
    EXPECT_EQ(start.point, p0);
}

TEST(SnapboxClusterExt, ClosestPointLiesWithinASampleOfTheNearest)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<f32> spread(-4.0f, 4.0f);
    for (int i = 0; i < 200; ++i) {
        const Vec2f p0 { spread(random), spread(random) };
        const Vec2f p2 = p0 + Vec2f { 6.0f, spread(random) };
        const Vec2f p1 = (p0 + p2) * 0.5f + Vec2f { 0.0f, spread(random) * 0.5f };
        const f32 along = (spread(random) + 4.0f) / 8.0f;
        const Vec2f s = pointOnQuadratic(p0, p1, p2, along) + Vec2f { 0.0f, spread(random) * 0.1f };
        f32 exact = 0.0f;
        f32 lowest = 1e30f;
        for (int k = 0; k <= 20000; ++k) {
            const f32 t = static_cast<f32>(k) / 20000.0f;
            const Vec2f d = pointOnQuadratic(p0, p1, p2, t) - s;
            if (dot(d, d) < lowest) {
                lowest = dot(d, d);
                exact = t;
            }
        }
        const CurvePoint nearest = closestPointOnQuadratic(p0, p1, p2, s);
        EXPECT_LE(std::fabs(nearest.t - exact), 1.0f / 45.0f + 1e-4f) << i;
        EXPECT_EQ(nearest.point, pointOnQuadratic(p0, p1, p2, nearest.t)) << i;
    }
}

// Two boxes side by side with the same rotation, turned as a whole so that
// gravity points down, sideways and up: the path is the straight segment
// between the corner points and the up direction is the boxes' own.
TEST(SnapboxClusterExt, AlignToAStraightPairFollowsTheBoxesTurn)
{
    for (f32 degrees : { 0.0f, 90.0f, 180.0f, 270.0f }) {
        const std::string what = std::to_string(static_cast<int>(degrees));
        SnapWorld w;
        const EntityHandle c = w.cluster("c");
        const EntityHandle a = w.box(c, turned({ 0, 0 }, degrees), degrees);
        const EntityHandle b = w.box(c, turned({ 2, 0 }, degrees), degrees);
        w.link(a, 0, b);
        w.place(w.player, turned({ 0.3f, 0.8f }, degrees));
        SnapPair pair;
        ASSERT_TRUE(searchSnapPair(w.world(), a, false, pair));
        alignToPair(w.world(), pair, w.view());
        const PlayerMovement& m = w.movement();
        const Vec2f up = turned({ 0, 1 }, degrees);
        const Vec2f along = turned({ 1, 0 }, degrees);
        expectNear(m.snapPath[0], turned({ -1, 0 }, degrees), 1e-5f, what + " P0");
        expectNear(m.snapPath[3], turned({ 1, 0 }, degrees), 1e-5f, what + " P2");
        // Parallel X axes: the control point is the middle, the path straight.
        EXPECT_EQ(m.snapPath[6], (m.snapPath[0] + m.snapPath[3]) * 0.5f) << what;
        expectNear(m.snapPath[1], up, 1e-6f, what + " yA");
        expectNear(m.snapPath[2], along, 1e-6f, what + " xA");
        expectNear(m.clusterUp, up, 1e-5f, what + " up");
        expectNear(m.snapPath[7], along, 1e-5f, what + " dir");
        expectNear(m.snapTangent, along, 1e-5f, what + " tangent");
        EXPECT_EQ(m.snapBoxUp, m.snapPath[1]) << what;
        EXPECT_NEAR(dot(m.snapPosition, up), 0.0f, 1e-5f) << what;
        EXPECT_NEAR(dot(m.snapPosition, along), 0.3f, 0.05f) << what;
        EXPECT_GT(m.snapParameter, 0.6f) << what;
        EXPECT_LT(m.snapParameter, 0.7f) << what;
        EXPECT_EQ(m.snapBoxA, a) << what;
        EXPECT_EQ(m.snapBoxB, b) << what;
    }
}

// At the start of the path it runs on straight: a player on P0 or before it
// snaps to the line through P0, not back onto P0.
TEST(SnapboxClusterExt, BeforeTheFirstCornerThePathRunsOnStraight)
{
    for (f32 degrees : { 0.0f, 90.0f, 180.0f }) {
        const std::string what = std::to_string(static_cast<int>(degrees));
        for (Vec2f at : { Vec2f { -1, 0 }, Vec2f { -1.5f, 0.3f }, Vec2f { -4, -0.2f } }) {
            SnapWorld w;
            const EntityHandle c = w.cluster("c");
            const EntityHandle a = w.box(c, turned({ 0, 0 }, degrees), degrees);
            w.link(a, 0, w.box(c, turned({ 2, 0 }, degrees), degrees));
            w.place(w.player, turned(at, degrees));
            SnapPair pair;
            ASSERT_TRUE(searchSnapPair(w.world(), a, false, pair));
            alignToPair(w.world(), pair, w.view());
            EXPECT_EQ(w.movement().snapParameter, 0.0f) << what;
            expectNear(w.movement().snapPosition, turned({ at.x, 0 }, degrees), 1e-5f, what);
        }
    }
}

TEST(SnapboxClusterExt, TheUpSideIsTheOneTheBoxesLeanTo)
{
    // The same corner points with the boxes' Y axes pointing down: the
    // path's up and direction turn over with them.
    SnapWorld w;
    const EntityHandle c = w.cluster("c");
    const EntityHandle a = w.box(c, { -2, 0 }, 180.0f);
    const EntityHandle b = w.box(c, { 0, 0 }, 180.0f);
    w.link(a, 0, b);
    w.place(w.player, { -0.5f, -0.5f });
    SnapPair pair;
    ASSERT_TRUE(searchSnapPair(w.world(), a, false, pair));
    alignToPair(w.world(), pair, w.view());
    expectNear(w.movement().clusterUp, { 0, -1 }, 1e-5f, "up");
    expectNear(w.movement().snapPath[7], { -1, 0 }, 1e-5f, "dir");
    expectNear(w.movement().snapTangent, { 1, 0 }, 1e-5f, "tangent");
}

TEST(SnapboxClusterExt, AlignToClusterStoresThePairOfTheNearestBox)
{
    Row r;
    r.place(r.player, { 4.2f, 1 });
    r.standOn(r.c);
    EXPECT_TRUE(alignToCluster(r.world(), r.view()));
    EXPECT_EQ(r.movement().snapBoxA, r.b2);
    EXPECT_EQ(r.movement().snapBoxB, r.b1);
    EXPECT_EQ(r.movement().cluster, r.c);
    EXPECT_EQ(r.movement().movementState[kMachineState], WALKING);
}

// A blocker that moves over the boxes under a standing player leaves the
// cluster without a pair: the player lets go of it and falls, the game goes on.
TEST(SnapboxClusterExt, ABlockerOverTheBoxesUnderThePlayerMakesItFall)
{
    Row r;
    const EntityHandle blocker = r.blocker({ 100, 0 }, 3.0f, { r.b0, r.b1, r.b2 });
    r.place(r.player, { 2.2f, 1 });
    r.standOn(r.c);
    ASSERT_TRUE(alignToCluster(r.world(), r.view()));
    r.place(blocker, { 2, 0 });
    quern::testing::LogCapture warnings(2);
    EXPECT_FALSE(alignToCluster(r.world(), r.view()));
    EXPECT_EQ(warnings.count("Couldn't find snapbox pair"), 1u);
    const PlayerMovement& m = r.movement();
    EXPECT_FALSE(isSomeEntity(m.cluster));
    EXPECT_EQ(m.clusterBoxCount, 0);
    EXPECT_EQ(m.snapParameter, 0.0f);
    EXPECT_TRUE(isZero(m.snapPath[0]) && isZero(m.clusterUp) && isZero(m.snapPosition));
    EXPECT_EQ(m.movementState[kMachineState], FALLING);
    EXPECT_EQ(m.movementState[kMachineChanged], 1);
    EXPECT_FALSE(isStandingOnCluster(r.world(), m));
}

// A cluster whose wobble target hangs below it, with the coroutine system
// and a sound system whose requests stay queued.
struct WobbleWorld : SnapWorld {
    CoroutineSystem* coroutines = new CoroutineSystem(context);
    SoundSystem* sound = new SoundSystem(nullptr, nullptr, nullptr, nullptr);
    EntityHandle c, target;

    explicit WobbleWorld(f32 degrees = 0.0f)
    {
        context.coroutine = coroutines;
        context.sound = sound;
        scene.addSystem(coroutines);
        scene.addSystem(sound);
        world().getSystemInfo(world().getSystemCount() - 1).state = quern::entity::SystemInfo::kDisabled;
        world().clock.step = 10'000; // 0.01 s
        c = cluster("c", { 5, 1 }, degrees);
        target = scene.add("target", { "Transform" }, c);
        scene.get<Transform>(target).position = { 0, 0, 0.25f };
        scene.get<SnapboxCluster>(c).wobbleTarget = target;
        scene.get<SnapboxCluster>(c).wobbleSound = 0x1234;
        // The player stands on the cluster's top, whichever way it is turned.
        place(player, Vec2f { 5, 1 } + turned({ 0, 2 }, degrees), degrees);
        world().attachSystems(nullptr);
        scene.start();
    }
    // Fixed ticks from the world time `from` (seconds) to `to`.
    void run(f32 from, f32 to)
    {
        for (quern::u64 at = static_cast<quern::u64>(from * 100.0f + 0.5f); at <= static_cast<quern::u64>(to * 100.0f + 0.5f);
             ++at) {
            world().clock.tickBase = at * world().clock.step;
            scene.tick();
        }
    }
    Vector3 targetPosition() { return worldPositionOf(world(), scene.get<Transform>(target)); }
    quern::u64 running() { return coroutines->fixedTickList().count(); }
};

TEST(SnapboxClusterExt, TheWobbleSwingsAwayFromThePlayerAndComesBack)
{
    for (f32 degrees : { 0.0f, 90.0f, 180.0f, 270.0f }) {
        const std::string what = std::to_string(static_cast<int>(degrees));
        WobbleWorld w(degrees);
        startClusterWobble(*w.coroutines, w.c, w.player);
        w.run(0.0f, 0.05f);
        // At 0.05 s the swing is at its widest: (1 - log10(1.75)) * 0.8.
        const f32 widest = (1.0f - std::log10(0.05f * 1.6666666f * 9.0f + 1.0f))
            * std::sin(0.05f * 1.6666666f * 6.2831855f * 3.0f) * 0.8f;
        const Vector3 at = w.targetPosition();
        const Vec2f away = turned({ 0, -1 }, degrees);
        expectNear(planeOf(at), Vec2f { 5, 1 } + away * widest, 1e-4f, what);
        EXPECT_EQ(w.scene.get<Transform>(w.target).position.z, 0.0f) << what;
        EXPECT_EQ(w.scene.get<SnapboxCluster>(w.c).wobbling, 1) << what;
        w.run(0.06f, 0.6f);
        EXPECT_EQ(w.scene.get<Transform>(w.target).position, (Vector3 { 0, 0, 0 })) << what;
        EXPECT_EQ(w.scene.get<SnapboxCluster>(w.c).wobbling, 0) << what;
        EXPECT_EQ(w.running(), 0u) << what;
    }
}

TEST(SnapboxClusterExt, ASecondWobbleIsRefusedWhileTheFirstRuns)
{
    WobbleWorld w;
    startClusterWobble(*w.coroutines, w.c, w.player);
    w.run(0.0f, 0.02f);
    ASSERT_EQ(w.sound->requestCount(), 1u);
    const SoundRequest& request = w.sound->request(0);
    EXPECT_EQ(request.soundId, 0x1234u);
    EXPECT_EQ(request.position, (Vector3 { 5, 1, 0 }));
    EXPECT_EQ(request.entity, 0u);
    EXPECT_EQ(request.positional, 1);
    EXPECT_EQ(request.kind, SoundRequest::Play);

    startClusterWobble(*w.coroutines, w.c, w.player);
    w.run(0.03f, 0.03f);
    EXPECT_EQ(w.sound->requestCount(), 1u);
    EXPECT_EQ(w.running(), 1u);
    w.run(0.04f, 0.6f);
    EXPECT_EQ(w.running(), 0u);
    // Once it is over the cluster wobbles again.
    startClusterWobble(*w.coroutines, w.c, w.player);
    w.run(0.61f, 0.62f);
    EXPECT_EQ(w.sound->requestCount(), 2u);
    EXPECT_EQ(w.scene.get<SnapboxCluster>(w.c).wobbling, 1);
}

TEST(SnapboxClusterExt, AWobbleEndsWithItsClusterOrTarget)
{
    for (bool deactivate : { true, false }) {
        WobbleWorld w;
        if (deactivate)
            w.world().deactivateEntity(w.c);
        else
            w.scene.get<SnapboxCluster>(w.c).wobbleTarget = EntityHandle {};
        startClusterWobble(*w.coroutines, w.c, w.player);
        w.run(0.0f, 0.01f);
        EXPECT_EQ(w.running(), 0u) << deactivate;
        EXPECT_EQ(w.sound->requestCount(), 0u) << deactivate;
        EXPECT_EQ(w.scene.get<SnapboxCluster>(w.c).wobbling, 0) << deactivate;
    }
}

TEST(SnapboxClusterExt, AWorldWithoutASoundSystemWobblesSilently)
{
    WobbleWorld w;
    w.context.sound = nullptr;
    startClusterWobble(*w.coroutines, w.c, w.player);
    w.run(0.0f, 0.6f);
    EXPECT_EQ(w.sound->requestCount(), 0u);
    EXPECT_EQ(w.running(), 0u);
    EXPECT_EQ(w.scene.get<SnapboxCluster>(w.c).wobbling, 0);
}

} // namespace

namespace {

TEST(SnapboxClusterExt, SnapGizmosDrawTheCurveTheBoxAxesAndThePlayersAxes)
{
    Settings::Development.gizmos = true;
    SnapWorld w;
    const EntityHandle c = w.cluster("c");
    const EntityHandle a = w.box(c, { 0, 0 });
    w.link(a, 0, w.box(c, { 2, 0 }, 90.0f));
    w.place(w.player, { 0.5f, 1 }, 90.0f);
    SnapPair pair;
    ASSERT_TRUE(searchSnapPair(w.world(), a, false, pair));
    alignToPair(w.world(), pair, w.view());
    GizmoLineSystem lines(w.context);
    drawSnapGizmos(lines, w.world(), w.view());
    Settings::Development.gizmos = false;

    ASSERT_EQ(lines.lines.count(), 26u);
    const PlayerMovement& m = w.movement();
    const auto line = [&](quern::u64 i) { return lines.lines.at<GizmoLineRecord>(i); };
    // Twenty segments from P0 to P2 along the curve.
    for (quern::u64 i = 0; i < 20; ++i) {
        EXPECT_EQ(line(i).colour, 7);
        const Vec2f to = pointOnQuadratic(m.snapPath[0], m.snapPath[6], m.snapPath[3], static_cast<f32>(i + 1) * 0.05f);
        EXPECT_EQ(planeOf(line(i).to), to) << i;
        if (i > 0) {
            EXPECT_EQ(line(i).from, line(i - 1).to) << i;
        }
    }
    EXPECT_EQ(planeOf(line(0).from), m.snapPath[0]);
    expectNear(planeOf(line(19).to), m.snapPath[3], 1e-5f, "the curve ends on P2");
    // The box axes from the corner points: yA, xA from P0, yB, xB from P2.
    const struct {
        int origin, axis;
        i32 colour;
    } axes[] = { { 0, 1, 1 }, { 0, 2, 2 }, { 3, 4, 1 }, { 3, 5, 8 } };
    for (quern::u64 k = 0; k < 4; ++k) {
        EXPECT_EQ(planeOf(line(20 + k).from), m.snapPath[axes[k].origin]) << k;
        EXPECT_EQ(planeOf(line(20 + k).to), m.snapPath[axes[k].origin] + m.snapPath[axes[k].axis]) << k;
        EXPECT_EQ(line(20 + k).colour, axes[k].colour) << k;
    }
    // The player's up (here -X, the body turned a quarter) and X axes, ten long.
    EXPECT_EQ(line(24).from, (Vector3 { 0.5f, 1, 0 }));
    expectNear(planeOf(line(24).to), { -9.5f, 1 }, 1e-5f, "up");
    EXPECT_EQ(line(24).colour, 2);
    expectNear(planeOf(line(25).to), { 0.5f, 11 }, 1e-5f, "x");
    EXPECT_EQ(line(25).colour, 1);
}

} // namespace
