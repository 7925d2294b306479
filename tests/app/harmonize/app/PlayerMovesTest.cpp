// The player on the demo's moves level through the App: the level built by the
// content tool, every registered system ticking, one fixed tick per frame. The
// level's scripted replay drives the player over the whole course; a live run
// fed through SDL records a replay with checksums that plays back into a
// freshly loaded world without a mismatch; a jump from SDL's own virtual
// joystick and from the keyboard reaches the player.

#include "DemoLevelTest.h"
#include "ScriptedKeys.h"
#include "SdlInput.h"
#include "PlaygroundRun.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/input/InputActions.h"
#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/systems/MovementSystem.h"
#include "quern/entity/World.h"
#include "quern/input/InputReplay.h"
#include "quern/platform/DynamicLibrary.h"
#include "quern/sdl/SDL2Library.h"
#include "support/LogCapture.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace harmonize {
namespace {

namespace fs = std::filesystem;
using testing::firstTick;

constexpr i32 kCourseTicks = 3200; // the script's length and the respawn after it

using testing::pushKey;
using testing::ScriptedKeys;
using testing::sdlSymbol;

// What the player was doing after one fixed tick.
struct Sample {
    i32 tick;
    bool alive;
    f32 x, y;
    i32 state;
    i32 race;
    std::string cluster; // the name of the cluster it stands on, "" for none
    Vec2f clusterUp;
    f32 carrierX;
    quern::math::Vector3 gameCamera; // world positions
    quern::math::Vector3 followCamera;
};

class PlayerMovesTest : public testing::DemoLevelTest {
protected:
    PlayerMovesTest() : DemoLevelTest("moves") {}

