#include "harmonize/systems/FuzzyCollisionSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/GameCameraSystem.h"
#include "harmonize/utils/MathUtils.h"

#include "harmonize/Scenario.h"
#include "quern/platform/FloatingPointTraps.h"
#include "support/CountingAllocator.h"

#include <btBulletDynamicsCommon.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace harmonize {
namespace {

using quern::math::Vector3;

constexpr f32 kNaN = std::numeric_limits<f32>::quiet_NaN();

FuzzyZone sphereZone(f32 radius, f32 falloff, u32 easing = EaseCurve::Linear)
{
    FuzzyZone zone {};
    zone.shape = 0;
    zone.easing = easing;
    zone.coreRadius = radius;
    zone.falloffWidth = falloff;
    return zone;
}

FuzzyZone boxZone(Vec2f size, Vec2f falloff, u32 easing = EaseCurve::Linear)
{
    FuzzyZone zone {};
    zone.shape = 1;
    zone.easing = easing;
    zone.coreSize = size;
    zone.falloff = falloff;
    return zone;
}

struct FalloffCase {
    const char* what;
    FuzzyZone zone;
    Vector3 zonePosition;
    Vector3 player;
    f32 expected;
};

TEST(FuzzyFalloff, RegionsOfSpheresAndBoxes)
{
    const FuzzyZone sphere = sphereZone(2, 1);
    const FuzzyZone box = boxZone({ 4, 4 }, { 2, 2 });
    const Vector3 origin { 0, 0, 0 };
    const FalloffCase cases[] = {
        { "sphere centre", sphere, origin, { 0, 0, 0 }, 1.0f },
        { "sphere core edge", sphere, origin, { 2, 0, 0 }, 1.0f },
        { "sphere mid band", sphere, origin, { 2.5f, 0, 0 }, 0.5f },
        { "sphere band along z", sphere, origin, { 0, 0, -2.5f }, 0.5f },
        { "sphere band diagonal", sphere, { 1, 1, 1 }, { 1 + 1.5f, 1 + 2, 1 }, 0.5f },
        { "sphere outer edge", sphere, origin, { 3, 0, 0 }, 0.0f },
        { "sphere beyond", sphere, origin, { 7, 0, 0 }, 0.0f },
        { "box core", box, origin, { 1.9f, -1.9f, 0 }, 1.0f },
        { "box ignores z", box, origin, { 0, 0, 40 }, 1.0f },
        { "box right (2)", box, origin, { 2.5f, 0, 0 }, 0.5f },
        { "box left (1)", box, origin, { -2.5f, 0, 0 }, 0.5f },
        { "box below (4)", box, origin, { 0, -2.75f, 0 }, 0.25f },
        { "box above (8)", box, origin, { 0, 2.25f, 0 }, 0.75f },
        { "box moved zone", box, { 10, -5, 3 }, { 12.5f, -5, 0 }, 0.5f },
        { "box outer edge", box, origin, { 3, 0, 0 }, 0.0f },
        { "box on the core corner", box, origin, { 2, 2, 0 }, 1.0f },
        { "corner 10 radial", box, origin, { 2.3f, 2.4f, 0 }, 0.5f },
        { "corner 5 radial", box, origin, { -2.4f, -2.3f, 0 }, 0.5f },
        { "corner 6 radial", box, origin, { 2.4f, -2.3f, 0 }, 0.5f },
        { "corner 9 radial", box, origin, { -2.3f, 2.4f, 0 }, 0.5f },
        { "corner inside the square, outside the circle", box, origin, { 2.9f, 2.9f, 0 }, 0.0f },
        { "unequal bands", boxZone({ 4, 2 }, { 2, 4 }), origin, { 0, 2, 0 }, 0.5f },
    };
    for (const FalloffCase& c : cases)
        EXPECT_NEAR(fuzzyFalloff(c.zone, c.zonePosition, c.player), c.expected, 1e-5f) << c.what;
}

TEST(FuzzyFalloff, AxisWithoutBandNeverLeavesTheCore)
{
    // The trigger bounds such an axis; the player overlapping the trigger
    // across that side is fully in.
    const FuzzyZone zone = boxZone({ 4, 4 }, { 0, 2 });
    EXPECT_EQ(fuzzyFalloff(zone, {}, { 2.5f, 0, 0 }), 1.0f);
    EXPECT_EQ(fuzzyFalloff(zone, {}, { 9, 0, 0 }), 1.0f);
    // The other axis still fades, and the corner is that axis alone.
    EXPECT_NEAR(fuzzyFalloff(zone, {}, { 9, 2.5f, 0 }), 0.5f, 1e-6f);
}

TEST(FuzzyFalloff, SphereWithoutBandHasAHardEdge)
{
    const FuzzyZone zone = sphereZone(2, 0);
    EXPECT_EQ(fuzzyFalloff(zone, {}, { 2, 0, 0 }), 1.0f);
    EXPECT_EQ(fuzzyFalloff(zone, {}, { 2.01f, 0, 0 }), 0.0f);
}

TEST(FuzzyWeight, EasedByTheZoneCurveAndClamped)
{
    const struct {
        const char* what;
        FuzzyZone zone;
        Vector3 player;
        f32 expected;
    } cases[] = {
        { "linear", sphereZone(2, 1), { 2.25f, 0, 0 }, 0.75f },
        { "quadratic", sphereZone(2, 1, EaseCurve::Quadratic), { 2.5f, 0, 0 }, 0.25f },
        { "smooth step", boxZone({ 4, 4 }, { 2, 2 }, EaseCurve::SmoothStep), { 0, 2.25f, 0 }, 0.84375f },
        // A polynomial curve turns back outside [0, 1]: deep in the core the
        // player must stay fully in, beyond the band fully out.
        { "smooth step deep in a sphere's core", sphereZone(2, 1, EaseCurve::SmoothStep), { 0, 0, 0 }, 1.0f },
        { "quadratic beyond the band", sphereZone(2, 1, EaseCurve::Quadratic), { 4.5f, 0, 0 }, 0.0f },
        { "smoother step beyond a corner", boxZone({ 4, 4 }, { 2, 2 }, EaseCurve::SmootherStep), { 3, 3, 0 }, 0.0f },
        { "player position not a number", sphereZone(2, 1), { kNaN, 0, 0 }, 0.0f },
        { "box position not a number", boxZone({ 4, 4 }, { 2, 2 }), { 0, kNaN, 0 }, 0.0f },
    };
    for (const auto& c : cases)
        EXPECT_NEAR(fuzzyWeight(c.zone, {}, c.player), c.expected, 1e-5f) << c.what;
}

// Exits with 0 when odd zones and positions are weighed without a
// floating-point fault while the game traps them.
[[noreturn]] void weighOddZonesUnderTraps()
{
    quern::platform::enableFloatingPointTraps();
    f32 sum = 0.0f;
    sum += fuzzyWeight(sphereZone(2, 0), {}, { 2, 0, 0 }); // 1: no band to divide by
    sum += fuzzyWeight(sphereZone(2, 0), {}, { kNaN, 0, 0 });
    sum += fuzzyWeight(sphereZone(2, 1), {}, { kNaN, kNaN, kNaN });
    sum += fuzzyWeight(sphereZone(2, 1e-30f), {}, { 1e30f, 0, 0 }); // no overflow
    sum += fuzzyWeight(boxZone({ 4, 4 }, { 2, 2 }), {}, { kNaN, 2.5f, 0 });
    sum += fuzzyWeight(boxZone({ 4, 4 }, { 1e-30f, 1e-30f }), {}, { 1e30f, 1e30f, 0 });
    sum += fuzzyWeight(boxZone({ 4, 4 }, { 2, 2 }), {}, { 3e38f, -3e38f, 0 });
    quern::platform::maskFloatingPointTraps();
    std::exit(sum == 1.0f ? 0 : 1);
}

TEST(FuzzyWeightDeathTest, OddZonesRaiseNoFloatingPointFault)
{
    EXPECT_EXIT(weighOddZonesUnderTraps(), ::testing::ExitedWithCode(0), "");
}

TEST(FuzzyWeightDeathTest, UnknownShapeIsFatal)
{
    FuzzyZone zone = sphereZone(2, 1);
    zone.shape = 2;
    EXPECT_DEATH(fuzzyWeight(zone, {}, {}), "Unreachable code hit");
}

// A level world with the collision system, the fuzzy collision system and the
// game camera, in the order a level registers them, and a player that only
// the trigger rules look at.
class FuzzyWorld {
public:
    explicit FuzzyWorld(u64 capacity = 64)
        : scene(capacity)
    {
        Settings::resetToDefaults();
        context.collision = new CollisionSystem(context);
        context.fuzzyCollision = new FuzzyCollisionSystem(context);
        context.gameCamera = new GameCameraSystem(context);
        scene.addSystem(context.collision);
        scene.addSystem(context.fuzzyCollision);
        scene.addSystem(context.gameCamera);
        world().clock.step = 10'000;
        camera = scene.add("camera", { "Transform" });
        player = scene.add("player", { "Transform", "PlayerMovement" });
        spare = cameraZone("spare");
    }
    ~FuzzyWorld() { Settings::resetToDefaults(); }

