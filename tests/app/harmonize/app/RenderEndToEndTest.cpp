// The game draws a demo level through OpenGL: the App on the playground with
// the default Renderer settings and shadows, in a window of another shape
// than the frame, at a fixed time step. The frame is read back from the
// window, saved as a PNG in the build folder for a person to look at, and
// checked where its parts must land.

#include "harmonize/app/App.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/display/FrameLayout.h"
#include "harmonize/events/AppEventDispatch.h"
#include "harmonize/hud/HudRenderPass.h"
#include "harmonize/hud/OverlayBatch.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/LightingSystem.h"
#include "harmonize/systems/ParticleSystem.h"
#include "harmonize/systems/EntityScenePass.h"
#include "harmonize/systems/RenderSystem.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/scene/Node.h"
#include "quern/visuals/Visual.h"
#include <cstring>
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/io/HomeFileSystem.h"
#include "support/harmonize/TemporaryUserFolder.h"

#include "PlaygroundGame.h"
#include "PlaygroundRun.h"
#include "SdlInput.h"
#include "modules/quern/opengl/PngWriter.h"
#include "ReplayScript.h"
#include "support/harmonize/DemoLevelContent.h"
#include "support/harmonize/SmallWindowSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace harmonize {
namespace {

namespace fs = std::filesystem;

constexpr i32 kWindowWidth = 1000; // 5:3, so the 16:9 frame gets bars above and below
constexpr i32 kWindowHeight = 600;

struct Frame {
    u32 width = 0;
    u32 height = 0;
    std::vector<u8> rgb; // bottom row first
    const u8* at(i32 x, i32 y) const { return &rgb[(static_cast<u64>(y) * width + static_cast<u64>(x)) * 3]; }
    // The mean colour of a square of pixels around (x, y).
    std::array<f32, 3> mean(std::pair<i32, i32> at, i32 half = 2) const { return mean(at.first, at.second, half); }
    std::array<f32, 3> mean(i32 x, i32 y, i32 half = 2) const
    {
        std::array<f32, 3> sum { 0, 0, 0 };
        i32 n = 0;
        for (i32 j = y - half; j <= y + half; ++j)
            for (i32 i = x - half; i <= x + half; ++i, ++n)
                for (i32 c = 0; c < 3; ++c)
                    sum[c] += at(i, j)[c];
        for (f32& s : sum)
            s /= static_cast<f32>(n);
        return sum;
    }
};


f32 luma(const std::array<f32, 3>& c) { return 0.299f * c[0] + 0.587f * c[1] + 0.114f * c[2]; }

// Where a world point lands in the window (bottom row 0), through the
// current camera and the output viewport.
std::pair<i32, i32> project(RenderSystem& render, const quern::math::Vector3& point, const ViewportRect& view)
{
    quern::scene::Camera& camera = *render.currentCamera();
    camera.refresh();
    const quern::math::Vector3 eye = camera.viewMatrix().transformPoint(point);
    f32 clip[4];
    camera.projectionMatrix().transform(eye.x, eye.y, eye.z, 1.0f, clip);
    const f32 x = clip[0] / clip[3], y = clip[1] / clip[3];
    return { view.x + static_cast<i32>((x + 1.0f) * 0.5f * static_cast<f32>(view.width)),
        view.y + static_cast<i32>((y + 1.0f) * 0.5f * static_cast<f32>(view.height)) };
}

class RenderEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no X server";
        testing::useSmallDummyWindow();
        unsetenv("SDL_VIDEODRIVER");
        Settings::Graphics.backEnd = "opengl";
        Settings::Graphics.windowWidth = kWindowWidth;
        Settings::Graphics.windowHeight = kWindowHeight;
        Settings::Threading.enabled = false;
        Settings::Renderer.renderShadows = true;
        handlers = std::make_unique<testing::GameAssetHandlers>("opengl");
        build();
    }
    virtual void build() { testing::buildPlaygroundGame(content, "render-"); }
    void TearDown() override
    {
        if (app)
            app->shutdown();
        app.reset();
        handlers.reset();
        Settings::resetToDefaults();
    }

    void startLevel()
    {
        app = std::make_unique<App>(&content.database, content.depot.get(), AppServices {});
        app->init();
        for (i32 i = 0; i < 200 && app->currentLevelIndex() < 0; ++i)
            frame();
        ASSERT_GE(app->currentLevelIndex(), 0);
    }
    // One frame at the fixed step and the app events it posted.
    void frame()
    {
        m_time += m_frameTicks;
        app->runFrame(m_time);
        AppEventQueue& queue = app->appEventQueue();
        for (i32 t = queue.frontStoredType(); t >= 0; t = queue.frontStoredType()) {
            if (appEventTypeOf(static_cast<u16>(t)) == AppEventType::ShowMenu)
                queue.drop();
            else if (!dispatchAppEvent(static_cast<u16>(t), queue, *app))
                break;
        }
    }
    // The window as the last frame left it (drawn, not yet presented).
    Frame readWindow()
    {
        quern::graphics::TextureRenderTarget* window = app->display()->context().windowRenderTarget;
        EXPECT_NE(window, nullptr);
        Frame frame;
        if (!window)
            return frame;
        quern::graphics::NullPixelBuffer image;
        window->readPixels(image);
        frame.width = image.format().width;
        frame.height = image.format().height;
        const u8* pixels = image.lockPixels();
        frame.rgb.assign(pixels, pixels + static_cast<u64>(frame.width) * frame.height * 3);
        image.unlockPixels();
        return frame;
    }
    // Pixels of two frames of one size whose colours differ by more than 24 in all.
    static u64 changedPixels(const Frame& a, const Frame& b)
    {
        u64 changed = 0;
        for (u64 i = 0; i + 2 < a.rgb.size(); i += 3)
            changed += std::abs(a.rgb[i] - b.rgb[i]) + std::abs(a.rgb[i + 1] - b.rgb[i + 1])
                    + std::abs(a.rgb[i + 2] - b.rgb[i + 2])
                > 24;
        return changed;
    }
    void save(const Frame& frame, const char* name)
    {
        const fs::path path = fs::path(QUERN_TEST_BINARY_DIR) / name;
        EXPECT_TRUE(quern::opengl::testing::writePng(path.string(), frame.width, frame.height, frame.rgb)) << path;
    }

    testing::TemporaryUserFolder userFolder;
    std::unique_ptr<testing::GameAssetHandlers> handlers;
    quern::testing::BuiltContent content;
    std::unique_ptr<App> app;
    i64 m_time = 0;
    i64 m_frameTicks = 16'667; // counter ticks per frame
};

