#include "harmonize/systems/ScreenFaderSystem.h"

#include "TestOverlay.h"
#include "harmonize/Scenario.h"
#include "harmonize/extensions/PlayerView.h"

#include "quern/platform/FloatingPointTraps.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <vector>

namespace harmonize {
namespace {

using testing::Scenario;
using testing::TestOverlay;

// A world with the fader drawing into a test overlay; frames of any length
// are run by hand.
struct FaderWorld {
    FaderWorld() { scene.addSystem(fader); }

    EntityHandle addFade(f32 opacity, f32 direction, f32 speed, bool startDark = false)
    {
        const EntityHandle e = scene.add("fade", { "Transform", "ScreenFade" });
        fade(e) = ScreenFade { opacity, direction, speed, static_cast<u8>(startDark ? 1 : 0), {} };
        return e;
    }
    void start()
    {
        scene.world().attachSystems(nullptr);
        scene.start();
    }
    // One frame of `seconds`, drawn into a fresh list.
    void frame(f32 seconds)
    {
        overlay.batch.endFrame();
        scene.world().clock.deltaSeconds = seconds;
        scene.world().variableUpdate(0);
    }
    ScreenFade& fade(EntityHandle e) { return scene.get<ScreenFade>(e); }
    std::vector<EntityHandle> listed() const
    {
        const auto* begin = fader->fades().dataAs<EntityHandle>();
        return { begin, begin + fader->fades().count() };
    }