    quern::entity::World& world() { return scene.world(); }
    FuzzyCollisionSystem& fuzzy() { return *context.fuzzyCollision; }

    void start(quern::memory::Allocator* allocator = nullptr)
    {
        world().attachSystems(allocator);
        scene.start();
    }

    EntityHandle sphere(const char* name, const Vector3& position, f32 radius, f32 falloff)
    {
        const EntityHandle e = scene.add(name, { "Transform", "FuzzyZone" });
        scene.get<Transform>(e).position = position;
        scene.get<FuzzyZone>(e) = sphereZone(radius, falloff);
        return e;
    }
    EntityHandle box(const char* name, const Vector3& position, Vec2f size, Vec2f falloff)
    {
        const EntityHandle e = scene.add(name, { "Transform", "FuzzyZone" });
        scene.get<Transform>(e).position = position;
        scene.get<FuzzyZone>(e) = boxZone(size, falloff);
        return e;
    }
    // A zone with its own camera.
    EntityHandle cameraZone(const char* name)
    {
        const EntityHandle e = sphere(name, { 0, 0, 0 }, 1, 1);
        scene.set(e, "FuzzyCameraZone", "camera", { 0 });
        scene.get<FuzzyCameraZone>(e).camera = camera;
        return e;
    }

    void enter(EntityHandle a, EntityHandle b) { fuzzy().onEnter(PairEvent { a.value, b.value }, world()); }
    void exit(EntityHandle a, EntityHandle b) { fuzzy().onExit(PairEvent { a.value, b.value }, world()); }

