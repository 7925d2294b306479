#include "ContactWorld.h"

#include "harmonize/Settings.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/systems/MissileLauncherSystem.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace harmonize {
namespace {

using quern::math::Vector3;
using testing::ContactWorld;

constexpr f32 kStep = 0.01f; // the fixed tick of the test world

// A flying enemy of race 2 (its own Race) with a head child, on a straight
// path from (0, 0) to (31, 62): point i is (i, 2i). The player (race 0)
// waits far away.
struct EnemyWorld : ContactWorld {
    explicit EnemyWorld(i32 playerRace = 0)
        : ContactWorld(playerRace)
    {
        enemy = scene.add("enemy", { "Transform", "FlyingEnemy", "Race" });
        head = scene.add("head", { "Transform" }, enemy);
        FlyingEnemy& e = record();
        for (u64 i = 0; i < 32; ++i)
            e.path[i] = { static_cast<f32>(i), 2.0f * static_cast<f32>(i) };
        e.pathLength = 10.0f;
        e.speed = 5.0f;
        e.detectionRadius = 4.0f;
        e.head = head;
        e.raceEntity = enemy;
        get<Race>(enemy).value = 2;
        get<Transform>(enemy).position = { 7.0f, 7.0f, 3.0f };
        get<Transform>(player).position = { 100.0f, 100.0f, 0.0f };
    }
    void begin()
    {
        start();
        FlyingEnemy::start(enemy, world(), *coroutines);
    }
    FlyingEnemy& record() { return get<FlyingEnemy>(enemy); }
    Vector3 headAxis() { return worldUpAxisOf(world(), get<Transform>(head)); }
    void playerAt(const Vector3& at) { get<Transform>(player).position = at; }

