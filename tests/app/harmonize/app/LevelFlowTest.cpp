// Levels through the App: the first load and the switch, the next-level
// rules at the edges of the list, the front end's level, the overlay font,
// and the soak test, on content the content tool builds for each test.

#include "harmonize/app/App.h"

#include "harmonize/Settings.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/entity/System.h"
#include "quern/graphics/NullShaderProgramHandler.h"
#include "quern/graphics/serialization/FontSerialization.h"
#include "quern/graphics/serialization/MaterialSerialization.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/io/FilePath.h"
#include "quern/platform/Clock.h"
#include "quern/platform/FloatingPointTraps.h"
#include "quern/strings/Hashes.h"
#include "runtime/quern/graphics/DDSTestFiles.h"
#include "support/BuiltContent.h"
#include "support/LogCapture.h"
#include "support/TextOrder.h"

#include "support/harmonize/SmallWindowSettings.h"
#include "support/harmonize/TemporaryUserFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <fstream>

namespace harmonize {
namespace {

namespace fs = std::filesystem;
using quern::assets::ResourceType::Texture;

u64 idOf(const std::string& name) { return quern::strings::murmurHash64A(name.data(), name.size(), 0); }

constexpr const char* kLevelSource = "entity player\nTransform.position 0 1 0\n";

// What the level list of a test game holds besides its levels.
struct GameShape {
    i32 levels = 3;
    i32 title = -1; // world-entry index of the title level, -1: none
    i32 menu = -1;
    i32 final = -1;
    i32 start = -1;
    bool startTexture = false; // the start record names "start.dds" (and leaves the other nine slots 0)
    bool overlayFont = false; // the global record names a font at 36
};

class LevelFlowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::useSmallDummyWindow();
        Settings::Threading.enabled = false;
        registry.create<quern::graphics::PixelBufferHandler>();
        registry.create<quern::graphics::MaterialHandler>();
        registry.create<quern::graphics::FontHandler>();
        registry.create<quern::graphics::NullShaderProgramHandler>();
        quern::assets::AssetHandlerRegistry::setInstance(&registry);
    }
    void TearDown() override
    {
        // A test-mode frame leaves the floating-point traps on, as the game
        // runs with them; the tests after this one in the process do not.
        quern::platform::maskFloatingPointTraps();
        quern::assets::AssetHandlerRegistry::setInstance(nullptr);
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
    }

    void write(const std::string& name, const std::string& text)
    {
        fs::create_directories((source() / name).parent_path());
        std::ofstream(source() / name, std::ios::binary) << text;
    }
    fs::path source() const { return root / "source"; }

    testing::TemporaryUserFolder userFolder;

    // Levels "levels/l<i>", each with a texture and a material; the level list
    // last in the world script.
    void build(const GameShape& shape)
    {
        root = fs::path(QUERN_TEST_BINARY_DIR)
            / ("flow-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        std::string manifest;
        std::string script;
        std::string list;
        const std::vector<quern::u8> dds = quern::graphics::testing::makeDDS(quern::graphics::testing::rgba32Spec(2, 2), 16);
        for (i32 i = 0; i < shape.levels; ++i) {
            const std::string n = std::to_string(i);
            write("textures/t" + n + ".dds", std::string(dds.begin(), dds.end()));
            write("materials/m" + n, "texture albedo textures/t" + n + ".dds\n");
            write("levels/l" + n, "world l" + n + "\n" + kLevelSource);
            manifest += "textures/t" + n + ".dds texture\nmaterials/m" + n + " material textures/t" + n + ".dds\n";
            manifest += "levels/l" + n + " level materials/m" + n + "\n";
            script += "levels/l" + n + "\n";
            list += "world " + n + " 0\n";
        }
        for (i32 i = 0; i < shape.levels; ++i)
            if (i != shape.title && i != shape.menu && i != shape.start)
                list += "level " + std::to_string(i) + " id " + std::to_string(100 + i) + " chapter 1 name Level "
                    + std::to_string(i) + "\n";
        if (shape.title >= 0)
            list += "title " + std::to_string(shape.title) + "\n";
        if (shape.menu >= 0)
            list += "menu " + std::to_string(shape.menu) + "\n";
        if (shape.final >= 0)
            list += "final " + std::to_string(shape.final) + "\n";
        if (shape.start >= 0)
            list += "start " + std::to_string(shape.start) + (shape.startTexture ? " texture start.dds" : "") + "\n";
        if (shape.startTexture) {
            write("start.dds", std::string(dds.begin(), dds.end()));
            manifest += "start.dds texture\n";
        }
        if (shape.overlayFont) {
            write("fonts/overlay", "file /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf\nsize 12\n");
            manifest += "fonts/overlay font\n";
            list += "global 36 fonts/overlay\n";
        }
        write("levels/list", list);
        manifest += "levels/list levellist\n";
        script += "levels/list\n";
        quern::strings::String scriptPath;
        ASSERT_TRUE(quern::io::exportScenesListPath("game", scriptPath));
        write(scriptPath.c_str(), script);
        manifest += std::string(scriptPath.c_str()) + " worldscript\n";
        std::ofstream(root / "manifest.txt") << manifest;

        std::string error;
        ASSERT_TRUE(content.build(root / "manifest.txt", source(), root / "out", error, "game")) << error;
    }

    std::unique_ptr<App> start()
    {
        auto app = std::make_unique<App>(&content.database, content.depot.get(), AppServices {});
        app->init();
        return app;
    }

    // Frames and drains, as the main loop runs them, until the App has no load
    // running and nothing left to handle. A threaded load finishes in its own
    // time: the frames are paced as the frame-rate cap paces them, for at most
    // half a minute.
    void settle(App& app)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            m_time += 166'666;
            app.runFrame(m_time);
            app.drainAppEvents();
            if (app.appState() != kAppLoading && app.appEventQueue().isEmpty())
                return;
            if (app.taskDispatcher().threaded())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ADD_FAILURE() << "the App did not settle";
    }