    TestOverlay overlay;
    Scenario scene { 16 };
    ScreenFaderSystem* fader = new ScreenFaderSystem(&overlay.batch);
};

void expectDarkScreen(const OverlayItem& item, f32 opacity)
{
    EXPECT_EQ(item.kind, OverlayItemKind::Quad);
    EXPECT_EQ(item.position[0], 960.0f);
    EXPECT_EQ(item.position[1], 540.0f);
    EXPECT_EQ(item.extent[0], 960.0f);
    EXPECT_EQ(item.extent[1], 540.0f);
    // Black stays black when premultiplied; only the opacity is left.
    EXPECT_EQ(item.colour[0], 0.0f);
    EXPECT_EQ(item.colour[1], 0.0f);
    EXPECT_EQ(item.colour[2], 0.0f);
    EXPECT_FLOAT_EQ(item.colour[3], opacity);
    EXPECT_EQ(item.sourceBlend, 1);
    EXPECT_EQ(item.destinationBlend, 5);
}

TEST(ScreenFaderSystem, AFadeDarkensAtItsSpeedThenHoldsFullyDark)
{
    FaderWorld w;
    const EntityHandle e = w.addFade(0.0f, 1.0f, 0.5f);
    w.start();
    for (const f32 expected : { 0.25f, 0.5f, 0.75f, 1.0f, 1.0f }) {
        w.frame(0.5f);
        EXPECT_FLOAT_EQ(w.fade(e).opacity, expected);
        ASSERT_EQ(w.overlay.items().size(), 1u);
        expectDarkScreen(w.overlay.items()[0], expected);
    }
}

TEST(ScreenFaderSystem, ABrighteningFadeStopsDrawingOnceClear)
{
    FaderWorld w;
    const EntityHandle e = w.addFade(0.0f, -1.0f, 2.0f, true);
    w.start();
    w.frame(0.25f);
    EXPECT_FLOAT_EQ(w.fade(e).opacity, 0.5f);
    EXPECT_EQ(w.overlay.items().size(), 1u);
    w.frame(0.5f); // well past clear: held at 0
    EXPECT_EQ(w.fade(e).opacity, 0.0f);
    EXPECT_TRUE(w.overlay.items().empty());
    w.frame(0.5f);
    EXPECT_EQ(w.fade(e).opacity, 0.0f);
    EXPECT_TRUE(w.overlay.items().empty());
}

TEST(ScreenFaderSystem, ANewFadeStartsClearUnlessItStartsDark)
{
    struct Case {
        const char* what;
        ScreenFade stored;
        f32 opacity;
        f32 direction;
    };
    const Case cases[] = {
        { "plain", { 0.7f, 1.0f, 1.0f, 0, {} }, 0.0f, 1.0f },
        { "plain, brightening", { 0.7f, -1.0f, 1.0f, 0, {} }, 0.0f, -1.0f },
        { "start dark", { 0.0f, 1.0f, 1.0f, 1, {} }, 1.0f, -1.0f },
        { "start dark, any flag value", { 0.3f, 0.0f, 1.0f, 7, {} }, 1.0f, -1.0f },
    };
    for (const Case& c : cases) {
        FaderWorld w;
        const EntityHandle e = w.addFade(0, 0, 0);
        w.fade(e) = c.stored;
        w.start();
        EXPECT_EQ(w.fade(e).opacity, c.opacity) << c.what;
        EXPECT_EQ(w.fade(e).direction, c.direction) << c.what;
        EXPECT_EQ(w.listed(), std::vector<EntityHandle> { e }) << c.what;
    }
}

TEST(ScreenFaderSystem, AStartDarkFadeCoversTheFirstFrameThenBrightens)
{
    FaderWorld w;
    const EntityHandle e = w.addFade(0.0f, 1.0f, 1.0f, true);
    w.start();
    w.frame(0.0f); // a world's first frame has no length
    ASSERT_EQ(w.overlay.items().size(), 1u);
    EXPECT_EQ(w.overlay.items()[0].colour[3], 1.0f);
    w.frame(0.25f);
    EXPECT_FLOAT_EQ(w.fade(e).opacity, 0.75f);
}

TEST(ScreenFaderSystem, OnlyEnabledFadesMoveAndDraw)
{
    FaderWorld w;
    const EntityHandle off = w.addFade(0.0f, 1.0f, 1.0f, true);
    const EntityHandle on = w.addFade(0.0f, 1.0f, 1.0f);
    w.start();
    w.scene.world().setComponentEnabled(off, ScreenFade::kType, false);
    w.frame(0.5f);
    w.fader->completeFades(w.scene.world());
    EXPECT_EQ(w.fade(off).opacity, 1.0f);
    EXPECT_EQ(w.fade(off).direction, -1.0f);
    ASSERT_EQ(w.overlay.items().size(), 1u);
    EXPECT_FLOAT_EQ(w.overlay.items()[0].colour[3], 0.5f);
    EXPECT_EQ(w.fade(on).opacity, 1.0f);
}

TEST(ScreenFaderSystem, CompletingFadesJumpsEachToItsEnd)
{
    const struct {
        f32 opacity, direction, speed, completed;
    } cases[] = {
        { 0.2f, 1.0f, 1.0f, 1.0f },
        { 0.2f, -1.0f, 1.0f, 0.0f },
        { 0.6f, 1.0f, 0.001f, 1.0f }, // however slow
        { 0.6f, 0.0f, 1.0f, 0.6f }, // going nowhere
        { 0.6f, 1.0f, 0.0f, 0.6f },
    };
    for (const auto& c : cases) {
        FaderWorld w;
        const EntityHandle e = w.addFade(0.0f, 0.0f, 0.0f);
        w.start();
        w.fade(e) = ScreenFade { c.opacity, c.direction, c.speed, 0, {} };
        w.fader->completeFades(w.scene.world());
        EXPECT_FLOAT_EQ(w.fade(e).opacity, c.completed) << c.opacity << " " << c.direction << " " << c.speed;
        EXPECT_TRUE(w.overlay.items().empty()); // drawn by the next update only
    }
}

TEST(ScreenFaderSystem, DestroyedFadesLeaveTheListInOrder)
{
    FaderWorld w;
    const EntityHandle a = w.addFade(0, 1, 1);
    const EntityHandle b = w.addFade(0, 1, 1);
    const EntityHandle c = w.addFade(0, 1, 1);
    const EntityHandle plain = w.scene.add("plain", { "Transform" });
    w.start();
    EXPECT_EQ(w.listed(), (std::vector<EntityHandle> { a, b, c }));
    w.scene.world().destroyEntities(&plain, 1);
    EXPECT_EQ(w.listed(), (std::vector<EntityHandle> { a, b, c }));
    w.scene.world().destroyEntities(&b, 1);
    EXPECT_EQ(w.listed(), (std::vector<EntityHandle> { a, c }));
    // A fade made later joins at the end.
    const EntityHandle d = w.scene.world().createEntity();
    w.scene.world().getComponentMask(d.index()).set(ScreenFade::kType);
    w.scene.world().activateEntities(&d, 1);
    EXPECT_EQ(w.listed(), (std::vector<EntityHandle> { a, c, d }));
}

TEST(ScreenFaderSystem, StoppingTheWorldForgetsEveryFade)
{
    FaderWorld w;
    w.addFade(0, 1, 1);
    w.addFade(0, 1, 1);
    w.start();
    EXPECT_EQ(w.listed().size(), 2u);
    w.scene.world().stop();
    // Nothing listed can reach the entities that take the slots next.
    EXPECT_TRUE(w.listed().empty());
    w.scene.world().clear();
    EXPECT_EQ(w.fader->fades().capacity(), 0u);
}

TEST(ScreenFaderSystem, FadesRunWithoutAnOverlay)
{
    Scenario scene;
    auto* fader = new ScreenFaderSystem(nullptr);
    scene.addSystem(fader);
    const EntityHandle e = scene.add("fade", { "ScreenFade" });
    scene.get<ScreenFade>(e) = ScreenFade { 0.0f, 1.0f, 1.0f, 0, {} };
    scene.world().attachSystems(nullptr);
    scene.start();
    scene.world().clock.deltaSeconds = 0.5f;
    scene.world().variableUpdate(0);
    EXPECT_FLOAT_EQ(scene.get<ScreenFade>(e).opacity, 0.5f);
}

// Fades from level data with values no fade should have keep their opacity
// within 0..1 and raise no floating-point trap while they run.
[[noreturn]] void runHostileFadesUnderTraps()
{
    constexpr f32 kInfinity = std::numeric_limits<f32>::infinity();
    constexpr f32 kNaN = std::numeric_limits<f32>::quiet_NaN();
    constexpr f32 kHuge = std::numeric_limits<f32>::max();
    const ScreenFade hostile[] = {
        { 0.0f, kHuge, kHuge, 0, {} },
        { 0.0f, -kHuge, kHuge, 0, {} },
        { 0.0f, 1.0f, kInfinity, 0, {} },
        { 0.0f, 0.0f, kInfinity, 0, {} },
        { 0.0f, kNaN, 1.0f, 0, {} },
        { 0.0f, 1.0f, std::numeric_limits<f32>::denorm_min(), 0, {} },
        { std::numeric_limits<f32>::denorm_min(), -1.0f, 1e-30f, 0, {} },
        { std::numeric_limits<f32>::signaling_NaN(), 1.0f, 1.0f, 0, {} },
        { 0.5f, -1.0f, std::numeric_limits<f32>::min(), 0, {} }, // steps below the smallest float
    };
    FaderWorld w;
    std::vector<EntityHandle> fades;
    for (u64 i = 0; i < std::size(hostile); ++i)
        fades.push_back(w.addFade(0, 0, 0));
    w.start();
    for (u64 i = 0; i < fades.size(); ++i)
        w.fade(fades[i]) = hostile[i];
    w.fade(fades[4]).opacity = kNaN;
    w.fade(fades[5]).opacity = kInfinity;
    quern::platform::enableFloatingPointTraps();
    w.frame(0.25f);
    w.frame(0.0f);
    w.fader->completeFades(w.scene.world());
    w.frame(0.25f);
    quern::platform::maskFloatingPointTraps();
    bool inRange = true;
    for (const EntityHandle e : fades)
        inRange = inRange && w.fade(e).opacity >= 0.0f && w.fade(e).opacity <= 1.0f;
    std::exit(inRange ? 0 : 1);
}

TEST(ScreenFaderSystemDeathTest, HostileFadesStayInRangeWithoutTraps)
{
    EXPECT_EXIT(runHostileFadesUnderTraps(), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace harmonize
