#include "quern/entity/System.h"
#include "quern/entity/World.h"

#include <gtest/gtest.h>

namespace {

using namespace quern;
using namespace quern::entity;

class PlainSystem : public System { };

class NamedSystem : public System {
public:
    void describe(SystemInfo* info) override { info->name = "Named"; }
};

class LimitedSystem : public System {
public:
    void describe(SystemInfo* info) override
    {
        System::describe(info);
        info->name = "Limited";
        info->kind = 0;
        info->tickLimit = 3;
    }
};

TEST(System, DefaultDescriptionAndPrefilledRecord)
{
    setTickInterval(0.02f);
    World world;
    world.addSystem(new PlainSystem);
    world.addSystem(new NamedSystem);
    world.addSystem(new LimitedSystem);
    setTickInterval(1.0f / 60.0f);

    struct Expected {
        const char* name;
        i32 kind;
        i32 tickLimit;
    };
    const Expected expected[] = { { "DefaultSystem", 2, 0 }, { "Named", 2, 0 }, { "Limited", 0, 3 } };
    ASSERT_EQ(world.getSystemCount(), 3u);
    for (u64 i = 0; i < 3; ++i) {
        const SystemInfo& info = world.getSystemInfo(i);
        EXPECT_STREQ(info.name, expected[i].name);
        EXPECT_EQ(info.kind, expected[i].kind);
        EXPECT_EQ(info.tickLimit, expected[i].tickLimit);
        EXPECT_EQ(info.state, 0);
        EXPECT_EQ(info.tickInterval, 0.02f);
        EXPECT_EQ(info.timeLimit, 1'000'000);
        EXPECT_EQ(info.timeScale, 1.0f);
        EXPECT_EQ(info.frameTime, 0u);
        EXPECT_EQ(info.frameTicks, 0u);
        EXPECT_FALSE(info.limitReached);
    }
}

TEST(System, WorldStepComesFromTheProcessTickInterval)
{
    EXPECT_EQ(getTickInterval(), 1.0f / 60.0f);
    EXPECT_EQ(World().clock.step, 16'666u);
    setTickInterval(0.01f);
    EXPECT_EQ(World().clock.step, 10'000u);
    setTickInterval(1.0f / 60.0f);
}

TEST(SystemDeathTest, AddingANullSystemIsFatal)
{
    EXPECT_DEATH(
        {
            World world;
            world.addSystem(nullptr);
        },
        "Null system added to game world");
}

} // namespace