    EntityHandle enemy, head;
};

TEST(FlyingEnemyExt, StartPutsTheEnemyOnItsFirstPointAndTurnsItsSpeedIntoAPathFraction)
{
    EnemyWorld w;
    w.begin();
    const Vector3& at = w.get<Transform>(w.enemy).position;
    EXPECT_EQ(at.x, 0.0f);
    EXPECT_EQ(at.y, 0.0f);
    EXPECT_EQ(at.z, 0.0f);
    EXPECT_EQ(w.record().speed, 0.5f);
    EXPECT_EQ(w.coroutineCount(), 1u);
}

TEST(FlyingEnemyExt, APathWithoutLengthStandsStill)
{
    for (f32 length : { 0.0f, -3.0f, std::numeric_limits<f32>::quiet_NaN() }) {
        EnemyWorld w;
        w.record().pathLength = length;
        w.begin();
        EXPECT_EQ(w.record().speed, 0.0f) << length;
        w.world().deltaTime = kStep;
        FlyingEnemy::followPath(w.enemy, w.world());
        EXPECT_EQ(w.record().pathPosition, 0.0f) << length;
        EXPECT_EQ(w.get<Transform>(w.enemy).position.x, 0.0f) << length;
    }
}

TEST(FlyingEnemyExt, FollowPathTurnsBackOrWrapsAtTheEnds)
{
    const f32 nan = std::numeric_limits<f32>::quiet_NaN();
    struct Case {
        const char* what;
        bool wrap;
        f32 t, speed; // speed in path fractions per second
        f32 expectedT, expectedSpeed;
    } cases[] = {
        { "inside", false, 0.25f, 5.0f, 0.3f, 5.0f },
        { "exactly the end turns back and stays there", false, 0.95f, 5.0f, 1.0f, -5.0f },
        { "past the end turns back", false, 0.99f, 5.0f, 1.0f, -5.0f },
        { "below the start turns back", false, 0.01f, -5.0f, 0.0f, 5.0f },
        { "wrap past the end starts again", true, 0.99f, 2.0f, 0.01f, 2.0f },
        { "wrap below the start", true, 0.005f, -1.0f, 0.995f, -1.0f },
        { "wrap exactly at the end stays", true, 0.95f, 5.0f, 1.0f, 5.0f },
        { "wrap more than one path per tick waits at the end", true, 0.5f, 200.0f, 1.0f, 200.0f },
        { "wrap more than one path backwards waits at the start", true, 0.5f, -200.0f, 0.0f, -200.0f },
        { "an undefined position restarts", true, nan, 1.0f, 0.0f, 1.0f },
    };
    for (const Case& c : cases) {
        EnemyWorld w;
        w.begin();
        w.world().deltaTime = kStep;
        w.record().wrap = c.wrap ? 1 : 0;
        w.record().pathPosition = c.t;
        w.record().speed = c.speed;
        FlyingEnemy::followPath(w.enemy, w.world());
        EXPECT_NEAR(w.record().pathPosition, c.expectedT, 1e-6f) << c.what;
        EXPECT_EQ(w.record().speed, c.expectedSpeed) << c.what;
        const Vec2f point = FlyingEnemy::samplePath(w.record(), w.record().pathPosition);
        const Vector3& at = w.get<Transform>(w.enemy).position;
        EXPECT_EQ(at.x, point.x) << c.what;
        EXPECT_EQ(at.y, point.y) << c.what;
        EXPECT_EQ(at.z, 0.0f) << c.what;
    }
}

TEST(FlyingEnemyExt, SamplePathBlendsNeighbouringPointsAndNeverReadsOutsideThePath)
{
    EnemyWorld w;
    const struct {
        f32 t;
        Vec2f point;
    } cases[] = {
        { 0.0f, { 0.0f, 0.0f } },
        { 1.0f, { 31.0f, 62.0f } },
        { 0.5f, { 15.5f, 31.0f } },
        { 10.0f / 31.0f, { 10.0f, 20.0f } },
        { 7.0f, { 31.0f, 62.0f } },
        { -2.0f, { 0.0f, 0.0f } },
        { std::numeric_limits<f32>::quiet_NaN(), { 0.0f, 0.0f } },
        { std::numeric_limits<f32>::infinity(), { 31.0f, 62.0f } },
    };
    for (const auto& c : cases) {
        const Vec2f p = FlyingEnemy::samplePath(w.record(), c.t);
        EXPECT_NEAR(p.x, c.point.x, 1e-4f) << c.t;
        EXPECT_NEAR(p.y, c.point.y, 1e-4f) << c.t;
    }
}

TEST(FlyingEnemyExt, OnlyAnOpposingPlayerInsideTheSphereIsInRange)
{
    const struct {
        i32 playerRace, enemyRace;
        Vector3 player; // the enemy is at (0, 0, 0), radius 4
        bool inRange;
    } cases[] = {
        { 0, 2, { 3.0f, 0.0f, 0.0f }, true }, { 2, 0, { 0.0f, -3.0f, 0.0f }, true },
        { 0, 0, { 3.0f, 0.0f, 0.0f }, false }, { 1, 2, { 3.0f, 0.0f, 0.0f }, false },
        { 0, 1, { 3.0f, 0.0f, 0.0f }, false }, { 0, 2, { 4.0f, 0.0f, 0.0f }, false }, // on the sphere
        { 0, 2, { 1.0f, 1.0f, 5.0f }, false }, // near in the plane, deep behind it
    };
    for (const auto& c : cases) {
        EnemyWorld w(c.playerRace);
        w.get<Race>(w.enemy).value = c.enemyRace;
        w.begin();
        w.playerAt(c.player);
        EXPECT_EQ(FlyingEnemy::isPlayerInRange(w.enemy, w.player, w.world()), c.inRange)
            << c.playerRace << " " << c.enemyRace << " " << c.player.x << "," << c.player.z;
    }
    EnemyWorld w;
    w.begin();
    w.playerAt({ 1.0f, 0.0f, 0.0f });
    EXPECT_FALSE(FlyingEnemy::isPlayerInRange(w.enemy, EntityHandle {}, w.world()));
    const EntityHandle stale = EntityHandle::make(w.player.index(), static_cast<u16>(w.player.generation() + 1));
    EXPECT_FALSE(FlyingEnemy::isPlayerInRange(w.enemy, stale, w.world()));
}

TEST(FlyingEnemyExt, TheHeadSweepsForARandomEvenCountThenRestsBeforeTheNextSweep)
{
    EnemyWorld w;
    w.record().heading = 0.5f;
    w.begin();
    // Slot 5's count: next(5) = 40965, 32 + (2 * 40965) mod 32 = 42.
    ASSERT_EQ(w.enemy.index(), 5u);
    constexpr i32 kCount = 42;
    w.tick(); // the start turns the head to the stored heading
    f32 expected = 0.5f;
    for (i32 i = 0; i < kCount; ++i) {
        w.tick();
        expected += 0.025f;
        ASSERT_EQ(w.record().heading, expected) << i;
    }
    w.tick(100); // resting for 1.5 s
    EXPECT_EQ(w.record().heading, expected);
    w.tick(60);
    EXPECT_GT(w.record().heading, expected);
    const Vector3 axis = w.headAxis();
    EXPECT_NEAR(axis.x, std::sin(w.record().heading), 1e-5f); // headings turn from +Y towards +X
    EXPECT_NEAR(axis.y, std::cos(w.record().heading), 1e-5f);
}

TEST(FlyingEnemyExt, TheHeadPointsItsYAxisAtAPlayerInRangeAndRestsWhenItIsGone)
{
    const Vector3 places[] = {
        { 2.0f, 0.0f, 0.0f },
        { 0.0f, 2.0f, 0.0f },
        { -2.0f, 0.0f, 0.0f },
        { 0.0f, -2.0f, 0.0f },
        { 1.0f, 1.0f, 0.0f },
    };
    for (const Vector3& at : places) {
        EnemyWorld w;
        w.begin();
        w.playerAt(at);
        w.tick(3);
        const Vector3 axis = w.headAxis();
        const f32 length = std::sqrt(at.x * at.x + at.y * at.y);
        EXPECT_NEAR(axis.x, at.x / length, 1e-5f) << at.x << "," << at.y;
        EXPECT_NEAR(axis.y, at.y / length, 1e-5f) << at.x << "," << at.y;
        EXPECT_NEAR(w.record().heading, std::atan2(at.x, at.y), 1e-6f);

        // Out of reach: the head keeps its last heading for 1.5 s.
        w.playerAt({ 50.0f, 0.0f, 0.0f });
        const f32 last = w.record().heading;
        w.tick(140);
        EXPECT_EQ(w.record().heading, last);
        w.tick(20);
        EXPECT_NE(w.record().heading, last);
    }
}

TEST(FlyingEnemyExt, TheHeadIgnoresAPlayerOfItsOwnRace)
{
    EnemyWorld w(2);
    w.begin();
    w.playerAt({ 2.0f, 0.0f, 0.0f });
    w.tick(3);
    EXPECT_NEAR(w.record().heading, 0.05f, 1e-6f); // sweeping, not aiming at +X
}

TEST(FlyingEnemyExt, StartingTheHeadAgainKeepsOneCoroutinePerEnemy)
{
    EnemyWorld w;
    w.begin();
    w.tick();
    FlyingEnemy::startHead(w.enemy, *w.coroutines);
    EXPECT_EQ(w.coroutineCount(), 1u);
    EXPECT_TRUE(FlyingEnemy::hasHead(w.enemy, *w.coroutines));
    EXPECT_FALSE(FlyingEnemy::hasHead(w.player, *w.coroutines));
}

TEST(FlyingEnemyExt, TheHeadEndsWithItsEnemy)
{
    EnemyWorld w;
    w.begin();
    w.tick();
    quern::testing::LogCapture info(3);
    w.world().destroyEntities(&w.enemy, 1);
    w.tick(2);
    EXPECT_TRUE(info.contains("Entity is dead. Abort coroutine.")) << info.text();
    EXPECT_EQ(w.coroutineCount(), 0u);
}

// The enemy as the game runs it: started and stepped by the launcher system.
struct LaunchedEnemyWorld : EnemyWorld {
    LaunchedEnemyWorld()
    {
        gizmos = new GizmoLineSystem(context);
        context.gizmoLines = gizmos;
        launchers = new MissileLauncherSystem(context);
        context.missileLauncher = launchers;
        scene.addSystem(launchers);
    }
    ~LaunchedEnemyWorld() { Settings::Development.gizmos = false; }
    GizmoLineSystem* gizmos;
    MissileLauncherSystem* launchers;
};

TEST(FlyingEnemyExt, TheLauncherSystemStartsTheEnemyStepsItsPathAndMarksItWithGizmos)
{
    LaunchedEnemyWorld w;
    Settings::Development.gizmos = true;
    w.start();
    EXPECT_EQ(w.record().speed, 0.5f);
    EXPECT_EQ(w.coroutineCount(), 1u);
    w.tick(2);
    EXPECT_NEAR(w.record().pathPosition, 0.01f, 1e-6f);
    const Vector3 at = worldPositionOf(w.world(), w.get<Transform>(w.enemy));
    EXPECT_NEAR(at.x, 0.31f, 1e-5f);
    EXPECT_NEAR(at.y, 0.62f, 1e-5f);
    // A circle of the detection radius and a cross, each tick.
    ASSERT_EQ(w.gizmos->lines.count(), 2u * (32u + 2u));
    const GizmoLineRecord& first = w.gizmos->lines.at<GizmoLineRecord>(32 + 2);
    EXPECT_NEAR(first.from.x - at.x, 4.0f, 1e-5f);
}

TEST(FlyingEnemyExt, TenQuickSaveRestoresKeepOneHeadPerEnemy)
{
    LaunchedEnemyWorld w;
    w.coroutines->saveSnapshot(); // a snapshot from before the head started
    w.start();
    w.tick();
    w.coroutines->restoreSnapshot();
    w.launchers->restoreSnapshot(w.world());
    EXPECT_EQ(w.coroutineCount(), 1u);
    w.coroutines->saveSnapshot();
    for (int cycle = 0; cycle < 10; ++cycle) {
        w.tick(3);
        w.coroutines->restoreSnapshot();
        w.launchers->restoreSnapshot(w.world());
        EXPECT_EQ(w.coroutineCount(), 1u) << "cycle " << cycle;
    }
}

} // namespace
} // namespace harmonize