TEST_F(RenderEndToEndTest, APlaygroundFrameIsLetterboxedLitAndShaded)
{
    startLevel();
    for (i32 i = 0; i < 10; ++i)
        frame();
    const Frame lit = readWindow();
    save(lit, "playground.png");
    ASSERT_EQ(lit.width, static_cast<u32>(kWindowWidth));
    ASSERT_EQ(lit.height, static_cast<u32>(kWindowHeight));

    // Bars above and below the 16:9 frame, and nothing else black at the edges.
    const ViewportRect view = computeOutputViewport();
    EXPECT_EQ(view.y, 19);
    EXPECT_EQ(view.height, 562);
    for (i32 x : { 0, kWindowWidth / 2, kWindowWidth - 1 })
        for (i32 y : { 0, view.y - 1, view.y + view.height, kWindowHeight - 1 }) {
            const u8* p = lit.at(x, y);
            EXPECT_LE(p[0] + p[1] + p[2], 3) << "bar pixel " << x << ", " << y;
        }
    EXPECT_GT(luma(lit.mean(kWindowWidth / 2, view.y + 2, 1)), 40.0f) << "the frame starts right above the bar";

    // The lens clears to its colour where the level draws nothing: high in the
    // middle, where the vignette hardly darkens.
    RenderSystem& render = *app->context(app->currentLevelWorld()).render;
    quern::entity::World& world = app->worldSwapper().getWorld(static_cast<u64>(app->currentLevelWorld()));
    const EntityHandle camera = testing::entityNamed(world, "gameCamera");
    const CameraLens& lens = *static_cast<const CameraLens*>(world.getComponent(camera.index(), CameraLens::kType));
    const std::array<f32, 3> sky = lit.mean(view.x + view.width / 2, view.y + view.height * 9 / 10, 3);
    for (i32 c = 0; c < 3; ++c)
        EXPECT_NEAR(sky[c], lens.clearColour[c] * 255.0f, 40.0f) << "channel " << c;

    // The ground box's top faces the sun more than its front does, and shows
    // brighter; both are sampled left of the player, out of every shadow.
    const LightingSystem& lighting = *app->context(app->currentLevelWorld()).lighting;
    ASSERT_GE(lighting.directionalCount(), 1u);
    const f32* towards = lighting.directionalLight(0).direction;
    const quern::math::Vector3 up { 0, 1, 0 }, front { 0, 0, -1 };
    const f32 upFacing = -(towards[0] * up.x + towards[1] * up.y + towards[2] * up.z);
    const f32 frontFacing = -(towards[0] * front.x + towards[1] * front.y + towards[2] * front.z);
    ASSERT_GT(upFacing, frontFacing) << "the demo's sun shines from above";
    const std::array<f32, 3> top = lit.mean(project(render, { -6.0f, 0.0f, -0.3f }, view));
    const std::array<f32, 3> side = lit.mean(project(render, { -6.0f, -0.5f, -1.0f }, view));
    EXPECT_GT(luma(top), luma(side) + 10.0f);

    // Without lighting the level reloads with unlit materials and looks different.
    Settings::Renderer.lightingEnabled = false;
    app->appEventQueue().postLoadLevel({ -2, -1, 1, {} });
    const i32 world0 = app->currentLevelWorld();
    for (i32 i = 0; i < 200 && app->currentLevelWorld() == world0; ++i)
        frame();
    ASSERT_NE(app->currentLevelWorld(), world0);
    for (i32 i = 0; i < 10; ++i)
        frame();
    const Frame unlit = readWindow();
    save(unlit, "playground-unlit.png");
    ASSERT_EQ(unlit.rgb.size(), lit.rgb.size());
    EXPECT_GT(changedPixels(lit, unlit), lit.rgb.size() / 3 / 50) << "at least 2% of the pixels change";
}

