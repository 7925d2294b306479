#include "StartupWorld.h"

#include "harmonize/extensions/PlayerView.h"
#include "harmonize/settings/SettingsUtility.h"

#include <gtest/gtest.h>

#include <vector>

namespace harmonize {
namespace {

using harmonize::testing::StartupWorld;
using quern::math::Vector3;

void expectAt(quern::entity::World& world, EntityHandle e, Vector3 expected)
{
    const Transform* transform = componentOf<Transform>(world, e);
    ASSERT_NE(transform, nullptr);
    const Vector3 p = worldPositionOf(world, *transform);
    EXPECT_NEAR(p.x, expected.x, 1e-5f);
    EXPECT_NEAR(p.y, expected.y, 1e-5f);
    EXPECT_NEAR(p.z, expected.z, 1e-5f);
}

// One entity with everything the pass handles: each step sees what the
// earlier ones did. The lightning start hides the disabled lightning, showing
// on start shows it again, and the language filter decides last.
TEST(StartupSystem, ThePassHandlesAnEntitysComponentsInOrder)
{
    StartupWorld w;
    const EntityHandle hidden
        = w.at("hidden", { "Transform", "Renderer", "Lightning", "ShowOnStart", "LanguageFilter" }, {});
    w.scene.get<Lightning>(hidden).disabled = 1;
    w.scene.get<LanguageFilter>(hidden) = LanguageFilter { 1, ~0u }; // hidden in every language
    const EntityHandle shown = w.at("shown", { "Transform", "Renderer", "Lightning", "ShowOnStart" }, {});
    w.scene.get<Lightning>(shown).disabled = 1;
    const EntityHandle dark = w.at("dark", { "Transform", "Renderer", "Lightning" }, {});
    w.scene.get<Lightning>(dark).disabled = 1;
    const EntityHandle player = w.at("player", { "Transform", "PlayerState", "PlayerMovement" }, {});
    w.scene.get<PlayerState>(player).currentClip = 77;
    w.start();

    EXPECT_FALSE(w.rendererShown(hidden));
    EXPECT_TRUE(w.rendererShown(shown));
    EXPECT_FALSE(w.rendererShown(dark));
    EXPECT_EQ(w.scene.get<PlayerState>(player).currentClip, 0u) << "no clip chosen yet";
}

// Only enabled components count: a dormant template's markers do nothing.
TEST(StartupSystem, DisabledComponentsAreLeftAlone)
{
    StartupWorld w;
    const EntityHandle dormant = w.scene.add("template", { "Transform", "Renderer", "ShowOnStart" }, {}, true);
    const EntityHandle muted = w.at("muted", { "Transform", "Renderer", "ShowOnStart" }, {});
    w.world().getEnabledMask(muted.index()).reset(Renderer::kType);
    w.world().getEnabledMask(muted.index()).reset(ShowOnStart::kType);
    w.start();
    EXPECT_FALSE(w.rendererShown(dormant));
    EXPECT_FALSE(w.rendererShown(muted));
}

TEST(StartupSystem, ShowOnStartSwitchesTheRendererOn)
{
    StartupWorld w;
    const EntityHandle sign = w.at("sign", { "Transform", "Renderer", "ShowOnStart" }, {});
    w.world().getEnabledMask(sign.index()).reset(Renderer::kType);
    const EntityHandle bare = w.at("bare", { "Transform", "ShowOnStart" }, {});
    w.start();
    EXPECT_TRUE(w.rendererShown(sign));
    EXPECT_FALSE(w.rendererShown(bare)) << "it has no renderer to switch on";
}

// The player goes to the last spawn point in index order, on the plane z = 0;
// a spawn point without a Transform found last leaves the player where it is.
TEST(StartupSystem, ThePlayerStartsOnTheLastSpawnPoint)
{
    struct Spawn {
        bool placed;
        Vector3 position;
    };
    struct Case {
        const char* name;
        std::vector<Spawn> spawns;
        Vector3 expected;
    };
    const Vector3 start { 7, 8, 9 };
    const std::vector<Case> cases = {
        { "one", { { true, { 1, 2, 3 } } }, { 1, 2, 0 } },
        { "the higher index wins", { { true, { 1, 2, 3 } }, { true, { 4, 5, 6 } } }, { 4, 5, 0 } },
        { "a placeless spawn last cancels", { { true, { 1, 2, 3 } }, { false, {} } }, start },
        { "a placeless spawn first is overruled", { { false, {} }, { true, { 4, 5, 6 } } }, { 4, 5, 0 } },
        { "no spawn", {}, start },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartupWorld w;
        for (const Spawn& spawn : c.spawns) {
            if (spawn.placed)
                w.at("spawn", { "Transform", "PlayerSpawn" }, spawn.position);
            else
                w.scene.add("spawn", { "PlayerSpawn" });
        }
        const EntityHandle player = w.at("player", { "Transform", "PlayerMovement" }, start);
        w.start();
        expectAt(w.world(), player, c.expected);
    }
}

// Both places are world places: a spawn point and a player below moved
// parents.
TEST(StartupSystem, SpawnPlacementWorksInWorldSpace)
{
    StartupWorld w;
    const EntityHandle room = w.at("room", { "Transform" }, { 10, 0, 4 });
    const EntityHandle spawn = w.at("spawn", { "Transform", "PlayerSpawn" }, { 1, 2, 3 }, room);
    const EntityHandle carrier = w.at("carrier", { "Transform" }, { 0, -5, 2 });
    const EntityHandle player = w.at("player", { "Transform", "PlayerMovement" }, { 0, 0, 0 }, carrier);
    w.start();
    expectAt(w.world(), spawn, { 11, 2, 7 });
    expectAt(w.world(), player, { 11, 2, 0 });
    EXPECT_NEAR(w.scene.get<Transform>(player).position.y, 7.0f, 1e-5f) << "moved in its parent's space";
}

// Only the direct children come to the gathering entity's place; their own
// children travel with them, everything else stays.
TEST(StartupSystem, GatherChildrenPullsTheChildrenOntoTheParent)
{
    StartupWorld w;
    const EntityHandle group = w.at("group", { "Transform", "GatherChildren" }, { 5, 6, 7 });
    const EntityHandle a = w.at("a", { "Transform" }, { 1, 0, 0 }, group);
    const EntityHandle b = w.at("b", { "Transform" }, { 0, -3, 2 }, group);
    const EntityHandle leaf = w.at("leaf", { "Transform" }, { 0, 1, 0 }, b);
    const EntityHandle dormant = w.scene.add("dormant", { "Transform" }, group, true);
    w.scene.get<Transform>(dormant).position = { 2, 2, 2 };
    const EntityHandle other = w.at("other", { "Transform" }, { 1, 1, 1 });
    w.start();
    expectAt(w.world(), a, { 5, 6, 7 });
    expectAt(w.world(), b, { 5, 6, 7 });
    expectAt(w.world(), leaf, { 5, 7, 7 });
    expectAt(w.world(), dormant, { 5, 6, 7 });
    expectAt(w.world(), other, { 1, 1, 1 });
    expectAt(w.world(), group, { 5, 6, 7 });
}

TEST(StartupSystem, LanguageFiltersShowOrHideByTheLanguageBit)
{
    struct Case {
        u32 mode;
        u32 languages;
        i32 language;
        bool shown;
    };
    const Case cases[] = {
        { 0, 1u << 2, 2, true }, // listed: shown
        { 0, 1u << 2, 3, false },
        { 1, 1u << 2, 2, false }, // listed: hidden
        { 1, 1u << 2, 3, true },
        { 0, 0, 0, false }, // nothing listed: hidden everywhere
        { 0, 0, 8, false },
        { 1, 0, 0, true }, // nothing listed: shown everywhere
        { 1, 0, 8, true },
        { 0, 0x1ff, 8, true },
        { 1, 0x1ff, 8, false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(languageFilterShows(LanguageFilter { c.mode, c.languages }, c.language), c.shown)
            << "mode " << c.mode << ", mask " << c.languages << ", language " << c.language;
}

// At world start the filters see the process's language.
TEST(StartupSystem, LanguageFiltersUseTheProcesssLanguage)
{
    StartupWorld w;
    const i32 language = getLanguage();
    const u32 own = 1u << language;
    const u32 another = 1u << ((language + 1) % kLanguageCount);
    struct Case {
        u32 mode;
        u32 languages;
        bool shown;
    };
    const Case cases[] = { { 0, own, true }, { 0, another, false }, { 1, own, false }, { 1, another, true } };
    std::vector<EntityHandle> signs;
    for (const Case& c : cases) {
        signs.push_back(w.at("sign", { "Transform", "Renderer", "LanguageFilter" }, {}));
        w.scene.get<LanguageFilter>(signs.back()) = LanguageFilter { c.mode, c.languages };
        // Each filter decides on its own, whatever the renderer showed before.
        if (c.shown)
            w.world().getEnabledMask(signs.back().index()).reset(Renderer::kType);
    }
    w.start();
    for (u64 i = 0; i < signs.size(); ++i)
        EXPECT_EQ(w.rendererShown(signs[i]), cases[i].shown) << "case " << i;
}

using StartupSystemDeathTest = ::testing::Test;

TEST_F(StartupSystemDeathTest, ALanguageFilterOfAnotherModeIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    StartupWorld w;
    const EntityHandle sign = w.at("sign", { "Transform", "Renderer", "LanguageFilter" }, {});
    w.scene.get<LanguageFilter>(sign) = LanguageFilter { 2, 1 };
    EXPECT_DEATH(w.start(), "Unreachable code hit");
}

} // namespace
} // namespace harmonize
