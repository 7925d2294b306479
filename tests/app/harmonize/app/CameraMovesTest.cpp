// The cameras on the demo's moves level through the App, its replay driving
// the player over the course: the follow camera's focus moves only when the
// player pushes against the dead zone, the game camera's view stays inside
// the level bounds, the fuzzy camera zones pull the game camera towards their
// cameras by their weights, and a switch to a zone camera blends along the
// camera's curve clip.

#include "harmonize/app/App.h"
#include "PlaygroundGame.h"
#include "PlaygroundRun.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/FuzzyCollisionSystem.h"
#include "harmonize/systems/GameCameraSystem.h"
#include "quern/entity/World.h"
#include "support/harmonize/DemoLevelContent.h"
#include "support/harmonize/SmallWindowSettings.h"
#include "support/harmonize/TemporaryUserFolder.h"

#include "ReplayScript.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace harmonize {
namespace {

namespace fs = std::filesystem;
using quern::math::Vector3;

constexpr i64 kTickCounter = 100'000; // one 10 ms fixed step in counter ticks

class CameraMovesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::useSmallDummyWindow();
        Settings::Threading.enabled = false;
        const fs::path root = fs::path(QUERN_TEST_BINARY_DIR) / "camera-moves";
        std::string error;
        ASSERT_TRUE(testing::buildDemoLevelContent(content, root, QUERN_CONTENT_DIR, "moves", error)) << error;
        ASSERT_TRUE(quern::replaybuild::buildReplayFile(std::string(QUERN_CONTENT_DIR) + "/replays/moves.inputs",
            (userFolder.path() / "moves.replay").string(), error))
            << error;
    }
    void TearDown() override
    {
        if (app)
            app->shutdown();
        app.reset();
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
    }

    void startLevel()
    {
        app = std::make_unique<App>(&content.database, content.depot.get(), AppServices {});
        app->init();
        ASSERT_TRUE(testing::runUntilLevelLoads(*app, time, kTickCounter, false));
    }
    void frame()
    {
        time += kTickCounter;
        app->runFrame(time);
        testing::dropAppEvents(*app);
    }
    quern::entity::World& world() { return app->worldSwapper().getWorld(app->currentLevelWorld()); }
    AppContext& context() { return app->context(app->currentLevelWorld()); }
    EntityHandle named(const char* name) { return testing::entityNamed(world(), name); }
    template <class Record> Record& record(EntityHandle entity)
    {
        return *static_cast<Record*>(world().getComponent(entity.index(), Record::kType));
    }
    Vector3 position(EntityHandle entity) { return worldPositionOf(world(), record<Transform>(entity)); }

    testing::TemporaryUserFolder userFolder;
    testing::GameAssetHandlers handlers;
    quern::testing::BuiltContent content;
    std::unique_ptr<App> app;
    i64 time = 0;
};