TEST_F(RenderEndToEndTest, ThePhysicsDebugPassDrawsTheCollisionShapesOverTheFrame)
{
    startLevel();
    for (i32 i = 0; i < 10; ++i)
        frame();
    const Frame plain = readWindow();
    Settings::Renderer.renderPhysics = true;
    for (i32 i = 0; i < 3; ++i)
        frame();
    const Frame lines = readWindow();
    save(lines, "playground-physics.png");
    ASSERT_EQ(lines.rgb.size(), plain.rgb.size());
    // The shapes' outlines: thin, but over a thousand pixels.
    EXPECT_GT(changedPixels(plain, lines), 1000u);
}


// The player on the moves level: its body of race 0 stands on the start block;
// after a harmonize press the body of the other race shows in its place.
class PlayerDrawingTest : public RenderEndToEndTest {
protected:
    void build() override
    {
        const fs::path root = fs::path(QUERN_TEST_BINARY_DIR) / "render-moves";
        std::string error;
        ASSERT_TRUE(testing::buildDemoLevelContent(content, root, QUERN_CONTENT_DIR, "moves", error)) << error;
    }
};

TEST_F(PlayerDrawingTest, HarmonizingShowsTheBodyOfTheOtherRace)
{
    m_frameTicks = 100'000; // one fixed tick a frame
    startLevel();
    for (i32 i = 0; i < 60; ++i)
        frame();
    quern::entity::World& world = app->worldSwapper().getWorld(static_cast<u64>(app->currentLevelWorld()));
    const EntityHandle player = testing::entityNamed(world, "player");
    const Transform& body = *static_cast<const Transform*>(world.getComponent(player.index(), Transform::kType));
    const quern::math::Vector3 standing = body.position;
    const Frame light = readWindow();
    save(light, "moves-player-race0.png");

    testing::pushKey(SDL_SCANCODE_RETURN, true);
    testing::pushKey(SDL_SCANCODE_RETURN, false);
    for (i32 i = 0; i < 10; ++i)
        frame();
    const Frame dark = readWindow();
    save(dark, "moves-player-race2.png");
    ASSERT_EQ(static_cast<const Race*>(world.getComponent(player.index(), Race::kType))->value, 2);
    EXPECT_EQ(body.position.x, standing.x) << "the player stood still";

    // The body's pixels change colour: its lower half, below the glow that
    // whitens both; the sky above it does not.
    RenderSystem& render = *app->context(app->currentLevelWorld()).render;
    const ViewportRect view = computeOutputViewport();
    const auto at = project(render, standing - quern::math::Vector3 { 0.0f, 0.6f, 0.0f }, view);
    const std::array<f32, 3> before = light.mean(at), after = dark.mean(at);
    f32 change = 0.0f;
    for (i32 c = 0; c < 3; ++c)
        change = std::max(change, std::fabs(before[c] - after[c]));
    EXPECT_GT(change, 30.0f) << "the body at " << at.first << ", " << at.second;
    const auto sky = project(render, standing + quern::math::Vector3 { 0.0f, 4.0f, 0.0f }, view);
    for (i32 c = 0; c < 3; ++c)
        EXPECT_NEAR(light.mean(sky)[c], dark.mean(sky)[c], 3.0f) << "channel " << c;
}