    std::unique_ptr<App> startLevel()
    {
        auto app = startApp();
        quern::entity::World& world = levelWorld(*app);
        player = testing::entityNamed(world, "player");
        carrier = testing::entityNamed(world, "carrier");
        gameCamera = testing::entityNamed(world, "gameCamera");
        followCamera = testing::entityNamed(world, "followCamera");
        return app;
    }
    // One frame of one fixed step; returns the player as the tick left it.
    Sample frame(App& app, i32 tick)
    {
        step(app);
        quern::entity::World& world = levelWorld(app);
        Sample s { tick, world.isValid(player) && world.isActive(player), 0, 0, 0, 0, "", {}, 0, {}, {} };
        const Transform& t = *static_cast<Transform*>(world.getComponent(player.index(), Transform::kType));
        const PlayerMovement& m = *static_cast<PlayerMovement*>(world.getComponent(player.index(), PlayerMovement::kType));
        s.x = t.position.x;
        s.y = t.position.y;
        s.state = m.movementState[0];
        s.race = m.raceState[0];
        s.clusterUp = m.clusterUp;
        if (isSomeEntity(m.cluster) && m.cluster.index() < world.getSlotCount())
            s.cluster = world.getEntityName(m.cluster);
        s.carrierX = static_cast<Transform*>(world.getComponent(carrier.index(), Transform::kType))->position.x;
        s.gameCamera = worldPositionOf(world, *static_cast<Transform*>(world.getComponent(gameCamera.index(), Transform::kType)));
        s.followCamera
            = worldPositionOf(world, *static_cast<Transform*>(world.getComponent(followCamera.index(), Transform::kType)));
        return s;
    }
    bool exists(App& app, const char* name)
    {
        return testing::entityExists(app.worldSwapper().getWorld(app.currentLevelWorld()), name);
    }
    EntityHandle player, carrier, gameCamera, followCamera; // found when the level starts
};

// Writes the run beside the test binary, one line a tick, for a person to read.
void saveTrace(const std::vector<Sample>& samples, const char* name)
{
    std::ofstream out(fs::path(QUERN_TEST_BINARY_DIR) / name);
    for (const Sample& s : samples)
        out << s.tick << " " << (s.alive ? "" : "dead ") << s.x << " " << s.y << " " << movementStateName(s.state)
            << " race " << s.race << " on " << (s.cluster.empty() ? "-" : s.cluster) << " camera " << s.gameCamera.x
            << " " << s.gameCamera.y << " " << s.gameCamera.z << " follow " << s.followCamera.x << " "
            << s.followCamera.y << " " << s.followCamera.z << "\n";
}

TEST_F(PlayerMovesTest, TheScriptedReplayWalksJumpsRidesHarmonizesDiesAndComesBack)
{
    Settings::Replay.file = "moves.replay";
    auto app = startLevel();
    std::vector<Sample> samples;
    bool crateBroken = false, barrierDestroyed = false;
    i32 crateBrokenAt = -1;
    for (i32 tick = 0; tick < kCourseTicks; ++tick) {
        samples.push_back(frame(*app, tick));
        if (!crateBroken && !exists(*app, "crate")) {
            crateBroken = true;
            crateBrokenAt = tick;
        }
        barrierDestroyed = barrierDestroyed || !exists(*app, "barrier");
    }
    app->shutdown();
    saveTrace(samples, "moves-replay-trace.txt");

    // Lands on the start block, then walks right along it and breaks the crate.
    const i32 landed = firstTick(samples, 0, [](const Sample& s) { return s.cluster == "startBlock"; });
    ASSERT_GE(landed, 0);
    EXPECT_EQ(samples[static_cast<size_t>(landed)].state, WAITING);
    const i32 walking = firstTick(samples, landed, [](const Sample& s) { return s.state == WALKING; });
    ASSERT_GE(walking, 0);
    EXPECT_GT(samples[static_cast<size_t>(walking) + 50].x, samples[static_cast<size_t>(walking)].x + 2.0f);
    EXPECT_TRUE(crateBroken);
    EXPECT_GT(crateBrokenAt, walking);

    // Jumps onto the wobbling platform.
    const i32 jumped = firstTick(samples, walking, [](const Sample& s) { return s.state == JUMPING; });
    ASSERT_GE(jumped, 0);
    const i32 onWobble = firstTick(samples, jumped, [](const Sample& s) { return s.cluster == "wobbleBlock"; });
    ASSERT_GE(onWobble, 0);

    // Stands on the crumbling platform until it gives way, then jumps within
    // the grace time while falling: a coyote jump.
    const i32 onCrumble = firstTick(samples, onWobble, [](const Sample& s) { return s.cluster == "crumble"; });
    ASSERT_GE(onCrumble, 0);
    const i32 gaveWay = firstTick(samples, onCrumble, [](const Sample& s) { return s.state == FALLING; });
    ASSERT_GE(gaveWay, 0);
    EXPECT_NEAR(gaveWay - onCrumble, 50, 3); // the platform's warning delay
    const i32 coyote = firstTick(samples, gaveWay, [](const Sample& s) { return s.state == JUMPING; });
    EXPECT_GE(coyote, gaveWay);
    EXPECT_LT(coyote - gaveWay, 15);

    // Rides the carrier from its left end to its right end.
    const i32 onCarrier = firstTick(samples, coyote, [](const Sample& s) { return s.cluster == "carrier"; });
    ASSERT_GE(onCarrier, 0);
    const i32 leftCarrier = firstTick(samples, onCarrier, [](const Sample& s) { return s.cluster != "carrier"; });
    ASSERT_GT(leftCarrier, onCarrier);
    const Sample& boarded = samples[static_cast<size_t>(onCarrier)];
    const Sample& alighted = samples[static_cast<size_t>(leftCarrier) - 1];
    EXPECT_GT(alighted.carrierX - boarded.carrierX, 5.0f);
    EXPECT_NEAR(alighted.x - boarded.x, alighted.carrierX - boarded.carrierX, 2.5f);

    // A jump pressed just before touching the landing fires on the first
    // grounded tick: a buffered jump.
    const i32 buffered = firstTick(
        samples, leftCarrier, [](const Sample& s) { return s.cluster == "landing" && s.state == JUMPING; });
    EXPECT_GE(buffered, 0);

    // Climbs the wall and walks on the ceiling slab's underside, upside down.
    const i32 onWall = firstTick(samples, leftCarrier, [](const Sample& s) { return s.cluster == "wall"; });
    ASSERT_GE(onWall, 0);
    EXPECT_GE(firstTick(samples, onWall, [](const Sample& s) { return s.cluster == "wall" && s.clusterUp.x < -0.9f; }), 0);
    const i32 upsideDown = firstTick(
        samples, onWall, [](const Sample& s) { return s.cluster == "ceiling" && s.clusterUp.y < -0.9f; });
    EXPECT_GE(upsideDown, 0);

    // The detonator under the player blows up the barrier.
    EXPECT_GE(firstTick(samples, onWall, [](const Sample& s) { return s.cluster == "detonator"; }), 0);
    EXPECT_TRUE(barrierDestroyed);

    // Harmonizes, and the platform of the other race then holds it.
    const i32 harmonized = firstTick(samples, onWall, [](const Sample& s) { return s.race == 2; });
    ASSERT_GE(harmonized, 0);
    EXPECT_GE(firstTick(samples, harmonized, [](const Sample& s) { return s.cluster == "racePlatform"; }), 0);

    // Dies in the trigger of the race it left, and comes back at the start.
    const i32 died = firstTick(samples, harmonized, [](const Sample& s) { return !s.alive; });
    ASSERT_GE(died, 0);
    EXPECT_GT(samples[static_cast<size_t>(died) - 1].x, 57.0f);
    const i32 back = firstTick(samples, died, [](const Sample& s) { return s.alive; });
    ASSERT_GE(back, 0);
    EXPECT_NEAR(back - died, 150, 5); // the death delay and the respawn delay
    const Sample& respawned = samples[static_cast<size_t>(back)];
    EXPECT_EQ(respawned.x, -13.0f);
    EXPECT_EQ(respawned.race, 0);
    EXPECT_EQ(samples.back().cluster, "startBlock");
}

class PlayerMovesRecordingTest : public PlayerMovesTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PlayerMovesRecordingTest, ALiveRunRecordedWithChecksumsPlaysBackWithoutAMismatch)
{
    Settings::Threading.enabled = GetParam();
    std::vector<Sample> live, replayed;
    std::string warnings;
    recordAndPlayBack(
        kCourseTicks, [&] { return startLevel(); }, [&](App& app, i32 tick) { return frame(app, tick); }, live, replayed, warnings);
    if (HasFatalFailure())
        return;
    // The live run went somewhere: it walked off the start and jumped.
    EXPECT_GE(firstTick(live, 0, [](const Sample& s) { return s.state == JUMPING; }), 0);
    EXPECT_GT(std::max_element(live.begin(), live.end(), [](const Sample& a, const Sample& b) { return a.x < b.x; })->x,
        0.0f);
    EXPECT_EQ(warnings.find("checksum differs"), std::string::npos) << warnings;
    ASSERT_EQ(replayed.size(), live.size());
    for (size_t i = 0; i < live.size(); ++i) {
        ASSERT_EQ(replayed[i].x, live[i].x) << "tick " << i;
        ASSERT_EQ(replayed[i].y, live[i].y) << "tick " << i;
        ASSERT_EQ(replayed[i].state, live[i].state) << "tick " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Threading, PlayerMovesRecordingTest, ::testing::Values(false, true),
    [](const auto& info) { return info.param ? "ThreadingOn" : "ThreadingOff"; });

TEST_F(PlayerMovesTest, AJumpFromTheKeyboardAndFromAVirtualJoystickReachesThePlayer)
{
    // The dummy window never has the focus, and SDL drops the input of a
    // controller while no window of the program has it.
    setenv("SDL_JOYSTICK_ALLOW_BACKGROUND_EVENTS", "1", 1);
    auto app = startLevel();
    for (i32 tick = 0; tick < 40; ++tick)
        frame(*app, tick);
    ASSERT_EQ(frame(*app, 40).state, WAITING);

    pushKey(SDL_SCANCODE_SPACE, true);
    i32 jumped = -1;
    for (i32 tick = 41; tick < 45 && jumped < 0; ++tick)
        if (frame(*app, tick).state == JUMPING)
            jumped = tick;
    EXPECT_GE(jumped, 0) << "the keyboard's jump";
    pushKey(SDL_SCANCODE_SPACE, false);
    i32 tick = 45;
    for (; tick < 200 && frame(*app, tick).state != WAITING; ++tick) {
    }
    ASSERT_EQ(frame(*app, tick).state, WAITING);

    // A pad made through SDL's own virtual joystick interface; the back end
    // opens it when it arrives.
    const int index = testing::attachVirtualPad();
    ASSERT_GE(index, 0);
    for (i32 i = 0; i < 3; ++i)
        frame(*app, ++tick);
    SDL_Joystick* joystick = testing::openedVirtualPad(index);
    ASSERT_NE(joystick, nullptr);
    sdlSymbol<int (*)(SDL_Joystick*, int, Uint8)>("SDL_JoystickSetVirtualButton")(
        joystick, SDL_CONTROLLER_BUTTON_A, SDL_PRESSED);
    jumped = -1;
    for (i32 i = 0; i < 6 && jumped < 0; ++i)
        if (frame(*app, ++tick).state == JUMPING)
            jumped = tick;
    EXPECT_GE(jumped, 0) << "the virtual pad's jump";
    sdlSymbol<int (*)(SDL_Joystick*, int, Uint8)>("SDL_JoystickSetVirtualButton")(
        joystick, SDL_CONTROLLER_BUTTON_A, SDL_RELEASED);
    frame(*app, ++tick);
    sdlSymbol<int (*)(int)>("SDL_JoystickDetachVirtual")(index);
    app->shutdown();
    unsetenv("SDL_JOYSTICK_ALLOW_BACKGROUND_EVENTS");
}

} // namespace
} // namespace harmonize