    // The levels named by the "Loading level" lines, in order.
    static std::vector<std::string> loadedLevels(const std::string& text)
    {
        std::vector<std::string> names;
        const std::string marker = "Loading level ";
        for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
            const size_t end = text.find('\n', at);
            names.push_back(text.substr(at + marker.size(), end - at - marker.size()));
        }
        return names;
    }

    quern::assets::AssetHandlerRegistry registry;
    fs::path root;
    quern::testing::BuiltContent content;
    i64 m_time = 0;
};

TEST_F(LevelFlowTest, TheFirstLevelLoadsAndBecomesCurrent)
{
    build({});
    quern::testing::LogCapture log(3);
    auto app = start();
    settle(*app);
    EXPECT_EQ(app->currentLevelIndex(), 0);
    // The offline platform logs the player in on the first frame.
    EXPECT_TRUE(app->loggedIn());
    EXPECT_EQ(app->appState(), kAppRunningLoggedIn);
    const i32 world = app->currentLevelWorld();
    EXPECT_TRUE(app->worldSwapper().getWorld(static_cast<u64>(world)).started);
    EXPECT_FALSE(app->worldSwapper().getWorld(static_cast<u64>(1 - world)).hasComponentStore());
    EXPECT_EQ(app->context(world).levelIndex, 0);
    quern::testing::expectInOrder(log.text(),
        { "Loading level levels/l0", "resources in cache", "Loading started", "Loading complete",
            "Loading complete - memory footprint " });
    // The two frames after a switch present nothing.
    EXPECT_EQ(app->skipPresentCount(), 2);
    app->runFrame(m_time += 166'666);
    app->runFrame(m_time += 166'666);
    EXPECT_EQ(app->skipPresentCount(), 0);
    const u32 texture = app->loadingWorker().acquirePreloadedResource(idOf("textures/t0.dds"), Texture);
    EXPECT_NE(texture, 0u);
    app->loadingWorker().cache().release(texture);
    app->shutdown();
}

TEST_F(LevelFlowTest, NextLevelWalksTheRecordsAndReleasesWhatTheLastOneUsed)
{
    build({});
    auto app = start();
    settle(*app);
    for (i32 expected : { 1, 2 }) {
        app->appEventQueue().postLoadLevel({ -1, -1, 1, {} });
        settle(*app);
        EXPECT_EQ(app->currentLevelIndex(), expected);
    }
    // Level 1's texture went with level 1.
    quern::assets::DefaultResourceCache& cache = app->loadingWorker().cache();
    EXPECT_EQ(cache.find(quern::assets::resourceKey(idOf("textures/t1.dds"), Texture)), nullptr);
    EXPECT_NE(cache.find(quern::assets::resourceKey(idOf("textures/t2.dds"), Texture)), nullptr);
    app->shutdown();
}

TEST_F(LevelFlowTest, PastTheFinalLevelComesTheTitleOrNothing)
{
    struct Case {
        i32 title;
        i32 expected;
        bool warned;
    } cases[] = { { 0, 0, false }, { -1, 2, true } };
    for (const Case& c : cases) {
        GameShape shape;
        shape.title = c.title;
        shape.final = 2;
        build(shape);
        quern::testing::LogCapture log(2);
        auto app = start();
        settle(*app);
        ASSERT_EQ(app->currentLevelIndex(), 0);
        app->appEventQueue().postLoadLevel({ 2, -1, 1, {} });
        settle(*app);
        ASSERT_EQ(app->currentLevelIndex(), 2);
        app->appEventQueue().postLoadLevel({ -1, -1, 1, {} });
        settle(*app);
        EXPECT_EQ(app->currentLevelIndex(), c.expected) << c.title;
        EXPECT_EQ(log.contains("No level follows level 2 and there is no title level"), c.warned) << c.title;
        EXPECT_NE(app->appState(), kAppLoading);
        app->shutdown();
    }
}

TEST_F(LevelFlowTest, AReloadInAOneLevelGameSwitchesToTheFreshCopy)
{
    GameShape shape;
    shape.levels = 1;
    build(shape);
    auto app = start();
    settle(*app);
    const i32 before = app->currentLevelWorld();
    app->appEventQueue().post(AppEventType::LevelReload);
    settle(*app);
    EXPECT_EQ(app->currentLevelWorld(), 1 - before);
    EXPECT_EQ(app->currentLevelIndex(), 0);
    EXPECT_FALSE(app->worldSwapper().getWorld(static_cast<u64>(before)).hasComponentStore());
    app->shutdown();
}

TEST_F(LevelFlowTest, ARequestOutsideTheWorldScriptIsDropped)
{
    build({});
    auto app = start();
    settle(*app);
    quern::testing::LogCapture log(2);
    // 3 is the level list itself: never a level.
    app->appEventQueue().postLoadLevel({ 3, -1, 1, {} });
    settle(*app);
    EXPECT_EQ(app->currentLevelIndex(), 0);
    EXPECT_TRUE(log.contains("Level 3 is not one of the 3 levels of the world script"));
    EXPECT_FALSE(log.contains("Loading level"));
    app->shutdown();
}

TEST_F(LevelFlowTest, TheMenuLevelLoadsIntoTheFrontEndAndStaysWhileLevelsChange)
{
    GameShape shape;
    shape.levels = 4;
    shape.menu = 3;
    shape.title = 0;
    build(shape);
    auto app = start();
    settle(*app);
    EXPECT_EQ(app->currentLevelIndex(), 0);
    EXPECT_TRUE(app->frontEndHasLevel());
    EXPECT_EQ(app->context(App::kFrontEndWorld).levelIndex, 3);
    // The switch to the title level asked for the menu, which showed once the front end was loaded.
    EXPECT_TRUE(app->menuShown());
    // The front end's texture outlives level changes.
    for (i32 level : { 1, 2 }) {
        app->appEventQueue().postLoadLevel({ level, -1, 1, {} });
        settle(*app);
    }
    EXPECT_NE(app->loadingWorker().cache().find(quern::assets::resourceKey(idOf("textures/t3.dds"), Texture)), nullptr);
    app->shutdown();
}

TEST_F(LevelFlowTest, TheStartRecordsTexturesAndTheOverlayFontArePreloaded)
{
    struct Case {
        bool startTexture;
        bool font;
    } cases[] = { { true, true }, { false, false } };
    for (const Case& c : cases) {
        GameShape shape;
        shape.start = 1;
        shape.startTexture = c.startTexture;
        shape.overlayFont = c.font;
        build(shape);
        auto app = start();
        EXPECT_EQ(app->overlayFont() != 0, c.font);
        settle(*app);
        EXPECT_EQ(app->currentLevelIndex(), 1);
        quern::assets::DefaultResourceCache& cache = app->loadingWorker().cache();
        EXPECT_EQ(cache.find(quern::assets::resourceKey(idOf("start.dds"), Texture)) != nullptr, c.startTexture);
        // The nine empty slots preload nothing: id 0's key would be the type id itself.
        EXPECT_EQ(cache.find(quern::assets::resourceKey(0, Texture)), nullptr);
        app->shutdown();
    }
}

TEST_F(LevelFlowTest, ThreadedLoadsFinishThroughTheFramesPump)
{
    build({});
    Settings::Threading.enabled = true;
    Settings::Threading.workers = 3;
    auto app = start();
    settle(*app);
    EXPECT_EQ(app->currentLevelIndex(), 0);
    app->appEventQueue().postLoadLevel({ -1, -1, 1, {} });
    settle(*app);
    EXPECT_EQ(app->currentLevelIndex(), 1);
    app->shutdown();
}

TEST_F(LevelFlowTest, ShutdownDuringAThreadedLoadPostsNothingAndEnds)
{
    build({});
    Settings::Threading.enabled = true;
    Settings::Threading.workers = 2;
    auto app = start();
    app->drainAppEvents(); // the first load starts; no frame pumps its main-thread stages
    app->shutdown();
    EXPECT_EQ(app->loadingWorker().progress(), 100);
}

TEST_F(LevelFlowTest, LevelWorldsGetTheSystemsOfTheTableInOrder)
{
    build({});
    for (bool test : { false, true }) {
        Settings::Test.test = test;
        auto app = start();
        std::vector<std::string> names;
        quern::entity::World& world = app->worldSwapper().getWorld(0);
        for (u64 i = 0; i < world.getSystemCount(); ++i) {
            quern::entity::SystemInfo info;
            world.getSystem(i)->describe(&info);
            names.push_back(info.name ? info.name : "");
        }
        // The hierarchy, gizmo line, fader, bubble and subtitle systems keep the default description.
        EXPECT_EQ(static_cast<quern::entity::System*>(app->context(0).transformHierarchy), world.getSystem(0));
        EXPECT_EQ(static_cast<quern::entity::System*>(app->context(0).gizmoLines), world.getSystem(2));
        std::vector<std::string> expected { "DefaultSystem", "DefaultSystem", "DefaultSystem", "SoundSystem",
            "InputSystem", "InputRecordingSystem", "AnimationSystem", "CollisionSystem", "MovingPlatformSystem",
            "FuzzyCollisionSystem", "CoroutineSystem", "MovementSystem", "GameCameraSystem", "DefaultSystem",
            "WaterFlowSystem", "LightingSystem", "PlatformSystem", "DefaultSystem", "SaveGameSystem", "DefaultSystem",
            "TimerSystem", "DefaultSystem", "DefaultSystem", "RenderSystem", "ParticleSystem", "TextRendererSystem",
            "LevelStatisticsSystem", "LineRendererSystem", "DefaultSystem", "MissileLauncherSystem" };
        if (test)
            expected.push_back("SoakTestSystem");
        EXPECT_EQ(names, expected) << test;
        EXPECT_NE(app->context(0).inputRecording, nullptr);
        EXPECT_NE(app->context(0).animation, nullptr);
        EXPECT_NE(app->context(0).collision, nullptr);
        EXPECT_NE(app->context(0).coroutine, nullptr);
        EXPECT_NE(app->context(0).movement, nullptr);
        EXPECT_NE(app->context(0).fuzzyCollision, nullptr);
        EXPECT_NE(app->context(0).gameCamera, nullptr);
        EXPECT_NE(app->context(0).bubble, nullptr);
        EXPECT_NE(app->context(0).particles, nullptr);
        EXPECT_NE(app->context(0).screenFader, nullptr);
        EXPECT_NE(app->context(0).subtitle, nullptr);
        EXPECT_NE(app->context(0).textRenderer, nullptr);
        app->shutdown();
    }
}

TEST_F(LevelFlowTest, TheSoakTestPlaysEveryLevelInOrderThenQuits)
{
    build({});
    Settings::Test.test = true;
    Settings::Test.testSecondsPerLevel = 0.5f;
    quern::testing::LogCapture log(3);
    auto app = start();
    for (i32 i = 0; i < 400 && app->appState() != kAppQuitting; ++i) {
        m_time += 166'666;
        app->runFrame(m_time);
        app->drainAppEvents();
    }
    EXPECT_EQ(app->appState(), kAppQuitting);
    EXPECT_EQ(loadedLevels(log.text()), (std::vector<std::string> { "levels/l0", "levels/l0", "levels/l1", "levels/l2" }));
    quern::testing::expectInOrder(log.text(),
        { "Level 0 out of 3 (2 remaining)", "Level 1 out of 3 (1 remaining)", "Level 2 out of 3 (0 remaining)",
            "Soak test complete" });
    app->shutdown();
}

} // namespace
} // namespace harmonize
