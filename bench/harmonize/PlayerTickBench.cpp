// One movement-system fixed tick of the demo's moves level, the player
// standing on its start block, against the collision system's fixed tick of the same world,
// in the same run. The App runs the level headless (null graphics, dummy
// window, threading off) until the player has landed; then each benchmark
// calls its system's fixed tick on the level world directly.

#include "support/RatioReporter.h"

#include "harmonize/RunGame.h"
#include "harmonize/Settings.h"
#include "harmonize/app/App.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/systems/MovementSystem.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"
#include "runtime/quern/platform/TemporaryDirectory.h"
#include "support/harmonize/DemoLevelContent.h"
#include "support/harmonize/SmallWindowSettings.h"
#include "support/harmonize/TemporaryUserFolder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace harmonize;

namespace {

struct MovesLevel {
    MovesLevel()
    {
        harmonize::testing::useSmallDummyWindow();
        Settings::Threading.enabled = false;
        setenv("ALSOFT_DRIVERS", "null", 1);
        std::string error;
        if (!harmonize::testing::buildDemoLevelContent(content, folder.path() / "game", QUERN_CONTENT_DIR, "moves", error)) {
            std::fprintf(stderr, "building the moves level failed: %s\n", error.c_str());
            std::exit(1);
        }
        createAssetHandlerRegistry();
        registerAssetHandlers(*quern::assets::AssetHandlerRegistry::instance(), "null");
        app = std::make_unique<App>(&content.database, content.depot.get(), AppServices {});
        app->init();
        // Load the level, then let the player fall onto the floor and settle.
        for (int i = 0; i < 5000 && (app->currentLevelIndex() < 0 || settled < 200); ++i) {
            time += 100'000; // one 10 ms fixed step in counter ticks
            app->runFrame(time);
            drainAppEvents();
            settled += app->currentLevelIndex() >= 0 ? 1 : 0;
        }
        if (app->currentLevelIndex() < 0) {
            std::fprintf(stderr, "the moves level did not load\n");
            std::exit(1);
        }
    }
    ~MovesLevel()
    {
        app->shutdown();
        app.reset();
        destroyAssetHandlerRegistry();
    }
    void drainAppEvents()
    {
        AppEventQueue& queue = app->appEventQueue();
        for (quern::i32 t = queue.frontStoredType(); t >= 0; t = queue.frontStoredType()) {
            if (appEventTypeOf(static_cast<quern::u16>(t)) == AppEventType::ShowMenu)
                queue.drop();
            else if (!dispatchAppEvent(static_cast<quern::u16>(t), queue, *app))
                break;
        }
    }
    quern::entity::World& world() { return app->worldSwapper().getWorld(app->currentLevelWorld()); }
    AppContext& context() { return app->context(app->currentLevelWorld()); }

    harmonize::testing::TemporaryUserFolder userFolder;
    quern::testing::TemporaryDirectory folder;
    quern::testing::BuiltContent content;
    std::unique_ptr<App> app;
    quern::i64 time = 0;
    int settled = 0;
};

MovesLevel* g_level = nullptr;

void BM_MovementFixedTick(benchmark::State& state)
{
    quern::entity::World& world = g_level->world();
    MovementSystem& movement = *g_level->context().movement;
    for (auto _ : state) {
        quern::entity::UpdateContext context = world.makeUpdateContext();
        movement.fixedTick(&context, world);
    }
}
BENCHMARK(BM_MovementFixedTick)->Unit(benchmark::kMicrosecond);

void BM_CollisionFixedTick(benchmark::State& state)
{
    quern::entity::World& world = g_level->world();
    CollisionSystem& collision = *g_level->context().collision;
    for (auto _ : state) {
        quern::entity::UpdateContext context = world.makeUpdateContext();
        collision.fixedTick(&context, world);
    }
}
BENCHMARK(BM_CollisionFixedTick)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    {
        MovesLevel level;
        g_level = &level;
        quern::bench::RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        auto& t = reporter.seconds;
        if (t.count("BM_MovementFixedTick") && t.count("BM_CollisionFixedTick"))
            std::printf("player tick / collision tick (demo moves level, threading off): %.2fx the time\n",
                t["BM_MovementFixedTick"] / t["BM_CollisionFixedTick"]);
        g_level = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