// The hazards level played by its replay as far as the water jets: the jet
// beside the path and the one across it are drawn as bodies of water from
// their sources down to where they end.
class HazardDrawingTest : public RenderEndToEndTest {
protected:
    void build() override
    {
        const fs::path root = fs::path(QUERN_TEST_BINARY_DIR) / "render-hazards";
        std::string error;
        ASSERT_TRUE(testing::buildDemoLevelContent(content, root, QUERN_CONTENT_DIR, "hazards", error)) << error;
        const std::string script = std::string(QUERN_CONTENT_DIR) + "/replays/hazards.inputs";
        ASSERT_TRUE(quern::replaybuild::buildReplayFile(script, (userFolder.path() / "hazards.replay").string(), error))
            << error;
        Settings::Replay.file = "hazards.replay";
    }
};

TEST_F(HazardDrawingTest, TheWaterJetsShowFromSourceToEnd)
{
    startLevel();
    quern::entity::World& world = app->worldSwapper().getWorld(static_cast<u64>(app->currentLevelWorld()));
    const EntityHandle player = testing::entityNamed(world, "player");
    // The player walks up to the jet across its path, five fixed ticks a
    // frame: the replay holds an input per tick, and fewer frames draw.
    m_frameTicks = 500'000;
    for (i32 i = 0; i < 606; ++i)
        frame();
    const Transform& body = *static_cast<const Transform*>(world.getComponent(player.index(), Transform::kType));
    ASSERT_GT(body.position.x, 80.0f);
    const Frame frame = readWindow();
    save(frame, "hazards-jets.png");

    // Inside each jet's body the picture differs from just beside it; the
    // jet beside the path falls 13 from (88, 9), the one across it 5 from
    // (82.5, 5).
    RenderSystem& render = *app->context(app->currentLevelWorld()).render;
    const ViewportRect view = computeOutputViewport();
    const struct {
        quern::math::Vector3 inside, beside;
    } jets[] = {
        { { 88.0f, 6.0f, 3.0f }, { 90.0f, 6.0f, 3.0f } },
        { { 82.5f, 2.5f, 0.0f }, { 84.0f, 2.5f, 0.0f } },
    };
    for (const auto& jet : jets) {
        const std::array<f32, 3> water = frame.mean(project(render, jet.inside, view));
        const std::array<f32, 3> around = frame.mean(project(render, jet.beside, view));
        f32 difference = 0.0f;
        for (i32 c = 0; c < 3; ++c)
            difference = std::max(difference, std::fabs(water[c] - around[c]));
        EXPECT_GT(difference, 20.0f) << "the jet at " << jet.inside.x;
    }
}

