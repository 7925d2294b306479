#include "harmonize/systems/SoakTestSystem.h"

#include "harmonize/systems/AppContext.h"
#include "harmonize/utils/AppEventQueue.h"
#include "quern/entity/World.h"

#include <gtest/gtest.h>

#include <vector>

namespace harmonize {
namespace {

TEST(SoakTestDriver, StartAndCountStayWithinTheLevels)
{
    struct Case {
        i32 total, testStart, testLevels;
        i32 first, count;
    } cases[] = {
        { 5, 0, 0, 0, 5 }, // every level
        { 5, 2, 0, 2, 3 }, // from the start to the last
        { 5, 1, 2, 1, 2 },
        { 5, 3, 9, 3, 2 }, // more than remain
        { 5, -4, 2, 0, 2 },
        { 5, 5, 0, 4, 1 }, // at the end: the last level, never the level list after it
        { 5, 70, 3, 4, 1 },
        { 1, 0, 0, 0, 1 },
        { 0, 0, 0, 0, 0 },
    };
    for (const Case& c : cases) {
        SoakTestDriver driver;
        driver.setUp(c.total, c.testStart, c.testLevels, nullptr);
        EXPECT_EQ(driver.first, c.first) << c.total << " " << c.testStart << " " << c.testLevels;
        EXPECT_EQ(driver.count, c.count) << c.total << " " << c.testStart << " " << c.testLevels;
    }
}

class SoakTestSystemTest : public ::testing::Test {
protected:
    // Runs the system as worlds run it: the world starts, time passes, one update.
    void playOneLevel(SoakTestSystem& system, quern::entity::World& world)
    {
        system.worldStarted(world, nullptr);
        world.clock.simulatedTime = 400'000;
        system.update(nullptr, world); // not yet: 0.4 s of 0.5 s
        world.clock.simulatedTime = 500'000;
        system.update(nullptr, world);
        system.update(nullptr, world); // once per world start
    }

    // The levels posted, in order; -1 stands for the Quit that ends the test.
    std::vector<i32> posted()
    {
        std::vector<i32> levels;
        for (i32 type = events.queue.frontStoredType(); type >= 0; type = events.queue.frontStoredType()) {
            LoadLevelEvent request {};
            if (events.queue.popByType(request, storedTypeOf(AppEventType::TestLevel))) {
                EXPECT_EQ(request.world, -1);
                EXPECT_EQ(request.switchWhenLoaded, 1);
                levels.push_back(request.level);
            } else {
                EXPECT_EQ(type, storedTypeOf(AppEventType::Quit));
                events.queue.drop();
                levels.push_back(-1);
            }
        }
        return levels;
    }

    AppEventQueueStorage events;
    SoakTestDriver driver;
    AppContext context;
    quern::entity::World world;
};

TEST_F(SoakTestSystemTest, InOrderPlaysFromTheStartThenQuits)
{
    driver.setUp(4, 1, 0, &events.queue);
    context.soakTest = &driver;
    SoakTestSystem system(context, driver, 7, 0.5f, false);
    for (int i = 0; i < 4; ++i)
        playOneLevel(system, world);
    // The first step posts the level start-up loaded already: it plays twice.
    EXPECT_EQ(posted(), (std::vector<i32> { 1, 2, 3, -1 }));
}

TEST_F(SoakTestSystemTest, AOneLevelGameEndsAfterItsLevel)
{
    driver.setUp(1, 0, 0, &events.queue);
    context.soakTest = &driver;
    SoakTestSystem system(context, driver, 7, 0.5f, false);
    playOneLevel(system, world);
    playOneLevel(system, world);
    EXPECT_EQ(posted(), (std::vector<i32> { 0, -1 }));
}

TEST_F(SoakTestSystemTest, RandomOrderPicksOnlyLevelsAndStopsAfterTheCount)
{
    driver.setUp(3, 0, 0, &events.queue);
    context.soakTest = &driver;
    const u64 seed = 1'765'000'000;
    SoakTestSystem system(context, driver, seed, 0.5f, true);
    for (int i = 0; i < 4; ++i)
        playOneLevel(system, world);
    std::vector<i32> expected;
    u64 state = seed;
    for (int i = 0; i < 3; ++i) {
        state = state * 4561u + 51349u;
        expected.push_back(static_cast<i32>(state % 3u));
    }
    expected.push_back(-1);
    EXPECT_EQ(posted(), expected);
}

} // namespace
} // namespace harmonize
