// The demo's collision corner through the App: the playground built by the
// content tool, its level world with every registered system, one fixed tick
// per frame, threading off and on.

#include "harmonize/app/App.h"
#include "PlaygroundGame.h"
#include "PlaygroundRun.h"

#include "harmonize/Settings.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/components/Components.h"
#include "quern/entity/World.h"
#include "support/harmonize/SmallWindowSettings.h"
#include "support/harmonize/TemporaryUserFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace harmonize {
namespace {

constexpr i64 kTickCounter = 100'000; // one 10 ms fixed step in counter ticks
constexpr int kTicks = 450;

i32 stateOf(const CollisionSystem& collision, EntityHandle a, EntityHandle b)
{
    for (const ContactPair& p : collision.contactPairs())
        if ((p.entityA == a.value && p.entityB == b.value) || (p.entityA == b.value && p.entityB == a.value))
            return static_cast<i32>(p.state);
    return -1;
}

// What one pair did over the run, told by its state after every tick.
struct PairHistory {
    int begins = 0, stays = 0, ends = 0;
    i32 last = -1;

    void observe(i32 state)
    {
        begins += state == static_cast<i32>(ContactState::Started);
        stays += state == static_cast<i32>(ContactState::Continuing);
        ends += last >= 0 && state < 0;
        last = state;
    }
};

struct PlayedRun {
    std::vector<u32> checksums;
    PairHistory gate, wall;
    f32 sliderX = 0.0f;
};

class CollisionPlaygroundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::useSmallDummyWindow();
        testing::buildPlaygroundGame(content, "collision-");
    }
    void TearDown() override
    {
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
    }

    PlayedRun play(bool threading)
    {
        Settings::Threading.enabled = threading;
        PlayedRun run;
        i64 time = 0;
        App app(&content.database, content.depot.get(), AppServices {});
        app.init();
        if (!testing::runUntilLevelLoads(app, time, kTickCounter, threading)) {
            app.shutdown();
            return run;
        }
        const i32 level = app.currentLevelWorld();
        quern::entity::World& world = app.worldSwapper().getWorld(static_cast<u64>(level));
        const CollisionSystem& collision = *app.context(level).collision;
        const EntityHandle slider = testing::entityNamed(world, "slider");
        const EntityHandle gate = testing::entityNamed(world, "gate");
        const EntityHandle wall = testing::entityNamed(world, "wallRight");
        for (int tick = 0; tick < kTicks; ++tick) {
            time += kTickCounter;
            app.runFrame(time);
            testing::dropAppEvents(app);
            run.checksums.push_back(world.worldChecksum());
            run.gate.observe(stateOf(collision, slider, gate));
            run.wall.observe(stateOf(collision, slider, wall));
        }
        run.sliderX = static_cast<const Transform*>(world.getComponent(slider.index(), Transform::kType))->position.x;
        app.shutdown();
        return run;
    }

    testing::TemporaryUserFolder userFolder;
    testing::GameAssetHandlers handlers;
    quern::testing::BuiltContent content;
};

TEST_F(CollisionPlaygroundTest, TheSliderCrossesTheGateOnceAndComesToRestAgainstTheWall)
{
    const PlayedRun first = play(false);
    EXPECT_EQ(first.gate.begins, 1);
    EXPECT_GT(first.gate.stays, 20);
    EXPECT_EQ(first.gate.ends, 1);
    EXPECT_EQ(first.wall.begins, 1);
    EXPECT_EQ(first.wall.ends, 0);
    EXPECT_GT(first.wall.stays, 20) << "it keeps pressing against the wall";
    // The wall's face is at -3.25; the slider's half width is 0.5.
    EXPECT_NEAR(first.sliderX, -3.75f, 0.06f);

    for (bool threading : { false, true }) {
        const PlayedRun again = play(threading);
        ASSERT_EQ(again.checksums.size(), first.checksums.size());
        for (size_t tick = 0; tick < first.checksums.size(); ++tick)
            ASSERT_EQ(again.checksums[tick], first.checksums[tick]) << "tick " << tick << ", threading " << threading;
        EXPECT_EQ(again.gate.begins, 1);
        EXPECT_EQ(again.wall.begins, 1);
    }
}

} // namespace
} // namespace harmonize