    std::vector<FuzzyPair> overlaps() const
    {
        const auto span = context.fuzzyCollision->overlaps();
        return { span.begin(), span.end() };
    }
    // The entries the camera's zone list holds, told by how many more it
    // takes: the spare zone's fill-ins are taken out again.
    u64 cameraEntries()
    {
        const FuzzyPair filler { spare.value, player.value };
        u64 room = 0;
        while (room <= GameCameraSystem::kZoneCapacity && context.gameCamera->addZone(filler, camera.value))
            ++room;
        context.gameCamera->removeZone(filler, world());
        return GameCameraSystem::kZoneCapacity - room;
    }

    harmonize::testing::Scenario scene;
    AppContext context;
    EntityHandle camera;
    EntityHandle player;
    EntityHandle spare;
};

FuzzyPair pairOf(EntityHandle zone, EntityHandle player) { return { zone.value, player.value }; }

TEST(FuzzyCollisionSystem, DescribesItself)
{
    AppContext context;
    FuzzyCollisionSystem system(context);
    quern::entity::SystemInfo info {};
    system.describe(&info);
    EXPECT_STREQ(info.name, "FuzzyCollisionSystem");
}

TEST(FuzzyCollisionSystem, WorldStartTurnsZonesIntoTriggersOfCorePlusFalloff)
{
    FuzzyWorld w;
    const EntityHandle parent = w.scene.add("parent", { "Transform" });
    w.scene.get<Transform>(parent).position = { 10, 0, 0 };
    const EntityHandle round = w.sphere("round", { 1, 2, 3 }, 2, 1);
    w.scene.setParent(round, parent);
    const EntityHandle flat = w.box("flat", { -4, 0, 0 }, { 4, 2 }, { 2, 1 });
    // Whatever the level stored is replaced.
    w.scene.set(flat, "BoxShape", "centre", { 5, 5, 5 });
    w.scene.set(flat, "Collider", "halfExtents", { 9, 9, 9 });
    w.start();

    const Collider& roundCollider = w.scene.get<Collider>(round);
    EXPECT_EQ(roundCollider.trigger, 1);
    EXPECT_EQ(roundCollider.position, (Vector3 { 11, 2, 3 }));
    EXPECT_EQ(roundCollider.halfExtents, (Vector3 { 3, 3, 3 }));
    EXPECT_EQ(w.scene.get<SphereShape>(round).radius, 3.0f);
    EXPECT_TRUE(w.world().getEnabledMask(round.index()).test(SphereShape::kType));

    const Collider& flatCollider = w.scene.get<Collider>(flat);
    EXPECT_EQ(flatCollider.trigger, 1);
    EXPECT_EQ(flatCollider.position, (Vector3 { -4, 0, 0 }));
    EXPECT_EQ(flatCollider.halfExtents, (Vector3 { 3, 1.5f, 50 }));
    EXPECT_EQ(w.scene.get<BoxShape>(flat).centre, (Vector3 { 0, 0, 0 }));
    EXPECT_EQ(w.scene.get<BoxShape>(flat).size, (Vector3 { 6, 3, 100 }));

    // The collision system built trigger bodies of those shapes.
    const btRigidBody* roundBody = w.context.collision->findBody(round);
    ASSERT_NE(roundBody, nullptr);
    ASSERT_EQ(roundBody->getCollisionShape()->getShapeType(), SPHERE_SHAPE_PROXYTYPE);
    EXPECT_FLOAT_EQ(static_cast<const btSphereShape*>(roundBody->getCollisionShape())->getRadius(), 3.0f);
    const btRigidBody* flatBody = w.context.collision->findBody(flat);
    ASSERT_NE(flatBody, nullptr);
    ASSERT_EQ(flatBody->getCollisionShape()->getShapeType(), BOX_SHAPE_PROXYTYPE);
    const btVector3 half = static_cast<const btBoxShape*>(flatBody->getCollisionShape())->getHalfExtentsWithMargin();
    EXPECT_FLOAT_EQ(half.x(), 3.0f);
    EXPECT_FLOAT_EQ(half.y(), 1.5f);
    EXPECT_FLOAT_EQ(half.z(), 50.0f);
}

TEST(FuzzyCollisionSystem, DisabledZoneIsLeftAlone)
{
    FuzzyWorld w;
    const EntityHandle zone = w.sphere("zone", {}, 2, 1);
    w.world().getEnabledMask(zone.index()).reset(FuzzyZone::kType);
    w.start();
    EXPECT_FALSE(w.world().getComponentMask(zone.index()).test(Collider::kType));
    EXPECT_EQ(w.context.collision->findBody(zone), nullptr);
}

TEST(FuzzyCollisionSystem, ZoneNotActiveAtStartEndsActiveWithItsTrigger)
{
    FuzzyWorld w;
    const EntityHandle zone = w.sphere("zone", {}, 2, 1);
    w.world().attachSystems(nullptr);
    w.context.collision->worldStarted(w.world(), nullptr);
    ASSERT_FALSE(w.world().isActive(zone));
    w.fuzzy().worldStarted(w.world(), nullptr);
    EXPECT_TRUE(w.world().isActive(zone));
    EXPECT_TRUE(w.world().getEnabledMask(zone.index()).test(SphereShape::kType));
    EXPECT_NE(w.context.collision->findBody(zone), nullptr);
}

TEST(FuzzyCollisionSystemDeathTest, UnknownShapeAtWorldStartIsFatal)
{
    FuzzyWorld w;
    const EntityHandle zone = w.sphere("zone", {}, 2, 1);
    w.scene.get<FuzzyZone>(zone).shape = -1;
    EXPECT_DEATH(w.start(), "Unreachable code hit");
}

TEST(FuzzyCollisionSystem, EnterRecordsZoneThenPlayerWhateverTheOrder)
{
    FuzzyWorld w;
    const EntityHandle a = w.sphere("a", {}, 2, 1);
    const EntityHandle b = w.box("b", {}, { 2, 2 }, { 1, 1 });
    w.start();
    w.enter(a, w.player);
    w.enter(w.player, b);
    EXPECT_EQ(w.overlaps(), (std::vector<FuzzyPair> { pairOf(a, w.player), pairOf(b, w.player) }));
}

TEST(FuzzyCollisionSystem, PairsWithoutAnEnabledZoneAndPlayerAreIgnored)
{
    FuzzyWorld w;
    const EntityHandle zone = w.sphere("zone", {}, 2, 1);
    const EntityHandle other = w.sphere("other", {}, 2, 1);
    const EntityHandle crate = w.scene.add("crate", { "Transform", "Collider" });
    const EntityHandle still = w.scene.add("still", { "Transform", "PlayerMovement" });
    w.start();
    w.world().setComponentEnabled(still, PlayerMovement::kType, false);
    w.enter(zone, crate);
    w.enter(crate, zone);
    w.enter(still, zone);
    w.enter(zone, other);
    w.enter(w.player, w.player);
    EXPECT_TRUE(w.overlaps().empty());
    // A zone switched off meanwhile is no zone either.
    w.world().setComponentEnabled(zone, FuzzyZone::kType, false);
    w.enter(zone, w.player);
    EXPECT_TRUE(w.overlaps().empty());
    EXPECT_EQ(w.cameraEntries(), 0u);
}

TEST(FuzzyCollisionSystem, ZoneWithCameraGetsAnEntryInTheCameraList)
{
    FuzzyWorld w;
    const EntityHandle plain = w.sphere("plain", {}, 2, 1);
    const EntityHandle viewed = w.cameraZone("viewed");
    w.start();
    w.enter(plain, w.player);
    EXPECT_EQ(w.cameraEntries(), 0u);
    w.enter(w.player, viewed);
    EXPECT_EQ(w.cameraEntries(), 1u);
    EXPECT_EQ(w.overlaps().size(), 2u);
}

TEST(FuzzyCollisionSystem, ExitRemovesEveryEqualOverlapAndItsCameraEntry)
{
    FuzzyWorld w;
    const EntityHandle a = w.cameraZone("a");
    const EntityHandle b = w.cameraZone("b");
    const EntityHandle c = w.cameraZone("c");
    w.start();
    w.enter(a, w.player);
    w.enter(b, w.player);
    w.enter(w.player, a); // a second begin of the same pair
    w.enter(c, w.player);
    ASSERT_EQ(w.cameraEntries(), 4u);
    w.exit(w.player, a);
    EXPECT_EQ(w.overlaps(), (std::vector<FuzzyPair> { pairOf(b, w.player), pairOf(c, w.player) }));
    EXPECT_EQ(w.cameraEntries(), 2u);
    w.exit(a, w.player); // nothing left of it
    EXPECT_EQ(w.overlaps().size(), 2u);
}

TEST(FuzzyCollisionSystem, DeactivatingTheZoneEndsItsOverlapsNotThePlayers)
{
    FuzzyWorld w;
    const EntityHandle a = w.cameraZone("a");
    const EntityHandle b = w.cameraZone("b");
    const EntityHandle other = w.scene.add("other player", { "Transform", "PlayerMovement" });
    w.start();
    w.enter(a, w.player);
    w.enter(b, w.player);
    w.enter(a, other);
    ASSERT_EQ(w.cameraEntries(), 3u);

    w.world().deactivateEntity(a);
    EXPECT_EQ(w.overlaps(), (std::vector<FuzzyPair> { pairOf(b, w.player) }));
    EXPECT_EQ(w.cameraEntries(), 1u);

    w.world().deactivateEntity(w.player);
    EXPECT_EQ(w.overlaps(), (std::vector<FuzzyPair> { pairOf(b, w.player) }));
    EXPECT_EQ(w.cameraEntries(), 1u);
    // Its entry is not weighed while it is inactive: a zone shape that would
    // be fatal to weigh goes unnoticed.
    w.scene.get<FuzzyZone>(b).shape = 7;
    w.scene.tick(2);
    EXPECT_EQ(w.overlaps().size(), 1u);
}

TEST(FuzzyCollisionSystemDeathTest, TickWeighsEveryLiveOverlap)
{
    FuzzyWorld w;
    const EntityHandle zone = w.sphere("zone", {}, 2, 1);
    w.start();
    w.enter(zone, w.player);
    w.scene.tick();
    w.scene.get<FuzzyZone>(zone).shape = 7;
    EXPECT_DEATH(w.scene.tick(), "Unreachable code hit");
}

TEST(FuzzyCollisionSystem, TickSkipsAPlayerWhoseSlotWasReused)
{
    FuzzyWorld w;
    const EntityHandle zone = w.sphere("zone", {}, 2, 1);
    const EntityHandle walker = w.scene.add("walker", { "Transform", "PlayerMovement" });
    w.start();
    w.enter(zone, walker);
    w.world().destroyEntities(&walker, 1);
    const EntityHandle reused = w.scene.add("reused", { "Transform" });
    ASSERT_EQ(reused.index(), walker.index());
    w.world().activateEntities(&reused, 1);
    w.scene.get<FuzzyZone>(zone).shape = 7;
    w.scene.tick();
    EXPECT_EQ(w.overlaps(), (std::vector<FuzzyPair> { pairOf(zone, walker) }));
}

TEST(FuzzyCollisionSystem, OverlapsBeyondTheCameraListAreKept)
{
    FuzzyWorld w;
    std::vector<EntityHandle> zones;
    for (u64 i = 0; i <= GameCameraSystem::kZoneCapacity; ++i)
        zones.push_back(w.cameraZone("zone"));
    w.start();
    for (EntityHandle zone : zones)
        w.enter(zone, w.player);
    EXPECT_EQ(w.overlaps().size(), GameCameraSystem::kZoneCapacity + 1);
    EXPECT_EQ(w.cameraEntries(), GameCameraSystem::kZoneCapacity);
    w.scene.tick(); // every entry weighed, the camera's list untouched beyond its room
    w.exit(zones.back(), w.player);
    EXPECT_EQ(w.cameraEntries(), GameCameraSystem::kZoneCapacity);
    w.exit(zones.front(), w.player);
    EXPECT_EQ(w.cameraEntries(), GameCameraSystem::kZoneCapacity - 1);
}

TEST(FuzzyCollisionSystem, QuickSaveKeepsACopyOfTheOverlaps)
{
    FuzzyWorld w;
    const EntityHandle a = w.sphere("a", {}, 2, 1);
    const EntityHandle b = w.sphere("b", {}, 2, 1);
    w.start();
    w.enter(a, w.player);
    w.fuzzy().saveSnapshot();
    w.enter(b, w.player);
    w.exit(a, w.player);
    const std::vector<FuzzyPair> saved { pairOf(a, w.player) };
    EXPECT_EQ(std::vector<FuzzyPair>(w.fuzzy().savedOverlaps().begin(), w.fuzzy().savedOverlaps().end()), saved);
    w.fuzzy().restoreSnapshot();
    EXPECT_EQ(w.overlaps(), saved);
    // Restoring again gives the same list: the copy is not used up.
    w.enter(b, w.player);
    w.fuzzy().restoreSnapshot();
    EXPECT_EQ(w.overlaps(), saved);
}

TEST(FuzzyCollisionSystem, WorldStartEmptiesBothLists)
{
    FuzzyWorld w;
    const EntityHandle a = w.sphere("a", {}, 2, 1);
    w.start();
    w.enter(a, w.player);
    w.fuzzy().saveSnapshot();
    w.fuzzy().worldStarted(w.world(), nullptr);
    EXPECT_TRUE(w.overlaps().empty());
    EXPECT_TRUE(w.fuzzy().savedOverlaps().empty());
}

TEST(FuzzyCollisionSystem, ListsLiveInTheLevelAllocatorUntilDetach)
{
    quern::testing::CountingAllocator level;
    {
        FuzzyWorld w;
        const EntityHandle a = w.sphere("a", {}, 2, 1);
        w.fuzzy().attach(&level);
        w.enter(a, w.player);
        w.fuzzy().saveSnapshot();
        EXPECT_GE(level.allocations, 2);
        EXPECT_EQ(level.live, 2);
        w.fuzzy().detach(&level);
        EXPECT_EQ(level.live, 0);
    }
    EXPECT_EQ(level.live, 0);
}

} // namespace
} // namespace harmonize