// The same replay as far as the alarm machine: the rain over the enemies'
// floor and the sparks from the alarm post are in view and drawn. Hiding the
// two emitters for a frame that moves nothing on takes their drops and
// sparks out of the picture, and only those.
TEST_F(HazardDrawingTest, TheRainAndTheSparksShow)
{
    startLevel();
    quern::entity::World& world = app->worldSwapper().getWorld(static_cast<u64>(app->currentLevelWorld()));
    const EntityHandle player = testing::entityNamed(world, "player");
    const EntityHandle emitters[] = { testing::entityNamed(world, "rain"), testing::entityNamed(world, "sparks") };
    m_frameTicks = 500'000;
    for (i32 i = 0; i < 400; ++i)
        frame();
    const Transform& body = *static_cast<const Transform*>(world.getComponent(player.index(), Transform::kType));
    ASSERT_GT(body.position.x, 52.0f);
    const AppContext& context = app->context(app->currentLevelWorld());
    for (EntityHandle e : emitters) {
        const ParticleEmitterRecord* record = context.particles->emitter(e.index());
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(record->visible) << world.getEntityName(e);
        EXPECT_GT(record->pool.count, 0u) << world.getEntityName(e);
    }
    const Frame shown = readWindow();
    save(shown, "hazards-particles.png");

    // A frame a tenth of a microsecond on: nothing moves, and nothing of the
    // picture changes but what the hidden emitters drew.
    m_frameTicks = 1;
    for (EntityHandle e : emitters)
        context.render->setRenderEnabledRecursive(e, world, false);
    frame();
    const Frame hidden = readWindow();
    frame();
    const Frame again = readWindow();
    const u64 particles = changedPixels(shown, hidden);
    EXPECT_GT(particles, 300u);
    EXPECT_LT(changedPixels(hidden, again) * 20, particles);
}

class HudDrawingTest : public HazardDrawingTest {};

// The HUD over the hazards level (whose level list names the HUD font): the
// level's fade-in, then a half-transparent red panel and a text from the HUD
// font's atlas, placed on the virtual 1920 x 1080 screen, land where the
// letterboxed frame puts them.
TEST_F(HudDrawingTest, TheHudDrawsItsPanelAndAtlasTextOverTheFrame)
{
    startLevel();
    ASSERT_TRUE(app->overlay().pass()->drawer().hasFontAtlas());
    // The level fades in from black: dark at first (the two frames after a
    // level start present nothing), clear a second later.
    m_frameTicks = 100'000; // 10 ms a frame
    for (i32 i = 0; i < 3; ++i)
        frame();
    const ViewportRect middle = computeOutputViewport();
    const i32 cx = middle.x + middle.width / 2, cy = middle.y + middle.height * 3 / 4;
    EXPECT_LT(luma(readWindow().mean(cx, cy)), 40.0f);
    for (i32 i = 0; i < 100; ++i)
        frame();
    EXPECT_GT(luma(readWindow().mean(cx, cy)), 100.0f);
    const f32 red[4] = { 1.0f, 0.0f, 0.0f, 0.8f };
    for (i32 i = 0; i < 3; ++i) {
        app->overlay().addRectangle({ 100, 100, 500, 300 }, app->overlay().whiteTexture(), red);
        app->overlay().addAtlasText("HUD 42", 1500, 900, 96, 2 | 16);
        frame();
    }
    const Frame frame = readWindow();
    save(frame, "hud-overlay.png");
    const ViewportRect view = computeOutputViewport();
    // Virtual (x, y), y down, to a window pixel, bottom row 0.
    const auto at = [&view](f32 x, f32 y) {
        return std::pair<i32, i32> { view.x + static_cast<i32>(x / 1920.0f * static_cast<f32>(view.width)),
            view.y + static_cast<i32>((1.0f - y / 1080.0f) * static_cast<f32>(view.height)) };
    };
    const std::array<f32, 3> panel = frame.mean(at(300, 200));
    EXPECT_GT(panel[0], 190.0f);
    EXPECT_LT(panel[1], 70.0f);
    EXPECT_LT(panel[2], 70.0f);
    for (const auto& outside : { at(80, 200), at(520, 200), at(300, 80), at(300, 320) }) {
        const std::array<f32, 3> c = frame.mean(outside);
        EXPECT_LT(c[0] - c[2], 60.0f) << outside.first << ", " << outside.second; // not the panel's red
    }
    // White glyph pixels in the text's box over the sky, none in a box as
    // large beside it.
    const auto whiteIn = [&frame, &at](f32 left, f32 top, f32 right, f32 bottom) {
        const auto [x0, y1] = at(left, top);
        const auto [x1, y0] = at(right, bottom);
        u64 white = 0;
        for (i32 y = y0; y <= y1; ++y)
            for (i32 x = x0; x <= x1; ++x) {
                const u8* p = frame.at(x, y);
                white += p[0] > 200 && p[1] > 200 && p[2] > 200;
            }
        return white;
    };
    EXPECT_GT(whiteIn(1300, 850, 1700, 950), 150u);
    EXPECT_EQ(whiteIn(1300, 700, 1700, 800), 0u);
}