TEST_F(CameraMovesTest, TheReplayKeepsTheDeadZoneTheBoundsAndTheZoneWeights)
{
    Settings::Replay.file = "moves.replay";
    startLevel();
    const EntityHandle player = named("player"), gameCamera = named("gameCamera"), followCamera = named("followCamera");
    const CameraFollow& follow = record<CameraFollow>(followCamera);
    const GameCameraRig& rig = record<GameCameraRig>(gameCamera);
    Vec2f focus = follow.focus;
    // Where the fuzzy system measures the player: after the physics step moved
    // it by the velocity handed over in the tick before, and before the
    // movement rules (a jump's lift, a snap) move it again.
    Vector3 measured = position(player);
    i32 focusMoves = 0, zoneTicks = 0, edgeTicks = 0;
    bool sawBothZones[2] = { false, false };
    for (i32 tick = 0; tick < 2780; ++tick) {
        frame();
        if (!world().isActive(player))
            break;
        const Vector3 p = position(player);
        const Vector3 camera = position(gameCamera);
        const Vector3 followAt = position(followCamera);

        // The focus keeps the player inside the dead zone and moves only when
        // the player pushes against its edge.
        const Vec2f dz { follow.deadZone.x * follow.deadZoneFactor, follow.deadZone.y * follow.deadZoneFactor };
        EXPECT_LE(std::fabs(p.x - follow.focus.x), dz.x + 1e-3f) << "tick " << tick;
        if (follow.focus.x != focus.x) {
            ++focusMoves;
            EXPECT_NEAR(std::fabs(p.x - follow.focus.x), dz.x, 1e-3f) << "tick " << tick;
        }
        focus = follow.focus;

        // The follow camera never leaves the clamp range of the level bounds.
        EXPECT_GE(followAt.x, std::min(rig.clampMinX, rig.clampMaxX) - 1e-3f) << "tick " << tick;
        EXPECT_LE(followAt.x, std::max(rig.clampMinX, rig.clampMaxX) + 1e-3f) << "tick " << tick;
        edgeTicks += std::fabs(followAt.x - rig.clampMinX) < 1e-3f && p.x < rig.clampMinX;

        // Inside one fuzzy zone the game camera stands between the follow
        // camera and the zone's camera by the zone's weight.
        const auto overlaps = context().fuzzyCollision->overlaps();
        if (overlaps.size() == 1) {
            const EntityHandle zone { overlaps[0].zone };
            const FuzzyZone& fuzzy = record<FuzzyZone>(zone);
            const EntityHandle zoneCamera = record<FuzzyCameraZone>(zone).camera;
            const f32 w = fuzzyWeight(fuzzy, position(zone), measured);
            const Vector3 expected = position(zoneCamera) * w + followAt * (1.0f - w);
            EXPECT_NEAR(camera.z, expected.z, 1e-3f) << "tick " << tick;
            EXPECT_NEAR(camera.y, expected.y, 1e-3f) << "tick " << tick;
            ++zoneTicks;
            sawBothZones[fuzzy.shape == 1] = sawBothZones[fuzzy.shape == 1] || w > 0.99f;
        } else if (overlaps.empty()) {
            EXPECT_NEAR(camera.x, followAt.x, 1e-4f) << "tick " << tick;
            EXPECT_NEAR(camera.z, followAt.z, 1e-4f) << "tick " << tick;
        }
        measured = p + record<RigidBody>(player).velocity * 0.01f;
    }
    EXPECT_GT(focusMoves, 500);
    EXPECT_GT(zoneTicks, 400);
    EXPECT_TRUE(sawBothZones[0]) << "the sphere zone's core";
    EXPECT_TRUE(sawBothZones[1]) << "the box zone's core";
    EXPECT_GT(edgeTicks, 100) << "the camera held at the level's left edge while the player starts left of it";
}

TEST_F(CameraMovesTest, ASwitchToACameraBlendsAlongItsCurveClip)
{
    startLevel();
    for (i32 i = 0; i < 60; ++i)
        frame();
    const EntityHandle gameCamera = named("gameCamera"), wideShot = named("wideShot");
    const Vector3 from = position(gameCamera), to = position(wideShot);
    context().gameCamera->switchToCamera(world(), wideShot, 1.0f, Linear);
    // The clip's keys: 10 % of the way at a quarter of the blend, 80 % at half.
    const auto progress = [&] { return (position(gameCamera).z - from.z) / (to.z - from.z); };
    for (i32 i = 0; i < 25; ++i)
        frame();
    EXPECT_NEAR(progress(), 0.1f, 0.02f);
    for (i32 i = 0; i < 25; ++i)
        frame();
    EXPECT_NEAR(progress(), 0.8f, 0.02f);
    for (i32 i = 0; i < 60; ++i)
        frame();
    EXPECT_NEAR(position(gameCamera).z, to.z, 1e-4f);
    EXPECT_NEAR(position(gameCamera).y, to.y, 1e-4f);

    context().gameCamera->switchToMainCamera(world(), 0.5f, SmoothStep);
    for (i32 i = 0; i < 60; ++i)
        frame();
    EXPECT_NEAR(position(gameCamera).z, position(named("followCamera")).z, 1e-4f);
}

} // namespace
} // namespace harmonize
