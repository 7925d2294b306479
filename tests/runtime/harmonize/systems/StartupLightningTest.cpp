#include "RenderWorld.h"
#include "StartupWorld.h"

#include "harmonize/extensions/PlayerView.h"

#include "quern/strings/Hashes.h"
#include "quern/visuals/Visual.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace harmonize {
namespace {

using harmonize::testing::nextState;
using harmonize::testing::RenderWorld;
using harmonize::testing::StartupWorld;
using harmonize::testing::unitOf;
using quern::math::Vector3;

Vector3 worldPlace(quern::entity::World& world, EntityHandle e)
{
    return worldPositionOf(world, *componentOf<Transform>(world, e));
}

// A lightning at depth -5 with a flash light, drifting around `reference`
// (none: a random camera) within an empty range.
struct Sky {
    EntityHandle lightning;
    EntityHandle light;

    Sky(StartupWorld& w, EntityHandle reference, f32 chance, f32 moveInterval)
    {
        light = w.at("flash light", { "Transform", "Light" }, {});
        w.scene.get<Light>(light).intensity = 0.5f;
        lightning = w.at("lightning", { "Transform", "Renderer", "Lightning" }, { 0, 0, -5 });
        Lightning& record = w.scene.get<Lightning>(lightning);
        record = Lightning {};
        record.moveInterval = moveInterval;
        record.scrollInterval = 1.0f;
        record.flashIntensity = 3.0f;
        record.flashLight = light;
        record.reference = reference;
        record.flashChance = chance;
    }
    Lightning& record(StartupWorld& w) { return w.scene.get<Lightning>(lightning); }
    f32 lightIntensity(StartupWorld& w) { return w.scene.get<Light>(light).intensity; }
};

TEST(Lightning, AFlashNeedsTheRandomNumberAtMostTheChance)
{
    struct Case {
        f32 percent;
        f32 r;
        bool flashes;
    };
    const f32 belowOne = std::nextafter(1.0f, 0.0f);
    const Case cases[] = {
        { 100, 0, true },
        { 100, belowOne, true },
        { 100, 1, true }, // the largest states round up to 1
        { 0, 0, true }, // only an exact zero
        { 0, std::numeric_limits<f32>::min(), false },
        { 50, 0.5f, true },
        { 50, std::nextafter(0.5f, 1.0f), false },
        { std::numeric_limits<f32>::quiet_NaN(), 0, false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(isLightningFlash(c.percent, c.r), c.flashes) << c.percent << "% at " << c.r;
}

// Every move is a certain flash: the renderer and the light go on and the
// thunder plays at the lightning; the flash ends after 0.3 to 0.8 s, as the
// thunder generator (seeded with 42) times it.
TEST(Lightning, ACertainFlashLightsUpAndThunders)
{
    StartupWorld w;
    const EntityHandle anchor = w.at("anchor", { "Transform" }, { 4, 4, 0 });
    Sky sky(w, anchor, 100.0f, 1.0f);
    w.start();
    w.tick();
    EXPECT_TRUE(w.rendererShown(sky.lightning));
    EXPECT_EQ(sky.lightIntensity(w), 3.0f);
    ASSERT_EQ(w.sound->requestCount(), 1u);
    const SoundRequest& thunder = w.sound->request(0);
    EXPECT_EQ(thunder.soundId, quern::strings::murmurHash64A("Thunder", 7, quern::strings::kInternerSeed));
    EXPECT_EQ(thunder.entity, sky.lightning.value);
    EXPECT_EQ(thunder.positional, 1);
    EXPECT_EQ(thunder.position.x, 4.0f);
    EXPECT_EQ(thunder.position.z, -5.0f);

    const f32 expectedWait = unitOf(nextState(nextState(StartupWorld::kThunderSeed))) * 0.5f + 0.3f;
    u32 ticks = 0;
    while (w.rendererShown(sky.lightning) && ticks < 100) {
        w.tick();
        ++ticks;
    }
    EXPECT_NEAR(static_cast<f32>(ticks) * 0.01f, expectedWait, 0.02f);
    EXPECT_EQ(sky.lightIntensity(w), 0.0f);

    w.tick(400); // four more moves, each one flashing
    EXPECT_EQ(w.sound->requestCount(), 5u);
}

// A zero chance never flashes; each chance still ends by switching the
// renderer and the light off.
TEST(Lightning, AZeroChanceNeverFlashes)
{
    StartupWorld w;
    const EntityHandle anchor = w.at("anchor", { "Transform" }, {});
    Sky sky(w, anchor, 0.0f, 0.05f);
    w.world().getEnabledMask(sky.lightning.index()).reset(Renderer::kType);
    w.start();
    for (u32 i = 0; i < 200; ++i) {
        w.tick();
        ASSERT_FALSE(w.rendererShown(sky.lightning)) << "tick " << i;
    }
    EXPECT_EQ(w.sound->requestCount(), 0u);
    EXPECT_EQ(sky.lightIntensity(w), 0.0f);
}

// A flash without a valid light still shows the lightning.
TEST(Lightning, AFlashWithoutALightOnlyShowsTheLightning)
{
    StartupWorld w;
    const EntityHandle anchor = w.at("anchor", { "Transform" }, {});
    Sky sky(w, anchor, 100.0f, 1.0f);
    sky.record(w).flashLight = EntityHandle::make(sky.light.index(), 9); // stale
    w.start();
    w.tick();
    EXPECT_TRUE(w.rendererShown(sky.lightning));
    EXPECT_EQ(sky.lightIntensity(w), 0.5f);
    w.tick(85);
    EXPECT_FALSE(w.rendererShown(sky.lightning));
    EXPECT_EQ(sky.lightIntensity(w), 0.5f);
}

// The offset is drawn x first from the placement generator; a minimum above
// the maximum gives the plain random number. The depth stays.
TEST(Lightning, TheOffsetComesFromTheRangeOrThePlainRandomNumber)
{
    StartupWorld w;
    const EntityHandle anchor = w.at("anchor", { "Transform" }, { 10, 20, 30 });
    Sky sky(w, anchor, 0.0f, 1.0f);
    Lightning& record = sky.record(w);
    record.minX = 3.0f;
    record.maxX = 1.0f;
    record.minY = -2.0f;
    record.maxY = 2.0f;
    w.start();
    w.tick();
    const u64 first = nextState(StartupWorld::kPlacementSeed);
    const f32 v = unitOf(first);
    const f32 u = unitOf(nextState(first));
    const Vector3 place = worldPlace(w.world(), sky.lightning);
    EXPECT_FLOAT_EQ(place.x, 10.0f + v);
    EXPECT_FLOAT_EQ(place.y, 20.0f + (-2.0f + 4.0f * u));
    EXPECT_EQ(place.z, -5.0f);
}

// Without a named reference the lightning picks among the enabled cameras
// (signed remainder of the next state); a move interval of 0 moves it and
// starts a flash every fixed tick.
TEST(Lightning, WithoutAReferenceARandomCameraIsPickedEveryTick)
{
    StartupWorld w;
    const EntityHandle first = w.at("first", { "Transform", "CameraLens" }, { 100, 1, 0 });
    const EntityHandle off = w.at("off", { "Transform", "CameraLens" }, { 200, 2, 0 });
    w.world().getEnabledMask(off.index()).reset(CameraLens::kType);
    const EntityHandle second = w.at("second", { "Transform", "CameraLens" }, { 300, 3, 0 });
    Sky sky(w, EntityHandle {}, 0.0f, 0.0f);
    w.start();

    const EntityHandle cameras[2] = { first, second };
    bool seen[2] = { false, false };
    u64 state = StartupWorld::kPlacementSeed;
    for (u64 tick = 1; tick <= 12; ++tick) {
        w.tick();
        state = nextState(state);
        i64 k = static_cast<i64>(state) % 2;
        if (k < 0)
            k += 2;
        state = nextState(nextState(state)); // the two offset numbers
        seen[k] = true;
        const Vector3 camera = worldPlace(w.world(), cameras[k]);
        const Vector3 place = worldPlace(w.world(), sky.lightning);
        EXPECT_EQ(place.x, camera.x) << "tick " << tick;
        EXPECT_EQ(place.y, camera.y) << "tick " << tick;
        EXPECT_EQ(place.z, -5.0f);
        // Scroll and placement, and a flash per tick still waiting to end.
        EXPECT_EQ(w.coroutineCount(), 2u + tick);
    }
    EXPECT_TRUE(seen[0] && seen[1]);
}

// A level without cameras cannot place a lightning that names no reference:
// it stays where it is and tries again after each interval, so a camera that
// turns up later is used.
TEST(Lightning, WithoutACameraTheLightningWaitsInPlace)
{
    StartupWorld w;
    Sky sky(w, EntityHandle {}, 100.0f, 0.1f);
    w.start();
    w.tick(25);
    const Vector3 place = worldPlace(w.world(), sky.lightning);
    EXPECT_EQ(place.x, 0.0f);
    EXPECT_EQ(place.y, 0.0f);
    EXPECT_GE(w.sound->requestCount(), 2u) << "the flashes go on";

    const EntityHandle camera = w.at("camera", { "Transform", "CameraLens" }, { 8, 9, 0 });
    w.world().activateEntities(&camera, 1);
    w.tick(15);
    const Vector3 moved = worldPlace(w.world(), sky.lightning);
    EXPECT_EQ(moved.x, 8.0f);
    EXPECT_EQ(moved.y, 9.0f);
    EXPECT_EQ(moved.z, -5.0f);
}

// A disabled lightning is hidden at start and neither moves nor flashes; its
// coroutines keep waiting and it comes alive once the flag is cleared.
TEST(Lightning, ADisabledLightningWaitsHiddenUntilEnabled)
{
    StartupWorld w;
    const EntityHandle anchor = w.at("anchor", { "Transform" }, { 6, 0, 0 });
    Sky sky(w, anchor, 100.0f, 0.0f);
    sky.record(w).disabled = 1;
    w.start();
    EXPECT_FALSE(w.rendererShown(sky.lightning));
    w.tick(20);
    EXPECT_FALSE(w.rendererShown(sky.lightning));
    EXPECT_EQ(worldPlace(w.world(), sky.lightning).x, 0.0f);
    EXPECT_EQ(w.sound->requestCount(), 0u);
    EXPECT_EQ(w.coroutineCount(), 2u);

    sky.record(w).disabled = 0;
    w.tick();
    EXPECT_TRUE(w.rendererShown(sky.lightning));
    EXPECT_EQ(worldPlace(w.world(), sky.lightning).x, 6.0f);
    EXPECT_EQ(w.sound->requestCount(), 1u);
}

// A lightning whose entity is destroyed takes its coroutines with it.
TEST(Lightning, ADestroyedLightningEndsItsCoroutines)
{
    StartupWorld w;
    const EntityHandle anchor = w.at("anchor", { "Transform" }, {});
    Sky sky(w, anchor, 100.0f, 0.5f);
    w.start();
    w.tick();
    ASSERT_EQ(w.coroutineCount(), 3u);
    w.world().destroyEntities(&sky.lightning, 1);
    w.tick(110); // each one notices when it is next due
    EXPECT_EQ(w.coroutineCount(), 0u);
}

using quern::graphics::GenericMaterial;
using quern::graphics::MaterialProperty;

constexpr u64 kCube = 101;
constexpr u64 kSky = 201;

// The texture scrolls by its step once per scroll interval in the entity's
// own material, unless the lightning is disabled.
class LightningScrollTest : public harmonize::testing::RenderWorldTest {
protected:
    void SetUp() override
    {
        RenderWorldTest::SetUp();
        resetLightningRandom();
        w->context.coroutine = new CoroutineSystem(w->context);
        w->scene.addSystem(w->context.coroutine);
        w->scene.addSystem(new StartupSystem(w->context));
        w->preloadMesh(kCube, { { -1, -1, -1 }, { 1, 1, 1 }, { 1, -1, -1 }, { -1, 1, 1 } });
        w->preloadMaterial(kSky);
    }
    void TearDown() override
    {
        resetLightningRandom();
        RenderWorldTest::TearDown();
    }

    EntityHandle sky(const char* name, u8 disabled)
    {
        const EntityHandle e = w->addMeshEntity(name, kCube, { 0, 0, 0 });
        w->scene.set(e, "Renderer", "material", { static_cast<f64>(kSky) });
        w->scene.set(e, "Lightning", "scrollInterval", { 0.05 });
        w->scene.set(e, "Lightning", "moveInterval", { 100 });
        w->scene.set(e, "Lightning", "offsetStep", { 0.25, -0.5 });
        w->scene.set(e, "Lightning", "disabled", { static_cast<f64>(disabled) });
        return e;
    }
    const MaterialProperty* mainTexture(EntityHandle e)
    {
        auto* material = static_cast<GenericMaterial*>(w->render->visual(e.index())->material());
        const quern::i32 index = material->findProperty("_MainTex");
        return index ? &material->property(index) : nullptr;
    }
};

TEST_F(LightningScrollTest, TheTextureScrollsByItsStepEachInterval)
{
    const EntityHandle moving = sky("moving", 0);
    const EntityHandle still = sky("still", 1);
    w->start();
    const MaterialProperty* scrolled = mainTexture(moving);
    const MaterialProperty* kept = mainTexture(still);
    ASSERT_NE(scrolled, nullptr);
    ASSERT_NE(kept, nullptr);

    w->tickAt(0);
    EXPECT_FLOAT_EQ(scrolled->offset[0], 0.25f) << "the first step comes at once";
    EXPECT_FLOAT_EQ(scrolled->offset[1], -0.5f);
    // 0.05 s at 0.02 s a tick: the next step three ticks on.
    for (u64 tick = 1; tick <= 3; ++tick)
        w->tickAt(tick * RenderWorld::kTickStep);
    EXPECT_FLOAT_EQ(scrolled->offset[0], 0.5f);
    EXPECT_FLOAT_EQ(scrolled->offset[1], -1.0f);
    EXPECT_EQ(kept->offset[0], 0.0f);
    EXPECT_EQ(kept->offset[1], 0.0f);

    // Once the pass exists the step reaches the material's uniform too.
    w->updateAt(3 * RenderWorld::kTickStep);
    w->render->commitDynamicVisuals();
    ASSERT_NE(scrolled->scaleOffsetUniform, nullptr);
    for (u64 tick = 4; tick <= 6; ++tick)
        w->tickAt(tick * RenderWorld::kTickStep);
    const f32* uniform = scrolled->scaleOffsetUniform->storage();
    EXPECT_FLOAT_EQ(uniform[2], 0.75f);
    EXPECT_FLOAT_EQ(uniform[3], -1.5f);
}

} // namespace
} // namespace harmonize