// The HUD level in the second language, played from the keyboard and then from
// a controller: the level's shards fly into the counter, the greeting shows as
// a subtitle, and the sign's prompt names the key, then shows the button.
class HudLevelTest : public RenderEndToEndTest {
protected:
    void build() override
    {
        Settings::Game.language = "fr";
        const fs::path root = fs::path(QUERN_TEST_BINARY_DIR) / "render-hud";
        std::string error;
        ASSERT_TRUE(testing::buildDemoLevelContent(content, root, QUERN_CONTENT_DIR, "hud", error)) << error;
    }
    // Virtual (x, y), y down, to a window pixel, bottom row 0.
    std::pair<i32, i32> virtualPoint(f32 x, f32 y) const
    {
        const ViewportRect view = computeOutputViewport();
        return { view.x + static_cast<i32>(x / 1920.0f * static_cast<f32>(view.width)),
            view.y + static_cast<i32>((1.0f - y / 1080.0f) * static_cast<f32>(view.height)) };
    }
    // Pixels brighter than `level` in every channel inside a virtual box.
    static u64 brightIn(const Frame& frame, std::pair<i32, i32> topLeft, std::pair<i32, i32> bottomRight, u8 level)
    {
        u64 count = 0;
        for (i32 y = bottomRight.second; y <= topLeft.second; ++y)
            for (i32 x = topLeft.first; x <= bottomRight.first; ++x) {
                const u8* p = frame.at(x, y);
                count += p[0] > level && p[1] > level && p[2] > level;
            }
        return count;
    }
    // The textures the sign's label draws with, one sub-mesh each.
    u64 signPages(EntityHandle sign)
    {
        const quern::visuals::Visual* visual
            = app->context(app->currentLevelWorld()).render->visual(sign.index());
        return visual ? visual->subMeshCount() : 0;
    }
};

TEST_F(HudLevelTest, ShardsFillTheCounterTheSubtitleShowsAndTheSignFollowsTheDevice)
{
    startLevel();
    const i32 level = app->currentLevelWorld();
    quern::entity::World& world = app->worldSwapper().getWorld(static_cast<u64>(level));
    AppContext& context = app->context(level);
    ASSERT_NE(context.collectible, nullptr);
    ASSERT_EQ(context.collectible->collectiblesInWorld(), 6u);
    const EntityHandle player = testing::entityNamed(world, "player");
    const EntityHandle sign = testing::entityNamed(world, "suitSign");
    m_frameTicks = 100'000; // 10 ms a frame
    for (i32 i = 0; i < 100; ++i)
        frame();
    // Before the greeting's trigger: no subtitle over the bottom of the frame.
    const auto subtitleTop = virtualPoint(560, 870), subtitleBottom = virtualPoint(1360, 930);
    const u64 before = brightIn(readWindow(), subtitleTop, subtitleBottom, 225);
    // Until a device reports in, the prompt shows the controller's glyph: a
    // second page beside the font's.
    EXPECT_EQ(signPages(sign), 2u);

    testing::pushKey(SDL_SCANCODE_D, true);
    const Transform* body = static_cast<const Transform*>(world.getComponent(player.index(), Transform::kType));
    for (i32 i = 0; i < 1500 && body->position.x < 26.0f; ++i)
        frame();
    testing::pushKey(SDL_SCANCODE_D, false);
    for (i32 i = 0; i < 100; ++i)
        frame();
    ASSERT_GT(body->position.x, 25.0f);
    EXPECT_EQ(context.collectible->collectedCount(), 6);
    ASSERT_EQ(context.collectible->iconCount(), 6u);
    for (u64 i = 0; i < 6; ++i)
        EXPECT_EQ(context.collectible->icon(i).state, CollectibleIconState::InCounter) << "icon " << i;

    // The keyboard has no glyphs: the prompt is the key's name, on the font's
    // own page.
    EXPECT_EQ(signPages(sign), 1u);
    const Frame keyboard = readWindow();
    save(keyboard, "hud-level-keyboard.png");
    // The greeting in French, white over the level.
    EXPECT_LT(before, 20u);
    EXPECT_GT(brightIn(keyboard, subtitleTop, subtitleBottom, 225), before + 100);
    // Six counter sprites along the top left, each in its slot.
    const f32 w = context.collectible->iconWidth(), h = context.collectible->iconHeight();
    for (i32 i = 0; i < 6; ++i) {
        f32 slot[2];
        context.collectible->slotPosition(static_cast<u64>(i), slot);
        EXPECT_EQ(slot[0], w / 2 + 20 + w * static_cast<f32>(i));
        const std::array<f32, 3> c = keyboard.mean(virtualPoint(slot[0], slot[1]), 1);
        EXPECT_GT(c[2], 200.0f) << "slot " << i; // the gem's cyan
        EXPECT_LT(c[0], 90.0f) << "slot " << i;
        EXPECT_EQ(slot[1], h / 2 + 20);
    }
    // Nothing in the seventh slot.
    EXPECT_GT(keyboard.mean(virtualPoint(w / 2 + 20 + 6 * w, h / 2 + 20), 1)[0], 100.0f);

    // A controller's button: prompts switch to its glyphs.
    const int index = testing::attachVirtualPad();
    ASSERT_GE(index, 0);
    // The back end opens the pad when its arrival comes through a frame.
    SDL_Joystick* pad = nullptr;
    for (i32 i = 0; i < 100 && !pad; ++i) {
        frame();
        pad = testing::openedVirtualPad(index);
    }
    ASSERT_NE(pad, nullptr);
    const auto setButton = testing::sdlSymbol<int (*)(SDL_Joystick*, int, Uint8)>("SDL_JoystickSetVirtualButton");
    setButton(pad, SDL_CONTROLLER_BUTTON_X, 1);
    for (i32 i = 0; i < 5; ++i)
        frame();
    setButton(pad, SDL_CONTROLLER_BUTTON_X, 0);
    for (i32 i = 0; i < 100 && signPages(sign) != 2; ++i)
        frame();
    for (i32 i = 0; i < 10; ++i)
        frame();
    EXPECT_EQ(signPages(sign), 2u);
    const Frame controller = readWindow();
    save(controller, "hud-level-controller.png");
    // The glyph's deep blue sits in the middle of the sign, where the key's
    // name was.
    const auto deepBlue = [&](const Frame& frame) {
        const auto [x, y] = project(*context.render, { 21.0f, 3.6f, 1.0f }, computeOutputViewport());
        u64 count = 0;
        for (i32 j = y - 12; j <= y + 12; ++j)
            for (i32 i = x - 60; i <= x + 60; ++i) {
                const u8* p = frame.at(i, j);
                count += p[2] > 150 && p[0] < 90 && p[1] < 120;
            }
        return count;
    };
    EXPECT_EQ(deepBlue(keyboard), 0u);
    EXPECT_GT(deepBlue(controller), 10u);
    testing::sdlSymbol<int (*)(int)>("SDL_JoystickDetachVirtual")(index);
}

} // namespace
} // namespace harmonize
